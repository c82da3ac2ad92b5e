// VelmorTremolo through its exports. A steady input of 1 shows the gains.
#include <cmath>

#include "plugin_test.h"

namespace velmor::test {
namespace {

class Tremolo : public PluginTest {
 protected:
  Tremolo() : PluginTest("VelmorTremolo") {}
};

TEST_F(Tremolo, DefaultGains) {
  Stereo out = RunBlock(*plugin_, Stereo(3, 1.0f, 1.0f));
  ExpectValues(out.left, {"0.8500011", "0.85000598", "0.85001755"});
  ExpectValues(out.right, {"0.8500011", "0.85000598", "0.85001755"});
  plugin_->SetValue("タイプ", 1);
  Stereo pan = RunBlock(*plugin_, Stereo(3, 1.0f, 1.0f), {.id = 2});
  ExpectValues(pan.left, {"0.8500011", "0.85000598", "0.85001755"});
  ExpectValues(pan.right, {"0.84999895", "0.84999394", "0.8499825"});
}

// At full depth the tremolo gain is the oscillator's value itself.
TEST_F(Tremolo, FullDepthShowsEveryShapesFirstValues) {
  plugin_->SetValue("深さ", 1.0);
  const std::vector<std::vector<const char*>> expected = {
      {"0.50000358", "0.50002009", "0.50005841", "0.50012308", "0.50021529"},
      {"0.49160683", "0.46140718", "0.41033587", "0.3488124", "0.28447354"},
      {"0.49160457", "0.46139437", "0.41029865", "0.34873402", "0.28433651"},
      {"0.4916057", "0.46140078", "0.41031727", "0.34877321", "0.28440505"},
      {"0.5083943", "0.53859919", "0.5896827", "0.65122676", "0.71559495"}};
  for (int shape = 0; shape < 5; ++shape) {
    plugin_->SetValue("波形タイプ", shape);
    Stereo out = RunBlock(*plugin_, Stereo(5, 1.0f, 1.0f), {.id = 10 + shape});
    ExpectValues(out.left, expected[shape]);
  }
}

TEST_F(Tremolo, DepthZeroLeavesTheAudioUnchanged) {
  plugin_->SetValue("深さ", 0.0);
  Stereo in(10000);
  for (size_t i = 0; i < in.size(); ++i) in.left[i] = std::sin(0.3f * i), in.right[i] = std::cos(0.7f * i);
  for (int mode : {0, 1}) {
    plugin_->SetValue("タイプ", mode);
    Stereo out = RunBlocks(*plugin_, in, 1470, {.id = mode});
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
  }
}

TEST_F(Tremolo, PannerGainsAddUpToTwoMinusDepth) {
  plugin_->SetValue("タイプ", 1);
  plugin_->SetValue("波形タイプ", 2);
  plugin_->SetValue("周期", 30.0);
  for (double depth : {0.3, 0.75, 1.0}) {
    plugin_->SetValue("深さ", depth);
    Stereo out = RunBlocks(*plugin_, Stereo(20000, 1.0f, 1.0f), 1470, {.id = static_cast<int64_t>(depth * 100)});
    for (size_t i = 0; i < out.size(); ++i)
      ASSERT_NEAR(out.left[i] + out.right[i], 2.0 - depth, 1e-6) << i;
  }
}

TEST_F(Tremolo, UnlistedShapeSettlesHalfway) {
  plugin_->SetValue("波形タイプ", 9);
  Stereo out = RunBlock(*plugin_, Stereo(3000, 1.0f, 1.0f));
  EXPECT_BITS(out.left.back(), 0.85f);
}

TEST_F(Tremolo, ZeroLengthBlockAdvancesNothing) {
  std::vector<float> none;
  EXPECT_TRUE(plugin_->Process(none, none, {.id = 5}).result);
  EXPECT_TRUE(plugin_->Process(none, none, {.id = 5, .frame = 1}).result);
  Stereo out = RunBlock(*plugin_, Stereo(3, 1.0f, 1.0f), {.id = 5, .frame = 2});
  ExpectValues(out.left, {"0.8500011", "0.85000598", "0.85001755"});
}

// The phase step divides by 44100 whatever the host's rate: one cycle at 3 Hz
// is 14700 samples at 48000 Hz too.
TEST_F(Tremolo, PhaseStepIgnoresTheHostRate) {
  plugin_->SetValue("深さ", 1.0);
  plugin_->SetValue("波形タイプ", 3);  // rising saw: one drop per cycle
  Stereo out = RunBlocks(*plugin_, Stereo(50000, 1.0f, 1.0f), 1600, {.sampleRate = 48000});
  std::vector<size_t> drops;
  for (size_t i = 1; i < out.size(); ++i)
    if (out.left[i - 1] >= 0.5f && out.left[i] < 0.5f) drops.push_back(i);
  ASSERT_GE(drops.size(), 3u);
  for (size_t i = 1; i < drops.size(); ++i) EXPECT_NEAR(static_cast<double>(drops[i] - drops[i - 1]), 14700.0, 5.0);  // not 16000
}

// A rate far outside the slider for one block (a phase step of infinity or
// of many cycles) leaves the object working: from the next block on the gains
// are finite and swing between 1 - depth and 1 again.
TEST_F(Tremolo, AWildRateDoesNotBreakTheObject) {
  for (double wild : {1e38, -1e38, 1e30, -50.0}) {
    const int64_t id = static_cast<int64_t>(std::fabs(wild) > 1e20 ? std::log10(std::fabs(wild)) : 7) + (wild < 0);
    plugin_->SetValue("周期", wild);
    RunBlock(*plugin_, Stereo(1470, 1.0f, 1.0f), {.id = id});
    plugin_->SetValue("周期", 30.0);
    Stereo out = RunBlocks(*plugin_, Stereo(44100, 1.0f, 1.0f), 1470, {.id = id, .frame = 1});
    float lo = 2, hi = -2;
    for (size_t i = 1470; i < out.size(); ++i) {
      ASSERT_TRUE(std::isfinite(out.left[i])) << wild;
      lo = std::min(lo, out.left[i]), hi = std::max(hi, out.left[i]);
    }
    EXPECT_NEAR(lo, 0.7f, 0.01) << wild;
    EXPECT_NEAR(hi, 1.0f, 0.01) << wild;
  }
}

}  // namespace
}  // namespace velmor::test
