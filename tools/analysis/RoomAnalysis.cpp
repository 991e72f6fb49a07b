#include "RoomAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "EnergyDecay.h"
#include "OctaveFilter.h"

namespace nimboanalysis {

namespace {

constexpr double kOnsetBelowPeakDb = 20.0;
constexpr double kPaddingSeconds = 0.25;  // room before the first sample for the backward filters' ringing
constexpr size_t kCurvePoints = 400;
constexpr size_t kWaveformColumns = 800;
// Shortest decay time worth a number: a band filter blurs decays faster than
// 4 / bandwidth even run backwards; broadband, the 10 ms blocks in which the
// noise search looks at the decay.
constexpr double kFilterBandwidthTimes = 4.0;
constexpr double kBroadbandShortestSeconds = 0.01;

using cPaths = std::array<std::vector<float>, 4>;  // LL, LR, RL, RR

sMeasures AllMissing(eMissing why) {
  const sMeasure none = sMeasure::None(why);
  return {none, none, none, none, none, none, none};
}

size_t Onset(std::span<const double> energy) {
  const double peak = *std::max_element(energy.begin(), energy.end());
  const double threshold = peak * std::pow(10.0, -kOnsetBelowPeakDb / 10.0);
  return static_cast<size_t>(std::find_if(energy.begin(), energy.end(), [&](double e) { return e >= threshold; }) -
                             energy.begin());
}

// Measures from a band's energy. Decay times count from `onset` on; in a
// band filtered backwards nothing of the filter's own response lies beyond
// it, and the energy it moved ahead counts in the total, as already gone
// (`countEarlier`). The energy ratios count time from `lead` samples earlier,
// which undoes the filter's delay.
void MeasureBand(std::span<const double> energy, size_t onset, size_t lead, bool countEarlier, double sampleRate,
                 sBandAnalysis& band) {
  const std::span<const double> fromOnset = energy.subspan(onset);
  double earlier = 0.0;
  if (countEarlier) {
    for (size_t n = 0; n < onset; ++n) earlier += energy[n];
  }
  const sNoiseCut cut = FindNoiseCut(fromOnset, sampleRate);
  band.noiseDb = cut.noiseDb;
  if (!cut.bDecays) {
    band.measures = AllMissing(eMissing::kNotCovered);
    band.endDb = 0.0;
    band.cutSeconds = 0.0;
    return;
  }
  const cDecayCurve curve(fromOnset, cut, earlier);
  band.cutSeconds = static_cast<double>(cut.end) / sampleRate;
  band.endDb = curve.EndDb();
  sMeasures& m = band.measures;
  m.edt = DecayTime(curve, sampleRate, 0.0, -10.0);
  m.t20 = DecayTime(curve, sampleRate, -5.0, -25.0);
  m.t30 = DecayTime(curve, sampleRate, -5.0, -35.0);
  const double shortest =
      band.upperHz > band.lowerHz ? kFilterBandwidthTimes / (band.upperHz - band.lowerHz) : kBroadbandShortestSeconds;
  for (sMeasure* t : {&m.edt, &m.t20, &m.t30}) {
    if (t->Has() && t->value < shortest) *t = sMeasure::None(eMissing::kTooFast);
  }
  // T30's range holds T20's: where that has no slope, a T30 is one jump's.
  if (!m.t20.Has() && m.t30.Has()) m.t30 = m.t20;
  m.c50 = Clarity(curve, sampleRate, 0.05, lead);
  m.c80 = Clarity(curve, sampleRate, 0.08, lead);
  m.d50 = Definition(curve, sampleRate, 0.05, lead);
  m.ts = CentreTime(fromOnset, energy.subspan(onset - lead, lead), curve, sampleRate);
  // Nothing decays like a room (a filter, a plain delay): the early-to-late
  // ratios would be a hundred dB and more of a filter's ringing.
  const auto tooFast = [](const sMeasure& t) { return t.missing == eMissing::kTooFast; };
  // Where nothing arrives after the limit at all, "infinite" says more and stays.
  if (tooFast(m.edt) && tooFast(m.t20) && tooFast(m.t30))
    for (sMeasure* c : {&m.c50, &m.c80})
      if (c->Has()) *c = sMeasure::None(eMissing::kTooFast);

  const size_t span = std::max<size_t>(cut.end, 1);
  const size_t step = std::max<size_t>(1, (span + kCurvePoints - 1) / kCurvePoints);
  band.edcStepSeconds = static_cast<double>(step) / sampleRate;
  for (size_t i = 0; i <= span; i += step) {
    band.edcDb.push_back(static_cast<float>(std::max(curve.Db(i), static_cast<double>(sSpectrogram::kFloorDb))));
  }
}

sMeasure Correlation(const cPaths& paths, int input, size_t from, size_t to) {
  double lr = 0.0, ll = 0.0, rr = 0.0;
  for (int i = 0; i < 2; ++i) {
    if (input >= 0 && i != input) continue;
    const std::vector<float>& left = paths[static_cast<size_t>(2 * i)];
    const std::vector<float>& right = paths[static_cast<size_t>(2 * i + 1)];
    for (size_t n = from; n < std::min(to, left.size()); ++n) {
      lr += static_cast<double>(left[n]) * right[n];
      ll += static_cast<double>(left[n]) * left[n];
      rr += static_cast<double>(right[n]) * right[n];
    }
  }
  if (!(ll > 0.0 && rr > 0.0)) return sMeasure::None(eMissing::kSilent);
  return sMeasure::Of(lr / std::sqrt(ll * rr));
}

sOutputCorrelation Correlations(const cPaths& paths, size_t from, size_t to) {
  return {Correlation(paths, 0, from, to), Correlation(paths, 1, from, to), Correlation(paths, -1, from, to)};
}

sWaveform Waveform(const cPaths& paths, size_t length, double sampleRate) {
  sWaveform waveform;
  const size_t columns = std::min(kWaveformColumns, std::max<size_t>(length, 1));
  const double perColumn = static_cast<double>(length) / static_cast<double>(columns);
  waveform.columnSeconds = perColumn / sampleRate;
  for (size_t p = 0; p < 4; ++p) {
    auto& low = waveform.low[p / 2][p % 2];
    auto& high = waveform.high[p / 2][p % 2];
    for (size_t c = 0; c < columns && length > 0; ++c) {
      const auto from = static_cast<size_t>(static_cast<double>(c) * perColumn);
      const auto to = std::max(from + 1, static_cast<size_t>(static_cast<double>(c + 1) * perColumn));
      const auto [lo, hi] = std::minmax_element(paths[p].begin() + static_cast<std::ptrdiff_t>(from),
                                                paths[p].begin() + static_cast<std::ptrdiff_t>(std::min(to, length)));
      low.push_back(*lo);
      high.push_back(*hi);
    }
  }
  return waveform;
}

sMeasure Mean(const sMeasure& a, const sMeasure& b) {
  if (!a.Has()) return a;
  if (!b.Has()) return b;
  return sMeasure::Of(0.5 * (a.value + b.value));
}

}  // namespace

const char* MissingText(eMissing why) {
  switch (why) {
    case eMissing::kNone: return "";
    case eMissing::kNotCovered: return "not covered";
    case eMissing::kTooFast: return "too fast";
    case eMissing::kInfinite: return "infinite";
    case eMissing::kNotReached: return "not reached";
    case eMissing::kAboveNyquist: return "above Nyquist";
    case eMissing::kSilent: return "silent";
    case eMissing::kNotDecaying: return "not decaying";
    case eMissing::kHeld: return "held";
    case eMissing::kInvalid: return "invalid";
  }
  return "";
}

const char* StatusText(eStatus status) {
  switch (status) {
    case eStatus::kDecaying: return "decaying";
    case eStatus::kSilent: return "silent";
    case eStatus::kNotDecaying: return "not decaying";
    case eStatus::kHeld: return "held";
    case eStatus::kInvalid: return "invalid";
  }
  return "";
}

sAnalysis Analyze(const sImpulseResponses& responses, const sConditions& conditions) {
  sAnalysis result;
  const double fs = responses.sampleRate;
  result.sampleRate = fs;

  size_t length = 0;
  for (const auto& input : responses.path) {
    for (const auto& path : input) length = std::max(length, path.size());
  }
  cPaths paths;
  bool finite = true;
  for (size_t p = 0; p < 4; ++p) {
    paths[p] = responses.path[p / 2][p % 2];
    paths[p].resize(length, 0.0f);
    finite = finite && std::all_of(paths[p].begin(), paths[p].end(), [](float s) { return std::isfinite(s); });
  }
  result.lengthSeconds = static_cast<double>(length) / fs;

  std::vector<double> energy(length, 0.0);
  for (const auto& path : paths) {
    for (size_t n = 0; n < length; ++n) energy[n] += static_cast<double>(path[n]) * path[n];
  }
  const bool silent = std::all_of(energy.begin(), energy.end(), [](double e) { return e == 0.0; });
  result.status = conditions.bHeld ? eStatus::kHeld
                  : !finite        ? eStatus::kInvalid
                  : silent         ? eStatus::kSilent
                                   : eStatus::kDecaying;

  for (const sOctaveBand& octave : OctaveBands()) {
    sBandAnalysis band;
    band.name = octave.name;
    band.centreHz = octave.centreHz;
    band.lowerHz = octave.lowerHz;
    band.upperHz = octave.upperHz;
    result.bands.push_back(band);
  }
  result.bands.emplace_back().name = "broadband";

  const auto missing = [&](eMissing why) {
    for (sBandAnalysis& band : result.bands) band.measures = AllMissing(why);
    result.mid = AllMissing(why);
  };
  if (result.status != eStatus::kDecaying) {
    const eMissing why = result.status == eStatus::kHeld      ? eMissing::kHeld
                         : result.status == eStatus::kInvalid ? eMissing::kInvalid
                                                              : eMissing::kSilent;
    missing(why);
    result.early = result.late = {sMeasure::None(why), sMeasure::None(why), sMeasure::None(why)};
    result.echoDensity.mixingTime = sMeasure::None(why);
    return result;
  }

  const size_t onset = Onset(energy);
  result.onsetSeconds = static_cast<double>(onset) / fs;
  sBandAnalysis& broadband = result.bands.back();
  const sNoiseCut cut = FindNoiseCut(std::span<const double>(energy).subspan(onset), fs);
  size_t end = length;
  if (conditions.bTailCapped || !cut.bDecays) {
    result.status = eStatus::kNotDecaying;
    missing(eMissing::kNotDecaying);
  } else {
    end = onset + cut.end;
    MeasureBand(energy, onset, 0, false, fs, broadband);

    // Bands: each path filtered backwards from beyond its end into a silent lead-in.
    const auto padding = static_cast<size_t>(std::lround(kPaddingSeconds * fs));
    std::vector<double> filtered(padding + length);
    std::vector<double> bandEnergy(padding + length);
    for (size_t b = 0; b < kNumBands; ++b) {
      const sOctaveBand& octave = OctaveBands()[b];
      sBandAnalysis& band = result.bands[b];
      if (!BandFits(octave, fs)) {
        band.measures = AllMissing(eMissing::kAboveNyquist);
        continue;
      }
      const auto sections = DesignOctaveFilter(octave, fs);
      std::fill(bandEnergy.begin(), bandEnergy.end(), 0.0);
      for (const auto& path : paths) {
        std::fill(filtered.begin(), filtered.begin() + static_cast<std::ptrdiff_t>(padding), 0.0);
        std::copy(path.begin(), path.end(), filtered.begin() + static_cast<std::ptrdiff_t>(padding));
        FilterBackwards(sections, filtered);
        for (size_t n = 0; n < filtered.size(); ++n) bandEnergy[n] += filtered[n] * filtered[n];
      }
      if (std::all_of(bandEnergy.begin(), bandEnergy.end(), [](double e) { return e == 0.0; })) {
        band.measures = AllMissing(eMissing::kSilent);
        continue;
      }
      const auto delay = static_cast<size_t>(std::lround(GroupDelay(sections, octave.centreHz, fs) * fs));
      MeasureBand(bandEnergy, padding + onset, std::min(delay, padding), true, fs, band);
    }
    const sMeasures& a = result.bands[3].measures;  // 500 Hz
    const sMeasures& b = result.bands[4].measures;  // 1 kHz
    result.mid = {Mean(a.edt, b.edt), Mean(a.t20, b.t20), Mean(a.t30, b.t30), Mean(a.c50, b.c50),
                  Mean(a.c80, b.c80), Mean(a.d50, b.d50), Mean(a.ts, b.ts)};
  }
  result.lateEndSeconds = static_cast<double>(end - onset) / fs;

  const size_t split = std::min(end, onset + static_cast<size_t>(std::lround(result.earlySeconds * fs)));
  result.early = Correlations(paths, onset, split);
  result.late = split < end ? Correlations(paths, split, end) : sOutputCorrelation{sMeasure::None(eMissing::kSilent),
                                                                                    sMeasure::None(eMissing::kSilent),
                                                                                    sMeasure::None(eMissing::kSilent)};
  const std::array<std::span<const float>, 4> views = {paths[0], paths[1], paths[2], paths[3]};
  const bool decaying = result.status == eStatus::kDecaying;
  result.echoDensity = MeasureEchoDensity(views, onset, end, decaying ? cut.noiseEnergy : 0.0, fs);
  result.spectrogram = MeasureSpectrogram(views, onset, end, fs);
  result.waveform = Waveform(paths, length, fs);
  for (size_t p = 0; p < 4; ++p) {
    sMagnitudeResponse response = MeasureMagnitudeResponse(paths[p], fs);
    result.frequencyResponse.frequenciesHz = std::move(response.frequenciesHz);
    result.frequencyResponse.db[p / 2][p % 2] = std::move(response.db);
    const auto [lo, hi] = std::minmax_element(paths[p].begin(), paths[p].end());
    if (lo != paths[p].end()) result.frequencyResponse.peak[p / 2][p % 2] = -*lo > *hi ? *lo : *hi;
  }
  return result;
}

}  // namespace nimboanalysis
