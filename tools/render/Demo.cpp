#include "Demo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace nimborender {

namespace {

constexpr double kLength = 3.6;  // seconds of dry signal
constexpr float kPeak = 0.5f;    // about -6 dBFS, room for the reverb to add up

size_t At(double seconds, double sampleRate) { return static_cast<size_t>(seconds * sampleRate); }

void AddClick(sStereo& out, size_t start, double sampleRate, float left, float right) {
  // A 2 ms decaying burst: a bare one-sample impulse sounds thin on speakers.
  const size_t length = At(0.002, sampleRate);
  for (size_t i = 0; i < length && start + i < out.left.size(); ++i) {
    const float shape = static_cast<float>(std::exp(-static_cast<double>(i) / (0.0003 * sampleRate)) *
                                           (i % 2 == 0 ? 1.0 : -0.6));
    out.left[start + i] += left * shape;
    out.right[start + i] += right * shape;
  }
}

void AddPluck(sStereo& out, size_t start, double sampleRate, double frequency, double seconds) {
  // Karplus-Strong: a noise burst circulating through an averaging delay line.
  const size_t period = std::max<size_t>(2, static_cast<size_t>(sampleRate / frequency));
  std::vector<float> line(period);
  uint32_t seed = 0x2545F491u;
  for (float& s : line) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f;
  }
  const size_t length = At(seconds, sampleRate);
  for (size_t i = 0; i < length && start + i < out.left.size(); ++i) {
    const size_t k = i % period;
    const float sample = line[k];
    line[k] = 0.4985f * (line[k] + line[(k + 1) % period]);
    const float fade = i + 256 > length ? static_cast<float>(length - i) / 256.0f : 1.0f;
    out.left[start + i] += 0.8f * sample * fade;
    out.right[start + i] += 0.6f * sample * fade;
  }
}

void AddChord(sStereo& out, size_t start, double sampleRate, double seconds) {
  // C major with soft attack and release; each voice slightly apart in the stereo field.
  const double frequencies[] = {261.63, 329.63, 392.00, 523.25};
  const float pans[] = {0.3f, 0.7f, 0.45f, 0.6f};
  const size_t length = At(seconds, sampleRate);
  const double attack = 0.01 * sampleRate;
  for (size_t v = 0; v < std::size(frequencies); ++v) {
    const double step = 2.0 * std::numbers::pi * frequencies[v] / sampleRate;
    for (size_t i = 0; i < length && start + i < out.left.size(); ++i) {
      const double t = static_cast<double>(i);
      const double envelope = std::min(1.0, t / attack) * std::exp(-t / (0.35 * sampleRate)) *
                              std::min(1.0, static_cast<double>(length - i) / attack);
      const double tone = std::sin(step * t) + 0.3 * std::sin(2.0 * step * t);
      const auto sample = static_cast<float>(0.25 * envelope * tone);
      out.left[start + i] += sample * (1.0f - pans[v]);
      out.right[start + i] += sample * pans[v];
    }
  }
}

}  // namespace

sStereo SynthesizeDemo(double sampleRate) {
  sStereo out;
  const size_t frames = At(kLength, sampleRate);
  out.left.assign(frames, 0.0f);
  out.right.assign(frames, 0.0f);
  AddClick(out, At(0.05, sampleRate), sampleRate, 1.0f, 0.2f);
  AddClick(out, At(0.45, sampleRate), sampleRate, 0.2f, 1.0f);
  AddClick(out, At(0.85, sampleRate), sampleRate, 0.8f, 0.8f);
  AddPluck(out, At(1.25, sampleRate), sampleRate, 196.0, 0.9);
  AddChord(out, At(2.3, sampleRate), sampleRate, 1.1);

  float peak = 0.0f;
  for (size_t i = 0; i < frames; ++i) peak = std::max({peak, std::fabs(out.left[i]), std::fabs(out.right[i])});
  if (peak > 0.0f) {
    const float gain = kPeak / peak;
    for (size_t i = 0; i < frames; ++i) {
      out.left[i] *= gain;
      out.right[i] *= gain;
    }
  }
  return out;
}

}  // namespace nimborender
