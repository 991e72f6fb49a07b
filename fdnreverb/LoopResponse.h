// Gain and group delay of the stages of a line's pass at w radians per
// sample, in double: for bounds and predictions of the decay, never the audio.
#pragma once

#include <algorithm>
#include <cmath>

namespace nimbo {

// The all-pass (c + z^-1) / (1 + c z^-1): a coefficient near +-1 holds DC
// or Nyquist back for thousands of samples.
inline double AllpassDelay(double c, double w) {
  if (std::fabs(c) >= 1.0) return 0.0;
  return (1.0 - c * c) / (1.0 + 2.0 * c * std::cos(w) + c * c);
}

// The damping low-pass y += (x - y) k.
inline double LowpassGain(double k, double w) {
  const double p = 1.0 - k;
  return std::fabs(k) / std::sqrt(std::max(1e-300, 1.0 - 2.0 * p * std::cos(w) + p * p));
}
inline double LowpassDelay(double k, double w) {
  const double p = 1.0 - k, cw = std::cos(w);
  return std::max(0.0, (p * cw - p * p) / std::max(1e-300, 1.0 - 2.0 * p * cw + p * p));
}

// The DC high-pass (q - h)(1 - c), h += (q - h) c: nothing at DC, where an
// inverter all-pass near -1 would otherwise hold the signal longest.
inline double HighpassGain(double c, double w) {
  const double p = 1.0 - c;
  return p * 2.0 * std::sin(0.5 * w) / std::sqrt(std::max(1e-300, 1.0 - 2.0 * p * std::cos(w) + p * p));
}
// Its zero at DC adds half a sample, its pole what the low-pass's would.
inline double HighpassDelay(double c, double w) {
  const double p = 1.0 - c, cw = std::cos(w);
  return 0.5 + (p * cw - p * p) / std::max(1e-300, 1.0 - 2.0 * p * cw + p * p);
}

}  // namespace nimbo
