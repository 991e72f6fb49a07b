#include "EnergyDecay.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace nimboanalysis {

namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
constexpr size_t kNowhere = static_cast<size_t>(-1);
constexpr size_t kMinRegressionPoints = 4;
constexpr double kCoverageMarginDb = 10.0;  // a range must end this far above the curve's trusted end
constexpr double kDecayOverDb = 60.0;       // below this the reverberation is over
constexpr double kResolutionDb = 150.0;     // the lowest noise, re the loudest 10 ms

double Db(double energy) { return energy > 0.0 ? 10.0 * std::log10(energy) : kMinusInfinity; }

double Mean(std::span<const double> e, size_t from, size_t to) {
  double sum = 0.0;
  for (size_t i = from; i < to; ++i) sum += e[i];
  return to > from ? sum / static_cast<double>(to - from) : 0.0;
}

// Mean energy of consecutive blocks in dB, each raised to the loudest block
// after it: gaps between sparse echoes would otherwise drag every line fitted
// through them down. A last block shorter than half is dropped.
struct sEnvelope {
  std::vector<double> db;
  double blockSeconds;
  double Time(size_t k) const { return (static_cast<double>(k) + 0.5) * blockSeconds; }
};

sEnvelope Envelope(std::span<const double> e, size_t block, double sampleRate) {
  sEnvelope env{{}, static_cast<double>(block) / sampleRate};
  for (size_t from = 0; from < e.size(); from += block) {
    const size_t to = std::min(e.size(), from + block);
    if (to - from < (block + 1) / 2) break;
    env.db.push_back(Db(Mean(e, from, to)));
  }
  for (size_t k = env.db.size(); k-- > 1;) env.db[k - 1] = std::max(env.db[k - 1], env.db[k]);
  return env;
}

// The last block above `level` from `from` on: where the decay passes it
// for good, whatever gaps or early echoes come before.
size_t LastAbove(const sEnvelope& env, size_t from, double level) {
  for (size_t k = env.db.size(); k-- > from;) {
    if (env.db[k] > level) return k;
  }
  return kNowhere;
}

struct sLine {
  double slope = 0.0;      // dB per second
  double intercept = 0.0;  // dB at time 0
  bool bFalls = false;
};

template <typename Point>
sLine FitLine(size_t from, size_t to, Point point) {
  // Times from the first point on, so long fits keep their precision.
  const double origin = from < to ? point(from).first : 0.0;
  double n = 0.0, sumT = 0.0, sumD = 0.0, sumTT = 0.0, sumTD = 0.0;
  for (size_t i = from; i < to; ++i) {
    const auto [time, d] = point(i);
    if (!std::isfinite(d)) continue;
    const double t = time - origin;
    n += 1.0;
    sumT += t;
    sumD += d;
    sumTT += t * t;
    sumTD += t * d;
  }
  sLine line;
  const double denominator = n * sumTT - sumT * sumT;
  if (n < 2.0 || !(denominator > 0.0)) return line;
  line.slope = (n * sumTD - sumT * sumD) / denominator;
  line.intercept = (sumD - line.slope * sumT) / n - line.slope * origin;
  line.bFalls = line.slope < 0.0;
  return line;
}

sLine FitEnvelope(const sEnvelope& env, size_t from, size_t to) {
  return FitLine(from, to, [&](size_t k) { return std::pair{env.Time(k), env.db[k]}; });
}

}  // namespace

sNoiseCut FindNoiseCut(std::span<const double> energy, double sampleRate) {
  sNoiseCut cut;
  const size_t n = energy.size();
  if (n == 0) return cut;
  const size_t tailStart = n - std::max<size_t>(1, n / 10);

  // First guess: 10 ms blocks, a line from the peak down to 10 dB above the noise.
  const sEnvelope coarse = Envelope(energy, std::max<size_t>(1, std::lround(0.01 * sampleRate)), sampleRate);
  if (coarse.db.empty() || !std::isfinite(coarse.db[0])) return cut;
  const double peakDb = coarse.db[0];  // the envelope never rises
  // Below this, single-precision audio holds nothing but rounding: the noise
  // is never taken to be lower.
  const double floor = std::pow(10.0, (peakDb - kResolutionDb) / 10.0);
  double noise = std::max(Mean(energy, tailStart, n), floor);
  double noiseDb = Db(noise);
  cut.noiseDb = noiseDb - peakDb;
  cut.noiseEnergy = noise;
  if (peakDb < noiseDb + 10.0) return cut;
  const size_t nearNoise = LastAbove(coarse, 0, noiseDb + 10.0);
  if (nearNoise == 0) {
    // Down in the noise within one block: over too soon for a slope, nothing to add.
    cut.bDecays = true;
    cut.end = std::min(n, static_cast<size_t>(std::lround(coarse.blockSeconds * sampleRate)));
    return cut;
  }
  sLine late = FitEnvelope(coarse, 0, nearNoise + 1);
  if (!late.bFalls) return cut;
  double crossing = (noiseDb - late.intercept) / late.slope;

  // Then: blocks that see five per 10 dB of decay, the noise from 10 dB below
  // the crossing on, and the late slope between 25 and 5 dB above the noise.
  for (int iteration = 0; iteration < 5; ++iteration) {
    const double blockSeconds = 2.0 / -late.slope;
    const auto block =
        static_cast<size_t>(std::clamp(blockSeconds * sampleRate, 1.0, std::max(1.0, static_cast<double>(n) / 8.0)));
    const sEnvelope fine = Envelope(energy, block, sampleRate);
    const double quietFrom = std::max(0.0, (crossing + 10.0 / -late.slope) * sampleRate);
    const size_t noiseStart = std::min(tailStart, static_cast<size_t>(std::min(quietFrom, static_cast<double>(n))));
    noise = std::max(Mean(energy, noiseStart, n), floor);
    noiseDb = Db(noise);
    const size_t top = LastAbove(fine, 0, noiseDb + 25.0);
    const size_t bottom = LastAbove(fine, 0, noiseDb + 5.0);
    if (top != kNowhere && bottom != kNowhere && bottom >= top + 2) {
      const sLine fitted = FitEnvelope(fine, top + 1, bottom + 1);
      if (fitted.bFalls) late = fitted;
    }
    const double next = (noiseDb - late.intercept) / late.slope;
    const bool settled = std::fabs(next - crossing) < fine.blockSeconds;
    crossing = next;
    if (settled) break;
  }

  cut.bDecays = true;
  cut.noiseDb = noiseDb - peakDb;
  cut.noiseEnergy = noise;
  cut.end = static_cast<size_t>(std::clamp(std::round(crossing * sampleRate), 1.0, static_cast<double>(n)));
  const double perSample = -late.slope * std::log(10.0) / 10.0 / sampleRate;  // energy decay rate
  cut.lateRatio = std::exp(-perSample);
  const double levelAtEnd = std::pow(10.0, (late.slope * static_cast<double>(cut.end) / sampleRate + late.intercept) / 10.0);
  cut.compensation = levelAtEnd / -std::expm1(-perSample);
  return cut;
}

cDecayCurve::cDecayCurve(std::span<const double> energy, const sNoiseCut& cut, double earlier)
    : m_Remaining(std::min(cut.end, energy.size())),
      m_Compensation(cut.compensation),
      m_LateRatio(cut.lateRatio),
      m_Earlier(earlier) {
  double sum = m_Compensation;
  for (size_t i = m_Remaining.size(); i-- > 0;) {
    sum += energy[i] - cut.noiseEnergy;
    m_Remaining[i] = sum;
  }
}

double cDecayCurve::Remaining(size_t sample) const {
  if (sample < m_Remaining.size()) return m_Remaining[sample];
  if (m_Compensation <= 0.0) return 0.0;
  return m_Compensation * std::pow(m_LateRatio, static_cast<double>(sample - m_Remaining.size()));
}

double cDecayCurve::Db(size_t sample) const {
  const double total = Total();
  return total > 0.0 ? nimboanalysis::Db(Remaining(sample) / total) : kMinusInfinity;
}

double cDecayCurve::EndDb() const { return Db(End()); }

sMeasure DecayTime(const cDecayCurve& curve, double sampleRate, double upperDb, double lowerDb) {
  const double total = curve.Total();
  if (!(total > 0.0)) return sMeasure::None(eMissing::kSilent);
  if (lowerDb < curve.EndDb() + kCoverageMarginDb) return sMeasure::None(eMissing::kNotCovered);
  const double upper = total * std::pow(10.0, upperDb / 10.0);
  const double lower = total * std::pow(10.0, lowerDb / 10.0);
  size_t first = 0;
  while (first < curve.End() && curve.Remaining(first) > upper) ++first;
  size_t last = first;
  while (last < curve.End() && curve.Remaining(last) >= lower) ++last;
  if (last >= curve.End() && curve.Remaining(last) >= lower) return sMeasure::None(eMissing::kNotCovered);
  // The points must spread over a fifth of the range at least: a curve that
  // jumps past nearly all of it at once has no slope to measure there.
  if (last - first < kMinRegressionPoints || curve.Db(first) - curve.Db(last - 1) < (upperDb - lowerDb) / 5.0) {
    return sMeasure::None(eMissing::kTooFast);
  }
  const sLine line = FitLine(first, last, [&](size_t i) {
    return std::pair{static_cast<double>(i) / sampleRate, curve.Db(i)};
  });
  if (!line.bFalls) return sMeasure::None(eMissing::kNotCovered);
  return sMeasure::Of(-60.0 / line.slope);
}

namespace {

double LateEnergy(const cDecayCurve& curve, double sampleRate, double seconds, size_t lead) {
  const auto limit = static_cast<size_t>(std::lround(seconds * sampleRate));
  return curve.Remaining(limit > lead ? limit - lead : 0);
}

}  // namespace

sMeasure Clarity(const cDecayCurve& curve, double sampleRate, double seconds, size_t lead) {
  const double total = curve.Total();
  if (!(total > 0.0)) return sMeasure::None(eMissing::kSilent);
  const double late = LateEnergy(curve, sampleRate, seconds, lead);
  // Late energy no higher above the curve's end than a decay range must be is
  // lost in the noise (or the fitted decay's guess past the cut); 60 dB down
  // the decay is over, and what follows is a filter's ringing or rounding:
  // ratios of a hundred dB and more that say nothing a listener hears.
  const double lateDb = Db(late / total);
  if (!(late > 0.0) || lateDb < curve.EndDb() + kCoverageMarginDb || lateDb < -kDecayOverDb) {
    return sMeasure::None(eMissing::kInfinite);
  }
  return sMeasure::Of(10.0 * std::log10((total - late) / late));
}

sMeasure Definition(const cDecayCurve& curve, double sampleRate, double seconds, size_t lead) {
  const double total = curve.Total();
  if (!(total > 0.0)) return sMeasure::None(eMissing::kSilent);
  return sMeasure::Of((total - LateEnergy(curve, sampleRate, seconds, lead)) / total);
}

sMeasure CentreTime(std::span<const double> energy, std::span<const double> before, const cDecayCurve& curve,
                    double sampleRate) {
  const double total = curve.Total();
  if (!(total > 0.0)) return sMeasure::None(eMissing::kSilent);
  double moment = 0.0;
  for (size_t i = 0; i < before.size(); ++i) moment += static_cast<double>(i) * before[i];
  const size_t end = std::min(curve.End(), energy.size());
  const auto lead = static_cast<double>(before.size());
  for (size_t i = 0; i < end; ++i) moment += (lead + static_cast<double>(i)) * energy[i];
  // The compensation's share: an exponential tail from `end` on.
  const double tail = curve.Remaining(end);
  if (tail > 0.0) {
    const double ratio = curve.Remaining(end + 1) / tail;
    moment += tail * (lead + static_cast<double>(end) + ratio / (1.0 - ratio));
  }
  return sMeasure::Of(moment / total / sampleRate);
}

}  // namespace nimboanalysis
