// The double-precision sin, cos, sinh and powers of 2 and 10 that the designs
// and the oscillator use, correctly rounded and written here, so that every
// platform computes the same bits: the Windows DLLs do not depend on the C
// runtime they run on.
//
// Each function is evaluated in double-double arithmetic (about 100 bits)
// and rounded once to double. Products are split exactly (Dekker), so the
// code needs no fused multiply-add and must not be compiled with one.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace velmor::exact {

// An unevaluated sum hi + lo with |lo| at most half an ulp of hi.
struct DoubleDouble {
  double hi = 0.0, lo = 0.0;
};

namespace detail {

using DD = DoubleDouble;

// a + b exactly.
inline DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// a + b exactly, when |a| >= |b|.
inline DD QuickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a * b exactly (for |a|, |b| below about 2^996).
inline DD TwoProduct(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double p = a * b;
  const double ta = kSplitter * a, tb = kSplitter * b;
  const double ah = ta - (ta - a), al = a - ah;
  const double bh = tb - (tb - b), bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

inline DD Add(DD a, DD b) {
  DD s = TwoSum(a.hi, b.hi);
  const DD t = TwoSum(a.lo, b.lo);
  s.lo = s.lo + t.hi;
  s = QuickTwoSum(s.hi, s.lo);
  s.lo = s.lo + t.lo;
  return QuickTwoSum(s.hi, s.lo);
}

inline DD Negate(DD a) { return {-a.hi, -a.lo}; }

inline DD Multiply(DD a, DD b) {
  DD p = TwoProduct(a.hi, b.hi);
  p.lo = p.lo + (a.hi * b.lo + a.lo * b.hi);
  return QuickTwoSum(p.hi, p.lo);
}

inline DD Multiply(DD a, double b) {
  DD p = TwoProduct(a.hi, b);
  p.lo = p.lo + a.lo * b;
  return QuickTwoSum(p.hi, p.lo);
}

inline DD Divide(DD a, DD b) {
  const double q1 = a.hi / b.hi;
  DD r = Add(a, Negate(Multiply(b, q1)));
  const double q2 = r.hi / b.hi;
  r = Add(r, Negate(Multiply(b, q2)));
  const double q3 = r.hi / b.hi;
  return Add(QuickTwoSum(q1, q2), DD{q3, 0.0});
}

inline DD Scale(DD a, int exponent) { return {std::ldexp(a.hi, exponent), std::ldexp(a.lo, exponent)}; }

// Constants to about 160 bits, as sums of three doubles.
inline constexpr double kHalfPi[3] = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54, -0x1.f1976b7ed8fbcp-110};
inline constexpr double kLn2[3] = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56, 0x1.7b57a079a1934p-111};
inline constexpr double kLn10[3] = {0x1.26bb1bbb55516p+1, -0x1.f48ad494ea3e9p-53, -0x1.9ebae3ae0260cp-107};
inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
inline constexpr double kOneOverLn2 = 0x1.71547652b82fep+0;

// 1/n! for n = 0 to 31.
inline constexpr DD kInverseFactorial[32] = {
    {0x1.0000000000000p+0, 0x0.0p+0},          {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.0000000000000p-1, 0x0.0p+0},          {0x1.5555555555555p-3, 0x1.5555555555555p-57},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},  {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},   {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {0x1.27e4fb7789f5cp-22, 0x1.cbbc05b4fa99ap-76},   {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},  {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {0x1.93974a8c07c9dp-37, 0x1.05d6f8a2efd1fp-92},   {0x1.ae7f3e733b81fp-41, 0x1.1d8656b0ee8cbp-97},
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},  {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
    {0x1.6827863b97d97p-53, 0x1.eec01221a8b0bp-107},  {0x1.2f49b46814157p-57, 0x1.2650f61dbdcb4p-112},
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},  {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},
    {0x1.0ce396db7f853p-70, -0x1.aebcdbd20331cp-124}, {0x1.761b41316381ap-75, -0x1.3423c7d91404fp-130},
    {0x1.f2cf01972f578p-80, -0x1.9ada5fcc1ab14p-135}, {0x1.3f3ccdd165fa9p-84, -0x1.58ddadf344487p-139},
    {0x1.88e85fc6a4e5ap-89, -0x1.71c37ebd16540p-143}, {0x1.d1ab1c2dccea3p-94, 0x1.054d0c78aea14p-149},
    {0x1.0a18a2635085dp-98, 0x1.b9e2e28e1aa54p-153},  {0x1.259f98b4358adp-103, 0x1.eaf8c39dd9bc5p-157},
    {0x1.3932c5047d60ep-108, 0x1.832b7b530a627p-162}, {0x1.434d2e783f5bcp-113, 0x1.0b87b91be9affp-167},
};

// x - k * c for a constant c given as three doubles.
inline DD SubtractMultiple(DD x, double k, const double (&c)[3]) {
  x = Add(x, Negate(TwoProduct(k, c[0])));
  x = Add(x, Negate(TwoProduct(k, c[1])));
  return Add(x, DD{-(k * c[2]), 0.0});
}

// sum of kInverseFactorial[first + step * i] * z^i, i = 0 to count - 1, by Horner.
inline DD Series(DD z, int first, int step, int count) {
  DD sum = kInverseFactorial[first + step * (count - 1)];
  for (int i = count - 2; i >= 0; --i) sum = Add(Multiply(sum, z), kInverseFactorial[first + step * i]);
  return sum;
}

// sin r and cos r for |r| <= pi/4 (and a little beyond): Taylor series to
// the terms below 2^-110.
inline DD SinReduced(DD r) { return Multiply(Series(Negate(Multiply(r, r)), 1, 2, 15), r); }
inline DD CosReduced(DD r) { return Series(Negate(Multiply(r, r)), 0, 2, 16); }

// sin and cos of x reduced to r = x - k * pi/2, |r| <= pi/4; the quadrant
// is k mod 4. Below 2^25, k pi/2 is subtracted in three parts; from there on
// the product with 2/pi is formed from the bits that matter.
struct Reduced {
  DD r;
  int quadrant;
};

// 2/pi in binary, 64 bits a word, the most significant first: enough bits
// for the reduction of any finite double.
inline constexpr uint64_t kTwoOverPiBits[21] = {
    0xA2F9836E4E441529ULL, 0xFC2757D1F534DDC0ULL, 0xDB6295993C439041ULL, 0xFE5163ABDEBBC561ULL,
    0xB7246E3A424DD2E0ULL, 0x06492EEA09D1921CULL, 0xFE1DEB1CB129A73EULL, 0xE88235F52EBB4484ULL,
    0xE99C7026B45F7E41ULL, 0x3991D639835339F4ULL, 0x9C845F8BBDF9283BULL, 0x1FF897FFDE05980FULL,
    0xEF2F118B5A0A6D1FULL, 0x6D367ECF27CB09B7ULL, 0x4F463F669E5FEA2DULL, 0x7527BAC7EBE5F17BULL,
    0x3D0739F78A5292EAULL, 0x6BFB5FB11F8D5D08ULL, 0x56033046FC7B6BABULL, 0xF0CFBC209AF4361DULL,
    0xA9E391615EE61B08ULL,
};

// The reduction of a large |x| (2^25 and above) with the bits of 2/pi that
// matter (Payne and Hanek): |x| = m 2^e with m a 53-bit integer, and the
// terms of m 2^e (2/pi) that are multiples of 4 are never formed.
inline Reduced ReduceLarge(double x) {
  int exponent = 0;
  const double mantissa = std::frexp(std::fabs(x), &exponent);
  const auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
  const int e = exponent - 53;  // |x| = m 2^e
  // Bit i of 2/pi weighs 2^-i; bits with e - i >= 2 only add multiples of 4.
  const int first = e - 1 > 1 ? e - 1 : 1;
  const int word = (first - 1) / 64;
  // The product of m and the 256 bits from that word on, in five limbs, the
  // least significant first; its lowest `point` bits are the fraction.
  uint64_t p[5];
  unsigned __int128 carry = 0;
  for (int k = 0; k < 4; ++k) {
    const unsigned __int128 t = static_cast<unsigned __int128>(m) * kTwoOverPiBits[word + 3 - k] + carry;
    p[k] = static_cast<uint64_t>(t);
    carry = t >> 64;
  }
  p[4] = static_cast<uint64_t>(carry);
  const int point = 64 * word + 256 - e;  // 191 to 283
  auto bits = [&](int from) {  // the 64 bits of the product from bit `from` up
    const int limb = from / 64, shift = from % 64;
    uint64_t v = p[limb] >> shift;
    if (shift != 0 && limb + 1 < 5) v |= p[limb + 1] << (64 - shift);
    return v;
  };
  int quadrant = static_cast<int>(bits(point) & 3);
  unsigned __int128 f = (static_cast<unsigned __int128>(bits(point - 64)) << 64) | bits(point - 128);
  bool negative = false;
  if (f >> 127) {  // a fraction of 1/2 or more: r = (f - 1) pi/2 in the next quadrant
    f = -f;
    negative = true;
    quadrant = (quadrant + 1) & 3;
  }
  DD r{0.0, 0.0};
  if (f != 0) {
    int shift = 0;
    while (!(f >> 127)) f <<= 1, ++shift;
    const double hi = std::ldexp(static_cast<double>(static_cast<uint64_t>(f >> 75)), 75 - 128 - shift);
    const double lo = std::ldexp(static_cast<double>(static_cast<uint64_t>(f >> 22) & ((uint64_t{1} << 53) - 1)),
                                 22 - 128 - shift);
    r = Multiply(QuickTwoSum(hi, lo), DD{kHalfPi[0], kHalfPi[1]});
  }
  if (negative) r = Negate(r);
  if (x < 0) {
    r = Negate(r);
    quadrant = (4 - quadrant) & 3;
  }
  return {r, quadrant};
}

inline Reduced ReduceHalfPi(double x) {
  if (std::fabs(x) >= 0x1p25) return ReduceLarge(x);
  const double k = std::nearbyint(x * kTwoOverPi);
  const DD r = SubtractMultiple(DD{x, 0.0}, k, kHalfPi);
  const auto quadrant = static_cast<int>(static_cast<int64_t>(k) & 3);
  return {r, quadrant};
}

// exp of a double-double argument, as a double-double: x = k ln 2 + r,
// exp(r / 1024) by its series, then squared ten times as 1 + u.
inline DD ExpDD(DD x) {
  const double k = std::nearbyint(x.hi * kOneOverLn2);
  const DD r = Scale(SubtractMultiple(x, k, kLn2), -10);
  const DD z = Series(r, 1, 1, 9);
  DD u = Multiply(z, r);  // exp(r) - 1
  for (int i = 0; i < 10; ++i) u = Add(Scale(u, 1), Multiply(u, u));  // (1 + u)^2 - 1
  return Scale(Add(DD{1.0, 0.0}, u), static_cast<int>(k));
}

inline constexpr double kExpOverflow = 709.782712893384;   // exp(x) above DBL_MAX beyond this
inline constexpr double kExpUnderflow = -745.1332191019412;  // exp(x) below half the least subnormal

inline double ExpOf(DD x) {
  if (std::isnan(x.hi)) return x.hi;
  if (x.hi > kExpOverflow) return std::numeric_limits<double>::infinity();
  if (x.hi < kExpUnderflow) return 0.0;
  if (x.hi < -708.0) {
    // Near the subnormal range: scale the result in two steps so that it is
    // rounded once, when it becomes subnormal.
    const DD e = ExpDD(Add(x, DD{64.0 * kLn2[0], 64.0 * kLn2[1]}));
    return std::ldexp(e.hi + e.lo, -64);
  }
  const DD e = ExpDD(x);
  return e.hi + e.lo;
}

}  // namespace detail

// sin x, correctly rounded.
inline double Sin(double x) {
  using namespace detail;
  if (!std::isfinite(x)) return x - x;
  if (std::fabs(x) < 0x1p-27) return x;  // sin x = x - x^3/6 rounds to x
  const Reduced red = ReduceHalfPi(x);
  DD v = red.quadrant % 2 == 0 ? SinReduced(red.r) : CosReduced(red.r);
  if (red.quadrant >= 2) v = Negate(v);
  return v.hi + v.lo;
}

// cos x, correctly rounded.
inline double Cos(double x) {
  using namespace detail;
  if (!std::isfinite(x)) return x - x;
  const Reduced red = ReduceHalfPi(x);
  DD v = red.quadrant % 2 == 0 ? CosReduced(red.r) : SinReduced(red.r);
  if (red.quadrant == 1 || red.quadrant == 2) v = Negate(v);
  return v.hi + v.lo;
}

// e^x, correctly rounded.
inline double Exp(double x) { return detail::ExpOf(DoubleDouble{x, 0.0}); }

// 2^y and 10^y, correctly rounded: e^(y ln 2) and e^(y ln 10) with the
// product formed to double-double precision.
inline double Pow2(double y) {
  using namespace detail;
  if (!std::isfinite(y)) return std::isnan(y) ? y : (y > 0 ? y : 0.0);
  return ExpOf(Add(TwoProduct(y, kLn2[0]), DD{y * kLn2[1], 0.0}));
}

inline double Pow10(double y) {
  using namespace detail;
  if (!std::isfinite(y)) return std::isnan(y) ? y : (y > 0 ? y : 0.0);
  return ExpOf(Add(TwoProduct(y, kLn10[0]), DD{y * kLn10[1], 0.0}));
}

// sinh x, correctly rounded.
inline double Sinh(double x) {
  using namespace detail;
  if (!std::isfinite(x)) return x;
  const double a = std::fabs(x);
  if (a < 0x1p-27) return x;  // sinh x = x + x^3/6 rounds to x
  double result;
  if (a < 1.0) {
    const DD t{a, 0.0};
    const DD v = Multiply(Series(Multiply(t, t), 1, 2, 16), t);
    result = v.hi + v.lo;
  } else if (a < 709.0) {
    const DD e = ExpDD(DD{a, 0.0});
    const DD v = Scale(Add(e, Negate(Divide(DD{1.0, 0.0}, e))), -1);
    result = v.hi + v.lo;
  } else {
    // e^-x is below 2^-1000 of e^x here: sinh x = e^(x - ln 2).
    result = ExpOf(Add(DD{a, 0.0}, Negate(DD{kLn2[0], kLn2[1]})));
  }
  return x < 0 ? -result : result;
}

}  // namespace velmor::exact
