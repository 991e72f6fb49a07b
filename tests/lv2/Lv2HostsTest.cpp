// The bundle in third-party LV2 tools (validators, lilv's tools, lv2file,
// jalv), installed where hosts look, and compared with the VST 2.x build.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>

#include "HostTestSupport.h"

namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

const fs::path kBundle = NIMBOHALL_LV2_BUNDLE;
const std::string kUri = "urn:brannoch:nimbohall";

class Lv2Hosts : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef NIMBOHALL_SANITIZED
    GTEST_SKIP() << "third-party hosts cannot load a sanitized plugin";
#endif
  }
  static hosttest::sRun Tool(const std::vector<std::string>& command, const fs::path& lv2 = kBundle.parent_path()) {
    return hosttest::Run(command, {}, {"LV2_PATH=" + lv2.string() + ":/usr/lib/lv2"});
  }
  static size_t Count(const std::string& text, const std::string& regex) {
    const std::regex pattern(regex);
    return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), {}));
  }
  // Over the LV2 render's length (no tail): the same bits, except after the plugin fell asleep in
  // silence, where the VST 2.x build keeps its dither: the first difference is a sleeping (exactly
  // silent) frame, and from there on the two agree within -140 dB of the peak.
  static ::testing::AssertionResult SameBits(const fs::path& lv2, const fs::path& vst) {
    const hosttest::sAudio x = hosttest::ReadAudio(lv2), y = hosttest::ReadAudio(vst);
    if (x.Frames() == 0 || x.Frames() > y.Frames()) return ::testing::AssertionFailure() << "lengths";
    const auto [first, other] = std::mismatch(x.samples.begin(), x.samples.end(), y.samples.begin());
    if (first == x.samples.end()) return ::testing::AssertionSuccess();
    const size_t frame = static_cast<size_t>(first - x.samples.begin()) / 2;
    if (x.samples[2 * frame] != 0.0f || x.samples[2 * frame + 1] != 0.0f)
      return ::testing::AssertionFailure() << "differs at frame " << frame << " while sounding";
    float peak = 0.0f, difference = 0.0f;
    for (size_t i = 0; i < x.samples.size(); ++i) {
      peak = std::max(peak, std::fabs(y.samples[i]));
      difference = std::max(difference, std::fabs(x.samples[i] - y.samples[i]));
    }
    if (difference <= 1e-7f * peak) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "after a sleep at frame " << frame << ": "
                                         << 20.0 * std::log10(difference / peak) << " dB of the peak";
  }
};

TEST_F(Lv2Hosts, ValidatorsAcceptEveryFile) {
  std::vector<std::string> validate = {"/usr/bin/lv2_validate", kBundle / "manifest.ttl", kBundle / "nimbohall.ttl"};
  for (const auto& preset : fs::directory_iterator(kBundle / "presets")) validate.push_back(preset.path());
  ASSERT_EQ(validate.size(), 1u + 2u + 64u);
  for (size_t i = 1; i < validate.size(); ++i) {
    const hosttest::sRun turtle = Tool({"/usr/bin/serdi", "-q", "-o", "ntriples", validate[i]});
    EXPECT_TRUE(turtle.status == 0 && turtle.err.empty()) << validate[i] << ": " << turtle.err;
    // Decimals only: lilv hands them to hosts as floats, and Ardour applies nothing else from a preset.
    const size_t decimals = Count(turtle.out, "presets#value> \"[0-9]+\\.[0-9]+\"\\^\\^<[^>]*#decimal>");
    EXPECT_EQ(decimals, i > 2 ? 16u : 0u) << validate[i];
  }
  const hosttest::sRun run = Tool(validate);
  EXPECT_EQ(run.status, 0);
  // Debian's lv2_validate names a schema file the package lacks; nothing else may be said.
  const std::string said = std::regex_replace(run.out + run.err, std::regex("Skipping file [^\n]*lv2core.doap.ttl\n?"), "");
  EXPECT_TRUE(std::regex_match(said, std::regex("Found 0 errors among [0-9]+ files \\(checked [0-9]+ restrictions\\)\n?")))
      << said;
}

TEST_F(Lv2Hosts, LilvDescribesTheInstalledBundle) {
  hosttest::cTempDir prefix;
  ASSERT_EQ(hosttest::Run({CMAKE_COMMAND, "--install", PROJECT_BINARY_DIR, "--prefix", prefix.Path()}).status, 0);
  const fs::path lv2 = prefix / "lib/lv2";
  EXPECT_THAT(hosttest::Run({NIMBOHALL_NM, "-D", "--defined-only", lv2 / "nimbohall.lv2/nimbohall.so"}).out,
              ::testing::MatchesRegex("[0-9a-f]+ T lv2_descriptor\n"));
  EXPECT_THAT(Tool({"/usr/bin/lv2ls"}, lv2).out, HasSubstr(kUri + "\n"));
  const std::string info = Tool({"/usr/bin/lv2info", kUri}, lv2).out;
#ifdef NIMBOHALL_LV2_UI
  // The editor's module: one entry point, system libraries only (X11 for its window), listed as the plugin's UI.
  const fs::path ui = lv2 / "nimbohall.lv2/nimbohall_ui.so";
  EXPECT_THAT(hosttest::Run({NIMBOHALL_NM, "-D", "--defined-only", ui}).out,
              ::testing::MatchesRegex("[0-9a-f]+ T lv2ui_descriptor\n"));
  const std::string needed = hosttest::Run({NIMBOHALL_OBJDUMP, "-p", ui}).out;
  EXPECT_EQ(Count(needed, "NEEDED +libX11\\.so\\.6\n"), 1u) << needed;
  EXPECT_EQ(Count(needed, "NEEDED"), Count(needed, "NEEDED +lib(X11|stdc\\+\\+|m|gcc_s|c)\\.so\\.[0-9]+\n")) << needed;
  EXPECT_THAT(info, HasSubstr("\tUIs:\n\t\t" + kUri + "#editor\n\t\t\tClass:  http://lv2plug.in/ns/extensions/ui#X11UI\n"
                              "\t\t\tBinary: file://" + ui.string() + "\n"));
#endif
  EXPECT_THAT(info, HasSubstr("Reverb Plugin\n\tAuthor:            Brannoch\n"));
  EXPECT_THAT(info, HasSubstr("Bundle:            file://" + (lv2 / "nimbohall.lv2/").string()));
  const size_t presets = info.find("Presets:");
  EXPECT_EQ(Count(info.substr(presets, info.find("Port 0:") - presets), "\n\t +[^\n]+"), 64u);
  EXPECT_THAT(info, HasSubstr(" Washing Program (60\xC2\xB0)\n"));
  EXPECT_THAT(info, HasSubstr("\t\t\t16.0 = \"detuned\"\n"));
  EXPECT_THAT(info, HasSubstr("Minimum:     0.000001\n\t\tMaximum:     1.000000\n\t\tDefault:     0.035000\n"
                              "\t\tProperties:  http://lv2plug.in/ns/ext/port-props#logarithmic"));
  // lv2info prints no units; its Turtle description of the plugin has them.
  Tool({"/usr/bin/lv2info", "-p", prefix / "plugin.ttl", kUri}, lv2);
  const std::string units = hosttest::ReadFile(prefix / "plugin.ttl");
  for (const auto& [unit, ports] : {std::pair{"s", 2u}, {"pc", 5u}, {"degree", 4u}, {"halflife_unit", 1u}, {"amp_drv_unit", 1u}})
    EXPECT_EQ(Count(units, std::string("units#unit> <[^>]*[#:]") + unit + ">"), ports) << unit;
}

// Every preset by its label in lv2file (blocks of 512, one with a port setting) and the one-frame lv2apply,
// against nimbohall-render through the VST 2.x build: the same bits.
TEST_F(Lv2Hosts, RendersLikeTheVst2Build) {
  hosttest::cTempDir dir;
  hosttest::sAudio input = hosttest::TestSignal(48000, 0.25, 2);
  for (float& s : input.samples) s *= 0.25f;  // lv2file clips at 1
  hosttest::WriteAudio(dir / "in.wav", input);
  const auto vst = [&](std::vector<std::string> options) {
    options.insert(options.begin(), {NIMBOHALL_RENDER_PATH, "--tail", "0.01"});
    options.insert(options.end(), {dir / "in.wav", dir / "vst.wav"});
    return hosttest::Run(options).status;
  };
  std::string list = hosttest::Run({NIMBOHALL_RENDER_PATH, "--list"}).out;
  list = list.substr(0, list.find("Parameters:"));
  const std::regex program("\n [ *] +([0-9]+)  ([^\n]+)");
  size_t programs = 0;
  for (std::sregex_iterator p(list.begin(), list.end(), program), end; p != end; ++p, ++programs) {
    const std::string k = (*p)[1], name = (*p)[2];
    const bool set = k == "36";  // wet mix 50 %: 0.5 normalized, exactly; the others set what presets leave alone
    const hosttest::sRun file = Tool({"/usr/bin/lv2file", "-i", dir / "in.wav", "-o", dir / "lv2.wav", "-b", "512", "-P",
                                      name, "-p", set ? "wet_mix:50" : "hold:0", kUri});
    ASSERT_EQ(file.status, 0) << file.err;
    EXPECT_THAT(file.out, ::testing::Not(HasSubstr("Clipping")));
    ASSERT_EQ(vst({"--block", "512", "--program", k, "--set-normalized", set ? "Wet mix=0.5" : "Hold=0"}), 0);
    EXPECT_TRUE(SameBits(dir / "lv2.wav", dir / "vst.wav")) << "program " << k << " " << name;
  }
  EXPECT_EQ(programs, 64u);

  ASSERT_EQ(Tool({"/usr/bin/lv2apply", "-i", dir / "in.wav", "-o", dir / "lv2.wav", "-c", "geometry", "7", kUri}).status, 0);
  ASSERT_EQ(vst({"--block", "1", "--set", "Geometry=room1"}), 0);
  EXPECT_TRUE(SameBits(dir / "lv2.wav", dir / "vst.wav"));
}

TEST_F(Lv2Hosts, JalvRunsOnJackDummyDriver) {
  hosttest::cTempDir dir;
  // Both in the background, each ended by its own process ID; jalv reads commands from a FIFO held open.
  const std::string script = "jackd --no-realtime -n \"$JACK_DEFAULT_SERVER\" -d dummy -r 48000 -p 512 >jackd.log 2>&1 &"
                             "jackd=$!; jack_wait -w -t 10 >/dev/null || { kill $jackd; exit 90; }; mkfifo commands;"
                             "jalv -n nimbohall " + kUri + " <commands >jalv.log 2>&1 & jalv=$!; exec 3>commands; sleep 1;"
                             "jack_lsp; kill -0 $jalv || { kill $jackd; exit 91; }; kill -INT $jalv; wait $jalv; s=$?;"
                             "kill $jackd; wait $jackd; exit $s";
  const hosttest::sRun run = hosttest::Run({"/bin/sh", "-c", script}, dir.Path(),
                                           {"LV2_PATH=" + kBundle.parent_path().string(),
                                            "JACK_DEFAULT_SERVER=nimbohall-" + std::to_string(getpid())});
  const std::string log = hosttest::ReadFile(dir / "jalv.log");
  EXPECT_EQ(run.status, 0) << log << hosttest::ReadFile(dir / "jackd.log");
  EXPECT_THAT(run.out, HasSubstr("nimbohall:in_l\nnimbohall:in_r\nnimbohall:out_l\nnimbohall:out_r\n"));
  EXPECT_THAT(log, HasSubstr("dr_who = 0.000000\nenabled = 1.000000\n"));
  EXPECT_THAT(log, ::testing::Not(::testing::ContainsRegex("[Ee]rror|[Ww]arning|[Ff]ail")));
}

}  // namespace
