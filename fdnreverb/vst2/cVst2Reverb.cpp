#include "cVst2Reverb.h"

#include <cstring>

using namespace nimbo;

const sEffectIdentity nimbo::kEffectIdentity = {.uniqueId = kUniqueId, .version = kEffectVersion,
                                                .effectName = kEffectName, .vendorName = kVendorName,
                                                .productName = kEffectProduct, .category = kPlugCategRoomFx};

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

cVst2Reverb::cVst2Reverb(audioMasterCallback host)
    : cVSTeffect(host, kNumPrograms, m_Core.Parameters()) {
  m_Effect.record.flags |= effFlagsCanMono | effFlagsCanReplacing;
  m_Effect.record.numInputs = 2;
  m_Effect.record.numOutputs = 2;
  m_CurrentProgram = m_Core.CurrentProgram();
  m_bConstructed = true;
}

void* cVst2Reverb::operator new(size_t size) { return ::operator new(size, std::align_val_t{alignof(cVst2Reverb)}); }

void* cVst2Reverb::operator new(size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::align_val_t{alignof(cVst2Reverb)}, std::nothrow);
}

void cVst2Reverb::operator delete(void* memory) noexcept {
  ::operator delete(memory, std::align_val_t{alignof(cVst2Reverb)});
}

void cVst2Reverb::OnParameterChanged(int32_t index, float) { m_Core.OnParameterChanged(index); }

void cVst2Reverb::processReplacing(float** inputs, float** outputs, int32_t frames) {
  if (!inputs || !outputs || !inputs[0] || !inputs[1] || !outputs[0] || !outputs[1]) return;
  m_Core.Process(inputs[0], inputs[1], outputs[0], outputs[1], frames);
}

void cVst2Reverb::Open() {
  if (!m_bConstructed || !m_Core.Open(m_SampleRate)) return;
  // The switches start off with every opening.
  m_Core.SetPlain(kParamHold, 0.0f);
  m_Core.SetPlain(kParamKeepTail, 0.0f);
}

void cVst2Reverb::Close() { m_Core.Close(); }

void cVst2Reverb::SetProgram(int32_t index) {
  m_Core.SetProgram(index);
  m_CurrentProgram = m_Core.CurrentProgram();
}

void cVst2Reverb::SetProgramName(const char* name) { m_Core.SetProgramName(name); }

bool cVst2Reverb::GetProgramName(char* text, int32_t index) { return m_Core.GetProgramName(index, text); }

bool cVst2Reverb::StoreProgram(int32_t index) { return m_Core.StoreProgram(index); }

void cVst2Reverb::OnSampleRateChanged() { m_Core.SetSampleRate(m_SampleRate); }

void cVst2Reverb::OnMainsChanged(bool) { m_Core.RequestReset(); }

int32_t cVst2Reverb::CanDo(const char* text) {
  for (const sCapability& c : kCapabilities)
    if (std::strcmp(text, c.text) == 0) return c.answer;
  return 0;
}
