// The reverb as a VST 2.x effect: the generic effect base over the reverb core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "../../nimbolib/cVSTeffect.h"
#include "../cReverbCore.h"

// Constructed before the effect base, which keeps the core's descriptors.
struct sReverbCoreHolder {
  nimbo::cReverbCore m_Core;
};

class cVst2Reverb : private sReverbCoreHolder, public nimbo::cVSTeffect {
 public:
  explicit cVst2Reverb(audioMasterCallback host);

  // The engine's vector state needs its alignment honoured on the heap too;
  // 32-bit Windows' malloc gives 8 bytes where the compiler assumes 16.
  static void* operator new(size_t size);
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* memory) noexcept;
  ~cVst2Reverb() override = default;

  void OnParameterChanged(int32_t index, float value) override;
  void processReplacing(float** inputs, float** outputs, int32_t frames) override;
  void Open() override;
  void Close() override;
  void SetProgram(int32_t index) override;
  void SetProgramName(const char* name) override;
  void OnSampleRateChanged() override;
  void OnMainsChanged(bool on) override;
  bool GetProgramName(char* text, int32_t index) override;
  bool StoreProgram(int32_t index) override;
  int32_t CanDo(const char* text) override;

 private:
  bool m_bConstructed = false;
};
