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

#include "framework/effect.h"
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

// Writes a state of the effect with these item values and bypass switch
// into `out` (kMaxStateBytes at least); returns its length.
inline size_t SaveState(const EffectInfo& info, const double* values, bool bypassed, uint8_t* out) {
  using namespace state_detail;
  const std::string_view slug = info.slug;
  uint8_t* at = out;
  std::memcpy(at, "VLMR", 4);
  at += 4;
  Put(at, kStateVersion, 2);
  Put(at, info.items.size(), 2);
  Put(at, slug.size(), 1);
  std::memcpy(at, slug.data(), slug.size());
  at += slug.size();
  for (size_t k = 0; k < info.items.size(); ++k) Put(at, std::bit_cast<uint64_t>(values[k]), 8);
  Put(at, bypassed ? 1 : 0, 1);
  Put(at, Crc32(out, static_cast<size_t>(at - out)), 4);
  return static_cast<size_t>(at - out);
}

// Reads a state of this effect made by SaveState into `values` (one per
// item) and `bypassed`; false, with both untouched, for anything else.
inline bool LoadState(const EffectInfo& info, const uint8_t* data, size_t size, double* values, bool* bypassed) {
  using namespace state_detail;
  const std::string_view slug = info.slug;
  const size_t items = info.items.size();
  const size_t expected = 9 + slug.size() + 8 * items + 1 + 4;
  if (data == nullptr || size != expected || std::memcmp(data, "VLMR", 4) != 0) return false;
  const uint8_t* at = data + 4;
  if (Get(at, 2) != kStateVersion || Get(at, 2) != items || Get(at, 1) != slug.size()) return false;
  if (std::string_view(reinterpret_cast<const char*>(at), slug.size()) != slug) return false;
  at += slug.size();
  double read[kMaxItems];
  for (size_t k = 0; k < items; ++k) {
    read[k] = std::bit_cast<double>(Get(at, 8));
    if (!std::isfinite(read[k])) return false;
  }
  const uint64_t bypass = Get(at, 1);
  if (bypass > 1) return false;
  const size_t covered = static_cast<size_t>(at - data);
  if (Get(at, 4) != Crc32(data, covered)) return false;
  for (size_t k = 0; k < items; ++k) values[k] = HeldValue(info.items[k], read[k]);
  *bypassed = bypass == 1;
  return true;
}

}  // namespace velmor
