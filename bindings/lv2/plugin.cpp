// Every effect as an LV2 plug-in, all in one library: the ports of a
// PluginInstance (framework/plugin_instance.h), which is one timeline object.
// activate() begins a new object and each run() is one block. The control
// ports are read at the start of each run(); the "enabled" port is the
// bypass switch (1 on, 0 bypassed).
//
// run() allocates nothing and takes no lock; instances share no mutable
// state, so a host may run any number of them on any threads.
#include <lv2/core/lv2.h>

#include <cmath>
#include <new>
#include <string>

#include "bindings/lv2/ports.h"
#include "bindings/lv2/uris.h"
#include "effect_handlers.h"
#include "framework/plugin_instance.h"

namespace velmor::lv2 {
namespace {

struct Instance {
  PluginInstance plugin;
  const float* in[2] = {};
  float* out[2] = {};
  const float* controls[kMaxItems] = {};
  const float* enabled = nullptr;

  Instance(const EffectHandler& effect, double rate) : plugin(effect, rate, "lv2") {}
  const EffectInfo& info() const { return plugin.info(); }
};

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rate, const char*, const LV2_Feature* const*) {
  for (const EffectHandler* effect : kAllEffects) {
    if (PluginUri(*effect->info) != descriptor->URI) continue;
    try {
      return new Instance(*effect, rate);
    } catch (...) {
      return nullptr;
    }
  }
  return nullptr;
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
  auto* self = static_cast<Instance*>(handle);
  switch (port) {
    case kInLeft: self->in[0] = static_cast<const float*>(data); break;
    case kInRight: self->in[1] = static_cast<const float*>(data); break;
    case kOutLeft: self->out[0] = static_cast<float*>(data); break;
    case kOutRight: self->out[1] = static_cast<float*>(data); break;
    default:
      if (port - kAudioPorts < self->info().items.size())
        self->controls[port - kAudioPorts] = static_cast<const float*>(data);
      else if (port == EnabledPort(self->info()))
        self->enabled = static_cast<const float*>(data);
  }
}

void Activate(LV2_Handle handle) { static_cast<Instance*>(handle)->plugin.Restart(); }

void Run(LV2_Handle handle, uint32_t sampleCount) {
  auto* self = static_cast<Instance*>(handle);
  if (self->in[0] == nullptr || self->in[1] == nullptr || self->out[0] == nullptr || self->out[1] == nullptr)
    return;
  // A control port not connected reads as NaN, so as its default.
  for (size_t k = 0; k < self->info().items.size(); ++k)
    self->plugin.SetValue(k, self->controls[k] == nullptr ? NAN : *self->controls[k]);
  // Enabled unless the port says 0 (below one half); a missing port or NaN is on.
  self->plugin.SetBypassed(self->enabled != nullptr && *self->enabled < 0.5f);
  self->plugin.Process(self->in[0], self->in[1], self->out[0], self->out[1], sampleCount);
}

void Deactivate(LV2_Handle) {}

void Cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

const void* ExtensionData(const char*) { return nullptr; }

// One descriptor per effect, in the order of the effect list; the URIs are
// made once, when the library is loaded.
struct Descriptors {
  std::string uris[std::size(kAllEffects)];
  LV2_Descriptor table[std::size(kAllEffects)];
  Descriptors() {
    for (size_t i = 0; i < std::size(kAllEffects); ++i) {
      uris[i] = PluginUri(*kAllEffects[i]->info);
      table[i] = LV2_Descriptor{uris[i].c_str(), &Instantiate, &ConnectPort, &Activate, &Run,
                                &Deactivate, &Cleanup, &ExtensionData};
    }
  }
};

const Descriptors gDescriptors;

}  // namespace
}  // namespace velmor::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  using velmor::lv2::gDescriptors;
  return index < std::size(gDescriptors.table) ? &gDescriptors.table[index] : nullptr;
}
