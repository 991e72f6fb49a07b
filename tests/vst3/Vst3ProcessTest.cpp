// The processor as hosts drive it: bus arrangements, the sound of the VST 2.x
// build bit for bit with parameter changes at frame offsets, bypass, tail,
// silence flags, and an audio path that never allocates.
#include "CountingAllocator.h"
#include "Vst3Support.h"
#include "cClapHost.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;
using namespace vst3test;

// Changes at odd frames, two at once, at a block's first and last frame.
std::vector<sChange> SomeChanges() {
  return {{700, 15, 0.9f},     {700, 5, 0.3f},     {1024, 14, 0.2f},     {1535, 3, 0.7f},
          {9001, 8, 0.45f},    {20000, 12, 0.8f},  {20001, 13, 0.1f},    {33333, 1, 0.55f},
          {40000, 16, 1.0f},   {50001, 16, 0.0f},  {60000, 15, 0.05f},   {66149, 6, 0.95f}};
}

// The CLAP build with the same changes as events at the same frames; its
// stepped parameters take their integers.
sStereo RenderClap(int32_t program, const sStereo& in, uint32_t block, const std::vector<sChange>& changes) {
  static const nimbohost::cClapLibrary library(NIMBOHALL_CLAP_PATH);
  std::string error;
  auto clap = nimbohost::cClapInstance::Create(library, "com.brannoch.nimbohall", &error);
  const std::string key = std::to_string(program);
  clap->PresetLoad()->from_location(clap->Plugin(), CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr, key.c_str());
  clap->Activate(44100.0, block);
  const std::vector<clap_param_info_t> infos = clap->ParamInfos();
  sStereo out(in.Frames());
  for (size_t pos = 0; pos < in.Frames(); pos += block) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(block, in.Frames() - pos));
    std::vector<nimbohost::sClapParamEvent> events;
    for (const sChange& c : changes) {
      if (c.frame < static_cast<int64_t>(pos) || c.frame >= static_cast<int64_t>(pos + n)) continue;
      const clap_param_info_t& info = infos[c.id];
      const double steps = info.max_value - info.min_value + 1.0;
      const double value = (info.flags & CLAP_PARAM_IS_STEPPED) ? std::min(info.max_value, std::floor(c.value * steps))
                                                                 : static_cast<double>(c.value);
      events.push_back({static_cast<uint32_t>(c.frame - static_cast<int64_t>(pos)), c.id, value});
    }
    clap->Process(&in.left[pos], &in.right[pos], &out.left[pos], &out.right[pos], n, events);
  }
  return out;
}

TEST(Vst3Audio, SoundsLikeTheVst2AndClapBuilds) {
  const sStereo in = TestInput(66150);  // 1.5 s, not a whole number of blocks
  for (int32_t program : {0, 19, 34, 36, 55, 63}) {
    auto plugin = RunningPlugin();
    auto vst2 = RunningVst2();
    ASSERT_TRUE(plugin && vst2);
    ASSERT_EQ(plugin->SetNormalized(kProgram, ProgramValue(program)), kResultOk);
    vst2->Dispatch(effSetProgram, 0, program);
    const sStereo a = RenderVst3(*plugin, in, 512, SomeChanges());
    // The input ends in silence, where the VST3 and CLAP builds sleep and the VST 2.x build runs on.
    const sStereo b = RenderVst2(*vst2, in, 512, SomeChanges());
    float worst = 0.0f;
    for (size_t i = 0; i < in.Frames(); ++i)
      worst = std::max({worst, std::fabs(a.left[i] - b.left[i]), std::fabs(a.right[i] - b.right[i])});
    EXPECT_LE(worst, 1e-7f * std::max(Peak(b.left), Peak(b.right))) << "program " << program;
    const size_t sound = in.Frames() / 2;
    EXPECT_EQ(std::memcmp(a.left.data(), b.left.data(), sound * sizeof(float)), 0) << "program " << program;
    EXPECT_TRUE(BitIdentical(a, RenderClap(program, in, 512, SomeChanges()))) << "program " << program;
    EXPECT_GT(Peak(a.left), 0.0f);
  }
}

// A program change automated in the host's queue switches at its block, as a
// VST 2.x host switching between the same blocks does.
TEST(Vst3Audio, AutomatedProgramChangeTakesEffectInProcess) {
  const sStereo in = TestInput(12288);
  auto plugin = RunningPlugin();
  auto vst2 = RunningVst2();
  ASSERT_TRUE(plugin && vst2);
  const sStereo a = RenderVst3(*plugin, in, 512, {{3072, kProgram, static_cast<float>(ProgramValue(34))}});
  sStereo first(3072), second(in.Frames() - 3072);
  std::copy_n(in.left.begin(), 3072, first.left.begin());
  std::copy_n(in.right.begin(), 3072, first.right.begin());
  std::copy(in.left.begin() + 3072, in.left.end(), second.left.begin());
  std::copy(in.right.begin() + 3072, in.right.end(), second.right.begin());
  sStereo b = RenderVst2(*vst2, first, 512, {});
  vst2->Dispatch(effSetProgram, 0, 34);
  const sStereo rest = RenderVst2(*vst2, second, 512, {});
  b.left.insert(b.left.end(), rest.left.begin(), rest.left.end());
  b.right.insert(b.right.end(), rest.right.begin(), rest.right.end());
  EXPECT_TRUE(BitIdentical(a, b));
  EXPECT_EQ(plugin->Normalized(kProgram), static_cast<float>(ProgramValue(34)));
}

TEST(Vst3Audio, TakesMonoInOnBothChannels) {
  auto plugin = NewPlugin();
  auto vst2 = RunningVst2();
  ASSERT_TRUE(plugin && vst2);
  ASSERT_EQ(plugin->SetArrangements({SpeakerArr::kMono}, {SpeakerArr::kStereo}), kResultTrue);
  EXPECT_EQ(plugin->Bus(kAudio, kInput, 0)->channelCount, 1);
  EXPECT_EQ(plugin->Arrangement(kInput, 0), SpeakerArr::kMono);
  plugin->Setup(44100.0, 512);
  plugin->SetActive(true);
  plugin->SetProcessing(true);

  sStereo in = TestInput(8192);
  in.right = in.left;
  EXPECT_TRUE(BitIdentical(RenderVst3(*plugin, in, 512, {}, 1), RenderVst2(*vst2, in, 512, {})));
}

TEST(Vst3Audio, RefusesOtherArrangementsAndDoublePrecision) {
  auto plugin = NewPlugin();
  ASSERT_TRUE(plugin);
  const SpeakerArrangement surround = SpeakerArr::kStereo | (1 << 2) | (1 << 3) | (1 << 4) | (1 << 5);
  EXPECT_EQ(plugin->SetArrangements({SpeakerArr::kStereo}, {SpeakerArr::kMono}), kResultFalse);
  EXPECT_EQ(plugin->SetArrangements({surround}, {SpeakerArr::kStereo}), kResultFalse);
  EXPECT_EQ(plugin->SetArrangements({SpeakerArr::kStereo, SpeakerArr::kStereo}, {SpeakerArr::kStereo}), kResultFalse);
  EXPECT_EQ(plugin->SetArrangements({}, {SpeakerArr::kStereo}), kResultFalse);
  EXPECT_EQ(plugin->Arrangement(kInput, 0), SpeakerArr::kStereo);
  EXPECT_EQ(plugin->Arrangement(kOutput, 0), SpeakerArr::kStereo);
  EXPECT_EQ(plugin->BusCount(kAudio, kInput), 1);
  EXPECT_EQ(plugin->BusCount(kEvent, kInput), 0);

  EXPECT_EQ(plugin->Processor()->canProcessSampleSize(kSample32), kResultTrue);
  EXPECT_NE(plugin->Processor()->canProcessSampleSize(kSample64), kResultTrue);
  EXPECT_NE(plugin->Setup(44100.0, 512, kSample64), kResultOk);
  ASSERT_EQ(plugin->Setup(44100.0, 512), kResultOk);
  plugin->SetActive(true);
  plugin->SetProcessing(true);
  std::vector<double> samples(64, 3.0);
  double* channels[2] = {samples.data(), samples.data()};
  AudioBusBuffers bus{2, 0, {}};
  bus.channelBuffers64 = channels;
  nimbohost::sProcessCall call{&bus, 1, &bus, 1, 64};
  call.sampleSize = kSample64;
  EXPECT_NE(plugin->Process(call), kResultOk);
  EXPECT_EQ(samples[0], 3.0);
  EXPECT_EQ(plugin->Processor()->getLatencySamples(), 0u);
}

// Bypass fades to the input within 10 ms and stays there exactly; the fade
// never jumps: no step beyond twice the steepest of the two signals it blends.
TEST(Vst3Audio, BypassFadesToTheInputWithoutAClick) {
  sStereo in(44100);
  for (size_t i = 0; i < in.Frames(); ++i) in.left[i] = in.right[i] = static_cast<float>(0.5 * std::sin(0.05 * i));
  auto reference = RunningPlugin();
  auto plugin = RunningPlugin();
  ASSERT_TRUE(reference && plugin);
  const sStereo wet = RenderVst3(*reference, in, 256, {});
  const int64_t at = 20000;
  const sStereo out = RenderVst3(*plugin, in, 256, {{at, kBypass, 1.0f}});
  const auto ramp = static_cast<size_t>(std::ceil(0.01 * 44100)) + 2;  // a frame or two of rounding
  float step = 0.0f, allowed = 0.0f;
  for (size_t i = 1; i < in.Frames(); ++i) {
    if (i < static_cast<size_t>(at)) {
      ASSERT_EQ(out.left[i], wet.left[i]) << i;
    } else if (i >= static_cast<size_t>(at) + ramp) {
      ASSERT_EQ(out.left[i], in.left[i]) << i;
    }
    step = std::max(step, std::fabs(out.left[i] - out.left[i - 1]));
    allowed = std::max({allowed, std::fabs(in.left[i] - in.left[i - 1]), std::fabs(wet.left[i] - wet.left[i - 1])});
  }
  EXPECT_LE(step, allowed * 2.0f);
  EXPECT_EQ(plugin->Normalized(kBypass), 1.0);
  // Only the fade is left to sound (at 44.1 kHz), as the CLAP build reports it.
  EXPECT_EQ(plugin->Processor()->getTailSamples(), 441u);
}

TEST(Vst3Audio, SilenceFlagsTellExactlyWhichOutputsAreSilent) {
  auto plugin = RunningPlugin();
  ASSERT_TRUE(plugin);
  nimbohost::cBusBuffers buffers(2, 2, 128);
  auto queues = nimbohost::cParameterChanges::Make();
  int silentBlocks = 0, soundingBlocks = 0;
  for (int block = 0; block < 200; ++block) {
    for (int32_t i = 0; i < 128; ++i) buffers.Input(0)[i] = buffers.Input(1)[i] = block < 3 ? 0.5f : 0.0f;
    queues->Clear();
    if (block == 60) queues->Add(kBypass, 5, 1.0f);  // bypassed silence is exact silence
    if (block == 150) queues->Add(kBypass, 0, 0.0f);
    nimbohost::sProcessCall call = buffers.Call(128, block < 3 ? 0 : 3);
    call.inputChanges = queues.get();
    ASSERT_EQ(plugin->Process(call), kResultOk);
    uint64_t expected = 0;
    for (int c = 0; c < 2; ++c) {
      const float* out = buffers.Output(c);
      if (std::all_of(out, out + 128, [](float s) { return s == 0.0f; })) expected |= uint64_t{1} << c;
    }
    EXPECT_EQ(buffers.OutputSilence(), expected) << "block " << block;
    (expected == 3 ? silentBlocks : soundingBlocks)++;
  }
  EXPECT_GT(silentBlocks, 10);
  EXPECT_GT(soundingBlocks, 10);
}

// After a sound has died away in input the host flags silent, the effect
// sleeps: exact zeros, flagged silent; the next sound wakes it.
TEST(Vst3Audio, SleepsInFlaggedSilenceAndWakes) {
  auto plugin = RunningPlugin();
  ASSERT_TRUE(plugin);
  ASSERT_EQ(plugin->SetNormalized(kProgram, ProgramValue(35)), kResultOk);
  nimbohost::cBusBuffers buffers(2, 2, 512);
  int firstAsleep = -1;
  for (int block = 0; block < 500; ++block) {
    const bool sound = block < 8 || block >= 480;
    for (int32_t i = 0; i < 512; ++i) buffers.Input(0)[i] = buffers.Input(1)[i] = sound && (i & 31) < 16 ? 0.5f : 0.0f;
    ASSERT_EQ(plugin->Process(buffers.Call(512, sound ? 0 : 3)), kResultOk);
    const bool zeros = std::all_of(buffers.Output(0), buffers.Output(0) + 512, [](float s) { return s == 0.0f; });
    EXPECT_EQ(buffers.OutputSilence(), zeros ? 3u : 0u) << "block " << block;
    if (zeros && firstAsleep < 0) firstAsleep = block;
    EXPECT_TRUE(zeros || firstAsleep < 0 || sound) << "block " << block;
    EXPECT_TRUE(!zeros || block < 480) << "block " << block;
  }
  EXPECT_GT(firstAsleep, 8);
  EXPECT_LT(firstAsleep, 480);
}

TEST(Vst3Audio, TailFollowsTheSettings) {
  auto plugin = RunningPlugin();
  ASSERT_TRUE(plugin);
  plugin->SetProcessing(false);  // stopped: the controller's values apply at once
  plugin->SetNormalized(kProgram, ProgramValue(34));
  const uint32_t tail = plugin->Processor()->getTailSamples();
  ASSERT_GT(tail, 0u);
  ASSERT_LT(tail, kInfiniteTail);
  plugin->SetNormalized(2, std::min(1.0, plugin->Normalized(2) + 0.2));  // longer half life
  EXPECT_GT(plugin->Processor()->getTailSamples(), tail);
  plugin->SetNormalized(16, 1.0);  // Hold
  EXPECT_EQ(plugin->Processor()->getTailSamples(), kInfiniteTail);
  plugin->SetNormalized(16, 0.0);

  // After a 0 dBFS impulse and the reported tail, the response is below -100 dBFS.
  plugin->SetProcessing(true);
  const uint32_t frames = plugin->Processor()->getTailSamples();
  sStereo in(frames + 8192);
  in.left[0] = in.right[0] = 1.0f;
  const sStereo out = RenderVst3(*plugin, in, 512, {});
  EXPECT_GT(Peak(out.left, frames / 4, frames / 2), 1e-5f);
  EXPECT_LT(std::max(Peak(out.left, frames), Peak(out.right, frames)), 1e-5f);
}

TEST(Vst3Audio, NeverAllocatesOnTheAudioThread) {
  const long beforeCreate = testsupport::Allocations();
  auto plugin = RunningPlugin();
  ASSERT_TRUE(plugin);
  ASSERT_GT(testsupport::Allocations() - beforeCreate, 0) << "the module's allocations do not reach the counter";

  nimbohost::cBusBuffers buffers(2, 2, 256);
  auto queues = nimbohost::cParameterChanges::Make();
  for (int block = 0; block < 64; ++block) {
    queues->Clear();
    queues->Add(static_cast<ParamID>(block % 18), block % 7, (block % 10) / 9.0f);
    queues->Add(15, 200, 0.5f);
    if (block % 16 == 5) queues->Add(kBypass, 17, block % 32 < 16 ? 1.0f : 0.0f);
    if (block == 40) queues->Add(kProgram, 3, static_cast<float>(ProgramValue(36)));
    nimbohost::sProcessCall call = buffers.Call(block == 63 ? 0 : 256);
    call.inputChanges = queues.get();
    if (block % 8 == 7) call.numInputs = 0;  // no input bus: silence stands in
    const long before = testsupport::Allocations();
    ASSERT_EQ(plugin->Process(call), kResultOk);
    if (block % 4 == 1) plugin->Processor()->getTailSamples();  // a host that asks between its blocks
    EXPECT_EQ(testsupport::Allocations() - before, 0) << "block " << block;
  }
  // The program change sent to the processor took effect by the next control call.
  EXPECT_EQ(plugin->Normalized(kProgram), static_cast<float>(ProgramValue(36)));
}

}  // namespace
