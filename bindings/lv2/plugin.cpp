// Every effect as an LV2 plug-in, all in one library. One instance is one
// timeline object: activate() begins a new object, each run() is one block
// whose frame number follows the previous block's, and the control ports are
// read at the start of each run(), each held to its declared range (a value
// that is not a number reads as the default). So an instance gives, sample
// for sample, what the AviUtl2 plug-in gives for the same blocks, rate and
// settings.
//
// Bypass: the "enabled" port. While it is 1, nothing of it touches a sample.
// Switched off, the output fades to the dry input over 10 ms and is then the
// input exactly; switched on, it fades back. The effect keeps running while
// bypassed, so that echoes and phases carry on and nothing jumps when it
// comes back.
//
// run() allocates nothing and takes no lock; instances share no mutable
// state, so a host may run any number of them on any threads.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "bindings/lv2/ports.h"
#include "bindings/lv2/run_trace.h"
#include "bindings/lv2/uris.h"
#include "framework/continuity.h"
#include "framework/object_state.h"
#include "effect_handlers.h"

namespace velmor::lv2 {
namespace {

// Frames of dry input kept while bypassing or fading; a longer run() is
// taken in blocks of this length then.
constexpr size_t kDryFrames = 4096;
constexpr double kFadeSeconds = 0.01;

struct Instance {
  const EffectHandler* effect;
  OwnedState state;
  float sampleRate;
  float fadeStep;         // the effect's share of the output moves this far per sample
  RunTrace trace;         // records each run() in a developer's build, nothing otherwise
  int32_t frame = 0;      // the frame number of the next block
  int32_t lastFrame = 0;  // the frame number of the object's latest block
  const float* in[2] = {};
  float* out[2] = {};
  const float* controls[kMaxItems] = {};
  const float* enabled = nullptr;
  // The control ports' values at the latest block (NaN for a port not
  // connected), bit for bit, and the item values made from them: made again
  // only when a port's value changes.
  float ports[kMaxItems] = {};
  double values[kMaxItems] = {};
  bool valuesMade = false;
  float share = -1.0f;  // the effect's share of the output, 0 to 1; -1 before the first run()
  float dry[2][kDryFrames] = {};
};

// The scene's rate as the AviUtl2 host gives it: a whole number of Hz.
int32_t WholeRate(double rate) {
  if (!(rate > 0.0)) return 0;
  if (rate >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(std::lround(rate));
}

// An item's value from its port, held to the range the Turtle file declares:
// a slider's value between its minimum and maximum, a drop-down list's the
// nearest option; a value that is not a number reads as the default.
double PortValue(const ItemEntry& item, float port) {
  if (std::isnan(port)) return item.defaultValue;
  const double value = item.kind == ItemKind::Select ? std::round(static_cast<double>(port)) : port;
  return std::clamp(value, item.min, item.max);
}

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rate, const char*, const LV2_Feature* const*) {
  const EffectHandler* effect = nullptr;
  for (const EffectHandler* candidate : kAllEffects)
    if (PluginUri(*candidate->info) == descriptor->URI) effect = candidate;
  if (effect == nullptr) return nullptr;
  try {
    const double fadeFrames = std::max(1.0, std::round(rate * kFadeSeconds));
    return new Instance{effect, OwnedState(*effect), static_cast<float>(WholeRate(rate)),
                        static_cast<float>(1.0 / fadeFrames), RunTrace(effect->info->slug)};
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
      else if (port == EnabledPort(*self->effect->info))
        self->enabled = static_cast<const float*>(data);
  }
}

void Activate(LV2_Handle handle) {
  auto* self = static_cast<Instance*>(handle);
  self->state.Reset();
  self->frame = 0;
  self->lastFrame = 0;
  self->share = -1.0f;
}

// The inputs into the output buffers, for a block processed in place there:
// for a host that hands an input's buffer as the other side's output.
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

// One block of the effect into the output buffers, as the AviUtl2 plug-in
// runs it. An output that is its own side's input is processed in place, as
// are crossed buffers once copied; otherwise the effect reads the inputs.
void RunEffect(Instance& self, const float* const (&in)[2], float* const (&out)[2], size_t n) {
  const float* from[2] = {in[0], in[1]};
  if (out[0] == in[1] || out[1] == in[0]) {
    CopyInputs(in, out, n);
    from[0] = out[0], from[1] = out[1];
  }
  BlockInfo block{};
  block.sampleCount = static_cast<int32_t>(n);
  if (self.effect->readsSampleRate) block.sampleRate = self.sampleRate;
  ContinueObject(*self.effect, self.state.get(), self.lastFrame, self.frame);
  self.effect->processBlock(self.state.get(), block, ItemValues(self.values), from[0], from[1], out[0], out[1]);
  self.frame = static_cast<int32_t>(static_cast<uint32_t>(self.frame) + 1u);
}

// The item values from the control ports, worked out again only when a port's
// value changed since the latest block. Hosts run small blocks (64 frames is
// common) with controls that mostly stand still, and holding every port to
// its range afresh was a third of the instructions a block costs beside its
// samples.
void ReadPorts(Instance& self) {
  const auto& items = self.effect->info->items;
  bool changed = !self.valuesMade;
  for (size_t k = 0; k < items.size(); ++k) {
    const float port = self.controls[k] == nullptr ? NAN : *self.controls[k];
    if (std::memcmp(&port, &self.ports[k], sizeof port) != 0) self.ports[k] = port, changed = true;
  }
  if (!changed) return;
  // Held to their ranges, so finite: nothing is left for RunEffectBlock's
  // check, and the block goes to the handler directly (RunEffect).
  for (size_t k = 0; k < items.size(); ++k) self.values[k] = PortValue(items[k], self.ports[k]);
  self.valuesMade = true;
}

void RunBlock(Instance* self, uint32_t sampleCount) {
  if (self->in[0] == nullptr || self->in[1] == nullptr || self->out[0] == nullptr || self->out[1] == nullptr)
    return;
  ReadPorts(*self);
  const size_t n = sampleCount <= static_cast<uint32_t>(INT32_MAX) ? sampleCount : static_cast<size_t>(INT32_MAX);
  // Enabled unless the port says 0 (below one half); a missing port or NaN is on.
  const float target = self->enabled != nullptr && *self->enabled < 0.5f ? 0.0f : 1.0f;
  if (self->share < 0.0f) self->share = target;  // a new object starts as the switch stands
  if (self->share == 1.0f && target == 1.0f) return RunEffect(*self, self->in, self->out, n);

  // Bypassed or fading: the dry input is kept, the effect runs, and the two
  // are mixed, the dry input exactly where the effect's share is 0.
  for (size_t start = 0; start < n; start += kDryFrames) {
    const size_t m = std::min(kDryFrames, n - start);
    for (int c = 0; c < 2; ++c) std::memcpy(self->dry[c], self->in[c] + start, m * sizeof(float));
    const float* const dry[2] = {self->dry[0], self->dry[1]};
    float* const out[2] = {self->out[0] + start, self->out[1] + start};
    RunEffect(*self, dry, out, m);
    // The fade, a sample at a time; once the share has reached its target,
    // the rest of the block is the dry input (bypassed) or the effect (on).
    float& share = self->share;
    size_t i = 0;
    for (; i < m && share != target; ++i) {
      share = target > share ? std::min(1.0f, share + self->fadeStep) : std::max(0.0f, share - self->fadeStep);
      for (int c = 0; c < 2; ++c) {
        const float wet = out[c][i], x = dry[c][i];
        out[c][i] = share == 0.0f ? x : share == 1.0f ? wet : wet * share + x * (1.0f - share);
      }
    }
    if (target == 0.0f)
      for (int c = 0; c < 2; ++c) std::memcpy(out[c] + i, dry[c] + i, (m - i) * sizeof(float));
  }
}

void Run(LV2_Handle handle, uint32_t sampleCount) {
  auto* self = static_cast<Instance*>(handle);
  self->trace.Before(sampleCount, self->controls, self->effect->info->items.size(), self->in);
  RunBlock(self, sampleCount);
  self->trace.After(sampleCount, self->out);
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
