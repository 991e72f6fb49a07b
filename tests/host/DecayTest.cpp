// The tail rule on signals whose answer is known.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "Decay.h"

namespace {

using nimborender::cTailEnd;

// Blocks of 100 frames: loud while `loud(frame)`, else silent.
template <typename Loud>
int64_t Drive(cTailEnd& tail, Loud loud, int64_t limit = 1000000) {
  std::vector<float> left(100), right(100);
  int64_t kept = 0;
  for (int64_t start = 0; !tail.Done(start) && start < limit; start += 100) {
    for (int i = 0; i < 100; ++i) left[static_cast<size_t>(i)] = right[static_cast<size_t>(i)] = loud(start + i) ? 0.1f : 1e-6f;
    kept += tail.Feed(left.data(), right.data(), start, 100);
  }
  return kept;
}

TEST(TailEnd, QuietTimeCountsFromTheLastLoudFrame) {
  cTailEnd tail(500, 250, 100000);
  EXPECT_EQ(Drive(tail, [](int64_t f) { return f <= 1234; }), 1235 + 250);
}

TEST(TailEnd, QuietTimeStartsAtTheEndOfTheInputAtTheEarliest) {
  cTailEnd tail(500, 250, 100000);
  EXPECT_EQ(Drive(tail, [](int64_t f) { return f < 10; }), 500 + 250);
}

TEST(TailEnd, CapLimitsAnEndlessTail) {
  cTailEnd tail(500, 250, 3000);
  EXPECT_EQ(Drive(tail, [](int64_t) { return true; }), 500 + 3000);
}

TEST(TailEnd, NotANumberIsNotQuiet) {
  cTailEnd tail(100, 50, 1000);
  std::vector<float> left(100, 0.0f), right(100, 0.0f);
  right[70] = std::nanf("");
  tail.Feed(left.data(), right.data(), 200, 100);
  EXPECT_EQ(tail.End(), 271 + 50);
}

}  // namespace
