// The plugin builds in Debian's Ardour 7: what its scanners record, and the
// bounce of a session's track against nimbohall-render (the VST 2.x build)
// through the same file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "ArdourHost.h"
#include "cClapHost.h"

using ardourtest::cArdour;
using ardourtest::ePluginType;
using ardourtest::sRender;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const std::filesystem::path kPlugin = NIMBOHALL_PLUGIN_PATH;
constexpr float kQuiet = 3.1622777e-5f;  // -90 dBFS: where the renderer ends its tail
constexpr int kBounceChunk = 8192;       // Ardour 7's bounce runs a track's plugins in blocks of this size

cArdour Vst2Ardour() { return {ePluginType::kVST2, kPlugin.parent_path()}; }

TEST(ArdourVst2, ScannerRecordsTheEffect) {
  const ardourtest::sScan scan = Vst2Ardour().Scan(kPlugin);
  ASSERT_EQ(scan.run.status, 0) << scan.run.out << scan.run.err;
  ASSERT_FALSE(scan.cache.empty()) << "no cache file\n" << scan.run.out << scan.run.err;
  EXPECT_THAT(scan.name, StartsWith("Nimbohall"));
  EXPECT_EQ(scan.vendor, "Brannoch");
  EXPECT_EQ(scan.category, "RoomFx");
  EXPECT_EQ(scan.inputs, 2);
  EXPECT_EQ(scan.outputs, 2);
  EXPECT_THAT(scan.cache, HasSubstr("is_instrument=\"0\""));
}

// nimbohall-render on `input` after `lead` frames of silence, its output from
// the end of the lead on.
hosttest::sAudio RenderAfterSilence(const hosttest::sAudio& input, int64_t lead, int block, int tail) {
  hosttest::sAudio padded = input;
  padded.samples.insert(padded.samples.begin(), static_cast<size_t>(lead * input.channels), 0.0f);
  hosttest::cTempDir dir;
  hosttest::WriteAudio(dir / "in.wav", padded);
  const auto run = hosttest::Run({NIMBOHALL_RENDER_PATH, "--program", "Drum room S", "--block", std::to_string(block),
                                  "--tail", std::to_string(tail), (dir / "in.wav").string(), (dir / "out.wav").string()});
  if (run.status != 0) throw std::runtime_error(run.err);
  hosttest::sAudio out = hosttest::ReadAudio(dir / "out.wav");
  out.samples.erase(out.samples.begin(), out.samples.begin() + static_cast<ptrdiff_t>(lead * out.channels));
  return out;
}

// The CLAP build on `input` after `lead` frames of silence, in `block`-frame
// blocks, for as long as `frames` (input and tail). It sleeps in silence by the
// same rules as the LV2 and VST3 builds, which the VST 2.x build does not.
hosttest::sAudio ClapAfterSilence(const hosttest::sAudio& input, int64_t lead, uint32_t block, int64_t frames) {
  nimbohost::cClapLibrary library(NIMBOHALL_CLAP_PATH);
  std::string error;
  auto clap = library.IsLoaded() ? nimbohost::cClapInstance::Create(library, "com.brannoch.nimbohall", &error) : nullptr;
  if (!clap) throw std::runtime_error("CLAP build: " + library.Error() + error);
  clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, "34");
  if (!clap->Activate(input.sampleRate, block)) throw std::runtime_error("CLAP build: not activated");
  const auto total = static_cast<size_t>(lead + frames);
  std::vector<float> inL(total), inR(total), outL(total), outR(total);
  for (int64_t i = 0; i < input.Frames(); ++i) {
    inL[static_cast<size_t>(lead + i)] = input.samples[static_cast<size_t>(2 * i)];
    inR[static_cast<size_t>(lead + i)] = input.samples[static_cast<size_t>(2 * i + 1)];
  }
  for (size_t pos = 0; pos < total; pos += block) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(block, total - pos));
    clap->Process(&inL[pos], &inR[pos], &outL[pos], &outR[pos], n);
  }
  hosttest::sAudio out{2, input.sampleRate, 0, {}};
  for (size_t i = static_cast<size_t>(lead); i < total; ++i) out.samples.insert(out.samples.end(), {outL[i], outR[i]});
  return out;
}

struct sDifference {
  int64_t samples = 0, firstFrame = -1;
  float largest = 0.0f;
};

sDifference Compare(const hosttest::sAudio& actual, const hosttest::sAudio& expected, float tolerance) {
  sDifference d;
  for (size_t i = 0; i < expected.samples.size() && i < actual.samples.size(); ++i) {
    const float difference = std::abs(actual.samples[i] - expected.samples[i]);
    d.largest = std::max(d.largest, difference);
    if (difference > tolerance && d.samples++ == 0) d.firstFrame = static_cast<int64_t>(i) / 2;
  }
  return d;
}

// Ardour's bounce of an unmodulated program against the renderer in the
// bounce's blocks. The track keeps only exact stages between file and plugin
// output: float sources read as written, gains of exactly 1, no fades, the
// session's own rate; and Ardour runs the plugin in whole chunks from sample
// 0 of the bounce, as the renderer does. The program reaches the plugin as it
// reaches a freshly started one (the script says how).
//
// The file starts 2 s into the track: the silence an export's pre-roll would
// play, in which the plugin's anti-denormal dither (1e-12..8e-12) leaves a
// steady residue of about 1e-9 in the delay lines. Given the same lead-in,
// the renderer must match Ardour bit for bit. Without it the residue tips
// roundings at the signal's level: 1.5 ulp of the peak measured, so 2^-20 of
// the peak (8 ulp) is float rounding, while a lost or shifted sample or a
// gain would be far above it.
struct sBounce {
  sRender render;
  hosttest::sAudio input;
};

sBounce BounceDrumRoom(const cArdour& ardour, const std::string& plugin) {
  hosttest::sAudio input = hosttest::TestSignal(48000, 0.5, 2);
  for (float& sample : input.samples) sample *= 0.5f;  // the room adds level; stay well below full scale
  ardourtest::sRenderRequest request;
  request.plugin = plugin;
  request.preset = "Drum room S";
  request.blockSize = 512;
  request.tailSeconds = 3.0;
  request.describe = true;
  return {ardour.Render(request, input), input};
}

// sleeps: the format sleeps in silence (LV2, VST3), so after the lead-in its
// bits are the CLAP build's, and the VST 2.x renderer's within rounding.
void ExpectTheRenderersSound(const sBounce& bounced, bool sleeps = false) {
  const sRender& render = bounced.render;
  const hosttest::sAudio& input = bounced.input;
  ASSERT_EQ(render.run.status, 0) << render.run.out << render.run.err;
  ASSERT_THAT(render.run.out, HasSubstr("\ndone\n"));
  EXPECT_EQ(render.blockSize, 512);
  ASSERT_EQ(render.audio.channels, 2);
  EXPECT_EQ(render.audio.sampleRate, 48000);
  ASSERT_EQ(render.audio.Frames(), input.Frames() + 3 * 48000);
  const int64_t lead = 2 * 48000;
  const hosttest::sAudio afterSilence = sleeps ? ClapAfterSilence(input, lead, kBounceChunk, render.audio.Frames())
                                              : RenderAfterSilence(input, lead, kBounceChunk, 3);
  const hosttest::sAudio cold = RenderAfterSilence(input, 0, kBounceChunk, 3);
  ASSERT_LE(cold.Frames(), render.audio.Frames());
  ASSERT_LE(afterSilence.Frames(), render.audio.Frames());

  const sDifference exact = Compare(render.audio, afterSilence, 0.0f);
  EXPECT_EQ(exact.samples, 0) << "first at frame " << exact.firstFrame << ", largest " << exact.largest;
  float peak = 0.0f;
  for (float sample : cold.samples) peak = std::max(peak, std::abs(sample));
  EXPECT_GT(peak, 0.1f);
  EXPECT_LT(peak, 0.9f);
  const sDifference rounded = Compare(render.audio, cold, std::ldexp(peak, -20));
  EXPECT_EQ(rounded.samples, 0) << "first at frame " << rounded.firstFrame << ", largest " << rounded.largest;

  // Where the renderer stopped, Ardour's tail is as quiet as the renderer required.
  for (size_t i = cold.samples.size(); i < render.audio.samples.size(); ++i)
    ASSERT_LT(std::abs(render.audio.samples[i]), kQuiet) << "frame " << i / 2;
}

TEST(ArdourVst2, BounceOfAProgramEqualsTheRenderer) {
  const cArdour ardour = Vst2Ardour();
  const sBounce bounced = BounceDrumRoom(ardour, ardour.Scan(kPlugin).name);
  const sRender& render = bounced.render;
  EXPECT_THAT(render.presetUri, EndsWith(":0034"));  // Ardour's program index

  // What Ardour offers: the 18 controls and the 64 programs as presets.
  ASSERT_EQ(render.controls.size(), 18u);
  EXPECT_EQ(render.controls[0].label, "Geometry");
  EXPECT_EQ(render.controls[0].upper, 16.0f);  // the geometry count, not 0..1
  EXPECT_EQ(render.controls[17].label, "Dr. Who");
  EXPECT_EQ(render.controls[17].flags, "t");
  ASSERT_EQ(render.presets.size(), 64u);
  EXPECT_EQ(render.presets[34].second, "Drum room S");
  EXPECT_EQ(render.presets[63].second, "Init");
  ExpectTheRenderersSound(bounced);
}

// The LV2 bundle, found by its URI with LV2_PATH at its folder: the preset by
// label, ports in their own units, and the same sound.
TEST(ArdourLv2, BounceOfAPresetEqualsTheRenderer) {
  const cArdour ardour(ePluginType::kLV2, std::filesystem::path(NIMBOHALL_LV2_BUNDLE).parent_path());
  const sBounce bounced = BounceDrumRoom(ardour, "urn:brannoch:nimbohall");
  const sRender& render = bounced.render;
  ASSERT_EQ(render.controls.size(), 19u);  // 18 and the bypass port
  EXPECT_EQ(render.controls[1].label, "Base delay time");
  EXPECT_EQ(render.controls[1].upper, 1.0f);  // seconds
  EXPECT_EQ(render.controls[0].flags, "ei");
  EXPECT_EQ(render.presets.size(), 64u);
  ExpectTheRenderersSound(bounced, true);
}

// The VST3 bundle: Ardour lists it by class name, shows the 18 parameters and
// the bypass in their plain ranges and the 64 programs as presets, and loads a
// program without hanging (Ardour 7.3 holds its process lock while it does).
TEST(ArdourVst3, ProgramLoadsAndBounceEqualsTheRenderer) {
  const std::filesystem::path bundle = NIMBOHALL_VST3_BUNDLE;
  const cArdour ardour(ePluginType::kVST3, bundle.parent_path());
  const sBounce bounced = BounceDrumRoom(ardour, "Nimbohall");
  const sRender& render = bounced.render;
  EXPECT_THAT(render.presetUri, EndsWith(":0034"));
  ASSERT_EQ(render.controls.size(), 19u);
  EXPECT_EQ(render.controls[1].label, "Base delay time");
  EXPECT_FLOAT_EQ(render.controls[1].upper, 1.0f);  // seconds, not 0..1
  EXPECT_EQ(render.controls[0].upper, 16.0f);
  EXPECT_EQ(render.controls[18].label, "Bypass");
  ASSERT_EQ(render.presets.size(), 64u);
  EXPECT_EQ(render.presets[34].second, "Drum room S");
  ExpectTheRenderersSound(bounced, true);
}

}  // namespace
