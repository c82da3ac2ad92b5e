// A small CLAP host for the tests: loads any CLAP library, lists its
// plug-ins, and runs one plug-in over memory buffers with parameter events
// at their frames, saves and loads its state. Main and audio thread are the
// caller's thread.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bindings/clap/clap_abi.h"
#include "host/allocation_counter.h"

namespace velmor::test {

// A CLAP library, loaded and initialised until destroyed.
class ClapLibrary {
 public:
  // Null, with a reason in `error`, when the file is no CLAP library.
  static std::unique_ptr<ClapLibrary> Load(const std::string& path, std::string* error) {
    std::unique_ptr<ClapLibrary> self(new ClapLibrary);
#if defined(_WIN32)
    std::string native = path[0] == '/' ? "Z:" + path : path;  // the build's Unix paths under wine
    std::replace(native.begin(), native.end(), '/', '\\');
    self->module_ = LoadLibraryA(native.c_str());
    const void* entry = self->module_ ? reinterpret_cast<const void*>(GetProcAddress(self->module_, "clap_entry")) : nullptr;
#else
    self->module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const void* entry = self->module_ ? dlsym(self->module_, "clap_entry") : nullptr;
#endif
    self->entry_ = static_cast<const clap::PluginEntry*>(entry);
    if (self->entry_ == nullptr) return *error = "no clap_entry in " + path, nullptr;
    if (self->entry_->clap_version.major != 1) return *error = "not CLAP 1.x", nullptr;
    if (!self->entry_->init(path.c_str())) return *error = "clap_entry.init failed", nullptr;
    self->initialised_ = true;
    self->factory_ = static_cast<const clap::PluginFactory*>(self->entry_->get_factory(clap::kPluginFactoryId));
    if (self->factory_ == nullptr) return *error = "no plug-in factory", nullptr;
    return self;
  }
  ~ClapLibrary() {
    if (initialised_) entry_->deinit();
#if defined(_WIN32)
    if (module_) FreeLibrary(module_);
#else
    if (module_) dlclose(module_);
#endif
  }

  const clap::PluginFactory& factory() const { return *factory_; }
  std::vector<const clap::PluginDescriptor*> Descriptors() const {
    std::vector<const clap::PluginDescriptor*> all;
    for (uint32_t i = 0; i < factory_->get_plugin_count(factory_); ++i)
      all.push_back(factory_->get_plugin_descriptor(factory_, i));
    return all;
  }

 private:
  ClapLibrary() = default;
#if defined(_WIN32)
  HMODULE module_ = nullptr;
#else
  void* module_ = nullptr;
#endif
  const clap::PluginEntry* entry_ = nullptr;
  const clap::PluginFactory* factory_ = nullptr;
  bool initialised_ = false;
};

// A parameter change at a frame of a block.
struct ClapEvent {
  uint32_t time;
  clap::Id id;
  double value;
};

// One plug-in instance, initialised, with its extensions.
class ClapInstance {
 public:
  ClapInstance(const ClapLibrary& library, const char* id) {
    host_ = clap::Host{clap::kVersion, this, "velmor tests", "Velmor", "", "1", &HostExtension,
                       [](const clap::Host*) {}, [](const clap::Host*) {}, [](const clap::Host*) {}};
    plugin_ = library.factory().create_plugin(&library.factory(), &host_, id);
    if (plugin_ != nullptr && !plugin_->init(plugin_)) plugin_->destroy(plugin_), plugin_ = nullptr;
    if (plugin_ == nullptr) return;
    params_ = Extension<clap::PluginParams>(clap::kExtParams);
    ports_ = Extension<clap::PluginAudioPorts>(clap::kExtAudioPorts);
    state_ = Extension<clap::PluginState>(clap::kExtState);
    latency_ = Extension<clap::PluginLatency>(clap::kExtLatency);
    tail_ = Extension<clap::PluginTail>(clap::kExtTail);
  }
  ~ClapInstance() {
    if (plugin_ == nullptr) return;
    if (processing_) plugin_->stop_processing(plugin_);
    if (active_) plugin_->deactivate(plugin_);
    plugin_->destroy(plugin_);
  }
  ClapInstance(const ClapInstance&) = delete;
  ClapInstance& operator=(const ClapInstance&) = delete;

  bool ok() const { return plugin_ != nullptr; }
  const clap::Plugin& plugin() const { return *plugin_; }
  const clap::PluginParams* params() const { return params_; }
  const clap::PluginAudioPorts* ports() const { return ports_; }
  const clap::PluginLatency* latency() const { return latency_; }
  const clap::PluginTail* tail() const { return tail_; }

  bool Activate(double rate, uint32_t maxFrames = 4096) {
    if (processing_) plugin_->stop_processing(plugin_), processing_ = false;
    if (active_) plugin_->deactivate(plugin_), active_ = false;
    active_ = plugin_->activate(plugin_, rate, 1, maxFrames);
    if (active_) processing_ = plugin_->start_processing(plugin_);
    return active_ && processing_;
  }
  void Deactivate() {
    if (processing_) plugin_->stop_processing(plugin_), processing_ = false;
    if (active_) plugin_->deactivate(plugin_), active_ = false;
  }

  std::vector<clap::ParamInfo> Params() const {
    std::vector<clap::ParamInfo> all;
    if (params_ == nullptr) return all;
    for (uint32_t i = 0; i < params_->count(plugin_); ++i) {
      clap::ParamInfo info{};
      if (params_->get_info(plugin_, i, &info)) all.push_back(info);
    }
    return all;
  }
  double Value(clap::Id id) const {
    double value = -1e300;
    params_->get_value(plugin_, id, &value);
    return value;
  }

  // One process call over the channel buffers (in place when in and out are
  // the same), with the events in time order. Returns the status.
  // Only the plug-in's own call counts for an AllocationCounter.
  int32_t Process(float* inL, float* inR, float* outL, float* outR, uint32_t frames,
                  const std::vector<ClapEvent>& events = {}) {
    host::AllocationCountingPause pause;
    float* in[2] = {inL, inR};
    float* out[2] = {outL, outR};
    clap::AudioBuffer input{in, nullptr, 2, 0, 0}, output{out, nullptr, 2, 0, 0};
    EventList list(events);
    const clap::OutputEvents sink{nullptr, [](const clap::OutputEvents*, const clap::EventHeader*) { return true; }};
    const clap::Process process{steady_, frames, nullptr, &input, &output, 1, 1, &list.in, &sink};
    steady_ += frames;
    host::AllocationCountingPause::Resume resume(pause);
    return plugin_->process(plugin_, &process);
  }
  // Parameter changes outside processing.
  void Flush(const std::vector<ClapEvent>& events) {
    EventList list(events);
    const clap::OutputEvents sink{nullptr, [](const clap::OutputEvents*, const clap::EventHeader*) { return true; }};
    params_->flush(plugin_, &list.in, &sink);
  }

  // The state through a stream that takes `chunk` bytes at a time.
  bool Save(std::vector<uint8_t>& blob, size_t chunk = 7) const {
    struct Sink {
      std::vector<uint8_t>* blob;
      size_t chunk;
    } sink{&blob, chunk};
    blob.clear();
    const clap::OutputStream stream{&sink, [](const clap::OutputStream* s, const void* data, uint64_t size) -> int64_t {
      auto* self = static_cast<Sink*>(s->ctx);
      const size_t n = std::min<size_t>(self->chunk, size);
      self->blob->insert(self->blob->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
      return static_cast<int64_t>(n);
    }};
    return state_->save(plugin_, &stream);
  }
  bool Load(const std::vector<uint8_t>& blob, size_t chunk = 5) {
    struct Source {
      const std::vector<uint8_t>* blob;
      size_t at, chunk;
    } source{&blob, 0, chunk};
    const clap::InputStream stream{&source, [](const clap::InputStream* s, void* data, uint64_t size) -> int64_t {
      auto* self = static_cast<Source*>(s->ctx);
      const size_t n = std::min<size_t>({self->chunk, static_cast<size_t>(size), self->blob->size() - self->at});
      if (n > 0) std::memcpy(data, self->blob->data() + self->at, n);
      self->at += n;
      return static_cast<int64_t>(n);
    }};
    return state_->load(plugin_, &stream);
  }

 private:
  // What the host offers plug-ins: notices it takes and ignores, and one
  // thread that is both the main and the audio thread.
  static const void* HostExtension(const clap::Host*, const char* id) {
    static constexpr clap::HostLatency kLatency{[](const clap::Host*) {}};
    static constexpr clap::HostParams kParams{[](const clap::Host*, uint32_t) {},
                                              [](const clap::Host*, clap::Id, uint32_t) {},
                                              [](const clap::Host*) {}};
    static constexpr clap::HostState kState{[](const clap::Host*) {}};
    static constexpr clap::HostThreadCheck kThreads{[](const clap::Host*) { return true; },
                                                    [](const clap::Host*) { return true; }};
    const std::string name = id != nullptr ? id : "";
    if (name == clap::kExtLatency) return &kLatency;
    if (name == clap::kExtParams) return &kParams;
    if (name == clap::kExtState) return &kState;
    if (name == clap::kExtThreadCheck) return &kThreads;
    return nullptr;
  }

  template <class T>
  const T* Extension(const char* id) const {
    return static_cast<const T*>(plugin_->get_extension(plugin_, id));
  }

  // The events of one call as the ABI's list.
  struct EventList {
    std::vector<clap::EventParamValue> events;
    clap::InputEvents in;
    explicit EventList(const std::vector<ClapEvent>& list) {
      for (const ClapEvent& e : list)
        events.push_back(clap::EventParamValue{{sizeof(clap::EventParamValue), e.time, clap::kCoreEventSpace,
                                                clap::kEventParamValue, 0},
                                               e.id, nullptr, -1, -1, -1, -1, e.value});
      in = clap::InputEvents{this, [](const clap::InputEvents* l) {
                               return static_cast<uint32_t>(static_cast<const EventList*>(l->ctx)->events.size());
                             },
                             [](const clap::InputEvents* l, uint32_t i) -> const clap::EventHeader* {
                               return &static_cast<const EventList*>(l->ctx)->events[i].header;
                             }};
    }
  };

  clap::Host host_{};
  const clap::Plugin* plugin_ = nullptr;
  const clap::PluginParams* params_ = nullptr;
  const clap::PluginAudioPorts* ports_ = nullptr;
  const clap::PluginState* state_ = nullptr;
  const clap::PluginLatency* latency_ = nullptr;
  const clap::PluginTail* tail_ = nullptr;
  bool active_ = false, processing_ = false;
  int64_t steady_ = 0;
};

}  // namespace velmor::test
