// VelmorPitchShifter through its exports.
#include <cmath>

#include "plugin_test.h"

namespace velmor::test {
namespace {

class PitchShifter : public PluginTest {
 protected:
  PitchShifter() : PluginTest("VelmorPitchShifter") {}
  // Crossfade start indices seen on a ramp input: outside a crossfade the
  // output follows the ramp at a steady slope; a crossfade's second sample
  // (the first with weight on the second head) breaks that slope.
  std::vector<size_t> CrossfadeStarts(double pitch, size_t n) {
    plugin_->SetValue("ピッチ", pitch);
    Stereo ramp(n);
    for (size_t i = 0; i < n; ++i) ramp.left[i] = ramp.right[i] = static_cast<float>(i);
    Stereo out = RunBlocks(*plugin_, ramp, 1470, {.id = static_cast<int64_t>(pitch * 100) + 5000});
    const double slope = std::pow(2.0, pitch / 12.0);
    std::vector<size_t> starts;
    bool inside = false;
    for (size_t i = 3000; i < n; ++i) {
      const bool broken = std::fabs((out.left[i] - out.left[i - 1]) - slope) > 0.05;
      if (broken && !inside) starts.push_back(i - 1);
      inside = broken || (inside && i - starts.back() < 101);
    }
    // A crossfade already running where the scan begins is not a start.
    if (!starts.empty() && starts.front() == 2999) starts.erase(starts.begin());
    return starts;
  }
};

std::vector<std::pair<size_t, float>> Peaks(const std::vector<float>& x, size_t n) {
  std::vector<std::pair<size_t, float>> out;
  for (size_t i = 0; i < n; ++i)
    if (x[i] != 0.0f) out.push_back({i, x[i]});
  return out;
}

TEST_F(PitchShifter, DefaultsShiftAnImpulseTo841) {
  Stereo out = RunBlock(*plugin_, Impulse(1000));
  for (const auto* ch : {&out.left, &out.right}) {
    auto peaks = Peaks(*ch, 1000);
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].first, 841u);
    EXPECT_BITS(peaks[0].second, 0.87681061f);
  }
}

TEST_F(PitchShifter, PitchZeroIsAPureDelay) {
  plugin_->SetValue("ピッチ", 0.0);
  Stereo in(5000);
  for (size_t i = 0; i < in.size(); ++i) in.left[i] = std::sin(0.1f * i), in.right[i] = std::cos(0.03f * i);
  Stereo out = RunBlocks(*plugin_, in, 700);
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(out.left[i], 0.0f);
  for (size_t i = 1000; i < in.size(); ++i) {
    ASSERT_EQ(out.left[i], in.left[i - 1000]) << i;
    ASSERT_EQ(out.right[i], in.right[i - 1000]) << i;
  }
}

TEST_F(PitchShifter, OctaveUpImpulseAndSecondHead) {
  plugin_->SetValue("ピッチ", 12.0);
  Stereo out = RunBlock(*plugin_, Impulse(1000));
  auto peaks = Peaks(out.left, 1000);
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(peaks[0].first, 500u);
  EXPECT_BITS(peaks[0].second, 1.0f);
  EXPECT_EQ(peaks[1].first, 900u);
  EXPECT_BITS(peaks[1].second, 0.98999935f);
}

TEST_F(PitchShifter, CrossfadePeriods) {
  struct Case { double pitch; size_t first, period; };
  for (Case c : {Case{3.0, 4229, 4228}, Case{12.0, 801, 800}, Case{-12.0, 1601, 1600},
                 Case{24.0, 0, 266}, Case{-24.0, 0, 1066}}) {
    auto starts = CrossfadeStarts(c.pitch, 30000);
    ASSERT_GE(starts.size(), 3u) << c.pitch;
    if (c.first >= 3000) {
      EXPECT_EQ(starts.front(), c.first) << c.pitch;
    }
    for (size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(starts[i] - starts[i - 1], c.period) << c.pitch << " at " << starts[i];
  }
}

TEST_F(PitchShifter, DryOnlyPassesTheInput) {
  plugin_->SetValue("音量(原音)", 100.0);
  plugin_->SetValue("音量(ピッチシフト)", 0.0);
  Stereo in(3000);
  for (size_t i = 0; i < in.size(); ++i) in.left[i] = std::sin(0.2f * i), in.right[i] = -in.left[i];
  Stereo out = RunBlock(*plugin_, in);
  EXPECT_EQ(out.left, in.left);
  EXPECT_EQ(out.right, in.right);
}

TEST_F(PitchShifter, JumpsClearTheRingsButNotTheHeads) {
  plugin_->SetValue("ピッチ", 0.0);
  // The impulse is due at sample 1000, in the third block.
  auto delayed = [&](int64_t id, std::vector<int32_t> frames) {
    return ImpulseSumOverFrames(*plugin_, id, frames, 400, false);
  };
  EXPECT_EQ(delayed(1, {10, 11, 11, 12}), 1.0f);
  EXPECT_EQ(delayed(2, {11, 12, 9, 10}), 0.0f);
  EXPECT_EQ(delayed(3, {11, 12, 14, 15}), 0.0f);
}

TEST_F(PitchShifter, ZeroLengthBlockSetsDriftAndTestsContinuity) {
  plugin_->SetValue("ピッチ", 12.0);
  std::vector<float> none;
  EXPECT_TRUE(plugin_->Process(none, none, {.id = 9, .frame = 5}).result);
  Stereo out = RunBlock(*plugin_, Impulse(600), {.id = 9, .frame = 6});
  EXPECT_EQ(out.left[500], 1.0f);
}

// Pitches far outside the slider (or not numbers) keep every head inside the
// ring and the conversions defined; the sanitizer build checks each access.
TEST_F(PitchShifter, AnyPitchKeepsTheHeadsInsideTheRing) {
  int64_t id = 100;
  for (double pitch : std::initializer_list<double>{1000.0, -1000.0, 1e300, -1e300, NAN, INFINITY, -INFINITY, 150.0}) {
    plugin_->SetValue("ピッチ", pitch);
    Stereo in(20000, 0.5f, -0.5f);
    Stereo out = RunBlocks(*plugin_, in, 4096, {.id = ++id});
    for (size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(std::isfinite(out.left[i])) << pitch;
  }
}

// A pitch far above the slider, held for millions of frames: the drift is
// held where every crossfade still ends inside the range, so the head offsets
// stay bounded (the sanitizer build checks each conversion to int32).
TEST_F(PitchShifter, AWildPitchHeldForMillionsOfFrames) {
  plugin_->SetValue("ピッチ", 2424.0);
  Stereo block(16000, 0.25f, -0.25f);
  for (int32_t frame = 0; frame < 200; ++frame) {
    Stereo out = RunBlock(*plugin_, block, {.id = 77, .frame = frame});
    for (size_t i = 0; i < out.size(); i += 997) ASSERT_TRUE(std::isfinite(out.left[i])) << frame;
  }
}

}  // namespace
}  // namespace velmor::test
