// Four floats, one per delay line (or one per frame), so the per-line stages
// are written once and run as a single SSE2 vector where the target has it.
// The scalar fallback computes the same operations in the same order, lane
// by lane, so both give the same results.
#pragma once

#include <cmath>
#include <cstdint>

#if !defined(NIMBOHALL_SCALAR_LANES) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define NIMBOHALL_SSE2_LANES 1
#include <emmintrin.h>
#endif

// The per-sample code is a chain of small functions; the compiler must not
// leave any of them as a call.
#if defined(__GNUC__) || defined(__clang__)
#define NIMBO_INLINE inline __attribute__((always_inline))
#define NIMBO_INLINE_LAMBDA __attribute__((always_inline))
#else
#define NIMBO_INLINE inline
#define NIMBO_INLINE_LAMBDA
#endif

namespace nimbo {

#if defined(NIMBOHALL_SSE2_LANES)

struct sInt4 {
  __m128i v;

  static sInt4 Set(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return {_mm_setr_epi32(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c), static_cast<int>(d))};
  }
  static sInt4 Fill(uint32_t x) { return {_mm_set1_epi32(static_cast<int>(x))}; }
  template <int i>
  NIMBO_INLINE uint32_t Lane() const {
    return static_cast<uint32_t>(_mm_cvtsi128_si32(i == 0 ? v : _mm_shuffle_epi32(v, _MM_SHUFFLE(i, i, i, i))));
  }
  NIMBO_INLINE void Store(uint32_t* p) const { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }  // aligned
  friend NIMBO_INLINE sInt4 operator+(sInt4 a, sInt4 b) { return {_mm_add_epi32(a.v, b.v)}; }
  friend NIMBO_INLINE sInt4 operator&(sInt4 a, sInt4 b) { return {_mm_and_si128(a.v, b.v)}; }
};

struct sVec4 {
  __m128 v;

  static NIMBO_INLINE sVec4 Load(const float* p) { return {_mm_load_ps(p)}; }  // 16-byte aligned
  static NIMBO_INLINE sVec4 LoadUnaligned(const float* p) { return {_mm_loadu_ps(p)}; }
  static NIMBO_INLINE sVec4 Fill(float x) { return {_mm_set1_ps(x)}; }
  static NIMBO_INLINE sVec4 FillFrom(const float* p) { return {_mm_load1_ps(p)}; }
  static NIMBO_INLINE sVec4 Set(float a, float b, float c, float d) { return {_mm_setr_ps(a, b, c, d)}; }
  NIMBO_INLINE void Store(float* p) const { _mm_store_ps(p, v); }
  NIMBO_INLINE void StoreUnaligned(float* p) const { _mm_storeu_ps(p, v); }
  template <int i>
  NIMBO_INLINE float Lane() const {
    return _mm_cvtss_f32(i == 0 ? v : _mm_shuffle_ps(v, v, _MM_SHUFFLE(i, i, i, i)));
  }
  template <int i>
  NIMBO_INLINE sVec4 Broadcast() const {
    return {_mm_shuffle_ps(v, v, _MM_SHUFFLE(i, i, i, i))};
  }

  friend NIMBO_INLINE sVec4 operator+(sVec4 a, sVec4 b) { return {_mm_add_ps(a.v, b.v)}; }
  friend NIMBO_INLINE sVec4 operator-(sVec4 a, sVec4 b) { return {_mm_sub_ps(a.v, b.v)}; }
  friend NIMBO_INLINE sVec4 operator*(sVec4 a, sVec4 b) { return {_mm_mul_ps(a.v, b.v)}; }
  friend NIMBO_INLINE sVec4 operator/(sVec4 a, sVec4 b) { return {_mm_div_ps(a.v, b.v)}; }
  // a > b ? a : b and a < b ? a : b, as the instructions define them.
  friend NIMBO_INLINE sVec4 Max(sVec4 a, sVec4 b) { return {_mm_max_ps(a.v, b.v)}; }
  friend NIMBO_INLINE sVec4 Min(sVec4 a, sVec4 b) { return {_mm_min_ps(a.v, b.v)}; }

  // floor for |x| < 2^31, also as integers.
  friend NIMBO_INLINE sVec4 Floor(sVec4 x, sInt4& whole) {
    __m128i t = _mm_cvttps_epi32(x.v);
    const __m128 above = _mm_cmpgt_ps(_mm_cvtepi32_ps(t), x.v);
    t = _mm_add_epi32(t, _mm_castps_si128(above));  // -1 where truncation rounded up
    whole.v = t;
    return {_mm_cvtepi32_ps(t)};
  }

  // floor for -1 <= x < 2, on a shorter dependency chain than Floor.
  friend NIMBO_INLINE sVec4 FloorNear(sVec4 x, sInt4& whole) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 up = _mm_cmpge_ps(x.v, one);
    const __m128 down = _mm_cmplt_ps(x.v, _mm_setzero_ps());
    whole.v = _mm_sub_epi32(_mm_castps_si128(down), _mm_castps_si128(up));  // the masks are -1
    return {_mm_sub_ps(_mm_and_ps(up, one), _mm_and_ps(down, one))};
  }

  // x where it is finite, 0 where it is NaN or infinite.
  friend NIMBO_INLINE sVec4 FiniteOrZero(sVec4 x) {
    const __m128 magnitude = _mm_and_ps(x.v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
    return {_mm_and_ps(x.v, _mm_cmple_ps(magnitude, _mm_set1_ps(3.40282347e38f)))};
  }

  // Rows become columns.
  friend NIMBO_INLINE void Transpose(sVec4& a, sVec4& b, sVec4& c, sVec4& d) { _MM_TRANSPOSE4_PS(a.v, b.v, c.v, d.v); }

  // From four pairs of neighbouring floats: first = {p0[0], p1[0], p2[0], p3[0]}, second = {p0[1], ...}.
  static NIMBO_INLINE void LoadPairs(const float* p0, const float* p1, const float* p2, const float* p3, sVec4& first,
                                     sVec4& second) {
    // 8-byte loads at any float address.
    const __m128 a = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0)));
    const __m128 b = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p1)));
    const __m128 c = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p2)));
    const __m128 d = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p3)));
    const __m128 ab = _mm_unpacklo_ps(a, b), cd = _mm_unpacklo_ps(c, d);  // p0[0] p1[0] p0[1] p1[1]
    first.v = _mm_movelh_ps(ab, cd);
    second.v = _mm_movehl_ps(cd, ab);
  }
};

#else

struct sInt4 {
  uint32_t v[4];

  static sInt4 Set(uint32_t a, uint32_t b, uint32_t c, uint32_t d) { return {{a, b, c, d}}; }
  static sInt4 Fill(uint32_t x) { return {{x, x, x, x}}; }
  template <int i>
  uint32_t Lane() const {
    return v[i];
  }
  void Store(uint32_t* p) const {
    for (int i = 0; i < 4; ++i) p[i] = v[i];
  }
  friend sInt4 operator+(sInt4 a, sInt4 b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}}; }
  friend sInt4 operator&(sInt4 a, sInt4 b) { return {{a.v[0] & b.v[0], a.v[1] & b.v[1], a.v[2] & b.v[2], a.v[3] & b.v[3]}}; }
};

struct sVec4 {
  float v[4];

  static sVec4 Load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
  static sVec4 LoadUnaligned(const float* p) { return Load(p); }
  static sVec4 Fill(float x) { return {{x, x, x, x}}; }
  static sVec4 FillFrom(const float* p) { return Fill(*p); }
  static sVec4 Set(float a, float b, float c, float d) { return {{a, b, c, d}}; }
  void Store(float* p) const {
    for (int i = 0; i < 4; ++i) p[i] = v[i];
  }
  void StoreUnaligned(float* p) const { Store(p); }
  template <int i>
  float Lane() const {
    return v[i];
  }
  template <int i>
  sVec4 Broadcast() const {
    return Fill(v[i]);
  }

  template <class F>
  static sVec4 Map(sVec4 a, sVec4 b, F f) {
    return {{f(a.v[0], b.v[0]), f(a.v[1], b.v[1]), f(a.v[2], b.v[2]), f(a.v[3], b.v[3])}};
  }
  friend sVec4 operator+(sVec4 a, sVec4 b) { return Map(a, b, [](float x, float y) { return x + y; }); }
  friend sVec4 operator-(sVec4 a, sVec4 b) { return Map(a, b, [](float x, float y) { return x - y; }); }
  friend sVec4 operator*(sVec4 a, sVec4 b) { return Map(a, b, [](float x, float y) { return x * y; }); }
  friend sVec4 operator/(sVec4 a, sVec4 b) { return Map(a, b, [](float x, float y) { return x / y; }); }
  friend sVec4 Max(sVec4 a, sVec4 b) { return Map(a, b, [](float x, float y) { return x > y ? x : y; }); }
  friend sVec4 Min(sVec4 a, sVec4 b) { return Map(a, b, [](float x, float y) { return x < y ? x : y; }); }

  friend sVec4 Floor(sVec4 x, sInt4& whole) {
    for (int i = 0; i < 4; ++i) {
      x.v[i] = std::floor(x.v[i]);
      whole.v[i] = static_cast<uint32_t>(static_cast<int32_t>(x.v[i]));
    }
    return x;
  }
  friend sVec4 FloorNear(sVec4 x, sInt4& whole) { return Floor(x, whole); }

  friend sVec4 FiniteOrZero(sVec4 x) {
    for (float& f : x.v) f = std::isfinite(f) ? f : 0.0f;
    return x;
  }

  static void LoadPairs(const float* p0, const float* p1, const float* p2, const float* p3, sVec4& first,
                        sVec4& second) {
    first = Set(p0[0], p1[0], p2[0], p3[0]);
    second = Set(p0[1], p1[1], p2[1], p3[1]);
  }

  friend void Transpose(sVec4& a, sVec4& b, sVec4& c, sVec4& d) {
    sVec4* rows[4] = {&a, &b, &c, &d};
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) {
        const float t = rows[i]->v[j];
        rows[i]->v[j] = rows[j]->v[i];
        rows[j]->v[i] = t;
      }
  }
};

#endif

}  // namespace nimbo
