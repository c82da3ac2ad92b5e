// Four lanes for each of the two channels, as one type with one set of
// operations, so that a kernel is written once for every instruction set:
//
//   Stereo4   two Vec4, one per channel: SSE2 on x86-64, plain floats
//             elsewhere
//   Stereo8   one eight-lane vector, channel 0 in lanes 0-3 and channel 1 in
//             lanes 4-7 (the compiler's vector type: AVX instructions inside
//             a function compiled for AVX, see wavefront.h)
//
// Every operation works within a channel's four lanes, and each lane computes
// exactly what scalar code computes: IEEE products, sums and differences
// rounded to single precision, nothing contracted, nothing reordered. So a
// kernel gives the same bits with either type.
#pragma once

#include <cstdint>

#include "framework/dsp/vec4.h"
#include "framework/platform.h"

#if VELMOR_X86
#include <immintrin.h>
#endif

// Every function of a kernel's lane work is inlined into the function that
// chose the instruction set, so that it is compiled for that set.
#define VELMOR_LANES [[gnu::always_inline]] inline
#define VELMOR_LANES_LAMBDA __attribute__((always_inline))

namespace velmor {

// A channel's value of one lane of each channel.
struct LanePair {
  float ch0, ch1;
};

// Two Vec4, channel 0 in c0 and channel 1 in c1.
struct Stereo4 {
  Vec4 c0, c1;
};
struct Stereo4Mask {
  Mask4 m;
};

// Channel c of a Stereo4.
template <int c>
VELMOR_LANES Vec4& Channel(Stereo4& a) {
  return c == 0 ? a.c0 : a.c1;
}

VELMOR_LANES Stereo4 operator+(Stereo4 a, Stereo4 b) { return {a.c0 + b.c0, a.c1 + b.c1}; }
VELMOR_LANES Stereo4 operator-(Stereo4 a, Stereo4 b) { return {a.c0 - b.c0, a.c1 - b.c1}; }
VELMOR_LANES Stereo4 operator*(Stereo4 a, Stereo4 b) { return {a.c0 * b.c0, a.c1 * b.c1}; }
// Lanes set in the mask come from a, the others from b.
VELMOR_LANES Stereo4 Select(Stereo4Mask m, Stereo4 a, Stereo4 b) {
  return {Select(m.m, a.c0, b.c0), Select(m.m, a.c1, b.c1)};
}
// 1 above 1, -1 below -1, NaN stays NaN.
VELMOR_LANES Stereo4 ClipUnit(Stereo4 a) { return {ClipUnit(a.c0), ClipUnit(a.c1)}; }
// Per channel [x, a0, b1, b1].
VELMOR_LANES Stereo4 Chain3(float x0, float x1, Stereo4 a, Stereo4 b) {
  return {Chain3(x0, a.c0, b.c0), Chain3(x1, a.c1, b.c1)};
}

// The compiler's eight-lane vector, channel 0 in lanes 0-3: held as the bare
// vector type, so that it stays in one register. Its functions are always
// inlined into a function compiled for AVX, so no call passes it by value.
typedef float Stereo8 __attribute__((vector_size(32)));
typedef int32_t Stereo8Mask __attribute__((vector_size(32)));

VELMOR_LANES Stereo8 Select(Stereo8Mask m, Stereo8 a, Stereo8 b) { return m ? a : b; }
// max(-1, d) then min(1, .), each keeping its second operand when its
// comparison fails, so NaN stays NaN. On x86 the instructions themselves (the
// compiler spells the comparisons as compares and blends): compiled for AVX
// and not forced inline, so that GCC inlines it once the kernel's lane work is
// inside the function compiled for AVX. Clang, which builds only the checked
// builds, refuses such a call and takes the comparisons.
#if VELMOR_X86 && !defined(__clang__)
__attribute__((target("avx"))) inline Stereo8 ClipUnit(Stereo8 a) {
  return Stereo8(_mm256_min_ps(_mm256_set1_ps(1.0f), _mm256_max_ps(_mm256_set1_ps(-1.0f), __m256(a))));
}
#else
VELMOR_LANES Stereo8 ClipUnit(Stereo8 a) {
  const Stereo8 one = Stereo8{} + 1.0f, minusOne = Stereo8{} - 1.0f;
  const Stereo8 high = minusOne > a ? minusOne : a;
  return one < high ? one : high;
}
#endif
// Per channel [x, a0, a1, a2].
VELMOR_LANES Stereo8 ShiftIn(float x0, float x1, Stereo8 a) {
  const Stereo8 x = {x0, 0, 0, 0, x1, 0, 0, 0};
  return __builtin_shufflevector(a, x, 8, 0, 1, 2, 12, 4, 5, 6);
}
// Per channel [b3, a0, a1, a2].
VELMOR_LANES Stereo8 ShiftInLast(Stereo8 b, Stereo8 a) { return __builtin_shufflevector(a, b, 11, 0, 1, 2, 15, 4, 5, 6); }
// Per channel [x, a0, b1, b1].
VELMOR_LANES Stereo8 Chain3(float x0, float x1, Stereo8 a, Stereo8 b) {
  const Stereo8 x = {x0, 0, 0, 0, x1, 0, 0, 0};
  const Stereo8 ab = __builtin_shufflevector(a, b, 0, 0, 9, 9, 4, 4, 13, 13);
  return __builtin_shufflevector(ab, x, 8, 1, 2, 3, 12, 5, 6, 7);
}

// What the two types do alike but spell apart: loads and stores of each
// channel's four lanes, constants, masks and single lanes.
template <class V>
struct Lanes;

template <>
struct Lanes<Stereo4> {
  using Mask = Stereo4Mask;
  // Load and Store: each channel's lanes 16-byte aligned.
  VELMOR_LANES static Stereo4 Load(const float (&ch0)[4], const float (&ch1)[4]) {
    return {LoadAligned(ch0), LoadAligned(ch1)};
  }
  VELMOR_LANES static void Store(Stereo4 a, float (&ch0)[4], float (&ch1)[4]) {
    StoreAligned(ch0, a.c0);
    StoreAligned(ch1, a.c1);
  }
  VELMOR_LANES static Stereo4 Splat(float a) { return {velmor::Splat(a), velmor::Splat(a)}; }
  VELMOR_LANES static Stereo4 Zero() { return {velmor::Zero(), velmor::Zero()}; }
  // The lanes set, the same in both channels.
  VELMOR_LANES static Mask MaskOf(bool l0, bool l1, bool l2, bool l3) { return {velmor::MaskOf(l0, l1, l2, l3)}; }
  // The lanes, the same in both channels, where t - offset of the lane lies in [0, n).
  VELMOR_LANES static Mask Counting(int32_t t, int32_t o0, int32_t o1, int32_t o2, int32_t o3, int32_t n) {
    return {InRange(SplatInt(t) - SetInt(o0, o1, o2, o3), n)};
  }
  template <int k>
  VELMOR_LANES static LanePair LaneOfEach(Stereo4 a) {
    return {Lane<k>(a.c0), Lane<k>(a.c1)};
  }
};

template <>
struct Lanes<Stereo8> {
  using Mask = Stereo8Mask;
  VELMOR_LANES static Stereo8 Load(const float (&ch0)[4], const float (&ch1)[4]) {
    return Stereo8{ch0[0], ch0[1], ch0[2], ch0[3], ch1[0], ch1[1], ch1[2], ch1[3]};
  }
  VELMOR_LANES static void Store(Stereo8 a, float (&ch0)[4], float (&ch1)[4]) {
    for (int i = 0; i < 4; ++i) ch0[i] = a[i], ch1[i] = a[4 + i];
  }
  // A broadcast, not 0 + a, which would turn -0 into +0.
  VELMOR_LANES static Stereo8 Splat(float a) { return Stereo8{a, a, a, a, a, a, a, a}; }
  VELMOR_LANES static Stereo8 Zero() { return Stereo8{}; }
  VELMOR_LANES static Mask MaskOf(bool l0, bool l1, bool l2, bool l3) {
    const int32_t a = -int32_t{l0}, b = -int32_t{l1}, c = -int32_t{l2}, d = -int32_t{l3};
    return Mask{a, b, c, d, a, b, c, d};
  }
  // One channel's four lanes (AVX has no eight-lane integer comparison),
  // then the same mask for the other channel.
  VELMOR_LANES static Mask Counting(int32_t t, int32_t o0, int32_t o1, int32_t o2, int32_t o3, int32_t n) {
    typedef int32_t Ints4 __attribute__((vector_size(16)));
    const Ints4 in = reinterpret_cast<Ints4>(Lanes<Stereo4>::Counting(t, o0, o1, o2, o3, n).m.m);
    return __builtin_shufflevector(in, in, 0, 1, 2, 3, 0, 1, 2, 3);
  }
  template <int k>
  VELMOR_LANES static LanePair LaneOfEach(Stereo8 a) {
    return {a[k], a[4 + k]};
  }
};

}  // namespace velmor
