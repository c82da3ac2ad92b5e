// Parameter items and the descriptor pieces every plug-in shares.
#pragma once

#include <cmath>
#include <cstdint>

#include "framework/host_abi.h"
#include "framework/version.h"

namespace velmor {

inline constexpr const char16_t* kTrackType = u"track";
inline constexpr const char16_t* kSelectType = u"select";
inline constexpr const char16_t* kPluginLabel = u"Velmor";

// A slider together with the default it started from. The host sees only
// `item`; the default stands in for any value that is not a finite number.
struct Track {
  TrackItem item;
  double defaultValue;
};

constexpr Track MakeTrack(const char16_t* label, double defaultValue, double min, double max,
                          double step) {
  return Track{TrackItem{kTrackType, label, defaultValue, min, max, step}, defaultValue};
}

constexpr SelectItem MakeSelect(const char16_t* label, int32_t defaultValue,
                                const SelectOption* options) {
  return SelectItem{kSelectType, label, defaultValue, options};
}

// The slider's current value as a double; NaN and infinities read as the default.
inline double ReadTrackDouble(const Track& track) {
  const double v = track.item.value;
  return std::isfinite(v) ? v : track.defaultValue;
}

// The slider's current value rounded at once to single precision.
inline float ReadTrack(const Track& track) { return static_cast<float>(ReadTrackDouble(track)); }

// The select item's current option value, used as it is.
inline int32_t ReadSelect(const SelectItem& item) { return item.value; }

// The video callback of every plug-in: audio-only filters touch nothing.
inline bool ProcessVideo(void*) { return true; }

constexpr FilterPluginTable MakeDescriptor(const char16_t* name, const char16_t* information,
                                           void* const* items, ProcessAudioFunction audio) {
  return FilterPluginTable{kAudioFilterFlag, name, kPluginLabel, information, items,
                           &ProcessVideo, audio};
}

// The descriptor of the plug-in built from this library; each effect defines it.
extern FilterPluginTable gPluginTable;

}  // namespace velmor
