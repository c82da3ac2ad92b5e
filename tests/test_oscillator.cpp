// The waveform oscillator, called directly, and its block runner.
#include <gtest/gtest.h>

#include <random>

#include "framework/dsp/plain_dsp.h"
#include "framework/dsp/waveform_oscillator.h"
#include "plugin_test.h"

namespace velmor {
namespace {

using test::ExpectValues;

WaveformOscillator Generator(int32_t shape, float cutoff, float phaseStep) {
  WaveformOscillator osc;
  osc.shape = shape;
  osc.phaseStep = phaseStep;
  UpdateSmoothing(osc, cutoff, 44100.0f);
  return osc;
}

std::vector<float> Values(WaveformOscillator osc, int n) {
  std::vector<float> out;
  for (int i = 0; i < n; ++i) out.push_back(NextValue(osc));
  return out;
}

TEST(WaveformOscillator, SmoothingCoefficients) {
  WaveformOscillator slow = Generator(0, 2000.0f, 0.0f);
  EXPECT_BITS(slow.smoother.a0, 1.2007936f);
  EXPECT_BITS(slow.smoother.a1, -1.9193505f);
  EXPECT_BITS(slow.smoother.a2, 0.79920638f);
  EXPECT_BITS(slow.smoother.b0, 0.020162387f);
  EXPECT_BITS(slow.smoother.b1, 0.040324774f);
  EXPECT_BITS(slow.smoother.b2, 0.020162387f);
  WaveformOscillator fast = Generator(0, 12000.0f, 0.0f);
  EXPECT_BITS(fast.smoother.a0, 1.707405f);
  EXPECT_BITS(fast.smoother.a1, 0.27693537f);
  EXPECT_BITS(fast.smoother.a2, 0.29259503f);
  EXPECT_BITS(fast.smoother.b0, 0.56923383f);
  EXPECT_BITS(fast.smoother.b1, 1.1384677f);
  EXPECT_BITS(fast.smoother.b2, 0.56923383f);
  EXPECT_BITS(2000.0f * kTwoPi, 12566.371f);
  EXPECT_BITS(12000.0f * kTwoPi, 75398.227f);
}

TEST(WaveformOscillator, FirstValuesOfEveryShape) {
  const float step = 0.00042742759f;
  ExpectValues(Values(Generator(0, 2000.0f, step), 5), {"0.50000358", "0.50002009", "0.50005841", "0.50012308", "0.50021529"});
  ExpectValues(Values(Generator(1, 2000.0f, step), 5), {"0.49160683", "0.46140718", "0.41033587", "0.3488124", "0.28447354"});
  ExpectValues(Values(Generator(2, 2000.0f, step), 5), {"0.49160457", "0.46139437", "0.41029865", "0.34873402", "0.28433651"});
  ExpectValues(Values(Generator(3, 2000.0f, step), 5), {"0.4916057", "0.46140078", "0.41031727", "0.34877321", "0.28440505"});
  ExpectValues(Values(Generator(4, 2000.0f, step), 5), {"0.5083943", "0.53859919", "0.5896827", "0.65122676", "0.71559495"});
}

TEST(WaveformOscillator, FmTapOffsetsAtTheModulatorDefaults) {
  WaveformOscillator osc = Generator(0, 12000.0f, 0.11398069f);
  const float excursion = 0.3f * 1000.0f;
  std::vector<float> d;
  for (int i = 0; i < 3; ++i) d.push_back(excursion * NextValue(osc));
  ExpectValues(d, {"155.6877", "171.75443", "190.55643"});
}

TEST(WaveformOscillator, OvershootAndUnlistedShapes) {
  // Square at 3 Hz through the 2000 Hz section: about -0.042 to 1.042.
  WaveformOscillator square = Generator(2, 2000.0f, 0.00042742759f);
  float lo = 1, hi = 0;
  for (int i = 0; i < 44100; ++i) {
    const float u = NextValue(square);
    lo = std::min(lo, u), hi = std::max(hi, u);
  }
  EXPECT_NEAR(lo, -0.042, 0.002);
  EXPECT_NEAR(hi, 1.042, 0.002);
  // Sine at 3 Hz stays within 0 to 1 to within 1e-6.
  WaveformOscillator sine = Generator(0, 2000.0f, 0.00042742759f);
  for (int i = 0; i < 44100; ++i) {
    const float u = NextValue(sine);
    ASSERT_GE(u, -1e-6f);
    ASSERT_LE(u, 1.0f + 1e-6f);
  }
  for (int32_t shape : {5, -1, 1000}) {
    WaveformOscillator other = Generator(shape, 2000.0f, 0.001f);
    float u = 0;
    for (int i = 0; i < 2000; ++i) u = NextValue(other);
    EXPECT_EQ(u, 0.5f);
  }
}

template <int kShape>
void ExpectRunnerMatches(std::mt19937& rng) {
  std::uniform_real_distribution<float> step(0.0f, 0.5f), cutoff(100.0f, 20000.0f);
  WaveformOscillator a = Generator(kShape, cutoff(rng), step(rng));
  a.phase = step(rng) * 12.0f;
  WaveformOscillator b = a;
  OscillatorRunner<kShape> runner(b);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(test::Bits(runner.Next()), test::Bits(NextValue(a))) << i;
  runner.Store(b);
  EXPECT_EQ(a.phase, b.phase);
  EXPECT_EQ(std::memcmp(&a.smoother, &b.smoother, sizeof a.smoother), 0);
}

TEST(WaveformOscillator, RunnerMatchesNextValue) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 20; ++trial) {
    ExpectRunnerMatches<0>(rng);
    ExpectRunnerMatches<1>(rng);
    ExpectRunnerMatches<2>(rng);
    ExpectRunnerMatches<3>(rng);
    ExpectRunnerMatches<4>(rng);
  }
}

}  // namespace
}  // namespace velmor
