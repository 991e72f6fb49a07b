// The factory data, field by field, against the preset list the sound was
// designed with: the 63 presets and "Init"; and the programs made of them.
#include <cstring>
#include <string>
#include <utility>

#include "Program.h"
#include "cReverbCore.h"
#include "gtest/gtest.h"

using namespace nimbo;

namespace {

// Columns in the order of the preset list, not of the record.
struct sListedPreset {
  const char* name;  // Windows-1252
  int32_t category, geometry, fbPlane;
  float fbRot1, fbRot2, fbInv, baseDelay, halflife, damping, inDir, outDir, modPeriod, modDepth, modSpread, dryMix,
      wetMix, ampDrive;
};

// clang-format off
const sListedPreset kListed[] = {
    {"Temple of the Ancestors", 0, 8, 0, 87, 5, 99.7f, 0.035f, 16, 0.444f, 0, 315, 1.5f, 0.6f, 100, 70, 30, 0},
    {"Open Stage in the Woods", 0, 3, 0, 87, 5, 0, 0.125f, 2, 0.25f, 45, 45, 1.5f, 0.25f, 100, 40, 60, 0},
    {"U-Boat Club Party", 0, 6, 0, 90, 10, 98.5f, 0.018f, 8, 0.1f, 0, 225, 0.7f, 0.35f, 100, 20, 80, 0},
    {"Cardio Fitness", 0, 9, 0, 90, 10, 100, 0.013f, 8, 0.5f, 0, 90, 2.5f, 2.5f, 100, 40, 60, 0},
    {"Very Small Dorm Room", 0, 7, 0, 90, 5, 100, 0.0055f, 6.5f, 0.231f, 0, 225, 1, 0, 0, 30, 50, 0},
    {"Biohazard Container", 1, 5, 1, 90, 5, 96, 0.0065f, 55, 0.0272f, 40, 50, 1, 0, 0, 0, 35, 0},
    {"It is Spring", 1, 2, 3, 7.1f, 10, 96, 0.018f, 5, 5, 40, 1, 1, 0, 0, 50, 30, 0},
    {"Oversized Shoe Box", 1, 0, 1, 60, 30, 100, 0.001f, 4.5f, 0.333f, 0, 180, 1, 0, 1, 0, 65, 0},
    {"Moooooooooh!", 1, 5, 1, 50, 60, 100, 0.000755f, 60, 0.0667f, 50, 40, 1, 0, 0, 20, 50, 0},
    {"Glass Dish (fragile)", 1, 16, 0, 3, 13, 100, 0.000125f, 750, 1, 0, 0, 1, 0, 0, 25, 51, 0.5f},
    {"Trance I", 2, 4, 0, 60, 0, 97, 0.045f, 20, 0.25f, 0, 45, 1.5f, 0.7f, 100, 15, 60, 0},
    {"Trance II", 2, 4, 0, 60, 0, 97, 0.055f, 22, 0.318f, 0, 45, 3, 5, 100, 7, 40, 0},
    {"Airplaaaine", 2, 1, 0, 0, 0, 0, 0.0015f, 0, 0, 45, 45, 10, 65, 75, 0, 100, 0},
    {"Stereo Airplaaaine", 2, 1, 0, 0, 0, 0, 0.0015f, 0, 0, 0, 0, 10, 65, 75, 0, 100, 0},
    {"Laurel & Hardy", 2, 15, 4, 90, 90, 100, 0.0005f, 12, 0.333f, 45, 315, 5, 100, 100, 50, 50, 0},
    {"Howling Spirits", 2, 1, 4, 18, 0, 0, 0.00161f, 15, 0.0667f, 0, 0, 3, 48, 50, 0, 50, 0},
    {"Instant Honk", 2, 1, 0, 90, 90, 0, 0.024f, 0.5f, 1, 0, 90, 5, 50, 100, 33, 100, 0},
    {"PWM-alyzer", 2, 0, 0, 0, 0, 100, 0.014f, 0, 0, 0, 0, 5, 75, 0, 70.71f, 70.71f, 0},
    {"Rotating Speakers", 2, 0, 1, 90, 0, 0, 0.0012f, 1.5f, 0.667f, 60, 50, 0.1666667f, 33.3333f, 33.3333f, 50, 100, 0},
    {"A very Battered Tape", 2, 0, 0, 0, 0, 0, 0.03f, 0.2f, 0.7f, 0, 0, 4, 100, 0, 0, 100, 1},
    {"Auto Scratcher", 2, 0, 0, 0, 0, 0, 0.1f, 0.3f, 1, 0, 0, 0.4f, 100, 0, 0, 100, 0},
    {"Chaos Scratcher", 2, 14, 0, 0, 0, 0, 1, 1, 0.3f, 45, 45, 3.5f, 100, 0, 30, 70, 0},
    {"Bass fatten I", 3, 2, 5, 45, 0, 0, 0.002f, 0.5f, 0.4f, 45, 45, 1.5f, 60, 100, 30, 70, 3},
    {"Bass fatten II", 3, 2, 5, 45, 0, 0, 0.003f, 1, 0.5f, 45, 45, 1, 55, 100, 30, 70, 6},
    {"Bass fatten III", 3, 2, 5, 45, 0, 0, 0.004f, 2, 0.5f, 45, 45, 0.7f, 50, 100, 30, 70, 12},
    {"Tube Warmth", 3, 0, 0, 9, 0, 0, 0.00035f, 5, 0.05f, 0, 0, 1, 0, 0, 20, 70, 1.2f},
    {"Tube Presence", 3, 0, 2, 90, 0, 0, 0.00035f, 2, 0.25f, 0, 0, 1, 0, 0, 20, 70, 2.5f},
    {"Tube Scream", 3, 0, 5, 90, 0, 100, 0.00015f, 10, 0.3f, 0, 0, 1, 0, 0, 20, 70, 6},
    {"Maximum Overdrive", 3, 0, 0, 0, 0, 0, 0.000125f, 8, 0.5f, 0, 0, 1, 0, 0, 10, 80, 30},
    {"Psychotic Padded Room", 3, 2, 3, 180, 0, 0, 0.01f, 10, 0.1f, 60, 30, 0.002f, 0.5f, 50, 0, 50, 0},
    {"Washing Program (60\xB0)", 3, 2, 2, 35, 0, 0, 0.01f, 4, 0.125f, 0, 0, 0.015f, 7, 100, 0, 50, 0},
    {"Washing Program (95\xB0)", 3, 13, 3, 35, 0, 0, 0.007f, 7, 0.571f, 0, 0, 0.009f, 10, 100, 0, 90, 0},
    {"Major Glitch", 3, 0, 0, 90, 180, 0, 0.000333f, 2, 0.167f, 0, 180, 0.001f, 100, 0, 50, 71, 0},
    {"Drum room XS", 4, 8, 1, 90, 0, 98, 0.003f, 3, 0.667f, 180, 45, 1, 0, 0, 71, 71, 0},
    {"Drum room S", 4, 8, 1, 90, 0, 98, 0.006f, 6, 0.667f, 180, 45, 1, 0, 0, 71, 71, 0},
    {"Drum room M+mod", 4, 8, 1, 90, 0, 98, 0.009f, 9, 0.667f, 180, 45, 0.25f, 4, 100, 80, 60, 0},
    {"Drum room L+mod+sat", 4, 8, 1, 90, 0, 98, 0.012f, 12, 0.75f, 180, 45, 0.25f, 3, 100, 71, 71, 0.5f},
    {"Keys insert XS", 4, 9, 0, 90, 0, 0, 0.014f, 3, 0.667f, 0, 0, 1, 0, 0, 80, 60, 0},
    {"Keys insert S", 4, 9, 0, 90, 0, 0, 0.021f, 4, 0.5f, 0, 0, 1, 0, 0, 80, 60, 0},
    {"Keys insert M+mod", 4, 9, 0, 90, 0, 0, 0.028f, 5, 0.4f, 0, 0, 1.3f, 0.4f, 100, 90, 44, 0},
    {"Keys insert L+mod", 4, 9, 0, 90, 0, 0, 0.035f, 6, 0.333f, 0, 0, 1.7f, 0.6f, 100, 95, 31, 0},
    {"Voice insert S+mod", 4, 3, 0, 90, 0, 99.5f, 0.125f, 3, 0.333f, 0, 120, 2, 0.5f, 100, 95, 31, 0},
    {"Voice insert L+mod", 4, 3, 0, 90, 0, 99.5f, 0.25f, 3, 0.333f, 0, 120, 2, 0.4f, 100, 98, 20, 0},
    {"Slapback insert S", 4, 2, 0, 90, 0, 0, 0.0625f, 0, 0, 0, 45, 1, 0, 0, 71, 71, 0},
    {"Slapback insert L", 4, 3, 0, 0, 0, 0, 0.125f, 0, 0, 0, 45, 1, 0, 0, 71, 71, 0},
    {"Straight Echo", 5, 0, 0, 0, 0, 0, 0.25f, 2, 1, 0, 0, 1, 0, 0, 90, 44, 0},
    {"Stereo Echo", 5, 15, 0, 0, 0, 0, 0.25f, 2, 1, 0, 60, 1, 0, 0, 90, 44, 0},
    {"Rotating Echo", 5, 0, 5, 11.25f, 11.25f, 0, 0.25f, 2, 1, 0, 348.75f, 1, 0, 0, 90, 44, 0},
    {"Dispersing Echo", 5, 1, 0, 90, 0, 0, 0.25f, 2, 1, 0, 45, 1, 0, 0, 90, 44, 0},
    {"Laser Echo", 5, 16, 0, 0, 0, 0, 0.0625f, 4, 1, 0, 0, 1, 0, 0, 90, 44, 0},
    {"Early reflections I", 5, 3, 0, 135, 45, 100, 0.0025f, 4, 1, 0, 0, 1, 0, 0, 20, 75, 0},
    {"Early reflections II", 5, 4, 0, 90, 180, 100, 0.004f, 4, 1, 0, 0, 1, 0, 0, 40, 70, 0},
    {"Early reflections III", 5, 9, 4, 90, 0, 0, 0.003f, 3.5f, 1, 45, 45, 1, 0, 0, 30, 80, 0},
    {"Early reflections IV", 5, 10, 4, 90, 180, 0, 0.0045f, 4, 1, 45, 45, 1, 0, 0, 25, 100, 0},
    {"E major -10c (Hymn)", 6, 12, 0, 3, 2, 0, 0.006045f, 50, 0.06f, 0, 0, 0.7f, 0.3f, 100, 75, 55, 0},
    {"LPF (change inv)", 6, 0, 4, 90, 90, 95, 0.000025f, 8, 0.125f, 0, 0, 1, 0, 0, 50, 100, 0},
    {"HPF (change inv)", 6, 0, 4, 90, 90, 90, 0.000025f, 8, 0.25f, 0, 180, 1, 0, 0, 50, 100, 0},
    {"Auto wah-wah", 6, 0, 4, 90, 90, 95, 0.000025f, 8, 0.125f, 0, 0, 0.25f, 100, 0, 50, 100, 0},
    {"DC notch (sharp)", 6, 0, 5, 0, 0, 100, 0.000025f, 1, 1, 0, 180, 1, 0, 0, 90, 50, 0},
    {"DC notch (flat)", 6, 0, 0, 0, 0, 0, 0.000025f, 0, 0, 0, 180, 1, 0, 0, 71, 71, 0},
    {"L/R --> M/S", 6, 0, 0, 0, 0, 0, 0.000001f, 0, 0, 0, 45, 1, 0, 0, 0, 100, 0},
    {"M/S --> L/R", 6, 0, 0, 0, 0, 0, 0.000001f, 0, 0, 0, 315, 1, 0, 0, 0, 100, 0},
    {"Inverter", 6, 0, 0, 0, 0, 0, 0.000001f, 0, 0, 0, 180, 1, 0, 0, 0, 100, 0},
};
// clang-format on

void ExpectPreset(const sFactoryPreset& got, const sListedPreset& want) {
  SCOPED_TRACE(want.name);
  std::string name(want.name);
  name.resize(sizeof got.name, '\0');
  EXPECT_EQ(std::string(got.name, sizeof got.name), name);
  EXPECT_EQ(got.category, want.category);
  const sSoundValues& v = got.values;
  EXPECT_EQ(v.geometry, want.geometry);
  EXPECT_EQ(v.fbPlane, want.fbPlane);
  EXPECT_EQ(v.fbRot1, want.fbRot1);
  EXPECT_EQ(v.fbRot2, want.fbRot2);
  EXPECT_EQ(v.fbInv, want.fbInv);
  EXPECT_EQ(v.baseDelay, want.baseDelay);
  EXPECT_EQ(v.halflife, want.halflife);
  EXPECT_EQ(v.damping, want.damping);
  EXPECT_EQ(v.inDir, want.inDir);
  EXPECT_EQ(v.outDir, want.outDir);
  EXPECT_EQ(v.modPeriod, want.modPeriod);
  EXPECT_EQ(v.modDepth, want.modDepth);
  EXPECT_EQ(v.modSpread, want.modSpread);
  EXPECT_EQ(v.dryMix, want.dryMix);
  EXPECT_EQ(v.wetMix, want.wetMix);
  EXPECT_EQ(v.ampDrive, want.ampDrive);
  EXPECT_EQ(got.spare, 0);
}

const sListedPreset kListedInit = {"Init", 6, 0, 0, 0, 0, 0, 0.001f, 0, 0, 0, 0, 1, 0, 0, 100, 0, 0};

// The listed value of a parameter, by the name hosts show for it.
float ListedValue(const sListedPreset& p, const std::string& name) {
  const std::pair<const char*, float> columns[] = {
      {"Geometry", static_cast<float>(p.geometry)}, {"FB plane", static_cast<float>(p.fbPlane)},
      {"FB rot 1", p.fbRot1}, {"FB rot 2", p.fbRot2}, {"FB inv", p.fbInv}, {"Base dly", p.baseDelay},
      {"Halflife", p.halflife}, {"Damping", p.damping}, {"In dir", p.inDir}, {"Out dir", p.outDir},
      {"Mod per", p.modPeriod}, {"Mod dep", p.modDepth}, {"Mod spr", p.modSpread}, {"Dry mix", p.dryMix},
      {"Wet mix", p.wetMix}, {"Amp drv", p.ampDrive}};
  for (const auto& [column, value] : columns)
    if (name == column) return value;
  ADD_FAILURE() << "no column " << name;
  return 0.0f;
}

}  // namespace

// The factory data become programs by ID: every stored parameter of every
// slot holds the listed value (a damping of 5 too), the switches none.
TEST(FactoryBank, ProgramsHoldTheListedValuesByID) {
  cReverbCore core;
  for (int32_t k = 0; k < kNumPrograms; ++k) {
    const sListedPreset& want = k < kNumFactoryPresets ? kListed[k] : kListedInit;
    char name[kProgramNameSize] = {};
    ASSERT_TRUE(core.GetProgramName(k, name));
    EXPECT_STREQ(name, want.name);
    for (int32_t id = 0; id < kNumParameters; ++id) {
      const bool isSwitch = id == kParamHold || id == kParamKeepTail;
      EXPECT_EQ(cReverbCore::IsProgramParameter(id), !isSwitch) << id;
      if (isSwitch) continue;
      char shortName[16] = {};
      core.Parameter(id).GetName(shortName);
      EXPECT_EQ(core.ProgramValue(k, id), ListedValue(want, shortName)) << want.name << ": " << shortName;
    }
  }
}

TEST(FactoryBank, PresetsAreAsListed) {
  static_assert(std::size(kListed) == 63);
  ASSERT_EQ(kNumFactoryPresets, 63);
  for (int32_t i = 0; i < kNumFactoryPresets; ++i) ExpectPreset(kFactoryPresets[i], kListed[i]);
}

TEST(FactoryBank, InitIsTheNeutralProgram) {
  ExpectPreset(kInitProgram, kListedInit);
}
