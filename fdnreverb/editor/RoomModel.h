// What the room display shows, predicted from the coefficients the engine
// would use for the current settings: decay time against frequency per line
// and for their mean, and the mean's energy decay over time.
#pragma once

#include <cstdint>

#include "../Engine.h"
#include "../cReverbCore.h"

namespace nimbo::editor {

struct sRoomResponse {
  static constexpr int kPoints = 121;  // 20 Hz to 20 kHz, log spaced
  static constexpr int kEdcPoints = 128;
  static constexpr float kEdcFloorDb = -120.0f;  // where the curve stops falling
  float frequency[kPoints] = {};
  // Points below Nyquist; the rest repeat the last of them.
  int points = 0;
  // T60 in seconds; +inf where nothing decays (a frozen tail, no loss), 0
  // where each line sounds once (Halflife or Damping off).
  float t60[kNumLines][kPoints] = {};
  // The network's: the lines' decay rates averaged over the time a signal
  // the matrix spreads evenly spends in each (see docs/editor.md).
  float meanT60[kPoints] = {};
  // Energy decay of the mean, dB relative to its start, at kEdcPoints
  // times evenly spaced over [0, edcSeconds]: the Schroeder integral of an
  // impulse's flat spectrum decaying at meanT60. edcSeconds reaches about
  // -70 dB (at most 60 s) and stays with "Hold" on.
  float edcSeconds = 0.0f;
  float edcDb[kEdcPoints] = {};
  float lineSeconds[kNumLines] = {};  // each line's delay
  bool frozen = false;  // "Hold" on: the tail does not decay
};

// The response of the core's current settings at the sample rate.
void ComputeRoom(const cReverbCore& core, float sampleRate, sRoomResponse& out);
// The predicted T60 of the mean at one frequency (seconds).
float PredictT60(const cReverbCore& core, float sampleRate, float frequency);

}  // namespace nimbo::editor
