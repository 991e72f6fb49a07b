#include "cVst3Host.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace nimbohost {

using namespace vst3;
using namespace vst3::Vst;
namespace fs = std::filesystem;

// ---- text ---------------------------------------------------------------------

std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits) {
  std::string out;
  for (size_t i = 0; i < maxUnits && text[i] != u'\0'; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < maxUnits && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next >> 6) == 2;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) c = 0xFFFD;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += valid ? length : 1;
  }
  return out;
}

std::string IidHex(const char* bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::string ResultName(tresult result) {
  switch (result) {
    case kResultOk:
      return "kResultOk";
    case kResultFalse:
      return "kResultFalse";
    case kNoInterface:
      return "kNoInterface";
    case kInvalidArgument:
      return "kInvalidArgument";
    case kNotImplemented:
      return "kNotImplemented";
    case kInternalError:
      return "kInternalError";
    case kNotInitialized:
      return "kNotInitialized";
    case kOutOfMemory:
      return "kOutOfMemory";
    default:
      return "result " + std::to_string(result);
  }
}

std::string UidString(const char* bytes) {
  char ordered[16];
  std::memcpy(ordered, bytes, sizeof ordered);
#if NIMBO_VST3_COM_COMPATIBLE
  std::swap(ordered[0], ordered[3]);
  std::swap(ordered[1], ordered[2]);
  std::swap(ordered[4], ordered[5]);
  std::swap(ordered[6], ordered[7]);
#endif
  return IidHex(ordered);
}

// ---- host objects -------------------------------------------------------------

tresult PLUGIN_API cHostAttributeList::setInt(AttrID id, int64 value) {
  if (!id) return kInvalidArgument;
  m_Values[id] = value;
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::getInt(AttrID id, int64& value) {
  const auto found = id ? m_Values.find(id) : m_Values.end();
  if (found == m_Values.end() || !std::holds_alternative<int64>(found->second)) return kResultFalse;
  value = std::get<int64>(found->second);
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::setFloat(AttrID id, double value) {
  if (!id) return kInvalidArgument;
  m_Values[id] = value;
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::getFloat(AttrID id, double& value) {
  const auto found = id ? m_Values.find(id) : m_Values.end();
  if (found == m_Values.end() || !std::holds_alternative<double>(found->second)) return kResultFalse;
  value = std::get<double>(found->second);
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::setString(AttrID id, const TChar* string) {
  if (!id || !string) return kInvalidArgument;
  m_Values[id] = std::u16string(string);
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::getString(AttrID id, TChar* string, uint32 sizeInBytes) {
  const auto found = id ? m_Values.find(id) : m_Values.end();
  if (!string || found == m_Values.end() || !std::holds_alternative<std::u16string>(found->second)) return kResultFalse;
  const std::u16string& text = std::get<std::u16string>(found->second);
  const size_t units = sizeInBytes / sizeof(TChar);
  if (units == 0) return kInvalidArgument;
  const size_t copied = std::min(text.size(), units - 1);
  std::copy_n(text.data(), copied, string);
  string[copied] = u'\0';
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::setBinary(AttrID id, const void* data, uint32 sizeInBytes) {
  if (!id || (!data && sizeInBytes > 0)) return kInvalidArgument;
  const char* bytes = static_cast<const char*>(data);
  m_Values[id] = std::vector<char>(bytes, bytes + sizeInBytes);
  return kResultOk;
}

tresult PLUGIN_API cHostAttributeList::getBinary(AttrID id, const void*& data, uint32& sizeInBytes) {
  const auto found = id ? m_Values.find(id) : m_Values.end();
  if (found == m_Values.end() || !std::holds_alternative<std::vector<char>>(found->second)) return kResultFalse;
  const std::vector<char>& bytes = std::get<std::vector<char>>(found->second);
  data = bytes.data();
  sizeInBytes = static_cast<uint32>(bytes.size());
  return kResultOk;
}

tresult PLUGIN_API cHostApplication::getName(String128 name) {
  if (!name) return kInvalidArgument;
  const std::u16string text = Utf8ToUtf16(m_Name);
  const size_t copied = std::min<size_t>(text.size(), 127);
  std::copy_n(text.data(), copied, name);
  name[copied] = u'\0';
  return kResultOk;
}

tresult PLUGIN_API cHostApplication::createInstance(TUID cid, TUID interfaceId, void** obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  if (IidEqual(cid, IMessage::iid) && IidEqual(interfaceId, IMessage::iid)) {
    *obj = static_cast<IMessage*>(cHostMessage::Make().Detach());
  } else if (IidEqual(cid, IAttributeList::iid) && IidEqual(interfaceId, IAttributeList::iid)) {
    *obj = static_cast<IAttributeList*>(cHostAttributeList::Make().Detach());
  }
  return *obj ? kResultOk : kResultFalse;
}

int32 cMemoryStream::Allowed(int32 asked) const {
  if (asked <= 0) return 0;
  return m_MaxBytesPerCall > 0 ? std::min(asked, m_MaxBytesPerCall) : asked;
}

tresult PLUGIN_API cMemoryStream::read(void* buffer, int32 numBytes, int32* numBytesRead) {
  ++m_Calls;
  if (numBytesRead) *numBytesRead = 0;
  if (!buffer && numBytes > 0) return kInvalidArgument;
  const size_t available = m_Position < m_Bytes.size() ? m_Bytes.size() - m_Position : 0;
  const auto count = static_cast<int32>(std::min<size_t>(static_cast<size_t>(Allowed(numBytes)), available));
  if (count > 0) std::memcpy(buffer, m_Bytes.data() + m_Position, static_cast<size_t>(count));
  m_Position += static_cast<size_t>(count);
  if (numBytesRead) *numBytesRead = count;
  return kResultOk;
}

tresult PLUGIN_API cMemoryStream::write(void* buffer, int32 numBytes, int32* numBytesWritten) {
  ++m_Calls;
  if (numBytesWritten) *numBytesWritten = 0;
  if (!buffer && numBytes > 0) return kInvalidArgument;
  const int32 count = Allowed(numBytes);
  if (m_Position + static_cast<size_t>(count) > m_Bytes.size()) m_Bytes.resize(m_Position + static_cast<size_t>(count));
  if (count > 0) std::memcpy(m_Bytes.data() + m_Position, buffer, static_cast<size_t>(count));
  m_Position += static_cast<size_t>(count);
  if (numBytesWritten) *numBytesWritten = count;
  return kResultOk;
}

tresult PLUGIN_API cMemoryStream::seek(int64 pos, int32 mode, int64* result) {
  int64 base = 0;
  switch (mode) {
    case IBStream::kIBSeekSet:
      base = 0;
      break;
    case IBStream::kIBSeekCur:
      base = static_cast<int64>(m_Position);
      break;
    case IBStream::kIBSeekEnd:
      base = static_cast<int64>(m_Bytes.size());
      break;
    default:
      return kInvalidArgument;
  }
  if (base + pos < 0) return kInvalidArgument;
  m_Position = static_cast<size_t>(base + pos);
  if (result) *result = static_cast<int64>(m_Position);
  return kResultOk;
}

tresult PLUGIN_API cMemoryStream::tell(int64* pos) {
  if (!pos) return kInvalidArgument;
  *pos = static_cast<int64>(m_Position);
  return kResultOk;
}

tresult PLUGIN_API cMemoryStream::getStreamSize(int64& size) {
  size = static_cast<int64>(m_Bytes.size());
  return kResultOk;
}

tresult PLUGIN_API cMemoryStream::setStreamSize(int64 size) {
  if (size < 0) return kInvalidArgument;
  m_Bytes.resize(static_cast<size_t>(size));
  return kResultOk;
}

tresult PLUGIN_API cParamValueQueue::getPoint(int32 index, int32& sampleOffset, ParamValue& value) {
  if (index < 0 || index >= getPointCount()) return kInvalidArgument;
  sampleOffset = m_Points[static_cast<size_t>(index)].first;
  value = m_Points[static_cast<size_t>(index)].second;
  return kResultOk;
}

tresult PLUGIN_API cParamValueQueue::addPoint(int32 sampleOffset, ParamValue value, int32& index) {
  m_Points.emplace_back(sampleOffset, value);
  index = getPointCount() - 1;
  return kResultOk;
}

IParamValueQueue* PLUGIN_API cParameterChanges::getParameterData(int32 index) {
  if (index < 0 || index >= getParameterCount()) return nullptr;
  return m_Queues[static_cast<size_t>(index)].get();
}

IParamValueQueue* PLUGIN_API cParameterChanges::addParameterData(const ParamID& id, int32& index) {
  for (size_t i = 0; i < m_Queues.size(); ++i) {
    if (m_Queues[i]->getParameterId() == id) {
      index = static_cast<int32>(i);
      return m_Queues[i].get();
    }
  }
  m_Queues.push_back(cParamValueQueue::Make(id));
  index = getParameterCount() - 1;
  return m_Queues.back().get();
}

void cParameterChanges::Add(ParamID id, int32 sampleOffset, ParamValue value) {
  int32 index = 0;
  int32 point = 0;
  addParameterData(id, index)->addPoint(sampleOffset, value, point);
}

tresult PLUGIN_API cEventList::getEvent(int32 index, Event& e) {
  if (index < 0 || index >= getEventCount()) return kInvalidArgument;
  e = m_Events[static_cast<size_t>(index)];
  return kResultOk;
}

tresult PLUGIN_API cEventList::addEvent(Event& e) {
  m_Events.push_back(e);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::beginEdit(ParamID id) {
  Record(sCall::kBeginEdit, static_cast<int32>(id), 0.0);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::performEdit(ParamID id, ParamValue valueNormalized) {
  Record(sCall::kPerformEdit, static_cast<int32>(id), valueNormalized);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::endEdit(ParamID id) {
  Record(sCall::kEndEdit, static_cast<int32>(id), 0.0);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::restartComponent(int32 flags) {
  Record(sCall::kRestart, flags, 0.0);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::setDirty(TBool state) {
  Record(sCall::kSetDirty, state, 0.0);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::notifyUnitSelection(UnitID unitId) {
  Record(sCall::kUnitSelection, unitId, 0.0);
  return kResultOk;
}

tresult PLUGIN_API cComponentHandler::notifyProgramListChange(ProgramListID listId, int32 programIndex) {
  Record(sCall::kProgramListChange, listId, programIndex);
  return kResultOk;
}

std::vector<int32> cComponentHandler::Restarts() const {
  std::vector<int32> flags;
  for (const sCall& call : m_Calls) {
    if (call.kind == sCall::kRestart) flags.push_back(call.id);
  }
  return flags;
}

// ---- module -------------------------------------------------------------------

namespace {

#ifdef _WIN32
#if defined(_M_ARM64) || defined(__aarch64__)
constexpr const char* kArchitecture = "arm64-win";
#elif defined(_WIN64)
constexpr const char* kArchitecture = "x86_64-win";
#else
constexpr const char* kArchitecture = "x86-win";
#endif
constexpr const char* kBinarySuffix = ".vst3";
#else
#if defined(__aarch64__)
constexpr const char* kArchitecture = "aarch64-linux";
#elif defined(__x86_64__)
constexpr const char* kArchitecture = "x86_64-linux";
#else
constexpr const char* kArchitecture = "i386-linux";
#endif
constexpr const char* kBinarySuffix = ".so";
#endif

}  // namespace

std::string cVst3Module::BinaryPath(const std::string& bundle) {
  const fs::path path(bundle);
  if (!fs::is_directory(path)) return bundle;
  const fs::path name = path.filename().empty() ? path.parent_path().filename() : path.filename();
  return (path / "Contents" / kArchitecture / (name.stem().string() + kBinarySuffix)).string();
}

void* cVst3Module::Symbol(const char* name) const {
  if (!m_Handle) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_Handle), name));
#else
  return dlsym(m_Handle, name);
#endif
}

std::shared_ptr<cVst3Module> cVst3Module::Load(const std::string& path, std::string* error) {
  auto fail = [error](const std::string& reason) {
    if (error) *error = reason;
    return nullptr;
  };
  std::shared_ptr<cVst3Module> module(new cVst3Module());
  module->m_Binary = BinaryPath(path);
#ifdef _WIN32
  module->m_Handle = LoadLibraryW(fs::path(module->m_Binary).c_str());
  if (!module->m_Handle) {
    return fail("cannot load " + module->m_Binary + " (error " + std::to_string(GetLastError()) + ")");
  }
  // Optional on Windows.
  if (auto init = reinterpret_cast<InitModuleFunc>(module->Symbol("InitDll"))) {
    if (!init()) return fail("InitDll failed");
    module->m_bEntered = true;
  }
#else
  module->m_Handle = dlopen(module->m_Binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module->m_Handle) {
    const char* reason = dlerror();
    return fail(reason ? reason : "cannot load " + module->m_Binary);
  }
  // Required on Linux: hosts refuse modules without it.
  auto entry = reinterpret_cast<ModuleEntryFunc>(module->Symbol("ModuleEntry"));
  if (!entry) return fail("no ModuleEntry in " + module->m_Binary);
  if (!reinterpret_cast<ModuleExitFunc>(module->Symbol("ModuleExit")))
    return fail("no ModuleExit in " + module->m_Binary);
  if (!entry(module->m_Handle)) return fail("ModuleEntry failed");
  module->m_bEntered = true;
#endif
  auto getFactory = reinterpret_cast<GetFactoryProc>(module->Symbol("GetPluginFactory"));
  if (!getFactory) return fail("no GetPluginFactory in " + module->m_Binary);
  if (!module->TakeFactory(getFactory(), error)) return nullptr;
  return module;
}

std::shared_ptr<cVst3Module> cVst3Module::FromFactory(IPluginFactory* factory) {
  std::shared_ptr<cVst3Module> module(new cVst3Module());
  return module->TakeFactory(factory, nullptr) ? module : nullptr;
}

bool cVst3Module::TakeFactory(IPluginFactory* factory, std::string* error) {
  auto fail = [error](const std::string& reason) {
    if (error) *error = reason;
    return false;
  };
  m_Factory = tRef<IPluginFactory>(factory);
  if (!m_Factory) return fail("GetPluginFactory returned no factory");
  m_Factory2 = Query<IPluginFactory2>(m_Factory.get());
  m_Factory3 = Query<IPluginFactory3>(m_Factory.get());
  m_Host = cHostApplication::Make("nimbohall-vst3host");
  if (m_Factory3) m_Factory3->setHostContext(m_Host.get());

  const int32 count = m_Factory->countClasses();
  for (int32 i = 0; i < count; ++i) {
    sClassInfo info;
    if (m_Factory->getClassInfo(i, &info.info) != kResultOk) return fail("getClassInfo failed for a class");
    std::memcpy(info.cid.data(), info.info.cid, info.cid.size());
    PClassInfo2 info2{};
    if (m_Factory2 && m_Factory2->getClassInfo2(i, &info2) == kResultOk) info.info2 = info2;
    PClassInfoW infoW{};
    if (m_Factory3 && m_Factory3->getClassInfoUnicode(i, &infoW) == kResultOk) info.infoW = infoW;
    m_Classes.push_back(info);
  }
  return true;
}

cVst3Module::~cVst3Module() {
  m_Factory3 = {};
  m_Factory2 = {};
  m_Factory = {};
  m_Host = {};
  if (!m_Handle) return;
#ifdef _WIN32
  if (auto exitDll = reinterpret_cast<ExitModuleFunc>(Symbol("ExitDll")); exitDll && m_bEntered) exitDll();
  FreeLibrary(static_cast<HMODULE>(m_Handle));
#else
  if (auto exit = reinterpret_cast<ModuleExitFunc>(Symbol("ModuleExit")); exit && m_bEntered) exit();
  dlclose(m_Handle);
#endif
}

tresult cVst3Module::FactoryInfo(PFactoryInfo& info) const { return m_Factory->getFactoryInfo(&info); }

const sClassInfo* cVst3Module::FindClass(std::string_view category) const {
  for (const sClassInfo& info : m_Classes) {
    if (FieldText(info.info.category) == category) return &info;
  }
  return nullptr;
}

// ---- plugin instance -------------------------------------------------------------

std::unique_ptr<cVst3Plugin> cVst3Plugin::Create(std::shared_ptr<cVst3Module> module, const Iid& classId,
                                                 std::string* error) {
  auto fail = [error](const std::string& reason) {
    if (error) *error = reason;
    return nullptr;
  };
  if (!module) return fail("no module");
  std::unique_ptr<cVst3Plugin> plugin(new cVst3Plugin());
  plugin->m_Module = module;
  plugin->m_Handler = cComponentHandler::Make();
  FUnknown* host = module->Host();

  void* object = nullptr;
  tresult result = module->Factory()->createInstance(classId.data(), IComponent::iid.data(), &object);
  if (result != kResultOk || !object) return fail("createInstance of the component answered " + ResultName(result));
  plugin->m_Component = tRef<IComponent>(static_cast<IComponent*>(object));
  result = plugin->m_Component->initialize(host);
  if (result != kResultOk) return fail("the component's initialize answered " + ResultName(result));
  plugin->m_bComponentInitialized = true;
  plugin->m_Processor = Query<IAudioProcessor>(plugin->m_Component.get());
  if (!plugin->m_Processor) return fail("the component has no IAudioProcessor");

  // A separate controller class when the component names one, else the component itself.
  TUID controllerId = {};
  const Iid none{};
  if (plugin->m_Component->getControllerClassId(controllerId) == kResultOk && !IidEqual(controllerId, none) &&
      !IidEqual(controllerId, classId)) {
    object = nullptr;
    result = module->Factory()->createInstance(controllerId, IEditController::iid.data(), &object);
    if (result != kResultOk || !object) {
      return fail("createInstance of the controller answered " + ResultName(result));
    }
    plugin->m_Controller = tRef<IEditController>(static_cast<IEditController*>(object));
    result = plugin->m_Controller->initialize(host);
    if (result != kResultOk) return fail("the controller's initialize answered " + ResultName(result));
    plugin->m_bControllerInitialized = true;
    plugin->m_bSeparateController = true;
    plugin->m_ComponentPoint = Query<IConnectionPoint>(plugin->m_Component.get());
    plugin->m_ControllerPoint = Query<IConnectionPoint>(plugin->m_Controller.get());
    if (plugin->m_ComponentPoint && plugin->m_ControllerPoint) {
      plugin->m_ComponentPoint->connect(plugin->m_ControllerPoint.get());
      plugin->m_ControllerPoint->connect(plugin->m_ComponentPoint.get());
    }
  } else {
    plugin->m_Controller = Query<IEditController>(plugin->m_Component.get());
    if (!plugin->m_Controller) return fail("no edit controller: neither a controller class nor IEditController");
  }
  plugin->m_Controller->setComponentHandler(plugin->m_Handler.get());
  plugin->m_Units = Query<IUnitInfo>(plugin->m_Controller.get());
  result = plugin->SyncController();
  if (result != kResultOk) return fail("the controller refused the component's state: " + ResultName(result));
  return plugin;
}

cVst3Plugin::~cVst3Plugin() {
  if (m_bProcessing) SetProcessing(false);
  if (m_bActive) SetActive(false);
  if (m_ComponentPoint && m_ControllerPoint) {
    m_ComponentPoint->disconnect(m_ControllerPoint.get());
    m_ControllerPoint->disconnect(m_ComponentPoint.get());
  }
  m_ComponentPoint = {};
  m_ControllerPoint = {};
  m_Units = {};
  if (m_Controller) m_Controller->setComponentHandler(nullptr);
  if (m_bControllerInitialized) m_Controller->terminate();
  m_Controller = {};
  m_Processor = {};
  if (m_bComponentInitialized) m_Component->terminate();
  m_Component = {};
  m_Handler = {};
}

int32 cVst3Plugin::BusCount(MediaType type, BusDirection direction) {
  return m_Component->getBusCount(type, direction);
}

std::optional<sBusInfo> cVst3Plugin::Bus(MediaType type, BusDirection direction, int32 index) {
  BusInfo info{};
  if (m_Component->getBusInfo(type, direction, index, info) != kResultOk) return std::nullopt;
  return sBusInfo{info.channelCount, FieldText(info.name), info.busType, info.flags};
}

tresult cVst3Plugin::SetArrangements(std::vector<SpeakerArrangement> inputs, std::vector<SpeakerArrangement> outputs) {
  return m_Processor->setBusArrangements(inputs.data(), static_cast<int32>(inputs.size()), outputs.data(),
                                         static_cast<int32>(outputs.size()));
}

std::optional<SpeakerArrangement> cVst3Plugin::Arrangement(BusDirection direction, int32 index) {
  SpeakerArrangement arrangement = 0;
  if (m_Processor->getBusArrangement(direction, index, arrangement) != kResultOk) return std::nullopt;
  return arrangement;
}

tresult cVst3Plugin::ActivateBus(MediaType type, BusDirection direction, int32 index, bool active) {
  return m_Component->activateBus(type, direction, index, active ? 1 : 0);
}

tresult cVst3Plugin::Setup(double sampleRate, int32 maxBlock, int32 sampleSize, int32 processMode) {
  ProcessSetup setup{processMode, sampleSize, maxBlock, sampleRate};
  return m_Processor->setupProcessing(setup);
}

tresult cVst3Plugin::SetActive(bool active) {
  const tresult result = m_Component->setActive(active ? 1 : 0);
  if (result == kResultOk) m_bActive = active;
  return result;
}

tresult cVst3Plugin::SetProcessing(bool processing) {
  const tresult result = m_Processor->setProcessing(processing ? 1 : 0);
  // Hosts go on regardless of the answer, and so must stop processing later.
  m_bProcessing = processing;
  return result;
}

tresult cVst3Plugin::Process(const sProcessCall& call) {
  ProcessData data{};
  data.processMode = call.processMode;
  data.symbolicSampleSize = call.sampleSize;
  data.numSamples = call.frames;
  data.numInputs = call.numInputs;
  data.numOutputs = call.numOutputs;
  data.inputs = call.inputs;
  data.outputs = call.outputs;
  data.inputParameterChanges = call.inputChanges;
  data.outputParameterChanges = call.outputChanges;
  data.inputEvents = call.inputEvents;
  data.outputEvents = nullptr;
  data.processContext = call.context;
  return m_Processor->process(data);
}

tresult cVst3Plugin::GetState(cMemoryStream& stream) { return m_Component->getState(&stream); }
tresult cVst3Plugin::SetState(cMemoryStream& stream) { return m_Component->setState(&stream); }

tresult cVst3Plugin::SetComponentStateOnController(cMemoryStream& stream) {
  m_Handler->EnterHostCall();
  const tresult result = m_Controller->setComponentState(&stream);
  m_Handler->LeaveHostCall();
  return result;
}

tresult cVst3Plugin::GetControllerState(cMemoryStream& stream) { return m_Controller->getState(&stream); }
tresult cVst3Plugin::SetControllerState(cMemoryStream& stream) { return m_Controller->setState(&stream); }

tresult cVst3Plugin::SyncController() {
  tRef<cMemoryStream> stream = cMemoryStream::Make();
  const tresult result = GetState(*stream.get());
  if (result != kResultOk) return result;
  stream->Rewind();
  return SetComponentStateOnController(*stream.get());
}

int32 cVst3Plugin::ParameterCount() { return m_Controller->getParameterCount(); }

std::optional<sParameterInfo> cVst3Plugin::Parameter(int32 index) {
  ParameterInfo info{};
  if (m_Controller->getParameterInfo(index, info) != kResultOk) return std::nullopt;
  return sParameterInfo{info.id,
                        FieldText(info.title),
                        FieldText(info.shortTitle),
                        FieldText(info.units),
                        info.stepCount,
                        info.defaultNormalizedValue,
                        info.unitId,
                        info.flags};
}

std::optional<std::string> cVst3Plugin::ValueText(ParamID id, double normalized) {
  String128 text{};
  if (m_Controller->getParamStringByValue(id, normalized, text) != kResultOk) return std::nullopt;
  return Utf16ToUtf8(text, 128);
}

std::optional<double> cVst3Plugin::ValueFromText(ParamID id, std::string_view text) {
  std::u16string wide = Utf8ToUtf16(text);
  double value = 0.0;
  if (m_Controller->getParamValueByString(id, wide.data(), value) != kResultOk) return std::nullopt;
  return value;
}

double cVst3Plugin::ToPlain(ParamID id, double normalized) {
  return m_Controller->normalizedParamToPlain(id, normalized);
}
double cVst3Plugin::ToNormalized(ParamID id, double plain) { return m_Controller->plainParamToNormalized(id, plain); }
double cVst3Plugin::Normalized(ParamID id) { return m_Controller->getParamNormalized(id); }

tresult cVst3Plugin::SetNormalized(ParamID id, double normalized) {
  m_Handler->EnterHostCall();
  const tresult result = m_Controller->setParamNormalized(id, normalized);
  m_Handler->LeaveHostCall();
  return result;
}

int32 cVst3Plugin::UnitCount() { return m_Units ? m_Units->getUnitCount() : 0; }

std::optional<sUnitInfo> cVst3Plugin::Unit(int32 index) {
  UnitInfo info{};
  if (!m_Units || m_Units->getUnitInfo(index, info) != kResultOk) return std::nullopt;
  return sUnitInfo{info.id, info.parentUnitId, FieldText(info.name), info.programListId};
}

int32 cVst3Plugin::ProgramListCount() { return m_Units ? m_Units->getProgramListCount() : 0; }

std::optional<sProgramListInfo> cVst3Plugin::ProgramList(int32 index) {
  ProgramListInfo info{};
  if (!m_Units || m_Units->getProgramListInfo(index, info) != kResultOk) return std::nullopt;
  return sProgramListInfo{info.id, FieldText(info.name), info.programCount};
}

std::optional<std::string> cVst3Plugin::ProgramName(ProgramListID listId, int32 index) {
  String128 name{};
  if (!m_Units || m_Units->getProgramName(listId, index, name) != kResultOk) return std::nullopt;
  return Utf16ToUtf8(name, 128);
}

// ---- buffers --------------------------------------------------------------------

cBusBuffers::cBusBuffers(int32 inputChannels, int32 outputChannels, int32 maxFrames)
    : m_Inputs(static_cast<size_t>(inputChannels), std::vector<float>(static_cast<size_t>(maxFrames))),
      m_Outputs(static_cast<size_t>(outputChannels), std::vector<float>(static_cast<size_t>(maxFrames))) {
  for (auto& channel : m_Inputs) m_InputPointers.push_back(channel.data());
  for (auto& channel : m_Outputs) m_OutputPointers.push_back(channel.data());
  m_InputBus.numChannels = inputChannels;
  m_InputBus.channelBuffers32 = m_InputPointers.data();
  m_OutputBus.numChannels = outputChannels;
  m_OutputBus.channelBuffers32 = m_OutputPointers.data();
}

sProcessCall cBusBuffers::Call(int32 frames, uint64 inputSilence) {
  m_InputBus.silenceFlags = inputSilence;
  m_OutputBus.silenceFlags = 0;
  sProcessCall call;
  call.inputs = m_InputBus.numChannels > 0 ? &m_InputBus : nullptr;
  call.numInputs = m_InputBus.numChannels > 0 ? 1 : 0;
  call.outputs = &m_OutputBus;
  call.numOutputs = 1;
  call.frames = frames;
  return call;
}

}  // namespace nimbohost
