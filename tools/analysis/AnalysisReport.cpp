#include "AnalysisReport.h"

#include <cmath>
#include <cstdio>
#include <set>

namespace nimboanalysis {

namespace {

double Round(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

nlohmann::json Rounded(const std::vector<float>& values, int decimals) {
  nlohmann::json array = nlohmann::json::array();
  for (float v : values) array.push_back(Round(v, decimals));
  return array;
}

// Small values keep their digits: a tail 100 dB down is 1e-5 and less.
nlohmann::json Significant(const std::vector<float>& values, int digits) {
  nlohmann::json array = nlohmann::json::array();
  for (float v : values) {
    if (v == 0.0f) {
      array.push_back(0.0);
      continue;
    }
    const int decimals = digits - 1 - static_cast<int>(std::floor(std::log10(std::fabs(static_cast<double>(v)))));
    array.push_back(Round(v, decimals));
  }
  return array;
}

// Levels that may be minus infinity ("no noise at all").
nlohmann::json Level(double db) { return std::isfinite(db) ? nlohmann::json(Round(db, 2)) : nlohmann::json("-inf"); }

const char* ShortText(eMissing why) {
  switch (why) {
    case eMissing::kNotCovered: return "n.c.";
    case eMissing::kTooFast: return "fast";
    case eMissing::kInfinite: return "inf";
    case eMissing::kAboveNyquist: return "n/a";
    default: return "-";
  }
}

const char* Legend(eMissing why) {
  switch (why) {
    case eMissing::kNotCovered: return "n.c.  decay range not covered: the curve does not reach the range's end 10 dB above the noise";
    case eMissing::kTooFast: return "fast  no decay like a room's: the curve drops past the range at once, or in less than\n        4 / bandwidth (the band filter's limit) or 10 ms; then C50 and C80 are left out too";
    case eMissing::kInfinite: return "inf   nothing worth counting arrives after the limit: the decay is 60 dB down by then, or lost in the noise";
    case eMissing::kAboveNyquist: return "n/a   the band lies above half the sample rate";
    default: return "-     no value";
  }
}

struct sColumn {
  const char* title;
  const char* unit;
  sMeasure sMeasures::*field;
  double scale;
  int decimals;
};
constexpr sColumn kColumns[] = {
    {"EDT", "s", &sMeasures::edt, 1.0, 2},   {"T20", "s", &sMeasures::t20, 1.0, 2},
    {"T30", "s", &sMeasures::t30, 1.0, 2},   {"C50", "dB", &sMeasures::c50, 1.0, 1},
    {"C80", "dB", &sMeasures::c80, 1.0, 1},  {"D50", "", &sMeasures::d50, 1.0, 2},
    {"Ts", "ms", &sMeasures::ts, 1000.0, 1},
};

std::string Format(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::string CorrelationLine(const char* title, const sMeasure& early, const sMeasure& late) {
  auto cell = [](const sMeasure& m) { return m.Has() ? Format("%+.2f", m.value) : std::string(MissingText(m.missing)); };
  return Format("  %-13s %12s %12s\n", title, cell(early).c_str(), cell(late).c_str());
}

}  // namespace

std::string FormatTable(const sAnalysis& a) {
  switch (a.status) {
    case eStatus::kSilent: return "The response is silent: nothing to measure.\n";
    case eStatus::kHeld: return "Hold is on: the tail is frozen and does not decay, so there are no decay measures.\n";
    case eStatus::kInvalid: return "The response holds NaN or infinite samples: nothing to measure.\n";
    default: break;
  }
  std::string out;
  std::set<eMissing> used;
  if (a.status == eStatus::kNotDecaying) {
    out += "The response does not decay (or not within the tail cap): no decay measures.\n";
  } else {
    out += Format("%-18s", "Band");
    for (const sColumn& c : kColumns) out += Format("%8s", c.title);
    out += Format("\n%-18s", "");
    for (const sColumn& c : kColumns) out += Format("%8s", c.unit);
    out += "\n";
    auto row = [&](const std::string& name, const sMeasures& m) {
      out += Format("%-18s", name.c_str());
      for (const sColumn& c : kColumns) {
        const sMeasure& v = m.*c.field;
        if (v.Has()) {
          const bool brief = c.unit[0] == 's' && std::fabs(v.value) < 0.1;  // a few ms: keep them visible
          out += Format("%8.*f", brief ? 3 : c.decimals, v.value * c.scale);
        } else {
          out += Format("%8s", ShortText(v.missing));
          used.insert(v.missing);
        }
      }
      out += "\n";
    };
    for (const sBandAnalysis& band : a.bands) row(band.name, band.measures);
    row("mid (500-1k)", a.mid);
    for (eMissing why : used) out += Format("  %s\n", Legend(why));
    const sBandAnalysis& broadband = a.Broadband();
    out += Format("Onset %.1f ms; broadband decay meets the noise at %.2f s", a.onsetSeconds * 1000.0,
                  broadband.cutSeconds);
    out += std::isfinite(broadband.noiseDb) ? Format(", %.0f dB below the peak", -broadband.noiseDb)
                                            : std::string(" (the response ends in silence)");
    out += ".\n";
  }
  out += Format("%-15s %12s %12s\n", "Correlation", "early", "late");
  out += Format("%-15s %12s %12s\n", "of the outputs", "0-80 ms", Format("80 ms-%.2f s", a.lateEndSeconds).c_str());
  out += CorrelationLine("left input", a.early.leftInput, a.late.leftInput);
  out += CorrelationLine("right input", a.early.rightInput, a.late.rightInput);
  out += CorrelationLine("both inputs", a.early.bothInputs, a.late.bothInputs);
  const sMeasure& mixing = a.echoDensity.mixingTime;
  out += mixing.Has() ? Format("Mixing time %.1f ms (normalized echo density reaches 1)\n", mixing.value * 1000.0)
                      : Format("Mixing time: %s (normalized echo density stays below 1)\n", MissingText(mixing.missing));
  return out;
}

void PutMeasure(nlohmann::json& object, const char* key, const sMeasure& measure, int decimals) {
  if (measure.Has()) {
    object[key] = Round(measure.value, decimals);
  } else {
    object[key] = nullptr;
    object["missing"][key] = MissingText(measure.missing);
  }
}

namespace {

void PutMeasures(nlohmann::json& object, const sMeasures& m) {
  PutMeasure(object, "edt_s", m.edt, 4);
  PutMeasure(object, "t20_s", m.t20, 4);
  PutMeasure(object, "t30_s", m.t30, 4);
  PutMeasure(object, "c50_db", m.c50, 2);
  PutMeasure(object, "c80_db", m.c80, 2);
  PutMeasure(object, "d50", m.d50, 4);
  PutMeasure(object, "ts_s", m.ts, 5);
}

nlohmann::json CorrelationJson(const sOutputCorrelation& c, double from, double to) {
  nlohmann::json j = {{"from_s", Round(from, 4)}, {"to_s", Round(to, 4)}};
  PutMeasure(j, "left_input", c.leftInput, 3);
  PutMeasure(j, "right_input", c.rightInput, 3);
  PutMeasure(j, "both_inputs", c.bothInputs, 3);
  return j;
}

}  // namespace

nlohmann::json AnalysisJson(const sAnalysis& a) {
  nlohmann::json j;
  j["status"] = StatusText(a.status);
  j["sample_rate_hz"] = a.sampleRate;
  j["length_s"] = Round(a.lengthSeconds, 5);
  j["onset_s"] = Round(a.onsetSeconds, 5);
  nlohmann::json bands = nlohmann::json::array();
  for (const sBandAnalysis& band : a.bands) {
    nlohmann::json b = {{"band", band.name}};
    const bool octave = band.centreHz > 0.0;
    b["centre_hz"] = octave ? nlohmann::json(Round(band.centreHz, 1)) : nlohmann::json(nullptr);
    b["lower_hz"] = octave ? nlohmann::json(Round(band.lowerHz, 1)) : nlohmann::json(nullptr);
    b["upper_hz"] = octave ? nlohmann::json(Round(band.upperHz, 1)) : nlohmann::json(nullptr);
    PutMeasures(b, band.measures);
    b["cut_s"] = Round(band.cutSeconds, 4);
    b["noise_db"] = Level(band.noiseDb);
    b["edc_end_db"] = Level(band.endDb);
    b["edc"] = {{"step_s", band.edcStepSeconds}, {"db", Rounded(band.edcDb, 2)}};
    bands.push_back(b);
  }
  j["bands"] = bands;
  j["mid"] = nlohmann::json::object();
  PutMeasures(j["mid"], a.mid);
  j["correlation"] = {{"early", CorrelationJson(a.early, 0.0, a.earlySeconds)},
                      {"late", CorrelationJson(a.late, a.earlySeconds, a.lateEndSeconds)}};

  const auto& profile = a.echoDensity.profile;
  const size_t shown = std::min(profile.size(), static_cast<size_t>(std::lround(1.0 / a.echoDensity.stepSeconds)) + 1);
  j["echo_density"] = {{"window_s", a.echoDensity.windowSeconds},
                       {"step_s", a.echoDensity.stepSeconds},
                       {"profile", Rounded(std::vector<float>(profile.begin(), profile.begin() + static_cast<std::ptrdiff_t>(shown)), 3)}};
  PutMeasure(j["echo_density"], "mixing_time_s", a.echoDensity.mixingTime, 4);

  const sSpectrogram& s = a.spectrogram;
  nlohmann::json frames = nlohmann::json::array();
  const size_t rows = s.frequenciesHz.size();
  for (size_t f = 0; f < s.frames && rows > 0; ++f) {
    frames.push_back(Rounded(std::vector<float>(s.db.begin() + static_cast<std::ptrdiff_t>(f * rows),
                                                s.db.begin() + static_cast<std::ptrdiff_t>((f + 1) * rows)),
                             1));
  }
  nlohmann::json frequencies = nlohmann::json::array();
  for (double hz : s.frequenciesHz) frequencies.push_back(Round(hz, 1));
  j["spectrogram"] = {{"start_s", Round(s.startSeconds, 5)},
                      {"step_s", Round(s.stepSeconds, 6)},
                      {"frequencies_hz", frequencies},
                      {"db", frames}};

  nlohmann::json paths = nlohmann::json::array();
  const char* const sides[2] = {"left", "right"};
  for (int i = 0; i < 2; ++i) {
    for (int o = 0; o < 2; ++o) {
      paths.push_back({{"input", sides[i]},
                       {"output", sides[o]},
                       {"low", Significant(a.waveform.low[i][o], 4)},
                       {"high", Significant(a.waveform.high[i][o], 4)}});
    }
  }
  j["waveform"] = {{"column_s", a.waveform.columnSeconds}, {"paths", paths}};

  const sFrequencyResponse& r = a.frequencyResponse;
  nlohmann::json responses = nlohmann::json::array();
  for (int i = 0; i < 2; ++i) {
    for (int o = 0; o < 2; ++o) {
      responses.push_back({{"input", sides[i]},
                           {"output", sides[o]},
                           {"peak", Significant({r.peak[i][o]}, 4)[0]},
                           {"db", Rounded(r.db[i][o], 2)}});
    }
  }
  nlohmann::json responseFrequencies = nlohmann::json::array();
  for (double hz : r.frequenciesHz) responseFrequencies.push_back(Round(hz, 1));
  j["frequency_response"] = {{"frequencies_hz", responseFrequencies}, {"paths", responses}};
  return j;
}

}  // namespace nimboanalysis
