// Runs fixed scenarios through every plug-in and writes the samples, so that
// the native and the Windows build can be compared sample for sample.
//
//   velmor_scenarios run PLUGIN_DIR OUT_DIR    writes OUT_DIR/<Name>.f32
//   velmor_scenarios compare DIR_A DIR_B       compares the files of both runs
//
// Every scenario is deterministic: its own generator, parameters drawn from
// each item's range, several rates and block sizes, jumps and two objects.
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

struct Scenario {
  int sampleRate;
  int blockSize;
  int blocks;
  bool randomParameters;
  bool jumps;
};

int Run(const std::string& pluginDir, const std::string& outDir) {
  const Scenario scenarios[] = {
      {44100, 1470, 12, false, false}, {48000, 441, 20, true, false}, {22050, 63, 60, true, true},
      {96000, 4096, 6, true, false},   {44100, 1, 300, true, true},   {8000, 1000, 8, true, true},
      {192000, 2000, 6, true, false},  {44100, 1470, 12, true, true},
  };
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
      const int64_t ids[2] = {nextId, nextId + 1};
      nextId += 2;
      int32_t frames[2] = {0, 0};
      for (int b = 0; b < s.blocks; ++b) {
        if (s.randomParameters && b % 3 == 0) SetRandomParameters(*plugin, g);
        for (int o = 0; o < 2; ++o) {
          std::vector<float> left(static_cast<size_t>(s.blockSize)), right(left.size());
          for (size_t i = 0; i < left.size(); ++i) {
            left[i] = static_cast<float>(g.Uniform() - 0.5);
            right[i] = (i % 97 == 0) ? 1.0f : static_cast<float>(0.3 * std::sin(0.01 * static_cast<double>(i)));
          }
          BlockRequest request;
          request.id = ids[o];
          request.frame = frames[o];
          request.sampleRate = s.sampleRate;
          plugin->Process(left, right, request);
          all.insert(all.end(), left.begin(), left.end());
          all.insert(all.end(), right.begin(), right.end());
          frames[o] += (s.jumps && g.Next() % 4 == 0) ? static_cast<int32_t>(g.Next() % 7) - 3 : 1;
        }
      }
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
    size_t differ = 0, first = 0;
    int64_t worst = 0;
    for (size_t i = 0; i < x.size(); ++i) {
      if (std::memcmp(&x[i], &y[i], 4) == 0) continue;
      if (differ++ == 0) first = i;
      const bool bothNan = std::isnan(x[i]) && std::isnan(y[i]);
      worst = std::max(worst, bothNan ? 0 : UlpDistance(x[i], y[i]));
    }
    if (differ == 0) {
      std::printf("%-20s identical, %zu samples\n", name, x.size());
    } else {
      std::printf("%-20s FAILED: %zu of %zu samples differ (first at %zu: %.9g against %.9g), up to %lld ulp\n",
                  name, differ, x.size(), first, x[first], y[first], static_cast<long long>(worst));
      ++failures;
    }
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
