// The decay each line's pass sets, from the engine's own coefficients: a
// pole of the loop near the unit circle at w shrinks per sample by the pass's
// gain spread over the pass's duration there (the delay plus the group delays
// of the filters in the loop).
#include "RoomModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../LoopResponse.h"

namespace nimbo::editor {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLowestHz = 20.0, kHighestHz = 20000.0;
constexpr double kEdcTargetDb = -70.0;
constexpr double kMaxEdcSeconds = 60.0, kMinEdcSeconds = 0.01;
// T60 = kT60PerRate / (natural-log amplitude change per second).
const double kT60PerRate = -3.0 * std::log(10.0);
constexpr float kInfinite = std::numeric_limits<float>::infinity();

struct sPass {
  double logGain;  // natural log of the gain's magnitude
  double samples;  // duration
};

sPass LinePass(const cFDNengine::sLoop& loop, int i, double w) {
  const double gain = static_cast<double>(loop.decayGain[i]) * LowpassGain(loop.dampCoef[i], w) *
                      HighpassGain(loop.highpassCoef, w);
  // Lines shorter than a sample still take one: the engine reads one back.
  const double whole = std::max(1.0, std::floor(static_cast<double>(loop.length[i])));
  const double samples = whole + AllpassDelay(loop.allpassCoef[i], w) + AllpassDelay(loop.invertCoef, w) +
                         LowpassDelay(loop.dampCoef[i], w) + HighpassDelay(loop.highpassCoef, w);
  return {std::log(std::max(gain, 1e-300)), std::max(1.0, samples)};
}

float T60(double logGain, double samples, double fs) {
  if (logGain >= 0.0) return kInfinite;
  return static_cast<float>(kT60PerRate * samples / (logGain * fs));
}

// Hosts answer 0 while they scan: show what a common rate would give.
double SampleRate(float fs) { return std::isfinite(fs) && fs > 1.0f && fs < 1e7f ? fs : 44100.0; }

// The live settings as the engine would read them.
void Loop(const cReverbCore& core, float sampleRate, cFDNengine::sLoop& loop) {
  sProgram program = {};
  for (int32_t id = 0; id < kNumParameters; ++id) program.values[id] = core.Plain(id);
  DeriveGeometry(program);
  cFDNengine::LoopCoefficients(program, sampleRate, loop);
}

// The mean over lines at w: total loss over total time, as a signal the
// unitary matrix spreads evenly takes each line equally often.
float MeanT60(const cFDNengine::sLoop& loop, double w, double fs) {
  if (!loop.feedback) return 0.0f;
  double logGain = 0.0, samples = 0.0;
  for (int i = 0; i < kNumLines; ++i) {
    const sPass pass = LinePass(loop, i, w);
    logGain += pass.logGain;
    samples += pass.samples;
  }
  return T60(logGain, samples, fs);
}

const float (&Frequencies())[sRoomResponse::kPoints] {
  static const auto table = [] {
    struct {
      float f[sRoomResponse::kPoints];
    } t;
    for (int j = 0; j < sRoomResponse::kPoints; ++j)
      t.f[j] = static_cast<float>(kLowestHz * std::pow(kHighestHz / kLowestHz, j / (sRoomResponse::kPoints - 1.0)));
    return t;
  }();
  return table.f;
}

// Energy decay rate per second of each point (6 ln 10 / T60) and its weight:
// the Schroeder integral of an impulse's flat spectrum, energy per point as
// its bandwidth (proportional to the frequency on a log grid).
struct sEdcTerms {
  double rate[sRoomResponse::kPoints];
  double weight[sRoomResponse::kPoints];
  int count;
  double Db(double t) const {
    double sum = 0.0, start = 0.0;
    for (int j = 0; j < count; ++j) {
      start += weight[j];
      sum += weight[j] * std::exp(-rate[j] * t);
    }
    return 10.0 * std::log10(std::max(sum / start, 1e-300));
  }
};

void DecayingEdc(sRoomResponse& out) {
  sEdcTerms terms;
  terms.count = out.points;
  double slowest = 0.0;
  for (int j = 0; j < out.points; ++j) {
    const double t60 = std::min(static_cast<double>(out.meanT60[j]), 1e6);
    const double rate = -2.0 * kT60PerRate / std::max(t60, 1e-9);
    terms.rate[j] = rate;
    // Integrated energy of an exponential is its start over its rate.
    terms.weight[j] = out.frequency[j] / rate;
    slowest = std::max(slowest, t60);
  }
  // The curve lies below the slowest point's decay, so -70 dB comes by then.
  double lo = 0.0, hi = std::min(kMaxEdcSeconds, slowest * kEdcTargetDb / -60.0);
  if (terms.Db(hi) <= kEdcTargetDb) {
    for (int k = 0; k < 24; ++k) {
      const double mid = 0.5 * (lo + hi);
      (terms.Db(mid) > kEdcTargetDb ? lo : hi) = mid;
    }
  }
  out.edcSeconds = static_cast<float>(std::max(hi, kMinEdcSeconds));
  const double step = out.edcSeconds / (sRoomResponse::kEdcPoints - 1.0);
  // Each term falls by a constant factor per step.
  double term[sRoomResponse::kPoints], factor[sRoomResponse::kPoints], start = 0.0;
  for (int j = 0; j < terms.count; ++j) {
    term[j] = terms.weight[j];
    factor[j] = std::exp(-terms.rate[j] * step);
    start += term[j];
  }
  for (int n = 0; n < sRoomResponse::kEdcPoints; ++n) {
    double sum = 0.0;
    for (int j = 0; j < terms.count; ++j) {
      sum += term[j];
      term[j] *= factor[j];
    }
    const double db = start > 0.0 ? 10.0 * std::log10(std::max(sum / start, 1e-300)) : 0.0;
    out.edcDb[n] = static_cast<float>(std::max(db, static_cast<double>(sRoomResponse::kEdcFloorDb)));
  }
}

// Without feedback each line sounds once: the energy left is the share of
// echoes still to come.
void SinglePassEdc(const cFDNengine::sLoop& loop, double fs, sRoomResponse& out) {
  double longest = 0.0;
  for (float length : loop.length) longest = std::max(longest, static_cast<double>(length) / fs);
  out.edcSeconds = static_cast<float>(std::max(1.25 * longest, kMinEdcSeconds));
  for (int n = 0; n < sRoomResponse::kEdcPoints; ++n) {
    const double t = out.edcSeconds * n / (sRoomResponse::kEdcPoints - 1.0);
    int left = 0;
    for (float length : loop.length) left += static_cast<double>(length) / fs >= t ? 1 : 0;
    out.edcDb[n] = left ? static_cast<float>(10.0 * std::log10(left / static_cast<double>(kNumLines)))
                        : sRoomResponse::kEdcFloorDb;
  }
}

}  // namespace

void ComputeRoom(const cReverbCore& core, float sampleRate, sRoomResponse& out) {
  const double fs = SampleRate(sampleRate);
  cFDNengine::sLoop loop;
  Loop(core, static_cast<float>(fs), loop);
  const float(&frequency)[sRoomResponse::kPoints] = Frequencies();
  for (int i = 0; i < kNumLines; ++i) out.lineSeconds[i] = static_cast<float>(loop.length[i] / fs);

  out.points = 0;
  for (int j = 0; j < sRoomResponse::kPoints; ++j) {
    out.frequency[j] = frequency[j];
    if (frequency[j] >= 0.5 * fs) {
      // Beyond Nyquist: the last point below it, repeated.
      for (int i = 0; i < kNumLines; ++i) out.t60[i][j] = j ? out.t60[i][j - 1] : 0.0f;
      out.meanT60[j] = j ? out.meanT60[j - 1] : 0.0f;
      continue;
    }
    out.points = j + 1;
    const double w = 2.0 * kPi * frequency[j] / fs;
    double logGain = 0.0, samples = 0.0;
    for (int i = 0; i < kNumLines; ++i) {
      const sPass pass = LinePass(loop, i, w);
      out.t60[i][j] = loop.feedback ? T60(pass.logGain, pass.samples, fs) : 0.0f;
      logGain += pass.logGain;
      samples += pass.samples;
    }
    out.meanT60[j] = loop.feedback ? T60(logGain, samples, fs) : 0.0f;
  }

  if (loop.feedback)
    DecayingEdc(out);
  else
    SinglePassEdc(loop, fs, out);

  // "Hold" stops every loss; the time axis stays where the decay had it.
  out.frozen = core.Hold();
  if (out.frozen) {
    for (int j = 0; j < sRoomResponse::kPoints; ++j) {
      for (int i = 0; i < kNumLines; ++i) out.t60[i][j] = kInfinite;
      out.meanT60[j] = kInfinite;
    }
    for (float& db : out.edcDb) db = 0.0f;
  }
}

float PredictT60(const cReverbCore& core, float sampleRate, float frequency) {
  if (core.Hold()) return kInfinite;
  const double fs = SampleRate(sampleRate);
  cFDNengine::sLoop loop;
  Loop(core, static_cast<float>(fs), loop);
  const double w = 2.0 * kPi * std::clamp(static_cast<double>(frequency), 0.0, 0.5 * fs) / fs;
  return MeanT60(loop, w, fs);
}

}  // namespace nimbo::editor
