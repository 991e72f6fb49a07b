// nimbohall-render as a user runs it: its files compared with the plugin
// driven straight through its record, its tail rule, the demo, and every
// error case with its message and exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <functional>
#include <regex>

#include "HostTestSupport.h"
#include "cVstHost.h"

using hosttest::cTempDir;
using hosttest::ReadAudio;
using hosttest::sAudio;
using hosttest::sRun;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

const std::string kRenderer = NIMBOHALL_RENDER_PATH;
const std::string kPlugin = NIMBOHALL_PLUGIN_PATH;
const std::string kFakeDecay = FAKE_DECAY_PATH;
constexpr float kQuiet = 3.1622777e-5f;  // -90 dBFS

sRun Render(const std::vector<std::string>& arguments, const std::filesystem::path& directory = {}) {
  std::vector<std::string> command = {kRenderer};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return hosttest::Run(command, directory);
}

// The plugin driven straight through its record: whole blocks, the input's
// last one filled up with silence, `frames` frames in all.
sAudio DriveDirectly(const std::string& path, const sAudio& input, int block, int64_t frames,
                     const std::function<void(nimbohost::cHostedEffect&)>& setup) {
  nimbohost::cPluginLibrary library(path);
  std::string error;
  nimbohost::sHostAnswers answers;
  answers.sampleRate = input.sampleRate;
  answers.blockSize = block;
  auto effect = nimbohost::cHostedEffect::Create(library.Entry(), answers, &error);
  if (!effect) throw std::runtime_error(error);
  effect->Start(static_cast<float>(input.sampleRate), block);
  setup(*effect);
  std::vector<float> inL(static_cast<size_t>(block)), inR(inL), outL(inL), outR(inL);
  float* inputs[2] = {inL.data(), inR.data()};
  float* outputs[2] = {outL.data(), outR.data()};
  sAudio out;
  out.channels = 2;
  out.sampleRate = input.sampleRate;
  for (int64_t start = 0; start < frames; start += block) {
    for (int i = 0; i < block; ++i) {
      const int64_t frame = start + i;
      const bool inside = frame < input.Frames();
      inL[static_cast<size_t>(i)] = inside ? input.At(frame, 0) : 0.0f;
      inR[static_cast<size_t>(i)] = inside ? input.At(frame, input.channels - 1) : 0.0f;
    }
    effect->ProcessReplacing(inputs, outputs, block);
    for (int i = 0; i < block && start + i < frames; ++i) {
      out.samples.push_back(outL[static_cast<size_t>(i)]);
      out.samples.push_back(outR[static_cast<size_t>(i)]);
    }
  }
  effect->Stop();
  effect->Close();
  return out;
}

float MaxDifference(const sAudio& a, const sAudio& b) {
  float worst = 0.0f;
  for (size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i) {
    worst = std::max(worst, std::fabs(a.samples[i] - b.samples[i]));
  }
  return worst;
}

// The last frame at or above -90 dBFS, -1 when there is none.
int64_t LastLoudFrame(const sAudio& audio) {
  for (int64_t f = audio.Frames() - 1; f >= 0; --f) {
    for (int c = 0; c < audio.channels; ++c) {
      if (!(std::fabs(audio.At(f, c)) < kQuiet)) return f;
    }
  }
  return -1;
}

std::string Line(const std::string& listing, const std::string& start) {
  std::istringstream lines(listing);
  std::string line;
  const std::regex pattern("^ +[0-9]+  " + start + " +(.*)$");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, match, pattern)) return match[1];
  }
  return "(no line for " + start + ")";
}

// ---- the renderer against driving the plugin directly ----------------------

TEST(RenderMatchesDirectDriving, StereoFileThroughProgramAndSetting) {
  cTempDir dir;
  const sAudio input = hosttest::TestSignal(44100, 0.6, 2);
  hosttest::WriteAudio(dir / "in.wav", input);
  const sRun run = Render({"--program", "36", "--set-normalized", "Wet mix=0.3", "--block", "256",
                           (dir / "in.wav").string(), (dir / "out.wav").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");  // no progress bar when stderr is not a terminal

  const sAudio rendered = ReadAudio(dir / "out.wav");
  float peak = 0.0f;
  for (float v : rendered.samples) peak = std::max(peak, std::fabs(v));
  char summary[256];
  std::snprintf(summary, sizeof summary, "%s: program 36 \"Drum room L+mod+sat\", %.2f s, peak %.1f dBFS\n",
                (dir / "out.wav").c_str(), static_cast<double>(rendered.Frames()) / 44100.0, 20.0 * std::log10(peak));
  EXPECT_EQ(run.out, summary);
  EXPECT_EQ(rendered.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(rendered.sampleRate, 44100);
  ASSERT_EQ(rendered.channels, 2);
  ASSERT_GE(rendered.Frames(), input.Frames());
  const sAudio direct = DriveDirectly(kPlugin, input, 256, rendered.Frames(), [](nimbohost::cHostedEffect& e) {
    e.Dispatch(effSetProgram, 0, 36);
    e.SetParameter(15, 0.3f);
  });
  EXPECT_EQ(MaxDifference(rendered, direct), 0.0f);
}

TEST(RenderMatchesDirectDriving, MonoInputFeedsBothInputs) {
  cTempDir dir;
  sAudio input = hosttest::TestSignal(48000, 0.4, 1);
  input.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
  hosttest::WriteAudio(dir / "in.flac", input);
  const sAudio read = ReadAudio(dir / "in.flac");  // what 24-bit FLAC kept of it
  const sRun run = Render({"--program", "Drum room S", (dir / "in.flac").string(), "-o", (dir / "out.wav").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const sAudio rendered = ReadAudio(dir / "out.wav");
  EXPECT_EQ(rendered.sampleRate, 48000);
  ASSERT_EQ(rendered.channels, 2);
  const sAudio direct = DriveDirectly(kPlugin, read, 512, rendered.Frames(),
                                      [](nimbohost::cHostedEffect& e) { e.Dispatch(effSetProgram, 0, 34); });
  EXPECT_EQ(MaxDifference(rendered, direct), 0.0f);
}

TEST(RenderMatchesDirectDriving, ValuesByNameShowAsAsked) {
  const sRun run = Render({"--program", "36", "--set", "Wet mix=40", "--set", "Geometry=room2", "--set", "Hold=on",
                           "--set", "Base dly=0.025", "--set", "Halflife=off", "--set", "Mod per=250ms", "--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Line(run.out, "Wet mix"), "40 %");
  EXPECT_EQ(Line(run.out, "Geometry"), "room2");
  EXPECT_EQ(Line(run.out, "Hold"), "on");
  EXPECT_EQ(Line(run.out, "Base dly"), "25.00 ms");
  EXPECT_EQ(Line(run.out, "Halflife"), "off");
  EXPECT_EQ(Line(run.out, "Mod per"), "250.0 ms");
  EXPECT_EQ(Line(run.out, "FB rot 1"), "90.00 \xC2\xB0");  // the program's value, in UTF-8
  EXPECT_THAT(run.out, HasSubstr(" *  36  Drum room L+mod+sat\n"));
}

TEST(RenderMatchesDirectDriving, ListShowsProgramsThenParametersInUtf8) {
  const sRun run = Render({"--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("Nimbohall 0.4a by Brannoch ("));
  const size_t programs = run.out.find("Programs:\n");
  const size_t parameters = run.out.find("Parameters:\n");
  ASSERT_NE(programs, std::string::npos);
  ASSERT_NE(parameters, std::string::npos);
  EXPECT_LT(programs, parameters);
  EXPECT_THAT(run.out, HasSubstr(" *   0  Temple of the Ancestors\n"));
  EXPECT_THAT(run.out, HasSubstr("    30  Washing Program (60\xC2\xB0)\n"));
  EXPECT_THAT(run.out, HasSubstr("    63  Init\n"));
  EXPECT_EQ(Line(run.out, "Halflife"), "16.00 \xC3\x97 base");
  EXPECT_EQ(Line(run.out, "Dr. Who"), "off");
}

// What --list shows, --set takes: program 6 stores a Damping of 5, beyond
// the 0..1 a host can set, and keeps it (and its sound) when given back.
TEST(RenderMatchesDirectDriving, ProgramsOwnValueOutsideTheRangeIsKept) {
  cTempDir dir;
  const sRun list = Render({"--program", "6", "--set", "Damping=5", "--set", "Halflife=7x", "--set", "Mod per=0,25",
                            "--list"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_THAT(Line(list.out, "Damping"), StartsWith("5.00  (the program's own value, beyond the 0.00 to 1.00"));
  EXPECT_EQ(Line(list.out, "Halflife"), "7.00 \xC3\x97 base");
  EXPECT_EQ(Line(list.out, "Mod per"), "250.0 ms");

  const sAudio input = hosttest::TestSignal(44100, 0.3, 2);
  hosttest::WriteAudio(dir / "in.wav", input);
  const sRun run = Render({"--program", "It is Spring", "--set", "Damping=5.00", (dir / "in.wav").string(),
                           (dir / "out.wav").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const sAudio rendered = ReadAudio(dir / "out.wav");
  const sAudio direct = DriveDirectly(kPlugin, input, 512, rendered.Frames(),
                                      [](nimbohost::cHostedEffect& e) { e.Dispatch(effSetProgram, 0, 6); });
  EXPECT_EQ(MaxDifference(rendered, direct), 0.0f);
}

// ---- parameter changes during the render -----------------------------------------

TEST(RenderTimedChanges, LandOnTheirFrameFromTheCommandLineAndAFile) {
  cTempDir dir;
  const sAudio input = hosttest::TestSignal(48000, 0.1, 2);
  hosttest::WriteAudio(dir / "in.wav", input);
  hosttest::WriteFile(dir / "changes.txt", "# silence from frame 1500 on\n\n1500smp  Level=-inf\n");
  const sRun run = Render({"--plugin", kFakeDecay, "--tail", "0", "--at", "0.0104167s", "Level=-6",
                           "--automation", (dir / "changes.txt").string(), (dir / "in.wav").string(),
                           (dir / "out.wav").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const sAudio out = ReadAudio(dir / "out.wav");
  const sAudio direct = DriveDirectly(kFakeDecay, input, 512, out.Frames(), [](nimbohost::cHostedEffect&) {});
  ASSERT_EQ(out.Frames(), input.Frames());
  const float halved = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
  for (int64_t f = 0; f < out.Frames(); ++f) {
    const float expected = f < 500 ? direct.At(f, 0) : f < 1500 ? halved * direct.At(f, 0) : 0.0f;  // 0.0104167 s = 500
    ASSERT_NEAR(out.At(f, 0), expected, 0.012f * std::fabs(direct.At(f, 0)) + 1e-9f) << "frame " << f;  // -6.0 dB as shown
  }
  EXPECT_NE(out.At(1499, 0), 0.0f);
}

// Hold switched on while the tail sounds freezes it: the level stays where
// it was, where the same render without the change has died away. (With
// modulation on, a frozen tail loses a few dB over seconds: it is off here.)
TEST(RenderTimedChanges, HoldFreezesTheTailAtItsLevel) {
  cTempDir dir;
  hosttest::WriteAudio(dir / "in.wav", hosttest::TestSignal(48000, 1.0, 2));
  auto levelDb = [](const sAudio& a, double from, double to) {
    double sum = 0.0;
    const auto first = static_cast<int64_t>(from * a.sampleRate), last = static_cast<int64_t>(to * a.sampleRate);
    for (int64_t f = first; f < last; ++f) sum += a.At(f, 0) * a.At(f, 0) + a.At(f, 1) * a.At(f, 1);
    return 10.0 * std::log10(sum / static_cast<double>(2 * (last - first)));
  };
  const sRun frozen = Render({"--program", "0", "--set", "Mod dep=off", "--at", "0.5s", "Hold=on", "--tail", "3",
                              (dir / "in.wav").string(), (dir / "frozen.wav").string()});
  ASSERT_EQ(frozen.status, 0) << frozen.err;
  EXPECT_THAT(frozen.out, HasSubstr(", tail cut at --tail 3 s while still sounding\n"));
  const sRun free = Render({"--program", "0", "--set", "Mod dep=off", "--tail", "3", (dir / "in.wav").string(),
                            (dir / "free.wav").string()});
  ASSERT_EQ(free.status, 0) << free.err;
  const sAudio held = ReadAudio(dir / "frozen.wav");
  const sAudio decayed = ReadAudio(dir / "free.wav");
  ASSERT_EQ(held.Frames(), 4 * 48000);
  EXPECT_GT(levelDb(held, 0.6, 1.0), -60.0);
  EXPECT_NEAR(levelDb(held, 3.6, 4.0), levelDb(held, 0.6, 1.0), 0.5);
  EXPECT_LT(levelDb(decayed, 3.6, 4.0), levelDb(decayed, 0.6, 1.0) - 10.0);
}

// ---- output and input formats ----------------------------------------------

TEST(RenderFormats, OutputFormatFollowsTheExtension) {
  cTempDir dir;
  hosttest::WriteAudio(dir / "in.wav", hosttest::TestSignal(22050, 0.2, 2));
  const struct {
    const char* name;
    int format;
  } cases[] = {{"out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
               {"out.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
               {"out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
               {"OUT.WAV", SF_FORMAT_WAV | SF_FORMAT_FLOAT}};
  for (const auto& c : cases) {
    const sRun run = Render({(dir / "in.wav").string(), (dir / c.name).string()});
    ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
    const sAudio out = ReadAudio(dir / c.name);
    EXPECT_EQ(out.format, c.format) << c.name;
    EXPECT_EQ(out.sampleRate, 22050) << c.name;
    EXPECT_EQ(out.channels, 2) << c.name;
  }
}

TEST(RenderFormats, DefaultOutputIsFloatWavNamedAfterTheInput) {
  cTempDir dir;
  hosttest::WriteAudio(dir / "take 3.aiff", [] {
    sAudio a = hosttest::TestSignal(96000, 0.1, 2);
    a.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    return a;
  }());
  const sRun run = Render({"take 3.aiff"}, dir.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  const sAudio out = ReadAudio(dir / "take 3-render.wav");
  EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(out.sampleRate, 96000);
}

TEST(RenderFormats, IntegerOutputClipsInsteadOfWrappingAround) {
  cTempDir dir;
  // Level +6 dB on a full-scale square wave: far past full scale.
  sAudio input;
  input.channels = 2;
  input.sampleRate = 8000;
  for (int i = 0; i < 800; ++i) {
    const float v = (i / 20) % 2 ? 0.9f : -0.9f;
    input.samples.push_back(v);
    input.samples.push_back(v);
  }
  hosttest::WriteAudio(dir / "in.wav", input);
  const sRun run = Render({"--plugin", kFakeDecay, "--set", "Decay=0.05", "--set", "Level=6", "--tail", "0",
                           (dir / "in.wav").string(), (dir / "out.flac").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const sAudio out = ReadAudio(dir / "out.flac");
  const sAudio direct = DriveDirectly(kFakeDecay, input, 512, out.Frames(), [](nimbohost::cHostedEffect& e) {
    e.SetParameter(0, 0.0f);
    e.SetParameter(1, 1.0f);
  });
  ASSERT_EQ(out.Frames(), input.Frames());
  for (int64_t f = 0; f < out.Frames(); ++f) {
    const float expected = std::clamp(direct.At(f, 0), -1.0f, 1.0f);
    ASSERT_NEAR(out.At(f, 0), expected, 1e-3f) << "frame " << f;
  }
}

// ---- the tail ------------------------------------------------------------------

class RenderTail : public ::testing::Test {
 protected:
  // An impulse then silence, through the fake decay plugin.
  sAudio RenderImpulse(const std::vector<std::string>& options, int64_t* inputFrames) {
    sAudio input;
    input.channels = 2;
    input.sampleRate = 48000;
    input.samples.assign(2 * 4800, 0.0f);
    input.samples[0] = 1.0f;
    input.samples[1] = 0.5f;
    *inputFrames = input.Frames();
    hosttest::WriteAudio(m_Dir / "in.wav", input);
    std::vector<std::string> arguments = {"--plugin", kFakeDecay};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back((m_Dir / "in.wav").string());
    arguments.push_back((m_Dir / "out.wav").string());
    const sRun run = Render(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadAudio(m_Dir / "out.wav");
  }
  cTempDir m_Dir;
};

TEST_F(RenderTail, EndsAQuarterSecondAfterTheOutputFallsBelowMinus90dB) {
  int64_t inputFrames = 0;
  const sAudio out = RenderImpulse({"--set", "Decay=0.4"}, &inputFrames);
  const int64_t lastLoud = LastLoudFrame(out);
  // 90 dB take one and a half decay times: the whole tail is there...
  EXPECT_NEAR(static_cast<double>(lastLoud), 1.5 * 0.4 * 48000, 0.01 * 1.5 * 0.4 * 48000);
  // ...and a quarter second of silence after it, no more.
  EXPECT_EQ(out.Frames(), lastLoud + 1 + 12000);
}

TEST_F(RenderTail, StopsAtTheTailLimit) {
  int64_t inputFrames = 0;
  const sAudio out = RenderImpulse({"--set", "Decay=5", "--tail", "0.5"}, &inputFrames);
  EXPECT_EQ(out.Frames(), inputFrames + 24000);
  EXPECT_GT(std::fabs(out.At(out.Frames() - 1, 0)), kQuiet);  // still sounding when cut
}

TEST_F(RenderTail, NoTailLimitKeepsJustTheInput) {
  int64_t inputFrames = 0;
  const sAudio out = RenderImpulse({"--set", "Decay=5", "--tail", "0", "--block", "333"}, &inputFrames);
  EXPECT_EQ(out.Frames(), inputFrames);
}

// ---- the demo --------------------------------------------------------------------

TEST(RenderDemo, WritesAPlayableFileAndOneSummaryLine) {
  cTempDir dir;
  const sRun run = hosttest::Run({kRenderer}, dir.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::regex summary(
      "nimbohall-demo\\.wav: program 0 \"Temple of the Ancestors\", ([0-9]+\\.[0-9]{2}) s, peak (-?[0-9]+\\.[0-9]) "
      "dBFS, RT60 ([0-9]+\\.[0-9]{2} s|n/a)\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(run.out, match, summary)) << run.out;

  const sAudio demo = ReadAudio(dir / "nimbohall-demo.wav");
  EXPECT_EQ(demo.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(demo.channels, 2);
  EXPECT_EQ(demo.sampleRate, 48000);
  EXPECT_GT(demo.Frames(), 3 * 48000);  // a few seconds of dry signal at least
  EXPECT_NEAR(std::stod(match[1]), static_cast<double>(demo.Frames()) / 48000.0, 0.006);
  float peak = 0.0f;
  for (float s : demo.samples) peak = std::max(peak, std::fabs(s));
  ASSERT_GT(peak, 0.0f);
  EXPECT_NEAR(std::stod(match[2]), 20.0 * std::log10(peak), 0.051);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"nimbohall-demo.wav"});
}

TEST(RenderDemo, DecayTimeOfAKnownTail) {
  cTempDir dir;
  const sRun run = hosttest::Run({kRenderer, "--plugin", kFakeDecay, "--program", "Large", "--set", "Decay=0.8"}, dir.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::regex summary("nimbohall-demo\\.wav: program 1 \"Large\", .* RT60 ([0-9.]+) s\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(run.out, match, summary)) << run.out;
  EXPECT_NEAR(std::stod(match[1]), 0.8, 0.02);
}

TEST(RenderDemo, SilentOutputHasNoDecayTime) {
  cTempDir dir;
  const sRun run = hosttest::Run({kRenderer, "--plugin", kFakeDecay, "--set", "Level=-inf", "-o", "silent.flac"}, dir.Path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, ::testing::MatchesRegex("silent\\.flac: program 0 \"Small\", [0-9.]+ s, peak -inf dBFS, RT60 n/a\n"));
  EXPECT_EQ(ReadAudio(dir / "silent.flac").format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

// ---- plugins it did not come with ------------------------------------------------------

TEST(RenderOtherPlugins, SurvivesTextsPastTheirFieldsAndShowsWindows1252AsUtf8) {
  const sRun run = Render({"--plugin", kFakeDecay, "--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("     2  Caf\xC3\xA9 au lait with a name far too long\n"));
  EXPECT_EQ(Line(run.out, "Mode"), "clean colour of the tail");
  EXPECT_EQ(Line(run.out, "Tone"), "632 Hz");
}

TEST(RenderOtherPlugins, ProgramByItsUtf8Name) {
  const sRun run = Render({"--plugin", kFakeDecay, "--program", "caf\xC3\xA9 au lait with a name far too long", "--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(" *   2  Caf"));
}

// ---- errors: one line, an exit status for each kind, no file left behind -----------------

struct sErrorCase {
  const char* title;
  std::vector<std::string> arguments;  // "@" stands for the test folder
  int status;
  std::string message;  // the line after "nimbohall-render: ", "@" as above
};

std::ostream& operator<<(std::ostream& out, const sErrorCase& c) { return out << c.title; }

class RenderErrors : public ::testing::TestWithParam<sErrorCase> {};

std::string Expand(std::string text, const std::string& dir) {
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size())) {
    text.replace(at, 1, dir);
  }
  return text;
}

TEST_P(RenderErrors, FailCleanly) {
  const sErrorCase& c = GetParam();
  cTempDir dir;
  hosttest::WriteAudio(dir / "in.wav", hosttest::TestSignal(44100, 0.1, 2));
  hosttest::WriteAudio(dir / "three.wav", hosttest::TestSignal(44100, 0.1, 3));
  hosttest::WriteFile(dir / "text.wav", "just some text, no audio\n");
  hosttest::WriteFile(dir / "plugin.so", std::string(256, '#'));  // long enough to be judged by its header
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "in.wav", dir / "link.wav");
  hosttest::WriteFile(dir / "old.wav", "an earlier render");
  const auto before = dir.Entries();
  const std::string input = hosttest::ReadFile(dir / "in.wav");

  std::vector<std::string> arguments;
  for (const std::string& a : c.arguments) arguments.push_back(Expand(a, dir.Path().string()));
  const sRun run = Render(arguments, dir.Path());
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.err, "nimbohall-render: " + Expand(c.message, dir.Path().string()) + "\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(dir.Entries(), before);  // nothing new, no temporary file
  EXPECT_EQ(hosttest::ReadFile(dir / "old.wav"), "an earlier render");
  EXPECT_EQ(hosttest::ReadFile(dir / "in.wav"), input);
}

const std::string kFakeMono = FAKE_MONO_PATH;
const std::string kFakeNoEntry = FAKE_NOENTRY_PATH;
const std::string kFakeNoEffect = FAKE_NOEFFECT_PATH;

INSTANTIATE_TEST_SUITE_P(
    EveryCase, RenderErrors,
    ::testing::Values(
        sErrorCase{"MissingInput", {"@/nothing.wav", "@/old.wav"}, 1,
                   "cannot read input '@/nothing.wav': No such file or directory"},
        sErrorCase{"InputIsAFolder", {"@/folder", "@/old.wav"}, 1, "cannot read input '@/folder': it is a directory"},
        sErrorCase{"InputNotAudio", {"@/text.wav", "@/old.wav"}, 1,
                   "unsupported input format '@/text.wav': Format not recognised."},
        sErrorCase{"InputThreeChannels", {"@/three.wav", "@/old.wav"}, 1,
                   "unsupported input format '@/three.wav': 3 channels (mono or stereo needed)"},
        sErrorCase{"OutputExtension", {"@/in.wav", "@/out.mp4"}, 1,
                   "unsupported output format '.mp4' (the output name must end in one of .wav, .wave, .flac, .aif, "
                   ".aiff, .aifc, .ogg, .oga, .opus, .caf, .w64, .rf64, .au)"},
        sErrorCase{"OutputIsTheInput", {"@/in.wav", "@/in.wav"}, 1,
                   "output '@/in.wav' is the input file '@/in.wav': the render would replace it (name another output)"},
        sErrorCase{"OutputIsTheInputThroughALink", {"in.wav", "-o", "@/link.wav"}, 1,
                   "output '@/link.wav' is the input file 'in.wav': the render would replace it (name another output)"},
        sErrorCase{"OutputFolderMissing", {"@/in.wav", "@/nowhere/out.wav"}, 1,
                   "cannot write output '@/nowhere/out.wav': No such file or directory"},
        sErrorCase{"UnknownProgram", {"--program", "Cathedral", "@/in.wav", "@/old.wav"}, 4,
                   "unknown program 'Cathedral' (--list shows the programs)"},
        sErrorCase{"ProgramNumberPastTheBank", {"--program", "64", "@/in.wav", "@/old.wav"}, 4,
                   "program 64 does not exist (the plugin has programs 0 to 63)"},
        sErrorCase{"UnknownParameter", {"--set", "Wet mx=40", "@/in.wav", "@/old.wav"}, 4,
                   "unknown parameter 'Wet mx' (--list shows the parameters)"},
        sErrorCase{"ValueAboveRange", {"--set", "Wet mix=250", "@/in.wav", "@/old.wav"}, 4,
                   "Wet mix: 250 % is out of range (0 % to 200 %)"},
        sErrorCase{"ValueBelowRange", {"--set", "Base dly=0.5us", "@/in.wav", "@/old.wav"}, 4,
                   "Base dly: 5e-07 s is out of range (1.000 \xC2\xB5s to 1.000 s)"},
        sErrorCase{"ValueNotANumber", {"--set", "Wet mix=loud", "@/in.wav", "@/old.wav"}, 4,
                   "Wet mix: value 'loud' not understood (expected a number in %)"},
        sErrorCase{"UnknownNamedValue", {"--set", "FB plane=dense3", "@/in.wav", "@/old.wav"}, 4,
                   "FB plane: value 'dense3' not understood (one of: dense1, dense2, sparse1, sparse2, block1, block2)"},
        sErrorCase{"WrongUnit", {"--set", "Base dly=3Hz", "@/in.wav", "@/old.wav"}, 4,
                   "Base dly: unit 'Hz' not understood (the value is in s)"},
        sErrorCase{"NormalizedAboveOne", {"--set-normalized", "Wet mix=1.5", "@/in.wav", "@/old.wav"}, 4,
                   "Wet mix: normalized value 1.5 is out of range (0 to 1)"},
        sErrorCase{"NotALibrary", {"--plugin", "@/plugin.so", "@/in.wav", "@/old.wav"}, 3,
                   "cannot load plugin '@/plugin.so': @/plugin.so: invalid ELF header"},
        sErrorCase{"NoEntry", {"--plugin", kFakeNoEntry, "@/in.wav", "@/old.wav"}, 3,
                   "plugin '" + kFakeNoEntry + "' has no VST 2.x entry (VSTPluginMain or main)"},
        sErrorCase{"NoEffect", {"--plugin", kFakeNoEffect, "@/in.wav", "@/old.wav"}, 3,
                   "plugin '" + kFakeNoEffect + "' returned no effect"},
        sErrorCase{"MonoPlugin", {"--plugin", kFakeMono, "@/in.wav", "@/old.wav"}, 3,
                   "plugin '" + kFakeMono + "' has 1 input and 1 output; 2 in and 2 out are needed"},
        sErrorCase{"UnknownOption", {"--wet", "40", "@/in.wav"}, 2, "unknown option '--wet' (see --help)"},
        sErrorCase{"BlockZero", {"--block", "0", "@/in.wav"}, 2,
                   "--block needs a whole number of frames from 1 to 16384, got '0'"},
        sErrorCase{"NegativeTail", {"--tail", "-1", "@/in.wav"}, 2, "--tail needs seconds from 0 to 3600, got '-1'"},
        sErrorCase{"TimeNotUnderstood", {"--at", "2.5min", "Hold=on", "@/in.wav"}, 2,
                   "--at needs a time in seconds (2.5, 2.5s, 250ms) or frames (120000smp), got '2.5min'"},
        sErrorCase{"TimedChangeWithAnalysis", {"--analyze", "--at", "1", "Hold=on"}, 2,
                   "--at and --automation go with renders, not with --analyze or --list"},
        sErrorCase{"SettingWithoutValue", {"--set", "Wet mix", "@/in.wav"}, 2,
                   "--set needs NAME=VALUE, got 'Wet mix'"}),
    [](const ::testing::TestParamInfo<sErrorCase>& param) { return std::string(param.param.title); });

}  // namespace
