// A measured quantity, or the reason there is none.
#pragma once

#include <cstdint>

namespace nimboanalysis {

enum class eMissing : uint8_t {
  kNone,
  kNotCovered,     // the decay does not reach the range's end far enough above the noise
  kTooFast,        // the decay is over faster than the band filter or the sample rate resolves
  kInfinite,       // a ratio with nothing after its limit (C50, C80 of a response that ends early)
  kNotReached,     // the echo density never reaches 1
  kAboveNyquist,   // the band does not fit below half the sample rate
  kSilent,         // the response is silent
  kNotDecaying,    // the response does not decay, or not within the tail cap
  kHeld,           // the plugin's Hold is on: the tail is frozen
  kInvalid,        // the response holds NaN or infinity
};

// The text reports and JSON use for a missing value.
const char* MissingText(eMissing why);

struct sMeasure {
  double value = 0.0;
  eMissing missing = eMissing::kNone;

  bool Has() const { return missing == eMissing::kNone; }
  static sMeasure Of(double v) { return {v, eMissing::kNone}; }
  static sMeasure None(eMissing why) { return {0.0, why}; }
};

}  // namespace nimboanalysis
