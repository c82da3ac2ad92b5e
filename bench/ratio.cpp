// velmor_ratio [PLUGIN_DIR] [REPETITIONS]: every plug-in, and each mode and
// waveform of the two modulation effects, timed against the floor in turns,
// block by block, in blocks of 1470 frames (a video frame at 44.1 kHz) and of
// 64 (a small DAW period). Prints ns per stereo frame of both and their
// ratios, each the median over the repetitions. Built natively and as a Windows program,
// so that the Windows DLLs are measured under wine against the floor built
// by the same compiler.
//
// Natively, the LV2, CLAP and VST 3 libraries too, where hosts such as DAWs
// run 64- to 1024-frame periods: each case through LV2 run(), CLAP process()
// and VST 3 process() in blocks of 1024 and of 64 frames against the floor in
// the same blocks, the ratio of the two block lengths, and each format's time
// against LV2's; once on a thread that flushes denormals, as DAWs' audio
// threads do, and once on one that does not.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <optional>

#include "bench/floor.h"
#include "framework/float_environment.h"
#include "plugin_list.h"

#ifdef VELMOR_LV2_LIBRARY
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include "bindings/clap/clap_abi.h"
#include "tests/vst3/vst3_host.h"
#endif

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

#ifdef VELMOR_LV2_LIBRARY
// One LV2 instance at one setting against the floor, a run() and a floor
// block in turn, each timed.
class Lv2Run {
 public:
  Lv2Run(const LV2_Descriptor& d, const std::vector<float>& controls, int32_t block)
      : d_(d), controls_(controls), block_(block), left_(velmor::bench::NoiseSignal(1024 * 64, 1)),
        right_(velmor::bench::NoiseSignal(1024 * 64, 2)), outL_(1024), outR_(1024) {
    handle_ = d_.instantiate(&d_, 44100.0, "", nullptr);
    for (size_t k = 0; k < controls_.size(); ++k) d_.connect_port(handle_, static_cast<uint32_t>(4 + k), &controls_[k]);
    d_.activate(handle_);
    for (int w = 0; w < 16; ++w) Round();
    pluginNs_ = floorNs_ = 0;
  }
  ~Lv2Run() { d_.cleanup(handle_); }
  Lv2Run(const Lv2Run&) = delete;
  Lv2Run& operator=(const Lv2Run&) = delete;

  void Round() {
    const size_t at = (round_++ % 64) * 1024;
    d_.connect_port(handle_, 0, left_.data() + at);
    d_.connect_port(handle_, 1, right_.data() + at);
    d_.connect_port(handle_, 2, outL_.data());
    d_.connect_port(handle_, 3, outR_.data());
    const auto t0 = std::chrono::steady_clock::now();
    d_.run(handle_, static_cast<uint32_t>(block_));
    const auto t1 = std::chrono::steady_clock::now();
    floor_.Run(left_.data() + at, right_.data() + at, outL_.data(), outR_.data(), block_);
    const auto t2 = std::chrono::steady_clock::now();
    pluginNs_ += std::chrono::duration<double, std::nano>(t1 - t0).count();
    floorNs_ += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  double Ratio() const { return pluginNs_ / floorNs_; }

 private:
  const LV2_Descriptor& d_;
  std::vector<float> controls_;  // the item values, then enabled (1)
  int32_t block_;
  std::vector<float> left_, right_, outL_, outR_;
  velmor::bench::FloorProbe floor_;
  LV2_Handle handle_ = nullptr;
  size_t round_ = 0;
  double pluginNs_ = 0, floorNs_ = 0;
};

// One CLAP instance at one setting against the floor, a process() call and a
// floor block in turn, each timed. The settings reach it before it starts.
class ClapRun {
 public:
  ClapRun(const velmor::clap::PluginFactory& factory, const std::string& id, const std::vector<float>& controls,
          int32_t block)
      : block_(block), left_(velmor::bench::NoiseSignal(1024 * 64, 1)),
        right_(velmor::bench::NoiseSignal(1024 * 64, 2)), outL_(1024), outR_(1024) {
    using namespace velmor::clap;
    static const Host host{kVersion, nullptr, "velmor_ratio", "", "", "1",
                           [](const Host*, const char*) -> const void* { return nullptr; },
                           [](const Host*) {}, [](const Host*) {}, [](const Host*) {}};
    plugin_ = factory.create_plugin(&factory, &host, id.c_str());
    plugin_->init(plugin_);
    const auto* params = static_cast<const PluginParams*>(plugin_->get_extension(plugin_, kExtParams));
    for (size_t k = 0; k + 1 < controls.size(); ++k)
      events_.push_back({{sizeof(EventParamValue), 0, kCoreEventSpace, kEventParamValue, 0}, static_cast<Id>(k),
                         nullptr, -1, -1, -1, -1, controls[k]});
    list_ = InputEvents{this, [](const InputEvents* l) { return static_cast<uint32_t>(static_cast<ClapRun*>(l->ctx)->events_.size()); },
                        [](const InputEvents* l, uint32_t i) -> const EventHeader* {
                          return &static_cast<ClapRun*>(l->ctx)->events_[i].header;
                        }};
    params->flush(plugin_, &list_, nullptr);
    events_.clear();
    plugin_->activate(plugin_, 44100.0, 1, 1024);
    plugin_->start_processing(plugin_);
    for (int w = 0; w < 16; ++w) Round();
    pluginNs_ = floorNs_ = 0;
  }
  ~ClapRun() {
    plugin_->stop_processing(plugin_);
    plugin_->deactivate(plugin_);
    plugin_->destroy(plugin_);
  }
  ClapRun(const ClapRun&) = delete;
  ClapRun& operator=(const ClapRun&) = delete;

  void Round() {
    using namespace velmor::clap;
    const size_t at = (round_++ % 64) * 1024;
    float* in[2] = {left_.data() + at, right_.data() + at};
    float* out[2] = {outL_.data(), outR_.data()};
    AudioBuffer input{in, nullptr, 2, 0, 0}, output{out, nullptr, 2, 0, 0};
    const Process process{-1, static_cast<uint32_t>(block_), nullptr, &input, &output, 1, 1, &list_, nullptr};
    const auto t0 = std::chrono::steady_clock::now();
    plugin_->process(plugin_, &process);
    const auto t1 = std::chrono::steady_clock::now();
    floor_.Run(in[0], in[1], out[0], out[1], block_);
    const auto t2 = std::chrono::steady_clock::now();
    pluginNs_ += std::chrono::duration<double, std::nano>(t1 - t0).count();
    floorNs_ += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  double Ratio() const { return pluginNs_ / floorNs_; }

 private:
  int32_t block_;
  std::vector<float> left_, right_, outL_, outR_;
  std::vector<velmor::clap::EventParamValue> events_;
  velmor::clap::InputEvents list_{};
  velmor::bench::FloorProbe floor_;
  const velmor::clap::Plugin* plugin_ = nullptr;
  size_t round_ = 0;
  double pluginNs_ = 0, floorNs_ = 0;
};

// One VST 3 component at one setting against the floor, a process() call
// and a floor block in turn, each timed. The settings reach it in a
// zero-frame call before it starts; timed calls carry no points.
class Vst3Run {
 public:
  Vst3Run(const velmor::test::Vst3Module& module, const std::string& cid, const std::vector<float>& controls,
          int32_t block)
      : instance_(module, cid.data()), block_(block), left_(velmor::bench::NoiseSignal(1024 * 64, 1)),
        right_(velmor::bench::NoiseSignal(1024 * 64, 2)), outL_(1024), outR_(1024) {
    instance_.Activate(44100.0, 1024);
    std::vector<velmor::test::Vst3Point> points;
    for (size_t k = 0; k + 1 < controls.size(); ++k) points.push_back({0, static_cast<uint32_t>(k), controls[k]});
    instance_.Process(nullptr, nullptr, nullptr, nullptr, 0, points);
    input_.numChannels = output_.numChannels = 2;
    input_.channelBuffers32 = in_;
    output_.channelBuffers32 = out_;
    data_.symbolicSampleSize = velmor::vst3::kSample32;
    data_.numSamples = block_;
    data_.numInputs = data_.numOutputs = 1;
    data_.inputs = &input_;
    data_.outputs = &output_;
    data_.inputParameterChanges = &none_;
    for (int w = 0; w < 16; ++w) Round();
    pluginNs_ = floorNs_ = 0;
  }

  void Round() {
    const size_t at = (round_++ % 64) * 1024;
    in_[0] = left_.data() + at, in_[1] = right_.data() + at;
    out_[0] = outL_.data(), out_[1] = outR_.data();
    const auto t0 = std::chrono::steady_clock::now();
    instance_.processor().process(data_);
    const auto t1 = std::chrono::steady_clock::now();
    floor_.Run(in_[0], in_[1], out_[0], out_[1], block_);
    const auto t2 = std::chrono::steady_clock::now();
    pluginNs_ += std::chrono::duration<double, std::nano>(t1 - t0).count();
    floorNs_ += std::chrono::duration<double, std::nano>(t2 - t1).count();
  }
  double Ratio() const { return pluginNs_ / floorNs_; }

 private:
  velmor::test::Vst3Instance instance_;
  int32_t block_;
  std::vector<float> left_, right_, outL_, outR_;
  float* in_[2] = {};
  float* out_[2] = {};
  velmor::vst3::AudioBusBuffers input_{}, output_{};
  velmor::test::vst3_host_detail::Changes none_;
  velmor::vst3::ProcessData data_{};
  velmor::bench::FloorProbe floor_;
  size_t round_ = 0;
  double pluginNs_ = 0, floorNs_ = 0;
};

// The LV2 descriptor of a plug-in (VelmorPitchShifter: urn:velmor:pitch_shifter).
const LV2_Descriptor* Lv2Descriptor(void* library, const std::string& plugin) {
  std::string uri;
  for (size_t k = 0; k < std::size(velmor::test::kPluginNames); ++k)
    if (plugin == velmor::test::kPluginNames[k]) uri = std::string("urn:velmor:") + velmor::test::kPluginSlugs[k];
  auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
  for (uint32_t i = 0; entry != nullptr && entry(i) != nullptr; ++i)
    if (entry(i)->URI == uri) return entry(i);
  return nullptr;
}
#endif

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

#ifdef VELMOR_LV2_LIBRARY
  void* library = dlopen(VELMOR_LV2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "velmor_ratio: %s\n", dlerror());
    return 1;
  }
  void* clapLibrary = dlopen(VELMOR_CLAP_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  const auto* entry = clapLibrary ? static_cast<const clap::PluginEntry*>(dlsym(clapLibrary, "clap_entry")) : nullptr;
  if (entry == nullptr || !entry->init(VELMOR_CLAP_LIBRARY)) {
    std::fprintf(stderr, "velmor_ratio: cannot load %s\n", VELMOR_CLAP_LIBRARY);
    return 1;
  }
  const auto& factory = *static_cast<const clap::PluginFactory*>(entry->get_factory(clap::kPluginFactoryId));
  std::string vst3Error;
  const auto vst3Module = test::Vst3Module::Load(VELMOR_VST3_MODULE, &vst3Error);
  if (!vst3Module) {
    std::fprintf(stderr, "velmor_ratio: %s\n", vst3Error.c_str());
    return 1;
  }
  const auto vst3Classes = vst3Module->Classes();
  // Each case through the three formats, with the thread's control word as
  // a DAW's audio thread keeps it (flush-to-zero set, so a call switches no
  // mode) or as a host that leaves it alone (each call switches it twice).
  struct FormatRatios {
    std::vector<std::vector<double>> at1024, at64, clap1024, clap64, vst1024, vst64;
  };
  auto measure = [&](bool hostFlushes) {
    FormatRatios f;
    for (auto* v : {&f.at1024, &f.at64, &f.clap1024, &f.clap64, &f.vst1024, &f.vst64}) v->resize(cases.size());
    auto& [at1024, at64, clap1024, clap64, vst1024, vst64] = f;
    std::optional<FlushDenormalsScope> audioThread;
    if (hostFlushes) audioThread.emplace();
    for (int r = 0; r < repetitions; ++r) {
      for (size_t k = 0; k < cases.size(); ++k) {
        host::Plugin& plugin = *plugins[cases[k].plugin];
        plugin.ResetValues();
        for (const auto& [label, value] : cases[k].settings) plugin.SetValue(label, value);
        std::vector<float> controls;
        for (size_t i = 0; i < plugin.description().items.size(); ++i) controls.push_back(static_cast<float>(plugin.Value(i)));
        controls.push_back(1.0f);
        const LV2_Descriptor* d = Lv2Descriptor(library, cases[k].plugin);
        if (d == nullptr) std::exit(1);
        Lv2Run large(*d, controls, 1024);
        for (int i = 0; i < kRounds * bench::kBlock / 1024; ++i) large.Round();
        Lv2Run small(*d, controls, kSmallBlock);
        for (int i = 0; i < kRounds * bench::kBlock / kSmallBlock; ++i) small.Round();
        at1024[k].push_back(large.Ratio());
        at64[k].push_back(small.Ratio());
        std::string id;
        for (size_t p = 0; p < std::size(test::kPluginNames); ++p)
          if (cases[k].plugin == test::kPluginNames[p]) id = std::string("org.velmor.") + test::kPluginSlugs[p];
        ClapRun clapLarge(factory, id, controls, 1024);
        for (int i = 0; i < kRounds * bench::kBlock / 1024; ++i) clapLarge.Round();
        ClapRun clapSmall(factory, id, controls, kSmallBlock);
        for (int i = 0; i < kRounds * bench::kBlock / kSmallBlock; ++i) clapSmall.Round();
        clap1024[k].push_back(clapLarge.Ratio());
        clap64[k].push_back(clapSmall.Ratio());
        size_t effect = 0;
        for (size_t p = 0; p < std::size(test::kPluginNames); ++p)
          if (cases[k].plugin == test::kPluginNames[p]) effect = p;
        const std::string cid(vst3Classes[2 * effect].cid, 16);
        std::vector<float> plain = controls;  // the plain values: Vst3Run normalizes them
        Vst3Run vstLarge(*vst3Module, cid, plain, 1024);
        for (int i = 0; i < kRounds * bench::kBlock / 1024; ++i) vstLarge.Round();
        Vst3Run vstSmall(*vst3Module, cid, plain, kSmallBlock);
        for (int i = 0; i < kRounds * bench::kBlock / kSmallBlock; ++i) vstSmall.Round();
        vst1024[k].push_back(vstLarge.Ratio());
        vst64[k].push_back(vstSmall.Ratio());
      }
    }
    return f;
  };
  const FormatRatios daw = measure(true), plain = measure(false);
  const auto& [at1024, at64, clap1024, clap64, vst1024, vst64] = daw;
  std::printf("\nThe formats on a thread that flushes denormals, as DAWs' audio threads do\n");
  std::printf("\n%-20s %10s %10s %8s  %10s %10s %8s  %9s %9s\n", "LV2 and CLAP", "LV2@1024", "LV2@64", "64/1024",
              "CLAP@1024", "CLAP@64", "64/1024", "CLAP/LV2", "@64");
  for (size_t k = 0; k < cases.size(); ++k)
    std::printf("%-20s %10.2f %10.2f %8.2f  %10.2f %10.2f %8.2f  %9.2f %9.2f\n", cases[k].label.c_str(),
                Median(at1024[k]), Median(at64[k]), Median(at64[k]) / Median(at1024[k]), Median(clap1024[k]),
                Median(clap64[k]), Median(clap64[k]) / Median(clap1024[k]), Median(clap1024[k]) / Median(at1024[k]),
                Median(clap64[k]) / Median(at64[k]));
  std::printf("\n%-20s %10s %10s %8s  %9s %9s\n", "VST 3", "VST3@1024", "VST3@64", "64/1024", "VST3/LV2", "@64");
  for (size_t k = 0; k < cases.size(); ++k)
    std::printf("%-20s %10.2f %10.2f %8.2f  %9.2f %9.2f\n", cases[k].label.c_str(), Median(vst1024[k]), Median(vst64[k]),
                Median(vst64[k]) / Median(vst1024[k]), Median(vst1024[k]) / Median(at1024[k]),
                Median(vst64[k]) / Median(at64[k]));
  std::printf("\nOn a thread that does not flush: every call switches the mode and back\n");
  std::printf("%-20s %10s %10s %10s  %9s %9s\n", "", "LV2@64", "CLAP@64", "VST3@64", "CLAP/LV2", "VST3/LV2");
  for (size_t k = 0; k < cases.size(); ++k)
    std::printf("%-20s %10.2f %10.2f %10.2f  %9.2f %9.2f\n", cases[k].label.c_str(), Median(plain.at64[k]),
                Median(plain.clap64[k]), Median(plain.vst64[k]), Median(plain.clap64[k]) / Median(plain.at64[k]),
                Median(plain.vst64[k]) / Median(plain.at64[k]));
  entry->deinit();
  dlclose(clapLibrary);
  dlclose(library);
#endif
  return 0;
}
