// One case of the cost table, for callgrind: the frames of interest go through
// Measured() only, so `--toggle-collect=Measured*` counts exactly their
// instructions. bench/cost.sh runs every case and prints the table.
//
//   nimbohall_cost FORMAT CASE PLUGIN   (FORMAT vst2|clap|vst3|lv2; CASE static|static32|automated|silence)
//
// "static32" is the static sound in 32-frame blocks: what the automated case
// costs without its changes, so the two differ by the changes alone.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include "cClapHost.h"
#include "cReverbCore.h"
#include "cVst3Host.h"
#include "cVstHost.h"

using namespace nimbo;

namespace {

constexpr float kRate = 48000.0f;
constexpr int kProgram = 36;  // "Drum room L+mod+sat": every stage
constexpr int kHalflife = 2;
constexpr uint32_t kBlock = 512, kCut = 32, kFrames = 96000;

// A source of stereo noise and the host glue of one format, block by block.
struct sFormat {
  virtual ~sFormat() = default;
  // frames from in (or silence) with the "Halflife" changed every kCut frames or not at all.
  virtual void Block(const float* inL, const float* inR, float* outL, float* outR, bool automate, uint32_t n) = 0;
};

struct sVst2 final : sFormat {
  std::unique_ptr<nimbohost::cPluginLibrary> library;
  std::unique_ptr<nimbohost::cHostedEffect> fx;
  float value = 0.3f;
  explicit sVst2(const char* path) : library(std::make_unique<nimbohost::cPluginLibrary>(path)) {
    std::string error;
    fx = nimbohost::cHostedEffect::Create(library->Entry(), {}, &error);
    if (!fx) return;
    fx->Start(kRate, kBlock);
    fx->Dispatch(effSetProgram, 0, kProgram);
  }
  // A host without sample-accurate automation: 32-frame blocks, a change before each.
  void Block(const float* inL, const float* inR, float* outL, float* outR, bool automate, uint32_t n) override {
    const uint32_t step = automate ? kCut : n;
    for (uint32_t pos = 0; pos < n; pos += step) {
      if (automate) fx->SetParameter(kHalflife, value = value > 0.6f ? 0.3f : value + 0.001f);
      float* in[2] = {const_cast<float*>(inL + pos), const_cast<float*>(inR + pos)};
      float* out[2] = {outL + pos, outR + pos};
      fx->ProcessReplacing(in, out, static_cast<int32_t>(step));
    }
  }
};

struct sClap final : sFormat {
  std::unique_ptr<nimbohost::cClapLibrary> library;
  std::unique_ptr<nimbohost::cClapInstance> fx;
  double value = 0.3;
  std::vector<nimbohost::sClapParamEvent> events;
  explicit sClap(const char* path) : library(std::make_unique<nimbohost::cClapLibrary>(path)) {
    std::string error;
    fx = nimbohost::cClapInstance::Create(*library, "com.brannoch.nimbohall", &error);
    if (!fx) return;
    const std::string key = std::to_string(kProgram);
    fx->PresetLoad()->from_location(fx->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key.c_str());
    fx->Activate(kRate, kBlock);
    events.reserve(kBlock / kCut);
  }
  void Block(const float* inL, const float* inR, float* outL, float* outR, bool automate, uint32_t n) override {
    events.clear();
    for (uint32_t at = 0; automate && at < n; at += kCut)
      events.push_back({at, kHalflife, value = value > 0.6 ? 0.3 : value + 0.001});
    fx->Process(inL, inR, outL, outR, n, events);
  }
};

struct sVst3 final : sFormat {
  std::unique_ptr<nimbohost::cVst3Plugin> fx;
  nimbohost::cBusBuffers buffers{2, 2, static_cast<vst3::int32>(kBlock)};
  nimbohost::tRef<nimbohost::cParameterChanges> queues = nimbohost::cParameterChanges::Make();
  double value = 0.3;
  bool first = true;
  explicit sVst3(const char* bundle) {
    std::string error;
    auto module = nimbohost::cVst3Module::Load(bundle, &error);
    if (!module || module->Classes().empty()) return;
    fx = nimbohost::cVst3Plugin::Create(module, module->Classes()[0].cid, &error);
    if (!fx) return;
    fx->Setup(kRate, kBlock);
    fx->SetActive(true);
    fx->SetProcessing(true);
  }
  // The program through the first block's queue; changes as queue points inside the block.
  void Block(const float* inL, const float* inR, float* outL, float* outR, bool automate, uint32_t n) override {
    std::copy_n(inL, n, buffers.Input(0));
    std::copy_n(inR, n, buffers.Input(1));
    queues->Clear();
    if (first) queues->Add(19, 0, kProgram / 63.0), first = false;
    for (uint32_t at = 0; automate && at < n; at += kCut)
      queues->Add(kHalflife, static_cast<vst3::int32>(at), value = value > 0.6 ? 0.3 : value + 0.001);
    nimbohost::sProcessCall call = buffers.Call(static_cast<vst3::int32>(n));
    call.inputChanges = queues.get();
    fx->Process(call);
    std::copy_n(buffers.Output(0), n, outL);
    std::copy_n(buffers.Output(1), n, outR);
  }
};

// LV2 has no programs: the control ports hold the program's values. Like a
// VST 2.x host, a host automating it cuts the block and moves a port between the pieces.
struct sLv2 final : sFormat {
  void* library = nullptr;
  const LV2_Descriptor* descriptor = nullptr;
  LV2_Handle fx = nullptr;
  float controls[kNumParameters + 1] = {};
  float base = 0.0f, value = 1.0f;
  explicit sLv2(const char* path) {
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    auto entry = library ? reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor")) : nullptr;
    descriptor = entry ? entry(0) : nullptr;
    const LV2_Feature* none[] = {nullptr};
    fx = descriptor ? descriptor->instantiate(descriptor, kRate, "", none) : nullptr;
    if (!fx) return;
    cReverbCore bank;
    for (int32_t id = 0; id < kNumParameters; ++id) controls[id] = bank.ProgramValue(kProgram, id);
    controls[kNumParameters] = 1.0f;  // enabled
    for (uint32_t port = 0; port <= kNumParameters; ++port) descriptor->connect_port(fx, port, &controls[port]);
    base = controls[kHalflife];
    descriptor->activate(fx);
  }
  ~sLv2() override {
    if (fx) descriptor->cleanup(fx);
    if (library) dlclose(library);
  }
  void Block(const float* inL, const float* inR, float* outL, float* outR, bool automate, uint32_t n) override {
    const uint32_t step = automate ? kCut : n;
    for (uint32_t pos = 0; pos < n; pos += step) {
      if (automate) controls[kHalflife] = base * (value = value > 1.3f ? 1.0f : value + 0.001f);
      descriptor->connect_port(fx, 19, const_cast<float*>(inL + pos));
      descriptor->connect_port(fx, 20, const_cast<float*>(inR + pos));
      descriptor->connect_port(fx, 21, outL + pos);
      descriptor->connect_port(fx, 22, outR + pos);
      descriptor->run(fx, step);
    }
  }
};

__attribute__((noinline)) void Measured(sFormat& f, const std::vector<float>& inL, const std::vector<float>& inR,
                                        std::vector<float>& outL, std::vector<float>& outR, bool automate,
                                        uint32_t block) {
  for (uint32_t pos = 0; pos + block <= inL.size(); pos += block)
    f.Block(&inL[pos], &inR[pos], &outL[pos], &outR[pos], automate, block);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s vst2|clap|vst3|lv2 static|static32|automated|silence PLUGIN\n", argv[0]);
    return 2;
  }
  std::unique_ptr<sFormat> format;
  if (!std::strcmp(argv[1], "vst2")) format = std::make_unique<sVst2>(argv[3]);
  else if (!std::strcmp(argv[1], "lv2")) format = std::make_unique<sLv2>(argv[3]);
  else if (!std::strcmp(argv[1], "vst3")) format = std::make_unique<sVst3>(argv[3]);
  else format = std::make_unique<sClap>(argv[3]);
  const std::string kind = argv[2];
  std::vector<float> inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames), zeros(kFrames);
  uint32_t seed = 1;
  for (uint32_t i = 0; i < kFrames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    inL[i] = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
    inR[i] = -0.7f * inL[i];
  }
  // Warm-up outside Measured(): a full network; for "silence", 10 s of it after the sound, longer than the tail.
  auto run = [&](const std::vector<float>& l, const std::vector<float>& r) {
    for (uint32_t pos = 0; pos + kBlock <= kFrames; pos += kBlock)
      format->Block(&l[pos], &r[pos], &outL[pos], &outR[pos], false, kBlock);
  };
  run(inL, inR);
  if (kind == "silence") {
    for (int s = 0; s < 5; ++s) run(zeros, zeros);
    Measured(*format, zeros, zeros, outL, outR, false, kBlock);
  } else {
    Measured(*format, inL, inR, outL, outR, kind == "automated", kind == "static32" ? kCut : kBlock);
  }
  std::printf("%u\n", kFrames);
  return 0;
}
