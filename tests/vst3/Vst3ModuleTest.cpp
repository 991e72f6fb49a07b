// The bundle as a VST3 host first meets it: module entry, factory and class
// descriptions, and the class ID that lets hosts swap in this build for the
// VST 2.x one in an old project.
#include <cctype>
#include <cstdio>

#include "Vst3Support.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;
using nimbohost::FieldText;
using vst3test::Bundle;

TEST(Vst3Module, ListsOneReverbByItsVendor) {
  const auto module = Bundle();
  ASSERT_TRUE(module);
  EXPECT_TRUE(module->HadEntry());
  ASSERT_TRUE(module->Factory2() && module->Factory3());

  PFactoryInfo factory{};
  ASSERT_EQ(module->FactoryInfo(factory), kResultOk);
  EXPECT_EQ(FieldText(factory.vendor), "Brannoch");
  EXPECT_EQ(FieldText(factory.url), "");
  EXPECT_EQ(FieldText(factory.email), "");
  EXPECT_EQ(factory.flags, PFactoryInfo::kUnicode);

  ASSERT_EQ(module->Classes().size(), 1u);
  const nimbohost::sClassInfo& effect = module->Classes()[0];
  EXPECT_EQ(FieldText(effect.info.category), kVstAudioEffectClass);
  EXPECT_EQ(FieldText(effect.info.name), "Nimbohall");
  EXPECT_EQ(effect.info.cardinality, PClassInfo::kManyInstances);
  ASSERT_TRUE(effect.info2 && effect.infoW);
  const PClassInfo2& info2 = *effect.info2;
  const PClassInfoW& infoW = *effect.infoW;
  EXPECT_EQ(FieldText(info2.subCategories), "Fx|Reverb");
  EXPECT_EQ(FieldText(info2.vendor), "Brannoch");
  EXPECT_EQ(FieldText(info2.sdkVersion).rfind("VST 3.", 0), 0u) << FieldText(info2.sdkVersion);
  // All three descriptions name the same class alike.
  auto text = [](const auto& i) {
    return nimbohost::IidHex(i.cid) + FieldText(i.category) + "|" + FieldText(i.name) + "|" + FieldText(i.subCategories) +
           "|" + FieldText(i.vendor) + "|" + FieldText(i.version) + "|" + FieldText(i.sdkVersion) + "|" +
           std::to_string(i.classFlags);
  };
  EXPECT_EQ(text(info2), text(infoW));
  EXPECT_EQ(nimbohost::IidHex(info2.cid), nimbohost::IidHex(effect.info.cid));
}

// The ID a host derives from the VST 2.x build it finds in a project: the hex
// string "VST" + unique ID + first 9 name bytes in lower case, read the way
// the format reads UID strings on this platform.
TEST(Vst3Module, ClassIdIsTheOneHostsDeriveFromTheVst2Build) {
  nimbohost::cPluginLibrary vst2(NIMBOHALL_PLUGIN_PATH);
  std::string error;
  auto effect = nimbohost::cHostedEffect::Create(vst2.Entry(), {}, &error);
  ASSERT_TRUE(effect) << vst2.Error() << error;
  const std::string name = effect->EffectName();
  const auto uniqueId = static_cast<uint32_t>(effect->Record()->uniqueID);
  effect.reset();

  char text[33] = {};
  std::snprintf(text, sizeof text, "%06X%08X", ('V' << 16) | ('S' << 8) | 'T', uniqueId);
  for (size_t i = 0; i < 9; ++i) {
    const auto c = i < name.size() ? static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(name[i]))) : 0;
    std::snprintf(text + 14 + 2 * i, 3, "%02X", c);
  }
  unsigned bytes[16];
  for (int i = 0; i < 16; ++i) std::sscanf(text + 2 * i, "%2x", &bytes[i]);
  char expected[16];
  for (int i = 0; i < 16; ++i) expected[i] = static_cast<char>(bytes[i]);
#if NIMBO_VST3_COM_COMPATIBLE
  // Windows reads the first 8, 4 and 4 digits as little-endian GUID fields.
  std::swap(expected[0], expected[3]);
  std::swap(expected[1], expected[2]);
  std::swap(expected[4], expected[5]);
  std::swap(expected[6], expected[7]);
#endif

  const auto module = Bundle();
  ASSERT_TRUE(module && !module->Classes().empty());
  EXPECT_EQ(nimbohost::IidHex(module->Classes()[0].info.cid), nimbohost::IidHex(expected))
      << "VST 2.x unique ID " << std::hex << uniqueId << ", effect name \"" << name << "\"";
}

// Hosts probe factories with out-of-range indices, unknown IDs and, now and
// then, null pointers; each must get an error, not a crash or a stale object.
TEST(Vst3Module, FactoryRefusesWhatItCannotAnswer) {
  const auto module = Bundle();
  ASSERT_TRUE(module);
  PClassInfo info{};
  PClassInfo2 info2{};
  PClassInfoW infoW{};
  for (int32 index : {-1, 1}) {
    EXPECT_NE(module->Factory()->getClassInfo(index, &info), kResultOk);
    EXPECT_NE(module->Factory2()->getClassInfo2(index, &info2), kResultOk);
    EXPECT_NE(module->Factory3()->getClassInfoUnicode(index, &infoW), kResultOk);
  }
  EXPECT_EQ(module->Factory()->getClassInfo(0, nullptr), kInvalidArgument);
  EXPECT_EQ(module->Factory()->getFactoryInfo(nullptr), kInvalidArgument);

  const Iid unknown = InlineUid(1, 2, 3, 4);
  void* object = &info;
  EXPECT_EQ(module->Factory()->createInstance(unknown.data(), IComponent::iid.data(), &object), kNoInterface);
  EXPECT_EQ(object, nullptr);
}

// One object is component, processor and controller: every interface leads
// back to the same FUnknown (hosts tell a single-component effect by that),
// and the host's references all come back.
TEST(Vst3Module, MakesOneObjectWithEveryInterface) {
  const auto module = Bundle();
  ASSERT_TRUE(module && !module->Classes().empty());
  void* object = nullptr;
  ASSERT_EQ(module->Factory()->createInstance(module->Classes()[0].info.cid, IComponent::iid.data(), &object),
            kResultOk);
  auto* component = static_cast<IComponent*>(object);
  // Initialized as component and as controller; either role may be terminated and
  // initialized again, and the effect lives until the last role is terminated.
  ASSERT_EQ(component->initialize(module->Host()), kResultOk);
  ASSERT_EQ(component->initialize(module->Host()), kResultOk);
  EXPECT_EQ(component->terminate(), kResultOk);
  EXPECT_EQ(component->initialize(module->Host()), kResultOk);
  EXPECT_EQ(component->terminate(), kResultOk);
  auto processor = nimbohost::Query<IAudioProcessor>(component);
  ProcessSetup setup{kRealtime, kSample32, 64, 48000.0};
  EXPECT_EQ(processor->setupProcessing(setup), kResultOk);
  EXPECT_EQ(component->setActive(true), kResultOk);  // still initialized by its other role
  EXPECT_EQ(component->setActive(false), kResultOk);
  processor = nimbohost::tRef<IAudioProcessor>();
  TUID controllerClass = {};
  EXPECT_NE(component->getControllerClassId(controllerClass), kResultOk);

  auto identity = nimbohost::Query<FUnknown>(component);
  for (const Iid* iid : {&IAudioProcessor::iid, &IEditController::iid, &IUnitInfo::iid,
                         &IProcessContextRequirements::iid, &IPluginBase::iid}) {
    void* other = nullptr;
    ASSERT_EQ(component->queryInterface(iid->data(), &other), kResultOk) << nimbohost::UidString(iid->data());
    const auto again = nimbohost::Query<FUnknown>(static_cast<FUnknown*>(other));
    EXPECT_EQ(again.get(), identity.get());
    static_cast<FUnknown*>(other)->release();
  }
  void* none = &object;
  EXPECT_EQ(component->queryInterface(IConnectionPoint::iid.data(), &none), kNoInterface);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(component->terminate(), kResultOk);
  EXPECT_NE(component->terminate(), kResultOk);  // one more than initializations
  EXPECT_EQ(component->setActive(true), kNotInitialized);
  identity = nimbohost::tRef<FUnknown>();
  EXPECT_EQ(component->release(), 0u);  // every reference handed out came back: this one was the last
}

// The chunked stream is what state tests rely on to show a plugin copes with
// short reads and writes: it must really cut every call short.
TEST(Vst3HostStream, MovesAtMostTheAllowedBytesPerCall) {
  auto stream = nimbohost::cMemoryStream::Make({}, 3);
  char bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, back[10] = {};
  int32 moved = -1, total = 0;
  for (int32 at : {0, 3}) {
    ASSERT_EQ(stream->write(bytes + at, 10 - at, &moved), kResultOk);
    EXPECT_EQ(moved, 3);
  }
  stream->Rewind();
  while (stream->read(back + total, 10 - total, &moved) == kResultOk && moved > 0) total += moved;
  EXPECT_EQ(stream->Calls(), 2 + 2 + 1);  // two reads of 3, one that finds the end
  ASSERT_EQ(total, 6);
  EXPECT_EQ(std::memcmp(back, bytes, 6), 0);
}

}  // namespace
