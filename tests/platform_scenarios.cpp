// Runs fixed scenarios through every plug-in and writes the samples, so that
// the native and the Windows build can be compared sample for sample.
//
//   velmor_scenarios run PLUGIN_DIR OUT_DIR    writes OUT_DIR/<Name>.f32
//   velmor_scenarios compare DIR_A DIR_B       compares the files of both runs
//
// Every scenario is deterministic: its own generator, parameters drawn from
// each item's range, several rates and block sizes, jumps and two objects;
// inputs of noise, loud noise followed by seconds of silence (tails that
// decay into the subnormal range), subnormal samples, samples that are not
// finite, and every combination of the drop-down lists (each waveform and
// mode). NaNs compare equal whatever their payload.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "plugin_list.h"

namespace {

using velmor::host::BlockRequest;
using velmor::host::ItemKind;
using velmor::host::Plugin;

// A small generator whose sequence is the same on every platform.
struct Generator {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
  double Uniform() { return Next() / 2147483648.0; }  // [0, 1)
};

std::string NativePath(std::string path) {
#if defined(_WIN32)
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

void SetRandomParameters(Plugin& plugin, Generator& g) {
  const auto& items = plugin.description().items;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind == ItemKind::Select) {
      plugin.SetValue(i, static_cast<double>(g.Next() % items[i].options.size()));
    } else {
      const double steps = std::floor((items[i].max - items[i].min) / items[i].step);
      plugin.SetValue(i, items[i].min + std::floor(g.Uniform() * (steps + 1)) * items[i].step);
    }
  }
}

enum class Input { kNoise, kLoudThenSilence, kSubnormal, kNotFinite };

struct Scenario {
  int sampleRate;
  int blockSize;
  int blocks;
  bool randomParameters;
  bool jumps;
  Input input = Input::kNoise;
};

// The block's input: noise on the left, a sine with clicks on the right, or
// what the scenario's kind asks for.
void MakeInput(const Scenario& s, int block, Generator& g, std::vector<float>& left, std::vector<float>& right) {
  for (size_t i = 0; i < left.size(); ++i) {
    left[i] = static_cast<float>(g.Uniform() - 0.5);
    right[i] = (i % 97 == 0) ? 1.0f : static_cast<float>(0.3 * std::sin(0.01 * static_cast<double>(i)));
    switch (s.input) {
      case Input::kNoise: break;
      case Input::kLoudThenSilence:
        // Full-scale noise for three blocks, then silence to the end.
        if (block >= 3) left[i] = right[i] = 0.0f;
        else left[i] = left[i] + left[i], right[i] = static_cast<float>(g.Uniform() * 2.0 - 1.0);
        break;
      case Input::kSubnormal: {
        // Subnormal samples of either sign, now and then a normal one.
        const uint32_t bits = (g.Next() & 0x007FFFFFu) | (g.Next() & 0x80000000u);
        std::memcpy(&left[i], &bits, 4);
        if (g.Next() % 5 != 0) right[i] = left[i] * 0.5f;
        break;
      }
      case Input::kNotFinite: {
        const uint32_t r = g.Next() % 400;
        const float odd[] = {NAN, INFINITY, -INFINITY, -NAN};
        if (r < 4) left[i] = odd[r];
        if (r >= 396) right[i] = odd[r - 396];
        break;
      }
    }
  }
}

// Runs a scenario's blocks through two interleaved objects, appending the output.
void RunScenario(Plugin& plugin, const Scenario& s, Generator& g, int64_t& nextId, std::vector<float>& all) {
  const int64_t ids[2] = {nextId, nextId + 1};
  nextId += 2;
  int32_t frames[2] = {0, 0};
  for (int b = 0; b < s.blocks; ++b) {
    if (s.randomParameters && b % 3 == 0 && s.input != Input::kLoudThenSilence) SetRandomParameters(plugin, g);
    for (int o = 0; o < 2; ++o) {
      std::vector<float> left(static_cast<size_t>(s.blockSize)), right(left.size());
      MakeInput(s, b, g, left, right);
      BlockRequest request;
      request.id = ids[o];
      request.frame = frames[o];
      request.sampleRate = s.sampleRate;
      plugin.Process(left, right, request);
      all.insert(all.end(), left.begin(), left.end());
      all.insert(all.end(), right.begin(), right.end());
      frames[o] += (s.jumps && g.Next() % 4 == 0) ? static_cast<int32_t>(g.Next() % 7) - 3 : 1;
    }
  }
}

int Run(const std::string& pluginDir, const std::string& outDir) {
  const Scenario scenarios[] = {
      {44100, 1470, 12, false, false}, {48000, 441, 20, true, false}, {22050, 63, 60, true, true},
      {96000, 4096, 6, true, false},   {44100, 1, 300, true, true},   {8000, 1000, 8, true, true},
      {192000, 2000, 6, true, false},  {44100, 1470, 12, true, true},
      // Seconds of silence after loud input: the tails decay through the
      // subnormal range (6.7 s at 44.1 kHz, 6 s at 48 kHz).
      {44100, 1470, 200, false, false, Input::kLoudThenSilence},
      {48000, 1024, 281, false, false, Input::kLoudThenSilence},
      {44100, 441, 20, true, false, Input::kSubnormal},
      {48000, 1470, 12, true, true, Input::kNotFinite},
  };
  // Every combination of the drop-down lists, with random sliders, loud then
  // silent: each waveform and mode and its tail.
  const Scenario everyChoice{48000, 1470, 40, false, false, Input::kLoudThenSilence};
  for (const char* name : velmor::test::kPluginNames) {
    std::string error;
    auto plugin = Plugin::Load(velmor::host::PluginPath(pluginDir, name), &error);
    if (!plugin) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::vector<float> all;
    Generator g{0x9E3779B97F4A7C15ull};
    int64_t nextId = 1;
    for (const Scenario& s : scenarios) {
      plugin->ResetValues();
      if (s.input == Input::kLoudThenSilence) SetRandomParameters(*plugin, g);
      RunScenario(*plugin, s, g, nextId, all);
    }
    const auto& items = plugin->description().items;
    size_t combinations = 1;
    for (const auto& item : items)
      if (item.kind == ItemKind::Select) combinations *= item.options.size();
    for (size_t c = 0; c < combinations; ++c) {
      SetRandomParameters(*plugin, g);
      size_t rest = c;
      for (size_t i = 0; i < items.size(); ++i)
        if (items[i].kind == ItemKind::Select) {
          plugin->SetValue(i, static_cast<double>(rest % items[i].options.size()));
          rest /= items[i].options.size();
        }
      RunScenario(*plugin, everyChoice, g, nextId, all);
    }
    std::ofstream out(NativePath(outDir + "/" + name + ".f32"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size() * sizeof(float)));
    if (!out) {
      std::fprintf(stderr, "cannot write %s/%s.f32\n", outDir.c_str(), name);
      return 1;
    }
  }
  return 0;
}

std::vector<float> ReadSamples(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

// Distance in units in the last place between two floats of the same sign.
int64_t UlpDistance(float a, float b) {
  int32_t ia, ib;
  std::memcpy(&ia, &a, 4);
  std::memcpy(&ib, &b, 4);
  if (ia < 0) ia = INT32_MIN - ia;
  if (ib < 0) ib = INT32_MIN - ib;
  return std::llabs(static_cast<int64_t>(ia) - static_cast<int64_t>(ib));
}

int Compare(const std::string& a, const std::string& b) {
  int failures = 0;
  for (const char* name : velmor::test::kPluginNames) {
    const auto x = ReadSamples(a + "/" + name + ".f32");
    const auto y = ReadSamples(b + "/" + name + ".f32");
    if (x.empty() || x.size() != y.size()) {
      std::printf("%-20s FAILED: %zu against %zu samples\n", name, x.size(), y.size());
      ++failures;
      continue;
    }
    size_t differ = 0, first = 0, nans = 0, subnormal = 0;
    int64_t worst = 0;
    for (size_t i = 0; i < x.size(); ++i) {
      if (std::isnan(x[i]) && std::isnan(y[i])) {
        nans += std::memcmp(&x[i], &y[i], 4) != 0;  // payloads may differ
        continue;
      }
      subnormal += std::fpclassify(x[i]) == FP_SUBNORMAL;
      if (std::memcmp(&x[i], &y[i], 4) == 0) continue;
      if (differ++ == 0) first = i;
      worst = std::max(worst, UlpDistance(x[i], y[i]));
    }
    if (differ == 0) {
      std::printf("%-20s identical, %zu samples", name, x.size());
      if (nans) std::printf(" (%zu NaNs with another payload)", nans);
      std::printf("\n");
    } else {
      std::printf("%-20s FAILED: %zu of %zu samples differ (first at %zu: %.9g against %.9g), up to %lld ulp\n",
                  name, differ, x.size(), first, x[first], y[first], static_cast<long long>(worst));
      ++failures;
    }
    (void)subnormal;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "run") return Run(argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "compare") return Compare(argv[2], argv[3]);
  std::fprintf(stderr, "usage: velmor_scenarios run PLUGIN_DIR OUT_DIR | compare DIR_A DIR_B\n");
  return 2;
}
