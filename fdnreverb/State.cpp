// The saved state of every format but VST 2.x: what a project needs to sound
// the same when it is opened again.
//
//   offset  size  field
//        0     4  "NMBH"
//        4     4  version (1)
//        8     4  total size in bytes (96)
//       12     4  current program, 0..63
//       16     4  flags: bit 0 bypass; other bits 0
//       20    72  the 18 parameter values in their own units, float, by ID
//       92    72  the same as the host's 0..1 values, float, by ID
//      164     4  CRC-32 (IEEE) of bytes 0..163
//
// All little-endian. A loader refuses versions it does not know.
#include <cmath>
#include <cstring>

#include "../nimbolib/Atomic.h"
#include "cReverbCore.h"

namespace nimbo {

namespace {

constexpr uint8_t kMagic[4] = {'N', 'M', 'B', 'H'};
constexpr uint32_t kVersion = 1;
constexpr size_t kValuesAt = 20;
constexpr size_t kNormalizedAt = kValuesAt + 4 * kNumParameters;
constexpr size_t kCrcAt = kNormalizedAt + 4 * kNumParameters;
static_assert(kCrcAt + 4 == cReverbCore::kStateSize);

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutU32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

uint32_t FloatBits(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return bits;
}

float BitsFloat(uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

}  // namespace

void cReverbCore::SaveState(std::span<uint8_t, kStateSize> out) const {
  uint8_t* s = out.data();
  std::memset(s, 0, kStateSize);
  std::memcpy(s, kMagic, 4);
  PutU32(s + 4, kVersion);
  PutU32(s + 8, static_cast<uint32_t>(kStateSize));
  PutU32(s + 12, static_cast<uint32_t>(CurrentProgram()));
  PutU32(s + 16, Bypassed() ? 1u : 0u);
  for (int32_t id = 0; id < kNumParameters; ++id) {
    PutU32(s + kValuesAt + 4 * id, FloatBits(Plain(id)));
    PutU32(s + kNormalizedAt + 4 * id, FloatBits(Normalized(id)));
  }
  PutU32(s + kCrcAt, Crc32(s, kCrcAt));
}

bool cReverbCore::LoadState(std::span<const uint8_t> data) {
  const uint8_t* s = data.data();
  if (data.size() != kStateSize || std::memcmp(s, kMagic, 4) != 0) return false;
  if (GetU32(s + 4) != kVersion || GetU32(s + 8) != kStateSize || GetU32(s + kCrcAt) != Crc32(s, kCrcAt)) return false;
  const uint32_t program = GetU32(s + 12), flags = GetU32(s + 16);
  if (program >= static_cast<uint32_t>(kNumPrograms) || (flags & ~1u) != 0) return false;
  float values[kNumParameters], normalized[kNumParameters];
  for (int32_t id = 0; id < kNumParameters; ++id) {
    const cParameter& p = Parameter(id);
    const float v = values[id] = BitsFloat(GetU32(s + kValuesAt + 4 * id));
    const float n = normalized[id] = BitsFloat(GetU32(s + kNormalizedAt + 4 * id));
    if (!std::isfinite(v) || !(n >= 0.0f && n <= 1.0f)) return false;
    if (p.curve == kCurveInteger && (v != std::floor(v) || v < p.minValue || v > p.maxValue)) return false;
    // What the parameter can be set to, or what a factory program stores.
    const bool off = p.zeroIsOff && v == 0.0f;
    if (!off && (v < m_StateLow[id] || v > m_StateHigh[id])) return false;
  }

  {
    cControlGuard guard(m_ControlMutex);
    BeginEdit();
    CopyProgram(m_EditProgram, m_Programs[program]);
    for (int32_t id = 0; id < kNumParameters; ++id) StoreShared(m_EditProgram.values[id], Parameter(id).Stored(values[id]));
    DeriveGeometry(m_EditProgram);
    DeriveInputPairs(m_EditProgram);
    DeriveOutputPairs(m_EditProgram);
    EndEdit();
    m_CurrentProgram = static_cast<int32_t>(program);
    // The host's values exactly as saved; the plain ones drive the sound.
    for (int32_t id = 0; id < kNumParameters; ++id)
      m_Parameters[static_cast<size_t>(id)].Restore(values[id], normalized[id]);
  }
  SetBypass((flags & 1u) != 0);
  MarkAllDirty();
  return true;
}

}  // namespace nimbo
