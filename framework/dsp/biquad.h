// A second-order filter section and its three coefficient designs.
//
// Sample arithmetic and stored values are single precision; sin, cos, sinh
// and the power of 10 are taken in double precision on widened
// single-precision arguments, correctly rounded (exact_math.h). Every
// rounding point below is part of the behaviour: the results are compared bit
// for bit, so no expression may be reordered or contracted.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "framework/dsp/constants.h"
#include "framework/dsp/exact_math.h"

namespace velmor {

// Ten floats: the coefficients as designed (not divided by a0) and the history.
// The default value is the identity section, which passes its input unchanged.
struct BiquadSection {
  float a0 = 1.0f, a1 = 0.0f, a2 = 0.0f;  // denominator (feedback)
  float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f;  // numerator (feed-forward)
  float y1 = 0.0f, y2 = 0.0f;             // previous outputs
  float x1 = 0.0f, x2 = 0.0f;             // previous inputs
};
static_assert(sizeof(BiquadSection) == 10 * sizeof(float));

inline void ClearHistory(BiquadSection& s) { s.y1 = s.y2 = s.x1 = s.x2 = 0.0f; }

// One sample after another through the section, with the five quotients
// formed once for a block whose coefficients do not change. Division is
// deterministic, so the outputs are those of the plain ProcessBiquadSample
// (plain_dsp.h), which divides at every sample, bit for bit. Held in a local for the block so the
// history stays in registers; Store() hands the history back to the section.
struct BiquadRunner {
  float q0, q1, q2, q3, q4;
  float x1, x2, y1, y2;

  explicit BiquadRunner(const BiquadSection& s)
      : q0(s.b0 / s.a0), q1(s.b1 / s.a0), q2(s.b2 / s.a0), q3(s.a1 / s.a0), q4(s.a2 / s.a0),
        x1(s.x1), x2(s.x2), y1(s.y1), y2(s.y2) {}

  float Process(float x) {
    const float y = q0 * x + q1 * x1 + q2 * x2 - q3 * y1 - q4 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }

  void Store(BiquadSection& s) const {
    s.x1 = x1;
    s.x2 = x2;
    s.y1 = y1;
    s.y2 = y2;
  }
};

// The inputs of a design as it was last made. A design whose inputs have not
// changed gives the same bits, so a block whose inputs are those of the
// block before skips it.
template <size_t N>
class DesignMemo {
 public:
  using Key = std::array<uint32_t, N>;
  // True, and the inputs remembered, when they differ bit for bit from the
  // last ones (or there were none).
  bool Changed(const Key& key) {
    if (valid_ && key == key_) return false;
    key_ = key;
    valid_ = true;
    return true;
  }

 private:
  Key key_{};
  bool valid_ = false;
};

// The bit patterns of a design's inputs (floats and 32-bit integers).
template <class... T>
std::array<uint32_t, sizeof...(T)> DesignKey(T... values) {
  static_assert(((sizeof(T) == 4) && ...));
  std::array<uint32_t, sizeof...(T)> key{};
  size_t i = 0;
  ((std::memcpy(&key[i++], &values, 4)), ...);
  return key;
}

// A section's coefficients, without its history.
inline void CopyCoefficients(const BiquadSection& from, BiquadSection& to) {
  to.a0 = from.a0, to.a1 = from.a1, to.a2 = from.a2;
  to.b0 = from.b0, to.b1 = from.b1, to.b2 = from.b2;
}

namespace biquad_detail {

inline constexpr double kHalfLn2 = 0.34657359027997264;        // ln(2) * 0.5
inline constexpr float kLowestFrequency = 1.0f;                // Hz
inline constexpr float kHighestFrequencyRatio = 0.49f;         // of the sample rate
inline constexpr float kSmallestWidth = 0.001f;                // Q or octaves

// Keeps every design stable: the frequency between 1 Hz and 0.49 times the
// sample rate, Q and bandwidth above zero. Values inside those bounds, which
// is every normal setting, pass unchanged.
inline float LimitFrequency(float f, float fs) {
  if (!(f >= kLowestFrequency)) f = kLowestFrequency;
  const float highest = fs * kHighestFrequencyRatio;
  if (f > highest) f = highest;
  return f;
}

inline float LimitWidth(float q) { return q > 0.0f ? q : kSmallestWidth; }

// A sample rate that is not positive describes no filter at all.
inline bool UsableRate(float fs) { return fs > 0.0f && std::isfinite(fs); }

inline void SetIdentity(BiquadSection& s) {
  s.a0 = 1.0f;
  s.a1 = 0.0f;
  s.a2 = 0.0f;
  s.b0 = 1.0f;
  s.b1 = 0.0f;
  s.b2 = 0.0f;
}

// w0 = (f * 2pi) / fs in single precision, the product first, widened.
inline double AngularFrequency(float f, float fs) {
  const float w = f * kTwoPi;
  return static_cast<double>(w / fs);
}

}  // namespace biquad_detail

// The double-precision functions the designs take: ours, correctly rounded.
// The designs take any type with the same members; the proof that ours give
// the C library's coefficients runs them with the C library's.
struct ExactMath {
  static double Sin(double x) { return exact::Sin(x); }
  static double Cos(double x) { return exact::Cos(x); }
  static double Sinh(double x) { return exact::Sinh(x); }
  static double Pow10(double x) { return exact::Pow10(x); }
};

// The part of a design that depends on the frequency and the rate only: w0,
// sin w0 and cos w0. `usable` is false for a rate that describes no filter.
struct DesignTrig {
  double w0 = 0.0, sinW0 = 0.0, cosW0 = 0.0;
  bool usable = false;
};

template <class Math = ExactMath>
inline DesignTrig MakeDesignTrig(float f, float fs) {
  using namespace biquad_detail;
  DesignTrig trig;
  if (!UsableRate(fs)) return trig;
  trig.w0 = AngularFrequency(LimitFrequency(f, fs), fs);
  trig.sinW0 = Math::Sin(trig.w0);
  trig.cosW0 = Math::Cos(trig.w0);
  trig.usable = true;
  return trig;
}

// The low-pass and high-pass designs share everything but the numerator.
template <bool kHighPass>
inline void SetPassCoefficients(BiquadSection& s, const DesignTrig& trig, float q) {
  using namespace biquad_detail;
  if (!trig.usable) return SetIdentity(s);
  const float twoQ = LimitWidth(q) + LimitWidth(q);
  const float alpha = static_cast<float>(trig.sinW0 / static_cast<double>(twoQ));
  s.a0 = alpha + 1.0f;
  s.a2 = 1.0f - alpha;
  s.a1 = static_cast<float>(trig.cosW0 * -2.0);
  if constexpr (kHighPass) {
    const double u = trig.cosW0 + 1.0;
    s.b0 = s.b2 = static_cast<float>(u * 0.5);
    s.b1 = static_cast<float>(-u);
  } else {
    const double t = 1.0 - trig.cosW0;
    s.b0 = s.b2 = static_cast<float>(t * 0.5);
    s.b1 = static_cast<float>(t);
  }
}

// The rest of the peaking design: bandwidth in octaves, gain in dB.
template <class Math = ExactMath>
inline void SetPeakingCoefficients(BiquadSection& s, const DesignTrig& trig, float bandwidth, float gainDb) {
  using namespace biquad_detail;
  if (!trig.usable) return SetIdentity(s);
  double t = kHalfLn2 * static_cast<double>(LimitWidth(bandwidth));
  t = t * trig.w0;
  t = t / trig.sinW0;
  const float alpha = static_cast<float>(Math::Sinh(t) * trig.sinW0);
  const float A = static_cast<float>(Math::Pow10(static_cast<double>(gainDb / 40.0f)));
  s.a0 = alpha / A + 1.0f;
  s.a2 = 1.0f - alpha / A;
  s.b0 = alpha * A + 1.0f;
  s.b2 = 1.0f - alpha * A;
  s.a1 = s.b1 = static_cast<float>(trig.cosW0 * -2.0);
}

// Peaking band: centre f0 in Hz, bandwidth in octaves, gain in dB, rate in Hz.
// Writes the six coefficients; the history is left alone.
template <class Math = ExactMath>
inline void SetPeakingCoefficients(BiquadSection& s, float f0, float bandwidth, float gainDb, float fs) {
  SetPeakingCoefficients<Math>(s, MakeDesignTrig<Math>(f0, fs), bandwidth, gainDb);
}

// Low-pass: cutoff in Hz, quality factor, rate in Hz. The history is left alone.
template <class Math = ExactMath>
inline void SetLowPassCoefficients(BiquadSection& s, float f, float q, float fs) {
  SetPassCoefficients<false>(s, MakeDesignTrig<Math>(f, fs), q);
}

// High-pass: cutoff in Hz, quality factor, rate in Hz. The history is left alone.
template <class Math = ExactMath>
inline void SetHighPassCoefficients(BiquadSection& s, float f, float q, float fs) {
  SetPassCoefficients<true>(s, MakeDesignTrig<Math>(f, fs), q);
}

}  // namespace velmor
