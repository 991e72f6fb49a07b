// Program records: the host-visible values of one program plus the fields the
// engine derives from them, so the derived data travel with the program.
#pragma once

#include <cstdint>

constexpr int32_t kNumPrograms = 64;
constexpr int32_t kNumLines = 4;
constexpr int32_t kNumGeometries = 17;
constexpr int32_t kNumPlanes = 6;
constexpr int32_t kProgramNameSize = 28;
constexpr int32_t kProgramNameLength = 24;  // renaming keeps at most this many characters

// The 16 sound parameters in their own units (seconds, degrees, percent, multiples).
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

struct sProgram {
  char name[kProgramNameSize];
  int32_t category;
  sSoundValues values;
  int32_t spare;
  float lineRatio[kNumLines];   // delay of each line in base delays
  sPair inPair[kNumLines];      // input rotation gains
  sPair outPair[kNumLines];     // output rotation gains
};
static_assert(sizeof(sProgram) == 45 * 4);
static_assert(sizeof(sFactoryPreset) == 25 * 4);

constexpr int32_t kNumFactoryPresets = 63;
static_assert(kNumFactoryPresets <= kNumPrograms);
extern const sFactoryPreset kFactoryPresets[kNumFactoryPresets];
extern const sFactoryPreset kInitProgram;
extern const float kGeometryRatios[kNumGeometries][kNumLines];

// Derived fields; safe to call while another thread reads the record.
void DeriveGeometry(sProgram& program);
void DeriveInputPairs(sProgram& program);
void DeriveOutputPairs(sProgram& program);
void BuildProgram(sProgram& program, const sFactoryPreset& preset);

// Whole-record copy, value by value, for records other threads may touch.
void CopyProgram(sProgram& dst, const sProgram& src);
// The sound values and the derived fields asked for: what the engine reads.
void CopySound(sProgram& dst, const sProgram& src, bool ratios, bool inPairs, bool outPairs);
