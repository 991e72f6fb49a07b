// The reverb as an LV2 plugin: control ports carry plain values, read once at
// the start of every run; audio ports go straight to the core.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include "../cReverbCore.h"
#include "Lv2Ports.h"

namespace {

using namespace nimbolv2;
using namespace nimbo;

class cLv2Reverb {
 public:
  // [instantiation] false when the sample rate is unusable or memory short.
  bool Open(double sampleRate);
  // [any time but run] a port's buffer; null disconnects it.
  void Connect(uint32_t port, void* data);
  // [activation] a fresh tail, as after loading a program.
  void Activate() { m_Core.RequestReset(); }
  // [audio] the controls that changed since the last run, then the frames.
  void Run(uint32_t frames);
  void Close() { m_Core.Close(); }

 private:
  void ApplyControls();

  cReverbCore m_Core;
  const float* m_Controls[kNumParameters + 1] = {};  // the parameters, then "enabled"
  // The port values last applied; NaN until the first run applies them all.
  float m_Applied[kNumParameters + 1];
  const float* m_InL = nullptr;
  const float* m_InR = nullptr;
  float* m_OutL = nullptr;
  float* m_OutR = nullptr;
};

bool cLv2Reverb::Open(double sampleRate) {
  std::fill(std::begin(m_Applied), std::end(m_Applied), std::numeric_limits<float>::quiet_NaN());
  const auto fs = static_cast<float>(sampleRate);
  return std::isfinite(fs) && fs > 0.0f && m_Core.Open(fs);
}

void cLv2Reverb::Connect(uint32_t port, void* data) {
  if (port <= kEnabledPort) m_Controls[port] = static_cast<const float*>(data);
  else if (port == kInLeftPort) m_InL = static_cast<const float*>(data);
  else if (port == kInRightPort) m_InR = static_cast<const float*>(data);
  else if (port == kOutLeftPort) m_OutL = static_cast<float*>(data);
  else if (port == kOutRightPort) m_OutR = static_cast<float*>(data);
}

void cLv2Reverb::ApplyControls() {
  for (uint32_t port = 0; port <= kEnabledPort; ++port) {
    if (!m_Controls[port]) continue;
    const float v = *m_Controls[port];
    // Unchanged values cost one comparison.
    if (v == m_Applied[port]) continue;
    m_Applied[port] = v;
    // "enabled" is the bypass the other way round.
    const float plain = port == kEnabledPort ? (v > 0.0f ? 0.0f : 1.0f) : v;
    if (v == v) m_Core.SetHostValue(static_cast<int32_t>(port), plain, eHostScale::kPlain);
  }
}

void cLv2Reverb::Run(uint32_t frames) {
  ApplyControls();
  if (!m_InL || !m_InR || !m_OutL || !m_OutR) return;
  constexpr uint32_t kMaxStretch = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  uint32_t done = 0;
  do {
    const uint32_t n = std::min(frames - done, kMaxStretch);
    m_Core.ProcessOrSleep(m_InL + done, m_InR + done, m_OutL + done, m_OutR + done, static_cast<int32_t>(n));
    done += n;
  } while (done < frames);
}

// ---- the descriptor's entries --------------------------------------------------

cLv2Reverb* Self(LV2_Handle instance) { return static_cast<cLv2Reverb*>(instance); }

LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
  auto* plugin = new (std::nothrow) cLv2Reverb;
  if (plugin && plugin->Open(sampleRate)) return plugin;
  delete plugin;
  return nullptr;
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data) { Self(instance)->Connect(port, data); }
void Activate(LV2_Handle instance) { Self(instance)->Activate(); }
void Run(LV2_Handle instance, uint32_t frames) { Self(instance)->Run(frames); }
void Deactivate(LV2_Handle) {}

void Cleanup(LV2_Handle instance) {
  Self(instance)->Close();
  delete Self(instance);
}

const void* ExtensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {
    kPluginUri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}
