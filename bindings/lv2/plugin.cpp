// Every effect as an LV2 plug-in, all in one library. One instance is one
// timeline object: activate() begins a new object, each run() is one block
// whose frame number follows the previous block's, and the control ports are
// read at the start of each run(). So an instance gives, sample for sample,
// what the AviUtl2 plug-in gives for the same blocks, rate and settings.
//
// run() allocates nothing and takes no lock; instances share no mutable
// state, so a host may run any number of them on any threads.
#include <lv2/core/lv2.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "bindings/lv2/ports.h"
#include "framework/block_frame.h"
#include "effect_handlers.h"

namespace velmor::lv2 {
namespace {

struct Instance {
  const EffectHandler* effect;
  OwnedState state;
  float sampleRate;
  int32_t frame = 0;      // the frame number of the next block
  int32_t lastFrame = 0;  // the frame number of the object's latest block
  const float* in[2] = {};
  float* out[2] = {};
  const float* controls[kMaxItems] = {};
};

// The scene's rate as the AviUtl2 host gives it: a whole number of Hz.
int32_t WholeRate(double rate) {
  if (!(rate > 0.0)) return 0;
  if (rate >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(std::lround(rate));
}

// A drop-down list's value from its float port: the nearest whole number.
double SelectValue(float port, double defaultValue) {
  if (std::isnan(port)) return defaultValue;
  if (port <= static_cast<float>(INT32_MIN)) return INT32_MIN;
  if (port >= static_cast<float>(INT32_MAX)) return INT32_MAX;
  return static_cast<double>(std::lround(port));
}

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rate, const char*, const LV2_Feature* const*) {
  const EffectHandler* effect = nullptr;
  for (const EffectHandler* candidate : kAllEffects)
    if (PluginUri(*candidate->info) == descriptor->URI) effect = candidate;
  if (effect == nullptr) return nullptr;
  try {
    return new Instance{effect, OwnedState(*effect), static_cast<float>(WholeRate(rate))};
  } catch (...) {
    return nullptr;
  }
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
  auto* self = static_cast<Instance*>(handle);
  switch (port) {
    case kInLeft: self->in[0] = static_cast<const float*>(data); break;
    case kInRight: self->in[1] = static_cast<const float*>(data); break;
    case kOutLeft: self->out[0] = static_cast<float*>(data); break;
    case kOutRight: self->out[1] = static_cast<float*>(data); break;
    default:
      if (port - kAudioPorts < self->effect->info->items.size())
        self->controls[port - kAudioPorts] = static_cast<const float*>(data);
  }
}

void Activate(LV2_Handle handle) {
  auto* self = static_cast<Instance*>(handle);
  self->state.Reset();
  self->frame = 0;
  self->lastFrame = 0;
}

// The inputs into the output buffers, where the block is processed in place.
// A host may hand the same buffer as an input and an output, of either side.
void CopyInputs(const float* const (&in)[2], float* const (&out)[2], size_t n) {
  if (out[0] == in[1] && out[1] == in[0]) {
    if (out[0] != out[1])
      for (size_t i = 0; i < n; ++i) std::swap(out[0][i], out[1][i]);
    return;
  }
  const int first = out[0] == in[1] ? 1 : 0;  // read a side before its buffer is overwritten
  for (int c : {first, 1 - first})
    if (out[c] != in[c]) std::memmove(out[c], in[c], n * sizeof(float));
}

void Run(LV2_Handle handle, uint32_t sampleCount) {
  auto* self = static_cast<Instance*>(handle);
  if (self->in[0] == nullptr || self->in[1] == nullptr || self->out[0] == nullptr || self->out[1] == nullptr)
    return;
  const auto& items = self->effect->info->items;
  double values[kMaxItems];
  for (size_t k = 0; k < items.size(); ++k) {
    const float* port = self->controls[k];
    if (port == nullptr)
      values[k] = items[k].defaultValue;
    else if (items[k].kind == ItemKind::Select)
      values[k] = SelectValue(*port, items[k].defaultValue);
    else
      values[k] = static_cast<double>(*port);
  }
  const size_t n = sampleCount <= static_cast<uint32_t>(INT32_MAX) ? sampleCount : static_cast<size_t>(INT32_MAX);
  CopyInputs(self->in, self->out, n);
  BlockInfo block{};
  block.sampleCount = static_cast<int32_t>(n);
  if (self->effect->readsSampleRate) block.sampleRate = self->sampleRate;
  ContinueObject(*self->effect, self->state.get(), self->lastFrame, self->frame);
  RunEffectBlock(*self->effect, self->state.get(), block, values, self->out[0], self->out[1]);
  self->frame = static_cast<int32_t>(static_cast<uint32_t>(self->frame) + 1u);
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
