// Four single-precision lanes, on SSE2 (the x86-64 baseline, so every CPU
// that runs the plug-ins has it) or, elsewhere, on plain floats. Each lane
// computes exactly what scalar code computes: IEEE products, sums and
// quotients rounded to single precision, nothing contracted, nothing reordered.
#pragma once

#include "framework/platform.h"

#if VELMOR_X86
#include <emmintrin.h>
#define VELMOR_VEC4_SSE2 1
#else
#include <algorithm>
#endif

namespace velmor {

#if VELMOR_VEC4_SSE2

struct Vec4 {
  __m128 v;
};

inline Vec4 Set(float a, float b, float c, float d) { return {_mm_setr_ps(a, b, c, d)}; }
inline Vec4 Splat(float a) { return {_mm_set1_ps(a)}; }
inline Vec4 Zero() { return {_mm_setzero_ps()}; }
inline Vec4 operator+(Vec4 a, Vec4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline Vec4 operator-(Vec4 a, Vec4 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Vec4 operator*(Vec4 a, Vec4 b) { return {_mm_mul_ps(a.v, b.v)}; }

// Lanes where `mask` is set come from a, the others from b.
struct Mask4 {
  __m128 m;
};
inline Mask4 MaskOf(bool l0, bool l1, bool l2, bool l3) {
  return {_mm_castsi128_ps(_mm_setr_epi32(-static_cast<int>(l0), -static_cast<int>(l1), -static_cast<int>(l2),
                                          -static_cast<int>(l3)))};
}
inline Vec4 Select(Mask4 mask, Vec4 a, Vec4 b) {
  return {_mm_or_ps(_mm_and_ps(mask.m, a.v), _mm_andnot_ps(mask.m, b.v))};
}

// 1 if d > 1, -1 if d < -1, otherwise d (NaN stays NaN), in every lane.
inline Vec4 ClipUnit(Vec4 d) {
  return {_mm_min_ps(_mm_set1_ps(1.0f), _mm_max_ps(_mm_set1_ps(-1.0f), d.v))};
}

template <int k>
inline float Lane(Vec4 a) {
  return _mm_cvtss_f32(_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(k, k, k, k)));
}

// [x, a0, a1, a2]: the lanes move up by one and x enters at lane 0.
inline Vec4 ShiftIn(float x, Vec4 a) {
  return {_mm_move_ss(_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 1, 0, 0)), _mm_set_ss(x))};
}
// [b3, a0, a1, a2]: lane 3 of b enters at lane 0.
inline Vec4 ShiftInLast(Vec4 b, Vec4 a) {
  return {_mm_move_ss(_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(2, 1, 0, 0)), _mm_shuffle_ps(b.v, b.v, _MM_SHUFFLE(3, 3, 3, 3)))};
}
// [x, a0, b1, b1].
inline Vec4 Chain3(float x, Vec4 a, Vec4 b) {
  const __m128 lo = _mm_unpacklo_ps(_mm_set_ss(x), a.v);          // x, a0, 0, a1
  const __m128 hi = _mm_shuffle_ps(b.v, b.v, _MM_SHUFFLE(1, 1, 1, 1));  // b1, b1, b1, b1
  return {_mm_movelh_ps(lo, hi)};
}

#else

struct Vec4 {
  float v[4];
};

inline Vec4 Set(float a, float b, float c, float d) { return {{a, b, c, d}}; }
inline Vec4 Splat(float a) { return {{a, a, a, a}}; }
inline Vec4 Zero() { return Splat(0.0f); }
#define VELMOR_VEC4_LANEWISE(op)                                      \
  inline Vec4 operator op(Vec4 a, Vec4 b) {                           \
    return {{a.v[0] op b.v[0], a.v[1] op b.v[1], a.v[2] op b.v[2], a.v[3] op b.v[3]}}; \
  }
VELMOR_VEC4_LANEWISE(+)
VELMOR_VEC4_LANEWISE(-)
VELMOR_VEC4_LANEWISE(*)
#undef VELMOR_VEC4_LANEWISE

struct Mask4 {
  bool m[4];
};
inline Mask4 MaskOf(bool l0, bool l1, bool l2, bool l3) { return {{l0, l1, l2, l3}}; }
inline Vec4 Select(Mask4 mask, Vec4 a, Vec4 b) {
  Vec4 r;
  for (int i = 0; i < 4; ++i) r.v[i] = mask.m[i] ? a.v[i] : b.v[i];
  return r;
}
inline Vec4 ClipUnit(Vec4 d) {
  for (float& x : d.v) x = x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);
  return d;
}
template <int k>
inline float Lane(Vec4 a) {
  return a.v[k];
}
inline Vec4 ShiftIn(float x, Vec4 a) { return {{x, a.v[0], a.v[1], a.v[2]}}; }
inline Vec4 ShiftInLast(Vec4 b, Vec4 a) { return {{b.v[3], a.v[0], a.v[1], a.v[2]}}; }
inline Vec4 Chain3(float x, Vec4 a, Vec4 b) { return {{x, a.v[0], b.v[1], b.v[1]}}; }

#endif

}  // namespace velmor
