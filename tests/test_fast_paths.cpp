// The plug-ins' fast paths (wavefronts, lanes, vectors of sines, kernels per
// mode and shape, kept designs) against the plain reference of each effect:
// random objects, frames, block sizes, rates, settings (in and out of range)
// and signals, bit for bit. The fuzz targets drive the same comparison with
// inputs of their own choosing.
#include "framework/platform.h"
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "plugin_test.h"
#include "reference/reference.h"

namespace velmor::test {
namespace {

struct Random {
  std::mt19937 rng;
  explicit Random(unsigned seed) : rng(seed) {}
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  int BlockSize() {
    const int kind = Int(0, 9);
    return kind == 0 ? Int(0, 3) : kind < 3 ? Int(4, 20) : Int(21, 2500);
  }
  int Rate() {
    const int rates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 192000, 0, 1000, -44100};
    return rates[Int(0, Int(0, 9) == 0 ? 10 : 7)];
  }
  // A slider's value: mostly on the slider, sometimes anywhere at all.
  double Value(const host::ItemInfo& item) {
    if (item.kind == host::ItemKind::Select) return Int(0, 19) == 0 ? Int(-3, 9) : Int(0, static_cast<int>(item.options.size()) - 1);
    switch (Int(0, 19)) {
      case 0: return NAN;
      case 1: return Uniform(-1e4, 1e4);
      case 2: return item.max * Uniform(1, 50);
      case 3: return -0.0;
      default: return Uniform(item.min, item.max);
    }
  }
  Stereo Signal(size_t n) {
    Stereo s(n);
    const int kind = Int(0, 7);
    const double scale = Uniform(0.01, 2.0);
    for (size_t i = 0; i < n; ++i) {
      s.left[i] = kind == 0 ? 0.0f : static_cast<float>(Uniform(-scale, scale));
      s.right[i] = Int(0, 20) == 0 ? 0.0f : static_cast<float>(Uniform(-scale, scale));
      if (kind == 1 && Int(0, 400) == 0) s.left[i] = Int(0, 1) ? INFINITY : NAN;
      if (kind == 2) s.right[i] = static_cast<float>(Uniform(-1e-40, 1e-40));  // subnormal
    }
    return s;
  }
};

bool SameSample(float a, float b) { return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b)); }

// Random scenarios through the plug-in and through the reference.
void CompareWithReference(host::Plugin& plugin, const char* name, int trials, unsigned seed) {
  auto model = reference::MakeModel(name);
  ASSERT_TRUE(model);
  const auto& items = plugin.description().items;
  Random r(seed);
  for (int trial = 0; trial < trials; ++trial) {
    const int objects = r.Int(1, 3);
    std::vector<int32_t> frames(static_cast<size_t>(objects), r.Int(-5, 100));
    const int rate = r.Rate();
    for (int b = 0; b < 16; ++b) {
      const auto o = static_cast<size_t>(r.Int(0, objects - 1));
      const int step = r.Int(0, 9);
      frames[o] += step == 0 ? r.Int(-4, 4) : step == 1 ? 0 : 1;
      reference::Block block;
      block.id = 1000 * trial + static_cast<int64_t>(o);
      block.frame = frames[o];
      block.sampleRate = r.Int(0, 5) == 0 ? r.Rate() : rate;
      for (size_t k = 0; k < items.size(); ++k) {
        block.values.push_back(r.Value(items[k]));
        plugin.SetValue(k, block.values.back());
      }
      const Stereo in = r.Signal(static_cast<size_t>(r.BlockSize()));
      const Stereo out = RunBlock(plugin, in, {.id = block.id, .frame = block.frame, .sampleRate = block.sampleRate});
      Stereo want = in;
      block.ch0 = want.left.data(), block.ch1 = want.right.data(), block.count = static_cast<int32_t>(in.size());
      ASSERT_TRUE(model->Process(block));
      for (size_t i = 0; i < in.size(); ++i) {
        ASSERT_TRUE(SameSample(out.left[i], want.left[i])) << name << " trial " << trial << " block " << b << " sample " << i
                                                          << " left: " << out.left[i] << " against " << want.left[i];
        ASSERT_TRUE(SameSample(out.right[i], want.right[i])) << name << " trial " << trial << " block " << b << " sample " << i
                                                            << " right: " << out.right[i] << " against " << want.right[i];
      }
    }
  }
}

class FastPaths : public ::testing::TestWithParam<const char*> {};

TEST_P(FastPaths, MatchThePlainReference) {
  auto plugin = LoadPlugin(GetParam());
  ASSERT_TRUE(plugin);
  CompareWithReference(*plugin, GetParam(), 24, 2024);
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, FastPaths, ::testing::ValuesIn(kPluginNames));

}  // namespace
}  // namespace velmor::test

namespace velmor::test {
namespace {

// Every vector version of every kernel against the reference: a fresh copy of
// the library is loaded with VELMOR_VECTOR_LEVEL lowered to each level (on
// ARM, the one level: NEON).
TEST(FastPaths, EveryVectorLevelMatchesTheReference) {
#if !defined(_WIN32)
  for (const char* level : VELMOR_X86 ? std::vector<const char*>{"sse2", "avx", "avx2"} : std::vector<const char*>{"neon"}) {
    setenv("VELMOR_VECTOR_LEVEL", level, 1);
    for (const char* name : kPluginNames) {
      const std::string copy = std::string("/tmp/velmor-level-") + level + "-" + name + ".auf2";
      std::filesystem::copy_file(PluginFile(name), copy, std::filesystem::copy_options::overwrite_existing);
      std::string error;
      auto plugin = host::Plugin::Load(copy, &error);
      ASSERT_TRUE(plugin) << error;
      CompareWithReference(*plugin, name, 8, 4711);
      plugin.reset();
      std::filesystem::remove(copy);
    }
  }
  unsetenv("VELMOR_VECTOR_LEVEL");
#endif
}

}  // namespace
}  // namespace velmor::test
