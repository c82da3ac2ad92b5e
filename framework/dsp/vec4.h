// Four single-precision lanes (Vec4) and four int32 lanes (Int4): SSE2 on
// x86-64 (the baseline, so every processor that runs the plug-ins has it);
// elsewhere the compiler's vector types, which are NEON on 64-bit ARM. Each
// lane computes exactly what scalar code computes: IEEE products, sums and
// quotients rounded to single precision, nothing contracted, nothing
// reordered. Where instruction sets differ on NaN (min, max), the functions
// here define one answer, SSE's.
#pragma once

#include "framework/platform.h"

#include <cstdint>
#include <cstring>

#if VELMOR_X86
#include <emmintrin.h>
#endif

namespace velmor {

#if VELMOR_X86

struct Vec4 {
  __m128 v;
};
struct Int4 {
  __m128i v;
};
// Lanes where `mask` is set come from a, the others from b.
struct Mask4 {
  __m128 m;
};

inline Vec4 Splat(float a) { return {_mm_set1_ps(a)}; }
inline Vec4 Zero() { return {_mm_setzero_ps()}; }
inline Vec4 Load(const float* p) { return {_mm_loadu_ps(p)}; }
// p 16-byte aligned: SSE folds such a load into the instruction that uses it.
inline Vec4 LoadAligned(const float* p) { return {_mm_load_ps(p)}; }
inline void StoreAligned(float* p, Vec4 a) { _mm_store_ps(p, a.v); }
inline void Store(float* p, Vec4 a) { _mm_storeu_ps(p, a.v); }
inline Vec4 operator+(Vec4 a, Vec4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline Vec4 operator-(Vec4 a, Vec4 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline Vec4 operator*(Vec4 a, Vec4 b) { return {_mm_mul_ps(a.v, b.v)}; }
// a < b ? a : b and a > b ? a : b: b when either is NaN.
inline Vec4 Min(Vec4 a, Vec4 b) { return {_mm_min_ps(a.v, b.v)}; }
inline Vec4 Max(Vec4 a, Vec4 b) { return {_mm_max_ps(a.v, b.v)}; }

inline Mask4 MaskOf(bool l0, bool l1, bool l2, bool l3) {
  return {_mm_castsi128_ps(_mm_setr_epi32(-int32_t{l0}, -int32_t{l1}, -int32_t{l2}, -int32_t{l3}))};
}
inline Vec4 Select(Mask4 mask, Vec4 a, Vec4 b) {
  return {_mm_or_ps(_mm_and_ps(mask.m, a.v), _mm_andnot_ps(mask.m, b.v))};
}
// Lanes 0 and 1 of a, 2 and 3 of b: one instruction (movsd).
inline Vec4 LowHalfOf(Vec4 a, Vec4 b) {
  return {_mm_castpd_ps(_mm_move_sd(_mm_castps_pd(b.v), _mm_castps_pd(a.v)))};
}

// pshufd rather than shufps: it writes a register other than its source,
// which saves the copy that shufps needs.
template <int k>
inline float Lane(Vec4 a) {
  if constexpr (k == 0) return _mm_cvtss_f32(a.v);
  return _mm_cvtss_f32(_mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(a.v), _MM_SHUFFLE(k, k, k, k))));
}
// [x, a0, b1, b1].
inline Vec4 Chain3(float x, Vec4 a, Vec4 b) {
  const __m128 lo = _mm_unpacklo_ps(_mm_set_ss(x), a.v);               // x, a0, 0, a1
  const __m128 hi = _mm_shuffle_ps(b.v, b.v, _MM_SHUFFLE(1, 1, 1, 1));  // b1, b1, b1, b1
  return {_mm_movelh_ps(lo, hi)};
}
// [x0, x1, b0, b1].
inline Vec4 PairThenLow(float x0, float x1, Vec4 b) {
  return {_mm_movelh_ps(_mm_unpacklo_ps(_mm_set_ss(x0), _mm_set_ss(x1)), b.v)};
}

inline Int4 SetInt(int32_t a, int32_t b, int32_t c, int32_t d) { return {_mm_setr_epi32(a, b, c, d)}; }
inline Int4 SplatInt(int32_t a) { return {_mm_set1_epi32(a)}; }
inline void Store(int32_t* p, Int4 a) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a.v); }
inline Int4 operator+(Int4 a, Int4 b) { return {_mm_add_epi32(a.v, b.v)}; }
inline Int4 operator-(Int4 a, Int4 b) { return {_mm_sub_epi32(a.v, b.v)}; }
template <int k>
inline Int4 ShiftLeft(Int4 a) {
  return {_mm_slli_epi32(a.v, k)};
}
// Toward zero; only for values that fit int32 (the callers limit them first).
inline Int4 Truncate(Vec4 a) { return {_mm_cvttps_epi32(a.v)}; }
inline Vec4 ToFloat(Int4 a) { return {_mm_cvtepi32_ps(a.v)}; }
// a + m in the lanes where a < 0; 0 in the lanes where a == m; else a.
inline Int4 AddWhereNegative(Int4 a, Int4 m) {
  return {_mm_add_epi32(a.v, _mm_and_si128(_mm_cmplt_epi32(a.v, _mm_setzero_si128()), m.v))};
}
inline Int4 ZeroWhereEqual(Int4 a, Int4 m) { return {_mm_andnot_si128(_mm_cmpeq_epi32(a.v, m.v), a.v)}; }
// The lanes where 0 <= a < n.
inline Mask4 InRange(Int4 a, int32_t n) {
  const __m128i below = _mm_cmplt_epi32(a.v, _mm_set1_epi32(n)), negative = _mm_cmplt_epi32(a.v, _mm_setzero_si128());
  return {_mm_castsi128_ps(_mm_andnot_si128(negative, below))};
}

#else

typedef float Floats4 __attribute__((vector_size(16)));
typedef int32_t Ints4 __attribute__((vector_size(16)));
struct Vec4 {
  Floats4 v;
};
struct Int4 {
  Ints4 v;
};
struct Mask4 {
  Ints4 m;
};

inline Vec4 Splat(float a) { return {Floats4{a, a, a, a}}; }  // not 0 + a, which turns -0 into +0
inline Vec4 Zero() { return {Floats4{}}; }
inline Vec4 Load(const float* p) {
  Vec4 a;
  std::memcpy(&a.v, p, sizeof a.v);
  return a;
}
inline Vec4 LoadAligned(const float* p) { return Load(p); }
inline void StoreAligned(float* p, Vec4 a) { std::memcpy(p, &a.v, sizeof a.v); }
inline void Store(float* p, Vec4 a) { std::memcpy(p, &a.v, sizeof a.v); }
inline Vec4 operator+(Vec4 a, Vec4 b) { return {a.v + b.v}; }
inline Vec4 operator-(Vec4 a, Vec4 b) { return {a.v - b.v}; }
inline Vec4 operator*(Vec4 a, Vec4 b) { return {a.v * b.v}; }
inline Vec4 Min(Vec4 a, Vec4 b) { return {a.v < b.v ? a.v : b.v}; }
inline Vec4 Max(Vec4 a, Vec4 b) { return {a.v > b.v ? a.v : b.v}; }

inline Mask4 MaskOf(bool l0, bool l1, bool l2, bool l3) {
  return {Ints4{-int32_t{l0}, -int32_t{l1}, -int32_t{l2}, -int32_t{l3}}};
}
inline Vec4 Select(Mask4 mask, Vec4 a, Vec4 b) { return {mask.m ? a.v : b.v}; }
inline Vec4 LowHalfOf(Vec4 a, Vec4 b) { return {__builtin_shufflevector(a.v, b.v, 0, 1, 6, 7)}; }

template <int k>
inline float Lane(Vec4 a) {
  return a.v[k];
}
inline Vec4 Chain3(float x, Vec4 a, Vec4 b) {
  return {__builtin_shufflevector(__builtin_shufflevector(a.v, b.v, 0, 0, 5, 5), Floats4{x, 0, 0, 0}, 4, 1, 2, 3)};
}
inline Vec4 PairThenLow(float x0, float x1, Vec4 b) {
  return {__builtin_shufflevector(Floats4{x0, x1, 0, 0}, b.v, 0, 1, 4, 5)};
}

inline Int4 SetInt(int32_t a, int32_t b, int32_t c, int32_t d) { return {Ints4{a, b, c, d}}; }
inline Int4 SplatInt(int32_t a) { return {Ints4{} + a}; }
inline void Store(int32_t* p, Int4 a) { std::memcpy(p, &a.v, sizeof a.v); }
inline Int4 operator+(Int4 a, Int4 b) { return {a.v + b.v}; }
inline Int4 operator-(Int4 a, Int4 b) { return {a.v - b.v}; }
template <int k>
inline Int4 ShiftLeft(Int4 a) {
  return {a.v << k};
}
inline Int4 Truncate(Vec4 a) { return {__builtin_convertvector(a.v, Ints4)}; }
inline Vec4 ToFloat(Int4 a) { return {__builtin_convertvector(a.v, Floats4)}; }
inline Int4 AddWhereNegative(Int4 a, Int4 m) { return {a.v < 0 ? a.v + m.v : a.v}; }
inline Int4 ZeroWhereEqual(Int4 a, Int4 m) { return {a.v == m.v ? Ints4{} : a.v}; }
inline Mask4 InRange(Int4 a, int32_t n) { return {(a.v >= 0) & (a.v < n)}; }

#endif

// A mask known when compiling, by halves: lanes 0 and 1 set when kLow, lanes
// 2 and 3 when kHigh. Select with it takes at most one instruction.
template <bool kLow, bool kHigh>
struct HalvesMask {
  static constexpr bool kNone = !kLow && !kHigh, kAll = kLow && kHigh;
};
template <bool kLow, bool kHigh>
inline Vec4 Select(HalvesMask<kLow, kHigh>, Vec4 a, Vec4 b) {
  if constexpr (kLow && kHigh) return a;
  else if constexpr (kLow) return LowHalfOf(a, b);
  else if constexpr (kHigh) return LowHalfOf(b, a);
  else return b;
}

// 1 if d > 1, -1 if d < -1, otherwise d (NaN stays NaN), in every lane.
inline Vec4 ClipUnit(Vec4 d) { return Min(Splat(1.0f), Max(Splat(-1.0f), d)); }

}  // namespace velmor
