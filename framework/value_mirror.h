// What a plug-in format's main thread knows of an instance that its audio
// thread runs: a copy of the values as the instance holds them, and a state
// loaded on the main thread on its way to the audio thread. Lock-free on both
// sides: the audio thread never waits; the main thread waits only while the
// audio thread copies a state handed to it, a few dozen values.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "framework/plugin_instance.h"

namespace velmor {

class ValueMirror {
 public:
  explicit ValueMirror(const PluginInstance& instance) {
    for (size_t k = 0; k < instance.items().size(); ++k) values_[k].store(instance.Value(k), std::memory_order_relaxed);
    bypassed_.store(instance.bypassed(), std::memory_order_relaxed);
  }

  // [audio thread, or main thread while inactive] a parameter's plain value
  // (a host's event or point) into the instance; the copy follows what the
  // instance made of it. Ids that name no parameter are ignored.
  void Apply(PluginInstance& instance, uint32_t id, double plain) {
    const Parameter p = FindParameter(instance.info(), id);
    if (!p.valid) return;
    if (p.bypass) {
      instance.SetBypassed(plain >= 0.5);
      bypassed_.store(instance.bypassed(), std::memory_order_relaxed);
    } else {
      instance.SetValue(p.item, plain);
      values_[p.item].store(instance.Value(p.item), std::memory_order_relaxed);
    }
  }

  // [any thread] the values as last taken.
  double Value(size_t k) const { return values_[k].load(std::memory_order_relaxed); }
  bool Bypassed() const { return bypassed_.load(std::memory_order_relaxed); }
  void CopyValues(double* into, size_t count) const {
    for (size_t k = 0; k < count; ++k) into[k] = Value(k);
  }

  // [main thread] a loaded state: while the audio thread runs the
  // instance, handed to it (Hand); otherwise straight into the instance.
  void Load(PluginInstance& instance, const double* values, bool bypassed, bool audioThreadRuns) {
    const size_t count = instance.items().size();
    if (audioThreadRuns) return Hand(values, count, bypassed);
    for (size_t k = 0; k < count; ++k) Apply(instance, ItemParameterId(k), values[k]);
    Apply(instance, kBypassParameterId, bypassed ? 1.0 : 0.0);
  }

  // [main thread] a loaded state: shown at once, and handed to the audio
  // thread, which takes it at its next Take.
  void Hand(const double* values, size_t count, bool bypassed) {
    for (size_t k = 0; k < count; ++k) values_[k].store(values[k], std::memory_order_relaxed);
    bypassed_.store(bypassed, std::memory_order_relaxed);
    for (;;) {
      int state = pending_.load(std::memory_order_acquire);
      if (state != kReading && pending_.compare_exchange_weak(state, kWriting, std::memory_order_acquire)) break;
    }
    std::copy(values, values + count, handed_);
    handedCount_ = count;
    handedBypassed_ = bypassed;
    pending_.store(kReady, std::memory_order_release);
  }

  // [audio thread] a handed state into the instance, if one waits. A plain
  // load first: the exchange is a locked instruction, which every small
  // block would pay for nothing.
  void Take(PluginInstance& instance) {
    int ready = kReady;
    if (pending_.load(std::memory_order_relaxed) != kReady ||
        !pending_.compare_exchange_strong(ready, kReading, std::memory_order_acquire))
      return;
    for (size_t k = 0; k < handedCount_; ++k) instance.SetValue(k, handed_[k]);
    instance.SetBypassed(handedBypassed_);
    pending_.store(kIdle, std::memory_order_release);
  }

 private:
  enum { kIdle, kWriting, kReady, kReading };
  std::atomic<double> values_[kMaxItems];
  std::atomic<bool> bypassed_{false};
  std::atomic<int> pending_{kIdle};
  double handed_[kMaxItems] = {};
  size_t handedCount_ = 0;
  bool handedBypassed_ = false;
};

}  // namespace velmor
