// Every plug-in's audio callback through its exports, as the editor calls it:
// blocks of 1470 samples (one 30 fps frame at 44100 Hz).
//
//   OneObject      one object in steady state, ns per stereo frame
//   Objects1000    1000 objects in alternation, ns per stereo frame
//   Noise / Tail   noise against one impulse and then 10 s of silence (a
//                  decaying tail: subnormal numbers must not slow it down)
//   BlockCost      empty blocks over 1000 objects: the per-block cost beyond
//                  the sample work, ns per block
//   Shape<n>       the tremolo and the modulator for each waveform
//   Floor/<case>   a plug-in and the floor probe in turns: ns per stereo frame
//                  of both and their ratio (bench/floor.h)
//   HeapShift/<n>  the equalizer loaded afresh after n bytes of the heap are
//                  taken: the speed must not depend on where things land
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/floor.h"
#include "host/plugin_host.h"
#include "plugin_list.h"

namespace {

using velmor::AudioProcContext;
using velmor::HostObjectInfo;
using velmor::HostSceneInfo;
using velmor::bench::kBlock;
using velmor::bench::NoiseSignal;
using velmor::bench::Stream;

bool Read(float* buffer, int32_t channel) { return velmor::bench::ReadBlock(buffer, channel); }
bool Write(float* buffer, int32_t channel) { return velmor::bench::WriteBlock(buffer, channel); }
using velmor::bench::gStream;

std::string PluginDir() {
  // VELMOR_PLUGIN_DIR measures plug-ins from another build (before and after).
  const char* dir = std::getenv("VELMOR_PLUGIN_DIR");
  return dir ? dir : velmor::test::kPluginDir;
}

velmor::host::Plugin& Load(const std::string& name) {
  static std::map<std::string, std::unique_ptr<velmor::host::Plugin>> plugins;
  auto& slot = plugins[name];
  if (!slot) {
    std::string error;
    slot = velmor::host::Plugin::Load(velmor::host::PluginPath(PluginDir(), name), &error);
    if (!slot) std::abort();
  }
  slot->ResetValues();
  return *slot;
}

// Runs `signal` (both channels) through one or more objects, block by block.
void Drive(benchmark::State& state, velmor::host::Plugin& plugin, const std::vector<float>& left,
           const std::vector<float>& right, int objects, int blockSize, int64_t firstId) {
  std::vector<float> outL(static_cast<size_t>(blockSize)), outR(outL.size());
  HostSceneInfo scene{};
  scene.sample_rate = 44100;
  HostObjectInfo object{};
  object.sample_count = blockSize;
  AudioProcContext context{&scene, &object, &Read, &Write};
  const size_t blocks = left.size() / static_cast<size_t>(std::max(blockSize, 1));
  std::vector<int32_t> frames(static_cast<size_t>(objects), 0);
  size_t block = 0;
  int o = 0;
  int64_t processed = 0;
  Stream stream{};
  gStream = &stream;
  // Every object exists and is configured before the timing starts.
  for (int w = 0; w < objects; ++w) {
    stream = {{left.data(), right.data()}, {outL.data(), outR.data()}, blockSize};
    object.id = firstId + w;
    object.frame = frames[static_cast<size_t>(w)]++;
    plugin.table()->process_audio(&context);
  }
  for (auto _ : state) {
    const size_t at = (block % std::max<size_t>(blocks, 1)) * static_cast<size_t>(blockSize);
    stream = {{left.data() + at, right.data() + at}, {outL.data(), outR.data()}, blockSize};
    object.id = firstId + o;
    object.frame = frames[static_cast<size_t>(o)]++;
    plugin.table()->process_audio(&context);
    benchmark::DoNotOptimize(outL.data());
    if (++o == objects) o = 0, ++block;
    processed += blockSize;
  }
  if (blockSize > 0)
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(processed), benchmark::Counter::kIsRate |
                                                                                       benchmark::Counter::kInvert);
  state.counters["ns_per_block"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(processed);
}

// Object ids of one benchmark: the same on every run of it, so repeated runs
// find their objects in steady state.
int64_t Ids(const std::string& benchmark) { return static_cast<int64_t>(std::hash<std::string>{}(benchmark) & 0xFFFFFFFFFFull) * 4096; }

void OneObject(benchmark::State& state, std::string name) {
  auto& plugin = Load(name);
  const auto l = NoiseSignal(kBlock * 64, 1), r = NoiseSignal(kBlock * 64, 2);
  Drive(state, plugin, l, r, 1, kBlock, Ids(__func__ + name));
}

void Objects1000(benchmark::State& state, std::string name) {
  auto& plugin = Load(name);
  const auto l = NoiseSignal(kBlock * 8, 3), r = NoiseSignal(kBlock * 8, 4);
  Drive(state, plugin, l, r, 1000, kBlock, Ids(__func__ + name));
}

void Noise(benchmark::State& state, std::string name) {
  auto& plugin = Load(name);
  const auto l = NoiseSignal(44100 * 10, 5), r = NoiseSignal(44100 * 10, 6);
  Drive(state, plugin, l, r, 1, kBlock, Ids(__func__ + name));
}

// One impulse, then ten seconds of silence: the echoes and filter tails decay
// towards subnormal numbers.
void Tail(benchmark::State& state, std::string name) {
  auto& plugin = Load(name);
  std::vector<float> l(44100 * 10, 0.0f), r(l.size(), 0.0f);
  l[0] = r[0] = 1.0f;
  Drive(state, plugin, l, r, 1, kBlock, Ids(__func__ + name));
}

void BlockCost(benchmark::State& state, std::string name) {
  auto& plugin = Load(name);
  const std::vector<float> none(kBlock, 0.0f);
  Drive(state, plugin, none, none, 1000, 0, Ids(__func__ + name));
}

void Shape(benchmark::State& state, std::string name, int mode, int shape) {
  auto& plugin = Load(name);
  plugin.SetValue("タイプ", mode);
  plugin.SetValue("波形タイプ", shape);
  const auto l = NoiseSignal(kBlock * 64, 7), r = NoiseSignal(kBlock * 64, 8);
  Drive(state, plugin, l, r, 1, kBlock, Ids(__func__ + name + std::to_string(mode * 10 + shape)));
}

// The plug-in and the floor in turns, one block each per iteration.
void Floor(benchmark::State& state, velmor::bench::RatioCase c) {
  auto& plugin = Load(c.plugin);
  for (const auto& [label, value] : c.settings) plugin.SetValue(label, value);
  velmor::bench::RatioRun run(plugin, Ids("Floor" + c.label));
  for (auto _ : state) run.Round();
  state.counters["ns_per_frame"] = run.pluginNsPerFrame() * 1e-9;
  state.counters["floor_ns_per_frame"] = run.floorNsPerFrame() * 1e-9;
  state.counters["ratio"] = run.pluginNsPerFrame() / run.floorNsPerFrame();
}

// A fresh copy of the equalizer, loaded after `shift` bytes of the heap have
// been taken, so that its buffers and states land elsewhere.
void HeapShift(benchmark::State& state) {
  const auto shift = static_cast<size_t>(state.range(0));
  const std::string source = velmor::host::PluginPath(PluginDir(), "VelmorEqualizer");
  const std::string copy = (std::filesystem::temp_directory_path() /
                            ("velmor-heap-shift-" + std::to_string(shift) + ".auf2")).string();
  std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
  std::vector<char> taken(shift, 1);
  benchmark::DoNotOptimize(taken.data());
  std::string error;
  auto plugin = velmor::host::Plugin::Load(copy, &error);
  if (!plugin) std::abort();
  const auto l = NoiseSignal(kBlock * 64, 9), r = NoiseSignal(kBlock * 64, 10);
  Drive(state, *plugin, l, r, 1, kBlock, 1);
  plugin.reset();
  std::filesystem::remove(copy);
}

const int registered = [] {
  for (const auto& c : velmor::bench::RatioCases())
    benchmark::RegisterBenchmark(("Floor/" + c.label).c_str(), Floor, c);
  benchmark::RegisterBenchmark("HeapShift", HeapShift)->Arg(0)->Arg(1040)->Arg(2064)->Arg(4096)->Arg(8200)->Arg(65600);
  for (const char* name : velmor::test::kPluginNames) {
    const std::string n = name;
    benchmark::RegisterBenchmark(("OneObject/" + n).c_str(), OneObject, n);
    benchmark::RegisterBenchmark(("Objects1000/" + n).c_str(), Objects1000, n);
    benchmark::RegisterBenchmark(("Noise/" + n).c_str(), Noise, n);
    benchmark::RegisterBenchmark(("Tail/" + n).c_str(), Tail, n);
    benchmark::RegisterBenchmark(("BlockCost/" + n).c_str(), BlockCost, n);
  }
  const char* shapes[] = {"Sine", "Triangle", "Square", "SawUp", "SawDown"};
  for (int s = 0; s < 5; ++s) {
    benchmark::RegisterBenchmark((std::string("Shape/VelmorTremolo/") + shapes[s]).c_str(), Shape, "VelmorTremolo", 0, s);
    benchmark::RegisterBenchmark((std::string("Shape/VelmorModulator/Ring/") + shapes[s]).c_str(), Shape, "VelmorModulator", 0, s);
    benchmark::RegisterBenchmark((std::string("Shape/VelmorModulator/FM/") + shapes[s]).c_str(), Shape, "VelmorModulator", 1, s);
  }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
