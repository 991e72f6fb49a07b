// Short-time spectrum of a set of responses (their powers summed), on a
// logarithmic frequency axis, for pictures.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace nimboanalysis {

struct sSpectrogram {
  double startSeconds = 0.0;  // centre of the first frame, re the onset
  double stepSeconds = 0.0;
  size_t frames = 0;
  std::vector<double> frequenciesHz;  // row centres, ascending
  std::vector<float> db;              // frames * rows, frame after frame; dB re the loudest cell, at least kFloorDb
  static constexpr float kFloorDb = -120.0f;
};

// Frames from just before `onset` to `end` (samples), at most `maxFrames`.
sSpectrogram MeasureSpectrogram(std::span<const std::span<const float>> responses, size_t onset, size_t end,
                                double sampleRate, size_t maxFrames = 160, size_t rows = 96);

}  // namespace nimboanalysis
