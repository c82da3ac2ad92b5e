// VelmorModulator through its exports.
#include <cmath>

#include "plugin_test.h"

namespace velmor::test {
namespace {

class Modulator : public PluginTest {
 protected:
  Modulator() : PluginTest("VelmorModulator") {}
};

Stereo Signal(size_t n) {
  Stereo s(n);
  for (size_t i = 0; i < n; ++i) s.left[i] = std::sin(0.05f * i), s.right[i] = std::cos(0.011f * i);
  return s;
}

TEST_F(Modulator, RingDefaultGains) {
  Stereo out = RunBlock(*plugin_, Stereo(3, 1.0f, 1.0f));
  ExpectValues(out.left, {"0.85056996", "0.8521874", "0.85410702"});
  ExpectValues(out.right, {"0.85056996", "0.8521874", "0.85410702"});
}

TEST_F(Modulator, DepthZeroRingPassesAndUnknownModesPass) {
  const Stereo in = Signal(5000);
  plugin_->SetValue("深さ", 0.0);
  Stereo ring = RunBlocks(*plugin_, in, 1470, {.id = 1});
  EXPECT_EQ(ring.left, in.left);
  EXPECT_EQ(ring.right, in.right);
  plugin_->SetValue("深さ", 0.7);
  for (int mode : {5, -1, 2}) {
    plugin_->SetValue("タイプ", mode);
    Stereo out = RunBlocks(*plugin_, in, 1470, {.id = 2});
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
  }
}

TEST_F(Modulator, FmAtDepthZeroDelaysBy500Frames) {
  plugin_->SetValue("タイプ", 1);
  plugin_->SetValue("深さ", 0.0);
  Stereo in(2000);
  in.left[0] = 1.0f;
  Stereo out = RunBlocks(*plugin_, in, 1470);
  for (size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out.left[i], i == 500 ? 1.0f : 0.0f) << i;
    ASSERT_EQ(out.right[i], 0.0f) << i;
  }
}

// Switching to ring and back resumes the FM line where it was: the FM output
// is that of an object that never left FM mode.
TEST_F(Modulator, ModeSwitchKeepsEachRecord) {
  plugin_->SetValue("タイプ", 1);
  const Stereo a = Signal(900), b = Signal(700);
  Stereo fmOnly1 = RunBlock(*plugin_, a, {.id = 10});
  Stereo fmOnly2 = RunBlock(*plugin_, b, {.id = 10, .frame = 1});
  RunBlock(*plugin_, a, {.id = 11});
  plugin_->SetValue("タイプ", 0);
  Stereo ring = RunBlock(*plugin_, Stereo(3, 1.0f, 1.0f), {.id = 11, .frame = 1});
  ExpectValues(ring.left, {"0.85056996", "0.8521874", "0.85410702"});  // a fresh ring record
  plugin_->SetValue("タイプ", 1);
  Stereo resumed = RunBlock(*plugin_, b, {.id = 11, .frame = 2});
  EXPECT_EQ(resumed.left, fmOnly2.left);
  EXPECT_EQ(resumed.right, fmOnly2.right);
}

TEST_F(Modulator, ZeroLengthBlockAdvancesNothing) {
  std::vector<float> none;
  EXPECT_TRUE(plugin_->Process(none, none, {.id = 20}).result);
  Stereo out = RunBlock(*plugin_, Stereo(3, 1.0f, 1.0f), {.id = 20, .frame = 1});
  ExpectValues(out.left, {"0.85056996", "0.8521874", "0.85410702"});
}

// The first block of a record divides its phase step by 44100, later blocks
// by the rate of the record's previous block.
TEST_F(Modulator, PhaseStepUsesThePreviousBlocksRate) {
  plugin_->SetValue("深さ", 1.0);
  plugin_->SetValue("波形タイプ", 3);
  auto dropsIn = [](const Stereo& s) {
    std::vector<size_t> drops;
    for (size_t i = 1; i < s.size(); ++i)
      if (s.left[i] < s.left[i - 1] - 0.3f) drops.push_back(i);
    return drops;
  };
  // 80 Hz: one cycle is 44100 / 80 = 551.25 samples at the first block's step,
  // then 96000 / 80 = 1200 samples.
  Stereo first = RunBlock(*plugin_, Stereo(3000, 1.0f, 1.0f), {.id = 30, .sampleRate = 96000});
  Stereo second = RunBlock(*plugin_, Stereo(6000, 1.0f, 1.0f), {.id = 30, .frame = 1, .sampleRate = 96000});
  auto d1 = dropsIn(first), d2 = dropsIn(second);
  ASSERT_GE(d1.size(), 3u);
  ASSERT_GE(d2.size(), 3u);
  EXPECT_NEAR(static_cast<double>(d1[2] - d1[1]), 551.25, 1.0);
  EXPECT_NEAR(static_cast<double>(d2[2] - d2[1]), 1200.0, 1.0);
}

// Depths far outside the slider, and rates at which the 12000 Hz smoothing
// would be unstable, keep the tap offset convertible and inside the line.
TEST_F(Modulator, AnyDepthAndRateKeepTheTapsInsideTheLine) {
  plugin_->SetValue("タイプ", 1);
  int64_t id = 100;
  for (double depth : std::initializer_list<double>{1e6, -1e6, 1e30, 3.0, NAN}) {
    for (int rate : {44100, 24000, 8000, 1}) {
      plugin_->SetValue("深さ", depth);
      plugin_->SetValue("波形タイプ", 2);
      Stereo out = RunBlocks(*plugin_, Signal(9000), 1470, {.id = ++id, .sampleRate = rate});
      for (float v : out.left) ASSERT_TRUE(std::isfinite(v)) << depth << " " << rate;
    }
  }
}

}  // namespace
}  // namespace velmor::test
