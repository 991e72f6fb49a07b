// The module's class factory: one per loaded module, never freed, so the
// host's references only count.
#pragma once

#include <atomic>

#include "vst3.h"

namespace nimbovst3 {

class cVst3Factory final : public vst3::IPluginFactory3 {
 public:
  static cVst3Factory& Instance();

  vst3::tresult PLUGIN_API queryInterface(const vst3::TUID interfaceId, void** obj) override;
  vst3::uint32 PLUGIN_API addRef() override;
  vst3::uint32 PLUGIN_API release() override;

  vst3::tresult PLUGIN_API getFactoryInfo(vst3::PFactoryInfo* info) override;
  vst3::int32 PLUGIN_API countClasses() override;
  vst3::tresult PLUGIN_API getClassInfo(vst3::int32 index, vst3::PClassInfo* info) override;
  vst3::tresult PLUGIN_API createInstance(vst3::FIDString cid, vst3::FIDString interfaceId, void** obj) override;
  vst3::tresult PLUGIN_API getClassInfo2(vst3::int32 index, vst3::PClassInfo2* info) override;
  vst3::tresult PLUGIN_API getClassInfoUnicode(vst3::int32 index, vst3::PClassInfoW* info) override;
  vst3::tresult PLUGIN_API setHostContext(vst3::FUnknown* context) override;

 private:
  cVst3Factory() = default;
  std::atomic<vst3::uint32> m_RefCount{1};
};

}  // namespace nimbovst3
