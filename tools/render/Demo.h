// The dry signal of the built-in demo: clicks, a plucked string and a short
// chord, a few seconds long, made here so the renderer needs no sample file.
#pragma once

#include <vector>

namespace nimborender {

struct sStereo {
  std::vector<float> left;
  std::vector<float> right;
};

constexpr double kDemoSampleRate = 48000.0;

sStereo SynthesizeDemo(double sampleRate);

}  // namespace nimborender
