// The effect lock between the audio thread and the dispatcher: bounded waits
// that disable the effect, and an effClose that never destroys the object
// while a thread is inside the audio entry.
#include <algorithm>
#include <cstring>

#include "InsideSupport.h"

using namespace shelltest;
using Clock = std::chrono::steady_clock;

namespace {

// What the test controls and observes of a cBlockingReverb, kept outside it
// so that it outlives the object.
struct sBlockState {
  std::atomic<bool> holdAudio{false};  // processReplacing waits while set
  std::atomic<bool> holdClose{false};  // Close waits while set
  std::atomic<int> audioCalls{0};
  std::atomic<bool> closeEntered{false};
  std::atomic<bool> processedAfterClose{false};
  std::atomic<int> closes{0};
  std::atomic<bool> destroyed{false};
  std::atomic<int32_t> callersAtDestruction{-1};
};

void WaitWhile(const std::atomic<bool>& flag) {
  while (flag) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

// The reverb, with an audio block and a Close that last as long as the test wants.
class cBlockingReverb : public cVst2Reverb {
 public:
  explicit cBlockingReverb(sBlockState& state) : cVst2Reverb(&QuietHost), m_State(state) {}
  ~cBlockingReverb() override {
    m_State.callersAtDestruction = m_AudioCallers.load();
    m_State.destroyed = true;
  }
  void processReplacing(float** inputs, float** outputs, int32_t frames) override {
    ++m_State.audioCalls;
    if (m_State.closes > 0) m_State.processedAfterClose = true;
    WaitWhile(m_State.holdAudio);
    cVst2Reverb::processReplacing(inputs, outputs, frames);
  }
  void Close() override {
    m_State.closeEntered = true;
    WaitWhile(m_State.holdClose);
    ++m_State.closes;
    cVst2Reverb::Close();
  }
  int32_t AudioCallers() const { return m_AudioCallers.load(); }
  float StoredNormalized(int32_t index) const { return m_Parameters[static_cast<size_t>(index)].Normalized(); }
  float SampleRate() const { return m_SampleRate; }
  int32_t BlockSize() const { return m_BlockSize; }

 private:
  sBlockState& m_State;
};

struct sAudioThread {
  sAudioThread(AEffect* e) : thread([this, e] {
      float* in[2] = {inL, inR};
      float* out[2] = {outL, outR};
      e->processReplacing(e, in, out, 64);
      done = true;
    }) {}
  ~sAudioThread() { thread.join(); }
  float inL[64] = {}, inR[64] = {}, outL[64] = {}, outR[64] = {};
  std::atomic<bool> done{false};
  std::thread thread;
};

}  // namespace

TEST(LockGuard, GivesUpAfterItsAttemptsAndReleasesOnlyWhatItTook) {
  std::atomic<uint8_t> lock{1};  // held by someone else
  const auto start = Clock::now();
  {
    nimbo::cLockGuard guard(lock, nimbo::kLockTries);
    EXPECT_FALSE(guard.Acquired());
  }
  // Seven 1 ms sleeps lie between the eight attempts.
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(7));
  EXPECT_EQ(lock.load(), 1);

  lock = 0;
  {
    nimbo::cLockGuard guard(lock, nimbo::kLockTries);
    EXPECT_TRUE(guard.Acquired());
    EXPECT_EQ(lock.load(), 1);
    nimbo::cLockGuard second(lock, 1);
    EXPECT_FALSE(second.Acquired());
  }
  EXPECT_EQ(lock.load(), 0);
}

TEST(EffectLock, ALockedRequestThatTimesOutDisablesTheEffectForGood) {
  sBlockState state;
  auto* fx = new cBlockingReverb(state);
  AEffect* e = fx->GetRecord();
  Dispatch(e, effOpen);
  Dispatch(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
  Dispatch(e, effSetBlockSize, 0, 64);
  Dispatch(e, effMainsChanged, 0, 1);
  const float wetBefore = e->getParameter(e, 15);

  state.holdAudio = true;
  {
    sAudioThread audio(e);
    ASSERT_TRUE(WaitUntil([&] { return state.audioCalls == 1; }));
    const auto start = Clock::now();
    EXPECT_EQ(Dispatch(e, effSetProgram, 0, 5), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(7));
    EXPECT_FALSE(audio.done);  // it gave up while the lock was still held
    state.holdAudio = false;
  }

  // Refused from now on, with the lock free again.
  EXPECT_EQ(Dispatch(e, effGetProgram), 0);
  EXPECT_EQ(Dispatch(e, effSetProgram, 0, 5), 0);
  EXPECT_EQ(Dispatch(e, effGetProgram), 0);
  char name[] = "Renamed";
  Dispatch(e, effSetProgramName, 0, 0, name);
  Dispatch(e, effSetSampleRate, 0, 0, nullptr, 96000.0f);
  Dispatch(e, effSetBlockSize, 0, 512);
  EXPECT_EQ(Dispatch(e, effMainsChanged, 0, 0), 0);
  e->setParameter(e, 15, 0.9f);
  EXPECT_EQ(fx->StoredNormalized(15), wetBefore);
  EXPECT_EQ(e->getParameter(e, 15), 0.0f);
  EXPECT_EQ(fx->SampleRate(), 44100.0f);
  EXPECT_EQ(fx->BlockSize(), 64);
  VstEvent event{1, 24, 0, 0, {}};
  intptr_t list[3] = {1, 0, reinterpret_cast<intptr_t>(&event)};
  EXPECT_EQ(Dispatch(e, effProcessEvents, 0, 0, list), 0);
  char text[] = "0.5";
  EXPECT_EQ(Dispatch(e, effString2Parameter, 15, 0, text), 0);

  float inL[64] = {}, inR[64] = {}, outL[64], outR[64];
  std::fill(std::begin(outL), std::end(outL), 3.0f);
  std::fill(std::begin(outR), std::end(outR), 3.0f);
  float* in[2] = {inL, inR};
  float* out[2] = {outL, outR};
  e->processReplacing(e, in, out, 64);
  EXPECT_EQ(state.audioCalls, 1);
  // Silence, not whatever the host's buffers held; the reverb itself is not called.
  EXPECT_TRUE(std::all_of(std::begin(outL), std::end(outL), [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::all_of(std::begin(outR), std::end(outR), [](float v) { return v == 0.0f; }));

  // Still answered: identity, names, texts, properties, capabilities.
  char buffer[128] = {};
  EXPECT_EQ(Dispatch(e, effGetEffectName, 0, 0, buffer), 1);
  EXPECT_STREQ(buffer, "Nimbohall 0.4a");
  Dispatch(e, effGetProgramName, 0, 0, buffer);
  EXPECT_STREQ(buffer, "Temple of the Ancestors");
  Dispatch(e, effGetParamName, 15, 0, buffer);
  EXPECT_STREQ(buffer, "Wet mix");
  Dispatch(e, effGetParamDisplay, 15, 0, buffer);
  EXPECT_STREQ(buffer, "30");
  VstParameterProperties properties;
  EXPECT_EQ(Dispatch(e, effGetParameterProperties, 16, 0, &properties), 1);
  EXPECT_EQ(properties.flags, 51);
  char capability[] = "2in2out";
  EXPECT_EQ(Dispatch(e, effCanDo, 0, 0, capability), 1);
  EXPECT_EQ(Dispatch(e, effGetVstVersion), 2400);

  EXPECT_EQ(Dispatch(e, effClose), 0);  // effClose still works
  EXPECT_TRUE(state.destroyed);
  EXPECT_EQ(state.closes, 1);
}

TEST(EffectLock, CloseWaitsForTheAudioBlockBeyondItsAttempts) {
  sBlockState state;
  auto* fx = new cBlockingReverb(state);
  AEffect* e = fx->GetRecord();
  Dispatch(e, effOpen);
  state.holdAudio = true;
  sAudioThread audio(e);
  ASSERT_TRUE(WaitUntil([&] { return state.audioCalls == 1; }));

  std::atomic<bool> closed{false};
  std::thread closer([&] {
    Dispatch(e, effClose);
    closed = true;
  });
  // Well past 200 attempts with their sleeps: still waiting, nothing closed or destroyed.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(closed);
  EXPECT_EQ(state.closes, 0);
  EXPECT_FALSE(state.destroyed);

  state.holdAudio = false;
  closer.join();
  EXPECT_EQ(state.closes, 1);
  EXPECT_TRUE(state.destroyed);
  EXPECT_FALSE(state.processedAfterClose);
}

TEST(EffectLock, CloseWaitsForACallerStillWaitingForTheLock) {
  // effClose holds the lock (inside Close) while an audio call arrives and
  // spins for it: that call must neither process nor outlive the object.
  sBlockState state;
  auto* fx = new cBlockingReverb(state);
  AEffect* e = fx->GetRecord();
  Dispatch(e, effOpen);
  state.holdClose = true;
  std::thread closer([&] { Dispatch(e, effClose); });
  ASSERT_TRUE(WaitUntil([&] { return state.closeEntered.load(); }));

  {
    sAudioThread audio(e);
    ASSERT_TRUE(WaitUntil([&] { return fx->AudioCallers() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(audio.done);
    state.holdClose = false;
    closer.join();
  }
  EXPECT_TRUE(state.destroyed);
  EXPECT_EQ(state.callersAtDestruction, 0);
  EXPECT_EQ(state.audioCalls, 0);
  EXPECT_FALSE(state.processedAfterClose);
}
