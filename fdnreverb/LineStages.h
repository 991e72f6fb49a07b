// The per-line stages between a line's read and its feedback write, written
// once for any lane type: float (one line) or sVec4 (all four lines at once).
// Each takes its coefficients by value and its filter state by reference.
#pragma once

#include <cstdint>

#include "Engine.h"
#include "Vec4.h"

namespace nimbo {

template <class V>
NIMBO_INLINE V Splat(float x);
template <>
inline float Splat<float>(float x) {
  return x;
}
template <>
inline sVec4 Splat<sVec4>(float x) {
  return sVec4::Fill(x);
}
inline float Max(float a, float b) { return a > b ? a : b; }
inline float Min(float a, float b) { return a < b ? a : b; }

// The formulas below are the usual ones, at times rearranged so the chain of
// dependent operations from one stage to the next is shorter; the results
// differ from the textbook order by single-precision rounding only.

// Crossfade towards the injection for lines shorter than one sample:
// inj + (d - inj) p, with absence = 1 - p.
template <class V>
NIMBO_INLINE V PresenceMix(V d, V inj, V presence, V absence) {
  return d * presence + inj * absence;
}

// First-order all-pass: y = c v + s, s = v - c y.
template <class V>
NIMBO_INLINE V Allpass(V in, V coef, V& state) {
  const V out = coef * in + state;
  state = in - coef * out;
  return out;
}

// The line's fractional-delay all-pass (coefficient c) followed by the
// feedback inverter (coefficient k); kc = k c. The inverter's output
// k (c v + s) + t is formed without waiting for the first all-pass.
template <class V>
NIMBO_INLINE V AllpassPair(V in, V c, V k, V kc, V& s, V& t) {
  const V y = c * in + s;
  const V z = kc * in + (k * s + t);
  s = in - c * y;
  t = y - k * z;
  return z;
}

// Its two halves, so frames can overlap: the pre-emphasis and the curve's
// numerator and denominator; then the curve's value and the de-emphasis.
template <class V>
NIMBO_INLINE V SaturateShape(V z, V drive, V invDrive, V& pre, V& denominator) {
  const V u = Splat<V>(0.7f) * pre + drive * z;
  pre = u;
  const V v = Min(Max(u, Splat<V>(-3.0f)), Splat<V>(3.0f));
  const V v2 = v * v;
  denominator = Splat<V>(9.0f) * v2 + Splat<V>(27.0f);
  return (v * invDrive) * (v2 + Splat<V>(27.0f));
}

template <class V>
NIMBO_INLINE V SaturateFinish(V numerator, V denominator, V& post) {
  const V t = numerator / denominator;
  const V out = t - Splat<V>(0.7f) * post;
  post = t;
  return out;
}

// Pre-emphasis, a soft clip that reaches +-1 with zero slope at +-3, de-emphasis.
template <class V>
NIMBO_INLINE V Saturate(V z, V drive, V invDrive, V& pre, V& post) {
  V denominator;
  const V numerator = SaturateShape(z, drive, invDrive, pre, denominator);
  return SaturateFinish(numerator, denominator, post);
}

// The damping coefficient glides towards its target so modulation updates
// never step the filter.
template <class V>
NIMBO_INLINE V Glide(V target, V& coef) {
  coef = coef + (target - coef) * Splat<V>(0.0031f);
  return coef;
}

// Damping low-pass, decay gain per pass, DC high-pass, in two steps so
// frames can overlap. The high-pass output q - (h + (q - h) c) is
// (q - h)(1 - c): DampRise returns q - h, HighpassOut scales it by 1 - c.
template <class V>
NIMBO_INLINE V DampRise(V z, V target, V decay, V highpassCoef, V& coef, V& state, V& highpass) {
  state = state + (z - state) * Glide(target, coef);
  const V q = state * decay;
  const V rise = q - highpass;
  highpass = highpass + rise * highpassCoef;
  return rise;
}

template <class V>
NIMBO_INLINE V HighpassOut(V rise, V highpassRest) {
  return rise * highpassRest;
}

// Hold mode: only the low-pass, towards the hold target; nothing decays.
template <class V>
NIMBO_INLINE V DampHold(V z, V target, V& coef, V& state) {
  state = state + (z - state) * Glide(target, coef);
  return state;
}

// Keeps every line signal, and so the network, bounded whatever the settings.
template <class V>
NIMBO_INLINE V Limit(V z) {
  return Min(Max(z, Splat<V>(-16.0f)), Splat<V>(16.0f));
}

// Linear interpolation a + (b - a) f, with rest = 1 - f.
template <class V>
NIMBO_INLINE V Interpolate(V a, V b, V frac, V rest) {
  return a * rest + b * frac;
}

}  // namespace nimbo
