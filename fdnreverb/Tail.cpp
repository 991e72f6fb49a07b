// How long the network keeps sounding after its input stops: what hosts ask
// so that offline bounces keep the whole tail and live ones can stop early.
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "Engine.h"
#include "LoopResponse.h"

namespace nimbo {

namespace {

constexpr double kFloorDb = 100.0;  // below full scale: inaudible
constexpr double kPi = 3.14159265358979323846;
constexpr int kBands = 192;  // frequencies between DC and Nyquist the bound looks at

// Samples until a pole of this size has fallen by kFloorDb; 0 for poles at 0
// or on the unit circle (a line shorter than a sample: its all-pass starts
// from zero and stays there).
double RingFrames(double pole) {
  const double p = std::fabs(pole);
  if (!(p > 1e-3) || p >= 1.0) return 0.0;
  return -kFloorDb / (20.0 * std::log10(p));
}

}  // namespace

// Each frequency decays by the line's gain per pass (decay x damping) over
// the pass's duration at that frequency (delay plus the group delays of the
// all-passes and the low-pass). The feedback matrix is a rotation, so no mix
// of lines decays slower than its slowest line: the slowest line at the
// slowest frequency bounds the whole network.
double cFDNengine::TailFrames(const sPlainValues& v, const float (&ratio)[kNumLines], float sampleRate) {
  const double fs = std::isfinite(sampleRate) && sampleRate > 0.0f ? sampleRate : 0.0;
  const double base = std::isfinite(v[kParamBaseDelay]) && v[kParamBaseDelay] > 0.0f ? v[kParamBaseDelay] : 0.0;
  const double inverter = std::clamp(1.0 - 0.02 * v[kParamFbInv], -0.999755859375, 0.999755859375);
  // Modulation lengthens a line by up to its depth, a share of the base delay.
  // (Its lift of the damping's Nyquist gain makes up for what the moving
  // interpolation takes away, so it is left out.)
  const double swing = std::clamp(static_cast<double>(v[kParamModDepth]) * 0.01, 0.0, 1.0) * std::min(fs * base, 65535.0);
  const double highpass = fs > 1.0 && base > 0.0 ? 1.0 - std::exp2(-333.0 / (1.0 + 333.0 * base) / fs) : 1.0;
  const double H = v[kParamHalflife], D = v[kParamDamping];
  const bool feedback = H > 0.0 && D > 0.0;

  double longest = 0.0, ring = RingFrames(inverter);
  double lines[kNumLines][3];  // length, all-pass coefficient, low-pass coefficient
  for (int i = 0; i < kNumLines; ++i) {
    const float length = LineLength(static_cast<float>(fs), static_cast<float>(base), ratio[i]);
    const double coef = length >= 1.0f ? LineAllpassCoef(length) : 1.0;
    longest = std::max(longest, length + swing);
    ring = std::max(ring, RingFrames(inverter) + RingFrames(coef));
    const double a = feedback ? std::exp2(static_cast<double>(ratio[i]) / H * (1.0 - 1.0 / D)) : 1.0;
    lines[i][0] = std::max(1.0, length + swing);
    lines[i][1] = coef;
    lines[i][2] = 2.0 * a / (a + 1.0);
  }
  ring += RingFrames(1.0 - highpass);
  if (!feedback) return longest + ring;  // each line sounds once

  double slowest = -INFINITY;  // the least negative log2 gain per sample
  for (int b = 0; b <= kBands; ++b) {
    const double w = kPi * b / kBands;
    for (int i = 0; i < kNumLines; ++i) {
      const double gain = std::exp2(-ratio[i] / H) * LowpassGain(lines[i][2], w) * HighpassGain(highpass, w);
      const double pass = lines[i][0] + AllpassDelay(lines[i][1], w) + AllpassDelay(inverter, w) + LowpassDelay(lines[i][2], w);
      slowest = std::max(slowest, std::log2(std::max(gain, 1e-300)) / pass);
    }
  }
  if (slowest >= 0.0) return 1e15;  // does not decay: only the limiter holds it
  // The first pass leaves at wet x make-up / decay of line 0, up to +81 dB.
  const double d = std::max(0.0, static_cast<double>(v[kParamAmpDrive]));
  const double makeUp = ((0.0196919 * d + 0.0620783) * d + 1.0) / ((0.00071253 * d + 0.0694112) * d + 1.0);
  const double firstPass = std::max(1.0, 2.0 * std::fabs(v[kParamWetMix]) * 0.005 * makeUp * std::exp2(1.0 / H));
  const double halvings = (20.0 * std::log10(firstPass) + kFloorDb) / (20.0 * std::log10(2.0));
  return longest + ring + halvings / -slowest;
}

int64_t cFDNengine::MeasureTailFrames(const sProgram& program, float sampleRate, int64_t limit) {
  std::unique_ptr<cFDNengine> engine(new (std::nothrow) cFDNengine);
  if (!engine || !engine->Open()) return -1;
  constexpr int32_t kBlock = 4096;
  constexpr float kFloor = 1e-5f;  // -100 dBFS
  // Quiet for longer than any line can hold an echo back: the response is over.
  // (Two seconds, within 2^20 frames at absurd rates, where lines are far shorter.)
  const int64_t quiet = std::max<int64_t>(std::min<int64_t>(static_cast<int64_t>(2.0f * sampleRate), int64_t{1} << 20),
                                          2 * kDelayBufferSize);
  // A modulated network rings longer at some phases of its oscillator than at
  // others (up to five times for very short lines): the longest of eight.
  const sPlainValues& v = program.values;
  const bool modulated = v[kParamModDepth] != 0.0f && v[kParamModPeriod] > 0.0f && sampleRate > 0.0f;
  const double cycle = modulated ? std::min(static_cast<double>(v[kParamModPeriod]) * sampleRate, 60.0 * sampleRate) : 0.0;
  const int phases = modulated ? 8 : 1;
  float in[kBlock] = {}, left[kBlock], right[kBlock];
  int64_t longest = 0;
  for (int phase = 0; phase < phases; ++phase) {
    engine->ResetNetwork(false);
    engine->UpdateCoefficients(program, sampleRate, true, true);
    for (auto wait = static_cast<int64_t>(cycle * phase / phases); wait > 0; wait -= kBlock)
      engine->Rest(static_cast<int32_t>(std::min<int64_t>(wait, kBlock)), false);
    int64_t last = 0;
    for (int64_t pos = 0; pos < last + quiet; pos += kBlock) {
      if (pos > limit + quiet) return -1;  // still sounding
      in[0] = pos == 0 ? 1.0f : 0.0f;
      engine->Process(in, in, left, right, kBlock, false);
      for (int32_t i = 0; i < kBlock; ++i)
        if (std::max(std::fabs(left[i]), std::fabs(right[i])) > kFloor) last = pos + i + 1;
    }
    longest = std::max(longest, last);
  }
  return longest;
}

}  // namespace nimbo
