// The generic VST 2.x effect: owns the host record, answers the dispatcher,
// guards state changes with the effect lock and cuts audio blocks at event
// offsets. Effects derive from it and override the virtual operations; only
// this layer knows the host interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "cParameter.h"
#include "vst2.h"

namespace nimbo {

// Identity an effect gives the host; the effect defines kEffectIdentity.
struct sEffectIdentity {
  int32_t uniqueId;         // record uniqueID, checked by every entry
  int32_t version;          // record version and vendor version
  const char* effectName;   // effGetEffectName, at most 32 characters
  const char* vendorName;   // effGetVendorString, at most 64 characters
  const char* productName;  // effGetProductString, at most 64 characters
  int32_t category;         // effGetPlugCategory
};
extern const sEffectIdentity kEffectIdentity;

constexpr int32_t kLockTries = 8;         // dispatcher requests
constexpr int32_t kCloseLockTries = 200;  // effClose, before it waits without limit
constexpr int32_t kEventQueueCapacity = 1024;  // events waiting for the audio thread
constexpr int32_t kIdentifyAnswer = 0x4E764566;
constexpr int32_t kVstVersion = 2400;

using sEventRecord = VstEvent;  // the first 32 bytes of a host event

// Acquires a one-byte lock with an attempt limit (0: spin without limit),
// sleeping 1 ms between attempts; releases it only if it acquired it.
class cLockGuard {
 public:
  cLockGuard(std::atomic<uint8_t>& lock, int32_t attempts);
  ~cLockGuard();
  cLockGuard(const cLockGuard&) = delete;
  cLockGuard& operator=(const cLockGuard&) = delete;
  bool Acquired() const { return m_bAcquired; }
  bool WaitWithoutLimit();  // keeps sleeping 1 ms between attempts until it gets the lock

 private:
  bool TryOnce();
  std::atomic<uint8_t>& m_Lock;
  bool m_bAcquired = false;
};

class cVSTeffect {
 public:
  // With default descriptors of its own, which the effect class sets up.
  cVSTeffect(audioMasterCallback host, int32_t numPrograms, int32_t numParameters);
  // With the effect's descriptors, which outlive the base.
  cVSTeffect(audioMasterCallback host, int32_t numPrograms, std::span<cParameter> parameters);
  virtual ~cVSTeffect();
  cVSTeffect(const cVSTeffect&) = delete;
  cVSTeffect& operator=(const cVSTeffect&) = delete;

  // The record handed to the host.
  AEffect* GetRecord() { return &m_Effect.record; }
  static cVSTeffect* FromRecord(AEffect* record);  // null unless the record passes the check

  // [any thread, no lock] after setParameter stored the value; value as the host sent it.
  virtual void OnParameterChanged(int32_t index, float value);
  // [audio thread, lock held] one stretch of a host block between events.
  virtual void processReplacing(float** inputs, float** outputs, int32_t frames);
  // [audio thread, lock held] an event whose frame has been reached.
  virtual void ProcessEvent(const sEventRecord& event);
  // [dispatcher] effOpen, once.
  virtual void Open();
  // [dispatcher, lock held] effClose.
  virtual void Close();
  // [dispatcher, lock held] effSetProgram with a valid, different index.
  virtual void SetProgram(int32_t index);
  // [dispatcher, no lock] effSetProgramName.
  virtual void SetProgramName(const char* name);
  // [dispatcher, lock held] after m_SampleRate / m_BlockSize changed.
  virtual void OnSampleRateChanged();
  virtual void OnBlockSizeChanged();
  // [dispatcher, lock held] suspend (false) or resume (true).
  virtual void OnMainsChanged(bool on);
  // [dispatcher] effString2Parameter.
  virtual bool StringToParameter(int32_t index, const char* text);
  // [dispatcher] name of program index into text (25 bytes).
  virtual bool GetProgramName(char* text, int32_t index);
  // Copies the current program into a slot.
  virtual bool StoreProgram(int32_t index);
  // [dispatcher] effGetInput/OutputProperties.
  virtual bool GetPinProperties(bool output, int32_t index, VstPinProperties* properties);
  // [dispatcher] effCanDo: 1 yes, -1 no, 0 don't know.
  virtual int32_t CanDo(const char* text);

  // Host-facing entries, reached through the record.
  static intptr_t VSTCALLBACK DispatcherProc(AEffect* record, int32_t opcode, int32_t index, intptr_t value,
                                             void* ptr, float opt);
  static void VSTCALLBACK SetParameterProc(AEffect* record, int32_t index, float value);
  static float VSTCALLBACK GetParameterProc(AEffect* record, int32_t index);
  static void VSTCALLBACK ProcessReplacingProc(AEffect* record, float** inputs, float** outputs,
                                               int32_t sampleFrames);

 protected:
  // The record and, right behind it, the way back to its object.
  struct sHostRecord {
    AEffect record;
    cVSTeffect* owner;
  };

  void Construct(audioMasterCallback host, int32_t numPrograms, int32_t numParameters);
  intptr_t Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  bool QueueEvents(const VstEvents* events);
  void ProcessBlock(float** inputs, float** outputs, int32_t sampleFrames);
  // [audio] Zeros in every output the record declares: what a disabled effect plays.
  void WriteSilence(float** outputs, int32_t sampleFrames);
  void FillParameterProperties(int32_t index, VstParameterProperties* properties) const;
  int32_t NumParameters() const { return static_cast<int32_t>(m_Parameters.size()); }

  sHostRecord m_Effect{};
  audioMasterCallback m_HostCallback = nullptr;
  char m_HostVendor[64] = {};
  char m_HostProduct[64] = {};
  int32_t m_HostVstVersion = 0;
  int32_t m_HostVendorVersion = 0;
  int32_t m_HostCurrentId = 0;
  std::atomic<uint8_t> m_Lock{0};
  std::atomic<bool> m_bOpened{false};
  std::atomic<bool> m_bClosing{false};
  std::atomic<bool> m_bDisabled{false};
  std::atomic<int32_t> m_AudioCallers{0};  // threads inside the audio entry, waiting or working
  float m_SampleRate = 0.0f;  // written and read under m_Lock
  int32_t m_BlockSize = 0;    // written and read under m_Lock
  std::atomic<int32_t> m_CurrentProgram{0};
  std::vector<cParameter> m_OwnParameters;
  std::span<cParameter> m_Parameters;
  // Fixed capacity, allocated once: the audio thread never allocates or frees.
  std::unique_ptr<sEventRecord[]> m_EventQueue;
  int32_t m_EventCount = 0;  // under m_Lock
};

}  // namespace nimbo
