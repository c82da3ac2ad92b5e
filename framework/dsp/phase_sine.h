// The oscillator's sine: sin P taken in double precision on the widened
// single-precision phase and rounded back to single, for every float P.
//
// PhaseSine is the definition. PipelinedPhaseSines gives the same values for
// a run of phases, several to a vector: a short polynomial whose error is
// known gives sin P to about 2^-43; where the float that it rounds to cannot
// be told from that bound (a phase whose sine lies within the bound of a
// point halfway between two floats, about one phase in 2^19), the value is
// taken from PhaseSine. So every value is the correctly rounded one, on
// every platform and C runtime. The vectors are SSE2 (every x86-64
// processor has it) or, where the processor has it, AVX2, chosen once when
// the library is loaded, and NEON on 64-bit ARM; all give the same values,
// the correctly rounded ones.
#pragma once

#include "framework/platform.h"

#include <cstdint>
#include <utility>

#include "framework/cpu.h"
#include "framework/dsp/constants.h"
#include "framework/dsp/exact_math.h"

namespace velmor {

inline float PhaseSine(float P) { return static_cast<float>(exact::Sin(static_cast<double>(P))); }

namespace phase_sine_detail {

// pi in two parts: kPi1 has 33 significant bits, so k * kPi1 is exact for
// the k of every phase below 8, and P - k * kPi1 is exact too.
inline constexpr double kPi1 = 0x1.921fb54400000p+1;
inline constexpr double kPi2 = 0x1.0b4611a626331p-33;
inline constexpr double kInversePi = 0x1.45f306dc9c883p-2;
inline constexpr double kRound = 0x1.8p52;  // adding it rounds to an integer, kept in the low bits
// sin r = r + r z (c3 + z (c5 + ... + z c13)), z = r^2: the polynomial of
// degree 13 whose largest error relative to sin r over |r| <= pi/2 is least,
// about 2^-43.7 (the Taylor coefficients of the same degree give 2^-33).
inline constexpr double kC3 = -0x1.555555554713fp-3, kC5 = 0x1.1111110a55913p-7, kC7 = -0x1.a019fd5950619p-13,
                        kC9 = 0x1.71dcf84bdbf59p-19, kC11 = -0x1.ae03f8458db2ep-26, kC13 = 0x1.52dbece0e27b3p-33;
// The reduction and the rounding of the evaluation add a few units of 2^-53;
// 2^-42 of the result bounds the error with room to spare. In units of the
// 29 mantissa bits of a double below a float's, that is less than 2^11 (a
// double's last bit is at least 2^-53 of it); kMargin allows twice that.
inline constexpr uint32_t kMargin = 0x1000u;

// The vectors' phases: 0 <= P < kTwoPi (the float below it is the largest
// phase the oscillator makes), the range that the sweep of every float
// phase proves; any other phase takes the slow way.

// Phases of one pipelined run at most: each run fills and drains the
// stages of its vectors, and the longer the run, the less that costs.
inline constexpr int kRun = 256;

// The phases of a run whose value the vectors could not decide: a bit each.
struct UndecidedPhases {
  uint64_t words[kRun / 64] = {};

  bool Any() const {
    uint64_t any = 0;
    for (uint64_t w : words) any |= w;
    return any != 0;
  }
  // f(i) for each such phase i, in order.
  template <class F>
  void ForEach(F&& f) const {
    for (int w = 0; w < kRun / 64; ++w)
      for (uint64_t bits = words[w]; bits != 0; bits &= bits - 1) f(64 * w + __builtin_ctzll(bits));
  }
};

// The compiler's vector types of kLanes lanes.
template <int kLanes>
struct Lanes {
  typedef double Doubles __attribute__((vector_size(8 * kLanes)));
  typedef float Floats __attribute__((vector_size(4 * kLanes)));
  typedef int64_t Words __attribute__((vector_size(8 * kLanes)));
  typedef int32_t Flags __attribute__((vector_size(4 * kLanes)));
  typedef uint32_t Bits __attribute__((vector_size(4 * kLanes)));
  typedef uint32_t Halves __attribute__((vector_size(8 * kLanes)));  // each double as two words
};

// The phases widened to double, lane by lane, in one instruction. GCC 12
// splits its own conversion of these types into halves on AVX (two
// conversions and an insert, or a trip through the stack) and into scalar
// conversions on SSE2; that lengthened every vector's chain. The
// x86 instruction is written out here, so that it is taken whatever the
// compiler makes of the conversion; the values are the same, since
// widening is exact. Clang, which builds only the checked builds, makes one
// instruction of its own conversion (and refuses a 32-byte operand outside
// a function compiled for AVX).
template <int kLanes>
[[gnu::always_inline]] inline typename Lanes<kLanes>::Doubles Widen(const typename Lanes<kLanes>::Floats& f) {
  typename Lanes<kLanes>::Doubles d;
#if VELMOR_X86 && !defined(__clang__)
  if constexpr (kLanes == 2) {
    // The two floats in the low half of a 16-byte register.
    typedef float Floats4 __attribute__((vector_size(16)));
    const Floats4 wide = __builtin_shufflevector(f, f, 0, 1, 0, 1);
    __asm__("cvtps2pd %1, %0" : "=x"(d) : "x"(wide));
  } else {
    __asm__("vcvtps2pd %1, %0" : "=v"(d) : "v"(f));
  }
#else
  d = __builtin_convertvector(f, typename Lanes<kLanes>::Doubles);
#endif
  return d;
}

// One vector of sines, in three stages that a run overlaps across vectors
// (each stage of one vector beside the other stages of the vectors around
// it), so that no vector's long chain of operations waits on its own.
template <int kLanes>
struct SineStages {
  using Doubles = typename Lanes<kLanes>::Doubles;
  using Floats = typename Lanes<kLanes>::Floats;
  using Words = typename Lanes<kLanes>::Words;
  using Bits = typename Lanes<kLanes>::Bits;
  using Flags = typename Lanes<kLanes>::Flags;

  struct Reduced {
    Floats f;    // the phases
    Doubles r;   // P - k pi, |r| <= pi/2
    Words sign;  // the low bit of k, in the sign bit
  };

  // k = the nearest integer to P / pi, in the low bits of t (the kernels
  // run with rounding to nearest); r = P - k pi.
  [[gnu::always_inline]] static Reduced Reduce(const Floats& f) {
    const Doubles round = Doubles{} + kRound;
    const Doubles p = Widen<kLanes>(f);
    const Doubles t = p * kInversePi + round;
    const Doubles k = t - round;
    return {f, (p - k * kPi1) - k * kPi2, reinterpret_cast<Words>(t) << 63};
  }

  // sin P = (-1)^k sin r, to about 2^-43.7 of it.
  [[gnu::always_inline]] static Doubles Sine(const Reduced& a) {
    const Doubles r = a.r;
    const Doubles z = r * r;
    // c3 + c5 z + ... + c13 z^5 in Estrin's order: short chains of operations.
    const Doubles z2 = z * z;
    const Doubles z4 = z2 * z2;
    const Doubles q = ((z * kC5 + kC3) + z2 * (z * kC9 + kC7)) + z4 * (z * kC13 + kC11);
    const Doubles s = r + (r * z) * q;
    return reinterpret_cast<Doubles>(reinterpret_cast<Words>(s) ^ a.sign);
  }

  // out[0, kLanes) from s. A lane whose float could not be decided (or whose
  // phase f lies outside 0 <= P < 2pi) is 0 in `good`, all ones otherwise.
  // The float that s rounds to is the one sin P rounds to unless a point
  // halfway between two floats lies within the error bound of s. In a
  // double, such a point has 2^28 in the 29 mantissa bits below a float's
  // (for any value from the least normal float up; the sine of every phase
  // in range is 0 or above it), and the bound is below kMargin units of
  // those bits. So the low word of s tells, in integer operations beside
  // the rounding; a lane within kMargin of halfway takes the slow way.
  [[gnu::always_inline]] static Flags Decide(const Doubles& s, const Floats& f, float* out) {
    const Floats value = __builtin_convertvector(s, Floats);
    __builtin_memcpy(out, &value, sizeof value);
    // The low word of each double: the first of its two (x86 and ARM are
    // little-endian).
    const typename Lanes<kLanes>::Halves halves = reinterpret_cast<typename Lanes<kLanes>::Halves>(s);
    const Bits low = [&]<int... kLane>(std::integer_sequence<int, kLane...>) __attribute__((always_inline)) {
      return Bits(__builtin_shufflevector(halves, halves, 2 * kLane...));
    }(std::make_integer_sequence<int, kLanes>{});
    constexpr uint32_t kHalfway = 0x10000000u;
    const Bits undecided = ((low & 0x1FFFFFFFu) - (kHalfway - kMargin)) <= 2 * kMargin;
    // 0 <= P < 2pi: the bits of such a float, unsigned, are those below the
    // limit's (negative phases have the sign bit, NaNs lie above).
    const Bits limit = Bits{} + __builtin_bit_cast(uint32_t, kTwoPi);
    return ~reinterpret_cast<Flags>(undecided) & (reinterpret_cast<Bits>(f) < limit);
  }
};

// The sines of n phases (n at most kRun), a vector at a time. The phases
// come from next(), one call per phase, and are kept in P; after each
// vector is decided, consume(start, count) runs for the vector before it.
// So the phase recurrence, the three stages of the sines and the
// consumer's work (a recurrence too) all overlap. next() is called for
// whole vectors, up to kLanes - 1 places past n; P and out have room for
// them (kSinesPadding). Returns the phases whose value was not decided: the
// caller takes those from PhaseSine and does again what the consumer did
// with them.
template <int kLanes, class Next, class Consume>
[[gnu::always_inline]] inline UndecidedPhases PipelinedSines(Next& callerNext, float* P, float* out, int n,
                                                             Consume& caller) {
  using Stages = SineStages<kLanes>;
  using Floats = typename Stages::Floats;
  using Flags = typename Stages::Flags;
  Consume consume = caller;  // locals, kept in registers through the loop
  Next next = callerNext;
  auto phases = [&](float* into) __attribute__((always_inline)) {
    Floats f;
    for (int lane = 0; lane < kLanes; ++lane) f[lane] = next();
    __builtin_memcpy(into, &f, sizeof f);
    return f;
  };
  // Vector j is decided one vector before the consumer comes to it; its
  // sine was taken one vector before that, and its phases reduced one more.
  int32_t goodFlags[kRun + kLanes];
  Flags allGood = Flags{} - 1, good;
  typename Stages::Reduced reduced = Stages::Reduce(phases(P));
  typename Stages::Doubles sine = Stages::Sine(reduced);
  Floats sineF = reduced.f;
  reduced = Stages::Reduce(phases(P + kLanes));
  // The step that decides vector `at`. Near the end of the run (`last`),
  // a stage runs only for a vector with phases below n.
  auto step = [&](int at, bool last) __attribute__((always_inline)) {
    if (!last || at < n) {
      good = Stages::Decide(sine, sineF, out + at);
      __builtin_memcpy(goodFlags + at, &good, sizeof good);
      allGood &= good;
    }
    if (!last || at + kLanes < n) {
      sine = Stages::Sine(reduced);
      sineF = reduced.f;
    }
    if (!last || at + 2 * kLanes < n) reduced = Stages::Reduce(phases(P + at + 2 * kLanes));
  };
  step(0, true);
  // Whole vectors, whose count the consumer knows when it is compiled,
  // then the rest: the last vector's stages were all made by then.
  int start = 0;
  for (; start + 3 * kLanes < n; start += kLanes) {
    step(start + kLanes, false);
    consume(start, kLanes);
  }
  for (; start + kLanes <= n; start += kLanes) {
    step(start + kLanes, true);
    consume(start, kLanes);
  }
  if (start < n) consume(start, n - start);
  caller = consume;
  callerNext = next;
  bool bad = false;
  for (int lane = 0; lane < kLanes; ++lane) bad = bad || allGood[lane] == 0;
  UndecidedPhases pending;
  if (bad)
    for (int j = 0; j < n; ++j)
      if (goodFlags[j] == 0) pending.words[j / 64] |= uint64_t{1} << (j % 64);
  return pending;
}

// Two lanes of double: SSE2 on x86-64, NEON on 64-bit ARM.
template <class Next, class Consume>
inline UndecidedPhases Sines16(Next& next, float* P, float* out, int n, Consume& consume) {
  return PipelinedSines<2>(next, P, out, n, consume);
}
#if VELMOR_X86
template <class Next, class Consume>
__attribute__((target("avx2"))) inline UndecidedPhases Avx2Sines(Next& next, float* P, float* out, int n,
                                                                 Consume& consume) {
  return PipelinedSines<4>(next, P, out, n, consume);
}
#endif

inline constexpr int kSinesPadding = 4;  // phases are made for whole vectors, up to 3 places past n

}  // namespace phase_sine_detail

using phase_sine_detail::kSinesPadding;
using phase_sine_detail::UndecidedPhases;

// The sines of n phases (n at most kRun) from next() into out, the phases into
// P, with the consumer's work on each vector overlapping the next vector's
// sines; see PipelinedSines. P and out have kSinesPadding more places.
template <class Next, class Consume>
inline UndecidedPhases PipelinedPhaseSines(Next& next, float* P, float* out, int n, Consume& consume) {
  using namespace phase_sine_detail;
#if VELMOR_X86
  // Four lanes at AVX-512 too: the consumer's recurrence sets the pace, and
  // runs of eight-lane vectors take longer to fill and drain.
  if (gVectorLevel >= VectorLevel::kAvx2) return Avx2Sines(next, P, out, n, consume);
#endif
  return Sines16(next, P, out, n, consume);
}

}  // namespace velmor
