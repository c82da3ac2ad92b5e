// The proofs that our own sine and designs give, bit for bit, what this
// machine's C library gives, and an arbiter for where the two differ.
//
//   velmor_sweeps sine [FROM TO]   every float phase P in [0, 2 pi) (or the
//                                  float bit patterns FROM to TO): PhaseSines
//                                  against (float)sin((double)P)
//   velmor_sweeps designs          every design input a slider step can make,
//                                  at the common rates, against the same
//                                  designs on the C library's sin, cos, sinh
//                                  and pow
//
// A difference is listed with the value of 113-bit quad precision (GCC's
// libquadmath), so that it shows which side is the correctly rounded one.
// Exits 1 when a difference remains unexplained (ours is not the correctly
// rounded value).
#include "framework/platform.h"
#if VELMOR_X86
#include <quadmath.h>
#endif

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/dsp/biquad.h"
#include "framework/dsp/exact_math.h"
#include "framework/dsp/phase_sine.h"
#include "tests/phase_sines.h"

namespace {

using velmor::BiquadSection;

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}
float FromBits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

// The C library's functions, in the designs' shape.
struct LibraryMath {
  static double Sin(double x) { return std::sin(x); }
  static double Cos(double x) { return std::cos(x); }
  static double Sinh(double x) { return std::sinh(x); }
  static double Pow10(double x) { return std::pow(10.0, x); }
};

// 113-bit values, rounded to double: the arbiter. GCC's __float128 and
// libquadmath on x86-64; on 64-bit ARM Linux long double is that format.
#if VELMOR_X86
using Quad = __float128;
Quad QuadSin(Quad x) { return sinq(x); }
Quad QuadCos(Quad x) { return cosq(x); }
Quad QuadSinh(Quad x) { return sinhq(x); }
Quad QuadPow(Quad x, Quad y) { return powq(x, y); }
#else
using Quad = long double;
static_assert(sizeof(Quad) == 16, "long double is IEEE quad precision here");
Quad QuadSin(Quad x) { return sinl(x); }
Quad QuadCos(Quad x) { return cosl(x); }
Quad QuadSinh(Quad x) { return sinhl(x); }
Quad QuadPow(Quad x, Quad y) { return powl(x, y); }
#endif
struct QuadMath {
  static double Sin(double x) { return static_cast<double>(QuadSin(static_cast<Quad>(x))); }
  static double Cos(double x) { return static_cast<double>(QuadCos(static_cast<Quad>(x))); }
  static double Sinh(double x) { return static_cast<double>(QuadSinh(static_cast<Quad>(x))); }
  static double Pow10(double x) { return static_cast<double>(QuadPow(static_cast<Quad>(10.0), static_cast<Quad>(x))); }
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int SineSweep(uint32_t from, uint32_t to) {
  const auto start = std::chrono::steady_clock::now();
  constexpr uint32_t kRun = 1 << 16;
  std::vector<float> P(kRun), ours(kRun);
  int64_t total = 0, slow = 0, mismatches = 0, unexplained = 0;
  for (uint64_t first = from; first <= to; first += kRun) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(kRun, to - first + 1));
    for (uint32_t i = 0; i < n; ++i) P[i] = FromBits(static_cast<uint32_t>(first + i));
    velmor::PhaseSines(P.data(), ours.data(), static_cast<int>(n), &slow);
    for (uint32_t i = 0; i < n; ++i) {
      const float library = static_cast<float>(std::sin(static_cast<double>(P[i])));
      if (Bits(library) == Bits(ours[i])) continue;
      ++mismatches;
      const float right = static_cast<float>(QuadMath::Sin(static_cast<double>(P[i])));
      const bool oursRight = Bits(right) == Bits(ours[i]);
      unexplained += !oursRight;
      std::printf("phase %a (%.9g): ours %a, C library %a; correctly rounded %a: %s\n", P[i], P[i], ours[i],
                  library, right, oursRight ? "ours" : "NOT OURS");
    }
    total += n;
  }
  std::printf("sine: %" PRId64 " phases (bits 0x%08X to 0x%08X), %" PRId64 " mismatches with the C library, %" PRId64
              " unexplained; %" PRId64 " phases lay near a float rounding boundary and were decided the slow way; %.1f s\n",
              total, from, to, mismatches, unexplained, slow, Seconds(start));
  return unexplained == 0 ? 0 : 1;
}

// One family of designs: counts and the differences found.
struct Tally {
  const char* name;
  int64_t designs = 0, differences = 0, unexplained = 0;
  int64_t trig = 0, trigDiffering = 0;  // sin and cos pairs, and those differing in a last bit
  int64_t trigOursRight = 0;            // of those, where ours are the correctly rounded pair
};

bool SameCoefficients(const BiquadSection& a, const BiquadSection& b) {
  const float x[6] = {a.a0, a.a1, a.a2, a.b0, a.b1, a.b2}, y[6] = {b.a0, b.a1, b.a2, b.b0, b.b1, b.b2};
  for (int i = 0; i < 6; ++i)
    if (Bits(x[i]) != Bits(y[i])) return false;
  return true;
}

void Report(Tally& t, const std::string& what, const BiquadSection& ours, const BiquadSection& library,
            const BiquadSection& right) {
  ++t.differences;
  const bool oursRight = SameCoefficients(ours, right);
  t.unexplained += !oursRight;
  std::printf("%s %s: ours a0..b2 = %a %a %a %a %a %a; C library %a %a %a %a %a %a; %s\n", t.name, what.c_str(),
              ours.a0, ours.a1, ours.a2, ours.b0, ours.b1, ours.b2, library.a0, library.a1, library.a2, library.b0,
              library.b1, library.b2, oursRight ? "ours is the correctly rounded design" : "NOT OURS");
}

// The values of a slider: min + k * step, as the host writes them, read as
// the effects read them (rounded to single precision).
std::vector<float> SliderValues(double min, double max, double step) {
  std::vector<float> v;
  const auto steps = std::llround((max - min) / step);
  for (int64_t k = 0; k <= steps; ++k) v.push_back(static_cast<float>(min + static_cast<double>(k) * step));
  return v;
}

float Percent(float value) { return static_cast<float>(static_cast<double>(value) / 100.0); }

int DesignSweep() {
  const auto start = std::chrono::steady_clock::now();
  const float rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 192000};
  std::vector<Tally> tallies;

  // Low-pass and high-pass at a frequency and rate, every Q given.
  auto passDesigns = [&](Tally& t, float f, float fs, const std::vector<float>& qs, const std::string& where) {
    const auto ours = velmor::MakeDesignTrig(f, fs);
    const auto library = velmor::MakeDesignTrig<LibraryMath>(f, fs);
    ++t.trig;
    if (ours.sinW0 != library.sinW0 || ours.cosW0 != library.cosW0) {
      ++t.trigDiffering;
      const auto right = velmor::MakeDesignTrig<QuadMath>(f, fs);
      t.trigOursRight += ours.sinW0 == right.sinW0 && ours.cosW0 == right.cosW0;
    }
    for (float q : qs) {
      for (bool high : {false, true}) {
        BiquadSection a, b;
        if (high) {
          velmor::SetPassCoefficients<true>(a, ours, q);
          velmor::SetPassCoefficients<true>(b, library, q);
        } else {
          velmor::SetPassCoefficients<false>(a, ours, q);
          velmor::SetPassCoefficients<false>(b, library, q);
        }
        ++t.designs;
        if (SameCoefficients(a, b)) continue;
        BiquadSection right;
        if (high)
          velmor::SetPassCoefficients<true>(right, velmor::MakeDesignTrig<QuadMath>(f, fs), q);
        else
          velmor::SetPassCoefficients<false>(right, velmor::MakeDesignTrig<QuadMath>(f, fs), q);
        Report(t, where + (high ? " high-pass" : " low-pass") + " Q " + std::to_string(q), a, b, right);
      }
    }
  };
  auto peaking = [&](Tally& t, float f0, float bw, float gain, float fs, const std::string& where) {
    BiquadSection a, b;
    velmor::SetPeakingCoefficients(a, f0, bw, gain, fs);
    velmor::SetPeakingCoefficients<LibraryMath>(b, f0, bw, gain, fs);
    ++t.designs;
    if (SameCoefficients(a, b)) return;
    BiquadSection right;
    velmor::SetPeakingCoefficients<QuadMath>(right, f0, bw, gain, fs);
    Report(t, where, a, b, right);
  };

  Tally filter{"filter"};
  const auto qs = SliderValues(0.5, 5.0, 0.01);
  for (float fs : rates)
    for (float cutoff : SliderValues(50.0, 18000.0, 1.0))
      passDesigns(filter, cutoff, fs, qs, "cutoff " + std::to_string(cutoff) + " Hz at " + std::to_string(fs) + " Hz");
  tallies.push_back(filter);

  Tally distortion{"distortion"};
  for (float fs : rates) {
    for (float gainValue : SliderValues(0.0, 100.0, 1.0)) {
      const float g = Percent(gainValue);
      for (float corner : {(g * g) * 300.0f + 100.0f, (g * g) * 100.0f + 100.0f})
        passDesigns(distortion, corner, fs, {0.8f}, "pre-filter " + std::to_string(corner) + " Hz at " + std::to_string(fs));
    }
    passDesigns(distortion, 10.0f, fs, {0.8f}, "pre-filter 10 Hz at " + std::to_string(fs));
    for (float tone : SliderValues(0.0, 1.0, 0.01))
      passDesigns(distortion, (tone * 7000.0f) * tone + 1000.0f, fs, {0.8f}, "tone " + std::to_string(tone));
    for (float c : SliderValues(0.0, 10.0, 0.01))
      peaking(distortion, 800.0f, 0.3f, c, fs, "character " + std::to_string(c) + " dB at " + std::to_string(fs));
  }
  tallies.push_back(distortion);

  Tally equalizer{"equalizer"};
  for (float centre : {100.0f, 200.0f, 400.0f, 800.0f, 1600.0f, 3200.0f, 6400.0f, 12800.0f})
    for (float gain : SliderValues(-15.0, 15.0, 0.1))
      peaking(equalizer, centre, 1.0f, gain, 44100.0f, std::to_string(centre) + " Hz band at " + std::to_string(gain) + " dB");
  tallies.push_back(equalizer);

  Tally smoothing{"smoothing"};
  for (float fs : rates)
    for (float cutoff : {2000.0f, 12000.0f})
      passDesigns(smoothing, cutoff, fs, {0.7f}, std::to_string(cutoff) + " Hz at " + std::to_string(fs));
  tallies.push_back(smoothing);

  // The pitch shifter's drift, 2^(pitch / 12) - 1.
  Tally drift{"pitch drift"};
  for (float pitch : SliderValues(-24.0, 24.0, 0.01)) {
    const double y = static_cast<double>(pitch / 12.0f);
    const float ours = static_cast<float>(velmor::exact::Pow2(y) - 1.0);
    const float library = static_cast<float>(std::pow(2.0, y) - 1.0);
    ++drift.designs;
    if (Bits(ours) == Bits(library)) continue;
    const float right = static_cast<float>(static_cast<double>(QuadPow(static_cast<Quad>(2.0), static_cast<Quad>(y))) - 1.0);
    ++drift.differences;
    drift.unexplained += Bits(ours) != Bits(right);
    std::printf("pitch drift at %.9g semitones: ours %a, C library %a; %s\n", pitch, ours, library,
                Bits(ours) == Bits(right) ? "ours is the correctly rounded one" : "NOT OURS");
  }
  tallies.push_back(drift);

  int64_t unexplained = 0;
  for (const Tally& t : tallies) {
    std::printf("%-12s %12" PRId64 " designs, %" PRId64 " differ from the C library's, %" PRId64 " unexplained",
                t.name, t.designs, t.differences, t.unexplained);
    if (t.trig != 0)
      std::printf(" (sin or cos of w0 differed in its last bit for %" PRId64 " of %" PRId64
                  " frequencies, ours correctly rounded in %" PRId64 " of them, without changing a coefficient)",
                  t.trigDiffering, t.trig, t.trigOursRight);
    std::printf("\n");
    unexplained += t.unexplained;
  }
  std::printf("designs: %.1f s\n", Seconds(start));
  return unexplained == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "sine") {
    uint32_t from = 0, to = Bits(6.2831855f) - 1;  // the last float below 2 pi
    if (argc == 4) from = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)), to = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0));
    return SineSweep(from, to);
  }
  if (what == "designs") return DesignSweep();
  std::fprintf(stderr, "usage: velmor_sweeps sine [FROM TO] | designs\n");
  return 2;
}
