// One case of the cost table, for callgrind: the frames of interest go through
// Measured() only, so `--toggle-collect=Measured*` counts exactly their
// instructions. bench/cost.sh runs every case and prints the table.
//
//   nimbohall_cost FORMAT CASE PLUGIN   (FORMAT vst2|clap; CASE static|automated|silence)
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cClapHost.h"
#include "cVstHost.h"

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

__attribute__((noinline)) void Measured(sFormat& f, const std::vector<float>& inL, const std::vector<float>& inR,
                                        std::vector<float>& outL, std::vector<float>& outR, bool automate) {
  for (uint32_t pos = 0; pos + kBlock <= inL.size(); pos += kBlock)
    f.Block(&inL[pos], &inR[pos], &outL[pos], &outR[pos], automate, kBlock);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s vst2|clap static|automated|silence PLUGIN\n", argv[0]);
    return 2;
  }
  std::unique_ptr<sFormat> format;
  if (!std::strcmp(argv[1], "vst2")) format = std::make_unique<sVst2>(argv[3]);
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
    Measured(*format, zeros, zeros, outL, outR, false);
  } else {
    Measured(*format, inL, inR, outL, outR, kind == "automated");
  }
  std::printf("%u\n", kFrames);
  return 0;
}
