// The LV2 library against the AviUtl2 plug-ins: an instance run through the
// LV2 descriptor gives, bit for bit, what the .auf2 gives for the same blocks,
// rate and settings (held to the ports' declared ranges); instances run on
// several threads at once; run() does not allocate; activate() begins a new
// object; the bypass switch fades to the dry input and back. A host may hand
// separate output buffers, the input buffers (in place) or the input buffers
// crossed.
#include <lv2/core/lv2.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>

#include "host/allocation_counter.h"
#include "plugin_test.h"

namespace velmor::test {
namespace {

constexpr uint32_t kAudioPorts = 4;  // in L, in R, out L, out R; controls follow

// lv2_descriptor of the bundle's library: velmor.so, or velmor.dll under wine
// (the build's Unix path on drive Z:).
const LV2_Descriptor* Lv2Descriptor(size_t index) {
  using Get = const LV2_Descriptor* (*)(uint32_t);
#if defined(_WIN32)
  static HMODULE library = [] {
    std::string path = std::string("Z:") + kLv2Library;
    std::replace(path.begin(), path.end(), '/', '\\');
    return LoadLibraryA(path.c_str());
  }();
  if (library == nullptr) return nullptr;
  auto get = reinterpret_cast<Get>(reinterpret_cast<void*>(GetProcAddress(library, "lv2_descriptor")));
#else
  static void* library = dlopen(kLv2Library, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  auto get = reinterpret_cast<Get>(dlsym(library, "lv2_descriptor"));
#endif
  return get ? get(static_cast<uint32_t>(index)) : nullptr;
}

// One LV2 instance with its control values and separate or shared buffers.
class Lv2Instance {
 public:
  // The last control port is the bypass switch ("enabled"), after the items.
  Lv2Instance(const LV2_Descriptor* d, double rate, size_t items) : d_(d), controls_(items + 1, 1.0f) {
    handle_ = d_->instantiate(d_, rate, "", nullptr);
    for (size_t k = 0; k <= items; ++k) d_->connect_port(handle_, kAudioPorts + static_cast<uint32_t>(k), &controls_[k]);
    d_->activate(handle_);
  }
  ~Lv2Instance() {
    d_->deactivate(handle_);
    d_->cleanup(handle_);
  }
  void Set(size_t item, float value) { controls_[item] = value; }
  void Connect(const float* inL, const float* inR, float* outL, float* outR) {
    d_->connect_port(handle_, 0, const_cast<float*>(inL));
    d_->connect_port(handle_, 1, const_cast<float*>(inR));
    d_->connect_port(handle_, 2, outL);
    d_->connect_port(handle_, 3, outR);
  }
  void Activate() { d_->activate(handle_); }
  // How a host hands over the buffers: its own for the output, the input's
  // (in place), or the input's crossed (left out into the right input).
  enum class Buffers { kSeparate, kInPlace, kCrossed };
  // One run() over the block.
  Stereo Run(const Stereo& in, Buffers buffers) {
    Stereo out = in;
    if (buffers == Buffers::kInPlace) {
      RunInPlace(out);
    } else if (buffers == Buffers::kCrossed) {
      Stereo io = in;
      Connect(io.left.data(), io.right.data(), io.right.data(), io.left.data());
      d_->run(handle_, static_cast<uint32_t>(in.size()));
      out.left = io.right;
      out.right = io.left;
    } else {
      // The host's own buffers hold what they held last, never this input.
      std::fill(out.left.begin(), out.left.end(), 1e30f);
      std::fill(out.right.begin(), out.right.end(), -1e30f);
      Connect(in.left.data(), in.right.data(), out.left.data(), out.right.data());
      d_->run(handle_, static_cast<uint32_t>(in.size()));
    }
    return out;
  }
  void RunInPlace(Stereo& io) {
    Connect(io.left.data(), io.right.data(), io.left.data(), io.right.data());
    d_->run(handle_, static_cast<uint32_t>(io.size()));
  }

 private:
  const LV2_Descriptor* d_;
  LV2_Handle handle_;
  std::vector<float> controls_;
};

bool SameSamples(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Bits(a[i]) != Bits(b[i]) && !(std::isnan(a[i]) && std::isnan(b[i]))) return false;
  return true;
}

// A random scenario: block lengths, settings (in and out of range, and NaN,
// as floats, since that is what an LV2 port holds) and signals, rate fixed.
// Half the blocks keep the settings of the block before, all or all but one,
// as a host's automation mostly does.
struct Block {
  Stereo audio;
  std::vector<float> values;
};

std::vector<Block> Scenario(const host::Plugin& plugin, unsigned seed, int blocks) {
  std::mt19937 rng(seed);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  const auto& items = plugin.description().items;
  auto value = [&](const host::ItemInfo& item) {
    if (rng() % 16 == 0) return NAN;
    if (item.kind == host::ItemKind::Select) return static_cast<float>(static_cast<int>(rng() % (item.options.size() + 2)) - 1);
    return static_cast<float>(rng() % 8 == 0 ? uniform(-2 * item.max, 3 * item.max) : uniform(item.min, item.max));
  };
  std::vector<Block> out;
  for (int b = 0; b < blocks; ++b) {
    Block block;
    if (b > 0 && rng() % 2 == 0) {
      block.values = out.back().values;
      if (rng() % 2 == 0) {
        const size_t k = rng() % items.size();
        block.values[k] = value(items[k]);
      }
    } else {
      for (const auto& item : items) block.values.push_back(value(item));
    }
    const int kind = static_cast<int>(rng() % 8);
    const size_t n = kind == 0 ? rng() % 3 : kind == 1 ? rng() % 17 : rng() % 2000;
    block.audio = Stereo(n);
    for (size_t i = 0; i < n; ++i) {
      block.audio.left[i] = static_cast<float>(uniform(-1, 1));
      block.audio.right[i] = rng() % 500 == 0 ? NAN : static_cast<float>(uniform(-0.5, 0.5));
    }
    out.push_back(std::move(block));
  }
  return out;
}

class Lv2 : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    descriptor_ = Lv2Descriptor(GetParam());
    ASSERT_NE(descriptor_, nullptr) << "no LV2 descriptor " << GetParam() << " in " << kLv2Library;
    plugin_ = LoadPlugin(kPluginNames[GetParam()]);
    ASSERT_TRUE(plugin_);
    std::string uri = "urn:velmor:";
    uri.append(kPluginSlugs[GetParam()]);
    EXPECT_EQ(descriptor_->URI, uri);
  }

  // A port's value as the LV2 binding hands it on: within the declared range,
  // a drop-down list's rounded to an option, NaN as the default.
  double Held(size_t k, float port) const {
    const host::ItemInfo& item = plugin_->description().items[k];
    if (std::isnan(port)) return item.defaultValue;
    if (item.kind == host::ItemKind::Select)
      return std::clamp(std::round(static_cast<double>(port)), 0.0, static_cast<double>(item.options.size() - 1));
    return std::clamp(static_cast<double>(port), item.min, item.max);
  }

  // The scenario through the .auf2, one object, frames 0, 1, 2, ...
  std::vector<Stereo> ThroughAviUtl2(const std::vector<Block>& blocks, int rate, int64_t id) {
    std::vector<Stereo> out;
    for (size_t b = 0; b < blocks.size(); ++b) {
      for (size_t k = 0; k < blocks[b].values.size(); ++k) plugin_->SetValue(k, Held(k, blocks[b].values[k]));
      out.push_back(RunBlock(*plugin_, blocks[b].audio, {.id = id, .frame = static_cast<int32_t>(b), .sampleRate = rate}));
    }
    return out;
  }

  std::vector<Stereo> ThroughLv2(const std::vector<Block>& blocks, int rate, Lv2Instance::Buffers buffers) {
    Lv2Instance instance(descriptor_, rate, plugin_->description().items.size());
    std::vector<Stereo> out;
    for (const Block& block : blocks) {
      for (size_t k = 0; k < block.values.size(); ++k) instance.Set(k, block.values[k]);
      out.push_back(instance.Run(block.audio, buffers));
    }
    return out;
  }

  const LV2_Descriptor* descriptor_ = nullptr;
  std::unique_ptr<host::Plugin> plugin_;
};

void ExpectSameBlocks(const std::vector<Stereo>& got, const std::vector<Stereo>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t b = 0; b < got.size(); ++b) {
    ASSERT_TRUE(SameSamples(got[b].left, want[b].left)) << "block " << b << " left";
    ASSERT_TRUE(SameSamples(got[b].right, want[b].right)) << "block " << b << " right";
  }
}

TEST_P(Lv2, SameSamplesAsTheAviUtl2Plugin) {
  const int rates[] = {8000, 22050, 44100, 48000, 96000};
  for (int trial = 0; trial < 5; ++trial) {
    const auto blocks = Scenario(*plugin_, 100 + static_cast<unsigned>(trial), 30);
    const auto want = ThroughAviUtl2(blocks, rates[trial], 9000 + trial);
    ExpectSameBlocks(ThroughLv2(blocks, rates[trial], static_cast<Lv2Instance::Buffers>(trial % 3)), want);
  }
}

TEST_P(Lv2, ActivateBeginsANewObject) {
  const auto blocks = Scenario(*plugin_, 7, 12);
  Lv2Instance instance(descriptor_, 48000, plugin_->description().items.size());
  std::vector<Stereo> first, second;
  for (auto* into : {&first, &second}) {
    instance.Activate();
    for (const Block& block : blocks) {
      for (size_t k = 0; k < block.values.size(); ++k) instance.Set(k, block.values[k]);
      into->push_back(instance.Run(block.audio, Lv2Instance::Buffers::kSeparate));
    }
  }
  ExpectSameBlocks(second, first);
}

TEST_P(Lv2, RunDoesNotAllocate) {
  if (!host::AllocationCounter::Available()) GTEST_SKIP() << "the allocator cannot be counted here";
  {
    void* (*volatile allocate)(size_t) = std::malloc;
    host::AllocationCounter probe;
    std::free(allocate(16));
    ASSERT_EQ(probe.calls(), 2u) << "the counter does not see the allocator";
  }
  const auto blocks = Scenario(*plugin_, 11, 40);
  Lv2Instance instance(descriptor_, 44100, plugin_->description().items.size());
  for (const Block& block : blocks) {
    for (size_t k = 0; k < block.values.size(); ++k) instance.Set(k, block.values[k]);
    Stereo buffers = block.audio;  // made before the count starts: only run() counts
    host::AllocationCounter counter;
    instance.RunInPlace(buffers);
    EXPECT_EQ(counter.calls(), 0u);
  }
}

// Instances share nothing: four threads, each with its own instances, give
// what one thread gives.
TEST_P(Lv2, ThreadsRunningInstancesMatchASingleThread) {
  constexpr int kThreads = 4;
  std::vector<std::vector<Block>> scenarios;
  std::vector<std::vector<Stereo>> single, threaded(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    scenarios.push_back(Scenario(*plugin_, 300 + static_cast<unsigned>(t), 25));
    single.push_back(ThroughLv2(scenarios.back(), 48000, Lv2Instance::Buffers::kSeparate));
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] { threaded[t] = ThroughLv2(scenarios[t], 48000, Lv2Instance::Buffers::kSeparate); });
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) ExpectSameBlocks(threaded[t], single[t]);
}

// The bypass switch: off, the output fades to the dry input within 10 ms
// without a step and is then the input exactly; on again, it fades back.
// While it stays on, it touches nothing: SameSamplesAsTheAviUtl2Plugin runs
// with it on.
TEST_P(Lv2, BypassFadesToTheDryInputAndBack) {
  const size_t items = plugin_->description().items.size();
  Lv2Instance instance(descriptor_, 48000, items);
  Stereo sine(4800);
  for (size_t i = 0; i < sine.size(); ++i)
    sine.left[i] = sine.right[i] = 0.5f * std::sin(0.05f * static_cast<float>(i));
  instance.Run(sine, Lv2Instance::Buffers::kSeparate);
  instance.Set(items, 0.0f);
  const Stereo fading = instance.Run(sine, Lv2Instance::Buffers::kInPlace);
  // The fade is 480 samples; the dry input exactly after it.
  for (size_t i = 480; i < sine.size(); ++i) {
    ASSERT_EQ(Bits(fading.left[i]), Bits(sine.left[i])) << i;
    ASSERT_EQ(Bits(fading.right[i]), Bits(sine.right[i])) << i;
  }
  const Stereo bypassed = instance.Run(sine, Lv2Instance::Buffers::kCrossed);
  EXPECT_TRUE(SameSamples(bypassed.left, sine.left) && SameSamples(bypassed.right, sine.right));
  instance.Set(items, 1.0f);
  const Stereo back = instance.Run(sine, Lv2Instance::Buffers::kSeparate);
  // No click: within the fades no step is larger than the signal's own
  // largest step (0.025) plus what the effect itself makes between samples.
  float steady = 0.0f, fade = 0.0f;
  for (size_t i = 1; i < 480; ++i) {
    fade = std::max({fade, std::fabs(fading.left[i] - fading.left[i - 1]), std::fabs(back.left[i] - back.left[i - 1])});
    steady = std::max(steady, std::fabs(back.left[i + 480] - back.left[i + 479]));
  }
  EXPECT_LE(fade, std::max(steady, 0.025f) * 1.5f + 0.01f);
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, Lv2, ::testing::Range<size_t>(0, std::size(kPluginNames)),
                         [](const auto& info) { return std::string(kPluginNames[info.param]); });

}  // namespace
}  // namespace velmor::test
