// Octave-band filters with IEC 61260-1 base-10 mid-band frequencies: third-order
// Butterworth band-passes (three biquads), designed here for any sample rate.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

namespace nimboanalysis {

struct sOctaveBand {
  const char* name;  // nominal: "63 Hz" ... "8 kHz"
  double centreHz;   // exact: 1000 * 10^(0.3 k)
  double lowerHz;    // centre / 10^0.15
  double upperHz;    // centre * 10^0.15
};

constexpr int kNumBands = 8;  // 63 Hz to 8 kHz
const std::array<sOctaveBand, kNumBands>& OctaveBands();

struct sBiquad {
  double b0, b1, b2, a1, a2;  // a0 = 1
};

// A band the sample rate can hold: its upper edge lies below Nyquist.
bool BandFits(const sOctaveBand& band, double sampleRate);

// Unit gain at the mid-band frequency, -3 dB at the band edges.
std::vector<sBiquad> DesignOctaveFilter(const sOctaveBand& band, double sampleRate);

// Magnitude of the cascade at `hz`, for checking a design.
double Magnitude(const std::vector<sBiquad>& sections, double hz, double sampleRate);
// Group delay of the cascade at `hz`, in seconds.
double GroupDelay(const std::vector<sBiquad>& sections, double hz, double sampleRate);

// Runs the cascade over `signal` backwards in time, in place. A decay keeps
// its exact rate after the filter this way; the filter's own ringing lands
// before each event instead of after it, where short decays would drown in it.
// The band's energy comes out early by about the group delay at mid-band.
void FilterBackwards(const std::vector<sBiquad>& sections, std::span<double> signal);

}  // namespace nimboanalysis
