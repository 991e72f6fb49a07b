// Room-acoustics analysis of a stereo effect from its impulse responses:
// ISO 3382-1 measures per octave band and broadband, the correlation of the
// two outputs, and the echo density with the mixing time. Everything comes
// from the sample arrays, so responses measured through any plugin format or
// host can be compared.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "EchoDensity.h"
#include "Measure.h"
#include "Spectrogram.h"

namespace nimboanalysis {

// path[input][output] of a two-input, two-output system, input and output 0
// being left, all at `sampleRate`. Lengths may differ; shorter ones count as
// continuing in silence.
struct sImpulseResponses {
  std::array<std::array<std::vector<float>, 2>, 2> path;
  double sampleRate = 48000.0;
};

// What the measurement knows that the samples do not show.
struct sConditions {
  bool bTailCapped = false;  // rendering stopped at the tail cap while the tail still sounded
  bool bHeld = false;        // the effect's Hold (freeze) is on
};

enum class eStatus { kDecaying, kSilent, kNotDecaying, kHeld, kInvalid };
const char* StatusText(eStatus status);  // "decaying", "silent", "not decaying", "held", "invalid"

struct sMeasures {
  sMeasure edt, t20, t30;  // seconds
  sMeasure c50, c80;       // dB
  sMeasure d50;            // 0..1
  sMeasure ts;             // seconds
};

struct sBandAnalysis {
  std::string name;  // "63 Hz" ... "8 kHz", "broadband"
  double centreHz = 0.0, lowerHz = 0.0, upperHz = 0.0;  // 0 for broadband
  sMeasures measures;
  double cutSeconds = 0.0;    // where the decay meets the noise, re the onset
  double noiseDb = 0.0;       // background noise re the loudest 10 ms; -inf for none
  double endDb = 0.0;         // decay curve at the cut; ranges must end 10 dB above it
  double edcStepSeconds = 0.0;
  std::vector<float> edcDb;   // decay curve from the onset on, for pictures
};

struct sOutputCorrelation {
  sMeasure leftInput;   // the two outputs of the response to the left input, at lag 0
  sMeasure rightInput;
  sMeasure bothInputs;  // with uncorrelated signals of equal level on both inputs
};

struct sWaveform {
  double columnSeconds = 0.0;
  std::array<std::array<std::vector<float>, 2>, 2> low, high;  // per path, the extremes of each column
};

// Gain over frequency of each path: what a filter or a stereo matrix does.
struct sFrequencyResponse {
  std::vector<double> frequenciesHz;
  std::array<std::array<std::vector<float>, 2>, 2> db;  // per path, dB re unity gain
  std::array<std::array<float, 2>, 2> peak{};            // per path, the largest sample with its sign (polarity)
};

struct sAnalysis {
  eStatus status = eStatus::kSilent;
  double sampleRate = 0.0;
  double lengthSeconds = 0.0;  // the longest response
  double onsetSeconds = 0.0;   // the broadband onset: the first sample within 20 dB of the loudest
  std::vector<sBandAnalysis> bands;  // 63 Hz to 8 kHz, then broadband
  sMeasures mid;                     // the mean of 500 Hz and 1 kHz
  double earlySeconds = 0.08;        // correlation windows: early from the onset, late from here
  double lateEndSeconds = 0.0;       // to here (the broadband cut), re the onset
  sOutputCorrelation early, late;
  sEchoDensity echoDensity;
  sSpectrogram spectrogram;
  sWaveform waveform;
  sFrequencyResponse frequencyResponse;

  const sBandAnalysis& Broadband() const { return bands.back(); }
};

sAnalysis Analyze(const sImpulseResponses& responses, const sConditions& conditions = {});

}  // namespace nimboanalysis
