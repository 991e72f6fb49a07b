// How long the network keeps sounding after its input stops: what hosts ask
// so that offline bounces keep the whole tail and live ones can stop early.
#include <algorithm>
#include <cmath>

#include "Engine.h"

namespace {

constexpr double kFloorDb = 100.0;  // below full scale: inaudible

// Samples until an all-pass pole of this size has fallen by kFloorDb.
double RingFrames(double coef) {
  const double c = std::fabs(coef);
  if (!(c > 1e-3)) return 0.0;
  if (c >= 1.0) return 0.0;  // a line shorter than a sample: the all-pass starts from zero and stays there
  return -kFloorDb / (20.0 * std::log10(c));
}

}  // namespace

double cFDNengine::TailFrames(const sSoundValues& v, const float (&ratio)[kNumLines], float sampleRate) {
  const double fs = std::isfinite(sampleRate) && sampleRate > 0.0f ? sampleRate : 0.0;
  const double base = std::isfinite(v.baseDelay) && v.baseDelay > 0.0f ? v.baseDelay : 0.0;
  double longest = 0.0, ring = 0.0;
  for (int i = 0; i < kNumLines; ++i) {
    const float length = LineLength(static_cast<float>(fs), static_cast<float>(base), ratio[i]);
    longest = std::max(longest, static_cast<double>(length));
    ring = std::max(ring, RingFrames(LineAllpassCoef(length)));
  }
  // Modulation lengthens a line by up to its depth, a share of the base delay.
  const double depth = std::clamp(static_cast<double>(v.modDepth) * 0.01, 0.0, 1.0);
  longest = std::min(longest + depth * std::min(fs * base, 65535.0), 65535.0);
  // The feedback inverter rings in every line; 1 - 0.02 FB inv, limited as the engine does.
  ring += RingFrames(std::clamp(1.0 - 0.02 * v.fbInv, -0.999755859375, 0.999755859375));

  const double H = v.halflife, D = v.damping;
  if (!(H > 0.0) || !(D > 0.0)) return longest + ring;  // no feedback: each line sounds once

  // The level halves every H passes at low frequencies and every H*D passes
  // at Nyquist, whichever is slower, one pass being one base delay (lines
  // are capped at 65535 samples, which shortens the pass, not the halving).
  const double passFrames = std::min(fs * base, 65535.0);
  const double halving = H * std::max(1.0, D) * passFrames;
  // The first pass leaves at wet x make-up / decay of line 0, up to +81 dB.
  const double d = std::max(0.0, static_cast<double>(v.ampDrive));
  const double makeUp = ((0.0196919 * d + 0.0620783) * d + 1.0) / ((0.00071253 * d + 0.0694112) * d + 1.0);
  const double firstPass = std::max(1.0, 2.0 * std::fabs(v.wetMix) * 0.005 * makeUp * std::exp2(1.0 / H));
  const double halvings = (20.0 * std::log10(firstPass) + kFloorDb) / (20.0 * std::log10(2.0));
  return longest + ring + halvings * halving;
}
