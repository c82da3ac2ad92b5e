// The state a host saves with a session and gives back when it loads one:
// every item's value and the bypass switch, in a small format of our own,
// the same under every plug-in format. All numbers little-endian:
//
//   offset  size  content
//   0       4     "VLMR"
//   4       2     format version: 1
//   6       2     item count N
//   8       1     length L of the effect's slug
//   9       L     the slug ("delay"), so that one effect's state is never
//                 loaded into another
//   9+L     8N    each item's value as an IEEE double, in item order
//   9+L+8N  1     bypass: 0 (on) or 1 (bypassed)
//   10+L+8N 4     CRC-32 (the zlib polynomial) of every byte before it
//
// A blob that is short, long, corrupt, of another version or of another
// effect loads nothing: every value stays as it was.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "framework/plugin_instance.h"

namespace velmor {

inline constexpr uint16_t kStateVersion = 1;
// The longest state any effect makes.
inline constexpr size_t kMaxStateBytes = 9 + 255 + 8 * kMaxItems + 1 + 4;

namespace state_detail {

inline uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

inline void Put(uint8_t*& at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) *at++ = static_cast<uint8_t>(value >> (8 * i));
}

inline uint64_t Get(const uint8_t*& at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(*at++) << (8 * i);
  return value;
}

}  // namespace state_detail

// Writes the instance's state into `out` (kMaxStateBytes at least); returns
// its length. Any thread that does not process the instance at the time.
inline size_t SaveState(const PluginInstance& instance, uint8_t* out) {
  using namespace state_detail;
  const std::string_view slug = instance.info().slug;
  uint8_t* at = out;
  std::memcpy(at, "VLMR", 4);
  at += 4;
  Put(at, kStateVersion, 2);
  Put(at, instance.items().size(), 2);
  Put(at, slug.size(), 1);
  std::memcpy(at, slug.data(), slug.size());
  at += slug.size();
  for (size_t k = 0; k < instance.items().size(); ++k) Put(at, std::bit_cast<uint64_t>(instance.Value(k)), 8);
  Put(at, instance.bypassed() ? 1 : 0, 1);
  Put(at, Crc32(out, static_cast<size_t>(at - out)), 4);
  return static_cast<size_t>(at - out);
}

// Loads a state made by SaveState; false, with nothing changed, for
// anything else.
inline bool LoadState(PluginInstance& instance, const uint8_t* data, size_t size) {
  using namespace state_detail;
  const std::string_view slug = instance.info().slug;
  const size_t items = instance.items().size();
  const size_t expected = 9 + slug.size() + 8 * items + 1 + 4;
  if (size != expected || std::memcmp(data, "VLMR", 4) != 0) return false;
  const uint8_t* at = data + 4;
  if (Get(at, 2) != kStateVersion || Get(at, 2) != items || Get(at, 1) != slug.size()) return false;
  if (std::string_view(reinterpret_cast<const char*>(at), slug.size()) != slug) return false;
  at += slug.size();
  double values[kMaxItems];
  for (size_t k = 0; k < items; ++k) {
    values[k] = std::bit_cast<double>(Get(at, 8));
    if (!std::isfinite(values[k])) return false;
  }
  const uint64_t bypass = Get(at, 1);
  if (bypass > 1) return false;
  const uint8_t* end = at;
  if (Get(at, 4) != Crc32(data, static_cast<size_t>(end - data))) return false;
  for (size_t k = 0; k < items; ++k) instance.SetValue(k, values[k]);
  instance.SetBypassed(bypass == 1);
  return true;
}

}  // namespace velmor
