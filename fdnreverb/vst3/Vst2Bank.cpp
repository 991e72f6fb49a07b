// A VST 2.x host's saved state of the VST 2.x build: the bank of all 64
// programs as parameter values, so a project saved with that build sounds the
// same when a format that replaces it (VST3) gets it. The layout is the VST
// 2.x bank file's, big-endian, optionally behind the 'VstW' block VST3 hosts
// put first (its version and the bypass):
//
//   ['VstW' size version bypass] 'CcnK' size 'FxBk' version id fxVersion
//   count [current, 124 bytes]  then count x
//   'CcnK' size 'FxCk' version id fxVersion numParams name[28] value[numParams]
//
// The values are the host's 0..1 values, restored as a VST 2.x host restores
// them: program by program, each selected, renamed and set parameter by
// parameter, then the current program selected again. A value the program
// already has is left alone: taken through the curve again it could come
// back an ulp away from the factory's, and the sound with it.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Vst2Bank.h"

using namespace nimbo;

namespace {

constexpr uint32_t Tag(const char (&t)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(t[0])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(t[1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(t[2])) << 8 | static_cast<uint32_t>(static_cast<uint8_t>(t[3]));
}

class cBigEndian {
 public:
  explicit cBigEndian(std::span<const uint8_t> data) : m_Data(data) {}
  bool Read(uint32_t& v) {
    if (m_Data.size() - m_At < 4) return m_bGood = false;
    v = static_cast<uint32_t>(m_Data[m_At]) << 24 | static_cast<uint32_t>(m_Data[m_At + 1]) << 16 |
        static_cast<uint32_t>(m_Data[m_At + 2]) << 8 | m_Data[m_At + 3];
    m_At += 4;
    return true;
  }
  uint32_t U32() {
    uint32_t v = 0;
    Read(v);
    return v;
  }
  float F32() {
    const uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
  }
  void Skip(size_t n) {
    if (m_Data.size() - m_At < n) m_bGood = false;
    else m_At += n;
  }
  std::string Name() {
    char name[29] = {};
    if (m_Data.size() - m_At < 28) {
      m_bGood = false;
      return {};
    }
    std::memcpy(name, &m_Data[m_At], 28);
    m_At += 28;
    return name;
  }
  bool Good() const { return m_bGood; }
  bool AtEnd() const { return m_At == m_Data.size(); }

 private:
  std::span<const uint8_t> m_Data;
  size_t m_At = 0;
  bool m_bGood = true;
};

struct sVst2Program {
  std::string name;
  std::vector<float> values;
};

// One 'FxCk' program after its 'CcnK'; false unless it is ours and every value lies in 0..1.
bool ReadProgram(cBigEndian& in, sVst2Program& program) {
  in.U32();  // size
  if (in.U32() != Tag("FxCk")) return false;
  in.U32();  // format version
  if (in.U32() != static_cast<uint32_t>(kUniqueId)) return false;
  in.U32();  // the effect's version
  const uint32_t count = in.U32();
  if (!in.Good() || count == 0 || count > static_cast<uint32_t>(kNumParameters)) return false;
  program.name = in.Name();
  program.values.resize(count);
  for (float& v : program.values) {
    v = in.F32();
    if (!(v >= 0.0f && v <= 1.0f)) return false;
  }
  return in.Good();
}

}  // namespace

bool LoadVst2Bank(cReverbCore& core, std::span<const uint8_t> data) {
  cBigEndian in(data);
  uint32_t tag = in.U32();
  bool bypass = false;
  if (tag == Tag("VstW")) {
    const uint32_t size = in.U32();
    if (size < 8) return false;
    in.U32();  // version
    bypass = in.U32() != 0;
    in.Skip(size - 8);
    tag = in.U32();
  }
  if (!in.Good() || tag != Tag("CcnK")) return false;

  std::vector<sVst2Program> programs;
  uint32_t current = 0;
  in.U32();  // size
  const uint32_t kind = in.U32();
  if (kind == Tag("FxBk")) {
    const uint32_t version = in.U32();
    if (in.U32() != static_cast<uint32_t>(kUniqueId)) return false;
    in.U32();  // the effect's version
    const uint32_t count = in.U32();
    if (!in.Good() || count == 0 || count > static_cast<uint32_t>(kNumPrograms)) return false;
    if (version >= 1) {
      current = in.U32();
      in.Skip(124);
    } else {
      in.Skip(128);
    }
    programs.resize(count);
    for (sVst2Program& program : programs)
      if (in.U32() != Tag("CcnK") || !ReadProgram(in, program)) return false;
    if (current >= count) return false;
  } else {
    return false;  // an opaque chunk: the VST 2.x build never writes one
  }
  if (!in.Good() || !in.AtEnd()) return false;

  for (uint32_t i = 0; i < programs.size(); ++i) {
    core.SetProgram(static_cast<int32_t>(i));
    core.SetProgramName(programs[i].name.c_str());
    for (size_t id = 0; id < programs[i].values.size(); ++id) {
      const auto p = static_cast<int32_t>(id);
      if (core.IsProgramParameter(p) && core.Normalized(p) != programs[i].values[id]) core.SetNormalized(p, programs[i].values[id]);
    }
  }
  core.SetProgram(static_cast<int32_t>(current));
  // The switches belong to no program: the current program's record holds what was on.
  for (size_t id = 0; id < programs[current].values.size(); ++id) {
    const auto p = static_cast<int32_t>(id);
    if (!core.IsProgramParameter(p) && core.Normalized(p) != programs[current].values[id]) core.SetNormalized(p, programs[current].values[id]);
  }
  core.SetBypass(bypass);
  return true;
}
