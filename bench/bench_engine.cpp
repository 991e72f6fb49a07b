// Nanoseconds per stereo frame at 48 kHz. The plugin is loaded and driven
// through its record, as a host does; the "Engine" cases run the engine alone
// to show what the host glue costs on top.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Engine.h"
#include "Program.h"
#include "cVstHost.h"

using namespace nimbo;

namespace {

constexpr float kRate = 48000.0f;
constexpr int kTemple = 0, kDrumRoomL = 36, kInit = 63;
constexpr int kParamHold = 16;

std::vector<float> Noise(size_t frames, float level, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-level, level);
  std::vector<float> v(frames);
  for (float& x : v) x = dist(rng);
  return v;
}

const nimbohost::cPluginLibrary& Plugin() {
  static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  return library;
}

// One instance with a second of stereo noise to feed it, block after block.
struct sHost {
  std::unique_ptr<nimbohost::cHostedEffect> fx;
  std::vector<float> noiseL = Noise(48000, 0.5f, 1), noiseR = Noise(48000, 0.5f, 2);
  std::vector<float> outL = std::vector<float>(48000), outR = std::vector<float>(48000);
  size_t pos = 0;

  sHost(int program, int block) {
    std::string error;
    fx = nimbohost::cHostedEffect::Create(Plugin().Entry(), {}, &error);
    if (!fx) return;
    fx->Start(kRate, block);
    fx->Dispatch(effSetProgram, 0, program);
  }
  // Frames from the noise (or silence) through the audio entry.
  void Feed(size_t frames, int block, bool silent = false) {
    std::vector<float>& inL = silent ? silence : noiseL;
    std::vector<float>& inR = silent ? silence : noiseR;
    for (size_t done = 0; done < frames; done += static_cast<size_t>(block)) {
      if (pos + static_cast<size_t>(block) > noiseL.size()) pos = 0;
      float* in[2] = {&inL[pos], &inR[pos]};
      float* out[2] = {&outL[pos], &outR[pos]};
      fx->ProcessReplacing(in, out, block);
      pos += static_cast<size_t>(block);
    }
  }
  std::vector<float> silence = std::vector<float>(48000, 0.0f);
};

// Time per stereo frame, and seconds of 48 kHz audio rendered per second:
// the real-time factor.
void Report(benchmark::State& state, double frames) {
  state.counters["per_frame"] = benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["audio_seconds"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

// program, block size, hold
void BM_Record(benchmark::State& state) {
  const int program = static_cast<int>(state.range(0)), block = static_cast<int>(state.range(1));
  sHost host(program, block);
  if (!host.fx) return state.SkipWithError("plugin not loaded");
  host.Feed(48000, block);  // a full network
  if (state.range(2)) host.fx->SetParameter(kParamHold, 1.0f);
  for (auto _ : state) host.Feed(static_cast<size_t>(block), block);
  Report(state, double(state.iterations()) * block);
}

// 10 s after a loud burst: silence against noise, to show no denormal slowdown.
void BM_AfterBurst(benchmark::State& state) {
  const bool silent = state.range(0) != 0;
  sHost host(kTemple, 512);
  if (!host.fx) return state.SkipWithError("plugin not loaded");
  for (auto _ : state) {
    state.PauseTiming();
    host.fx->Dispatch(effMainsChanged, 0, 0);  // clears the network
    host.fx->Dispatch(effMainsChanged, 0, 1);
    for (float& x : host.noiseL) x *= 2.0f;  // the burst, near full scale
    host.Feed(24000, 512);
    for (float& x : host.noiseL) x *= 0.5f;
    state.ResumeTiming();
    host.Feed(480000, 512, silent);
  }
  Report(state, double(state.iterations()) * 480000);
}

// The engine alone, without the host glue.
void BM_Engine(benchmark::State& state) {
  const int program = static_cast<int>(state.range(0)), block = static_cast<int>(state.range(1));
  sProgram p;
  BuildProgram(p, program < kNumFactoryPresets ? kFactoryPresets[program] : kInitProgram);
  auto engine = std::make_unique<cFDNengine>();
  engine->Open();
  engine->ResetNetwork(false);
  engine->UpdateCoefficients(p, kRate, true, true);
  const auto inL = Noise(48000, 0.5f, 1), inR = Noise(48000, 0.5f, 2);
  std::vector<float> outL(48000), outR(48000);
  size_t pos = 0;
  for (auto _ : state) {
    if (pos + static_cast<size_t>(block) > inL.size()) pos = 0;
    engine->Process(&inL[pos], &inR[pos], &outL[pos], &outR[pos], block, false);
    pos += static_cast<size_t>(block);
  }
  benchmark::DoNotOptimize(outL.data());
  Report(state, double(state.iterations()) * block);
}

// Many instances in one session, each given 64 frames in turn, as a host's
// mixer runs them: time per frame per instance, where caches start to tell.
void BM_Instances(benchmark::State& state) {
  constexpr int kBlock = 64;
  std::vector<float> inL = Noise(kBlock, 0.5f, 1), inR = Noise(kBlock, 0.5f, 2), outL(kBlock), outR(kBlock);
  float* in[2] = {inL.data(), inR.data()};
  float* out[2] = {outL.data(), outR.data()};
  std::vector<std::unique_ptr<nimbohost::cHostedEffect>> effects;
  for (int64_t i = 0; i < state.range(0); ++i) {
    std::string error;
    effects.push_back(nimbohost::cHostedEffect::Create(Plugin().Entry(), {}, &error));
    if (!effects.back()) return state.SkipWithError("plugin not loaded");
    effects.back()->Start(kRate, kBlock);
    effects.back()->Dispatch(effSetProgram, 0, kDrumRoomL);
    for (int k = 0; k < 75; ++k) effects.back()->ProcessReplacing(in, out, kBlock);  // a full network
  }
  for (auto _ : state)
    for (auto& fx : effects) fx->ProcessReplacing(in, out, kBlock);
  Report(state, double(state.iterations()) * kBlock * double(effects.size()));
}

}  // namespace

BENCHMARK(BM_Instances)->ArgName("instances")->Arg(1)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_Record)
    ->ArgNames({"program", "block", "hold"})
    ->ArgsProduct({{kInit, kTemple, kDrumRoomL}, {32, 512}, {0}})
    ->Args({kDrumRoomL, 32, 1})
    ->Args({kDrumRoomL, 512, 1});
BENCHMARK(BM_AfterBurst)->ArgName("silent")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Engine)->ArgNames({"program", "block"})->ArgsProduct({{kDrumRoomL}, {32, 512}});

BENCHMARK_MAIN();
