// Host side of the VST 2.x interface: loads a plugin library, finds its entry,
// answers the effect's callback requests and drives one effect through its
// record only, the way a DAW does. Portable between POSIX and Windows, so the
// same code hosts the Linux .so and, built with mingw, the Windows DLLs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TextEncoding.h"
#include "vst2.h"

namespace nimbohost {

using PluginEntry = AEffect*(VSTCALLBACK*)(audioMasterCallback);

// A loaded plugin library; unloads on destruction.
class cPluginLibrary {
 public:
  explicit cPluginLibrary(const std::string& path);
  ~cPluginLibrary();
  cPluginLibrary(const cPluginLibrary&) = delete;
  cPluginLibrary& operator=(const cPluginLibrary&) = delete;

  bool IsLoaded() const { return m_Handle != nullptr; }
  const std::string& Error() const { return m_Error; }
  // VSTPluginMain, else main; null when the library has neither.
  PluginEntry Entry(std::string* nameFound = nullptr) const;
  PluginEntry Symbol(const char* name) const;
  // Any exported name, function or data; null when missing.
  void* Address(const char* name) const;

 private:
  void* m_Handle = nullptr;
  std::string m_Error;
};

// What the host answers to the effect's callback requests.
struct sHostAnswers {
  intptr_t vstVersion = 2400;
  intptr_t currentId = 0;
  intptr_t vendorVersion = 1;
  std::string vendor = "Nimbohall";
  std::string product = "nimbohall-render";
  intptr_t sampleRate = 44100;
  intptr_t blockSize = 512;
};

// One callback request as the effect made it.
struct sHostRequest {
  AEffect* effect;
  int32_t opcode;
  int32_t index;
  intptr_t value;
  bool hadBuffer;
  float opt;
};

// One effect instance. Every call goes through the record's entries.
class cHostedEffect {
 public:
  // Calls the entry with this host's callback; null (with a reason) when it returns no effect.
  static std::unique_ptr<cHostedEffect> Create(PluginEntry entry, const sHostAnswers& answers, std::string* error);
  ~cHostedEffect();  // sends effClose unless Close() already did
  cHostedEffect(const cHostedEffect&) = delete;
  cHostedEffect& operator=(const cHostedEffect&) = delete;

  AEffect* Record() const { return m_Effect; }
  const std::vector<sHostRequest>& Requests() const { return m_Requests; }

  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
  void SetParameter(int32_t index, float value);
  float GetParameter(int32_t index);
  void ProcessReplacing(float** inputs, float** outputs, int32_t frames);

  // Lifecycle as a DAW drives it: open, sample rate, block size, resume.
  void Start(float sampleRate, int32_t blockSize);
  void Stop();   // suspend
  void Close();  // effClose; the record is gone afterwards

  std::string ParameterName(int32_t index);
  std::string ParameterDisplay(int32_t index);
  std::string ParameterLabel(int32_t index);
  std::string ProgramName(int32_t index);  // effGetProgramNameIndexed
  std::string CurrentProgramName();        // effGetProgramName
  std::string EffectName();
  std::string VendorString();
  std::string ProductString();

 private:
  cHostedEffect() = default;
  static intptr_t VSTCALLBACK Callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                       float opt);
  std::string TextRequest(int32_t opcode, int32_t index, size_t bufferSize);

  AEffect* m_Effect = nullptr;
  sHostAnswers m_Answers;
  std::vector<sHostRequest> m_Requests;
};

// Windows-1252 text as UTF-8, for showing plugin texts on a terminal.
using nimbo::Cp1252ToUtf8;

}  // namespace nimbohost
