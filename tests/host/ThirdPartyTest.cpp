// The renderer hosting a VST 2.x plugin it did not come with: a reverb from
// Debian's dragonfly-reverb-vst, when installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "HostTestSupport.h"

namespace {

std::string InstalledThirdPartyReverb() {
  for (const char* name : {"DragonflyRoomReverb-vst.so", "DragonflyHallReverb-vst.so", "DragonflyPlateReverb-vst.so"}) {
    const std::filesystem::path path = std::filesystem::path("/usr/lib/lxvst") / name;
    if (std::filesystem::exists(path)) return path.string();
  }
  return {};
}

class ThirdPartyPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Plugin = InstalledThirdPartyReverb();
    if (m_Plugin.empty()) GTEST_SKIP() << "no third-party VST 2.x reverb installed (dragonfly-reverb-vst)";
  }
  std::string m_Plugin;
};

TEST_F(ThirdPartyPlugin, ListsItsProgramsAndParameters) {
  const auto run = hosttest::Run({NIMBOHALL_RENDER_PATH, "--plugin", m_Plugin, "--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, ::testing::HasSubstr("\nParameters:\n     0  "));
}

TEST_F(ThirdPartyPlugin, ValuesByWhatItShows) {
  if (m_Plugin.find("Room") == std::string::npos) GTEST_SKIP() << "parameter names known for the room reverb only";
  const auto run = hosttest::Run({NIMBOHALL_RENDER_PATH, "--plugin", m_Plugin, "--set", "Decay=2.5", "--set",
                                  "Predelay=0.02 s", "--set", "High Cut=7.5kHz", "--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, ::testing::HasSubstr("  Decay        2.500000 s\n"));
  EXPECT_THAT(run.out, ::testing::HasSubstr("  Predelay     20.000000 ms\n"));
  EXPECT_THAT(run.out, ::testing::HasSubstr("  High Cut     7500.000000 Hz\n"));
}

TEST_F(ThirdPartyPlugin, RendersAReverbTail) {
  hosttest::cTempDir dir;
  const hosttest::sAudio input = hosttest::TestSignal(48000, 0.5, 2);
  hosttest::WriteAudio(dir / "in.wav", input);
  const auto run = hosttest::Run(
      {NIMBOHALL_RENDER_PATH, "--plugin", m_Plugin, "--tail", "4", (dir / "in.wav").string(), (dir / "out.flac").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const hosttest::sAudio out = hosttest::ReadAudio(dir / "out.flac");
  ASSERT_EQ(out.channels, 2);
  EXPECT_EQ(out.sampleRate, 48000);
  ASSERT_GT(out.Frames(), input.Frames());
  // Sound after the input ended: the plugin ran and its tail was kept.
  double tailEnergy = 0.0;
  for (int64_t f = input.Frames(); f < out.Frames(); ++f) tailEnergy += out.At(f, 0) * out.At(f, 0) + out.At(f, 1) * out.At(f, 1);
  EXPECT_GT(tailEnergy, 1e-6);
}

}  // namespace

// Debian's qtractor is a CLAP host: its plugin scanner must list our build
// with its name, stereo in and out, 19 parameters (18 and the bypass), its
// editor ("GUI") where it is built and state ("EXT"), and the VST 2.x build
// with its 18 and no editor.
TEST(QtractorScanner, ListsTheClapAndVst2Builds) {
  const std::string scanner = "/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan";
  ASSERT_TRUE(std::filesystem::exists(scanner)) << "install qtractor";
  const std::string request = std::string("CLAP:") + NIMBOHALL_CLAP_PATH + "\\nVST:" + NIMBOHALL_PLUGIN_PATH + "\\n";
  const auto run = hosttest::Run({"/bin/sh", "-c", "printf '" + request + "' | " + scanner}, {}, {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(run.status, 0) << run.err;
#ifdef NIMBOHALL_CLAP_HAS_EDITOR
  const std::string clapFlags = "GUI,EXT,RT";
#else
  const std::string clapFlags = "EXT,RT";
#endif
  EXPECT_THAT(run.out, ::testing::HasSubstr("CLAP|Nimbohall|2:2|0:0|19:0|" + clapFlags + "|" + NIMBOHALL_CLAP_PATH + "|0|"));
  EXPECT_THAT(run.out, ::testing::HasSubstr(std::string("VST|Nimbohall 0.4a|2:2|0:0|18:0|RT|") + NIMBOHALL_PLUGIN_PATH + "|0|0xb45c2e01"));
}
