// The 18 host parameters, one row each: names, group, curve, range, display
// format and unit, named values, and where the factory data keep the value.
// Everything else about a parameter (conversions, texts, which programs store
// it) follows from its row.
#pragma once

#include <cstdint>
#include <iterator>

#include "Program.h"
#include "cParameter.h"

namespace nimbo {

// A field of the factory data's layout; the whole numbers are named values.
struct sPresetField {
  constexpr sPresetField() = default;
  constexpr sPresetField(float sSoundValues::* f) : real(f) {}
  constexpr sPresetField(int32_t sSoundValues::* f) : whole(f) {}
  constexpr bool Stored() const { return real != nullptr || whole != nullptr; }
  constexpr float From(const sSoundValues& v) const {
    return real ? v.*real : whole ? static_cast<float>(v.*whole) : 0.0f;
  }
  float sSoundValues::* real = nullptr;
  int32_t sSoundValues::* whole = nullptr;
};

inline constexpr const char* kGeometryNames[] = {"sphere",  "box1",     "box2",    "dense1", "dense2",  "drum",
                                                 "hallway", "room1",    "room2",   "sparse1", "sparse2", "minor",
                                                 "major",   "harmonic", "octaves", "fifths", "detuned"};
inline constexpr const char* kPlaneNames[] = {"dense1", "dense2", "sparse1", "sparse2", "block1", "block2"};
inline constexpr const char* kSwitchNames[] = {"off", "on"};
static_assert(std::size(kGeometryNames) == kNumGeometries && std::size(kPlaneNames) == kNumPlanes);

inline constexpr const char* kGroupNames[] = {"",           "Delay Body",   "Feedback",
                                              "Non-Linear", "Input/Output", "Meta controls"};

struct sParameterSpec {
  const char* shortName;
  const char* longName;
  int32_t group;
  int32_t indexInGroup;
  int32_t curve;
  float min;
  float max;
  const char* format = "";
  const char* unit = "";  // Windows-1252: 0xB0 degree, 0xD7 multiplication sign
  bool siPrefix = false;
  bool zeroIsOff = false;
  const char* const* enumNames = nullptr;
  sPresetField preset = {};  // where the factory data keep it; none: a switch no program stores
};

// clang-format off
inline constexpr sParameterSpec kParameterTable[kNumParameters] = {
    {.shortName = "Geometry", .longName = "Geometry", .group = 1, .indexInGroup = 0, .curve = nimbo::kCurveInteger, .min = 0, .max = 16, .enumNames = kGeometryNames, .preset = &sSoundValues::geometry},
    {.shortName = "Base dly", .longName = "Base delay time", .group = 1, .indexInGroup = 1, .curve = nimbo::kCurveLog, .min = 0.000001f, .max = 1, .unit = "s", .siPrefix = true, .preset = &sSoundValues::baseDelay},
    {.shortName = "Halflife", .longName = "Half life", .group = 1, .indexInGroup = 2, .curve = nimbo::kCurveLog, .min = 0.1f, .max = 1000, .format = "%1.2f", .unit = "\xD7 base", .zeroIsOff = true, .preset = &sSoundValues::halflife},
    {.shortName = "Damping", .longName = "Damping", .group = 1, .indexInGroup = 3, .curve = nimbo::kCurveSquare, .min = 0, .max = 1, .format = "%1.2f", .zeroIsOff = true, .preset = &sSoundValues::damping},
    {.shortName = "FB plane", .longName = "Feedback rotation plane", .group = 2, .indexInGroup = 0, .curve = nimbo::kCurveInteger, .min = 0, .max = 5, .enumNames = kPlaneNames, .preset = &sSoundValues::fbPlane},
    {.shortName = "FB rot 1", .longName = "Feedback rotation angle 1", .group = 2, .indexInGroup = 1, .curve = nimbo::kCurveSmoothstep, .min = 0, .max = 180, .format = "%1.2f", .unit = "\xB0", .preset = &sSoundValues::fbRot1},
    {.shortName = "FB rot 2", .longName = "Feedback rotation angle 2", .group = 2, .indexInGroup = 2, .curve = nimbo::kCurveSmoothstep, .min = 0, .max = 180, .format = "%1.2f", .unit = "\xB0", .preset = &sSoundValues::fbRot2},
    {.shortName = "FB inv", .longName = "Feedback inverter", .group = 2, .indexInGroup = 3, .curve = nimbo::kCurveInverseSquare, .min = 0, .max = 100, .format = "%1.2f", .unit = "%", .preset = &sSoundValues::fbInv},
    {.shortName = "Mod dep", .longName = "Modulation depth", .group = 3, .indexInGroup = 0, .curve = nimbo::kCurveLog, .min = 0.01f, .max = 100, .format = "%1.2f", .unit = "%", .zeroIsOff = true, .preset = &sSoundValues::modDepth},
    {.shortName = "Mod per", .longName = "Modulation period", .group = 3, .indexInGroup = 1, .curve = nimbo::kCurveLog, .min = 0.001f, .max = 20, .unit = "s", .siPrefix = true, .preset = &sSoundValues::modPeriod},
    {.shortName = "Mod spr", .longName = "Modulation spread", .group = 3, .indexInGroup = 2, .curve = nimbo::kCurveLinear, .min = 0, .max = 100, .format = "%1.0f", .unit = "%", .preset = &sSoundValues::modSpread},
    {.shortName = "Amp drv", .longName = "Amp saturation drive", .group = 3, .indexInGroup = 3, .curve = nimbo::kCurveSquare, .min = 0, .max = 30, .format = "%1.1f", .unit = "\xD7", .zeroIsOff = true, .preset = &sSoundValues::ampDrive},
    {.shortName = "In dir", .longName = "Input rotation", .group = 4, .indexInGroup = 0, .curve = nimbo::kCurveLinear, .min = 0, .max = 360, .format = "%1.0f", .unit = "\xB0", .preset = &sSoundValues::inDir},
    {.shortName = "Out dir", .longName = "Output rotation", .group = 4, .indexInGroup = 1, .curve = nimbo::kCurveLinear, .min = 0, .max = 360, .format = "%1.0f", .unit = "\xB0", .preset = &sSoundValues::outDir},
    {.shortName = "Dry mix", .longName = "Dry mix", .group = 4, .indexInGroup = 2, .curve = nimbo::kCurveSquare, .min = 0, .max = 200, .format = "%1.0f", .unit = "%", .preset = &sSoundValues::dryMix},
    {.shortName = "Wet mix", .longName = "Wet mix", .group = 4, .indexInGroup = 3, .curve = nimbo::kCurveSquare, .min = 0, .max = 200, .format = "%1.0f", .unit = "%", .preset = &sSoundValues::wetMix},
    {.shortName = "Hold", .longName = "Hold", .group = 5, .indexInGroup = 0, .curve = nimbo::kCurveInteger, .min = 0, .max = 1, .enumNames = kSwitchNames},
    {.shortName = "Dr. Who", .longName = "Dr. Who", .group = 5, .indexInGroup = 1, .curve = nimbo::kCurveInteger, .min = 0, .max = 1, .enumNames = kSwitchNames},
};
// clang-format on

// Programs store every parameter with a place in the factory data, the factory
// data have no field without a row, and the IDs fill the table.
constexpr bool PresetFieldsComplete() {
  size_t n = 0;
  for (int32_t id = 0; id < kNumParameters; ++id) {
    const sPresetField& field = kParameterTable[id].preset;
    if (!field.Stored()) continue;
    ++n;
    for (int32_t other = 0; other < id; ++other)
      if ((field.real && kParameterTable[other].preset.real == field.real) ||
          (field.whole && kParameterTable[other].preset.whole == field.whole))
        return false;
  }
  return n * sizeof(float) == sizeof(sSoundValues);
}
static_assert(PresetFieldsComplete());
static_assert(std::size(kParameterTable) == kNumParameters);

constexpr bool IsStoredInPrograms(int32_t id) { return kParameterTable[id].preset.Stored(); }

constexpr int32_t GroupSize(int32_t group) {
  int32_t n = 0;
  for (const sParameterSpec& row : kParameterTable) n += row.group == group ? 1 : 0;
  return n;
}

}  // namespace nimbo
