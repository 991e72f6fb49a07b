// Abel and Huang's normalized echo density: the weighted share of samples in
// a sliding window that lie more than one standard deviation from zero,
// divided by the share Gaussian noise has there, erfc(1/sqrt 2). It reaches 1
// once the echoes have merged into noise-like reverberation. Measured above
// 100 Hz.
#pragma once

#include <span>
#include <vector>

#include "Measure.h"

namespace nimboanalysis {

struct sEchoDensity {
  double windowSeconds = 0.02;  // Hann window
  double stepSeconds = 0.001;
  std::vector<float> profile;  // mean over the responses, one value per step from the onset
  sMeasure mixingTime;         // seconds from the onset to the first step at 1
};

// From `onset` to `end` (samples). Windows whose mean energy per sample stays
// within 10 dB of `floorEnergy` (the noise) hold no echoes; silent responses
// do not count in the mean.
sEchoDensity MeasureEchoDensity(std::span<const std::span<const float>> responses, size_t onset, size_t end,
                                double floorEnergy, double sampleRate);

}  // namespace nimboanalysis
