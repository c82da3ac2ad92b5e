// VelmorEqualizer through its exports (and one band's design directly).
#include <cmath>

#include "framework/dsp/biquad.h"
#include "plugin_test.h"

namespace velmor::test {
namespace {

class Equalizer : public PluginTest {
 protected:
  Equalizer() : PluginTest("VelmorEqualizer") {}
};

Stereo Sine(double frequency, double rate, size_t n) {
  Stereo s(n);
  for (size_t i = 0; i < n; ++i)
    s.left[i] = s.right[i] = static_cast<float>(0.1 * std::sin(2.0 * M_PI * frequency * i / rate));
  return s;
}

float SteadyPeak(const Stereo& s) {
  float peak = 0.0f;
  for (size_t i = s.size() / 2; i < s.size(); ++i) peak = std::max(peak, std::fabs(s.left[i]));
  return peak;
}

TEST_F(Equalizer, FlatChainPassesTheInputUpToRounding) {
  Stereo in(6);
  const float x[] = {1.0f, 0.5f, -0.25f, 0.0f, 0.0f, 0.0f};
  for (int i = 0; i < 6; ++i) in.left[i] = in.right[i] = x[i];
  Stereo out = RunBlock(*plugin_, in);
  for (const auto* ch : {&out.left, &out.right}) {
    EXPECT_BITS((*ch)[0], 1.0f);
    EXPECT_BITS((*ch)[1], 0.49999997f);
    EXPECT_BITS((*ch)[2], -0.24999999f);
    EXPECT_NEAR((*ch)[3], 6.0e-8, 0.05e-8);
    EXPECT_NEAR((*ch)[4], 1.5e-7, 0.05e-7);
    EXPECT_NEAR((*ch)[5], 2.5e-7, 0.05e-7);
  }
}

TEST_F(Equalizer, Band5At6dBImpulseResponse) {
  plugin_->SetValue("1600Hz", 6.0);
  Stereo out = RunBlock(*plugin_, Impulse(6));
  for (const auto* ch : {&out.left, &out.right})
    ExpectValues(*ch, {"1.05374", "0.09904611", "0.08087145", "0.06070104", "0.03973766", "0.0190931"});
}

TEST(EqualizerBands, DesignWorkedValues) {
  BiquadSection band8;
  SetPeakingCoefficients(band8, 12800.0f, 1.0f, -15.0f, 44100.0f);
  EXPECT_BITS(band8.a0, 2.6075568f);
  EXPECT_BITS(band8.a1, 0.5004152f);
  EXPECT_BITS(band8.b1, 0.5004152f);
  EXPECT_PUBLISHED(band8.a2, -0.6075569);  // published with seven digits
  EXPECT_BITS(band8.b0, 1.2858685f);
  EXPECT_BITS(band8.b2, 0.7141315f);
  BiquadSection band5;
  SetPeakingCoefficients(band5, 1600.0f, 1.0f, 6.0f, 44100.0f);
  EXPECT_BITS(band5.a0, 1.0570778f);
  EXPECT_BITS(band5.a1, -1.9482583f);
  EXPECT_BITS(band5.a2, 0.9429222f);
  EXPECT_BITS(band5.b0, 1.1138852f);
  EXPECT_PUBLISHED(band5.b2, 0.8861148);  // published with seven digits
}

// One band at +-15 dB lifts or cuts a steady sine at its centre by 15 dB, and
// at a host rate of 48000 Hz the centre moves to 48000/44100 of its label.
TEST_F(Equalizer, BandGainAtItsCentre) {
  const char* labels[] = {"100Hz", "800Hz", "12800Hz"};
  const double centres[] = {100.0, 800.0, 12800.0};
  int64_t id = 10;
  for (int b = 0; b < 3; ++b) {
    for (double gain : {15.0, -15.0}) {
      plugin_->ResetValues();
      plugin_->SetValue(labels[b], gain);
      const double expected = gain > 0 ? 5.623 : 0.1778;
      Stereo out = RunBlocks(*plugin_, Sine(centres[b], 44100, 88200), 1470, {.id = ++id});
      EXPECT_NEAR(SteadyPeak(out) / 0.1, expected, expected * 0.01) << labels[b] << " " << gain;
      Stereo moved = RunBlocks(*plugin_, Sine(centres[b] * 48000 / 44100, 48000, 96000), 1600,
                               {.id = ++id, .sampleRate = 48000});
      EXPECT_NEAR(SteadyPeak(moved) / 0.1, expected, expected * 0.01) << labels[b] << " at 48000";
    }
  }
}

TEST_F(Equalizer, ChannelsMatchAndJumpsResetNothing) {
  for (int k = 0; k < 8; ++k) plugin_->SetValue(static_cast<size_t>(k), -15.0 + 4.0 * k);
  Stereo in(4000);
  for (size_t i = 0; i < in.size(); ++i) in.left[i] = in.right[i] = std::sin(0.037f * i) * 0.4f;
  const Stereo continuous = RunBlocks(*plugin_, in, 1000, {.id = 50});
  Stereo jumping;
  const int32_t frames[] = {7, 3, 100, -5};
  for (int b = 0; b < 4; ++b) {
    Stereo block;
    block.left.assign(in.left.begin() + b * 1000, in.left.begin() + (b + 1) * 1000);
    block.right = block.left;
    block = RunBlock(*plugin_, block, {.id = 51, .frame = frames[b]});
    jumping.left.insert(jumping.left.end(), block.left.begin(), block.left.end());
  }
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(Bits(continuous.left[i]), Bits(continuous.right[i])) << i;
    ASSERT_EQ(Bits(continuous.left[i]), Bits(jumping.left[i])) << i;
  }
}

}  // namespace
}  // namespace velmor::test
