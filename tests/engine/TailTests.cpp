// The reported tail against the impulse response it describes: every program
// at the common rates, rendered through the core as every format renders it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "cReverbCore.h"

using namespace nimbo;

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define NIMBO_SLOW_BUILD 1
#endif
#endif

// Frames from a 0 dBFS impulse on both inputs to the last output sample above
// -100 dBFS, rendered until limit frames or 2 s of quiet after it; the impulse
// comes after wait blocks of silence, where the modulation runs on.
int64_t MeasuredTail(cReverbCore& core, float fs, int64_t limit, int wait) {
  constexpr int32_t kBlock = 512;
  std::vector<float> in(kBlock), left(kBlock), right(kBlock);
  for (int b = 0; b < wait; ++b) core.Process(in.data(), in.data(), left.data(), right.data(), kBlock);
  int64_t last = 0;
  for (int64_t pos = 0; pos < limit && pos < last + static_cast<int64_t>(2 * fs) + kDelayBufferSize; pos += kBlock) {
    in[0] = pos == 0 ? 1.0f : 0.0f;
    core.Process(in.data(), in.data(), left.data(), right.data(), kBlock);
    for (int32_t i = 0; i < kBlock; ++i)
      if (std::max(std::fabs(left[i]), std::fabs(right[i])) > 1e-5f) last = pos + i + 1;
  }
  return last;
}

TEST(Tail, MeasuredTailIsReportedAtMostTwiceAsLongAndNeverShorter) {
#ifdef NIMBO_SLOW_BUILD
  const std::vector<float> rates = {48000.0f};
#else
  const std::vector<float> rates = {44100.0f, 48000.0f, 96000.0f};
#endif
  for (float fs : rates) {
    for (int32_t program = 0; program < kNumPrograms; ++program) {
      cReverbCore core;
      ASSERT_TRUE(core.Open(fs));
      core.LoadProgram(program);
      const int64_t bound = core.TailFrames();  // what the audio thread may be told: longer
      const int64_t tail = core.TailFrames(true);
      int64_t measured = MeasuredTail(core, fs, tail + static_cast<int64_t>(10 * fs), 0);
      // With the oscillator at other phases.
      for (int wait : {37, 411, 1999}) {
        cReverbCore later;
        ASSERT_TRUE(later.Open(fs));
        later.LoadProgram(program);
        measured = std::max(measured, MeasuredTail(later, fs, tail + static_cast<int64_t>(10 * fs), wait));
      }
      EXPECT_LE(measured, tail) << "program " << program << " at " << fs;
      EXPECT_LE(tail, 2 * measured) << "program " << program << " at " << fs;
      EXPECT_GE(bound, tail) << "program " << program << " at " << fs;
    }
  }
  cReverbCore core;
  ASSERT_TRUE(core.Open(48000.0f));
  core.SetPlain(kParamHold, 1.0f);
  EXPECT_EQ(core.TailFrames(true), kInfiniteTail);
  core.SetPlain(kParamHold, 0.0f);
  core.SetPlain(kParamHalflife, 2.0f);  // a change makes the measured tail stale
  const int64_t before = core.TailFrames(true);
  core.SetPlain(kParamHalflife, 8.0f);
  EXPECT_GT(core.TailFrames(true), before);
}

}  // namespace
