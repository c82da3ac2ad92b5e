// Both channels' circular buffers of an effect's delay line. Their indices
// always move together, so one read index and one write index serve both.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "framework/dsp/ring_index.h"

namespace velmor {

template <int32_t kLength>
struct StereoRing {
  static constexpr int32_t kSlots = kLength;

  int32_t readIndex = 0;   // slot of the next tap, 0 to kLength - 1
  int32_t writeIndex = 0;  // slot of the next value, 0 to kLength - 1
  float left[kLength] = {};
  float right[kLength] = {};

  // Silence in every slot; the indices stay where they are.
  void Clear() {
    std::fill(std::begin(left), std::end(left), 0.0f);
    std::fill(std::begin(right), std::end(right), 0.0f);
  }

  // The slot after `index`, and `index` brought into the ring (see ring_index.h).
  static int32_t Next(int32_t index) { return NextIndex<kLength>(index); }
  static int32_t Wrap(int32_t index) { return WrapIndex<kLength>(index); }
};

}  // namespace velmor
