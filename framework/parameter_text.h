// An item's value as text for hosts that show and take parameters as text
// (CLAP, VST3): a drop-down list's option, a slider's number to its step's
// decimals with its unit, and back.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "framework/effect.h"
#include "framework/utf16.h"

namespace velmor {

// The unit's symbol ("Hz"), or "" for a plain number.
inline const char* UnitSymbol(Unit unit) {
  switch (unit) {
    case Unit::kHz: return "Hz";
    case Unit::kMs: return "ms";
    case Unit::kDb: return "dB";
    case Unit::kSemitones: return "st";
    case Unit::kPercent: return "%";
    case Unit::kNone: break;
  }
  return "";
}

// How many decimals a slider's step has (0.01: 2).
inline int StepDecimals(const ItemEntry& item) {
  int decimals = 0;
  for (double step = item.step; decimals < 6 && std::fabs(step - std::round(step)) > 1e-9; step *= 10) ++decimals;
  return decimals;
}

// The value as users read it; with `unit`, a slider's unit follows.
inline std::string ItemText(const ItemEntry& item, double value, bool unit = true) {
  if (item.kind == ItemKind::Select) {
    const double option = std::clamp(std::round(value), 0.0, static_cast<double>(item.options.size() - 1));
    return item.options[static_cast<size_t>(option)].english;
  }
  char text[64];
  const char* symbol = unit ? UnitSymbol(item.unit) : "";
  std::snprintf(text, sizeof text, "%.*f%s%s", StepDecimals(item), value, *symbol ? " " : "", symbol);
  return text;
}

// What users typed: an option's English or Japanese text, or a number (its
// unit after it allowed). False for anything else.
inline bool ParseItemText(const ItemEntry& item, std::string_view text, double* value) {
  if (item.kind == ItemKind::Select)
    for (size_t o = 0; o < item.options.size(); ++o)
      if (text == item.options[o].english || text == DecodeUtf16(item.options[o].label).value_or(""))
        return *value = static_cast<double>(o), true;
  const std::string copy(text);
  char* end = nullptr;
  const double number = std::strtod(copy.c_str(), &end);
  if (end == copy.c_str() || !std::isfinite(number)) return false;
  while (*end == ' ') ++end;
  const std::string_view unit = UnitSymbol(item.unit);
  if (*end != '\0' && (unit.empty() || std::string_view(end) != unit)) return false;
  *value = number;
  return true;
}

}  // namespace velmor
