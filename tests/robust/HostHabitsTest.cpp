// Habits of real hosts that the interface does not forbid: repeated opens,
// suspends without resumes, a zero sample rate while scanning, settings in
// any order, state saved by walking the bank, and the library unloaded and
// loaded again. Every test drives the built plugin through its record only;
// each loads the library itself, so nothing keeps it loaded between tests.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "RobustSupport.h"
#include "cVstHost.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

using namespace robust;
using nimbohost::cHostedEffect;
using nimbohost::cPluginLibrary;
using nimbohost::sHostAnswers;

namespace {

constexpr int32_t kNumParams = 18;
constexpr int32_t kNumPrograms = 64;
constexpr int32_t kWetMix = 15;
constexpr int32_t kHold = 16;
constexpr int32_t kKeepTail = 17;
constexpr int32_t kUnmodulatedProgram = 4;  // "Very Small Dorm Room": "Mod dep" off

std::unique_ptr<cHostedEffect> Create(const cPluginLibrary& library, const sHostAnswers& answers = {}) {
  std::string error;
  auto fx = cHostedEffect::Create(library.Entry(), answers, &error);
  EXPECT_TRUE(fx) << library.Error() << error;
  return fx;
}

// Two seconds of bursts at 44.1 kHz: long enough for every factory tail to build up.
const sStereo& Signal() {
  static const sStereo signal = StereoSignal(88200, 7);
  return signal;
}

sStereo Silence(size_t frames) { return {std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)}; }

void SelectProgram(cHostedEffect& fx, int32_t program) { fx.Dispatch(effSetProgram, 0, program); }

// What a host stores for one program: its name and the 18 normalized values.
struct sSavedProgram {
  std::string name;
  float values[kNumParams];
};

}  // namespace

TEST(HostHabits, RepeatedOpenIsIgnoredEvenWhileRunning) {
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  auto reference = Create(library);
  auto repeated = Create(library);
  ASSERT_TRUE(reference && repeated);
  reference->Start(44100.0f, 512);
  // Opened before, between and after the usual set-up requests.
  repeated->Dispatch(effOpen);
  repeated->Dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
  repeated->Dispatch(effOpen);
  repeated->Dispatch(effSetBlockSize, 0, 512);
  repeated->Dispatch(effMainsChanged, 0, 1);
  repeated->Dispatch(effOpen);

  // A second open must not switch "Dr. Who" off again nor drop the tail.
  for (cHostedEffect* fx : {reference.get(), repeated.get()}) {
    SelectProgram(*fx, 2);
    fx->SetParameter(kKeepTail, 1.0f);
  }
  const sStereo first = Render(reference->Record(), Signal(), 512);
  EXPECT_EQ(Render(repeated->Record(), Signal(), 512), first);
  repeated->Dispatch(effOpen);
  EXPECT_EQ(repeated->GetParameter(kKeepTail), 0.75f);
  const sStereo tail = Render(reference->Record(), Silence(22050), 512);
  EXPECT_GT(Peak(tail.left), 1e-3f);  // the comparison below needs a tail to compare
  EXPECT_EQ(Render(repeated->Record(), Silence(22050), 512), tail);
}

TEST(HostHabits, SuspendWithoutResumeProcessesAndClearsTheTail) {
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  auto resumed = Create(library);
  auto suspendedOnly = Create(library);
  ASSERT_TRUE(resumed && suspendedOnly);
  resumed->Start(44100.0f, 512);
  suspendedOnly->Dispatch(effOpen);
  suspendedOnly->Dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
  suspendedOnly->Dispatch(effMainsChanged, 0, 0);  // never resumed
  EXPECT_EQ(Render(suspendedOnly->Record(), Signal(), 256), Render(resumed->Record(), Signal(), 256));

  // A suspend between two runs clears the network, a resume or not.
  const sStereo ringing = Render(resumed->Record(), Silence(4410), 256);
  EXPECT_GT(Peak(ringing.left) + Peak(ringing.right), 1e-3f);
  suspendedOnly->Dispatch(effMainsChanged, 0, 0);
  const sStereo cleared = Render(suspendedOnly->Record(), Silence(4410), 256);
  EXPECT_LT(Peak(cleared.left) + Peak(cleared.right), 1e-6f);
}

TEST(HostHabits, ScanningAtAnInsaneSampleRateLeavesNoTrace) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  auto reference = Create(library);
  ASSERT_TRUE(reference);
  reference->Start(44100.0f, 512);
  SelectProgram(*reference, kUnmodulatedProgram);
  const sStereo expected = Render(reference->Record(), Signal(), 512);

  // Without modulation the first block re-aligns every read position, so the
  // scan may leave nothing behind, not even where the reads were.
  for (float scanRate : {0.0f, -44100.0f, nan, inf, 1e-30f, 1e9f}) {
    SCOPED_TRACE(scanRate);
    sHostAnswers scanningHost;
    scanningHost.sampleRate = 0;  // what a host answers before it knows the device
    auto fx = Create(library, scanningHost);
    ASSERT_TRUE(fx);
    fx->Dispatch(effOpen);
    fx->Dispatch(effSetSampleRate, 0, 0, nullptr, scanRate);
    fx->Dispatch(effMainsChanged, 0, 1);
    // The scan probes a few blocks, switching programs as it goes.
    for (int32_t program : {0, 9, 29, 0}) {
      SelectProgram(*fx, program);
      const sStereo probe = Render(fx->Record(), StereoSignal(2048, 3), 512);
      EXPECT_TRUE(AllFinite(probe.left) && AllFinite(probe.right));
    }
    fx->Dispatch(effMainsChanged, 0, 0);
    SelectProgram(*fx, kUnmodulatedProgram);
    fx->Dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    fx->Dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(Render(fx->Record(), Signal(), 512), expected);
  }
}

TEST(HostHabits, SampleRateBeforeOrAfterOpenSoundsTheSame) {
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  auto reference = Create(library);
  ASSERT_TRUE(reference);
  reference->Start(48000.0f, 256);
  const sStereo expected = Render(reference->Record(), Signal(), 256);

  using Step = void (*)(cHostedEffect&);
  const Step open = [](cHostedEffect& fx) { fx.Dispatch(effOpen); };
  const Step rate = [](cHostedEffect& fx) { fx.Dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f); };
  const Step resume = [](cHostedEffect& fx) { fx.Dispatch(effMainsChanged, 0, 1); };
  const Step orders[][3] = {{rate, open, resume}, {rate, resume, open}, {resume, rate, open}, {open, resume, rate}};
  for (const auto& order : orders) {
    auto fx = Create(library);
    ASSERT_TRUE(fx);
    for (Step step : order) step(*fx);
    EXPECT_EQ(Render(fx->Record(), Signal(), 256), expected) << "order " << (&order - orders);
  }

  // A host that only answers the rate when asked at creation, and never sets it.
  sHostAnswers host;
  host.sampleRate = 48000;
  auto fx = Create(library, host);
  ASSERT_TRUE(fx);
  open(*fx);
  resume(*fx);
  EXPECT_EQ(Render(fx->Record(), Signal(), 256), expected);
}

TEST(HostHabits, BlocksLongerThanAnnouncedAreProcessedAlike) {
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  for (int32_t announced : {64, 0, -1}) {
    auto small = Create(library);
    auto large = Create(library);
    ASSERT_TRUE(small && large);
    small->Start(44100.0f, 64);
    large->Start(44100.0f, announced);
    // No modulation: the sub-block cuts then cannot change a single bit.
    SelectProgram(*small, kUnmodulatedProgram);
    SelectProgram(*large, kUnmodulatedProgram);
    EXPECT_EQ(Render(large->Record(), Signal(), 8192), Render(small->Record(), Signal(), 64));
  }
}

TEST(HostHabits, SavingStateByWalkingTheBankKeepsEveryProgram) {
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  auto fx = Create(library);
  ASSERT_TRUE(fx);
  fx->Start(44100.0f, 256);
  SelectProgram(*fx, 3);
  fx->SetParameter(kWetMix, 0.3f);
  fx->SetParameter(kHold, 1.0f);
  const sStereo block = StereoSignal(256, 11);

  // The host saves while the audio keeps running: select, read, next.
  auto save = [&](cHostedEffect& effect) {
    std::vector<sSavedProgram> bank(kNumPrograms);
    const intptr_t current = effect.Dispatch(effGetProgram);
    for (int32_t p = 0; p < kNumPrograms; ++p) {
      SelectProgram(effect, p);
      EXPECT_EQ(effect.Dispatch(effGetProgram), p);
      bank[p].name = effect.CurrentProgramName();
      for (int32_t i = 0; i < kNumParams; ++i) bank[p].values[i] = effect.GetParameter(i);
      const sStereo out = Render(effect.Record(), block, 256);
      EXPECT_TRUE(AllFinite(out.left) && AllFinite(out.right));
    }
    SelectProgram(effect, static_cast<int32_t>(current));
    return bank;
  };
  const std::vector<sSavedProgram> saved = save(*fx);

  // The walk left the live program as it was, edits included.
  EXPECT_EQ(fx->Dispatch(effGetProgram), 3);
  EXPECT_EQ(fx->GetParameter(kWetMix), saved[3].values[kWetMix]);
  EXPECT_NEAR(saved[3].values[kWetMix], 0.3f, 1e-6f);
  EXPECT_EQ(fx->GetParameter(kHold), 0.75f);
  EXPECT_EQ(saved[0].name, "Temple of the Ancestors");
  EXPECT_EQ(saved[63].name, "Init");

  // Loading the saved bank into a fresh instance gives the same bank back.
  auto restored = Create(library);
  ASSERT_TRUE(restored);
  restored->Start(44100.0f, 256);
  for (int32_t p = 0; p < kNumPrograms; ++p) {
    SelectProgram(*restored, p);
    std::string name = saved[p].name;
    restored->Dispatch(effSetProgramName, 0, 0, name.data());
    for (int32_t i = 0; i < kNumParams; ++i) restored->SetParameter(i, saved[p].values[i]);
  }
  SelectProgram(*restored, 3);
  const std::vector<sSavedProgram> again = save(*restored);
  for (int32_t p = 0; p < kNumPrograms; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(again[p].name, saved[p].name);
    for (int32_t i = 0; i < kNumParams; ++i) EXPECT_NEAR(again[p].values[i], saved[p].values[i], 2e-6f) << i;
  }
}

TEST(HostHabits, InstancesAreIndependentAndCloseInAnyOrder) {
  cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  auto lone = Create(library);
  ASSERT_TRUE(lone);
  lone->Start(44100.0f, 512);
  const sStereo expected = Render(lone->Record(), Signal(), 512);
  lone->Close();

  auto neverOpened = Create(library);
  auto edited = Create(library);
  auto plain = Create(library);
  auto suspended = Create(library);
  ASSERT_TRUE(neverOpened && edited && plain && suspended);
  edited->Start(44100.0f, 512);
  plain->Start(44100.0f, 512);
  suspended->Start(44100.0f, 512);
  suspended->Stop();
  char name[] = "Edited elsewhere";
  edited->Dispatch(effSetProgramName, 0, 0, name);
  edited->SetParameter(kWetMix, 1.0f);
  edited->Dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
  Render(edited->Record(), Signal(), 512);
  suspended->Close();    // suspended, not resumed
  neverOpened->Close();  // created and closed without ever being opened

  EXPECT_EQ(plain->CurrentProgramName(), "Temple of the Ancestors");
  EXPECT_EQ(Render(plain->Record(), Signal(), 512), expected);
  edited.reset();  // closed while another instance is still open
  EXPECT_EQ(plain->ProgramName(0), "Temple of the Ancestors");
}

#ifndef _WIN32
TEST(HostHabits, UnloadingAndReloadingTheLibraryStartsAfresh) {
  auto session = [](bool edit) {
    cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
    EXPECT_TRUE(library.IsLoaded()) << library.Error();
    auto fx = Create(library);
    if (!fx) return std::make_pair(std::string(), sStereo{});
    fx->Start(44100.0f, 512);
    const std::string name = fx->ProgramName(0);
    const sStereo out = Render(fx->Record(), Signal(), 512);
    if (edit) {
      // Leave the bank and settings changed behind: a reload must not find them.
      char renamed[] = "Left behind";
      fx->Dispatch(effSetProgramName, 0, 0, renamed);
      fx->SetParameter(kWetMix, 0.0f);
      fx->Dispatch(effSetProgram, 0, 12);
    }
    return std::make_pair(name, out);
  };

  const auto first = session(true);
  // Really gone from the process, so the next load maps it afresh.
  EXPECT_EQ(dlopen(NIMBOHALL_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
  const auto second = session(true);
  const auto third = session(false);
  EXPECT_EQ(first.first, "Temple of the Ancestors");
  EXPECT_EQ(second.first, first.first);
  EXPECT_EQ(third.first, first.first);
  EXPECT_TRUE(AllFinite(first.second.left));
  EXPECT_EQ(second.second, first.second);
  EXPECT_EQ(third.second, first.second);
}
#endif
