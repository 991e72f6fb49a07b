// The 18 host parameters: names, groups, curves, ranges, display formats.
#include <iterator>

#include "cReverbCore.h"

using namespace nimbo;

namespace {

constexpr const char* kGeometryNames[] = {"sphere",  "box1",    "box2",  "dense1", "dense2",   "drum",
                                          "hallway", "room1",   "room2", "sparse1", "sparse2", "minor",
                                          "major",   "harmonic", "octaves", "fifths", "detuned"};
constexpr const char* kPlaneNames[] = {"dense1", "dense2", "sparse1", "sparse2", "block1", "block2"};
constexpr const char* kSwitchNames[] = {"off", "on"};
static_assert(std::size(kGeometryNames) == kNumGeometries && std::size(kPlaneNames) == kNumPlanes);

constexpr const char* kGroupNames[] = {"", "Delay Body", "Feedback", "Non-Linear", "Input/Output", "Meta controls"};
constexpr int32_t kGroupSizes[] = {0, 4, 4, 4, 4, 2};

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
};

// clang-format off
constexpr sParameterSpec kParameterTable[kNumParameters] = {
    {.shortName = "Geometry", .longName = "Geometry", .group = 1, .indexInGroup = 0, .curve = kCurveInteger, .min = 0, .max = 16, .enumNames = kGeometryNames},
    {.shortName = "Base dly", .longName = "Base delay time", .group = 1, .indexInGroup = 1, .curve = kCurveLog, .min = 0.000001f, .max = 1, .unit = "s", .siPrefix = true},
    {.shortName = "Halflife", .longName = "Half life", .group = 1, .indexInGroup = 2, .curve = kCurveLog, .min = 0.1f, .max = 1000, .format = "%1.2f", .unit = "\xD7 base", .zeroIsOff = true},
    {.shortName = "Damping", .longName = "Damping", .group = 1, .indexInGroup = 3, .curve = kCurveSquare, .min = 0, .max = 1, .format = "%1.2f", .zeroIsOff = true},
    {.shortName = "FB plane", .longName = "Feedback rotation plane", .group = 2, .indexInGroup = 0, .curve = kCurveInteger, .min = 0, .max = 5, .enumNames = kPlaneNames},
    {.shortName = "FB rot 1", .longName = "Feedback rotation angle 1", .group = 2, .indexInGroup = 1, .curve = kCurveSmoothstep, .min = 0, .max = 180, .format = "%1.2f", .unit = "\xB0"},
    {.shortName = "FB rot 2", .longName = "Feedback rotation angle 2", .group = 2, .indexInGroup = 2, .curve = kCurveSmoothstep, .min = 0, .max = 180, .format = "%1.2f", .unit = "\xB0"},
    {.shortName = "FB inv", .longName = "Feedback inverter", .group = 2, .indexInGroup = 3, .curve = kCurveInverseSquare, .min = 0, .max = 100, .format = "%1.2f", .unit = "%"},
    {.shortName = "Mod dep", .longName = "Modulation depth", .group = 3, .indexInGroup = 0, .curve = kCurveLog, .min = 0.01f, .max = 100, .format = "%1.2f", .unit = "%", .zeroIsOff = true},
    {.shortName = "Mod per", .longName = "Modulation period", .group = 3, .indexInGroup = 1, .curve = kCurveLog, .min = 0.001f, .max = 20, .unit = "s", .siPrefix = true},
    {.shortName = "Mod spr", .longName = "Modulation spread", .group = 3, .indexInGroup = 2, .curve = kCurveLinear, .min = 0, .max = 100, .format = "%1.0f", .unit = "%"},
    {.shortName = "Amp drv", .longName = "Amp saturation drive", .group = 3, .indexInGroup = 3, .curve = kCurveSquare, .min = 0, .max = 30, .format = "%1.1f", .unit = "\xD7", .zeroIsOff = true},
    {.shortName = "In dir", .longName = "Input rotation", .group = 4, .indexInGroup = 0, .curve = kCurveLinear, .min = 0, .max = 360, .format = "%1.0f", .unit = "\xB0"},
    {.shortName = "Out dir", .longName = "Output rotation", .group = 4, .indexInGroup = 1, .curve = kCurveLinear, .min = 0, .max = 360, .format = "%1.0f", .unit = "\xB0"},
    {.shortName = "Dry mix", .longName = "Dry mix", .group = 4, .indexInGroup = 2, .curve = kCurveSquare, .min = 0, .max = 200, .format = "%1.0f", .unit = "%"},
    {.shortName = "Wet mix", .longName = "Wet mix", .group = 4, .indexInGroup = 3, .curve = kCurveSquare, .min = 0, .max = 200, .format = "%1.0f", .unit = "%"},
    {.shortName = "Hold", .longName = "Hold", .group = 5, .indexInGroup = 0, .curve = kCurveInteger, .min = 0, .max = 1, .enumNames = kSwitchNames},
    {.shortName = "Dr. Who", .longName = "Dr. Who", .group = 5, .indexInGroup = 1, .curve = kCurveInteger, .min = 0, .max = 1, .enumNames = kSwitchNames},
};
// clang-format on

}  // namespace

void cReverbCore::SetupParameters() {
  sSoundValues& v = m_EditProgram.values;
  float* const floatBindings[kNumParameters] = {
      nullptr,      &v.baseDelay, &v.halflife,  &v.damping,  nullptr,  &v.fbRot1,  &v.fbRot2,  &v.fbInv,
      &v.modDepth, &v.modPeriod, &v.modSpread, &v.ampDrive, &v.inDir, &v.outDir, &v.dryMix, &v.wetMix,
      nullptr,      nullptr};
  int32_t* const intBindings[kNumParameters] = {&v.geometry, nullptr, nullptr, nullptr, &v.fbPlane, nullptr,
                                                nullptr,     nullptr, nullptr, nullptr, nullptr,    nullptr,
                                                nullptr,     nullptr, nullptr, nullptr, &m_Hold,    &m_KeepTail};
  for (int32_t i = 0; i < kNumParameters; ++i) {
    const sParameterSpec& spec = kParameterTable[i];
    cParameter& p = m_Parameters[static_cast<size_t>(i)];
    p.shortName = spec.shortName;
    p.longName = spec.longName;
    p.group = spec.group;
    p.groupName = kGroupNames[spec.group];
    p.indexInGroup = spec.indexInGroup;
    p.groupSize = kGroupSizes[spec.group];
    p.format = spec.format;
    p.siPrefix = spec.siPrefix;
    p.zeroIsOff = spec.zeroIsOff;
    p.unit = spec.unit;
    p.enumNames = spec.enumNames;
    p.SetRange(spec.curve, spec.min, spec.max);
    if (intBindings[i]) p.BindInt(intBindings[i]);
    if (floatBindings[i]) p.BindFloat(floatBindings[i]);
  }
}
