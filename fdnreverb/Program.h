// Program records: the plain values of one program by parameter ID plus the
// fields the engine derives from them, so the derived data travel with the program.
#pragma once

#include <cstdint>

namespace nimbo {

constexpr int32_t kNumParameters = 18;

// Parameter IDs, in every format: the VST 2.x indices.
enum : int32_t {
  kParamGeometry, kParamBaseDelay, kParamHalflife, kParamDamping,
  kParamFbPlane, kParamFbRot1, kParamFbRot2, kParamFbInv,
  kParamModDepth, kParamModPeriod, kParamModSpread, kParamAmpDrive,
  kParamInDir, kParamOutDir, kParamDryMix, kParamWetMix,
  kParamHold, kParamKeepTail,
};

constexpr int32_t kNumPrograms = 64;
constexpr int32_t kNumLines = 4;
constexpr int32_t kNumGeometries = 17;
constexpr int32_t kNumPlanes = 6;
constexpr int32_t kProgramNameSize = 28;
constexpr int32_t kProgramNameLength = 24;  // renaming keeps at most this many characters

// The factory data's layout of the 16 sound parameters in their own units
// (seconds, degrees, percent, multiples); programs hold them by ID.
struct sSoundValues {
  int32_t geometry;   // 0..16, index into the geometry table
  int32_t fbPlane;    // 0..5, index into the rotation-plane tables
  float fbRot1;       // degrees
  float fbRot2;       // degrees
  float fbInv;        // percent
  float baseDelay;    // seconds
  float halflife;     // multiples of the base delay; 0 = off
  float damping;      // 0 = off
  float inDir;        // degrees
  float outDir;       // degrees
  float modPeriod;    // seconds
  float modDepth;     // percent; 0 = off
  float modSpread;    // percent
  float dryMix;       // percent
  float wetMix;       // percent
  float ampDrive;     // factor; 0 = off
};

// The first 25 words of a program, as the factory data store them.
struct sFactoryPreset {
  char name[kProgramNameSize];
  int32_t category;  // 0..6; kept with the preset, read by nothing
  sSoundValues values;
  int32_t spare = 0;  // always 0
};

using sPair = float[2];  // L, R

// Plain values by ID. Only the parameters programs store are copied between
// records; the live record also holds the switches. Named values are whole
// numbers.
using sPlainValues = float[kNumParameters];

struct sProgram {
  char name[kProgramNameSize];
  int32_t category;
  sPlainValues values;
  int32_t spare;
  float lineRatio[kNumLines];   // delay of each line in base delays
  sPair inPair[kNumLines];      // input rotation gains
  sPair outPair[kNumLines];     // output rotation gains
};
static_assert(sizeof(sFactoryPreset) == 25 * 4);

constexpr int32_t kNumFactoryPresets = 63;
static_assert(kNumFactoryPresets <= kNumPrograms);
extern const sFactoryPreset kFactoryPresets[kNumFactoryPresets];
extern const sFactoryPreset kInitProgram;
extern const float kGeometryRatios[kNumGeometries][kNumLines];

// The index a stored named value stands for, within [0, count); NaN gives 0.
inline int32_t ValueIndex(float v, int32_t count) {
  return v >= 1.0f ? (v < static_cast<float>(count - 1) ? static_cast<int32_t>(v) : count - 1) : 0;
}

// Derived fields; safe to call while another thread reads the record.
void DeriveGeometry(sProgram& program);
void DeriveInputPairs(sProgram& program);
void DeriveOutputPairs(sProgram& program);
// A factory preset as a record by ID; the switches' slots are 0.
void BuildProgram(sProgram& program, const sFactoryPreset& preset);

// The factory bank as records, made once on first use; slots after the
// factory presets hold the init program.
const sProgram& FactoryProgram(int32_t index);

// Whole-record copy, value by value, for records other threads may touch;
// the switches' slots of dst are kept.
void CopyProgram(sProgram& dst, const sProgram& src);
// The sound values and the derived fields asked for: what the engine reads.
void CopySound(sProgram& dst, const sProgram& src, bool ratios, bool inPairs, bool outPairs);

}  // namespace nimbo
