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
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "plugin_list.h"

namespace {

using velmor::AudioProcContext;
using velmor::HostObjectInfo;
using velmor::HostSceneInfo;

constexpr int kBlock = 1470;

// The host side kept as lean as the editor's: the callbacks copy one block.
struct Stream {
  const float* in[2];
  float* out[2];
  int32_t count;
};
thread_local Stream* gStream = nullptr;

bool Read(float* buffer, int32_t channel) {
  std::memcpy(buffer, gStream->in[channel], sizeof(float) * static_cast<size_t>(gStream->count));
  return true;
}
bool Write(float* buffer, int32_t channel) {
  std::memcpy(gStream->out[channel], buffer, sizeof(float) * static_cast<size_t>(gStream->count));
  return true;
}

velmor::host::Plugin& Load(const std::string& name) {
  static std::map<std::string, std::unique_ptr<velmor::host::Plugin>> plugins;
  auto& slot = plugins[name];
  if (!slot) {
    std::string error;
    // VELMOR_PLUGIN_DIR measures plug-ins from another build (before and after).
    const char* dir = std::getenv("VELMOR_PLUGIN_DIR");
    slot = velmor::host::Plugin::Load(velmor::host::PluginPath(dir ? dir : velmor::test::kPluginDir, name), &error);
    if (!slot) std::abort();
  }
  slot->ResetValues();
  return *slot;
}

std::vector<float> NoiseSignal(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-0.5f, 0.5f);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng);
  return v;
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

const int registered = [] {
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
