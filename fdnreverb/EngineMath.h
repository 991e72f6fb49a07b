// Control-rate helpers. Transcendentals are evaluated in double and rounded
// once, so every platform's libm gives the same single-precision result.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "Vec4.h"

namespace nimbo {

constexpr float kTwoPi = 6.2831855f;

inline float Exp2F(float x) { return static_cast<float>(std::exp2(static_cast<double>(x))); }
// Exp2F of count values (even), two at a time, without the library call: the
// same double-precision result to within an ulp, which rounds to the same
// float as the library's for every float x (compared for all 2^32 of them).
// Powers of two by the rounded integer part, a Taylor series of 2^f for
// f in [-0.5, 0.5] (its remainder below 2^-57), 1 + f q added last.
namespace exp2detail {
constexpr double kShift = 0x1.8p52;  // adding it rounds to an integer, to nearest even
constexpr double kLimit = 1000.0;    // beyond it every result rounds to 0 or to infinity as a float
constexpr double kTaylor[] = {0x1.314964d5878a9p-44, 0x1.816193166d0f9p-40, 0x1.c3bd650fc2986p-36,
                              0x1.e8cac7351bb25p-32, 0x1.e4cf5158b8ecap-28, 0x1.b5253d395e7c4p-24,
                              0x1.62c0223a5c824p-20, 0x1.ffcbfc588b0c7p-17, 0x1.430912f86c787p-13,
                              0x1.5d87fe78a6731p-10, 0x1.3b2ab6fba4e77p-7,  0x1.c6b08d704a0c0p-5,
                              0x1.ebfbdff82c58fp-3,  0x1.62e42fefa39efp-1};  // (ln 2)^k / k!, k = 14 .. 1
}  // namespace exp2detail

inline void Exp2FPairs(const float* x, float* y, int count) {
  using namespace exp2detail;
#if defined(NIMBOHALL_SSE2_LANES)
  for (int k = 0; k < count; k += 2) {
    const __m128d shift = _mm_set1_pd(kShift);
    const __m128 pair = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + k)));
    const __m128d d = _mm_min_pd(_mm_max_pd(_mm_cvtps_pd(pair), _mm_set1_pd(-kLimit)), _mm_set1_pd(kLimit));
    const __m128d t = _mm_add_pd(d, shift);
    const __m128d f = _mm_sub_pd(d, _mm_sub_pd(t, shift));
    __m128d q = _mm_set1_pd(kTaylor[0]);
    for (size_t i = 1; i < std::size(kTaylor); ++i) q = _mm_add_pd(_mm_mul_pd(q, f), _mm_set1_pd(kTaylor[i]));
    const __m128d p = _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(f, q));
    const __m128i n = _mm_sub_epi64(_mm_castpd_si128(t), _mm_castpd_si128(shift));
    const __m128d scale = _mm_castsi128_pd(_mm_slli_epi64(_mm_add_epi64(n, _mm_set1_epi64x(1023)), 52));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y + k), _mm_castps_si128(_mm_cvtpd_ps(_mm_mul_pd(p, scale))));
  }
#else
  for (int k = 0; k < count; ++k) {
    const double v = static_cast<double>(x[k]);
    const double d = std::min(v > -kLimit ? v : -kLimit, kLimit);
    const double t = d + kShift;
    const double f = d - (t - kShift);
    double q = kTaylor[0];
    for (size_t i = 1; i < std::size(kTaylor); ++i) q = q * f + kTaylor[i];
    const double p = 1.0 + f * q;
    const uint64_t n = std::bit_cast<uint64_t>(t) - std::bit_cast<uint64_t>(kShift);
    y[k] = static_cast<float>(p * std::bit_cast<double>((n + 1023u) << 52));
  }
#endif
}

inline float SinF(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }

// A value that is finite and within [lo, hi]; NaN becomes fallback.
inline float Bounded(float x, float lo, float hi, float fallback) {
  if (x != x) return fallback;
  return x < lo ? lo : x > hi ? hi : x;
}

}  // namespace nimbo
