// One effect as a plug-in instance, the same under every plug-in format that
// runs it as a stream (LV2, CLAP, VST3). An instance is one timeline object:
// Restart() begins a new object, and each Process() is the object's next
// block, whose frame number follows the previous block's. So an instance
// gives, sample for sample, what the AviUtl2 plug-in gives for the same
// blocks, rate and settings.
//
// What the instance owns, so that a binding holds none of it:
// - the value policy: a slider's value is held to its range, a drop-down
//   list's rounded to the nearest option, and a value that is not a number
//   reads as the default;
// - the memo of the values as the host gave them, so that an unchanged
//   value costs one comparison;
// - the bypass fade: switched off, the output fades to the dry input over
//   10 ms and is then the input exactly; switched on, it fades back. The
//   effect keeps running while bypassed, so that echoes and phases carry on
//   and nothing jumps when it comes back. While on, the fade touches no
//   sample;
// - buffers in place, apart, or crossed (an input's buffer handed as the
//   other side's output);
// - the state a host saves and loads (plugin_state.h).
//
// Threads: construction and destruction allocate (setup); everything else
// allocates nothing, takes no lock and makes no system call, so a host may
// call it on its audio thread. Calls on one instance must not overlap;
// instances share no mutable state.
#pragma once

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "framework/block_trace.h"
#include "framework/continuity.h"
#include "framework/effect_handler.h"
#include "framework/object_state.h"

namespace velmor {

// The parameter ids every format gives a plug-in's parameters: item k is k,
// and the bypass switch comes after every id an item may take. Hosts and
// saved sessions refer to them: they never change.
inline constexpr uint32_t ItemParameterId(size_t item) { return static_cast<uint32_t>(item); }
inline constexpr uint32_t kBypassParameterId = 1000;

// What a parameter id names: item k, or the bypass switch; not valid for
// any other id.
struct Parameter {
  bool valid, bypass;
  size_t item;
};
inline Parameter FindParameter(const EffectInfo& info, uint32_t id) {
  if (id == kBypassParameterId) return {true, true, 0};
  if (id < info.items.size()) return {true, false, id};
  return {false, false, 0};
}

// An item's value held to its range: a slider's between its minimum and
// maximum, a drop-down list's the nearest option; a value that is not a
// number reads as the default.
inline double HeldValue(const ItemEntry& item, double value) {
  if (std::isnan(value)) return item.defaultValue;
  if (item.kind == ItemKind::Select) value = std::round(value);
  return std::clamp(value, item.min, item.max);
}

// The scene's rate as the AviUtl2 host gives it: a whole number of Hz.
inline int32_t WholeRate(double rate) {
  if (!(rate > 0.0)) return 0;
  if (rate >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(std::lround(rate));
}

class PluginInstance {
 public:
  // Frames of dry input kept while bypassing or fading; a longer block is
  // taken in pieces of this length then.
  static constexpr size_t kDryFrames = 4096;
  static constexpr double kFadeSeconds = 0.01;

  // Setup: allocates the object's state; throws std::bad_alloc. `tag` names
  // the instance's kind in a trace build's file names ("lv2-delay-...").
  PluginInstance(const EffectHandler& effect, double sampleRate, const char* tag = "plugin")
      : effect_(&effect), state_(effect), trace_(std::string(tag) + "-" + effect.info->slug) {
    SetSampleRate(sampleRate);
    for (size_t k = 0; k < items().size(); ++k) {
      raw_[k] = items()[k].defaultValue;
      values_[k] = items()[k].defaultValue;
    }
  }
  PluginInstance(const PluginInstance&) = delete;
  PluginInstance& operator=(const PluginInstance&) = delete;

  const EffectHandler& effect() const { return *effect_; }
  const EffectInfo& info() const { return *effect_->info; }
  std::span<const ItemEntry> items() const { return effect_->info->items; }

  // The rate of the blocks to come, in Hz: the effect gets it as a whole
  // number, as the AviUtl2 host gives it; the bypass fade lasts 10 ms of it.
  // Changing it does not begin a new object.
  void SetSampleRate(double rate) {
    sampleRate_ = static_cast<float>(WholeRate(rate));
    const double fadeFrames = std::max(1.0, std::round(rate * kFadeSeconds));
    fadeStep_ = std::isfinite(fadeFrames) ? static_cast<float>(1.0 / fadeFrames) : 1.0f;
  }

  // A new object: a fresh state and frame counter, the fade as the switch
  // stands. The values stay.
  void Restart() {
    trace_.NewObject(static_cast<uint32_t>(sampleRate_));
    state_.Reset();
    frame_ = 0;
    lastFrame_ = 0;
    share_ = -1.0f;
  }

  // Item k's value as a host gives it (policy applied here). Cheap when the
  // value is the one given last, bit for bit.
  void SetValue(size_t k, double raw) {
    if (std::bit_cast<uint64_t>(raw) == std::bit_cast<uint64_t>(raw_[k])) return;
    raw_[k] = raw;
    values_[k] = HeldValue(items()[k], raw);
  }
  // Item k's value as the effect takes it.
  double Value(size_t k) const { return values_[k]; }

  // The bypass switch; a new object starts as it stands.
  void SetBypassed(bool bypassed) { bypassed_ = bypassed; }
  bool bypassed() const { return bypassed_; }

  // How long the output may still sound after the input falls silent, at
  // the current values and rate.
  uint32_t TailFrames() const { return effect_->tailFrames(ItemValues(values_), sampleRate_); }

  // One block of n frames from the inputs into the outputs: the same
  // buffers, buffers apart, or crossed.
  void Process(const float* in0, const float* in1, float* out0, float* out1, size_t n) {
    n = std::min<size_t>(n, INT32_MAX);
    const float target = bypassed_ ? 0.0f : 1.0f;
    if (share_ < 0.0f) share_ = target;
    if (share_ == 1.0f && target == 1.0f) return RunEffect({in0, in1}, {out0, out1}, n);

    // Bypassed or fading: the dry input is kept, the effect runs, and the
    // two are mixed, the dry input exactly where the effect's share is 0.
    for (size_t start = 0; start < n; start += kDryFrames) {
      const size_t m = std::min(kDryFrames, n - start);
      std::memcpy(dry_[0], in0 + start, m * sizeof(float));
      std::memcpy(dry_[1], in1 + start, m * sizeof(float));
      const Pair<float*> out{out0 + start, out1 + start};
      RunEffect({dry_[0], dry_[1]}, out, m);
      Fade(out, m, target);
    }
  }

 private:
  template <class T>
  struct Pair {
    T c[2];
  };

  // The fade, a sample at a time; once the share has reached its target,
  // the rest of the block is the dry input (bypassed) or the effect (on).
  void Fade(const Pair<float*>& out, size_t m, float target) {
    size_t i = 0;
    for (; i < m && share_ != target; ++i) {
      share_ = target > share_ ? std::min(1.0f, share_ + fadeStep_) : std::max(0.0f, share_ - fadeStep_);
      for (int c = 0; c < 2; ++c) {
        const float wet = out.c[c][i], x = dry_[c][i];
        out.c[c][i] = share_ == 0.0f ? x : share_ == 1.0f ? wet : wet * share_ + x * (1.0f - share_);
      }
    }
    if (target == 0.0f)
      for (int c = 0; c < 2; ++c) std::memcpy(out.c[c] + i, dry_[c] + i, (m - i) * sizeof(float));
  }

  // The inputs into the output buffers, for a block processed in place
  // there: for a host that hands an input's buffer as the other side's
  // output.
  static void CopyCrossed(const Pair<const float*>& in, const Pair<float*>& out, size_t n) {
    if (out.c[0] == in.c[1] && out.c[1] == in.c[0]) {
      if (out.c[0] != out.c[1])
        for (size_t i = 0; i < n; ++i) std::swap(out.c[0][i], out.c[1][i]);
      return;
    }
    const int first = out.c[0] == in.c[1] ? 1 : 0;  // read a side before its buffer is overwritten
    for (int c : {first, 1 - first})
      if (out.c[c] != in.c[c]) std::memmove(out.c[c], in.c[c], n * sizeof(float));
  }

  // One block of the effect into the output buffers, as the AviUtl2
  // plug-in runs it. An output that is its own side's input is processed in
  // place, as are crossed buffers once copied; otherwise the effect reads
  // the inputs.
  void RunEffect(Pair<const float*> in, const Pair<float*>& out, size_t n) {
    if (out.c[0] == in.c[1] || out.c[1] == in.c[0]) {
      CopyCrossed(in, out, n);
      in = {out.c[0], out.c[1]};
    }
    BlockInfo block{};
    block.sampleCount = static_cast<int32_t>(n);
    if (effect_->readsSampleRate) block.sampleRate = sampleRate_;
    ContinueObject(*effect_, state_.get(), lastFrame_, frame_);
    trace_.Before(static_cast<uint32_t>(n), values_, items().size(), in.c[0], in.c[1]);
    // The values are held to their ranges, so finite: the block goes to the
    // handler directly.
    effect_->processBlock(state_.get(), block, ItemValues(values_), in.c[0], in.c[1], out.c[0], out.c[1]);
    trace_.After(static_cast<uint32_t>(n), out.c[0], out.c[1]);
    frame_ = static_cast<int32_t>(static_cast<uint32_t>(frame_) + 1u);
  }

  const EffectHandler* effect_;
  OwnedState state_;
  BlockTrace trace_;  // records every block in a developer's build, nothing otherwise
  float sampleRate_ = 0.0f;
  float fadeStep_ = 1.0f;  // the effect's share of the output moves this far per sample
  int32_t frame_ = 0;      // the frame number of the next block
  int32_t lastFrame_ = 0;  // the frame number of the object's latest block
  bool bypassed_ = false;
  float share_ = -1.0f;    // the effect's share of the output, 0 to 1; -1 before the first block
  double raw_[kMaxItems] = {};     // the values as the host gave them last
  double values_[kMaxItems] = {};  // held to their ranges
  float dry_[2][kDryFrames] = {};
};

// A host's block taken in pieces at the frames where its parameter events
// fall: RunTo(end) runs the frames from where the last piece ended up to
// end as one block of the instance, then the host's events at end apply,
// then the next piece. Without buffers (a host's parameter flush, or
// buffers missing) the events apply and no frame runs.
class BlockPieces {
 public:
  BlockPieces(PluginInstance& instance, float* const* in, float* const* out, size_t frames)
      : instance_(instance), in_(in), out_(out), frames_(in != nullptr && out != nullptr ? frames : 0) {}

  void RunTo(size_t end) {
    end = std::min(end, frames_);
    if (end > done_) instance_.Process(in_[0] + done_, in_[1] + done_, out_[0] + done_, out_[1] + done_, end - done_);
    done_ = std::max(done_, end);
  }
  void Finish() { RunTo(frames_); }

 private:
  PluginInstance& instance_;
  float* const* in_;
  float* const* out_;
  size_t frames_;
  size_t done_ = 0;
};

}  // namespace velmor
