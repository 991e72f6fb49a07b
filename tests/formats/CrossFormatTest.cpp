// One walk of host values through the four entries: the VST 2.x record, the
// CLAP entry, the VST3 factory and the LV2 descriptor. Every format shows the
// same values and texts, sounds the same afterwards, and takes NaN, typed
// numbers at "off", switch texts and the bypassed tail alike.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "../../nimbolib/TextEncoding.h"
#include "Lv2Ports.h"
#include "cClapHost.h"
#include "cReverbCore.h"
#include "cVst3Host.h"
#include "cVstHost.h"

using namespace nimbo;

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const cReverbCore& Table() {
  static const cReverbCore table;
  return table;
}

// The plain value a host that moves in plain values sends for normalized n.
double PlainOf(int32_t id, double n) {
  if (n != n || id == kBypassId) return n;
  return Table().Parameter(id).NormalizedToPlain(static_cast<float>(n));
}

class cFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    static const nimbohost::cPluginLibrary vst2Library(NIMBOHALL_PLUGIN_PATH);
    static const nimbohost::cClapLibrary clapLibrary(NIMBOHALL_CLAP_PATH);
    static const std::shared_ptr<nimbohost::cVst3Module> vst3Module =
        nimbohost::cVst3Module::Load(NIMBOHALL_VST3_BUNDLE, nullptr);
    static void* lv2Library = dlopen(NIMBOHALL_LV2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    nimbohost::sHostAnswers answers;
    answers.sampleRate = static_cast<intptr_t>(kRate);
    vst2 = nimbohost::cHostedEffect::Create(vst2Library.Entry(), answers, nullptr);
    clap = nimbohost::cClapInstance::Create(clapLibrary, kPluginId, nullptr);
    ASSERT_TRUE(vst2 && clap && vst3Module && !vst3Module->Classes().empty() && lv2Library);
    vst3 = nimbohost::cVst3Plugin::Create(vst3Module, vst3Module->Classes()[0].cid, nullptr);
    const auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lv2Library, "lv2_descriptor"));
    lv2 = entry ? entry(0) : nullptr;
    ASSERT_TRUE(vst3 && lv2);
    lv2Handle = lv2->instantiate(lv2, kRate, NIMBOHALL_LV2_BUNDLE, nullptr);
    ASSERT_TRUE(lv2Handle);
    for (int32_t id = 0; id < kNumParameters; ++id) ports[id] = Table().Plain(id);
    ports[nimbolv2::kEnabledPort] = 1.0f;
    for (uint32_t p = 0; p <= nimbolv2::kEnabledPort; ++p) lv2->connect_port(lv2Handle, p, &ports[p]);
    lv2->activate(lv2Handle);
    vst2->Start(static_cast<float>(kRate), kBlock);
    ASSERT_TRUE(clap->Activate(kRate, kBlock));
    ASSERT_EQ(vst3->Setup(kRate, kBlock), vst3::kResultOk);
  }
  void TearDown() override {
    if (lv2Handle) lv2->cleanup(lv2Handle);
  }

  // A host's normalized value to every entry but VST 2.x, which has its own NaN rule.
  void SetOthers(int32_t id, double n) {
    clap->Flush({{0, static_cast<clap_id>(id), Table().IsStepped(id) ? PlainOf(id, n) : n}});
    vst3->SetNormalized(static_cast<vst3::Vst::ParamID>(id), n);
    // LV2's "enabled" is the bypass the other way round.
    ports[id] = id == kBypassId ? (n >= 0.5 ? 0.0f : 1.0f) : static_cast<float>(PlainOf(id, n));
    lv2->run(lv2Handle, 0);  // takes the ports, renders nothing
  }
  void Set(int32_t id, double n) {
    vst2->SetParameter(id, static_cast<float>(n));
    SetOthers(id, n);
  }

  // "value unit" as the VST 2.x record shows it, in UTF-8.
  std::string Vst2Text(int32_t id) {
    std::string display = vst2->ParameterDisplay(id);
    const std::string label = vst2->ParameterLabel(id);
    display.erase(0, display.find_first_not_of(' '));
    display.erase(display.find_last_not_of(' ') + 1);
    return nimbo::Cp1252ToUtf8(label.empty() ? display : display + " " + label);
  }
  std::string ClapText(int32_t id) {
    return clap->ValueText(static_cast<clap_id>(id), clap->Value(static_cast<clap_id>(id)).value_or(kNaN)).value_or("?");
  }
  std::string Vst3Text(int32_t id) {
    const auto pid = static_cast<vst3::Vst::ParamID>(id);
    return vst3->ValueText(pid, vst3->Normalized(pid)).value_or("?");
  }

  // Half a second after an impulse on the left, per format.
  std::array<std::vector<float>, 4> Responses() {
    std::array<std::vector<float>, 4> out;
    const uint32_t frames = static_cast<uint32_t>(kRate / 2);
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    EXPECT_EQ(vst3->SetActive(true), vst3::kResultOk);
    vst3->SetProcessing(true);
    nimbohost::cBusBuffers buffers(2, 2, kBlock);
    for (uint32_t pos = 0; pos < frames; pos += kBlock) {
      inL[0] = pos == 0 ? 1.0f : 0.0f;
      float* in[2] = {inL.data(), inR.data()};
      float* o[2] = {outL.data(), outR.data()};
      vst2->ProcessReplacing(in, o, kBlock);
      out[0].insert(out[0].end(), outL.begin(), outL.end());
      out[0].insert(out[0].end(), outR.begin(), outR.end());
      clap->Process(inL.data(), inR.data(), outL.data(), outR.data(), kBlock);
      out[1].insert(out[1].end(), outL.begin(), outL.end());
      out[1].insert(out[1].end(), outR.begin(), outR.end());
      std::copy(inL.begin(), inL.end(), buffers.Input(0));
      std::copy(inR.begin(), inR.end(), buffers.Input(1));
      vst3->Process(buffers.Call(kBlock));
      out[2].insert(out[2].end(), buffers.Output(0), buffers.Output(0) + kBlock);
      out[2].insert(out[2].end(), buffers.Output(1), buffers.Output(1) + kBlock);
      lv2->connect_port(lv2Handle, nimbolv2::kInLeftPort, inL.data());
      lv2->connect_port(lv2Handle, nimbolv2::kInRightPort, inR.data());
      lv2->connect_port(lv2Handle, nimbolv2::kOutLeftPort, outL.data());
      lv2->connect_port(lv2Handle, nimbolv2::kOutRightPort, outR.data());
      lv2->run(lv2Handle, kBlock);
      out[3].insert(out[3].end(), outL.begin(), outL.end());
      out[3].insert(out[3].end(), outR.begin(), outR.end());
    }
    return out;
  }

  std::unique_ptr<nimbohost::cHostedEffect> vst2;
  std::unique_ptr<nimbohost::cClapInstance> clap;
  std::unique_ptr<nimbohost::cVst3Plugin> vst3;
  const LV2_Descriptor* lv2 = nullptr;
  LV2_Handle lv2Handle = nullptr;
  std::array<float, nimbolv2::kEnabledPort + 1> ports{};
};

TEST_F(cFormats, OneWalkOfValuesShowsAndSoundsAlikeEverywhere) {
  for (int32_t id = 0; id < kNumParameters; ++id) {
    // The last value stays for the render: the switches off, a long tail.
    for (double n : {1.0, 0.0, double{nimbo::kJustAboveOff}, 0.83, Table().IsStepped(id) ? 0.41 : 0.77}) {
      Set(id, n);
      const std::string text = Vst2Text(id);
      EXPECT_EQ(ClapText(id), text) << id << " at " << n;
      EXPECT_EQ(Vst3Text(id), text) << id << " at " << n;
      const double normalized = vst2->GetParameter(id);
      EXPECT_EQ(vst3->Normalized(static_cast<vst3::Vst::ParamID>(id)), normalized) << id << " at " << n;
      EXPECT_EQ(clap->Value(static_cast<clap_id>(id)).value_or(kNaN),
                Table().IsStepped(id) ? PlainOf(id, n) : normalized) << id << " at " << n;
    }
  }
  // NaN keeps the value in force in the other formats.
  for (int32_t id = 0; id < kNumParameters; ++id) {
    SetOthers(id, kNaN);
    EXPECT_EQ(ClapText(id), Vst2Text(id)) << id;
    EXPECT_EQ(Vst3Text(id), Vst2Text(id)) << id;
  }
  const auto responses = Responses();
  ASSERT_GT(*std::max_element(responses[0].begin() + kBlock * 4, responses[0].end()), 1e-6f);  // still ringing
  for (size_t f = 1; f < responses.size(); ++f) EXPECT_EQ(responses[f], responses[0]) << "format " << f;
}

TEST_F(cFormats, TypedTextsAndTheBypassedTailMeanTheSameInClapAndVst3) {
  for (int32_t id = 0; id < kNumParameters; ++id) {
    if (!Table().Parameter(id).zeroIsOff) continue;
    // A number where 0 means "off" lands just above it, on a value no host flushes to zero.
    const auto clapValue = clap->TextValue(static_cast<clap_id>(id), "0");
    const auto vst3Value = vst3->ValueFromText(static_cast<vst3::Vst::ParamID>(id), "0");
    ASSERT_TRUE(clapValue && vst3Value) << id;
    EXPECT_EQ(*clapValue, *vst3Value) << id;
    EXPECT_TRUE(std::isnormal(*clapValue)) << id;
    EXPECT_NE(clap->ValueText(static_cast<clap_id>(id), *clapValue), "off") << id;
    EXPECT_EQ(clap->ValueText(static_cast<clap_id>(id), 0.0), "off") << id;
  }
  const auto bypass = static_cast<clap_id>(kBypassId);
  for (const char* text : {"on", "ON", " Off ", "oFF", "1", "0", "maybe", ""}) {
    const auto c = clap->TextValue(bypass, text);
    const auto v = vst3->ValueFromText(kBypassId, text);
    EXPECT_EQ(c, v) << '"' << text << '"';
  }
  EXPECT_EQ(clap->TextValue(bypass, " ON "), 1.0);

  const uint32_t ringing = clap->Tail()->get(clap->Plugin());
  EXPECT_EQ(vst3->Processor()->getTailSamples(), ringing);
  SetOthers(kBypassId, 1.0);
  const uint32_t bypassed = clap->Tail()->get(clap->Plugin());
  EXPECT_EQ(vst3->Processor()->getTailSamples(), bypassed);
  EXPECT_GT(bypassed, 0u);  // the fade to the input
  EXPECT_LT(bypassed, ringing);
}

}  // namespace
