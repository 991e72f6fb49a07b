// Shared by the robustness suites: a deterministic test signal, rendering a
// stream through an effect record in host blocks, and small checks on audio.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "vst2.h"

namespace robust {

// xorshift32: cheap, allocation-free and the same on every platform.
struct sRandom {
  uint32_t state;
  explicit sRandom(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((static_cast<uint64_t>(Next()) * n) >> 32); }
  float Unit() { return static_cast<float>(Next() >> 8) * (1.0f / 16777216.0f); }  // [0, 1)
  float Signed() { return Unit() * 2.0f - 1.0f; }                                   // [-1, 1)
};

// Noise bursts that decay, separated by silence: excites the tail and lets it ring out.
inline std::vector<float> TestSignal(size_t frames, uint32_t seed) {
  std::vector<float> signal(frames, 0.0f);
  sRandom random(seed);
  constexpr size_t kPeriod = 22050;
  for (size_t i = 0; i < frames; ++i) {
    const size_t phase = i % kPeriod;
    if (phase < 4410) signal[i] = 0.5f * random.Signed() * std::exp(-static_cast<float>(phase) / 1500.0f);
  }
  return signal;
}

struct sStereo {
  std::vector<float> left, right;
  bool operator==(const sStereo&) const = default;
};

// The stream through the record's audio entry, cut into host blocks of blockFrames.
inline sStereo Render(AEffect* e, const sStereo& input, int32_t blockFrames) {
  sStereo out{std::vector<float>(input.left.size()), std::vector<float>(input.right.size())};
  std::vector<float> inL = input.left, inR = input.right;  // hosts may hand the effect writable inputs
  for (size_t pos = 0; pos < inL.size(); pos += static_cast<size_t>(blockFrames)) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(blockFrames), inL.size() - pos));
    float* in[2] = {inL.data() + pos, inR.data() + pos};
    float* o[2] = {out.left.data() + pos, out.right.data() + pos};
    e->processReplacing(e, in, o, n);
  }
  return out;
}

inline sStereo StereoSignal(size_t frames, uint32_t seed) { return {TestSignal(frames, seed), TestSignal(frames, seed + 1)}; }

inline bool AllFinite(const std::vector<float>& v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

inline float Peak(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
  float peak = 0.0f;
  for (size_t i = from; i < std::min(to, v.size()); ++i) peak = std::max(peak, std::fabs(v[i]));
  return peak;
}

inline float MaxDifference(const sStereo& a, const sStereo& b) {
  float d = 0.0f;
  for (size_t i = 0; i < a.left.size(); ++i) {
    d = std::max(d, std::fabs(a.left[i] - b.left[i]));
    d = std::max(d, std::fabs(a.right[i] - b.right[i]));
  }
  return d;
}

}  // namespace robust
