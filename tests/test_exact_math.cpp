// Our own sin, cos, exp, sinh and powers at the ends of their ranges, where
// the designs and the oscillator never take them, against values of 113-bit
// quad precision rounded to double: the same bits on every platform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "framework/dsp/exact_math.h"
#include "framework/dsp/phase_sine.h"
#include "phase_sines.h"

namespace velmor {
namespace {

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

TEST(ExactMath, FarArgumentsAndTheEndsOfTheRange) {
  struct Trig { double x, sin, cos; };
  for (Trig t : {Trig{0x1.93e5939a08ceap+99, 0x1.31c608f107767p-7, -0x1.fffa4b11f1b45p-1},
                 Trig{-0x1.93e5939a08ceap+99, -0x1.31c608f107767p-7, -0x1.fffa4b11f1b45p-1},
                 Trig{-0x1.1e1a3p+28, 0x1.c219eed2e54c4p-2, 0x1.cbe31d447d1e2p-1},
                 Trig{0x1p+25, -0x1.f3fa130939bafp-1, -0x1.b9381aa1f0792p-3},
                 Trig{-0x1p+25, 0x1.f3fa130939bafp-1, -0x1.b9381aa1f0792p-3},
                 Trig{0x1.56e1fc2f8f359p-997, 0x1.56e1fc2f8f359p-997, 1.0},
                 Trig{-5.5, 0x1.693c94e0ab057p-1, 0x1.6ad6c3c07d448p-1},
                 Trig{-0x1.1ccf385ebc8ap+1023, -0x1.d0472b6b4d936p-2, -0x1.c859a523ff229p-1}}) {
    EXPECT_EQ(Bits(exact::Sin(t.x)), Bits(t.sin)) << t.x;
    EXPECT_EQ(Bits(exact::Cos(t.x)), Bits(t.cos)) << t.x;
  }
  struct Value { double x, y; };
  const double inf = std::numeric_limits<double>::infinity();
  for (Value v : {Value{-720.0, 0x0.0000993b4dc95p-1022}, Value{-745.0, 0x0.0000000000001p-1022},
                  Value{-708.5, 0x0.e6cf6d08897acp-1022}, Value{709.7, 0x1.d75ae7a50ee14p+1023}, Value{710.0, inf},
                  Value{-800.0, 0.0}})
    EXPECT_EQ(Bits(exact::Exp(v.x)), Bits(v.y)) << v.x;
  for (Value v : {Value{709.5, 0x1.81e9b4b52d0c9p+1022}, Value{-710.0, -0x1.3e21a464507f9p+1023},
                  Value{711.0, inf}, Value{0x1.b7cdfd9d7bdbbp-34, 0x1.b7cdfd9d7bdbbp-34},
                  Value{-0.5, -0x1.0acd00fe63b97p-1}})
    EXPECT_EQ(Bits(exact::Sinh(v.x)), Bits(v.y)) << v.x;
  EXPECT_TRUE(std::isnan(exact::Sin(inf)) && std::isnan(exact::Cos(NAN)) && std::isnan(exact::Pow10(NAN)));
  EXPECT_EQ(exact::Pow2(inf), inf);
  EXPECT_EQ(exact::Pow10(-inf), 0.0);
  EXPECT_EQ(exact::Pow2(10.0), 1024.0);
}

// The vectors' values for a run of phases are the definition's, the slow
// ones (phases outside 0 to 8, not a number) included.
TEST(PhaseSines, RunsGiveThePhaseSineOfEveryPhase) {
  std::vector<float> P, out(3000);
  for (int i = 0; i < 3000; ++i) P.push_back(i % 97 == 0 ? -1.5f : i % 89 == 0 ? 1e20f : 0.0021f * i);
  P[5] = NAN;
  int64_t slow = 0;
  PhaseSines(P.data(), out.data(), static_cast<int>(P.size()), &slow);
  EXPECT_GE(slow, 60);  // the phases outside 0 to 8
  for (size_t i = 0; i < P.size(); ++i) {
    const float want = PhaseSine(P[i]);
    if (std::isnan(want))
      EXPECT_TRUE(std::isnan(out[i])) << i;
    else
      EXPECT_EQ(out[i], want) << i << " " << P[i];
  }
}

}  // namespace
}  // namespace velmor
