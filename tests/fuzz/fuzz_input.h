// The fuzz targets' reading of their input bytes, and the host side of a
// block over memory.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bindings/aviutl2/host_abi.h"

namespace velmor::fuzz {

// Values taken from the input front to back; zeros once it runs out.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return position_ >= size_; }
  template <class T>
  T Take() {
    T value{};
    uint8_t raw[sizeof(T)] = {};
    for (size_t i = 0; i < sizeof(T) && position_ < size_; ++i) raw[i] = data_[position_++];
    std::memcpy(&value, raw, sizeof(T));
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_, position_ = 0;
};

// The two channels of one block, which the sample callbacks copy in and out.
struct Block {
  std::vector<float> channels[2];
};
inline thread_local Block* gBlock = nullptr;

inline bool Read(float* buffer, int32_t channel) {
  if (!gBlock->channels[channel].empty())
    std::memcpy(buffer, gBlock->channels[channel].data(), gBlock->channels[channel].size() * sizeof(float));
  return true;
}
inline bool Write(float* buffer, int32_t channel) {
  if (!gBlock->channels[channel].empty())
    std::memcpy(gBlock->channels[channel].data(), buffer, gBlock->channels[channel].size() * sizeof(float));
  return true;
}

// A block's samples: raw bits (NaN, infinities, huge and subnormal values
// too) or sines with spikes. Returns whether all are finite and moderate.
inline bool FillSamples(Bytes& in, Block& block, int32_t count) {
  bool moderate = true;
  const uint8_t signal = in.Take<uint8_t>();
  if (count <= 0) return moderate;
  for (auto& channel : block.channels) {
    channel.resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      float v;
      if (signal % 3 == 0) {
        v = in.Take<float>();
      } else {
        v = static_cast<float>(std::sin(0.01 * i * (1 + signal % 17))) * 0.5f;
        if (signal % 3 == 1 && i % 61 == 0) v = static_cast<float>(in.Take<int8_t>()) / 64.0f;
      }
      channel[static_cast<size_t>(i)] = v;
      moderate = moderate && std::isfinite(v) && std::fabs(v) <= 4.0f;
    }
  }
  return moderate;
}

}  // namespace velmor::fuzz
