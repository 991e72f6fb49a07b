// What the VST3 suites share: the built bundle loaded once, instances set up
// as a DAW sets them up, the VST 2.x build beside it, and renders of both
// with the same parameter changes at the same frames.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cVst3Host.h"
#include "cVstHost.h"

namespace vst3test {

using nimbohost::cVst3Plugin;
using vst3::Vst::ParamID;

constexpr ParamID kBypass = 18;
constexpr ParamID kProgram = 19;
constexpr int32_t kNumPrograms = 64;

inline std::shared_ptr<nimbohost::cVst3Module> Bundle() {
  static std::shared_ptr<nimbohost::cVst3Module> module = [] {
    std::string error;
    auto loaded = nimbohost::cVst3Module::Load(NIMBOHALL_VST3_BUNDLE, &error);
    EXPECT_TRUE(loaded) << error;
    return loaded;
  }();
  return module;
}

// An instance, created and connected, not yet set up for processing.
inline std::unique_ptr<cVst3Plugin> NewPlugin() {
  const auto module = Bundle();
  if (!module || module->Classes().empty()) return nullptr;
  std::string error;
  auto plugin = cVst3Plugin::Create(module, module->Classes()[0].cid, &error);
  EXPECT_TRUE(plugin) << error;
  return plugin;
}

// Set up, active and processing, as hosts start an effect.
inline std::unique_ptr<cVst3Plugin> RunningPlugin(double sampleRate = 44100.0, int32_t maxBlock = 512) {
  auto plugin = NewPlugin();
  if (!plugin) return nullptr;
  EXPECT_EQ(plugin->Setup(sampleRate, maxBlock), vst3::kResultOk);
  EXPECT_EQ(plugin->SetActive(true), vst3::kResultOk);
  EXPECT_EQ(plugin->SetProcessing(true), vst3::kResultOk);
  return plugin;
}

inline double ProgramValue(int32_t program) { return program / static_cast<double>(kNumPrograms - 1); }

inline std::unique_ptr<nimbohost::cHostedEffect> RunningVst2(float sampleRate = 44100.0f, int32_t maxBlock = 512) {
  static nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  std::string error;
  auto effect = nimbohost::cHostedEffect::Create(library.Entry(), {}, &error);
  EXPECT_TRUE(effect) << library.Error() << error;
  if (effect) effect->Start(sampleRate, maxBlock);
  return effect;
}

struct sStereo {
  std::vector<float> left, right;
  explicit sStereo(size_t frames = 0) : left(frames), right(frames) {}
  size_t Frames() const { return left.size(); }
};

// A burst of noise with a click on each side, then a decaying tone, then silence.
inline sStereo TestInput(size_t frames, uint32_t seed = 1) {
  sStereo in(frames);
  for (size_t i = 0; i < frames; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const float noise = static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / static_cast<float>(1 << 23);
    const float tone = static_cast<float>(0.5 * std::sin(0.031 * static_cast<double>(i)) * std::exp(-1e-4 * i));
    in.left[i] = i < frames / 8 ? 0.6f * noise : i < frames / 2 ? tone : 0.0f;
    in.right[i] = i < frames / 8 ? -0.4f * noise : i < frames / 2 ? -tone : 0.0f;
  }
  in.left[frames / 3] = 1.0f;
  in.right[frames / 3 + 17] = -1.0f;
  return in;
}

// One parameter change at a frame of the whole render.
struct sChange {
  int64_t frame;
  ParamID id;
  float value;  // normalized; float so that both formats receive the same number
};

// Renders through the VST3 build in host blocks of `block` frames, each
// change sent in the queue of its block at its offset; a mono input bus takes `in.left`.
inline sStereo RenderVst3(cVst3Plugin& plugin, const sStereo& in, int32_t block, const std::vector<sChange>& changes,
                          int32_t inputChannels = 2) {
  sStereo out(in.Frames());
  nimbohost::cBusBuffers buffers(inputChannels, 2, block);
  auto queues = nimbohost::cParameterChanges::Make();
  for (size_t pos = 0; pos < in.Frames(); pos += static_cast<size_t>(block)) {
    const auto n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(block), in.Frames() - pos));
    std::copy_n(in.left.begin() + static_cast<long>(pos), n, buffers.Input(0));
    if (inputChannels == 2) std::copy_n(in.right.begin() + static_cast<long>(pos), n, buffers.Input(1));
    queues->Clear();
    for (const sChange& c : changes) {
      if (c.frame >= static_cast<int64_t>(pos) && c.frame < static_cast<int64_t>(pos) + n)
        queues->Add(c.id, static_cast<int32_t>(c.frame - static_cast<int64_t>(pos)), c.value);
    }
    nimbohost::sProcessCall call = buffers.Call(n);
    call.inputChanges = queues.get();
    EXPECT_EQ(plugin.Process(call), vst3::kResultOk);
    std::copy_n(buffers.Output(0), n, out.left.begin() + static_cast<long>(pos));
    std::copy_n(buffers.Output(1), n, out.right.begin() + static_cast<long>(pos));
  }
  return out;
}

// The same through the VST 2.x build: host blocks cut at the changes' frames,
// the values set between the pieces, as its own event queue would.
inline sStereo RenderVst2(nimbohost::cHostedEffect& effect, const sStereo& in, int32_t block,
                          const std::vector<sChange>& changes) {
  sStereo out(in.Frames());
  sStereo work = in;
  size_t next = 0;
  for (size_t pos = 0; pos < in.Frames(); pos += static_cast<size_t>(block)) {
    const size_t end = std::min(in.Frames(), pos + static_cast<size_t>(block));
    size_t at = pos;
    while (at < end) {
      while (next < changes.size() && changes[next].frame <= static_cast<int64_t>(at)) {
        effect.SetParameter(static_cast<int32_t>(changes[next].id), changes[next].value);
        ++next;
      }
      size_t stop = end;
      if (next < changes.size() && changes[next].frame < static_cast<int64_t>(end)) stop = changes[next].frame;
      float* ins[2] = {work.left.data() + at, work.right.data() + at};
      float* outs[2] = {out.left.data() + at, out.right.data() + at};
      effect.ProcessReplacing(ins, outs, static_cast<int32_t>(stop - at));
      at = stop;
    }
  }
  return out;
}

inline bool BitIdentical(const sStereo& a, const sStereo& b) {
  return a.left.size() == b.left.size() &&
         std::memcmp(a.left.data(), b.left.data(), a.left.size() * sizeof(float)) == 0 &&
         std::memcmp(a.right.data(), b.right.data(), a.right.size() * sizeof(float)) == 0;
}

inline float Peak(const std::vector<float>& samples, size_t from = 0, size_t to = SIZE_MAX) {
  float peak = 0.0f;
  for (size_t i = from; i < std::min(to, samples.size()); ++i) peak = std::max(peak, std::fabs(samples[i]));
  return peak;
}

}  // namespace vst3test
