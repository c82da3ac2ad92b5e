// The section and its designs, called directly.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "framework/dsp/plain_dsp.h"
#include "framework/dsp/biquad.h"
#include "plugin_test.h"

namespace velmor {
namespace {

using test::SameBits;

void ExpectCoefficients(const BiquadSection& s, float a0, float a1, float a2, float b0, float b1,
                        float b2) {
  EXPECT_BITS(s.a0, a0);
  EXPECT_BITS(s.a1, a1);
  EXPECT_BITS(s.a2, a2);
  EXPECT_BITS(s.b0, b0);
  EXPECT_BITS(s.b1, b1);
  EXPECT_BITS(s.b2, b2);
}

std::vector<float> ImpulseResponse(BiquadSection s, int n) {
  std::vector<float> out;
  for (int i = 0; i < n; ++i) out.push_back(ProcessBiquadSample(s, i == 0 ? 1.0f : 0.0f));
  return out;
}

TEST(BiquadSection, IdentityPassesInputAndShiftsHistory) {
  BiquadSection s;
  for (float x : {1.0f, -0.5f, 3.25f, 1e-30f, -7.0f}) EXPECT_BITS(ProcessBiquadSample(s, x), x);
  EXPECT_EQ(s.x1, -7.0f);
  EXPECT_EQ(s.x2, 1e-30f);
  EXPECT_EQ(s.y1, -7.0f);
  EXPECT_EQ(s.y2, 1e-30f);
}

TEST(BiquadSection, LowPassAndHighPassWorkedValues) {
  BiquadSection lp;
  SetLowPassCoefficients(lp, 2000.0f, 1.0f, 44100.0f);
  ExpectCoefficients(lp, 1.1405556f, -1.9193505f, 0.85944444f, 0.020162387f, 0.040324774f,
                     0.020162387f);
  const float lpExpected[] = {0.017677689f, 0.065103754f, 0.11391493f, 0.14264067f, 0.15420017f};
  auto lpOut = ImpulseResponse(lp, 5);
  for (int i = 0; i < 5; ++i) EXPECT_BITS(lpOut[i], lpExpected[i]) << i;

  BiquadSection hp;
  SetHighPassCoefficients(hp, 2000.0f, 1.0f, 44100.0f);
  ExpectCoefficients(hp, 1.1405556f, -1.9193505f, 0.85944444f, 0.9798376f, -1.9596752f, 0.9798376f);
  const float hpExpected[] = {0.85908794f, -0.27248502f, -0.24680516f, -0.21000278f, -0.16742155f};
  auto hpOut = ImpulseResponse(hp, 5);
  for (int i = 0; i < 5; ++i) EXPECT_BITS(hpOut[i], hpExpected[i]) << i;

  BiquadSection lp48;
  SetLowPassCoefficients(lp48, 2000.0f, 1.0f, 48000.0f);
  ExpectCoefficients(lp48, 1.1294096f, -1.9318516f, 0.87059045f, 0.017037088f, 0.034074176f,
                     0.017037088f);
}

TEST(BiquadSection, PeakingWorkedValues) {
  BiquadSection flat;
  SetPeakingCoefficients(flat, 100.0f, 1.0f, 0.0f, 44100.0f);
  ExpectCoefficients(flat, 1.0050373f, -1.999797f, 0.9949627f, 1.0050373f, -1.999797f, 0.9949627f);
  BiquadSection boost;
  SetPeakingCoefficients(boost, 100.0f, 1.0f, 15.0f, 44100.0f);
  ExpectCoefficients(boost, 1.0021242f, -1.999797f, 0.9978758f, 1.0119452f, -1.999797f, 0.9880547f);
}

TEST(BiquadSection, DesignsKeepHistory) {
  BiquadSection s;
  SetLowPassCoefficients(s, 2000.0f, 1.0f, 44100.0f);
  ProcessBiquadSample(s, 1.0f);
  ProcessBiquadSample(s, 0.5f);
  const BiquadSection before = s;
  SetHighPassCoefficients(s, 500.0f, 2.0f, 48000.0f);
  SetPeakingCoefficients(s, 800.0f, 0.3f, 6.0f, 48000.0f);
  EXPECT_EQ(s.x1, before.x1);
  EXPECT_EQ(s.x2, before.x2);
  EXPECT_EQ(s.y1, before.y1);
  EXPECT_EQ(s.y2, before.y2);
}

// The per-block runner must give the per-sample update's results bit for bit.
TEST(BiquadSection, RunnerMatchesPerSampleUpdate) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> freq(20.0f, 20000.0f), q(0.3f, 8.0f), gain(-15.0f, 15.0f),
      sample(-1.0f, 1.0f);
  for (int trial = 0; trial < 200; ++trial) {
    BiquadSection a;
    switch (trial % 3) {
      case 0: SetLowPassCoefficients(a, freq(rng), q(rng), 44100.0f); break;
      case 1: SetHighPassCoefficients(a, freq(rng), q(rng), 48000.0f); break;
      default: SetPeakingCoefficients(a, freq(rng), 1.0f, gain(rng), 44100.0f); break;
    }
    BiquadSection b = a;
    BiquadRunner runner(b);
    for (int i = 0; i < 300; ++i) {
      const float x = sample(rng);
      ASSERT_TRUE(SameBits("runner", "section", runner.Process(x), ProcessBiquadSample(a, x)));
    }
    runner.Store(b);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  }
}

// Outside the normal ranges every design still gives a stable section.
TEST(BiquadSection, DesignsStayStableForAnyArguments) {
  const float rates[] = {1.0f, 100.0f, 4000.0f, 8000.0f, 16000.0f, 24000.0f, 44100.0f, 192000.0f};
  const float freqs[] = {-5.0f, 0.0f, 0.5f, 12000.0f, 30000.0f, 1e9f, NAN, INFINITY};
  const float widths[] = {-1.0f, 0.0f, 0.7f, 1.0f};
  for (float fs : rates)
    for (float f : freqs)
      for (float q : widths)
        for (int design = 0; design < 3; ++design) {
          BiquadSection s;
          if (design == 0) SetLowPassCoefficients(s, f, q, fs);
          if (design == 1) SetHighPassCoefficients(s, f, q, fs);
          if (design == 2) SetPeakingCoefficients(s, f, q, 6.0f, fs);
          float peak = 0.0f;
          for (int i = 0; i < 20000; ++i) peak = std::max(peak, std::fabs(ProcessBiquadSample(s, i % 50 == 0 ? 1.0f : 0.0f)));
          EXPECT_TRUE(std::isfinite(peak) && peak < 1e4f)
              << "design " << design << " f " << f << " q " << q << " fs " << fs << " peak " << peak;
        }
}

TEST(BiquadSection, NonPositiveRateGivesIdentity) {
  for (float fs : {0.0f, -44100.0f}) {
    BiquadSection s;
    SetLowPassCoefficients(s, 2000.0f, 1.0f, fs);
    EXPECT_EQ(ProcessBiquadSample(s, 0.25f), 0.25f);
  }
}

}  // namespace
}  // namespace velmor

namespace velmor::test {
namespace {

// EXPECT_BITS is exact; a value published with seven digits is checked at
// those digits, and only where the test says so.
TEST(Comparisons, BitsAreExactAndPublishedValuesKeepTheirDigits) {
  EXPECT_FALSE(SameBits("a", "b", 0.82f, 0.8f));
  EXPECT_FALSE(SameBits("a", "b", std::nextafter(0.8861148f, 1.0f), 0.8861148f));
  EXPECT_TRUE(SameBits("a", "b", 0.8861148f, 0.8861148f));
  EXPECT_TRUE(RoundsToPublished("a", "b", 0.886114836f, "0.8861148"));
  EXPECT_FALSE(RoundsToPublished("a", "b", 0.886114836f, "0.8861149"));
}

}  // namespace
}  // namespace velmor::test
