#include "cVst3Reverb.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "../../nimbolib/TextEncoding.h"
#include "Vst2Bank.h"
#ifdef NIMBOHALL_EDITOR
#include "cVst3Editor.h"
#endif
#include "Vst3Identity.h"
#include "Vst3Text.h"

namespace nimbovst3 {

using namespace vst3;
using namespace nimbo;

namespace {

constexpr int32_t kLastProgram = kNumPrograms - 1;
constexpr eHostScale kScale = eHostScale::kNormalized;

// NaN is no program: callers keep the one in force.
int32_t ProgramIndex(double n) { return static_cast<int32_t>(std::lround(std::clamp(n, 0.0, 1.0) * kLastProgram)); }
float ProgramNormalized(int32_t index) { return static_cast<float>(index) / kLastProgram; }

bool IsKnown(Vst::ParamID id) { return id < static_cast<Vst::ParamID>(kNumVst3Parameters); }
bool IsHostValue(Vst::ParamID id) { return id <= static_cast<Vst::ParamID>(kBypassId); }

void PutText(Vst::String128 out, const char* cp1252) { nimbo::Cp1252ToUtf16(cp1252, out, 128); }

// A whole number 0..max written plainly, or -1.
int32_t WholeNumber(std::string_view text, int32_t max) {
  if (text.empty() || text.size() > 3) return -1;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value <= max ? value : -1;
}

}  // namespace

cVst3Reverb* cVst3Reverb::Create() { return new (std::nothrow) cVst3Reverb(); }

cVst3Reverb::cVst3Reverb() {
  for (int32_t id = 0; id < kNumVst3Parameters; ++id) {
    m_Default[static_cast<size_t>(id)] = CurrentNormalized(id);
    m_HostView[static_cast<size_t>(id)] = CurrentNormalized(id);
  }
  for (int32_t id = 0; id < kNumParameters; ++id) {
    const nimbo::cParameter& p = m_Core.Parameter(id);
    if (p.group >= 1 && p.group <= kNumGroupUnits) m_GroupName[static_cast<size_t>(p.group)] = p.groupName;
  }
}

cVst3Reverb::~cVst3Reverb() {
  if (m_Handler) m_Handler->release();
}

// ---- FUnknown ------------------------------------------------------------------------

tresult PLUGIN_API cVst3Reverb::queryInterface(const TUID interfaceId, void** obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  IComponent* component = this;
  IEditController* controller = this;
  if (IidEqual(interfaceId, FUnknown::iid) || IidEqual(interfaceId, IPluginBase::iid) ||
      IidEqual(interfaceId, Vst::IComponent::iid)) {
    *obj = component;
  } else if (IidEqual(interfaceId, Vst::IAudioProcessor::iid)) {
    *obj = static_cast<Vst::IAudioProcessor*>(this);
  } else if (IidEqual(interfaceId, Vst::IProcessContextRequirements::iid)) {
    *obj = static_cast<Vst::IProcessContextRequirements*>(this);
  } else if (IidEqual(interfaceId, Vst::IEditController::iid)) {
    *obj = controller;
  } else if (IidEqual(interfaceId, Vst::IUnitInfo::iid)) {
    *obj = static_cast<Vst::IUnitInfo*>(this);
  }
  if (!*obj) return kNoInterface;
  addRef();
  return kResultOk;
}

uint32 PLUGIN_API cVst3Reverb::addRef() { return ++m_RefCount; }

uint32 PLUGIN_API cVst3Reverb::release() {
  const uint32 count = --m_RefCount;
  if (count == 0) delete this;
  return count;
}

// ---- IPluginBase -----------------------------------------------------------------------

// Hosts initialize this object once as component and once more as controller,
// and may terminate and initialize either role again. The network is made at
// the first initialize and kept until the object goes, so a terminated object
// can be initialized again with its settings.
tresult PLUGIN_API cVst3Reverb::initialize(FUnknown*) {
  if (m_Initializations == 0 && !m_Core.Open(static_cast<float>(m_SampleRate))) return kOutOfMemory;
  if (m_Initializations++ == 0) m_Core.NoteMainThread();
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::terminate() {
  if (m_Initializations == 0) return kResultFalse;
  if (--m_Initializations == 0) {
    m_bProcessing = false;
    m_bActive = false;
    setComponentHandler(nullptr);
  }
  return kResultOk;
}

// ---- IComponent ------------------------------------------------------------------------

tresult PLUGIN_API cVst3Reverb::getControllerClassId(TUID classId) {
  // The controller is this object: hosts then ask it for IEditController.
  if (classId) std::memset(classId, 0, sizeof(TUID));
  return kResultFalse;
}

tresult PLUGIN_API cVst3Reverb::setIoMode(Vst::IoMode) { return kNotImplemented; }

int32 PLUGIN_API cVst3Reverb::getBusCount(Vst::MediaType type, Vst::BusDirection dir) {
  return type == Vst::kAudio && (dir == Vst::kInput || dir == Vst::kOutput) ? 1 : 0;
}

tresult PLUGIN_API cVst3Reverb::getBusInfo(Vst::MediaType type, Vst::BusDirection dir, int32 index,
                                           Vst::BusInfo& bus) {
  if (type != Vst::kAudio || index != 0 || (dir != Vst::kInput && dir != Vst::kOutput)) return kInvalidArgument;
  bus.mediaType = Vst::kAudio;
  bus.direction = dir;
  bus.channelCount = dir == Vst::kInput ? std::popcount(m_InputArrangement.load()) : 2;
  CopyText(bus.name, dir == Vst::kInput ? "Input" : "Output");
  bus.busType = Vst::kMain;
  bus.flags = Vst::BusInfo::kDefaultActive;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::getRoutingInfo(Vst::RoutingInfo&, Vst::RoutingInfo&) { return kNotImplemented; }

tresult PLUGIN_API cVst3Reverb::activateBus(Vst::MediaType type, Vst::BusDirection dir, int32 index, TBool) {
  if (type != Vst::kAudio || index != 0 || (dir != Vst::kInput && dir != Vst::kOutput)) return kInvalidArgument;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::setActive(TBool state) {
  if (!state) {
    m_bActive = false;
    return kResultOk;
  }
  if (m_Initializations == 0) return kNotInitialized;
  ApplyPendingProgram();
  try {
    if (m_Silence.size() < static_cast<size_t>(m_MaxBlock)) m_Silence.assign(static_cast<size_t>(m_MaxBlock), 0.0f);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  m_Core.RequestReset();
  m_bActive = true;
  return kResultOk;
}

tresult cVst3Reverb::SetComponentState(IBStream* state) {
  if (!state) return kInvalidArgument;
  // Our own state, or the bank a VST 2.x host saved of the VST 2.x build, which
  // hosts hand over when this class takes its place in an old project. Banks
  // are a few kilobytes; a stream that goes on beyond the limit is neither.
  constexpr size_t kLimit = 1 << 16;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(kLimit + 1);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  size_t total = 0;
  while (total < bytes.size()) {
    int32 moved = 0;
    if (state->read(bytes.data() + total, static_cast<int32>(bytes.size() - total), &moved) != kResultOk || moved <= 0)
      break;
    total += static_cast<size_t>(moved);
  }
  const std::span<const uint8_t> read(bytes.data(), total);
  if (total > kLimit || !(m_Core.LoadState(read) || LoadVst2Bank(m_Core, read))) return kInvalidArgument;
  m_PendingProgram = -1;
  return kResultOk;
}

tresult cVst3Reverb::GetComponentState(IBStream* state) {
  if (!state) return kInvalidArgument;
  ApplyPendingProgram();
  std::array<uint8_t, cReverbCore::kStateSize> bytes{};
  m_Core.SaveState(bytes);
  size_t total = 0;
  while (total < bytes.size()) {
    int32 moved = 0;
    if (state->write(bytes.data() + total, static_cast<int32>(bytes.size() - total), &moved) != kResultOk || moved <= 0)
      return kInternalError;
    total += static_cast<size_t>(moved);
  }
  return kResultOk;
}

// ---- IAudioProcessor ----------------------------------------------------------------------

tresult PLUGIN_API cVst3Reverb::setBusArrangements(Vst::SpeakerArrangement* inputs, int32 numIns,
                                                   Vst::SpeakerArrangement* outputs, int32 numOuts) {
  if (numIns != 1 || numOuts != 1 || !inputs || !outputs) return kResultFalse;
  const int inputChannels = std::popcount(inputs[0]);
  // Stereo in, or mono in (hosts name a single channel differently); always stereo out.
  if (outputs[0] != Vst::SpeakerArr::kStereo || (inputs[0] != Vst::SpeakerArr::kStereo && inputChannels != 1))
    return kResultFalse;
  // The channel count is fixed while active.
  if (m_bActive && inputChannels != std::popcount(m_InputArrangement.load())) return kResultFalse;
  m_InputArrangement = inputs[0];
  return kResultTrue;
}

tresult PLUGIN_API cVst3Reverb::getBusArrangement(Vst::BusDirection dir, int32 index, Vst::SpeakerArrangement& arr) {
  if (index != 0 || (dir != Vst::kInput && dir != Vst::kOutput)) return kInvalidArgument;
  arr = dir == Vst::kInput ? m_InputArrangement.load() : Vst::SpeakerArr::kStereo;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == Vst::kSample32 ? kResultTrue : kResultFalse;
}

uint32 PLUGIN_API cVst3Reverb::getLatencySamples() { return 0; }

tresult PLUGIN_API cVst3Reverb::setupProcessing(Vst::ProcessSetup& setup) {
  if (m_bActive || setup.symbolicSampleSize != Vst::kSample32) return kResultFalse;
  if (!(setup.sampleRate > 0.0) || !std::isfinite(setup.sampleRate) || setup.maxSamplesPerBlock <= 0)
    return kInvalidArgument;
  ApplyPendingProgram();
  m_SampleRate = setup.sampleRate;
  m_MaxBlock = setup.maxSamplesPerBlock;
  m_Core.SetSampleRate(static_cast<float>(m_SampleRate));
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::setProcessing(TBool state) {
  m_bProcessing = state != 0;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::process(Vst::ProcessData& data) {
  if (data.symbolicSampleSize != Vst::kSample32 || data.numSamples < 0) return kInvalidArgument;
  if (data.processMode != Vst::kOffline) m_Core.NoteRealtimeThread();  // offline, a stall harms nobody
  const int32 frames = data.numSamples;
  float* outL = nullptr;
  float* outR = nullptr;
  Vst::AudioBusBuffers* out = data.numOutputs > 0 ? data.outputs : nullptr;
  if (out && out->numChannels >= 2 && out->channelBuffers32 && out->channelBuffers32[0] && out->channelBuffers32[1]) {
    outL = out->channelBuffers32[0];
    outR = out->channelBuffers32[1];
  }
  const float* inL = nullptr;
  const float* inR = nullptr;
  const Vst::AudioBusBuffers* in = data.numInputs > 0 ? data.inputs : nullptr;
  if (in && in->numChannels >= 1 && in->channelBuffers32 && in->channelBuffers32[0]) {
    inL = in->channelBuffers32[0];
    inR = in->numChannels >= 2 && in->channelBuffers32[1] ? in->channelBuffers32[1] : inL;
  }
  const bool render = frames > 0 && outL && m_bActive.load(std::memory_order_relaxed) && m_Core.IsReady();
  const uint64 used = in && in->numChannels >= 2 ? 3 : 1;
  m_bInputSilent = !inL || (in->silenceFlags & used) == used;
  m_bAllZeros = true;
  // A program change a control thread held up last block comes first.
  int32_t pending = m_PendingProgram.load();
  if (pending >= 0 && m_Core.TrySetProgram(pending)) m_PendingProgram.compare_exchange_strong(pending, -1);
  RenderWithChanges(data, inL, inR, render ? outL : nullptr, render ? outR : nullptr);

  if (out && out->channelBuffers32 && frames > 0) {
    uint64 silence = 0;
    for (int32 c = 0; c < out->numChannels && c < 64; ++c) {
      float* samples = out->channelBuffers32[c];
      if (!samples) continue;
      if (!render) std::fill(samples, samples + frames, 0.0f);
      // Asleep for the whole block, the effect wrote zeros without looking.
      if ((render && m_bAllZeros && c < 2) || std::all_of(samples, samples + frames, [](float s) { return s == 0.0f; })) silence |= uint64{1} << c;
    }
    out->silenceFlags = silence;
  }
  ReportChanges(data.outputParameterChanges);
  return kResultOk;
}

void cVst3Reverb::RenderWithChanges(Vst::ProcessData& data, const float* inL, const float* inR, float* outL,
                                    float* outR) {
  const int32 frames = data.numSamples;
  auto load = [frames](sCursor& c, int32 floor) {
    int32 offset = 0;
    double value = 0.0;
    if (c.next >= c.count || c.queue->getPoint(c.next, offset, value) != kResultOk) {
      c.next = c.count;
      return;
    }
    c.offset = std::clamp(offset, floor, frames);
    c.value = value;
  };

  int32_t used = 0;
  if (Vst::IParameterChanges* changes = data.inputParameterChanges) {
    const int32 count = changes->getParameterCount();
    for (int32 i = 0; i < count; ++i) {
      Vst::IParamValueQueue* queue = changes->getParameterData(i);
      if (!queue) continue;
      const Vst::ParamID id = queue->getParameterId();
      const int32 points = queue->getPointCount();
      if (!IsKnown(id) || points <= 0) continue;
      if (used == kMaxQueues) {
        int32 offset = 0;
        double value = 0.0;
        if (queue->getPoint(points - 1, offset, value) == kResultOk) Apply(static_cast<int32_t>(id), value, true);
        continue;
      }
      sCursor& c = m_Cursors[static_cast<size_t>(used)];
      c = {queue, static_cast<int32_t>(id), 0, points, 0, 0.0};
      load(c, 0);
      if (c.next < c.count) ++used;
    }
  }

  // Render up to the earliest pending point, apply every point due there, go on.
  int32 pos = 0;
  for (;;) {
    int32 next = frames;
    bool pending = false;
    for (int32_t k = 0; k < used; ++k) {
      const sCursor& c = m_Cursors[static_cast<size_t>(k)];
      if (c.next < c.count) {
        pending = true;
        next = std::min(next, c.offset);
      }
    }
    if (outL && next > pos) Render(inL, inR, outL, outR, pos, next - pos);
    pos = std::max(pos, next);
    if (!pending) break;
    for (int32_t k = 0; k < used; ++k) {
      sCursor& c = m_Cursors[static_cast<size_t>(k)];
      while (c.next < c.count && c.offset <= pos) {
        Apply(c.id, c.value, true);
        ++c.next;
        load(c, pos);
      }
    }
  }
}

void cVst3Reverb::Render(const float* inL, const float* inR, float* outL, float* outR, int32_t from, int32_t frames) {
  if (inL) {
    m_bAllZeros = m_Core.ProcessOrSleep(inL + from, inR + from, outL + from, outR + from, frames, m_bInputSilent) &&
                  m_bAllZeros;
    return;
  }
  // No input bus: silence, in pieces as long as the silent buffer.
  const auto piece = static_cast<int32_t>(m_Silence.size());
  if (piece == 0) {
    std::fill(outL + from, outL + from + frames, 0.0f);
    std::fill(outR + from, outR + from + frames, 0.0f);
    return;
  }
  for (int32_t done = 0; done < frames; done += piece) {
    const int32_t n = std::min(piece, frames - done);
    m_bAllZeros = m_Core.ProcessOrSleep(m_Silence.data(), m_Silence.data(), outL + from + done, outR + from + done, n,
                                        true) && m_bAllZeros;
  }
}

void cVst3Reverb::ReportChanges(Vst::IParameterChanges* changes) {
  // Nothing changed since the last look, nothing to compare (a pending program change counts as a change).
  const uint32_t count = m_Core.ValueChanges();
  if (!changes || (count == m_ReportedChanges && m_PendingProgram.load(std::memory_order_relaxed) < 0)) return;
  m_ReportedChanges = count;
  for (int32_t id = 0; id < kNumVst3Parameters; ++id) {
    const float now = CurrentNormalized(id);
    std::atomic<float>& known = m_HostView[static_cast<size_t>(id)];
    if (now == known.load(std::memory_order_relaxed)) continue;
    int32 index = 0;
    const Vst::ParamID paramId = static_cast<Vst::ParamID>(id);
    if (Vst::IParamValueQueue* queue = changes->addParameterData(paramId, index)) {
      int32 point = 0;
      if (queue->addPoint(0, now, point) == kResultOk) known.store(now, std::memory_order_relaxed);
    }
  }
}

uint32 PLUGIN_API cVst3Reverb::getTailSamples() {
  const int64_t frames = m_Core.HostTailFrames(m_Core.OnMainThread());
  if (frames == nimbo::kInfiniteTail) return Vst::kInfiniteTail;
  return static_cast<uint32>(std::clamp<int64_t>(frames, 0, Vst::kInfiniteTail - 1));
}

uint32 PLUGIN_API cVst3Reverb::getProcessContextRequirements() { return 0; }

// ---- values ----------------------------------------------------------------------------

float cVst3Reverb::CurrentNormalized(int32_t id) const {
  if (id < kNumParameters) return m_Core.Normalized(id);
  if (id == kBypassId) return m_Core.Bypassed() ? 1.0f : 0.0f;
  const int32_t pending = m_PendingProgram.load();
  return ProgramNormalized(pending >= 0 ? pending : m_Core.CurrentProgram());
}

void cVst3Reverb::Apply(int32_t id, double normalized, bool fromAudioThread) {
  std::atomic<float>& known = m_HostView[static_cast<size_t>(id)];
  if (IsHostValue(static_cast<Vst::ParamID>(id))) {
    m_Core.SetHostValue(id, normalized, kScale);
    known.store(CurrentNormalized(id), std::memory_order_relaxed);
  } else if (id == kProgramChangeId && normalized == normalized) {
    const int32_t index = ProgramIndex(normalized);
    if (fromAudioThread) {
      // At its frame, unless a control thread is loading a program or a state right now.
      m_PendingProgram = index == m_Core.CurrentProgram() || m_Core.TrySetProgram(index) ? -1 : index;
    } else {
      m_PendingProgram = -1;
      if (index != m_Core.CurrentProgram()) m_Core.SetProgram(index);
    }
    known.store(ProgramNormalized(index), std::memory_order_relaxed);
  }
}

void cVst3Reverb::ApplyPendingProgram() {
  const int32_t pending = m_PendingProgram.exchange(-1);
  if (pending >= 0 && pending != m_Core.CurrentProgram()) m_Core.SetProgram(pending);
}

// ---- IEditController -------------------------------------------------------------------------

tresult cVst3Reverb::SetControllerState(IBStream* state) { return state ? kResultOk : kInvalidArgument; }
tresult cVst3Reverb::GetControllerState(IBStream* state) { return state ? kResultOk : kInvalidArgument; }

// The component's state is this object's own; nothing to take over.
tresult PLUGIN_API cVst3Reverb::setComponentState(IBStream* state) { return state ? kResultOk : kInvalidArgument; }

int32 PLUGIN_API cVst3Reverb::getParameterCount() { return kNumVst3Parameters; }

tresult PLUGIN_API cVst3Reverb::getParameterInfo(int32 paramIndex, Vst::ParameterInfo& info) {
  if (paramIndex < 0 || paramIndex >= kNumVst3Parameters) return kInvalidArgument;
  info = {};
  info.id = static_cast<Vst::ParamID>(paramIndex);
  info.defaultNormalizedValue = m_Default[static_cast<size_t>(paramIndex)];
  // Units stay empty: every value text carries its unit, which may change with the value (25 ms, 1.2 s).
  if (paramIndex < kNumParameters) {
    const nimbo::cParameter& p = m_Core.Parameter(paramIndex);
    PutText(info.title, p.longName);
    PutText(info.shortTitle, p.shortName);
    info.stepCount = p.curve == nimbo::kCurveInteger ? static_cast<int32>(p.maxValue - p.minValue) : 0;
    info.unitId = p.group;
    info.flags = Vst::ParameterInfo::kCanAutomate | (p.enumNames && info.stepCount > 1 ? Vst::ParameterInfo::kIsList : 0);
  } else if (paramIndex == kBypassId) {
    PutText(info.title, "Bypass");
    PutText(info.shortTitle, "Bypass");
    info.stepCount = 1;
    info.unitId = Vst::kRootUnitId;
    info.flags = Vst::ParameterInfo::kCanAutomate | Vst::ParameterInfo::kIsBypass;
  } else {
    PutText(info.title, "Program");
    PutText(info.shortTitle, "Program");
    info.stepCount = kLastProgram;
    info.unitId = Vst::kRootUnitId;
    info.flags = Vst::ParameterInfo::kCanAutomate | Vst::ParameterInfo::kIsList | Vst::ParameterInfo::kIsProgramChange;
  }
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::getParamStringByValue(Vst::ParamID id, Vst::ParamValue valueNormalized,
                                                      Vst::String128 string) {
  if (!string || !IsKnown(id)) return kInvalidArgument;
  if (IsHostValue(id)) {
    char text[nimbo::kValueTextSize];
    m_Core.HostValueText(static_cast<int32_t>(id), valueNormalized, kScale, text);
    PutText(string, text);
  } else {
    char name[kProgramNameSize] = {};
    m_Core.GetProgramName(valueNormalized == valueNormalized ? ProgramIndex(valueNormalized) : m_Core.CurrentProgram(), name);
    PutText(string, name);
  }
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::getParamValueByString(Vst::ParamID id, Vst::TChar* string,
                                                      Vst::ParamValue& valueNormalized) {
  if (!string || !IsKnown(id)) return kInvalidArgument;
  const std::string cp1252 = nimbo::Utf16ToCp1252(string, 1024);
  if (IsHostValue(id))
    return m_Core.ParseHostValue(static_cast<int32_t>(id), cp1252.c_str(), kScale, valueNormalized) ? kResultOk
                                                                                                     : kResultFalse;
  const std::string_view text = nimbo::Trimmed(cp1252);
  int32_t program = WholeNumber(text, kLastProgram);
  for (int32_t k = 0; program < 0 && k < kNumPrograms; ++k) {
    char name[kProgramNameSize] = {};
    m_Core.GetProgramName(k, name);
    if (nimbo::SameWord(text, name)) program = k;
  }
  if (program < 0) return kResultFalse;
  valueNormalized = ProgramNormalized(program);
  return kResultOk;
}

Vst::ParamValue PLUGIN_API cVst3Reverb::normalizedParamToPlain(Vst::ParamID id, Vst::ParamValue valueNormalized) {
  if (IsHostValue(id)) return m_Core.HostPlain(static_cast<int32_t>(id), valueNormalized, kScale);
  if (id == kProgramChangeId) return valueNormalized == valueNormalized ? ProgramIndex(valueNormalized) : m_Core.CurrentProgram();
  return 0.0;
}

Vst::ParamValue PLUGIN_API cVst3Reverb::plainParamToNormalized(Vst::ParamID id, Vst::ParamValue plainValue) {
  if (id == kBypassId) return m_Core.HostPlain(kBypassId, plainValue, eHostScale::kPlain);
  if (IsHostValue(id)) {
    const auto index = static_cast<int32_t>(id);
    return m_Core.Parameter(index).PlainToNormalized(m_Core.HostPlain(index, plainValue, eHostScale::kPlain));
  }
  if (id == kProgramChangeId) {
    if (plainValue != plainValue) return ProgramNormalized(m_Core.CurrentProgram());
    return ProgramNormalized(static_cast<int32_t>(std::lround(std::clamp(plainValue, 0.0, double{kLastProgram}))));
  }
  return 0.0;
}

Vst::ParamValue PLUGIN_API cVst3Reverb::getParamNormalized(Vst::ParamID id) {
  if (!IsKnown(id)) return 0.0;
  ApplyPendingProgram();
  return CurrentNormalized(static_cast<int32_t>(id));
}

tresult PLUGIN_API cVst3Reverb::setParamNormalized(Vst::ParamID id, Vst::ParamValue value) {
  if (!IsKnown(id)) return kInvalidArgument;
  ApplyPendingProgram();
  // While processing runs, values reach the effect through process(); a program change is a control-thread edit.
  const bool running = m_bActive && m_bProcessing;
  if (id == kProgramChangeId || !running) Apply(static_cast<int32_t>(id), value, false);
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::setComponentHandler(Vst::IComponentHandler* handler) {
  if (handler == m_Handler) return kResultOk;
  if (handler) handler->addRef();
  if (m_Handler) m_Handler->release();
  m_Handler = handler;
  return kResultOk;
}

IPlugView* PLUGIN_API cVst3Reverb::createView(FIDString name) {
#ifdef NIMBOHALL_EDITOR
  if (name && std::strcmp(name, Vst::ViewType::kEditor) == 0) return cVst3Editor::Create(*this);
#else
  (void)name;
#endif
  return nullptr;
}

// ---- IUnitInfo ----------------------------------------------------------------------------------

int32 PLUGIN_API cVst3Reverb::getUnitCount() { return 1 + kNumGroupUnits; }

tresult PLUGIN_API cVst3Reverb::getUnitInfo(int32 unitIndex, Vst::UnitInfo& info) {
  if (unitIndex < 0 || unitIndex > kNumGroupUnits) return kInvalidArgument;
  info = {};
  info.id = unitIndex;
  if (unitIndex == 0) {
    info.parentUnitId = Vst::kNoParentUnitId;
    PutText(info.name, kProductName);
    info.programListId = kProgramListId;
  } else {
    info.parentUnitId = Vst::kRootUnitId;
    const char* name = m_GroupName[static_cast<size_t>(unitIndex)];
    PutText(info.name, name ? name : "");
    info.programListId = Vst::kNoProgramListId;
  }
  return kResultOk;
}

int32 PLUGIN_API cVst3Reverb::getProgramListCount() { return 1; }

tresult PLUGIN_API cVst3Reverb::getProgramListInfo(int32 listIndex, Vst::ProgramListInfo& info) {
  if (listIndex != 0) return kInvalidArgument;
  info = {};
  info.id = kProgramListId;
  PutText(info.name, "Programs");
  info.programCount = kNumPrograms;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::getProgramName(Vst::ProgramListID listId, int32 programIndex, Vst::String128 name) {
  if (!name || listId != kProgramListId || programIndex < 0 || programIndex >= kNumPrograms) return kInvalidArgument;
  char text[kProgramNameSize] = {};
  m_Core.GetProgramName(programIndex, text);
  PutText(name, text);
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::getProgramInfo(Vst::ProgramListID, int32, Vst::CString, Vst::String128) {
  return kResultFalse;
}

tresult PLUGIN_API cVst3Reverb::hasProgramPitchNames(Vst::ProgramListID, int32) { return kResultFalse; }

tresult PLUGIN_API cVst3Reverb::getProgramPitchName(Vst::ProgramListID, int32, int16, Vst::String128) {
  return kResultFalse;
}

Vst::UnitID PLUGIN_API cVst3Reverb::getSelectedUnit() { return m_SelectedUnit; }

tresult PLUGIN_API cVst3Reverb::selectUnit(Vst::UnitID unitId) {
  if (unitId < 0 || unitId > kNumGroupUnits) return kInvalidArgument;
  m_SelectedUnit = unitId;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::getUnitByBus(Vst::MediaType type, Vst::BusDirection dir, int32 busIndex, int32,
                                             Vst::UnitID& unitId) {
  if (type != Vst::kAudio || busIndex != 0 || (dir != Vst::kInput && dir != Vst::kOutput)) return kResultFalse;
  unitId = Vst::kRootUnitId;
  return kResultOk;
}

tresult PLUGIN_API cVst3Reverb::setUnitProgramData(int32, int32, IBStream*) { return kNotImplemented; }

}  // namespace nimbovst3
