// The AviUtl2 descriptor: the table GetFilterPluginTable returns and the
// pieces every AviUtl2 plug-in shares.
#pragma once

#include "bindings/aviutl2/host_abi.h"

namespace velmor::aviutl2 {

inline constexpr const char16_t* kTrackType = u"track";
inline constexpr const char16_t* kSelectType = u"select";
inline constexpr const char16_t* kPluginLabel = u"Velmor";

// The video callback of every plug-in: audio-only filters touch nothing.
inline bool ProcessVideo(void*) { return true; }

// The descriptor of the plug-in built from this library, static data that
// lives at a fixed address until the library is unloaded.
extern FilterPluginTable gPluginTable;

}  // namespace velmor::aviutl2
