// Control-rate helpers. Transcendentals are evaluated in double and rounded
// once, so every platform's libm gives the same single-precision result.
#pragma once

#include <cmath>

namespace nimbo {

constexpr float kTwoPi = 6.2831855f;

inline float Exp2F(float x) { return static_cast<float>(std::exp2(static_cast<double>(x))); }
inline float SinF(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }

// A value that is finite and within [lo, hi]; NaN becomes fallback.
inline float Bounded(float x, float lo, float hi, float fallback) {
  if (x != x) return fallback;
  return x < lo ? lo : x > hi ? hi : x;
}

}  // namespace nimbo
