// Slot numbers of the effects' circular buffers.
#pragma once

#include <cstdint>

namespace velmor {

// index modulo kLength as the non-negative residue, 0 to kLength - 1, also
// for negative indices. Sums within one length either side of the buffer, as
// every normal setting gives, take two conditional steps and no division.
template <int32_t kLength>
inline int32_t WrapIndex(int32_t index) {
  if (index < -kLength || index >= 2 * kLength) {
    const int32_t r = index % kLength;
    return r < 0 ? r + kLength : r;
  }
  index += index < 0 ? kLength : 0;
  index -= index >= kLength ? kLength : 0;
  return index;
}

// The slot after `index`.
template <int32_t kLength>
inline int32_t NextIndex(int32_t index) {
  return index + 1 == kLength ? 0 : index + 1;
}

}  // namespace velmor
