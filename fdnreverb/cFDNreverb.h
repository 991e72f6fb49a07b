// The reverb effect: program bank, 18 parameters and the engine behind them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "../nimbolib/cVSTeffect.h"
#include "Engine.h"
#include "Program.h"

constexpr int32_t kNumParameters = 18;
constexpr int32_t kUniqueId = static_cast<int32_t>(0xB45C2E01u);
constexpr int32_t kEffectVersion = 410;

// Host parameter indices.
enum : int32_t {
  kParamGeometry, kParamBaseDelay, kParamHalflife, kParamDamping,
  kParamFbPlane, kParamFbRot1, kParamFbRot2, kParamFbInv,
  kParamModDepth, kParamModPeriod, kParamModSpread, kParamAmpDrive,
  kParamInDir, kParamOutDir, kParamDryMix, kParamWetMix,
  kParamHold, kParamKeepTail,
};

class cFDNreverb : public nimbo::cVSTeffect {
 public:
  explicit cFDNreverb(audioMasterCallback host);

  // The engine's vector state needs its alignment honoured on the heap too;
  // 32-bit Windows' malloc gives 8 bytes where the compiler assumes 16.
  static void* operator new(size_t size);
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* memory) noexcept;
  ~cFDNreverb() override = default;

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
  void SetupParameters();
  void MarkAllDirty();

  cFDNengine m_Engine;
  int32_t m_Hold = 0;      // "Hold": shared, read once per block
  int32_t m_KeepTail = 0;  // "Dr. Who": shared, read at reset
  bool m_bConstructed = false;
  std::atomic<bool> m_bCoefficientsDirty{false};
  std::atomic<bool> m_bResetPending{false};
  std::atomic<bool> m_bLengthsDirty{false};
  std::atomic<bool> m_bModulationDirty{false};
  sProgram m_Programs[kNumPrograms] = {};
  sProgram m_EditProgram = {};
};
