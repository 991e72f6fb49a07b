// Host side of the VST3 interface, for tests and tools: loads a bundle's
// module, walks its factory, and drives one plugin instance (component,
// processor, controller) the way a DAW does. Portable between POSIX and
// Windows, so the same code hosts the Linux module and, built with mingw, the
// Windows one under Wine. Host objects handed to the plugin (host context,
// messages, streams, parameter queues, component handler) are reference
// counted as the format requires; the process path allocates nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "vst3.h"

namespace nimbohost {

std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits);
std::u16string Utf8ToUtf16(std::string_view text);
// A fixed field of a record as text, stopping at its first NUL.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
  size_t length = 0;
  while (length < N && field[length] != '\0') ++length;
  return std::string(field, length);
}
template <size_t N>
std::string FieldText(const char16_t (&field)[N]) {
  return Utf16ToUtf8(field, N);
}
// An identifier as the 32 hex digits of its bytes in memory.
std::string IidHex(const char* bytes);
// A result code by name, the same on every platform ("kResultOk", ...).
std::string ResultName(vst3::tresult result);
// An identifier as the format writes it, the same on every platform: its four
// published words in hex (GUID fields read little-endian on Windows).
std::string UidString(const char* bytes);

// ---- reference counting -----------------------------------------------------------

// Reference counting and interface lookup for a host object implementing the
// given interfaces (each derived directly from FUnknown). Starts with one
// reference, held by whoever made it; the last release deletes it.
template <class... Interfaces>
class tHostObject : public Interfaces... {
 public:
  vst3::tresult PLUGIN_API queryInterface(const vst3::TUID interfaceId, void** obj) override {
    if (!obj) return vst3::kInvalidArgument;
    *obj = nullptr;
    auto offer = [&](void* typed, const vst3::Iid& id) {
      if (!*obj && vst3::IidEqual(interfaceId, id)) *obj = typed;
    };
    offer(static_cast<vst3::FUnknown*>(static_cast<First*>(this)), vst3::FUnknown::iid);
    (offer(static_cast<Interfaces*>(this), Interfaces::iid), ...);
    if (!*obj) return vst3::kNoInterface;
    addRef();
    return vst3::kResultOk;
  }
  vst3::uint32 PLUGIN_API addRef() override { return ++m_RefCount; }
  vst3::uint32 PLUGIN_API release() override {
    const vst3::uint32 count = --m_RefCount;
    if (count == 0) delete this;
    return count;
  }
  vst3::uint32 RefCount() const { return m_RefCount; }

 protected:
  tHostObject() = default;
  virtual ~tHostObject() = default;

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
  std::atomic<vst3::uint32> m_RefCount{1};
};

// Owning pointer to a reference-counted object: releases on destruction.
template <class T>
class tRef {
 public:
  tRef() = default;
  explicit tRef(T* object) : m_Object(object) {}  // adopts one reference
  tRef(const tRef& other) : m_Object(other.m_Object) {
    if (m_Object) m_Object->addRef();
  }
  tRef& operator=(tRef other) {
    std::swap(m_Object, other.m_Object);
    return *this;
  }
  ~tRef() {
    if (m_Object) m_Object->release();
  }
  T* get() const { return m_Object; }
  T* Detach() {  // hands the reference over to the caller
    T* object = m_Object;
    m_Object = nullptr;
    return object;
  }
  T* operator->() const { return m_Object; }
  explicit operator bool() const { return m_Object != nullptr; }

 private:
  T* m_Object = nullptr;
};

// Asks an object for another interface; empty when it has none.
template <class I>
tRef<I> Query(vst3::FUnknown* object) {
  void* found = nullptr;
  if (!object || object->queryInterface(I::iid.data(), &found) != vst3::kResultOk) return tRef<I>();
  return tRef<I>(static_cast<I*>(found));
}

// ---- host objects -------------------------------------------------------------

class cHostAttributeList final : public tHostObject<vst3::Vst::IAttributeList> {
 public:
  static tRef<cHostAttributeList> Make() { return tRef<cHostAttributeList>(new cHostAttributeList()); }
  vst3::tresult PLUGIN_API setInt(AttrID id, vst3::int64 value) override;
  vst3::tresult PLUGIN_API getInt(AttrID id, vst3::int64& value) override;
  vst3::tresult PLUGIN_API setFloat(AttrID id, double value) override;
  vst3::tresult PLUGIN_API getFloat(AttrID id, double& value) override;
  vst3::tresult PLUGIN_API setString(AttrID id, const vst3::Vst::TChar* string) override;
  vst3::tresult PLUGIN_API getString(AttrID id, vst3::Vst::TChar* string, vst3::uint32 sizeInBytes) override;
  vst3::tresult PLUGIN_API setBinary(AttrID id, const void* data, vst3::uint32 sizeInBytes) override;
  vst3::tresult PLUGIN_API getBinary(AttrID id, const void*& data, vst3::uint32& sizeInBytes) override;

 private:
  cHostAttributeList() = default;
  using Value = std::variant<vst3::int64, double, std::u16string, std::vector<char>>;
  std::map<std::string, Value> m_Values;
};

class cHostMessage final : public tHostObject<vst3::Vst::IMessage> {
 public:
  static tRef<cHostMessage> Make() { return tRef<cHostMessage>(new cHostMessage()); }
  vst3::FIDString PLUGIN_API getMessageID() override { return m_Id.c_str(); }
  void PLUGIN_API setMessageID(vst3::FIDString id) override { m_Id = id ? id : ""; }
  vst3::Vst::IAttributeList* PLUGIN_API getAttributes() override { return m_Attributes.get(); }

 private:
  cHostMessage() : m_Attributes(cHostAttributeList::Make()) {}
  std::string m_Id;
  tRef<cHostAttributeList> m_Attributes;
};

// The host context passed to initialize and to the factory.
class cHostApplication final : public tHostObject<vst3::Vst::IHostApplication> {
 public:
  static tRef<cHostApplication> Make(std::string name) { return tRef<cHostApplication>(new cHostApplication(name)); }
  vst3::tresult PLUGIN_API getName(vst3::Vst::String128 name) override;
  vst3::tresult PLUGIN_API createInstance(vst3::TUID cid, vst3::TUID interfaceId, void** obj) override;

 private:
  explicit cHostApplication(std::string name) : m_Name(std::move(name)) {}
  std::string m_Name;
};

// A memory stream that can be told to move at most a few bytes per call, as
// some hosts' streams do; it counts the calls it served.
class cMemoryStream final : public tHostObject<vst3::IBStream, vst3::ISizeableStream> {
 public:
  static tRef<cMemoryStream> Make(std::vector<char> bytes = {}, vst3::int32 maxBytesPerCall = 0) {
    return tRef<cMemoryStream>(new cMemoryStream(std::move(bytes), maxBytesPerCall));
  }
  vst3::tresult PLUGIN_API read(void* buffer, vst3::int32 numBytes, vst3::int32* numBytesRead) override;
  vst3::tresult PLUGIN_API write(void* buffer, vst3::int32 numBytes, vst3::int32* numBytesWritten) override;
  vst3::tresult PLUGIN_API seek(vst3::int64 pos, vst3::int32 mode, vst3::int64* result) override;
  vst3::tresult PLUGIN_API tell(vst3::int64* pos) override;
  vst3::tresult PLUGIN_API getStreamSize(vst3::int64& size) override;
  vst3::tresult PLUGIN_API setStreamSize(vst3::int64 size) override;

  const std::vector<char>& Bytes() const { return m_Bytes; }
  void Rewind() { m_Position = 0; }
  void SetMaxBytesPerCall(vst3::int32 bytes) { m_MaxBytesPerCall = bytes; }
  int Calls() const { return m_Calls; }

 private:
  cMemoryStream(std::vector<char> bytes, vst3::int32 maxBytesPerCall)
      : m_Bytes(std::move(bytes)), m_MaxBytesPerCall(maxBytesPerCall) {}
  vst3::int32 Allowed(vst3::int32 asked) const;
  std::vector<char> m_Bytes;
  size_t m_Position = 0;
  vst3::int32 m_MaxBytesPerCall = 0;  // 0: no limit
  int m_Calls = 0;
};

// One parameter's points within a block.
class cParamValueQueue final : public tHostObject<vst3::Vst::IParamValueQueue> {
 public:
  static tRef<cParamValueQueue> Make(vst3::Vst::ParamID id) { return tRef<cParamValueQueue>(new cParamValueQueue(id)); }
  vst3::Vst::ParamID PLUGIN_API getParameterId() override { return m_Id; }
  vst3::int32 PLUGIN_API getPointCount() override { return static_cast<vst3::int32>(m_Points.size()); }
  vst3::tresult PLUGIN_API getPoint(vst3::int32 index, vst3::int32& sampleOffset,
                                    vst3::Vst::ParamValue& value) override;
  vst3::tresult PLUGIN_API addPoint(vst3::int32 sampleOffset, vst3::Vst::ParamValue value, vst3::int32& index) override;

 private:
  explicit cParamValueQueue(vst3::Vst::ParamID id) : m_Id(id) { m_Points.reserve(64); }
  vst3::Vst::ParamID m_Id;
  std::vector<std::pair<vst3::int32, vst3::Vst::ParamValue>> m_Points;
};

// The parameter changes of one block. Fill it before process(); the plugin
// then only reads, which allocates nothing.
class cParameterChanges final : public tHostObject<vst3::Vst::IParameterChanges> {
 public:
  static tRef<cParameterChanges> Make() { return tRef<cParameterChanges>(new cParameterChanges()); }
  vst3::int32 PLUGIN_API getParameterCount() override { return static_cast<vst3::int32>(m_Queues.size()); }
  vst3::Vst::IParamValueQueue* PLUGIN_API getParameterData(vst3::int32 index) override;
  vst3::Vst::IParamValueQueue* PLUGIN_API addParameterData(const vst3::Vst::ParamID& id, vst3::int32& index) override;

  // Appends a point to id's queue, making the queue when needed.
  void Add(vst3::Vst::ParamID id, vst3::int32 sampleOffset, vst3::Vst::ParamValue value);
  void Clear() { m_Queues.clear(); }

 private:
  cParameterChanges() { m_Queues.reserve(64); }
  std::vector<tRef<cParamValueQueue>> m_Queues;
};

// Events of one block; effects are expected to take and ignore them.
class cEventList final : public tHostObject<vst3::Vst::IEventList> {
 public:
  static tRef<cEventList> Make() { return tRef<cEventList>(new cEventList()); }
  vst3::int32 PLUGIN_API getEventCount() override { return static_cast<vst3::int32>(m_Events.size()); }
  vst3::tresult PLUGIN_API getEvent(vst3::int32 index, vst3::Vst::Event& e) override;
  vst3::tresult PLUGIN_API addEvent(vst3::Vst::Event& e) override;

 private:
  cEventList() { m_Events.reserve(64); }
  std::vector<vst3::Vst::Event> m_Events;
};

// The host's handler: records what the controller tells the host, and whether
// it did so from inside a host call (the trap of hosts that hold a lock then).
class cComponentHandler final
    : public tHostObject<vst3::Vst::IComponentHandler, vst3::Vst::IComponentHandler2, vst3::Vst::IUnitHandler> {
 public:
  struct sCall {
    enum eKind { kBeginEdit, kPerformEdit, kEndEdit, kRestart, kSetDirty, kProgramListChange, kUnitSelection } kind;
    vst3::int32 id;        // parameter ID, restart flags, list ID or unit ID
    double value;          // performEdit value, program index
    bool bInsideHostCall;  // made synchronously inside a host-to-controller call
  };
  static tRef<cComponentHandler> Make() { return tRef<cComponentHandler>(new cComponentHandler()); }
  vst3::tresult PLUGIN_API beginEdit(vst3::Vst::ParamID id) override;
  vst3::tresult PLUGIN_API performEdit(vst3::Vst::ParamID id, vst3::Vst::ParamValue valueNormalized) override;
  vst3::tresult PLUGIN_API endEdit(vst3::Vst::ParamID id) override;
  vst3::tresult PLUGIN_API restartComponent(vst3::int32 flags) override;
  vst3::tresult PLUGIN_API setDirty(vst3::TBool state) override;
  vst3::tresult PLUGIN_API requestOpenEditor(vst3::FIDString) override { return vst3::kResultFalse; }
  vst3::tresult PLUGIN_API startGroupEdit() override { return vst3::kResultOk; }
  vst3::tresult PLUGIN_API finishGroupEdit() override { return vst3::kResultOk; }
  vst3::tresult PLUGIN_API notifyUnitSelection(vst3::Vst::UnitID unitId) override;
  vst3::tresult PLUGIN_API notifyProgramListChange(vst3::Vst::ProgramListID listId, vst3::int32 programIndex) override;

  const std::vector<sCall>& Calls() const { return m_Calls; }
  std::vector<vst3::int32> Restarts() const;  // flags of every restartComponent, in order
  void ClearCalls() { m_Calls.clear(); }
  // Marks the span of a host call into the controller.
  void EnterHostCall() { ++m_HostCallDepth; }
  void LeaveHostCall() { --m_HostCallDepth; }

 private:
  cComponentHandler() = default;
  void Record(sCall::eKind kind, vst3::int32 id, double value) {
    m_Calls.push_back({kind, id, value, m_HostCallDepth > 0});
  }
  std::vector<sCall> m_Calls;
  int m_HostCallDepth = 0;
};

// ---- module -------------------------------------------------------------------

struct sClassInfo {
  vst3::Iid cid{};
  vst3::PClassInfo info{};
  std::optional<vst3::PClassInfo2> info2;  // when the factory has IPluginFactory2
  std::optional<vst3::PClassInfoW> infoW;  // when the factory has IPluginFactory3
};

// A loaded module: the binary of a bundle, entered, with its factory.
class cVst3Module {
 public:
  // Loads a bundle (or a module binary given directly), calls its entry function
  // and gets the factory; null with a reason on failure.
  static std::shared_ptr<cVst3Module> Load(const std::string& path, std::string* error);
  // A factory in hand, from a module linked into the program (the fuzz target).
  static std::shared_ptr<cVst3Module> FromFactory(vst3::IPluginFactory* factory);
  ~cVst3Module();  // releases the factory, calls the exit function, unloads
  cVst3Module(const cVst3Module&) = delete;
  cVst3Module& operator=(const cVst3Module&) = delete;

  // The module binary inside a bundle for this platform.
  static std::string BinaryPath(const std::string& bundle);

  const std::string& Binary() const { return m_Binary; }
  bool HadEntry() const { return m_bEntered; }  // ModuleEntry / InitDll found and called
  vst3::IPluginFactory* Factory() const { return m_Factory.get(); }
  vst3::IPluginFactory2* Factory2() const { return m_Factory2.get(); }
  vst3::IPluginFactory3* Factory3() const { return m_Factory3.get(); }
  cHostApplication* Host() const { return m_Host.get(); }
  vst3::tresult FactoryInfo(vst3::PFactoryInfo& info) const;
  const std::vector<sClassInfo>& Classes() const { return m_Classes; }
  // The first class of the given category, e.g. kVstAudioEffectClass.
  const sClassInfo* FindClass(std::string_view category) const;
  void* Symbol(const char* name) const;

 private:
  cVst3Module() = default;
  bool TakeFactory(vst3::IPluginFactory* factory, std::string* error);
  void* m_Handle = nullptr;
  std::string m_Binary;
  bool m_bEntered = false;
  tRef<cHostApplication> m_Host;
  tRef<vst3::IPluginFactory> m_Factory;
  tRef<vst3::IPluginFactory2> m_Factory2;
  tRef<vst3::IPluginFactory3> m_Factory3;
  std::vector<sClassInfo> m_Classes;
};

// ---- plugin instance -------------------------------------------------------------

struct sBusInfo {
  vst3::int32 channelCount = 0;
  std::string name;
  vst3::Vst::BusType busType = 0;
  vst3::uint32 flags = 0;
};

struct sParameterInfo {
  vst3::Vst::ParamID id = 0;
  std::string title, shortTitle, units;
  vst3::int32 stepCount = 0;
  double defaultNormalizedValue = 0.0;
  vst3::Vst::UnitID unitId = 0;
  vst3::int32 flags = 0;
};

struct sUnitInfo {
  vst3::Vst::UnitID id = 0, parentUnitId = 0;
  std::string name;
  vst3::Vst::ProgramListID programListId = 0;
};

struct sProgramListInfo {
  vst3::Vst::ProgramListID id = 0;
  std::string name;
  vst3::int32 programCount = 0;
};

// Buffers of one process call, prepared by the caller so the call allocates nothing.
struct sProcessCall {
  vst3::Vst::AudioBusBuffers* inputs = nullptr;
  vst3::int32 numInputs = 0;
  vst3::Vst::AudioBusBuffers* outputs = nullptr;
  vst3::int32 numOutputs = 0;
  vst3::int32 frames = 0;
  vst3::Vst::IParameterChanges* inputChanges = nullptr;
  vst3::Vst::IParameterChanges* outputChanges = nullptr;
  vst3::Vst::IEventList* inputEvents = nullptr;
  vst3::Vst::ProcessContext* context = nullptr;
  vst3::int32 sampleSize = vst3::Vst::kSample32;
  vst3::int32 processMode = vst3::Vst::kRealtime;
};

// One instance of an audio effect class, set up as a DAW does: component
// initialized, controller found (separate class, or the component itself),
// the two connected when separate, handler set, controller synchronized with
// the component's state. Every call goes through the interfaces.
class cVst3Plugin {
 public:
  static std::unique_ptr<cVst3Plugin> Create(std::shared_ptr<cVst3Module> module, const vst3::Iid& classId,
                                             std::string* error);
  ~cVst3Plugin();  // stops processing, deactivates, disconnects, terminates, releases
  cVst3Plugin(const cVst3Plugin&) = delete;
  cVst3Plugin& operator=(const cVst3Plugin&) = delete;

  vst3::Vst::IComponent* Component() const { return m_Component.get(); }
  vst3::Vst::IAudioProcessor* Processor() const { return m_Processor.get(); }
  vst3::Vst::IEditController* Controller() const { return m_Controller.get(); }
  vst3::Vst::IUnitInfo* Units() const { return m_Units.get(); }
  cComponentHandler& Handler() const { return *m_Handler.get(); }
  bool HasSeparateController() const { return m_bSeparateController; }

  // Buses and arrangements.
  vst3::int32 BusCount(vst3::Vst::MediaType type, vst3::Vst::BusDirection direction);
  std::optional<sBusInfo> Bus(vst3::Vst::MediaType type, vst3::Vst::BusDirection direction, vst3::int32 index);
  vst3::tresult SetArrangements(std::vector<vst3::Vst::SpeakerArrangement> inputs,
                                std::vector<vst3::Vst::SpeakerArrangement> outputs);
  std::optional<vst3::Vst::SpeakerArrangement> Arrangement(vst3::Vst::BusDirection direction, vst3::int32 index);
  vst3::tresult ActivateBus(vst3::Vst::MediaType type, vst3::Vst::BusDirection direction, vst3::int32 index,
                            bool active);

  // Processing life cycle.
  vst3::tresult Setup(double sampleRate, vst3::int32 maxBlock, vst3::int32 sampleSize = vst3::Vst::kSample32,
                      vst3::int32 processMode = vst3::Vst::kRealtime);
  vst3::tresult SetActive(bool active);
  vst3::tresult SetProcessing(bool processing);
  vst3::tresult Process(const sProcessCall& call);  // [audio thread] allocates nothing

  // State: the component's, and the controller's own.
  vst3::tresult GetState(cMemoryStream& stream);
  vst3::tresult SetState(cMemoryStream& stream);
  vst3::tresult SetComponentStateOnController(cMemoryStream& stream);
  vst3::tresult GetControllerState(cMemoryStream& stream);
  vst3::tresult SetControllerState(cMemoryStream& stream);
  // Component state to the controller, as hosts do after loading a project.
  vst3::tresult SyncController();

  // Parameters, through the controller.
  vst3::int32 ParameterCount();
  std::optional<sParameterInfo> Parameter(vst3::int32 index);
  std::optional<std::string> ValueText(vst3::Vst::ParamID id, double normalized);
  std::optional<double> ValueFromText(vst3::Vst::ParamID id, std::string_view text);
  double ToPlain(vst3::Vst::ParamID id, double normalized);
  double ToNormalized(vst3::Vst::ParamID id, double plain);
  double Normalized(vst3::Vst::ParamID id);
  vst3::tresult SetNormalized(vst3::Vst::ParamID id, double normalized);

  // Units and program lists; empty when the controller has no IUnitInfo.
  vst3::int32 UnitCount();
  std::optional<sUnitInfo> Unit(vst3::int32 index);
  vst3::int32 ProgramListCount();
  std::optional<sProgramListInfo> ProgramList(vst3::int32 index);
  std::optional<std::string> ProgramName(vst3::Vst::ProgramListID listId, vst3::int32 index);

 private:
  cVst3Plugin() = default;
  std::shared_ptr<cVst3Module> m_Module;
  tRef<cComponentHandler> m_Handler;
  tRef<vst3::Vst::IComponent> m_Component;
  tRef<vst3::Vst::IAudioProcessor> m_Processor;
  tRef<vst3::Vst::IEditController> m_Controller;
  tRef<vst3::Vst::IUnitInfo> m_Units;
  tRef<vst3::Vst::IConnectionPoint> m_ComponentPoint;
  tRef<vst3::Vst::IConnectionPoint> m_ControllerPoint;
  bool m_bSeparateController = false;
  bool m_bComponentInitialized = false;
  bool m_bControllerInitialized = false;
  bool m_bActive = false;
  bool m_bProcessing = false;
};

// Buffers for a plugin with one main input and one main output bus, owned here
// so a process call only points at them.
class cBusBuffers {
 public:
  cBusBuffers(vst3::int32 inputChannels, vst3::int32 outputChannels, vst3::int32 maxFrames);
  float* Input(vst3::int32 channel) { return m_Inputs[channel].data(); }
  float* Output(vst3::int32 channel) { return m_Outputs[channel].data(); }
  // The call for the first frames of the buffers; silence flags as given.
  sProcessCall Call(vst3::int32 frames, vst3::uint64 inputSilence = 0);
  vst3::uint64 OutputSilence() const { return m_OutputBus.silenceFlags; }

 private:
  std::vector<std::vector<float>> m_Inputs, m_Outputs;
  std::vector<float*> m_InputPointers, m_OutputPointers;
  vst3::Vst::AudioBusBuffers m_InputBus{}, m_OutputBus{};
};

}  // namespace nimbohost
