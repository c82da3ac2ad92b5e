// VelmorDelay through its exports.
#include <cmath>

#include "plugin_test.h"

namespace velmor::test {
namespace {

class Delay : public PluginTest {
 protected:
  Delay() : PluginTest("VelmorDelay") {}
  // Echoes alone, with a short delay: k = 2205 samples at 44100 Hz.
  void EchoesOnly(int mode, double feedback) {
    plugin_->SetValue("音量(原音)", 0.0);
    plugin_->SetValue("音量(ディレイ)", 100.0);
    plugin_->SetValue("ディレイタイム", 50.0);
    plugin_->SetValue("タイプ", mode);
    plugin_->SetValue("フィードバック", feedback);
  }
};

constexpr size_t k = 2205;

// Every non-zero sample of a channel: position and value.
std::vector<std::pair<size_t, float>> Peaks(const std::vector<float>& x) {
  std::vector<std::pair<size_t, float>> out;
  for (size_t i = 0; i < x.size(); ++i)
    if (x[i] != 0.0f) out.push_back({i, x[i]});
  return out;
}

using Echoes = std::vector<std::pair<size_t, float>>;

TEST_F(Delay, DefaultsEchoAt22050) {
  Stereo out = RunBlocks(*plugin_, Impulse(44101), 1470);
  const Echoes expected = {{0, 1.0f}, {22050, 0.5f}, {44100, 0.040000003f}};
  for (const auto* ch : {&out.left, &out.right}) {
    auto peaks = Peaks(*ch);
    ASSERT_EQ(peaks.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(peaks[i].first, expected[i].first);
      EXPECT_BITS(peaks[i].second, expected[i].second);
    }
  }
}

TEST_F(Delay, NormalModeCrossesTheChannels) {
  EchoesOnly(0, 0.5);  // feedback 0.4
  Stereo in(5 * k + 1);
  in.left[0] = 1.0f;
  Stereo out = RunBlock(*plugin_, in);
  const float f = 0.5f * 0.8f;
  EXPECT_EQ(Peaks(out.right), (Echoes{{k, 1.0f}, {3 * k, f * f}, {5 * k, f * f * f * f}}));
  EXPECT_EQ(Peaks(out.left), (Echoes{{2 * k, f}, {4 * k, f * f * f}}));
}

TEST_F(Delay, PingPongModesAlternateSides) {
  const float f = 0.5f * 0.8f;
  for (int mode : {1, 2}) {
    EchoesOnly(mode, 0.5);
    Stereo out = RunBlock(*plugin_, Impulse(5 * k + 1), {.id = mode});
    const Echoes first = {{k, 1.0f}, {3 * k, f}, {5 * k, f * f}};
    const Echoes second = {{2 * k, 1.0f}, {4 * k, f}};
    EXPECT_EQ(Peaks(mode == 1 ? out.right : out.left), first) << mode;
    EXPECT_EQ(Peaks(mode == 1 ? out.left : out.right), second) << mode;
    // One channel alone feeds half the mono sum, whichever channel it is.
    Stereo single(2 * k + 1);
    single.right[0] = 1.0f;
    Stereo half = RunBlock(*plugin_, single, {.id = 10 + mode});
    EXPECT_EQ(Peaks(mode == 1 ? half.right : half.left), (Echoes{{k, 0.5f}}));
    EXPECT_EQ(Peaks(mode == 1 ? half.left : half.right), (Echoes{{2 * k, 0.5f}}));
  }
}

TEST_F(Delay, FeedbackZeroAndItsLimit) {
  EchoesOnly(0, 0.0);
  Stereo out = RunBlock(*plugin_, Impulse(4 * k), {.id = 1});
  EXPECT_EQ(Peaks(out.left), (Echoes{{k, 1.0f}}));
  for (int mode : {1, 2}) {
    EchoesOnly(mode, 0.0);
    Stereo pp = RunBlock(*plugin_, Impulse(6 * k), {.id = 1 + mode});
    EXPECT_EQ(Peaks(pp.left).size() + Peaks(pp.right).size(), 2u) << mode;
  }
  for (double request : {1.0, 5.0}) {
    EchoesOnly(0, request);
    Stereo loud = RunBlock(*plugin_, Impulse(2 * k + 1), {.id = static_cast<int64_t>(10 + request)});
    EXPECT_BITS(loud.left[2 * k], 0.8f);
  }
  EchoesOnly(0, -3.0);
  Stereo none = RunBlock(*plugin_, Impulse(2 * k + 1), {.id = 20});
  EXPECT_EQ(none.left[2 * k], 0.0f);
}

TEST_F(Delay, DryAndWetLevels) {
  plugin_->SetValue("音量(ディレイ)", 0.0);
  Stereo in(30000);
  for (size_t i = 0; i < in.size(); ++i) in.left[i] = in.right[i] = std::sin(0.01f * i);
  Stereo out = RunBlock(*plugin_, in);
  EXPECT_EQ(out.left, in.left);
  EXPECT_EQ(out.right, in.right);
}

// A type outside the list gives no echo and stops the rings: no slot is
// written and no index moves, so a pending echo comes that much later once a
// listed type is back.
TEST_F(Delay, UnlistedTypeHoldsTheRings) {
  EchoesOnly(0, 0.0);
  plugin_->SetValue("音量(原音)", 100.0);
  Stereo in(1000);
  in.left[0] = 1.0f;
  RunBlock(*plugin_, in, {.id = 1, .frame = 0});
  plugin_->SetValue("タイプ", 9);
  Stereo held = RunBlock(*plugin_, Stereo(2000, 0.25f, -0.5f), {.id = 1, .frame = 1});
  EXPECT_EQ(held.left, std::vector<float>(2000, 0.25f));  // the dry signal alone
  EXPECT_EQ(held.right, std::vector<float>(2000, -0.5f));
  plugin_->SetValue("タイプ", 0);
  Stereo out = RunBlock(*plugin_, Stereo(3000), {.id = 1, .frame = 2});
  EXPECT_EQ(Peaks(out.right), (Echoes{{k - 1000, 1.0f}}));  // due at 2205, 2000 samples late
}

// A one-step change of the delay time silences all pending echoes; the first
// new echo comes k samples after the change. A zero-length block is enough.
TEST_F(Delay, ChangedDelayTimeClearsTheRings) {
  EchoesOnly(0, 0.5);
  RunBlock(*plugin_, Impulse(1000), {.id = 1, .frame = 0});
  plugin_->SetValue("ディレイタイム", 51.0);  // 2249 samples
  std::vector<float> none;
  EXPECT_TRUE(plugin_->Process(none, none, {.id = 1, .frame = 1}).result);
  Stereo in(3000);
  in.left[0] = 1.0f;
  Stereo out = RunBlock(*plugin_, in, {.id = 1, .frame = 2});
  EXPECT_EQ(Peaks(out.left), Echoes{});
  EXPECT_EQ(Peaks(out.right), (Echoes{{2249, 1.0f}}));
}

TEST_F(Delay, JumpsOfTheFrameNumberClearTheRings) {
  EchoesOnly(0, 0.0);
  // The impulse goes into the first block; the echo is due in the last one.
  auto echoAfter = [&](int64_t id, std::vector<int32_t> frames) {
    return ImpulseSumOverFrames(*plugin_, id, frames, 1000, true);
  };
  // The echo is due at 2205, in the third block.
  EXPECT_EQ(echoAfter(1, {10, 11, 11}), 1.0f);
  EXPECT_EQ(echoAfter(2, {11, 12, 12}), 1.0f);
  EXPECT_EQ(echoAfter(3, {11, 12, 9}), 0.0f);
  EXPECT_EQ(echoAfter(4, {11, 12, 14}), 0.0f);
}

// Requests of the ring's whole length or more echo at 49998 samples, the
// whole length itself too (1000 ms at 50 kHz, 500 ms at 100 kHz), which
// would otherwise wrap to an echo of one sample.
TEST_F(Delay, LongRequestsAreHeldAt49998) {
  plugin_->SetValue("音量(原音)", 0.0);
  struct Case { double time; int rate; };
  int64_t id = 50;
  for (Case c : {Case{1000.0, 96000}, Case{1000.0, 50000}, Case{500.0, 100000}}) {
    plugin_->SetValue("ディレイタイム", c.time);
    Stereo out = RunBlocks(*plugin_, Impulse(50001), 5000, {.id = ++id, .sampleRate = c.rate});
    EXPECT_EQ(Peaks(out.left), (Echoes{{49998, 0.5f}})) << c.time << " ms at " << c.rate << " Hz";
  }
}

// Lengths that do not fit the ring become 1 or 49998: every index stays in
// the ring (the sanitizer build checks every access) and the output is finite.
TEST_F(Delay, OutOfRangeDelayTimesAndRatesStayInsideTheRing) {
  plugin_->SetValue("音量(原音)", 0.0);
  plugin_->SetValue("フィードバック", 0.0);
  int64_t id = 100;
  for (double time : std::initializer_list<double>{-5.0, 0.0, 0.01, 1e30, -1e30, NAN, INFINITY, 2000.0}) {
    for (int rate : {44100, 0, -44100, 1, 2147483647}) {
      plugin_->SetValue("ディレイタイム", time);
      Stereo out = RunBlocks(*plugin_, Impulse(60000), 6000, {.id = ++id, .sampleRate = rate});
      size_t echoes = 0;
      for (float v : out.left) {
        ASSERT_TRUE(std::isfinite(v));
        echoes += v != 0.0f;
      }
      EXPECT_LE(echoes, 1u) << time << " " << rate;
    }
  }
  // Times of no length give the shortest echo, one sample.
  plugin_->SetValue("ディレイタイム", -5.0);
  Stereo out = RunBlock(*plugin_, Impulse(10), {.id = 1});
  EXPECT_EQ(Peaks(out.left), (Echoes{{1, 0.5f}}));
}

// Outputs near the largest float are finite even where their sum is not:
// the object keeps its rings, and the echo of the loud block follows.
TEST_F(Delay, LoudFiniteOutputKeepsTheRings) {
  EchoesOnly(0, 0.0);
  plugin_->SetValue("音量(原音)", 3e38);  // a factor of 3e36: outputs of 3e38
  Stereo loud(k);
  std::fill(loud.left.begin(), loud.left.end(), 100.0f);
  const Stereo out = RunBlock(*plugin_, loud, {.id = 7});
  ASSERT_TRUE(std::isfinite(out.left[k - 1]) && out.left[k - 1] > 1e38f);
  plugin_->SetValue("音量(原音)", 0.0);
  EXPECT_EQ(Peaks(RunBlock(*plugin_, Stereo(1), {.id = 7, .frame = 1}).right), (Echoes{{0, 100.0f}}));
}

}  // namespace
}  // namespace velmor::test
