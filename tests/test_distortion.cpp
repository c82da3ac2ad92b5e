// VelmorDistortion through its exports, against its worked values and a
// reference chain written from the effect's description.
#include <cmath>
#include <random>

#include "framework/dsp/plain_dsp.h"
#include "framework/dsp/biquad.h"
#include "plugin_test.h"

namespace velmor::test {
namespace {

class Distortion : public PluginTest {
 protected:
  Distortion() : PluginTest("VelmorDistortion") {}
};

// One channel of the chain: pre-filter, character band, drive, clipper, tone, level.
struct ReferenceChain {
  BiquadSection pre, character, tone;
  float drive = 0, level = 0;

  void Configure(int type, float gainPercent, float tonePercent, float characterDb, float levelPercent, float fs) {
    const float g = static_cast<float>(static_cast<double>(gainPercent) / 100.0);
    level = static_cast<float>(static_cast<double>(levelPercent) / 100.0);
    float corner = 10.0f;
    drive = g + 1.0f;
    if (type == 0) corner = (g * g) * 300.0f + 100.0f, drive = 500.0f * g + 100.0f;
    if (type == 1) corner = (g * g) * 100.0f + 100.0f, drive = 90.0f * g + 10.0f;
    if (type == 2) drive = 500.0f * g + 100.0f;
    SetHighPassCoefficients(pre, corner, 0.8f, fs);
    SetPeakingCoefficients(character, 800.0f, 0.3f, characterDb, fs);
    SetLowPassCoefficients(tone, (tonePercent * 7000.0f) * tonePercent + 1000.0f, 0.8f, fs);
  }
  float Process(float x) {
    float d = ProcessBiquadSample(character, ProcessBiquadSample(pre, x)) * drive;
    d = d > 1.0f ? 1.0f : (d < -1.0f ? -1.0f : d);
    return (ProcessBiquadSample(tone, d) * level) * 0.2f;
  }
};

Stereo Noise(size_t n, float amplitude, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-amplitude, amplitude);
  Stereo s(n);
  for (size_t i = 0; i < n; ++i) s.left[i] = d(rng), s.right[i] = d(rng);
  return s;
}

TEST(DistortionDesign, DefaultCoefficients) {
  BiquadSection pre, tone, flat, boosted;
  SetHighPassCoefficients(pre, 175.0f, 0.8f, 44100.0f);
  EXPECT_BITS(pre.a0, 1.0155817f);
  EXPECT_BITS(pre.a1, -1.9993783f);
  EXPECT_BITS(pre.a2, 0.98441833f);
  EXPECT_BITS(pre.b0, 0.99984461f);
  EXPECT_BITS(pre.b1, -1.9996892f);
  EXPECT_BITS(pre.b2, 0.99984461f);
  SetLowPassCoefficients(tone, 2750.0f, 0.8f, 44100.0f);
  EXPECT_BITS(tone.a0, 1.2386628f);
  EXPECT_BITS(tone.a1, -1.8484399f);
  EXPECT_BITS(tone.a2, 0.76133716f);
  EXPECT_BITS(tone.b0, 0.037890032f);
  EXPECT_BITS(tone.b1, 0.075780064f);
  SetPeakingCoefficients(flat, 800.0f, 0.3f, 0.0f, 44100.0f);
  EXPECT_BITS(flat.a0, 1.0118723f);
  EXPECT_BITS(flat.b0, 1.0118723f);
  EXPECT_BITS(flat.a1, -1.9870225f);
  EXPECT_BITS(flat.a2, 0.98812771f);
  EXPECT_BITS(flat.b2, 0.98812771f);
  SetPeakingCoefficients(boosted, 800.0f, 0.3f, 10.0f, 44100.0f);
  EXPECT_BITS(boosted.a0, 1.0066763f);
  EXPECT_BITS(boosted.a2, 0.99332374f);
  EXPECT_BITS(boosted.b0, 1.0211122f);
  EXPECT_BITS(boosted.b2, 0.9788878f);
  EXPECT_BITS(boosted.b1, -1.9870225f);
}

TEST_F(Distortion, DefaultImpulseResponse) {
  Stereo out = RunBlock(*plugin_, Impulse(5));
  const float expected[] = {0.0030589465f, 0.0076237707f, 0.0033787936f, -0.011879565f, -0.032040257f};
  for (int i = 0; i < 5; ++i) {
    EXPECT_BITS(out.left[i], expected[i]) << i;
    EXPECT_BITS(out.right[i], expected[i]) << i;
  }
}

TEST_F(Distortion, LevelZeroIsSilence) {
  plugin_->SetValue("音量", 0.0);
  Stereo out = RunBlock(*plugin_, Noise(4410, 0.8f, 1));
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(std::fabs(out.left[i]) + std::fabs(out.right[i]), 0.0f);
}

// The clipper holds every value at 1: however loud the input and the gain, the
// output stays within the level times 0.2 times the tone filter's overshoot.
TEST_F(Distortion, ClipperBoundsTheOutputWhateverTheGain) {
  plugin_->SetValue("音量", 100.0);
  plugin_->SetValue("トーン", 1.0);
  BiquadSection tone;
  SetLowPassCoefficients(tone, 8000.0f, 0.8f, 44100.0f);
  double l1 = 0;  // the largest output of the tone filter for inputs within +-1
  for (int i = 0; i < 4000; ++i) l1 += std::fabs(ProcessBiquadSample(tone, i == 0 ? 1.0f : 0.0f));
  for (int type : {0, 1, 2}) {
    plugin_->SetValue("タイプ", type);
    for (double gain : {0.0, 50.0, 100.0}) {
      plugin_->SetValue("ゲイン", gain);
      for (float amplitude : {1.0f, 1e3f, 1e6f}) {
        Stereo out = RunBlocks(*plugin_, Noise(8820, amplitude, 2), 1470, {.id = 100 + type});
        for (size_t i = 0; i < out.size(); ++i)
          ASSERT_LE(std::fabs(out.left[i]), 0.2 * l1 * 1.0001) << type << " " << gain << " " << amplitude;
      }
    }
  }
}

// A type change takes effect from the next block and keeps every history; an
// unlisted type gets the 10 Hz pre-filter and the drive g + 1.
TEST_F(Distortion, TypeChangesBetweenBlocksWithoutReset) {
  const Stereo in = Noise(3 * 1470, 0.05f, 3);
  ReferenceChain ref;
  const int types[] = {0, 1, 5};
  for (int b = 0; b < 3; ++b) {
    plugin_->SetValue("タイプ", types[b]);
    ref.Configure(types[b], 50.0f, 0.5f, 0.0f, 50.0f, 48000.0f);
    Stereo block;
    block.left.assign(in.left.begin() + b * 1470, in.left.begin() + (b + 1) * 1470);
    block.right = block.left;
    block = RunBlock(*plugin_, block, {.id = 200, .frame = b, .sampleRate = 48000});
    for (size_t i = 0; i < 1470; ++i) {
      const float expected = ref.Process(in.left[b * 1470 + i]);
      ASSERT_EQ(Bits(block.left[i]), Bits(expected)) << "block " << b << " sample " << i;
      ASSERT_EQ(Bits(block.right[i]), Bits(expected)) << "block " << b << " sample " << i;
    }
  }
}

}  // namespace
}  // namespace velmor::test
