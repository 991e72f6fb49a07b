// Reports what a CLAP host sees of the plugin: descriptor, ports, every
// parameter's info and texts across its range, the presets, the state, and
// audio rendered through several presets with parameter events inside the
// blocks. Built natively and for Windows (run under Wine), so a test can
// compare the Linux and Windows builds line by line.
//
//   clapreport PLUGIN.clap REPORT.txt AUDIO.f32
//
// The audio file holds the renders' samples as little-endian 32-bit floats,
// left and right interleaved, in the order of the report's "render" lines.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cClapHost.h"
#include "ReportText.h"

namespace {

using nimbohost::cClapInstance;
using nimbohost::sClapParamEvent;

constexpr double kSampleRate = 44100.0;
constexpr uint32_t kBlock = 512;
constexpr uint32_t kRenderFrames = 66150;  // 1.5 s, not a whole number of blocks
constexpr int kSweepSteps = 20;
constexpr const char* kRenderPresets[] = {"0", "36", "19", "12", "55", "63"};


}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: clapreport PLUGIN.clap REPORT.txt AUDIO.f32\n");
    return 2;
  }
  const nimbohost::cClapLibrary library(argv[1]);
  std::string error;
  auto clap = cClapInstance::Create(library, "com.brannoch.nimbohall", &error);
  if (!clap) {
    std::fprintf(stderr, "%s %s\n", library.Error().c_str(), error.c_str());
    return 3;
  }
  FILE* report = std::fopen(argv[2], "wb");
  FILE* audio = std::fopen(argv[3], "wb");
  if (!report || !audio) return 1;

  const clap_plugin_descriptor_t* d = clap->Plugin()->desc;
  std::fprintf(report, "descriptor %s %s %s %s %s\n", Escape(d->id).c_str(), Escape(d->name).c_str(),
               Escape(d->vendor).c_str(), Escape(d->version).c_str(), Escape(d->description).c_str());
  for (const char* const* f = d->features; *f; ++f) std::fprintf(report, "feature %s\n", Escape(*f).c_str());
  for (bool input : {true, false}) {
    clap_audio_port_info_t port{};
    clap->AudioPorts()->get(clap->Plugin(), 0, input, &port);
    std::fprintf(report, "port %d %s %u %u %s\n", input, Escape(port.name).c_str(), port.channel_count, port.flags,
                 Escape(port.port_type).c_str());
  }
  for (const clap_param_info_t& info : clap->ParamInfos()) {
    std::fprintf(report, "param %u %s %s flags=%u range=%.9g..%.9g default=%.9g\n", info.id, Escape(info.name).c_str(),
                 Escape(info.module).c_str(), info.flags, info.min_value, info.max_value, info.default_value);
    for (int step = 0; step <= kSweepSteps; ++step) {
      const double value = info.min_value + (info.max_value - info.min_value) * step / kSweepSteps;
      const std::string text = clap->ValueText(info.id, value).value_or("(none)");
      const std::optional<double> back = clap->TextValue(info.id, text);
      std::fprintf(report, "  %.9g %s -> %s\n", value, Escape(text).c_str(),
                   back ? std::to_string(*back).c_str() : "(refused)");
    }
  }
  for (const auto& preset : nimbohost::DiscoverClapPresets(library).value_or(std::vector<nimbohost::sClapPreset>{}))
    std::fprintf(report, "preset %s %s\n", Escape(preset.loadKey).c_str(), Escape(preset.name).c_str());

  for (const char* key : kRenderPresets) {
    clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key);
    clap->Activate(kSampleRate, kBlock);
    std::fprintf(report, "render preset=%s tail=%u frames=%u\n", key, clap->Tail()->get(clap->Plugin()), kRenderFrames);
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    for (uint32_t pos = 0; pos < kRenderFrames; pos += kBlock) {
      const uint32_t n = std::min(kBlock, kRenderFrames - pos);
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t t = pos + i;
        inL[i] = t % 11025 == 0 ? 0.5f : 0.0f;
        inR[i] = t % 7000 == 100 ? -0.5f : 0.0f;
      }
      std::vector<sClapParamEvent> events;
      if (pos == 20 * kBlock) events = {{100, 15, 0.8}, {300, 1, 0.5}};
      clap->Process(inL.data(), inR.data(), outL.data(), outR.data(), n, events);
      for (uint32_t i = 0; i < n; ++i) {
        const float frame[2] = {outL[i], outR[i]};
        std::fwrite(frame, sizeof frame, 1, audio);
      }
    }
  }
  const auto state = clap->SaveState();
  std::string hex;
  for (uint8_t byte : state.value_or(std::vector<uint8_t>{})) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", byte);
    hex += two;
  }
  std::fprintf(report, "state %s\n", hex.c_str());
  std::fclose(report);
  std::fclose(audio);
  return 0;
}
