// Concurrency stress: an audio thread processes continuously while three
// other threads hammer every request a host may send from its control threads.
// Built under ThreadSanitizer it proves the shared state race-free; in every
// build it checks the audio stays finite and that the lock-timeout rule holds:
// the effect may end up disabled, but only after a locked request really
// waited out its attempts, and then for good, with everything refused.
//
// NIMBOHALL_STRESS_MS sets how long each run hammers (default 1500 ms).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RobustSupport.h"
#include "cVstHost.h"

using namespace robust;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int32_t kNumParams = 18;
constexpr int32_t kGeometry = 0;  // its normalized value is never 0 while the effect is enabled
constexpr float kUntouched = 12345.0f;
// Eight attempts with a sleep of at least 1 ms between two of them.
constexpr auto kShortestFailedWait = std::chrono::milliseconds(7);

std::chrono::milliseconds StressLength() {
  const char* text = std::getenv("NIMBOHALL_STRESS_MS");
  const long ms = text ? std::strtol(text, nullptr, 10) : 0;
  return std::chrono::milliseconds(ms > 0 ? ms : 1500);
}

intptr_t Dispatch(AEffect* e, int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                  float opt = 0.0f) {
  return e->dispatcher(e, opcode, index, value, ptr, opt);
}

// What the threads saw, checked once they have stopped.
struct sObservations {
  std::atomic<bool> stop{false};
  std::atomic<long> blocks{0};
  std::atomic<long> untouchedBlocks{0};
  std::atomic<long> requests{0};
  std::atomic<bool> nonFiniteOutput{false};
  std::atomic<bool> parameterOutOfRange{false};
  std::atomic<bool> enabledAfterDisabled{false};   // a thread saw "enabled" after it had seen "disabled"
  std::atomic<bool> processedAfterUntouched{false};
  std::atomic<bool> staleOutput{false};  // a block left the host's buffers as they were
  std::atomic<bool> badText{false};

  // Locked requests that waited long enough to have failed, and the first sight of the disabled state.
  std::mutex mutex;
  std::vector<Clock::time_point> longWaitStarts;
  Clock::time_point firstDisabledSeen = Clock::time_point::max();

  void SawDisabled() {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    if (now < firstDisabledSeen) firstDisabledSeen = now;
  }
};

bool Disabled(AEffect* e) { return e->getParameter(e, kGeometry) == 0.0f; }

bool AllParametersZero(AEffect* e) {
  for (int32_t i = 0; i < kNumParams; ++i)
    if (e->getParameter(e, i) != 0.0f) return false;
  return true;
}

bool IsZero(const std::vector<float>& v, int32_t frames) {
  return std::all_of(v.begin(), v.begin() + frames, [](float s) { return s == 0.0f; });
}

// Runs one locked request and notes when it waited as long as a failed one does.
template <class Request>
void Locked(sObservations& seen, Request&& request) {
  const Clock::time_point start = Clock::now();
  request();
  if (Clock::now() - start >= kShortestFailedWait) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.longWaitStarts.push_back(start);
  }
}

void AudioThread(AEffect* e, sObservations& seen, bool paced, uint32_t seed) {
  sRandom random(seed);
  constexpr int32_t kMaxBlock = 512;
  std::vector<float> inL(kMaxBlock), inR(kMaxBlock), outL(kMaxBlock), outR(kMaxBlock);
  float phase = 0.0f;
  bool sawUntouched = false;
  while (!seen.stop) {
    const int32_t frames = 1 + static_cast<int32_t>(random.Below(kMaxBlock));
    for (int32_t i = 0; i < frames; ++i) {
      inL[i] = 0.5f * std::sin(phase);
      inR[i] = 0.3f * random.Signed();
      phase = std::fmod(phase + 0.0627f, 6.2831855f);
    }
    std::fill(outL.begin(), outL.begin() + frames, kUntouched);
    std::fill(outR.begin(), outR.begin() + frames, kUntouched);
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    e->processReplacing(e, in, out, frames);
    ++seen.blocks;

    // Opened from the start, so every block writes its outputs. A disabled effect writes
    // silence and reads every parameter as 0; a silent mix alone does not.
    if (outL[0] == kUntouched || outR[0] == kUntouched) seen.staleOutput = true;
    if (IsZero(outL, frames) && IsZero(outR, frames) && AllParametersZero(e)) {
      ++seen.untouchedBlocks;
      sawUntouched = true;
      seen.SawDisabled();
    } else {
      if (sawUntouched) seen.processedAfterUntouched = true;
      for (int32_t i = 0; i < frames; ++i)
        if (!std::isfinite(outL[i]) || !std::isfinite(outR[i])) seen.nonFiniteOutput = true;
    }
    // Hosts also automate from the audio thread, between two blocks.
    if (random.Below(4) == 0) e->setParameter(e, static_cast<int32_t>(random.Below(kNumParams)), random.Unit());
    if (paced) std::this_thread::sleep_for(std::chrono::microseconds(frames * 10));
  }
}

// paced: a request now and then, as a host's control threads send them;
// otherwise without pause, so the control threads also fight each other for the lock.
void ControlThread(AEffect* e, sObservations& seen, bool paced, uint32_t seed) {
  sRandom random(seed);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float specials[] = {0.0f, 1.0f, -0.5f, 2.0f, nan, std::numeric_limits<float>::infinity(), 1e-40f};
  bool sawDisabled = false;
  char text[256];
  VstEvent events[8] = {};
  intptr_t list[2 + 8] = {};
  while (!seen.stop) {
    ++seen.requests;
    const int32_t index = static_cast<int32_t>(random.Below(kNumParams + 2)) - 1;  // -1 .. 18
    switch (random.Below(14)) {
      case 0:
      case 1: {
        const float value = random.Below(4) == 0 ? specials[random.Below(7)] : random.Unit();
        e->setParameter(e, index, value);
        break;
      }
      case 2:
        for (int32_t i = 0; i < kNumParams; ++i) {
          const float n = e->getParameter(e, i);
          if (!(n >= 0.0f && n <= 1.0f)) seen.parameterOutOfRange = true;
        }
        break;
      case 3:
        Locked(seen, [&] { Dispatch(e, effSetProgram, 0, static_cast<intptr_t>(random.Below(66)) - 1); });
        break;
      case 4: {
        // Up to 30 characters: longer than a program name may be.
        const size_t length = random.Below(31);
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('A' + random.Below(26));
        text[length] = '\0';
        Dispatch(e, effSetProgramName, 0, 0, text);
        break;
      }
      case 5:
      case 6: {
        static constexpr int32_t kTextRequests[] = {effGetParamName, effGetParamDisplay, effGetParamLabel,
                                                    effGetProgramName, effGetProgramNameIndexed};
        const int32_t opcode = kTextRequests[random.Below(5)];
        std::memset(text, 0x55, sizeof text);
        Dispatch(e, opcode, opcode == effGetProgramNameIndexed ? static_cast<int32_t>(random.Below(65)) : index, 0,
                 text);
        // A text is terminated well within what the interface promises (25 bytes for names).
        if (std::memchr(text, '\0', 25) == nullptr && text[0] != 0x55) seen.badText = true;
        break;
      }
      case 7: {
        const int32_t count = static_cast<int32_t>(random.Below(9));
        for (int32_t i = 0; i < count; ++i) {
          // Offsets up to the longest block, so the last block below drains the queue.
          events[i] = VstEvent{1, 24, static_cast<int32_t>(random.Below(612)) - 100, 0, {}};
          list[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
        }
        list[0] = count;
        Locked(seen, [&] { Dispatch(e, effProcessEvents, 0, 0, list); });
        break;
      }
      case 8: {
        static constexpr float kRates[] = {44100.0f, 48000.0f, 96000.0f, 0.0f, 22050.0f};
        Locked(seen, [&] { Dispatch(e, effSetSampleRate, 0, 0, nullptr, kRates[random.Below(5)]); });
        break;
      }
      case 9:
        Locked(seen, [&] { Dispatch(e, effMainsChanged, 0, random.Below(2)); });
        break;
      case 10:
        Locked(seen, [&] { Dispatch(e, effSetBlockSize, 0, 1 + random.Below(4096)); });
        break;
      case 11: {
        VstParameterProperties properties;
        Dispatch(e, effGetParameterProperties, index, 0, &properties);
        std::strcpy(text, "0.5");
        Dispatch(e, effString2Parameter, index, 0, text);
        break;
      }
      case 12:
        Dispatch(e, effGetProgram);
        Dispatch(e, effCanDo, 0, 0, const_cast<char*>("2in2out"));
        break;
      default:
        std::this_thread::yield();
        break;
    }
    if (paced) std::this_thread::sleep_for(std::chrono::microseconds(random.Below(200)));
    if (Disabled(e)) {
      sawDisabled = true;
      seen.SawDisabled();
    } else if (sawDisabled) {
      seen.enabledAfterDisabled = true;
    }
  }
}

// One run: audio plus three control threads on one instance, then the checks.
void Hammer(bool paced, uint32_t seed) {
  static const nimbohost::cPluginLibrary library(NIMBOHALL_PLUGIN_PATH);
  std::string error;
  auto fx = nimbohost::cHostedEffect::Create(library.Entry(), {}, &error);
  ASSERT_TRUE(fx) << library.Error() << error;
  fx->Start(44100.0f, 512);
  AEffect* e = fx->Record();

  sObservations seen;
  {
    std::vector<std::thread> threads;
    threads.emplace_back(AudioThread, e, std::ref(seen), paced, seed);
    for (uint32_t i = 1; i <= 3; ++i) threads.emplace_back(ControlThread, e, std::ref(seen), paced, seed * 7919u + i);
    std::this_thread::sleep_for(StressLength());
    seen.stop = true;
    for (std::thread& t : threads) t.join();
  }

  EXPECT_GT(seen.blocks, 0);
  EXPECT_GT(seen.requests, 0);
  EXPECT_FALSE(seen.nonFiniteOutput);
  EXPECT_FALSE(seen.parameterOutOfRange);
  EXPECT_FALSE(seen.badText);
  EXPECT_FALSE(seen.enabledAfterDisabled);
  EXPECT_FALSE(seen.processedAfterUntouched);
  EXPECT_FALSE(seen.staleOutput);

  const bool disabled = Disabled(e);
  if (seen.firstDisabledSeen != Clock::time_point::max()) {
    EXPECT_TRUE(disabled) << "disabled, then enabled again";
    // Only a request that waited out all its attempts may have disabled it.
    bool explained = false;
    for (const Clock::time_point start : seen.longWaitStarts) explained |= start <= seen.firstDisabledSeen;
    EXPECT_TRUE(explained) << "disabled without any locked request waiting " << kShortestFailedWait.count() << " ms";
  }
  std::cout << "[ stress   ] " << (paced ? "paced" : "unpaced") << ": " << seen.blocks << " blocks ("
            << seen.untouchedBlocks << " refused), " << seen.requests << " requests, " << seen.longWaitStarts.size()
            << " long lock waits, " << (disabled ? "ended disabled" : "ended enabled") << "\n";

  // With nothing else running, the lock is free: the state must be usable or refused for good.
  const intptr_t program = Dispatch(e, effGetProgram);
  const intptr_t other = program == 7 ? 8 : 7;
  Dispatch(e, effSetProgram, 0, other);
  sStereo block = StereoSignal(512, seed);
  sStereo out{std::vector<float>(512, kUntouched), std::vector<float>(512, kUntouched)};
  float* in[2] = {block.left.data(), block.right.data()};
  float* o[2] = {out.left.data(), out.right.data()};
  e->processReplacing(e, in, o, 512);
  VstEvent event{1, 24, 0, 0, {}};
  intptr_t list[3] = {1, 0, reinterpret_cast<intptr_t>(&event)};
  char before[64] = {}, after[64] = {};
  Dispatch(e, effGetParamDisplay, 15, 0, before);
  e->setParameter(e, 15, std::strcmp(before, "0") == 0 ? 1.0f : 0.0f);
  Dispatch(e, effGetParamDisplay, 15, 0, after);
  if (disabled) {
    EXPECT_EQ(Dispatch(e, effGetProgram), program);
    EXPECT_EQ(Peak(out.left), 0.0f);
    EXPECT_EQ(Dispatch(e, effProcessEvents, 0, 0, list), 0);
    EXPECT_STREQ(after, before);  // the value text still answers, and shows the ignored change did not land
    EXPECT_EQ(e->getParameter(e, 15), 0.0f);
  } else {
    EXPECT_STRNE(after, before);
    EXPECT_EQ(Dispatch(e, effGetProgram), other);
    EXPECT_TRUE(AllFinite(out.left) && AllFinite(out.right));
    EXPECT_LT(Peak(out.left), kUntouched);
    EXPECT_EQ(Dispatch(e, effProcessEvents, 0, 0, list), 1);
  }
  char name[kVstMaxEffectNameLen + 1] = {};
  EXPECT_EQ(Dispatch(e, effGetEffectName, 0, 0, name), 1);  // answered either way
  EXPECT_STREQ(name, "Nimbohall 0.4a");
  fx->Close();  // closes in either state
}

}  // namespace

TEST(Stress, PacedLikeAHostWhileAudioRuns) { Hammer(true, 1); }

TEST(Stress, UnpacedEveryThreadFightsForTheLock) { Hammer(false, 2); }
