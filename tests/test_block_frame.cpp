// The audio callback's frame, for every plug-in: call order, bad input,
// per-object state, reloads and the exception boundary.
#include "framework/platform.h"
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "effect_handlers.h"
#include "framework/float_environment.h"
#include "host/child_process.h"
#include "plugin_test.h"


namespace velmor::test {
namespace {

using host::BlockRequest;
using host::HostCall;

class BlockFrame : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    plugin_ = LoadPlugin(GetParam());
    ASSERT_TRUE(plugin_);
  }
  std::unique_ptr<host::Plugin> plugin_;
};

Stereo Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-0.5f, 0.5f);
  Stereo s(n);
  for (size_t i = 0; i < n; ++i) {
    s.left[i] = d(rng);
    s.right[i] = d(rng);
  }
  return s;
}

void ExpectSame(const Stereo& a, const Stereo& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(Bits(a.left[i]), Bits(b.left[i])) << "left " << i;
    ASSERT_EQ(Bits(a.right[i]), Bits(b.right[i])) << "right " << i;
  }
}

// A block of no samples still creates the object's state, designed and
// without history: the impulse of the next block shows it.
TEST(BlockFrameEmptyBlock, CreatesTheStateWithoutHistory) {
  struct Case {
    const char* plugin;
    const char* item;
    double value;
    float first, second;
  };
  const Case cases[] = {
      {"VelmorDistortion", nullptr, 0.0, 0.0030589465f, 0.0076237707f},
      {"VelmorFilter", nullptr, 0.0, 0.017677689f, 0.065103754f},
      {"VelmorEqualizer", "1600Hz", 6.0, 1.05374f, 0.09904611f},
  };
  for (const Case& c : cases) {
    auto plugin = LoadPlugin(c.plugin);
    if (c.item) plugin->SetValue(c.item, c.value);
    const Stereo out = ImpulseAfterAnEmptyBlock(*plugin, 60);
    EXPECT_BITS(out.left[0], c.first) << c.plugin;
    EXPECT_BITS(out.left[1], c.second) << c.plugin;
  }
}

TEST_P(BlockFrame, ZeroLengthBlockCallsHostInOrder) {
  std::vector<float> none;
  auto result = plugin_->Process(none, none, BlockRequest{});
  EXPECT_TRUE(result.result);
  ASSERT_EQ(result.calls.size(), 4u);
  EXPECT_EQ(result.calls[0].kind, HostCall::Read);
  EXPECT_EQ(result.calls[0].channel, 0);
  EXPECT_EQ(result.calls[1].kind, HostCall::Read);
  EXPECT_EQ(result.calls[1].channel, 1);
  EXPECT_EQ(result.calls[2].kind, HostCall::Write);
  EXPECT_EQ(result.calls[2].channel, 0);
  EXPECT_EQ(result.calls[3].kind, HostCall::Write);
  EXPECT_EQ(result.calls[3].channel, 1);
}

TEST_P(BlockFrame, EachChannelHasItsOwnBuffer) {
  Stereo block = Noise(64, 1);
  auto result = plugin_->Process(block.left, block.right, BlockRequest{});
  ASSERT_EQ(result.calls.size(), 4u);
  EXPECT_NE(result.calls[0].buffer, result.calls[1].buffer);
  EXPECT_EQ(result.calls[0].buffer, result.calls[2].buffer);
  EXPECT_EQ(result.calls[1].buffer, result.calls[3].buffer);
}

// Bad records from the host: the call fails and touches nothing, and the
// object's state is as if the call had never happened.
TEST_P(BlockFrame, BadRecordsReturnFalseAndTouchNothing) {
  const Stereo input = Noise(256, 2);
  Stereo reference = RunBlock(*plugin_, input, {.id = 7001});

  std::vector<float> dummy(4, 0.25f);
  EXPECT_FALSE(plugin_->Process(dummy.data(), dummy.data(), -1, {.id = 7002}).result);
  EXPECT_TRUE(plugin_->Process(dummy.data(), dummy.data(), -1, {.id = 7002}).calls.empty());
  EXPECT_FALSE(plugin_->Process(dummy.data(), dummy.data(), INT32_MIN, {.id = 7002}).result);
  for (int which = 0; which < 3; ++which) {
    BlockRequest bad{.id = 7002};
    bad.nullObject = which == 0;
    bad.nullReader = which == 1;
    bad.nullWriter = which == 2;
    Stereo block = input;
    auto result = plugin_->Process(block.left, block.right, bad);
    EXPECT_FALSE(result.result) << which;
    EXPECT_TRUE(result.calls.empty()) << which;
    ExpectSame(block, input);
  }
  // The failed calls created nothing: object 7002 starts fresh now.
  ExpectSame(RunBlock(*plugin_, input, {.id = 7002}), reference);
}

TEST_P(BlockFrame, NullSceneFailsOnlyWhereTheRateIsRead) {
  const std::string name = GetParam();
  const auto plugin = std::find(std::begin(kPluginNames), std::end(kPluginNames), name);
  const bool readsRate = kAllEffects[plugin - std::begin(kPluginNames)]->readsSampleRate;
  const Stereo input = Noise(128, 3);
  Stereo block = input;
  auto result = plugin_->Process(block.left, block.right, {.id = 7101, .nullScene = true});
  if (readsRate) {
    EXPECT_FALSE(result.result);
    EXPECT_TRUE(result.calls.empty());
    ExpectSame(block, input);
  } else {
    EXPECT_TRUE(result.result);
    ExpectSame(block, RunBlock(*plugin_, input, {.id = 7102}));
  }
}

// Objects in alternation keep separate states: interleaving blocks of another
// object changes nothing in an object's output.
TEST_P(BlockFrame, InterleavedObjectsKeepSeparateState) {
  const Stereo a = Noise(4410 * 4, 4), b = Noise(4410 * 4, 5);
  const Stereo alone = RunBlocks(*plugin_, a, 441, {.id = 100});
  Stereo together;
  for (size_t start = 0, frame = 0; start < a.size(); start += 441, ++frame) {
    Stereo blockA, blockB;
    blockA.left.assign(a.left.begin() + start, a.left.begin() + start + 441);
    blockA.right.assign(a.right.begin() + start, a.right.begin() + start + 441);
    blockB.left.assign(b.left.begin() + start, b.left.begin() + start + 441);
    blockB.right.assign(b.right.begin() + start, b.right.begin() + start + 441);
    RunBlock(*plugin_, blockB, {.id = 201, .frame = static_cast<int32_t>(frame)});
    blockA = RunBlock(*plugin_, blockA, {.id = 200, .frame = static_cast<int32_t>(frame)});
    together.left.insert(together.left.end(), blockA.left.begin(), blockA.left.end());
    together.right.insert(together.right.end(), blockA.right.begin(), blockA.right.end());
  }
  ExpectSame(together, alone);
}

// Block boundaries do not matter while the parameters stay the same.
TEST_P(BlockFrame, BlockSizeDoesNotChangeTheOutput) {
  const Stereo input = Noise(3000, 6);
  ExpectSame(RunBlocks(*plugin_, input, 1, {.id = 300}), RunBlocks(*plugin_, input, 3000, {.id = 301}));
  ExpectSame(RunBlocks(*plugin_, input, 63, {.id = 302}), RunBlocks(*plugin_, input, 1000, {.id = 303}));
}

TEST_P(BlockFrame, UnloadAndLoadAgainStartsFresh) {
  const Stereo input = Noise(2000, 7);
  const Stereo first = RunBlock(*plugin_, input, {.id = 42});
  RunBlock(*plugin_, Noise(2000, 8), {.id = 42, .frame = 1});
  plugin_.reset();
  plugin_ = LoadPlugin(GetParam());
  ASSERT_TRUE(plugin_);
  ExpectSame(RunBlock(*plugin_, input, {.id = 42}), first);
}

// The callback leaves the caller's floating-point control word as it found it,
// and the host's own code (its sample callbacks) runs with the caller's word:
// flush-to-zero covers only the effect's work.
TEST_P(BlockFrame, CallerFloatingPointStateIsRestored) {
  // Only the control bits matter: status flags are set by any float work.
  constexpr uint32_t kControl = ~kFloatStatusBits;
  const Stereo input = Noise(512, 9);
  const uint32_t before = FloatControlWord();
  Stereo block = input;
  const auto result = plugin_->Process(block.left, block.right, {.id = 500});
  EXPECT_EQ(FloatControlWord() & kControl, before & kControl);
  ASSERT_EQ(result.calls.size(), 4u);
  for (const auto& call : result.calls) EXPECT_EQ(call.controlWord & kControl, before & kControl) << call.kind;
  std::vector<float> none;
  plugin_->Process(none.data(), none.data(), -5, {.id = 501});
  EXPECT_EQ(FloatControlWord() & kControl, before & kControl);
}

// A buffer that cannot be allocated ends the call with false, before any
// sample is read or written; the library keeps working afterwards.
TEST_P(BlockFrame, FailedAllocationReturnsFalseAndWritesNothing) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__) || VELMOR_UNDER_SANITIZER
  GTEST_SKIP() << "needs an address-space limit in a child process";
#else
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 1ull << 30;
    setrlimit(RLIMIT_AS, &limit);
    // An emulator (qemu-user) may not enforce the limit.
    void* probe = std::malloc(size_t{3} << 29);
    if (probe != nullptr) host::ExitChild(77);
    std::vector<float> small(16, 0.5f);
    const int32_t huge = 400 * 1000 * 1000;  // 1.6 GB per channel buffer
    auto result = plugin_->Process(small.data(), small.data(), huge, {.id = 900});
    bool ok = !result.result && result.calls.empty();
    Stereo block = Noise(64, 10);
    ok = ok && plugin_->Process(block.left, block.right, {.id = 901}).result;
    host::ExitChild(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "the address-space limit is not enforced here (qemu-user ignores it)";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
}

// NaN and infinite input samples must not leave an object producing NaN: after
// such a block the object's histories and lines are cleared, and the next
// block of finite input gives finite output.
TEST_P(BlockFrame, NonFiniteInputDoesNotPoisonTheObject) {
  const float poison[] = {NAN, INFINITY, -INFINITY};
  for (int p = 0; p < 3; ++p) {
    const int64_t id = 800 + p;
    RunBlock(*plugin_, Noise(1470, 11), {.id = id});
    Stereo bad = Noise(1470, 12);
    bad.left[700] = poison[p];
    bad.right[3] = poison[p];
    EXPECT_TRUE(plugin_->Process(bad.left, bad.right, {.id = id, .frame = 1}).result);
    for (int32_t frame = 2; frame < 40; ++frame) {
      Stereo out = RunBlock(*plugin_, Noise(1470, 13 + frame), {.id = id, .frame = frame});
      for (size_t i = 0; i < out.size(); ++i)
        ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i])) << "frame " << frame << " sample " << i;
    }
  }
}

// A slider value that is not a finite number is read as the item's default.
TEST_P(BlockFrame, NonFiniteItemValuesReadAsDefaults) {
  const Stereo input = Noise(2000, 20);
  const Stereo reference = RunBlock(*plugin_, input, {.id = 850});
  for (double bad : {static_cast<double>(NAN), static_cast<double>(INFINITY), -static_cast<double>(INFINITY)}) {
    const auto& items = plugin_->description().items;
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i].kind == host::ItemKind::Track) plugin_->SetValue(i, bad);
    ExpectSame(RunBlock(*plugin_, input, {.id = static_cast<int64_t>(851 + std::signbit(bad) + std::isinf(bad))}), reference);
  }
}

// Every slider at either end, at rates where a filter design would otherwise
// pass half the sample rate (the filter below 36 kHz, the distortion's tone at
// 16 kHz, the smoothing sections at 24 and 4 kHz): finite, bounded output.
TEST_P(BlockFrame, SliderEndsAtLowRatesStayBounded) {
  const bool equalizer = std::string(GetParam()) == "VelmorEqualizer";
  int64_t id = 870;
  for (int rate : {1000, 4000, 8000, 16000, 24000, 32000, 36000}) {
    for (int end = 0; end < 2; ++end) {
      const auto& items = plugin_->description().items;
      for (size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        if (item.kind == host::ItemKind::Track) plugin_->SetValue(i, end ? item.max : item.min);
        if (item.kind == host::ItemKind::Select) plugin_->SetValue(i, end ? item.options.back().value : 0);
      }
      const Stereo in = Noise(rate, 21);  // one second at half-scale peaks
      Stereo out = RunBlocks(*plugin_, in, 1470, {.id = ++id, .sampleRate = rate});
      float peak = 0;
      for (size_t i = 0; i < out.size(); ++i) {
        ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i])) << rate << " end " << end;
        peak = std::max({peak, std::fabs(out.left[i]), std::fabs(out.right[i])});
      }
      if (!(equalizer && end == 1)) {
        EXPECT_LT(peak, 100 * 0.5f) << rate << " end " << end;
      }
    }
  }
}

// Four threads drive different objects of one library at once; calls are
// serialised inside, and each object's output equals a single-threaded run.
TEST_P(BlockFrame, ThreadsDrivingDifferentObjectsMatchASingleThread) {
  constexpr int kThreads = 4, kBlocks = 150;
  auto input = [](int t, int b) { return Noise(441, static_cast<unsigned>(1000 * t + b)); };
  std::vector<Stereo> threaded(kThreads), single(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int b = 0; b < kBlocks; ++b) {
        Stereo in = input(t, b);
        plugin_->Process(in.left, in.right, {.id = 5000 + t, .frame = b});
        threaded[t].left.insert(threaded[t].left.end(), in.left.begin(), in.left.end());
        threaded[t].right.insert(threaded[t].right.end(), in.right.begin(), in.right.end());
      }
    });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int b = 0; b < kBlocks; ++b) {
      Stereo out = RunBlock(*plugin_, input(t, b), {.id = 6000 + t, .frame = b});
      single[t].left.insert(single[t].left.end(), out.left.begin(), out.left.end());
      single[t].right.insert(single[t].right.end(), out.right.begin(), out.right.end());
    }
    ExpectSame(threaded[t], single[t]);
  }
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, BlockFrame, ::testing::ValuesIn(kPluginNames),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace velmor::test
