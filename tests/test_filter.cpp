// VelmorFilter through its exports.
#include <cmath>

#include "framework/dsp/plain_dsp.h"
#include "framework/dsp/biquad.h"
#include "plugin_test.h"

namespace velmor::test {
namespace {

class Filter : public PluginTest {
 protected:
  Filter() : PluginTest("VelmorFilter") {}
};

BiquadSection Section(float a0, float a1, float a2, float b0, float b1, float b2) {
  BiquadSection s;
  s.a0 = a0, s.a1 = a1, s.a2 = a2, s.b0 = b0, s.b1 = b1, s.b2 = b2;
  return s;
}

// Peak amplitude of a steady sine after the filter has settled.
float SteadyGain(host::Plugin& plugin, double frequency, int rate, int64_t id) {
  const size_t n = static_cast<size_t>(rate);
  Stereo s(n);
  for (size_t i = 0; i < n; ++i)
    s.left[i] = s.right[i] = static_cast<float>(std::sin(2.0 * M_PI * frequency * i / rate));
  Stereo out = RunBlocks(plugin, s, 1470, {.id = id, .sampleRate = rate});
  float peak = 0.0f;
  for (size_t i = n / 2; i < n; ++i) peak = std::max(peak, std::fabs(out.left[i]));
  return peak;
}

TEST_F(Filter, DefaultsGiveTheLowPassImpulseResponseInBothChannels) {
  const float expected[] = {0.017677689f, 0.065103754f, 0.11391493f, 0.14264067f, 0.15420017f};
  Stereo out = RunBlock(*plugin_, Impulse(5));
  for (int i = 0; i < 5; ++i) {
    EXPECT_BITS(out.left[i], expected[i]);
    EXPECT_BITS(out.right[i], expected[i]);
  }
}

TEST_F(Filter, AnyTypeButZeroIsHighPass) {
  const float expected[] = {0.85908794f, -0.27248502f, -0.24680516f, -0.21000278f, -0.16742155f};
  for (int type : {1, 7, -1}) {
    plugin_->SetValue("フィルタタイプ", type);
    Stereo out = RunBlock(*plugin_, Impulse(5), {.id = 10 + type});
    for (int i = 0; i < 5; ++i) EXPECT_BITS(out.left[i], expected[i]) << "type " << type;
  }
}

TEST_F(Filter, FollowsTheHostRate) {
  BiquadSection reference = Section(1.1294096f, -1.9318516f, 0.87059045f, 0.017037088f,
                                    0.034074176f, 0.017037088f);
  Stereo out = RunBlock(*plugin_, Impulse(64), {.sampleRate = 48000});
  for (int i = 0; i < 64; ++i) EXPECT_BITS(out.right[i], ProcessBiquadSample(reference, i == 0 ? 1.0f : 0.0f));
}

TEST_F(Filter, GainAtTheCutoffEqualsQ) {
  for (double q : {0.5, 1.0, 5.0}) {
    plugin_->SetValue("クォリティファクター", q);
    EXPECT_NEAR(SteadyGain(*plugin_, 2000.0, 44100, static_cast<int64_t>(q * 100)), q, q * 0.01) << q;
  }
  plugin_->SetValue("クォリティファクター", 1.0);
  plugin_->SetValue("フィルタタイプ", 1);
  EXPECT_NEAR(SteadyGain(*plugin_, 2000.0, 44100, 1000), 1.0, 0.01);
}

// A new value is seen from the next block on, and the history carries over.
TEST_F(Filter, ChangeBetweenBlocksTakesEffectWithoutReset) {
  BiquadSection lp = Section(1.1405556f, -1.9193505f, 0.85944444f, 0.020162387f, 0.040324774f, 0.020162387f);
  Stereo first = RunBlock(*plugin_, Impulse(3), {.id = 5});
  for (int i = 0; i < 3; ++i) ProcessBiquadSample(lp, i == 0 ? 1.0f : 0.0f);
  plugin_->SetValue("フィルタタイプ", 1);
  Stereo second = RunBlock(*plugin_, Stereo(4), {.id = 5, .frame = 1});
  BiquadSection hp = lp;  // same history, high-pass coefficients
  hp.b0 = hp.b2 = 0.9798376f;
  hp.b1 = -1.9596752f;
  for (int i = 0; i < 4; ++i) EXPECT_BITS(second.left[i], ProcessBiquadSample(hp, 0.0f));
}

TEST_F(Filter, SameInputOnBothChannelsGivesSameOutput) {
  Stereo s(2000);
  for (size_t i = 0; i < s.size(); ++i) s.left[i] = s.right[i] = std::sin(0.01f * i) * (i % 7 == 0 ? 0.9f : 0.3f);
  plugin_->SetValue("クォリティファクター", 5.0);
  Stereo out = RunBlock(*plugin_, s);
  for (size_t i = 0; i < s.size(); ++i) ASSERT_EQ(Bits(out.left[i]), Bits(out.right[i])) << i;
}

}  // namespace
}  // namespace velmor::test
