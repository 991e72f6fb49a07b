#include "cVstHost.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace nimbohost {

// ---- library ------------------------------------------------------------------

cPluginLibrary::cPluginLibrary(const std::string& path) {
#ifdef _WIN32
  m_Handle = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (!m_Handle) m_Error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
#else
  m_Handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_Handle) {
    const char* reason = dlerror();
    m_Error = reason ? reason : "cannot load " + path;
  }
#endif
}

cPluginLibrary::~cPluginLibrary() {
  if (!m_Handle) return;
#ifdef _WIN32
  FreeLibrary(reinterpret_cast<HMODULE>(m_Handle));
#else
  dlclose(m_Handle);
#endif
}

void* cPluginLibrary::Address(const char* name) const {
  if (!m_Handle) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(m_Handle), name));
#else
  return dlsym(m_Handle, name);
#endif
}

PluginEntry cPluginLibrary::Symbol(const char* name) const { return reinterpret_cast<PluginEntry>(Address(name)); }

PluginEntry cPluginLibrary::Entry(std::string* nameFound) const {
  for (const char* name : {"VSTPluginMain", "main"}) {
    if (PluginEntry entry = Symbol(name)) {
      if (nameFound) *nameFound = name;
      return entry;
    }
  }
  return nullptr;
}

// ---- effect -------------------------------------------------------------------

namespace {
// The effect calls back from inside the entry, before the host knows its record.
thread_local cHostedEffect* tConstructing = nullptr;
}  // namespace

std::unique_ptr<cHostedEffect> cHostedEffect::Create(PluginEntry entry, const sHostAnswers& answers,
                                                     std::string* error) {
  if (!entry) {
    if (error) *error = "no VST 2.x entry point (VSTPluginMain or main)";
    return nullptr;
  }
  std::unique_ptr<cHostedEffect> host(new cHostedEffect());
  host->m_Answers = answers;
  tConstructing = host.get();
  host->m_Effect = entry(&Callback);
  tConstructing = nullptr;
  if (!host->m_Effect || host->m_Effect->magic != kEffectMagic) {
    if (error) *error = host->m_Effect ? "the entry returned a record without the VST magic" : "the entry returned no effect";
    host->m_Effect = nullptr;
    return nullptr;
  }
  host->m_Effect->user = host.get();
  return host;
}

cHostedEffect::~cHostedEffect() { Close(); }

intptr_t VSTCALLBACK cHostedEffect::Callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                             float opt) {
  // While the entry runs, the record's user field may not be set up yet.
  cHostedEffect* host = tConstructing ? tConstructing
                        : effect && effect->user ? static_cast<cHostedEffect*>(effect->user)
                                                 : nullptr;
  if (opcode == audioMasterVersion && !host) return 2400;
  if (!host) return 0;
  host->m_Requests.push_back({effect, opcode, index, value, ptr != nullptr, opt});
  const sHostAnswers& a = host->m_Answers;
  auto copyText = [ptr](const std::string& text) -> intptr_t {
    if (!ptr) return 0;
    std::strncpy(static_cast<char*>(ptr), text.c_str(), 63);
    return 1;
  };
  switch (opcode) {
    case audioMasterVersion: return a.vstVersion;
    case audioMasterCurrentId: return a.currentId;
    case audioMasterGetVendorVersion: return a.vendorVersion;
    case audioMasterGetVendorString: return copyText(a.vendor);
    case audioMasterGetProductString: return copyText(a.product);
    case audioMasterGetSampleRate: return a.sampleRate;
    case audioMasterGetBlockSize: return a.blockSize;
    default: return 0;
  }
}

intptr_t cHostedEffect::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  if (!m_Effect) return 0;
  return m_Effect->dispatcher(m_Effect, opcode, index, value, ptr, opt);
}

void cHostedEffect::SetParameter(int32_t index, float value) {
  if (m_Effect) m_Effect->setParameter(m_Effect, index, value);
}

float cHostedEffect::GetParameter(int32_t index) { return m_Effect ? m_Effect->getParameter(m_Effect, index) : 0.0f; }

void cHostedEffect::ProcessReplacing(float** inputs, float** outputs, int32_t frames) {
  if (m_Effect && m_Effect->processReplacing) m_Effect->processReplacing(m_Effect, inputs, outputs, frames);
}

void cHostedEffect::Start(float sampleRate, int32_t blockSize) {
  Dispatch(effOpen);
  Dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
  Dispatch(effSetBlockSize, 0, blockSize);
  Dispatch(effMainsChanged, 0, 1);
}

void cHostedEffect::Stop() { Dispatch(effMainsChanged, 0, 0); }

void cHostedEffect::Close() {
  if (!m_Effect) return;
  Dispatch(effClose);
  m_Effect = nullptr;
}

std::string cHostedEffect::TextRequest(int32_t opcode, int32_t index, size_t bufferSize) {
  // Generous buffer: plugins are known to write past the sizes the interface names.
  std::vector<char> buffer(bufferSize + 256, '\0');
  Dispatch(opcode, index, 0, buffer.data());
  buffer[bufferSize] = '\0';
  return buffer.data();
}

std::string cHostedEffect::ParameterName(int32_t index) { return TextRequest(effGetParamName, index, 64); }
std::string cHostedEffect::ParameterDisplay(int32_t index) { return TextRequest(effGetParamDisplay, index, 64); }
std::string cHostedEffect::ParameterLabel(int32_t index) { return TextRequest(effGetParamLabel, index, 64); }
std::string cHostedEffect::ProgramName(int32_t index) { return TextRequest(effGetProgramNameIndexed, index, 64); }
std::string cHostedEffect::CurrentProgramName() { return TextRequest(effGetProgramName, 0, 64); }
std::string cHostedEffect::EffectName() { return TextRequest(effGetEffectName, 0, kVstMaxEffectNameLen + 1); }
std::string cHostedEffect::VendorString() { return TextRequest(effGetVendorString, 0, kVstMaxVendorStrLen + 1); }
std::string cHostedEffect::ProductString() { return TextRequest(effGetProductString, 0, kVstMaxProductStrLen + 1); }

}  // namespace nimbohost
