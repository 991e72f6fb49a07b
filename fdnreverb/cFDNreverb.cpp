#include "cFDNreverb.h"

#include <cstring>

#include "../nimbolib/Atomic.h"
#include "../nimbolib/Text.h"

using namespace nimbo;

const sEffectIdentity nimbo::kEffectIdentity = {
    .uniqueId = kUniqueId,
    .version = kEffectVersion,
    .effectName = "Nimbohall 0.4a",
    .vendorName = "Brannoch",
    .productName = "Nimbohall FDN Processor 0.4a",
    .category = kPlugCategRoomFx,
};

namespace {

struct sCapability {
  const char* text;
  int32_t answer;
};

constexpr sCapability kCapabilities[] = {
    {"sendVstEvents", -1},       {"sendVstMidiEvent", -1},    {"sendVstTimeInfo", -1},
    {"receiveVstEvents", -1},    {"receiveVstMidiEvent", -1}, {"receiveVstTimeInfo", -1},
    {"offline", -1},             {"plugAsChannelInsert", 1},  {"plugAsSend", 1},
    {"mixDryWet", 1},            {"noRealTime", -1},          {"multipass", 0},
    {"metapass", 0},             {"1in1out", -1},             {"1in2out", -1},
    {"2in1out", -1},             {"2in2out", 1},              {"2in4out", -1},
    {"4in2out", -1},             {"4in4out", -1},             {"4in8out", -1},
    {"8in4out", -1},             {"8in8out", -1},             {"midiProgramNames", -1},
    {"bypass", -1},              {"conformsToWindowRules", 0}, {"LiveWithoutToolbar", 0},
    {"hasCockosExtensions", 0},
};

}  // namespace

cFDNreverb::cFDNreverb(audioMasterCallback host) : cVSTeffect(host, kNumPrograms, kNumParameters) {
  m_Effect.record.flags |= effFlagsCanMono | effFlagsCanReplacing;
  m_Effect.record.numInputs = 2;
  m_Effect.record.numOutputs = 2;

  for (sProgram& slot : m_Programs) BuildProgram(slot, kInitProgram);
  for (int32_t i = 0; i < kNumFactoryPresets; ++i) BuildProgram(m_Programs[i], kFactoryPresets[i]);
  m_EditProgram = m_Programs[0];
  m_CurrentProgram = 0;

  SetupParameters();
  m_Hold = 0;
  m_KeepTail = 0;
  for (cParameter& p : m_Parameters) p.SyncFromBinding();
  m_bConstructed = true;
}

void* cFDNreverb::operator new(size_t size) { return ::operator new(size, std::align_val_t{alignof(cFDNreverb)}); }

void* cFDNreverb::operator new(size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::align_val_t{alignof(cFDNreverb)}, std::nothrow);
}

void cFDNreverb::operator delete(void* memory) noexcept {
  ::operator delete(memory, std::align_val_t{alignof(cFDNreverb)});
}

void cFDNreverb::MarkAllDirty() {
  m_bResetPending = true;
  m_bLengthsDirty = true;
  m_bModulationDirty = true;
  m_bCoefficientsDirty.store(true, std::memory_order_release);
}

void cFDNreverb::OnParameterChanged(int32_t index, float) {
  switch (index) {
    case kParamGeometry:
      DeriveGeometry(m_EditProgram);
      [[fallthrough]];
    case kParamBaseDelay:
      m_bLengthsDirty = true;
      m_bModulationDirty = true;
      break;
    case kParamInDir:
      DeriveInputPairs(m_EditProgram);
      break;
    case kParamOutDir:
      DeriveOutputPairs(m_EditProgram);
      break;
    case kParamModDepth:
    case kParamModPeriod:
    case kParamModSpread:
      m_bModulationDirty = true;
      break;
    default:
      break;
  }
  m_bCoefficientsDirty.store(true, std::memory_order_release);
}

void cFDNreverb::processReplacing(float** inputs, float** outputs, int32_t frames) {
  if (!m_Engine.IsReady() || frames < 0 || !inputs || !outputs) return;
  if (!inputs[0] || !inputs[1] || !outputs[0] || !outputs[1]) return;
  // Reset first, then coefficients: the reset uses the delays in force before the update.
  if (m_bResetPending.exchange(false)) m_Engine.ResetNetwork(LoadShared(m_KeepTail) != 0);
  if (m_bCoefficientsDirty.exchange(false, std::memory_order_acquire)) {
    const bool lengths = m_bLengthsDirty.exchange(false);
    const bool modulation = m_bModulationDirty.exchange(false);
    sProgram program;
    CopyProgram(program, m_EditProgram);
    m_Engine.UpdateCoefficients(program, m_SampleRate, lengths, modulation);
  }
  if (frames > 0)
    m_Engine.Process(inputs[0], inputs[1], outputs[0], outputs[1], frames, LoadShared(m_Hold) != 0);
}

void cFDNreverb::Open() {
  if (!m_bConstructed || !m_Engine.Open()) return;
  m_bLengthsDirty = true;
  m_bModulationDirty = true;
  m_bCoefficientsDirty.store(true, std::memory_order_release);
  StoreShared(m_Hold, 0);
  StoreShared(m_KeepTail, 0);
  // Keep what the host reads for the two switches in step with their reset.
  m_Parameters[kParamHold].SyncFromBinding();
  m_Parameters[kParamKeepTail].SyncFromBinding();
}

void cFDNreverb::Close() { m_Engine.Close(); }

void cFDNreverb::SetProgram(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms) || index == m_CurrentProgram) return;
  CopyProgram(m_Programs[m_CurrentProgram], m_EditProgram);
  m_CurrentProgram = index;
  CopyProgram(m_EditProgram, m_Programs[index]);
  for (cParameter& p : m_Parameters) p.SyncFromBinding();
  MarkAllDirty();
}

void cFDNreverb::SetProgramName(const char* name) {
  char copy[kProgramNameSize] = {};
  CopyPadded(copy, name, kProgramNameLength);
  StoreSharedText(m_EditProgram.name, copy, kProgramNameLength + 1);
  StoreSharedText(m_Programs[m_CurrentProgram].name, copy, kProgramNameLength + 1);
}

bool cFDNreverb::GetProgramName(char* text, int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms)) return false;
  LoadSharedText(text, m_Programs[index].name, kProgramNameLength);
  text[kProgramNameLength] = '\0';
  return true;
}

bool cFDNreverb::StoreProgram(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kNumPrograms)) return false;
  CopyProgram(m_Programs[index], m_EditProgram);
  return true;
}

void cFDNreverb::OnSampleRateChanged() { MarkAllDirty(); }

void cFDNreverb::OnMainsChanged(bool) { m_bResetPending = true; }

int32_t cFDNreverb::CanDo(const char* text) {
  for (const sCapability& c : kCapabilities)
    if (std::strcmp(text, c.text) == 0) return c.answer;
  return 0;
}
