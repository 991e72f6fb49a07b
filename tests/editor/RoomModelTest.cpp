// The room display's decay times against the renderer's measurement of the
// same programs, and what it shows where nothing decays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "HostTestSupport.h"
#include "OctaveFilter.h"
#include "RoomModel.h"

using nimbo::cReverbCore;
using nimbo::editor::ComputeRoom;
using nimbo::editor::PredictT60;
using nimbo::editor::sRoomResponse;
using nlohmann::json;

namespace {

constexpr float kRate = 48000.0f;

int ProgramIndex(const char* name) {
  for (int32_t i = 0; i < nimbo::kNumPrograms; ++i)
    if (std::strcmp(cReverbCore::FactoryProgramName(i), name) == 0) return i;
  throw std::runtime_error(std::string("no program ") + name);
}

json Analyze(const char* program) {
  hosttest::cTempDir dir;
  const auto path = dir / "a.json";
  const hosttest::sRun run = hosttest::Run(
      {NIMBOHALL_RENDER_PATH, "--analyze", "--program", program, "--rate", "48000", "--json", path.string()});
  if (run.status != 0) throw std::runtime_error("--analyze failed: " + run.err);
  return json::parse(hosttest::ReadFile(path));
}

// What a T30 of the predicted decay gives through the analysis's octave
// filter: an impulse's flat spectrum, each frequency's energy falling at the
// predicted T60, summed and integrated backwards, the line through -5..-35 dB.
// Where damping makes the decay time fall steeply with frequency, the band's
// slower low edge and the filter's skirt below it set the late slope, not
// the centre.
double BandT30(const cReverbCore& core, const nimboanalysis::sOctaveBand& band) {
  const auto filter = nimboanalysis::DesignOctaveFilter(band, kRate);
  std::vector<double> rate, weight;
  for (double f = 20.0; f < 0.5 * kRate; f *= 1.01) {
    const double t60 = PredictT60(core, kRate, static_cast<float>(f));
    const double gain = nimboanalysis::Magnitude(filter, f, kRate);
    rate.push_back(6.0 * std::log(10.0) / t60);
    weight.push_back(gain * gain * f / rate.back());
  }
  const auto db = [&](double t) {
    double sum = 0.0, total = 0.0;
    for (size_t j = 0; j < rate.size(); ++j) {
      sum += weight[j] * std::exp(-rate[j] * t);
      total += weight[j];
    }
    return 10.0 * std::log10(sum / total);
  };
  const auto crossing = [&](double level) {
    double lo = 0.0, hi = 100.0;
    for (int k = 0; k < 60; ++k) (db(0.5 * (lo + hi)) > level ? lo : hi) = 0.5 * (lo + hi);
    return hi;
  };
  const double start = crossing(-5.0), end = crossing(-35.0);
  double st = 0.0, sd = 0.0, stt = 0.0, std_ = 0.0;
  constexpr int kFit = 64;
  for (int n = 0; n < kFit; ++n) {
    const double t = start + (end - start) * n / (kFit - 1.0), d = db(t);
    st += t;
    sd += d;
    stt += t * t;
    std_ += t * d;
  }
  return -60.0 * (kFit * stt - st * st) / (kFit * std_ - st * sd);
}

// Unmodulated programs without saturation, whose tails are the network's
// plain decay: damped little and much, damping above 1, lines of 1 to 70 ms.
// Below 125 Hz and above 4 kHz the shortest of them decay within a few
// periods of the band filter's ringing, which the measurement then lengthens.
TEST(RoomModel, OctaveT60AgreesWithTheMeasuredT30) {
  for (const char* name : {"Very Small Dorm Room", "Biohazard Container", "It is Spring", "Drum room S",
                           "Keys insert S", "Oversized Shoe Box", "Drum room XS", "Keys insert XS"}) {
    cReverbCore core;
    core.SetProgram(ProgramIndex(name));
    ASSERT_EQ(core.Plain(nimbo::kParamModDepth), 0.0f) << name;
    ASSERT_EQ(core.Plain(nimbo::kParamAmpDrive), 0.0f) << name;
    const json a = Analyze(name);
    int compared = 0;
    for (size_t b = 1; b <= 6; ++b) {
      const json& band = a["bands"][b];
      // Decays too short for the band filter to resolve are not measured.
      if (!band["t30_s"].is_number() && band["missing"]["t30_s"] == "too fast") continue;
      ASSERT_TRUE(band["t30_s"].is_number()) << name << " " << band["band"] << " " << band["missing"];
      ++compared;
      const double measured = band["t30_s"].get<double>();
      EXPECT_NEAR(BandT30(core, nimboanalysis::OctaveBands()[b]), measured, 0.1 * measured)
          << name << " " << band["band"];
    }
    EXPECT_GE(compared, 5) << name;
  }
}

// Without damping every line halves every Halflife x Base dly seconds; "Hold"
// stops the decay where it is drawn; without feedback each line sounds once.
TEST(RoomModel, ClosedFormDecayHoldAndSinglePass) {
  cReverbCore core;
  core.SetProgram(ProgramIndex("Dispersing Echo"));
  ASSERT_EQ(core.Plain(nimbo::kParamDamping), 1.0f);
  sRoomResponse room;
  ComputeRoom(core, kRate, room);
  EXPECT_FALSE(room.frozen);
  const double t60 = std::log2(1000.0) * core.Plain(nimbo::kParamHalflife) * core.Plain(nimbo::kParamBaseDelay);
  const int kHz = 68;  // about 1 kHz on the log grid
  ASSERT_NEAR(room.frequency[kHz], 1000.0f, 10.0f);
  for (int i = 0; i < nimbo::kNumLines; ++i) EXPECT_NEAR(room.t60[i][kHz], t60, 0.01 * t60) << i;
  EXPECT_NEAR(room.meanT60[kHz], t60, 0.01 * t60);
  EXPECT_EQ(room.edcDb[0], 0.0f);
  for (int n = 1; n < sRoomResponse::kEdcPoints; ++n) EXPECT_LE(room.edcDb[n], room.edcDb[n - 1]) << n;
  EXPECT_NEAR(room.edcDb[sRoomResponse::kEdcPoints - 1], -70.0f, 1.0f);

  ASSERT_TRUE(core.SetPlain(nimbo::kParamHold, 1.0f));
  sRoomResponse held;
  ComputeRoom(core, kRate, held);
  EXPECT_TRUE(held.frozen);
  EXPECT_TRUE(std::isinf(held.meanT60[kHz]) && std::isinf(held.t60[3][kHz]));
  EXPECT_EQ(held.edcDb[sRoomResponse::kEdcPoints - 1], 0.0f);
  EXPECT_EQ(held.edcSeconds, room.edcSeconds);
  EXPECT_TRUE(std::isinf(PredictT60(core, kRate, 1000.0f)));

  ASSERT_TRUE(core.SetPlain(nimbo::kParamHold, 0.0f));
  core.SetProgram(ProgramIndex("Slapback insert S"));
  ASSERT_EQ(core.Plain(nimbo::kParamHalflife), 0.0f);
  ComputeRoom(core, 32000.0f, room);
  EXPECT_EQ(room.meanT60[kHz], 0.0f);
  EXPECT_LT(room.frequency[room.points - 1], 16000.0f);
  EXPECT_GE(room.frequency[room.points], 16000.0f);
  const float longest = *std::max_element(std::begin(room.lineSeconds), std::end(room.lineSeconds));
  EXPECT_NEAR(longest, 0.0625f * 1.30188f, 1e-4f);
  EXPECT_EQ(room.edcDb[sRoomResponse::kEdcPoints - 1], sRoomResponse::kEdcFloorDb);
}

}  // namespace
