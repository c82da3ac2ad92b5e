// The frame of every plug-in's audio callback, written once.
//
// An effect supplies what differs between effects:
//
//   struct Maps        its ObjectStateMaps and a LastFrameMap named lastFrames
//   struct Parameters  the item values of one block, converted
//   kReadsSampleRate   whether the block reads scene->sample_rate
//   kClearsOnJump      whether a jump of the frame number clears its lines
//   ReadParameters()                 reads every item once
//   IsNewObject(maps, id)            its new-object rule
//   CreateObject(maps, id)           stores the initial state of a new object
//   ClearLines(maps, id)             (kClearsOnJump only) empties the lines
//   BeginBlock(maps, block, params)  per-block work; returns the sample kernel
//                                    or a std::variant of kernels
//   ClearObject(maps, id)            empties histories and lines after a block
//                                    whose output was not finite
//
// A kernel has Process(float& ch0, float& ch1), called once per sample index
// in increasing order, and Finish(), called once after the last sample. A
// kernel that works on the whole block at once (a wavefront through a chain
// of stages) has Run(ch0, ch1, count) instead of Process.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <variant>

#include "framework/float_environment.h"
#include "framework/host_abi.h"
#include "framework/object_maps.h"

namespace velmor {

// What the frame has read about the block before the effect's work starts.
struct BlockInfo {
  int64_t id;
  int32_t frame;
  int32_t sampleCount;
  float sampleRate;  // the scene's rate as a float; 0 for effects that never read it
};

namespace frame_detail {

template <class T>
struct IsVariant : std::false_type {};
template <class... T>
struct IsVariant<std::variant<T...>> : std::true_type {};

// Runs the block's samples through a kernel; a variant of kernels (nested
// variants too) is dispatched once per block, not per sample.
template <class Kernel>
inline void RunKernel(Kernel& kernel, float* ch0, float* ch1, int32_t count) {
  if constexpr (IsVariant<Kernel>::value) {
    std::visit([&](auto& inner) { RunKernel(inner, ch0, ch1, count); }, kernel);
  } else if constexpr (requires { kernel.Run(ch0, ch1, count); }) {
    kernel.Run(ch0, ch1, count);
    kernel.Finish();
  } else {
    for (int32_t i = 0; i < count; ++i) kernel.Process(ch0[i], ch1[i]);
    kernel.Finish();
  }
}

// True when any value is NaN or infinite: all exponent bits set.
inline bool HasNonFinite(const float* samples, int32_t count) {
  uint32_t found = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &samples[i], sizeof bits);
    found |= static_cast<uint32_t>((bits & 0x7F800000u) == 0x7F800000u);
  }
  return found != 0;
}

// 32-bit difference of two frame numbers, wrapping as the host's counter does.
inline int32_t FrameDistance(int32_t frame, int32_t previous) {
  return static_cast<int32_t>(static_cast<uint32_t>(frame) - static_cast<uint32_t>(previous));
}

}  // namespace frame_detail

// The library-wide state of one effect: its maps and the lock that keeps calls
// from several host threads from overlapping.
template <class Effect>
struct EffectGlobals {
  static inline typename Effect::Maps maps{};
  static inline std::mutex lock;
};

template <class Effect>
bool ProcessAudioBlock(const AudioProcContext* audio) noexcept {
  using namespace frame_detail;
  if (audio == nullptr || audio->object == nullptr || audio->read_samples == nullptr ||
      audio->write_samples == nullptr)
    return false;
  if (Effect::kReadsSampleRate && audio->scene == nullptr) return false;

  BlockInfo block{};
  block.id = audio->object->id;
  block.frame = audio->object->frame;
  block.sampleCount = audio->object->sample_count;
  if (block.sampleCount < 0) return false;  // nothing is allocated, read or written
  if constexpr (Effect::kReadsSampleRate)
    block.sampleRate = static_cast<float>(audio->scene->sample_rate);

  FlushDenormalsScope flushDenormals;
  try {
    std::lock_guard<std::mutex> guard(EffectGlobals<Effect>::lock);
    auto& maps = EffectGlobals<Effect>::maps;
    const typename Effect::Parameters params = Effect::ReadParameters();

    LastFrameMap& lastFrames = maps.lastFrames;
    if (Effect::IsNewObject(maps, block.id)) {
      lastFrames[block.id] = block.frame;
      Effect::CreateObject(maps, block.id);
    }
    if constexpr (Effect::kClearsOnJump) {
      const int32_t d = FrameDistance(block.frame, lastFrames[block.id]);
      if (d < 0 || d > 1) Effect::ClearLines(maps, block.id);
    }
    lastFrames[block.id] = block.frame;

    const auto ch0 = std::make_unique<float[]>(static_cast<size_t>(block.sampleCount));
    const auto ch1 = std::make_unique<float[]>(static_cast<size_t>(block.sampleCount));
    audio->read_samples(ch0.get(), 0);
    audio->read_samples(ch1.get(), 1);

    auto kernel = Effect::BeginBlock(maps, block, params);
    RunKernel(kernel, ch0.get(), ch1.get(), block.sampleCount);

    audio->write_samples(ch0.get(), 0);
    audio->write_samples(ch1.get(), 1);
    if (HasNonFinite(ch0.get(), block.sampleCount) || HasNonFinite(ch1.get(), block.sampleCount))
      Effect::ClearObject(maps, block.id);
    return true;
  } catch (...) {
    // Nothing may leave the callback into the host: allocation and map
    // failures end the block here, before any sample is written.
    return false;
  }
}

}  // namespace velmor
