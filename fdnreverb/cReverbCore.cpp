#include "cReverbCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "../nimbolib/Atomic.h"
#include "../nimbolib/Text.h"
#include "ParameterTable.h"

namespace nimbo {

cReverbCore::cReverbCore() {
  for (int32_t i = 0; i < kNumPrograms; ++i) m_Programs[i] = FactoryProgram(i);
  m_EditProgram = m_Programs[0];
  SetupParameters();
  SyncAllParameters();
  for (int32_t id = 0; id < kNumParameters; ++id) {
    m_Defaults[id] = Plain(id);
    m_StateLow[id] = Parameter(id).minValue;
    m_StateHigh[id] = Parameter(id).maxValue;
    for (int32_t k = 0; k < kNumPrograms; ++k) {
      const float v = ProgramValue(k, id);
      if (Parameter(id).zeroIsOff && v == 0.0f) continue;  // "off" is allowed anyway, and only exactly 0
      m_StateLow[id] = std::min(m_StateLow[id], v);
      m_StateHigh[id] = std::max(m_StateHigh[id], v);
    }
  }
}

// ---- parameters -------------------------------------------------------------------

void cReverbCore::SetNormalized(int32_t id, float n) {
  if (!IsParameter(id)) return;
  m_Parameters[static_cast<size_t>(id)].SetNormalized(n != n ? 1.0f : std::clamp(n, 0.0f, 1.0f));
  OnParameterChanged(id);
}

bool cReverbCore::SetPlain(int32_t id, float plain) {
  if (!IsParameter(id) || plain != plain) return false;
  m_Parameters[static_cast<size_t>(id)].SetPlain(plain);
  OnParameterChanged(id);
  return true;
}

void cReverbCore::OnParameterChanged(int32_t id) {
  if (IsParameter(id)) StoreShared(m_EditProgram.values[id], Parameter(id).Stored(Plain(id)));
  if (id == kParamGeometry) DeriveGeometry(m_EditProgram);
  if (id == kParamInDir) DeriveInputPairs(m_EditProgram);
  if (id == kParamOutDir) DeriveOutputPairs(m_EditProgram);
  m_bTailDirty.store(true, std::memory_order_release);
  m_Stale.fetch_or(StaleParts(id), std::memory_order_release);
  m_ValueChanges.fetch_add(1, std::memory_order_release);
}

uint32_t cReverbCore::StaleParts(int32_t id) {
  switch (id) {
    case kParamGeometry: return kStaleLengths | kStaleModulation | kStaleDecay;
    case kParamBaseDelay: return kStaleLengths | kStaleModulation | kStaleHighpass;
    case kParamHalflife:
    case kParamDamping: return kStaleDecay;
    case kParamFbPlane:
    case kParamFbRot1:
    case kParamFbRot2: return kStaleMatrix;
    case kParamModDepth:
    case kParamModPeriod:
    case kParamModSpread: return kStaleModulation;
    case kParamFbInv:
    case kParamAmpDrive:
    case kParamInDir:
    case kParamOutDir:
    case kParamDryMix:
    case kParamWetMix: return kStaleMix;
    case kParamHold:
    case kParamKeepTail: return kStaleSwitch;
    default: return kStaleAll & ~(kStaleLengths | kStaleModulation);
  }
}

void cReverbCore::ValueText(int32_t id, float plain, char (&text)[kValueTextSize]) const {
  if (IsParameter(id)) Parameter(id).ComposeText(plain, text);
  else text[0] = '\0';
}

bool cReverbCore::ParseValue(int32_t id, const char* text, float& plain) const {
  return IsParameter(id) && Parameter(id).ParseText(text, plain);
}

void cReverbCore::SyncAllParameters() {
  for (int32_t id = 0; id < kNumParameters; ++id) m_Parameters[static_cast<size_t>(id)].Sync(LiveValue(id));
}

// ---- programs -----------------------------------------------------------------------

void cReverbCore::BeginEdit() {
  m_EditSequence.store(m_EditSequence.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
}

void cReverbCore::EndEdit() {
  m_EditSequence.store(m_EditSequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool cReverbCore::SnapshotProgram(sProgram& program, uint32_t stale) const {
  const uint32_t before = m_EditSequence.load(std::memory_order_acquire);
  if (before & 1u) return false;
  cFDNengine::CopyStaleFields(program, m_EditProgram, stale);
  std::atomic_thread_fence(std::memory_order_acquire);
  return m_EditSequence.load(std::memory_order_relaxed) == before;
}

void cReverbCore::MarkAllDirty() {
  m_bTailDirty.store(true, std::memory_order_release);
  m_bResetPending = true;
  m_Stale.fetch_or(kStaleAll, std::memory_order_release);
  m_ValueChanges.fetch_add(1, std::memory_order_release);
}

void cReverbCore::SetProgram(int32_t index) {
  cControlGuard guard(m_ControlMutex);
  SwitchProgram(index);
}

bool cReverbCore::TrySetProgram(int32_t index) {
  if (!m_ControlMutex.try_lock()) return false;
  SwitchProgram(index);
  m_ControlMutex.unlock();
  return true;
}

void cReverbCore::SwitchProgram(int32_t index) {
  const int32_t current = m_CurrentProgram.load();
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms) || index == current) return;
  BeginEdit();
  CopyProgram(m_Programs[current], m_EditProgram);
  m_CurrentProgram = index;
  CopyProgram(m_EditProgram, m_Programs[index]);
  EndEdit();
  SyncAllParameters();
  MarkAllDirty();
}

void cReverbCore::LoadProgram(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms)) return;
  cControlGuard guard(m_ControlMutex);
  const sProgram& fresh = FactoryProgram(index);
  BeginEdit();
  CopyProgram(m_Programs[index], fresh);
  m_CurrentProgram = index;
  CopyProgram(m_EditProgram, fresh);
  EndEdit();
  SyncAllParameters();
  MarkAllDirty();
}

const char* cReverbCore::FactoryProgramName(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms)) return nullptr;
  return index < kNumFactoryPresets ? kFactoryPresets[index].name : kInitProgram.name;
}

void cReverbCore::SetProgramName(const char* name) {
  cControlGuard guard(m_ControlMutex);
  char copy[kProgramNameSize] = {};
  CopyPadded(copy, name, kProgramNameLength);
  StoreSharedText(m_EditProgram.name, copy, kProgramNameLength + 1);
  StoreSharedText(m_Programs[m_CurrentProgram.load()].name, copy, kProgramNameLength + 1);
}

bool cReverbCore::GetProgramName(int32_t index, char* text) const {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms)) return false;
  LoadSharedText(text, m_Programs[index].name, kProgramNameLength);
  text[kProgramNameLength] = '\0';
  return true;
}

bool cReverbCore::StoreProgram(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms)) return false;
  cControlGuard guard(m_ControlMutex);
  CopyProgram(m_Programs[index], m_EditProgram);
  return true;
}

bool cReverbCore::IsProgramParameter(int32_t id) { return IsParameter(id) && IsStoredInPrograms(id); }

float cReverbCore::ProgramValue(int32_t index, int32_t id) const {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms) || !IsParameter(id)) return 0.0f;
  if (!IsProgramParameter(id)) return Plain(id);  // a switch: not part of any program
  return LoadShared(m_Programs[index].values[id]);
}

// ---- lifecycle ----------------------------------------------------------------------

bool cReverbCore::Open(float sampleRate) {
  m_SampleRate = sampleRate;
  m_bTailDirty.store(true, std::memory_order_release);
  if (!m_Engine.Open()) return false;
  m_Stale.fetch_or(kStaleAll, std::memory_order_release);
  return true;
}

void cReverbCore::Close() { m_Engine.Close(); }

void cReverbCore::SetSampleRate(float sampleRate) {
  m_SampleRate = sampleRate;
  MarkAllDirty();
}

// ---- audio --------------------------------------------------------------------------

bool cReverbCore::BeginStretch(int32_t frames) {
  if (!m_Engine.IsReady() || frames < 0) return false;
  // Reset first, then coefficients: the reset uses the delays in force before the update.
  if (m_bResetPending.exchange(false)) m_Engine.ResetNetwork(LiveValue(kParamKeepTail) != 0.0f);
  if (m_Stale.load(std::memory_order_relaxed) != 0) {
    const uint32_t stale = m_Stale.exchange(0, std::memory_order_acquire);
    sProgram program;
    if (SnapshotProgram(program, stale)) {
      m_Engine.UpdateCoefficients(program, m_SampleRate.load(std::memory_order_relaxed), stale);
    } else {
      // A whole-program change is being written: keep the old coefficients for this stretch.
      m_Stale.fetch_or(stale, std::memory_order_release);
    }
  }
  return frames > 0;
}

void cReverbCore::Process(const float* inL, const float* inR, float* outL, float* outR, int32_t frames) {
  if (BeginStretch(frames)) Render(inL, inR, outL, outR, frames, Hold());
}

void cReverbCore::Render(const float* inL, const float* inR, float* outL, float* outR, int32_t frames, bool hold) {
  const bool bypass = m_bBypass.load(std::memory_order_relaxed);
  if (!bypass && m_BypassMix == 0.0f) {
    m_Engine.Process(inL, inR, outL, outR, frames, hold);
  } else if (bypass && m_BypassMix == 1.0f) {
    if (outL != inL) std::memmove(outL, inL, sizeof(float) * static_cast<size_t>(frames));
    if (outR != inR) std::memmove(outR, inR, sizeof(float) * static_cast<size_t>(frames));
  } else {
    RenderBypassFade(inL, inR, outL, outR, frames, hold);
  }
}

namespace {

bool Quiet(const float* x, int32_t frames) {
  for (int32_t k = 0; k < frames; ++k)
    if (!(std::fabs(x[k]) <= kSleepLevel)) return false;
  return true;
}

}  // namespace

bool cReverbCore::ProcessOrSleep(const float* inL, const float* inR, float* outL, float* outR, int32_t frames,
                                 bool inputSilent) {
  if (!BeginStretch(frames)) return frames == 0 && m_bAsleep;
  const bool hold = Hold();
  if (m_bBypass.load(std::memory_order_relaxed) || m_BypassMix != 0.0f) {
    // The fade and the bypass cost little; the network stays cleared while bypassed anyway.
    m_bAsleep = false;
    m_QuietFrames = 0;
    Render(inL, inR, outL, outR, frames, hold);
    return false;
  }
  const bool quiet = hold || inputSilent || (Quiet(inL, frames) && Quiet(inR, frames));
  if (m_bAsleep && quiet) {
    m_Engine.Rest(frames, hold);
    std::fill_n(outL, frames, 0.0f);
    std::fill_n(outR, frames, 0.0f);
    return true;
  }
  m_bAsleep = false;
  m_Engine.Process(inL, inR, outL, outR, frames, hold);
  if (!quiet) {
    m_QuietFrames = 0;
    return false;
  }
  // The lines are measured once per span they can reach back, a few comparisons per frame.
  m_QuietFrames += static_cast<uint32_t>(frames);
  if (m_QuietFrames >= m_MeasureInterval) {
    m_QuietFrames = 0;
    uint32_t reach = 0;
    if (m_Engine.NetworkLevel(reach) < kSleepLevel) {
      m_Engine.ClearSignal();
      m_bAsleep = true;
    }
    m_MeasureInterval = std::max<uint32_t>(reach, 4096);
  }
  return false;
}

void cReverbCore::RenderBypassFade(const float* inL, const float* inR, float* outL, float* outR, int32_t frames,
                                   bool hold) {
  const float step = 1.0f / static_cast<float>(BypassRampFrames());
  const float target = m_bBypass.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
  // A multiple of 8 frames per engine call keeps the engine's dither pattern.
  constexpr int32_t kChunk = 64;
  float dryL[kChunk], dryR[kChunk];
  for (int32_t pos = 0; pos < frames; pos += kChunk) {
    const int32_t n = std::min(kChunk, frames - pos);
    std::memcpy(dryL, inL + pos, sizeof(float) * static_cast<size_t>(n));
    std::memcpy(dryR, inR + pos, sizeof(float) * static_cast<size_t>(n));
    m_Engine.Process(dryL, dryR, outL + pos, outR + pos, n, hold);
    for (int32_t k = 0; k < n; ++k) {
      m_BypassMix = target > m_BypassMix ? std::min(target, m_BypassMix + step) : std::max(target, m_BypassMix - step);
      if (m_BypassMix == 1.0f) {
        outL[pos + k] = dryL[k];
        outR[pos + k] = dryR[k];
      } else {
        outL[pos + k] += (dryL[k] - outL[pos + k]) * m_BypassMix;
        outR[pos + k] += (dryR[k] - outR[pos + k]) * m_BypassMix;
      }
    }
  }
  // Fully bypassed: the network stops here, cleared so its tail cannot return on the way back.
  if (m_BypassMix == 1.0f) m_bResetPending = true;
}

// ---- what hosts ask -------------------------------------------------------------------

int64_t cReverbCore::TailFrames(bool measure) const {
  if (Hold()) return kInfiniteTail;
  // Hosts may ask every block, from the audio thread: the bound is computed
  // again only after a change. No lock: a copy torn by a concurrent change
  // gives one estimate between the old and the new settings, and the change
  // marks the bound stale once more.
  if (m_bTailDirty.exchange(false, std::memory_order_acquire)) {
    m_bTailMeasured.store(false, std::memory_order_relaxed);
    sProgram program;
    CopyProgram(program, m_EditProgram);
    const double frames = std::ceil(cFDNengine::TailFrames(program.values, program.lineRatio, m_SampleRate.load()));
    m_Tail.store(frames < 1e15 ? static_cast<int64_t>(frames) : static_cast<int64_t>(1e15), std::memory_order_relaxed);
  }
  if (measure && !m_bTailMeasured.exchange(true, std::memory_order_relaxed)) {
    sProgram program;
    CopyProgram(program, m_EditProgram);
    const float fs = m_SampleRate.load();
    const int64_t bound = m_Tail.load(std::memory_order_relaxed);
    // The response of a network that runs on (modulation at another phase,
    // other dither) ends a little earlier or later than a fresh one's.
    // At most about a second of the asking thread: longer tails keep the bound.
    constexpr int64_t kMeasureLimit = int64_t{1} << 22;
    const int64_t limit = std::min({bound, static_cast<int64_t>(60.0f * fs), kMeasureLimit});
    const int64_t measured = cFDNengine::MeasureTailFrames(program, fs, limit);
    if (measured >= 0) m_Tail.store(std::min(bound, (measured * 5 + 3) / 4), std::memory_order_relaxed);
  }
  return m_Tail.load(std::memory_order_relaxed);
}

}  // namespace nimbo
