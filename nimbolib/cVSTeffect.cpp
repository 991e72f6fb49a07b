#include "cVSTeffect.h"

#include <algorithm>
#include <cstring>

#include "Atomic.h"
#include "Text.h"

namespace nimbo {

// ---- lock -------------------------------------------------------------------

cLockGuard::cLockGuard(std::atomic<uint8_t>& lock, int32_t attempts) : m_Lock(lock) {
  if (attempts <= 0) {
    while (!TryOnce()) {
    }
    return;
  }
  for (int32_t i = 1; !TryOnce(); ++i) {
    if (i >= attempts) return;  // no sleep after the last attempt
    SleepOneMillisecond();
  }
}

cLockGuard::~cLockGuard() {
  if (m_bAcquired) m_Lock.store(0, std::memory_order_release);
}

bool cLockGuard::TryOnce() {
  uint8_t expected = 0;
  m_bAcquired = m_Lock.compare_exchange_strong(expected, 1, std::memory_order_acquire, std::memory_order_relaxed);
  return m_bAcquired;
}

bool cLockGuard::WaitWithoutLimit() {
  while (!TryOnce()) SleepOneMillisecond();
  return true;
}

// ---- construction -------------------------------------------------------------

cVSTeffect::cVSTeffect(audioMasterCallback host, int32_t numPrograms, int32_t numParameters)
    : m_OwnParameters(static_cast<size_t>(std::max(numParameters, 0))),
      m_Parameters(m_OwnParameters),
      m_EventQueue(new sEventRecord[kEventQueueCapacity]) {
  Construct(host, numPrograms, numParameters);
}

cVSTeffect::cVSTeffect(audioMasterCallback host, int32_t numPrograms, std::span<cParameter> parameters)
    : m_Parameters(parameters), m_EventQueue(new sEventRecord[kEventQueueCapacity]) {
  Construct(host, numPrograms, static_cast<int32_t>(parameters.size()));
}

void cVSTeffect::Construct(audioMasterCallback host, int32_t numPrograms, int32_t numParameters) {
  m_Effect.owner = this;
  m_HostCallback = host;
  if (!host) {
    m_bDisabled = true;
    return;
  }
  AEffect& e = m_Effect.record;
  e.magic = kEffectMagic;
  e.dispatcher = &DispatcherProc;
  e.setParameter = &SetParameterProc;
  e.getParameter = &GetParameterProc;
  e.numPrograms = numPrograms;
  e.numParams = numParameters;
  e.uniqueID = kEffectIdentity.uniqueId;
  e.version = kEffectIdentity.version;
  e.processReplacing = &ProcessReplacingProc;

  m_HostVstVersion = static_cast<int32_t>(host(&e, audioMasterVersion, 0, 0, nullptr, 0.0f));
  m_HostCurrentId = static_cast<int32_t>(host(&e, audioMasterCurrentId, 0, 0, nullptr, 0.0f));
  if (m_HostVstVersion > 1) {
    m_HostVendorVersion = static_cast<int32_t>(host(&e, audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f));
    char buffer[1024] = {};
    host(&e, audioMasterGetVendorString, 0, 0, buffer, 0.0f);
    CopyPadded(m_HostVendor, buffer, sizeof m_HostVendor - 1);
    std::memset(buffer, 0, sizeof buffer);
    host(&e, audioMasterGetProductString, 0, 0, buffer, 0.0f);
    CopyPadded(m_HostProduct, buffer, sizeof m_HostProduct - 1);
    m_SampleRate = static_cast<float>(host(&e, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f));
    m_BlockSize = static_cast<int32_t>(host(&e, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f));
  }
}

cVSTeffect::~cVSTeffect() = default;

cVSTeffect* cVSTeffect::FromRecord(AEffect* record) {
  if (!record || record->uniqueID != kEffectIdentity.uniqueId) return nullptr;
  // The record is the first member of sHostRecord, so the two addresses coincide.
  return reinterpret_cast<sHostRecord*>(record)->owner;
}

// ---- base behaviour of the virtual operations --------------------------------

void cVSTeffect::OnParameterChanged(int32_t, float) {}
void cVSTeffect::processReplacing(float**, float**, int32_t) {}
void cVSTeffect::ProcessEvent(const sEventRecord&) {}
void cVSTeffect::Open() {}
void cVSTeffect::Close() {}
void cVSTeffect::SetProgram(int32_t) {}
void cVSTeffect::SetProgramName(const char*) {}
void cVSTeffect::OnSampleRateChanged() {}
void cVSTeffect::OnBlockSizeChanged() {}
void cVSTeffect::OnMainsChanged(bool) {}
bool cVSTeffect::StringToParameter(int32_t, const char*) { return false; }
bool cVSTeffect::GetProgramName(char*, int32_t) { return false; }
bool cVSTeffect::StoreProgram(int32_t) { return false; }
bool cVSTeffect::GetPinProperties(bool, int32_t, VstPinProperties*) { return false; }
int32_t cVSTeffect::CanDo(const char*) { return 0; }

// ---- parameter entries --------------------------------------------------------

void VSTCALLBACK cVSTeffect::SetParameterProc(AEffect* record, int32_t index, float value) {
  cVSTeffect* effect = FromRecord(record);
  if (!effect || effect->m_bDisabled || index < 0 || index >= effect->NumParameters()) return;
  const float n = value != value ? 1.0f : std::clamp(value, 0.0f, 1.0f);
  effect->m_Parameters[static_cast<size_t>(index)].SetNormalized(n);
  effect->OnParameterChanged(index, value);
}

float VSTCALLBACK cVSTeffect::GetParameterProc(AEffect* record, int32_t index) {
  cVSTeffect* effect = FromRecord(record);
  if (!effect || effect->m_bDisabled || index < 0 || index >= effect->NumParameters()) return 0.0f;
  return effect->m_Parameters[static_cast<size_t>(index)].Normalized();
}

// ---- audio entry --------------------------------------------------------------

void VSTCALLBACK cVSTeffect::ProcessReplacingProc(AEffect* record, float** inputs, float** outputs,
                                                  int32_t sampleFrames) {
  cVSTeffect* effect = FromRecord(record);
  if (!effect) return;
  // Counted before the state is read: effClose waits for every caller to leave,
  // including one still spinning for the lock.
  effect->m_AudioCallers.fetch_add(1);
  if (effect->m_bDisabled)
    effect->WriteSilence(outputs, sampleFrames);
  else if (effect->m_bOpened && !effect->m_bClosing)
    effect->ProcessBlock(inputs, outputs, sampleFrames);
  effect->m_AudioCallers.fetch_sub(1, std::memory_order_release);
}

void cVSTeffect::WriteSilence(float** outputs, int32_t sampleFrames) {
  // A replacing host would otherwise play whatever its buffers held before.
  if (!outputs || sampleFrames <= 0) return;
  const int32_t numOut = std::clamp(m_Effect.record.numOutputs, 0, 8);
  for (int32_t c = 0; c < numOut; ++c)
    if (outputs[c]) std::fill(outputs[c], outputs[c] + sampleFrames, 0.0f);
}

void cVSTeffect::ProcessBlock(float** inputs, float** outputs, int32_t sampleFrames) {
  constexpr int32_t kMaxChannels = 8;
  const int32_t numIn = std::clamp(m_Effect.record.numInputs, 0, kMaxChannels);
  const int32_t numOut = std::clamp(m_Effect.record.numOutputs, 0, kMaxChannels);
  if (sampleFrames <= 0 || (numIn > 0 && !inputs) || (numOut > 0 && !outputs)) return;
  for (int32_t c = 0; c < numIn; ++c)
    if (!inputs[c]) return;
  for (int32_t c = 0; c < numOut; ++c)
    if (!outputs[c]) return;

  cLockGuard guard(m_Lock, 0);
  if (m_bClosing) return;  // effClose got the lock first: the network is gone
  if (m_EventCount == 0 && numIn == numOut && numIn > 0) {
    // Nothing cuts the block: the host's buffers as they are (hosts that automate in small blocks call often).
    processReplacing(inputs, outputs, sampleFrames);
    return;
  }

  // Stable insertion sort by signed offset: events of equal offset keep their arrival order.
  sEventRecord* queue = m_EventQueue.get();
  for (int32_t i = 1; i < m_EventCount; ++i) {
    const sEventRecord event = queue[i];
    int32_t j = i;
    for (; j > 0 && queue[j - 1].deltaFrames > event.deltaFrames; --j) queue[j] = queue[j - 1];
    queue[j] = event;
  }

  const int32_t numChannels = std::max(numIn, numOut);
  int32_t pos = 0, next = 0;
  while (pos < sampleFrames) {
    const int32_t remaining = sampleFrames - pos;
    int32_t n = remaining;
    if (next < m_EventCount) {
      const int64_t d = static_cast<int64_t>(queue[next].deltaFrames) - pos;
      // A negative offset is due at once rather than blocking the queue for ever.
      if (d <= 0) {
        ProcessEvent(queue[next++]);
        continue;
      }
      n = static_cast<int32_t>(std::min<int64_t>(remaining, d));
    }
    float* in[kMaxChannels] = {};
    float* out[kMaxChannels] = {};
    for (int32_t c = 0; c < numChannels; ++c) {
      in[c] = c < numIn ? inputs[c] + pos : nullptr;
      out[c] = c < numOut ? outputs[c] + pos : nullptr;
    }
    processReplacing(in, out, n);
    pos += n;
  }
  if (next > 0) {
    std::memmove(queue, queue + next, sizeof(sEventRecord) * static_cast<size_t>(m_EventCount - next));
    m_EventCount -= next;
  }
}

bool cVSTeffect::QueueEvents(const VstEvents* events) {
  // The host's list runs past the two entries the record declares; indexing
  // the declared array beyond its bound is undefined, so use a plain pointer.
  const VstEvent* const* list = events->events;
  bool allQueued = true;
  for (int32_t i = 0; i < events->numEvents; ++i) {
    const VstEvent* event = list[i];
    if (!event) {
      allQueued = false;  // skipped; the events around it are still queued
      continue;
    }
    if (m_EventCount >= kEventQueueCapacity) {
      allQueued = false;  // full: the rest of the list is dropped
      break;
    }
    std::memcpy(&m_EventQueue[static_cast<size_t>(m_EventCount++)], event, sizeof(sEventRecord));
  }
  return allQueued;
}

// ---- dispatcher ---------------------------------------------------------------

intptr_t VSTCALLBACK cVSTeffect::DispatcherProc(AEffect* record, int32_t opcode, int32_t index, intptr_t value,
                                                void* ptr, float opt) {
  cVSTeffect* effect = FromRecord(record);
  if (!effect) return 0;
  if (opcode == effSetProcessPrecision) return value == 0 ? 1 : 0;
  const intptr_t result = effect->Dispatch(opcode, index, value, ptr, opt);
  if (effect->m_bClosing) {
    while (effect->m_AudioCallers.load() != 0) SleepOneMillisecond();
    delete effect;  // the record is gone from here on
  }
  return result;
}

void cVSTeffect::FillParameterProperties(int32_t index, VstParameterProperties* p) const {
  const cParameter& param = m_Parameters[static_cast<size_t>(index)];
  std::memset(p, 0, sizeof *p);
  p->flags = kVstParameterSupportsDisplayIndex | kVstParameterSupportsDisplayCategory;
  if (param.curve == kCurveInteger) {
    p->flags |= kVstParameterUsesIntegerMinMax;
    p->minInteger = static_cast<int32_t>(param.minValue);
    p->maxInteger = static_cast<int32_t>(param.maxValue);
    if (param.minValue == 0.0f && param.maxValue == 1.0f) p->flags |= kVstParameterIsSwitch;
  }
  CopyPadded(p->shortLabel, param.shortName, sizeof p->shortLabel);
  CopyPadded(p->label, param.longName, sizeof p->label);
  p->displayIndex = static_cast<int16_t>(param.indexInGroup);
  p->category = static_cast<int16_t>(param.group);
  p->numParametersInCategory = static_cast<int16_t>(param.groupSize);
  CopyPadded(p->categoryLabel, param.groupName, sizeof p->categoryLabel);
}

intptr_t cVSTeffect::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
  char* text = static_cast<char*>(ptr);
  const bool enabled = !m_bDisabled;
  const bool validParameter = index >= 0 && index < NumParameters() && ptr;
  cParameter* param = validParameter ? &m_Parameters[static_cast<size_t>(index)] : nullptr;

  // Runs work under the lock; a wait that times out disables the effect for good.
  auto locked = [this](auto&& work) {
    cLockGuard guard(m_Lock, kLockTries);
    if (!guard.Acquired()) {
      m_bDisabled = true;
      return false;
    }
    work();
    return true;
  };
  auto copyName = [text](const char* name, size_t limit) -> intptr_t {
    if (!text) return 0;
    CopyPadded(text, name, limit);
    text[limit] = '\0';
    return 1;
  };

  switch (opcode) {
    case effOpen:
      if (!m_bOpened) {
        Open();
        m_bOpened = true;
      }
      return 0;
    case effClose: {
      cLockGuard guard(m_Lock, kCloseLockTries);
      // Never destroy the object under the audio thread: wait for it to leave.
      if (!guard.Acquired()) guard.WaitWithoutLimit();
      Close();
      m_bClosing = true;
      return 0;
    }
    case effSetProgram:
      if (enabled && value >= 0 && value < m_Effect.record.numPrograms && value != m_CurrentProgram)
        locked([&] { SetProgram(static_cast<int32_t>(value)); });
      return 0;
    case effGetProgram:
      return m_CurrentProgram;
    case effSetProgramName:
      if (enabled && text) SetProgramName(text);
      return 0;
    case effGetProgramName:
      if (text) GetProgramName(text, m_CurrentProgram);
      return 0;
    case effGetParamLabel:
      if (param) param->GetLabel(text);
      return 0;
    case effGetParamDisplay:
      if (param) param->GetDisplay(text);
      return 0;
    case effGetParamName:
      if (param) param->GetName(text);
      return 0;
    case effSetSampleRate:
      if (enabled) locked([&] {
          m_SampleRate = opt;
          OnSampleRateChanged();
        });
      return 0;
    case effSetBlockSize:
      if (enabled) locked([&] {
          m_BlockSize = static_cast<int32_t>(value);
          OnBlockSizeChanged();
        });
      return 0;
    case effMainsChanged:
      if (enabled) locked([&] { OnMainsChanged(value != 0); });
      return 0;
    case effEditGetRect:
    case effEditOpen:
    case effEditClose:
      return 0;
    case effIdentify:
      return kIdentifyAnswer;
    case effProcessEvents: {
      if (!enabled || !ptr) return 0;
      bool queued = false;
      locked([&] { queued = QueueEvents(static_cast<const VstEvents*>(ptr)); });
      return queued ? 1 : 0;
    }
    case effCanBeAutomated:
      return 1;
    case effString2Parameter:
      return enabled && text && StringToParameter(index, text) ? 1 : 0;
    case effGetProgramNameIndexed:
      return text && GetProgramName(text, index) ? 1 : 0;
    case effGetInputProperties:
    case effGetOutputProperties:
      return ptr && GetPinProperties(opcode == effGetOutputProperties, index, static_cast<VstPinProperties*>(ptr))
                 ? 1
                 : 0;
    case effGetPlugCategory:
      return kEffectIdentity.category;
    case effGetEffectName:
      return copyName(kEffectIdentity.effectName, kVstMaxEffectNameLen);
    case effGetVendorString:
      return copyName(kEffectIdentity.vendorName, kVstMaxVendorStrLen);
    case effGetProductString:
      return copyName(kEffectIdentity.productName, kVstMaxProductStrLen);
    case effGetVendorVersion:
      return kEffectIdentity.version;
    case effCanDo:
      return text ? CanDo(text) : 0;
    case effGetParameterProperties:
      if (!param) return 0;
      FillParameterProperties(index, static_cast<VstParameterProperties*>(ptr));
      return 1;
    case effGetVstVersion:
      return kVstVersion;
    case effGetCurrentMidiProgram:
      return -1;
    default:
      return 0;
  }
}

}  // namespace nimbo
