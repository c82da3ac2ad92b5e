// velmor_ratio [PLUGIN_DIR] [REPETITIONS]: every plug-in, and each mode and
// waveform of the two modulation effects, timed against the floor in turns,
// block by block, in blocks of 1470 frames (a video frame at 44.1 kHz) and of
// 64 (a small DAW period). Prints ns per stereo frame of both and their
// ratios, each the median over the repetitions. Built natively and as a Windows program,
// so that the Windows DLLs are measured under wine against the floor built
// by the same compiler.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "bench/floor.h"
#include "plugin_list.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmor;
  const std::string dir = argc > 1 ? argv[1] : test::kPluginDir;
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  constexpr int kRounds = 300;  // blocks of each per repetition

  std::map<std::string, std::unique_ptr<host::Plugin>> plugins;
  const auto cases = bench::RatioCases();
  for (const auto& c : cases) {
    auto& slot = plugins[c.plugin];
    if (slot) continue;
    std::string error;
    slot = host::Plugin::Load(host::PluginPath(dir, c.plugin), &error);
    if (!slot) {
      std::fprintf(stderr, "velmor_ratio: %s\n", error.c_str());
      return 1;
    }
  }
  constexpr int32_t kSmallBlock = 64;
  std::vector<std::vector<double>> ratios(cases.size()), ns(cases.size()), floorNs(cases.size()),
      smallRatios(cases.size());
  int64_t id = 1 << 20;
  for (int r = 0; r < repetitions; ++r) {
    for (size_t k = 0; k < cases.size(); ++k) {
      host::Plugin& plugin = *plugins[cases[k].plugin];
      plugin.ResetValues();
      for (const auto& [label, value] : cases[k].settings) plugin.SetValue(label, value);
      bench::RatioRun run(plugin, ++id);
      for (int i = 0; i < kRounds; ++i) run.Round();
      ns[k].push_back(run.pluginNsPerFrame());
      floorNs[k].push_back(run.floorNsPerFrame());
      ratios[k].push_back(run.pluginNsPerFrame() / run.floorNsPerFrame());
      // The same frames in small blocks: the per-block cost shows.
      bench::RatioRun small(plugin, ++id, kSmallBlock);
      for (int i = 0; i < kRounds * bench::kBlock / kSmallBlock; ++i) small.Round();
      smallRatios[k].push_back(small.pluginNsPerFrame() / small.floorNsPerFrame());
    }
  }
  std::printf("%-20s %10s %10s %8s %9s\n", "plug-in", "ns/frame", "floor ns", "ratio", "ratio@64");
  for (size_t k = 0; k < cases.size(); ++k)
    std::printf("%-20s %10.2f %10.2f %8.2f %9.2f\n", cases[k].label.c_str(), Median(ns[k]), Median(floorNs[k]),
                Median(ratios[k]), Median(smallRatios[k]));
  return 0;
}
