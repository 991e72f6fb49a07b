// The analysis hears the same reverb through every format: impulse responses
// measured through the VST 2.x, CLAP, LV2 and VST3 builds are the same samples
// and give the same analysis, for programs with and without modulation.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "Lv2Ports.h"
#include "RoomAnalysis.h"
#include "AnalysisReport.h"
#include "cClapHost.h"
#include "cReverbCore.h"
#include "cVst3Host.h"
#include "cVstHost.h"

using namespace nimbo;

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kFrames = 96000;  // 2 s, enough for the programs below
constexpr uint32_t kBlock = 512;
constexpr int32_t effSetProgramOpcode = 2;

// Renders one response per input: an impulse on that input, silence on the other.
using Renderer = std::function<void(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames)>;

nimboanalysis::sImpulseResponses Measure(const std::function<Renderer()>& fresh) {
  nimboanalysis::sImpulseResponses r;
  r.sampleRate = kRate;
  for (int input = 0; input < 2; ++input) {
    const Renderer render = fresh();
    std::vector<float> in[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
    for (auto& out : r.path[input]) out.resize(kFrames);
    for (uint32_t pos = 0; pos < kFrames; pos += kBlock) {
      in[input][0] = pos == 0 ? 1.0f : 0.0f;
      render(in[0].data(), in[1].data(), &r.path[input][0][pos], &r.path[input][1][pos], std::min(kBlock, kFrames - pos));
    }
  }
  return r;
}

nimboanalysis::sImpulseResponses ThroughVst2(int32_t program) {
  static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  return Measure([&] {
    nimbohost::sHostAnswers answers;
    answers.sampleRate = static_cast<intptr_t>(kRate);
    std::string error;
    std::shared_ptr<nimbohost::cHostedEffect> fx = nimbohost::cHostedEffect::Create(library.Entry(), answers, &error);
    fx->Dispatch(effSetProgramOpcode, 0, program);
    fx->Start(static_cast<float>(kRate), kBlock);
    return [fx](const float* l, const float* r, float* ol, float* or_, uint32_t n) {
      float* in[2] = {const_cast<float*>(l), const_cast<float*>(r)};
      float* out[2] = {ol, or_};
      fx->ProcessReplacing(in, out, static_cast<int32_t>(n));
    };
  });
}

nimboanalysis::sImpulseResponses ThroughClap(int32_t program) {
  static const nimbohost::cClapLibrary library(NIMBOHALL_CLAP_PATH);
  return Measure([&] {
    std::string error;
    std::shared_ptr<nimbohost::cClapInstance> clap = nimbohost::cClapInstance::Create(library, kPluginId, &error);
    const std::string key = std::to_string(program);
    clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key.c_str());
    clap->Activate(kRate, kBlock);
    return [clap](const float* l, const float* r, float* ol, float* or_, uint32_t n) { clap->Process(l, r, ol, or_, n); };
  });
}

// LV2 has no programs inside the plugin: the host sets the ports to the preset's values.
nimboanalysis::sImpulseResponses ThroughLv2(int32_t program) {
  static void* library = dlopen(NIMBOHALL_LV2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  const auto entry = reinterpret_cast<LV2_Descriptor_Function>(library ? dlsym(library, "lv2_descriptor") : nullptr);
  EXPECT_TRUE(entry);
  const LV2_Descriptor* d = entry ? entry(0) : nullptr;
  if (!d) return {};
  static const cReverbCore table;
  struct sInstance {
    explicit sInstance(const LV2_Descriptor* descriptor)
        : handle(descriptor->instantiate(descriptor, kRate, NIMBOHALL_LV2_BUNDLE, nullptr)), d(descriptor) {}
    ~sInstance() { d->cleanup(handle); }
    sInstance(const sInstance&) = delete;
    sInstance& operator=(const sInstance&) = delete;
    LV2_Handle handle;
    const LV2_Descriptor* d;
    std::array<float, nimbolv2::kEnabledPort + 1> controls{};
  };
  return Measure([&] {
    auto lv2 = std::make_shared<sInstance>(d);
    for (int32_t id = 0; id < kNumParameters; ++id)
      lv2->controls[id] = table.IsProgramParameter(id) ? table.ProgramValue(program, id) : 0.0f;
    lv2->controls[nimbolv2::kEnabledPort] = 1.0f;
    for (uint32_t p = 0; p <= nimbolv2::kEnabledPort; ++p) d->connect_port(lv2->handle, p, &lv2->controls[p]);
    d->activate(lv2->handle);
    return [lv2](const float* l, const float* r, float* ol, float* or_, uint32_t n) {
      const LV2_Descriptor* desc = lv2->d;
      desc->connect_port(lv2->handle, nimbolv2::kInLeftPort, const_cast<float*>(l));
      desc->connect_port(lv2->handle, nimbolv2::kInRightPort, const_cast<float*>(r));
      desc->connect_port(lv2->handle, nimbolv2::kOutLeftPort, ol);
      desc->connect_port(lv2->handle, nimbolv2::kOutRightPort, or_);
      desc->run(lv2->handle, n);
    };
  });
}

nimboanalysis::sImpulseResponses ThroughVst3(int32_t program) {
  static const std::shared_ptr<nimbohost::cVst3Module> module = [] {
    std::string error;
    return nimbohost::cVst3Module::Load(NIMBOHALL_VST3_BUNDLE, &error);
  }();
  EXPECT_TRUE(module && !module->Classes().empty());
  if (!module || module->Classes().empty()) return {};
  return Measure([&] {
    std::string error;
    std::shared_ptr<nimbohost::cVst3Plugin> vst3 = nimbohost::cVst3Plugin::Create(module, module->Classes()[0].cid, &error);
    vst3->SetNormalized(kProgramChangeId, program / 63.0);
    vst3->Setup(kRate, kBlock);
    vst3->SetActive(true);
    vst3->SetProcessing(true);
    auto buffers = std::make_shared<nimbohost::cBusBuffers>(2, 2, kBlock);
    return [vst3, buffers](const float* l, const float* r, float* ol, float* or_, uint32_t n) {
      std::copy_n(l, n, buffers->Input(0));
      std::copy_n(r, n, buffers->Input(1));
      vst3->Process(buffers->Call(static_cast<int32_t>(n)));
      std::copy_n(buffers->Output(0), n, ol);
      std::copy_n(buffers->Output(1), n, or_);
    };
  });
}

}  // namespace

TEST(AnalysisAcrossFormats, EveryBuildMeasuresTheSame) {
  for (int32_t program : {34, 0, 45}) {  // a drum room, a modulated hall, an echo
    const auto vst2 = ThroughVst2(program);
    const std::string expected = nimboanalysis::AnalysisJson(nimboanalysis::Analyze(vst2)).dump();
    ASSERT_NE(nimboanalysis::Analyze(vst2).status, nimboanalysis::eStatus::kSilent);
    for (const auto& [format, responses] :
         {std::pair{"CLAP", ThroughClap(program)}, {"LV2", ThroughLv2(program)}, {"VST3", ThroughVst3(program)}}) {
      for (int input = 0; input < 2; ++input)
        for (int output = 0; output < 2; ++output)
          EXPECT_EQ(responses.path[input][output], vst2.path[input][output])
              << format << ", program " << program << ", input " << input << " to output " << output;
      EXPECT_EQ(nimboanalysis::AnalysisJson(nimboanalysis::Analyze(responses)).dump(), expected)
          << format << ", program " << program;
    }
  }
}
