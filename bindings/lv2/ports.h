// How the LV2 binding lays out a plug-in's ports. Shared by the library and
// the generator of its Turtle files, so the two agree.
#pragma once

#include <cstdint>

#include "framework/effect_handler.h"

namespace velmor::lv2 {

// Ports 0 to 3 are the audio ports, in this order; port 4 + k is the
// control input of item k; after the items comes the bypass switch
// ("enabled"), added in 0.2, so that sessions saved before keep their
// indices.
enum AudioPort : uint32_t { kInLeft, kInRight, kOutLeft, kOutRight, kAudioPorts };

struct AudioPortInfo {
  const char* symbol;
  const char* name;
  bool input;
};

inline constexpr AudioPortInfo kAudioPortInfo[kAudioPorts] = {
    {"in_l", "In L", true}, {"in_r", "In R", true}, {"out_l", "Out L", false}, {"out_r", "Out R", false}};

inline constexpr uint32_t ControlPort(size_t item) { return kAudioPorts + static_cast<uint32_t>(item); }
inline uint32_t EnabledPort(const EffectInfo& info) { return ControlPort(info.items.size()); }

}  // namespace velmor::lv2
