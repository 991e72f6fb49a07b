// The tail rule and the decay-time estimate on signals whose answer is known.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Decay.h"

namespace {

using nimborender::cTailEnd;
using nimborender::EstimateRt60;

std::vector<float> DecayingNoise(double rt60, double sampleRate, double seconds, uint32_t seed) {
  std::vector<float> out(static_cast<size_t>(seconds * sampleRate));
  const double perFrame = std::pow(10.0, -3.0 / (rt60 * sampleRate));  // amplitude: -60 dB per rt60
  double envelope = 0.5;
  for (float& s : out) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<float>(envelope * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5));
    envelope *= perFrame;
  }
  return out;
}

TEST(DecayTime, OfExponentiallyDecayingNoise) {
  for (double rt60 : {0.3, 1.5, 4.0}) {
    const auto left = DecayingNoise(rt60, 48000.0, rt60 * 1.6, 1u);
    const auto right = DecayingNoise(rt60, 48000.0, rt60 * 1.6, 2u);
    const auto estimate = EstimateRt60(left, right, 0, 48000.0);
    ASSERT_TRUE(estimate.has_value()) << rt60;
    EXPECT_NEAR(*estimate, rt60, 0.03 * rt60);
  }
}

TEST(DecayTime, MeasuredFromTheGivenStart) {
  // A loud stretch before the tail must not count.
  auto left = DecayingNoise(1.0, 44100.0, 2.0, 3u);
  auto right = left;
  left.insert(left.begin(), 44100, 0.9f);
  right.insert(right.begin(), 44100, -0.9f);
  const auto estimate = EstimateRt60(left, right, 44100, 44100.0);
  ASSERT_TRUE(estimate.has_value());
  EXPECT_NEAR(*estimate, 1.0, 0.03);
}

TEST(DecayTime, NoneForSilenceOrNoTail) {
  const std::vector<float> silence(48000, 0.0f);
  EXPECT_FALSE(EstimateRt60(silence, silence, 0, 48000.0).has_value());
  const auto tail = DecayingNoise(1.0, 48000.0, 1.0, 4u);
  EXPECT_FALSE(EstimateRt60(tail, tail, tail.size(), 48000.0).has_value());
  EXPECT_FALSE(EstimateRt60(tail, tail, tail.size() + 10, 48000.0).has_value());
  const std::vector<float> click = {1.0f, 0.0f, 0.0f};
  EXPECT_FALSE(EstimateRt60(click, click, 0, 48000.0).has_value());
}

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
