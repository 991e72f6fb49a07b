#include "cVst3Factory.h"

#include "Vst3Identity.h"
#include "cVst3Reverb.h"
#include "Vst3Text.h"

using namespace nimbo;

namespace nimbovst3 {

using namespace vst3;

namespace {
constexpr int32 kNumClasses = 1;
}  // namespace

cVst3Factory& cVst3Factory::Instance() {
  static cVst3Factory factory;
  return factory;
}

tresult PLUGIN_API cVst3Factory::queryInterface(const TUID interfaceId, void** obj) {
  if (!obj) return kInvalidArgument;
  *obj = nullptr;
  if (IidEqual(interfaceId, FUnknown::iid) || IidEqual(interfaceId, IPluginFactory::iid) ||
      IidEqual(interfaceId, IPluginFactory2::iid) || IidEqual(interfaceId, IPluginFactory3::iid)) {
    *obj = static_cast<IPluginFactory3*>(this);
    addRef();
    return kResultOk;
  }
  return kNoInterface;
}

uint32 PLUGIN_API cVst3Factory::addRef() { return ++m_RefCount; }

uint32 PLUGIN_API cVst3Factory::release() {
  // Never below 1: the factory outlives every host reference.
  uint32 count = m_RefCount.load();
  while (count > 1 && !m_RefCount.compare_exchange_weak(count, count - 1)) {
  }
  return count > 1 ? count - 1 : 1;
}

tresult PLUGIN_API cVst3Factory::getFactoryInfo(PFactoryInfo* info) {
  if (!info) return kInvalidArgument;
  CopyText(info->vendor, kVendorName);
  CopyText(info->url, kVendorUrl);
  CopyText(info->email, kVendorEmail);
  info->flags = Vst::kDefaultFactoryFlags;
  return kResultOk;
}

int32 PLUGIN_API cVst3Factory::countClasses() { return kNumClasses; }

tresult PLUGIN_API cVst3Factory::getClassInfo(int32 index, PClassInfo* info) {
  if (!info || index < 0 || index >= kNumClasses) return kInvalidArgument;
  std::memcpy(info->cid, kAudioEffectClassId.data(), sizeof info->cid);
  info->cardinality = PClassInfo::kManyInstances;
  CopyText(info->category, Vst::kVstAudioEffectClass);
  CopyText(info->name, kProductName);
  return kResultOk;
}

namespace {

// PClassInfo2 and PClassInfoW hold the same fields, in bytes or UTF-16.
template <class tInfo>
tresult FillClassInfo(int32 index, tInfo* info) {
  if (!info || index < 0 || index >= kNumClasses) return kInvalidArgument;
  std::memcpy(info->cid, kAudioEffectClassId.data(), sizeof info->cid);
  info->cardinality = PClassInfo::kManyInstances;
  CopyText(info->category, Vst::kVstAudioEffectClass);
  CopyText(info->name, kProductName);
  info->classFlags = 0;
  CopyText(info->subCategories, kSubCategories);
  CopyText(info->vendor, kVendorName);
  CopyText(info->version, kClassVersion);
  CopyText(info->sdkVersion, kSdkVersion);
  return kResultOk;
}

}  // namespace

tresult PLUGIN_API cVst3Factory::getClassInfo2(int32 index, PClassInfo2* info) { return FillClassInfo(index, info); }

tresult PLUGIN_API cVst3Factory::getClassInfoUnicode(int32 index, PClassInfoW* info) {
  return FillClassInfo(index, info);
}

tresult PLUGIN_API cVst3Factory::createInstance(FIDString cid, FIDString interfaceId, void** obj) {
  if (!obj || !cid || !interfaceId) return kInvalidArgument;
  *obj = nullptr;
  if (!IidEqual(cid, kAudioEffectClassId)) return kNoInterface;
  cVst3Reverb* effect = cVst3Reverb::Create();
  if (!effect) return kOutOfMemory;
  const tresult result = effect->queryInterface(interfaceId, obj);
  effect->release();  // the host's reference, if any, keeps it
  return result;
}

tresult PLUGIN_API cVst3Factory::setHostContext(FUnknown*) { return kResultOk; }

}  // namespace nimbovst3
