// UTF-16 text, as the item tables and the AviUtl2 descriptor hold it, to
// UTF-8 for everything that prints or writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velmor {

// UTF-16 to UTF-8; nullopt when the text holds an unpaired surrogate or has no
// end within maxUnits code units.
inline std::optional<std::string> DecodeUtf16(const char16_t* text, size_t maxUnits = 4096) {
  std::string out;
  for (size_t i = 0;; ++i) {
    if (i >= maxUnits) return std::nullopt;
    uint32_t c = text[i];
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00) {
      const uint32_t low = text[i + 1];
      if (low < 0xDC00 || low >= 0xE000) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c < 0xE000) {
      return std::nullopt;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace velmor
