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

// The magnitude response of one path (the whole response in one FFT), power
// averaged over 1/24 octave around each of the log-spaced frequencies from
// 20 Hz to half the sample rate; dB re unity gain, at least sSpectrogram::kFloorDb.
struct sMagnitudeResponse {
  std::vector<double> frequenciesHz;
  std::vector<float> db;
};
sMagnitudeResponse MeasureMagnitudeResponse(std::span<const float> response, double sampleRate, size_t points = 240);

}  // namespace nimboanalysis
