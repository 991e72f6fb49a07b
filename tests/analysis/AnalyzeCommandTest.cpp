// nimbohall-render --analyze as users run it: the table, the JSON, the
// answers for held, endless and silent tails, and Nimbohall's programs
// measured against the decay their own parameters set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

#include "HostTestSupport.h"

using hosttest::cTempDir;
using hosttest::sRun;
using nlohmann::json;
using ::testing::HasSubstr;

namespace {

const std::string kRenderer = NIMBOHALL_RENDER_PATH;
const std::string kFakeDecay = FAKE_DECAY_PATH;

sRun Analyze(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {kRenderer, "--analyze"});
  return hosttest::Run(arguments);
}

json AnalyzeJson(std::vector<std::string> arguments) {
  cTempDir dir;
  arguments.insert(arguments.end(), {"--json", (dir / "a.json").string()});
  const sRun run = Analyze(arguments);
  if (run.status != 0) throw std::runtime_error("--analyze failed: " + run.err);
  return json::parse(hosttest::ReadFile(dir / "a.json"));
}

// A parameter's value as the plugin shows it, milliseconds in seconds:
// "250.0" "ms" is 0.25, "2.00" "× base" is 2.
double Value(const json& parameter) {
  const double value = std::stod(parameter["display"].get<std::string>());
  return parameter["unit"].get<std::string>().rfind("ms", 0) == 0 ? value / 1000.0 : value;
}

const json& Parameter(const json& analysis, const std::string& name) {
  for (const json& p : analysis["parameters"]) {
    if (p["name"] == name) return p;
  }
  throw std::runtime_error("no parameter " + name);
}

TEST(AnalyzeCommand, PrintsTheTableOfDrumRoomS) {
  const sRun run = Analyze({"--program", "Drum room S"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("program 34 \"Drum room S\", 48000 Hz, impulse response"));
  for (const char* row : {"\n63 Hz ", "\n1 kHz ", "\n8 kHz ", "\nbroadband ", "\nmid (500-1k) ", "\n  both inputs ",
                          "\nMixing time "}) {
    EXPECT_THAT(run.out, HasSubstr(row));
  }
  EXPECT_EQ(run.err, "");
}

TEST(AnalyzeCommand, JsonHoldsWhatTheReadmeDocuments) {
  const json a = AnalyzeJson({"--program", "34", "--rate", "44100"});
  EXPECT_EQ(a["format"], "nimbohall-analysis");
  EXPECT_EQ(a["version"], 2);
  EXPECT_EQ(a["program"]["name"], "Drum room S");
  EXPECT_EQ(a["plugin"]["programs"], 64);
  EXPECT_EQ(Parameter(a, "Geometry")["display"], "room2");
  EXPECT_EQ(a["sample_rate_hz"], 44100);
  EXPECT_EQ(a["measurement"]["capped"], false);
  EXPECT_EQ(a["status"], "decaying");
  const std::set<std::string> reasons = {"not covered", "too fast", "infinite", "above Nyquist"};
  ASSERT_EQ(a["bands"].size(), 9u);
  EXPECT_EQ(a["bands"][0]["band"], "63 Hz");
  EXPECT_EQ(a["bands"][8]["band"], "broadband");
  for (const json& band : a["bands"]) {
    for (const char* key : {"edt_s", "t20_s", "t30_s", "c50_db", "c80_db", "d50", "ts_s"}) {
      const json& v = band[key];
      EXPECT_TRUE(v.is_number() || (v.is_null() && reasons.count(band["missing"][key].get<std::string>())))
          << key << " " << v;
    }
    const auto curve = band["edc"]["db"].get<std::vector<double>>();
    ASSERT_FALSE(curve.empty());
    EXPECT_LE(curve[0], 0.0);
    EXPECT_TRUE(std::is_sorted(curve.rbegin(), curve.rend())) << band["band"];
  }
  EXPECT_TRUE(a["mid"]["t30_s"].is_number());
  EXPECT_TRUE(a["correlation"]["late"]["both_inputs"].is_number());
  EXPECT_TRUE(a["echo_density"]["mixing_time_s"].is_number());
  const json& s = a["spectrogram"];
  EXPECT_EQ(s["db"][0].size(), s["frequencies_hz"].size());
  EXPECT_EQ(a["waveform"]["paths"].size(), 4u);
}

TEST(AnalyzeCommand, KnownDecayOfAOnePolePlugin) {
  const json a = AnalyzeJson({"--plugin", kFakeDecay, "--set", "Decay=0.8"});
  for (const char* key : {"edt_s", "t20_s", "t30_s"}) EXPECT_NEAR(a["bands"][8][key].get<double>(), 0.8, 0.016) << key;
  EXPECT_EQ(a["program"]["name"], "Small");
}

// What another host or plugin format measured: the response to each input as a stereo file.
TEST(AnalyzeCommand, AnalyzesResponsesMeasuredElsewhere) {
  cTempDir dir;
  for (int input = 0; input < 2; ++input) {
    hosttest::sAudio response{.channels = 2, .sampleRate = 44100, .format = 0, .samples = {}};
    for (int n = 0; n < 44100; ++n) {
      const float decay = static_cast<float>(std::pow(10.0, -3.0 * n / (0.6 * 44100)));  // T60 0.6 s
      const float sign = ((n * 2654435761u) >> 13) & 1 ? 1.0f : -1.0f;
      response.samples.push_back(input == 0 ? sign * decay : 0.0f);
      response.samples.push_back(input == 1 ? -sign * decay : 0.0f);
    }
    hosttest::WriteAudio(dir / (input ? "right.wav" : "left.wav"), response);
  }
  const json a = AnalyzeJson({(dir / "left.wav").string(), (dir / "right.wav").string()});
  EXPECT_EQ(a["sample_rate_hz"], 44100);
  EXPECT_EQ(a["plugin"], nullptr);
  EXPECT_NEAR(a["bands"][8]["t30_s"].get<double>(), 0.6, 0.012);
}

TEST(AnalyzeCommand, HeldEndlessAndSilentTailsSaySoInsteadOfNumbers) {
  sRun run = Analyze({"--set", "Hold=on"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Hold is on: the tail is frozen"));
  json a = AnalyzeJson({"--set", "Hold=on"});
  EXPECT_EQ(a["status"], "held");
  EXPECT_EQ(a["bands"][4]["t30_s"], nullptr);
  EXPECT_EQ(a["bands"][4]["missing"]["t30_s"], "held");

  a = AnalyzeJson({"--plugin", kFakeDecay, "--set", "Decay=5", "--tail", "0.5"});
  EXPECT_EQ(a["status"], "not decaying");
  EXPECT_EQ(a["measurement"]["capped"], true);
  EXPECT_EQ(a["mid"]["missing"]["t30_s"], "not decaying");

  run = Analyze({"--plugin", kFakeDecay, "--set", "Level=-inf"});
  EXPECT_THAT(run.out, HasSubstr("The response is silent"));
  EXPECT_THAT(run.out, Not(HasSubstr("broadband")));
}

// The first program's response goes on to the noise floor, past the -90 dBFS
// where file renders stop, so every band's decay covers T30's range.
TEST(AnalyzeCommand, EveryBandOfTheFirstProgramHasT20AndT30) {
  const json a = AnalyzeJson({"--program", "0"});
  for (size_t b = 0; b < 8; ++b) {
    const json& band = a["bands"][b];
    EXPECT_TRUE(band["t20_s"].is_number() && band["t30_s"].is_number()) << band["band"] << " " << band["missing"];
    if (band["t30_s"].is_number()) {
      EXPECT_NEAR(band["t30_s"].get<double>(), band["t20_s"].get<double>(), 0.1 * band["t20_s"].get<double>());
    }
  }
  EXPECT_EQ(a["measurement"]["capped"], false);
}

// Filters and stereo tricks pass the impulse at once: decay times and
// clarity say why they do not apply instead of 0.00 s or 200 dB.
TEST(AnalyzeCommand, ProgramsThatDoNotDecayLikeARoomGetWordsNotNumbers) {
  for (const char* program : {"LPF (change inv)", "DC notch (sharp)", "Inverter", "A very Battered Tape"}) {
    const json a = AnalyzeJson({"--program", program});
    for (const json& band : a["bands"]) {
      const double shortest = band["upper_hz"].is_number()
                                  ? 4.0 / (band["upper_hz"].get<double>() - band["lower_hz"].get<double>()) : 0.01;
      for (const char* key : {"edt_s", "t20_s", "t30_s"}) {
        if (band[key].is_number()) {
          EXPECT_GE(band[key].get<double>(), shortest) << program << " " << band["band"] << key;
        }
      }
      for (const char* key : {"c50_db", "c80_db"}) {
        if (band[key].is_number()) {
          EXPECT_LE(band[key].get<double>(), 60.0) << program << " " << band["band"] << key;
        } else {
          EXPECT_TRUE(band["missing"][key].is_string()) << program << " " << band["band"] << key;
        }
      }
    }
  }
}

TEST(AnalyzeCommand, RejectsFilesAndJsonOnItsOwn) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{kRenderer, "--analyze", "in.wav"}, {kRenderer, "--json", "x.json"},
        {kRenderer, "--analyze", "-o", "out.wav"},
        {kRenderer, "--analyze", "--list"}, {kRenderer, "--rate", "44100", "in.wav"}, {kRenderer, "--rate", "7"}}) {
    const sRun run = hosttest::Run(arguments);
    EXPECT_EQ(run.status, 2) << arguments.back();
    EXPECT_THAT(run.err, HasSubstr("nimbohall-render: "));
  }
}

// Programs whose tail is the network's plain decay: damping and modulation
// off, no saturation, the feedback inverter at 0 or 100 % (where its all-pass
// is a plain pass or sign flip). Their amplitude halves every Halflife x Base
// dly seconds, so T60 = log2(1000) x Halflife x Base dly. The tail is a train
// of echoes, its decay curve a staircase; the line through the -5..-35 dB part
// of a staircase stays within about 1.5 % of its mean slope, hence 3 %.
TEST(ProgramDecay, BroadbandT30IsWhatHalflifeAndBaseDelaySet) {
  for (const char* program : {"Straight Echo", "Dispersing Echo", "Laser Echo", "Early reflections II"}) {
    const json a = AnalyzeJson({"--program", program});
    ASSERT_EQ(Parameter(a, "Damping")["display"], "1.00") << program;
    ASSERT_EQ(Parameter(a, "Mod dep")["display"], "off") << program;
    ASSERT_EQ(Parameter(a, "Amp drv")["display"], "off") << program;
    const double t60 = std::log2(1000.0) * Value(Parameter(a, "Halflife")) * Value(Parameter(a, "Base dly"));
    EXPECT_NEAR(a["bands"][8]["t30_s"].get<double>(), t60, 0.03 * t60) << program;
  }
}

}  // namespace
