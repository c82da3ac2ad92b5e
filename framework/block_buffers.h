// Channel buffers that a binding keeps between blocks.
#pragma once

#include "framework/platform.h"

#include <cstddef>
#include <new>

namespace velmor {

// A block's two channel buffers, kept between calls and grown only when a
// longer block comes, so that processing an existing object does not call
// the allocator. Their layout is fixed: channel 1 starts 2112 bytes
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

}  // namespace velmor
