// What an AviUtl2 plug-in keeps between calls: the state of every timeline
// object it has seen, keyed by the object's 64-bit id, and the two channel
// buffers of a block.
#pragma once

#include "framework/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>

#include "framework/effect_handler.h"
#include "framework/object_state.h"

namespace velmor::aviutl2 {

// One timeline object: its effect state and the frame of its latest block.
struct ObjectEntry {
  OwnedState state;
  int32_t lastFrame = 0;
};

// Ordered map from object id to the object's entry. Entries are created on an
// object's first block and never erased while the library is loaded.
using ObjectStateMap = std::map<int64_t, ObjectEntry>;

// The entry of `id`; a new object gets the effect's initial state and its
// first frame recorded. Throws std::bad_alloc, leaving the map as it was.
inline ObjectEntry& FindOrCreateObject(ObjectStateMap& objects, const EffectHandler& effect, int64_t id,
                                       int32_t frame) {
  auto found = objects.find(id);
  if (found != objects.end()) return found->second;
  OwnedState state(effect);
  return objects.emplace_hint(found, id, ObjectEntry{std::move(state), frame})->second;
}

// The block's two channel buffers, kept between calls and grown only when a
// longer block comes, so that the audio callback of an existing object does
// not call the allocator. Their layout is fixed: channel 1 starts 2112 bytes
// past a multiple of 4 KiB from channel 0, so that the processor never takes
// a load from one channel for a load of what was just stored to the other
// (addresses equal in their low 12 bits), wherever the heap puts them.
class BlockBuffers {
 public:
  BlockBuffers() = default;
  BlockBuffers(const BlockBuffers&) = delete;
  BlockBuffers& operator=(const BlockBuffers&) = delete;
  ~BlockBuffers() { Release(); }

  // Room for `count` samples per channel; false when the memory cannot be had.
  bool Reserve(size_t count) noexcept {
    if (count <= capacity_ && memory_ != nullptr) return true;
    const size_t stride = (count + kPageFloats - 1) / kPageFloats * kPageFloats + kChannelOffsetFloats;
    void* memory = ::operator new(2 * stride * sizeof(float), std::align_val_t(kAlignment), std::nothrow);
    if (memory == nullptr) return false;
    Release();
    memory_ = static_cast<float*>(memory);
    stride_ = stride;
    capacity_ = count;
    return true;
  }

  float* channel(int c) const { return memory_ + static_cast<size_t>(c) * stride_; }

 private:
  static constexpr size_t kAlignment = 64;
  static constexpr size_t kPageFloats = 4096 / sizeof(float);
  static constexpr size_t kChannelOffsetFloats = 2112 / sizeof(float);

  void Release() {
    if (memory_ != nullptr) ::operator delete(memory_, std::align_val_t(kAlignment));
    memory_ = nullptr;
    capacity_ = 0;
  }

  float* memory_ = nullptr;
  size_t stride_ = 0;
  size_t capacity_ = 0;
};

// Zeroes n samples with the processor's string store rather than the C
// runtime's memset, whose speed is the runtime's (under wine, msvcrt's
// memset took about a nanosecond a sample).
inline void ZeroSamples(float* samples, size_t n) {
#if VELMOR_X86
  size_t bytes = n * sizeof(float);
  __asm__ volatile("rep stosb" : "+D"(samples), "+c"(bytes) : "a"(0) : "memory");
#else
  for (size_t i = 0; i < n; ++i) samples[i] = 0.0f;
#endif
}

// Erases every object, as unloading and loading the library would. Only
// tools that link the binding in (the fuzz targets) can call it: the
// library exports nothing but its three entry points.
void ForgetAllObjects();

}  // namespace velmor::aviutl2
