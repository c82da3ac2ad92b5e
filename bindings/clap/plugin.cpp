// Every effect as a CLAP plug-in, all in one library that exports only
// clap_entry. A plug-in is the parameters, ports and state of a
// PluginInstance (framework/plugin_instance.h), which is one timeline object:
// activate() and reset() begin a new object, and a process() call runs as
// one block, or as several where parameter events fall inside it: each
// event takes effect at its frame, and each piece between events is a block
// of its own, as consecutive AviUtl2 blocks are.
//
// Threads, as the ABI states them: process(), flush() while active,
// start_processing(), stop_processing() and reset() run on the audio thread
// and allocate nothing, take no lock and make no system call. The main
// thread's view of the values (get_value, value_to_text, save, tail) is a
// copy kept in atomics; a state loaded while active is handed to the audio
// thread, which takes it at the start of its next call.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "bindings/clap/clap_abi.h"
#include "effect_handlers.h"
#include "framework/parameter_text.h"
#include "framework/plugin_instance.h"
#include "framework/plugin_state.h"
#include "framework/value_mirror.h"
#include "framework/version.h"

#if defined(_WIN32)
#define VELMOR_CLAP_EXPORT __declspec(dllexport)
#else
#define VELMOR_CLAP_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
VELMOR_CLAP_EXPORT extern const velmor::clap::PluginEntry clap_entry;
}

namespace velmor::clap {
namespace {

constexpr size_t kEffects = std::size(kAllEffects);

// The CLAP feature that says what kind of effect a plug-in is.
const char* CategoryFeature(Category category) {
  switch (category) {
    case Category::kEqualizer: return "equalizer";
    case Category::kModulator: return "ring-modulator";
    case Category::kDistortion: return "distortion";
    case Category::kDelay: return "delay";
    case Category::kPitchShifter: return "pitch-shifter";
    case Category::kTremolo: return "tremolo";
    case Category::kFilter: return "filter";
  }
  return "audio-effect";
}

// The descriptors, made when the library is loaded. Ids are stable: hosts
// and saved sessions refer to them.
struct Descriptors {
  std::string ids[kEffects];
  const char* features[kEffects][4];
  PluginDescriptor table[kEffects];
  Descriptors() {
    for (size_t i = 0; i < kEffects; ++i) {
      const EffectInfo& info = *kAllEffects[i]->info;
      ids[i] = std::string("org.velmor.") + info.slug;
      features[i][0] = "audio-effect";
      features[i][1] = "stereo";
      features[i][2] = CategoryFeature(info.category);
      features[i][3] = nullptr;
      table[i] = PluginDescriptor{kVersion, ids[i].c_str(), info.english, "Velmor", "", "", "",
                                  VELMOR_VERSION_ASCII, info.description, features[i]};
    }
  }
};
const Descriptors gDescriptors;

class ClapPlugin {
 public:
  ClapPlugin(const EffectHandler& effect, size_t index) : instance_(effect, 44100.0, "clap"), shared_(instance_) {
    plugin_ = Plugin{&gDescriptors.table[index], this, &Init, &Destroy, &Activate, &Deactivate,
                     &StartProcessing, &StopProcessing, &Reset, &ProcessCall, &GetExtension, &OnMainThread};
  }
  const Plugin* plugin() const { return &plugin_; }

 private:
  static ClapPlugin& Self(const Plugin* plugin) { return *static_cast<ClapPlugin*>(plugin->plugin_data); }
  std::span<const ItemEntry> items() const { return instance_.items(); }

  static bool Init(const Plugin*) { return true; }
  static void Destroy(const Plugin* plugin) { delete &Self(plugin); }
  static bool Activate(const Plugin* plugin, double rate, uint32_t, uint32_t) {
    ClapPlugin& self = Self(plugin);
    if (!(rate > 0.0) || !std::isfinite(rate)) return false;
    self.rate_ = rate;
    self.instance_.SetSampleRate(rate);
    self.instance_.Restart();
    self.active_.store(true);
    return true;
  }
  static void Deactivate(const Plugin* plugin) { Self(plugin).active_.store(false); }
  static bool StartProcessing(const Plugin*) { return true; }
  static void StopProcessing(const Plugin*) {}
  static void Reset(const Plugin* plugin) { Self(plugin).instance_.Restart(); }
  static void OnMainThread(const Plugin*) {}

  Parameter Find(Id id) const { return FindParameter(instance_.info(), id); }

  // A parameter event: the instance takes the value, and the main thread's
  // copy follows. Audio thread (or main thread while inactive).
  void Apply(const EventHeader* header) {
    if (header == nullptr || header->space_id != kCoreEventSpace || header->type != kEventParamValue ||
        header->size < sizeof(EventParamValue))
      return;
    const auto* event = reinterpret_cast<const EventParamValue*>(header);
    shared_.Apply(instance_, event->param_id, event->value);
  }

  static int32_t ProcessCall(const Plugin* plugin, const Process* process) {
    return Self(plugin).Run(*process);
  }

  static bool Usable(const AudioBuffer* buffers, uint32_t count) {
    return buffers != nullptr && count >= 1 && buffers[0].channel_count >= 2 && buffers[0].data32 != nullptr &&
           buffers[0].data32[0] != nullptr && buffers[0].data32[1] != nullptr;
  }

  // The block, split at the frame of each parameter event.
  int32_t Run(const Process& p) {
    shared_.Take(instance_);
    const uint32_t n = p.frames_count;
    const bool audio = n > 0 && Usable(p.audio_inputs, p.audio_inputs_count) &&
                       Usable(p.audio_outputs, p.audio_outputs_count);
    BlockPieces pieces(instance_, audio ? p.audio_inputs[0].data32 : nullptr,
                       audio ? p.audio_outputs[0].data32 : nullptr, n);
    const uint32_t events = p.in_events != nullptr ? p.in_events->size(p.in_events) : 0;
    for (uint32_t e = 0; e < events; ++e) {
      const EventHeader* header = p.in_events->get(p.in_events, e);
      if (header == nullptr) continue;
      pieces.RunTo(header->time);
      Apply(header);
    }
    pieces.Finish();
    if (audio) {
      p.audio_outputs[0].constant_mask = 0;
      return kProcessContinue;
    }
    return n == 0 ? kProcessContinue : kProcessError;
  }

  // --- audio ports ---
  static uint32_t PortCount(const Plugin*, bool) { return 1; }
  static bool PortGet(const Plugin*, uint32_t index, bool isInput, AudioPortInfo* info) {
    if (index != 0 || info == nullptr) return false;
    std::memset(info, 0, sizeof *info);
    info->id = 0;
    std::snprintf(info->name, sizeof info->name, "%s", isInput ? "Stereo in" : "Stereo out");
    info->flags = kAudioPortIsMain;
    info->channel_count = 2;
    info->port_type = kPortStereo;
    info->in_place_pair = 0;
    return true;
  }

  // --- parameters ---
  static uint32_t ParamCount(const Plugin* plugin) { return static_cast<uint32_t>(Self(plugin).items().size() + 1); }

  static bool ParamInfoAt(const Plugin* plugin, uint32_t index, ParamInfo* info) {
    const ClapPlugin& self = Self(plugin);
    if (info == nullptr || index > self.items().size()) return false;
    std::memset(info, 0, sizeof *info);
    if (index == self.items().size()) {
      info->id = kBypassParameterId;
      info->flags = kParamIsBypass | kParamIsStepped | kParamIsAutomatable;
      std::snprintf(info->name, sizeof info->name, "Bypass");
      info->min_value = 0.0, info->max_value = 1.0, info->default_value = 0.0;
      return true;
    }
    const ItemEntry& item = self.items()[index];
    info->id = ItemParameterId(index);
    info->flags = kParamIsAutomatable | (item.kind == ItemKind::Select ? kParamIsStepped | kParamIsEnum : 0u);
    std::snprintf(info->name, sizeof info->name, "%s", item.english);
    info->min_value = item.min, info->max_value = item.max, info->default_value = item.defaultValue;
    return true;
  }

  static bool GetValue(const Plugin* plugin, Id id, double* value) {
    const ClapPlugin& self = Self(plugin);
    const Parameter p = self.Find(id);
    if (!p.valid || value == nullptr) return false;
    *value = p.bypass ? (self.shared_.Bypassed() ? 1.0 : 0.0) : self.shared_.Value(p.item);
    return true;
  }

  static bool ValueToText(const Plugin* plugin, Id id, double value, char* text, uint32_t capacity) {
    const ClapPlugin& self = Self(plugin);
    const Parameter p = self.Find(id);
    if (!p.valid || text == nullptr || capacity == 0 || std::isnan(value)) return false;
    const std::string shown = p.bypass ? (value >= 0.5 ? "Bypassed" : "On") : ItemText(self.items()[p.item], value);
    if (shown.size() + 1 > capacity) return false;
    std::memcpy(text, shown.c_str(), shown.size() + 1);
    return true;
  }

  static bool TextToValue(const Plugin* plugin, Id id, const char* text, double* value) {
    const ClapPlugin& self = Self(plugin);
    const Parameter p = self.Find(id);
    if (!p.valid || text == nullptr || value == nullptr) return false;
    if (p.bypass) {
      const std::string_view t = text;
      if (t == "Bypassed" || t == "1") return *value = 1.0, true;
      if (t == "On" || t == "0") return *value = 0.0, true;
      return false;
    }
    return ParseItemText(self.items()[p.item], text, value);
  }

  static void Flush(const Plugin* plugin, const InputEvents* in, const OutputEvents*) {
    ClapPlugin& self = Self(plugin);
    self.shared_.Take(self.instance_);
    const uint32_t events = in != nullptr ? in->size(in) : 0;
    for (uint32_t e = 0; e < events; ++e) self.Apply(in->get(in, e));
  }

  // --- state ---
  static bool Save(const Plugin* plugin, const OutputStream* stream) {
    const ClapPlugin& self = Self(plugin);
    if (stream == nullptr) return false;
    double values[kMaxItems];
    self.shared_.CopyValues(values, self.items().size());
    uint8_t blob[kMaxStateBytes];
    const size_t size = SaveState(self.instance_.info(), values, self.shared_.Bypassed(), blob);
    for (size_t done = 0; done < size;) {
      const int64_t wrote = stream->write(stream, blob + done, size - done);
      if (wrote <= 0) return false;
      done += static_cast<size_t>(wrote);
    }
    return true;
  }

  static bool Load(const Plugin* plugin, const InputStream* stream) {
    ClapPlugin& self = Self(plugin);
    if (stream == nullptr) return false;
    // One byte more than the longest state, so that a longer stream is seen.
    uint8_t blob[kMaxStateBytes + 1];
    size_t size = 0;
    while (size < sizeof blob) {
      const int64_t got = stream->read(stream, blob + size, sizeof blob - size);
      if (got < 0) return false;
      if (got == 0) break;
      size += static_cast<size_t>(got);
    }
    double values[kMaxItems];
    bool bypassed = false;
    if (!LoadState(self.instance_.info(), blob, size, values, &bypassed)) return false;
    self.shared_.Load(self.instance_, values, bypassed, self.active_.load());
    return true;
  }

  // --- latency and tail ---
  static uint32_t Latency(const Plugin*) { return 0; }
  static uint32_t Tail(const Plugin* plugin) {
    const ClapPlugin& self = Self(plugin);
    double values[kMaxItems];
    self.shared_.CopyValues(values, self.items().size());
    const uint32_t frames =
        self.instance_.effect().tailFrames(ItemValues(values), static_cast<float>(WholeRate(self.rate_)));
    return std::min<uint32_t>(frames, INT32_MAX);
  }

  static const void* GetExtension(const Plugin*, const char* id) {
    static constexpr PluginAudioPorts kPorts{&PortCount, &PortGet};
    static constexpr PluginParams kParams{&ParamCount, &ParamInfoAt, &GetValue, &ValueToText, &TextToValue, &Flush};
    static constexpr PluginState kState{&Save, &Load};
    static constexpr PluginLatency kLatency{&Latency};
    static constexpr PluginTail kTail{&Tail};
    if (id == nullptr) return nullptr;
    const std::string_view name = id;
    if (name == kExtAudioPorts) return &kPorts;
    if (name == kExtParams) return &kParams;
    if (name == kExtState) return &kState;
    if (name == kExtLatency) return &kLatency;
    if (name == kExtTail) return &kTail;
    return nullptr;
  }

  Plugin plugin_;
  PluginInstance instance_;
  double rate_ = 44100.0;
  std::atomic<bool> active_{false};
  ValueMirror shared_;
};

// --- the factory and the entry ---

uint32_t PluginCount(const PluginFactory*) { return static_cast<uint32_t>(kEffects); }

const PluginDescriptor* DescriptorAt(const PluginFactory*, uint32_t index) {
  return index < kEffects ? &gDescriptors.table[index] : nullptr;
}

const Plugin* CreatePlugin(const PluginFactory*, const Host*, const char* id) {
  if (id == nullptr) return nullptr;
  for (size_t i = 0; i < kEffects; ++i) {
    if (gDescriptors.ids[i] != id) continue;
    try {
      return (new ClapPlugin(*kAllEffects[i], i))->plugin();
    } catch (...) {
      return nullptr;
    }
  }
  return nullptr;
}

constexpr PluginFactory kFactory{&PluginCount, &DescriptorAt, &CreatePlugin};

bool EntryInit(const char*) { return true; }
void EntryDeinit() {}
const void* EntryFactory(const char* id) {
  return id != nullptr && std::string_view(id) == kPluginFactoryId ? &kFactory : nullptr;
}

}  // namespace
}  // namespace velmor::clap

// The library's one export.
const velmor::clap::PluginEntry clap_entry{velmor::clap::kVersion, &velmor::clap::EntryInit,
                                           &velmor::clap::EntryDeinit, &velmor::clap::EntryFactory};
