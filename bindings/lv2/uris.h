// What hosts and saved sessions know an LV2 plug-in by: its URI and its
// version. Shared by the library and the generator of its Turtle files.
#pragma once

#include <string>

#include "framework/effect.h"

namespace velmor::lv2 {

// Stable from the first release on: hosts and saved sessions refer to it.
inline constexpr const char* kUriPrefix = "urn:velmor:";

inline std::string PluginUri(const EffectInfo& info) { return std::string(kUriPrefix) + info.slug; }

// The plug-ins' version, raised by every change a saved session survives (a
// release has an even minor version). Apart from the effects' own version,
// which their information lines show.
inline constexpr int kMinorVersion = 2;
inline constexpr int kMicroVersion = 0;

}  // namespace velmor::lv2
