#include "Program.h"

#include <cmath>

#include "../nimbolib/Atomic.h"
#include "ParameterTable.h"

namespace nimbo {

// Delay of each line in multiples of the base delay, by "Geometry".
const float kGeometryRatios[kNumGeometries][kNumLines] = {
    {1.0f, 1.0f, 1.0f, 1.0f},                  // sphere
    {1.0f, 1.04217f, 1.11368f, 1.16901f},      // box1
    {1.0f, 1.05278f, 1.14034f, 1.30188f},      // box2
    {1.0f, 1.21653f, 1.34571f, 1.72331f},      // dense1
    {1.0f, 1.78391f, 2.44266f, 2.62531f},      // dense2
    {1.0f, 1.15229f, 1.6373f, 2.41449f},       // drum
    {1.0f, 1.41423f, 2.22145f, 3.13483f},      // hallway
    {1.0f, 1.67255f, 2.5228f, 3.11476f},       // room1
    {1.0f, 1.44197f, 2.59072f, 3.35687f},      // room2
    {1.0f, 2.24087f, 3.78228f, 4.67942f},      // sparse1
    {1.0f, 2.61727f, 3.78658f, 5.10093f},      // sparse2
    {1.0f, 1.33333f, 1.66667f, 2.0f},          // minor
    {1.0f, 1.33333f, 1.6f, 2.0f},              // major
    {1.0f, 1.33333f, 2.0f, 4.0f},              // harmonic
    {1.0f, 2.0f, 4.0f, 8.0f},                  // octaves
    {1.0f, 1.5f, 2.0f, 3.0f},                  // fifths
    {1.0f, 1.00014f, 1.003f, 1.00314f},        // detuned
};

namespace {

constexpr float kDegToRad = 0.01745329f;

// Unit vector of line i: angle plus a quarter turn per line; sin as cos(x + 270 deg).
void DerivePairs(sPair (&pairs)[kNumLines], float angle) {
  for (int i = 0; i < kNumLines; ++i) {
    const float deg = angle + 90.0f * static_cast<float>(i);
    StoreShared(pairs[i][0], static_cast<float>(std::cos(static_cast<double>(deg * kDegToRad))));
    StoreShared(pairs[i][1], static_cast<float>(std::cos(static_cast<double>((deg + 270.0f) * kDegToRad))));
  }
}

template <class T, int N>
void CopyValues(T (&dst)[N], const T (&src)[N]) {
  for (int i = 0; i < N; ++i) StoreShared(dst[i], LoadShared(src[i]));
}

}  // namespace

void DeriveGeometry(sProgram& program) {
  // Stored geometries come from the bounded parameter or the factory data;
  // the clamp only keeps a corrupt value from reading outside the table.
  const int32_t g = ValueIndex(LoadShared(program.values[kParamGeometry]), kNumGeometries);
  for (int i = 0; i < kNumLines; ++i) StoreShared(program.lineRatio[i], kGeometryRatios[g][i]);
}

void DeriveInputPairs(sProgram& program) { DerivePairs(program.inPair, LoadShared(program.values[kParamInDir])); }
void DeriveOutputPairs(sProgram& program) { DerivePairs(program.outPair, LoadShared(program.values[kParamOutDir])); }

void BuildProgram(sProgram& program, const sFactoryPreset& preset) {
  for (int i = 0; i < kProgramNameSize; ++i) program.name[i] = preset.name[i];
  program.category = preset.category;
  for (int32_t id = 0; id < kNumParameters; ++id)
    program.values[id] = kParameterTable[id].preset.From(preset.values);
  program.spare = preset.spare;
  DeriveGeometry(program);
  DeriveInputPairs(program);
  DeriveOutputPairs(program);
}

const sProgram& FactoryProgram(int32_t index) {
  static const auto* const bank = [] {
    static sProgram records[kNumPrograms] = {};
    for (int32_t i = 0; i < kNumPrograms; ++i)
      BuildProgram(records[i], i < kNumFactoryPresets ? kFactoryPresets[i] : kInitProgram);
    return records;
  }();
  return bank[index];
}

void CopySound(sProgram& dst, const sProgram& src, bool ratios, bool inPairs, bool outPairs) {
  for (int32_t id = 0; id < kNumParameters; ++id)
    if (IsStoredInPrograms(id)) StoreShared(dst.values[id], LoadShared(src.values[id]));
  if (ratios) CopyValues(dst.lineRatio, src.lineRatio);
  for (int i = 0; i < kNumLines; ++i) {
    if (inPairs) CopyValues(dst.inPair[i], src.inPair[i]);
    if (outPairs) CopyValues(dst.outPair[i], src.outPair[i]);
  }
}

void CopyProgram(sProgram& dst, const sProgram& src) {
  CopyValues(dst.name, src.name);
  StoreShared(dst.category, LoadShared(src.category));
  StoreShared(dst.spare, LoadShared(src.spare));
  CopySound(dst, src, true, true, true);
}

}  // namespace nimbo
