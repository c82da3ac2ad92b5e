// Samples that are NaN or infinite: all exponent bits set. A block whose
// output holds one would poison the histories and lines of every later block,
// so the frame looks for them after each block.
#pragma once

#include <cstdint>
#include <cstring>

#include "framework/cpu.h"
#include "framework/platform.h"

namespace velmor {

inline bool NotFinite(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7F800000u) == 0x7F800000u;
}

// The exponent bits of x plus one in their lowest place: the top bit is set
// exactly when x is NaN or infinite. ORed over the values of a loop (which
// the compiler then runs several lanes at once), it tells whether any of
// them was, with no second pass over the values.
inline uint32_t NotFiniteFlag(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7F800000u) + 0x00800000u;
}
inline bool AnyNotFiniteFlag(uint32_t flags) { return (flags >> 31) != 0; }

// Whether the last frame of a block of `count` is NaN or infinite: all a
// kernel needs to look at when its output, once not finite, stays so.
inline bool LastNotFinite(const float* ch0, const float* ch1, int32_t count) {
  return count > 0 && (NotFinite(ch0[count - 1]) || NotFinite(ch1[count - 1]));
}

namespace non_finite_detail {

// True when any value of either channel is NaN or infinite (all exponent
// bits set), looked at kBytes at a time.
template <int kBytes>
struct WordVector;
template <>
struct WordVector<16> {
  typedef uint32_t Type __attribute__((vector_size(16)));
};
template <>
struct WordVector<32> {
  typedef uint32_t Type __attribute__((vector_size(32)));
};
template <>
struct WordVector<64> {
  typedef uint32_t Type __attribute__((vector_size(64)));
};

template <int kBytes>
[[gnu::always_inline]] inline bool AnyNotFiniteIn(const float* ch0, const float* ch1, int32_t count) {
  using Words = typename WordVector<kBytes>::Type;
  constexpr int kLanes = kBytes / 4;
  constexpr uint32_t kExponent = 0x7F800000u;
  Words found{};
  uint32_t tail = 0;
  for (const float* samples : {ch0, ch1}) {
    int32_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
      Words bits;
      std::memcpy(&bits, samples + i, sizeof bits);
      found |= (bits & kExponent) == kExponent;
    }
    for (; i < count; ++i) {
      uint32_t bits;
      std::memcpy(&bits, &samples[i], sizeof bits);
      tail |= static_cast<uint32_t>((bits & kExponent) == kExponent);
    }
  }
  for (int lane = 0; lane < kLanes; ++lane) tail |= found[lane];
  return tail != 0;
}

// Sixteen bytes at a time: SSE2 on x86-64, NEON on 64-bit ARM.
inline bool AnyNotFinite16(const float* ch0, const float* ch1, int32_t count) {
  return AnyNotFiniteIn<16>(ch0, ch1, count);
}
#if VELMOR_X86
__attribute__((target("avx2"))) inline bool AnyNotFiniteAvx2(const float* ch0, const float* ch1, int32_t count) {
  return AnyNotFiniteIn<32>(ch0, ch1, count);
}
__attribute__((target("avx512f"))) inline bool AnyNotFiniteAvx512(const float* ch0, const float* ch1,
                                                                  int32_t count) {
  return AnyNotFiniteIn<64>(ch0, ch1, count);
}
#endif

}  // namespace non_finite_detail

// Whether any of `count` samples of either channel is NaN or infinite, in
// the widest vectors this processor has.
inline bool AnyNotFinite(const float* ch0, const float* ch1, int32_t count) {
  using namespace non_finite_detail;
#if VELMOR_X86
  if (gVectorLevel == VectorLevel::kAvx512) return AnyNotFiniteAvx512(ch0, ch1, count);
  if (gVectorLevel == VectorLevel::kAvx2) return AnyNotFiniteAvx2(ch0, ch1, count);
#endif
  return AnyNotFinite16(ch0, ch1, count);
}

}  // namespace velmor
