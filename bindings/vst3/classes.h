// Every effect's two VST 3 classes: their ids, made from the effect's slug,
// which never changes (hosts and saved sessions refer to them): "Velm"
// "orFx" or "orCt" (component or controller), then two FNV-1a hashes of the
// slug; and the component's subcategory.
#pragma once

#include <cstdint>
#include <string_view>

#include "bindings/vst3/vst3_abi.h"
#include "framework/effect.h"

namespace velmor::vst3 {

constexpr uint32_t Fnv1a(std::string_view text, uint32_t hash = 2166136261u) {
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

// A class id's four words, as moduleinfo.json writes them.
struct ClassWords {
  uint32_t w[4];
};

constexpr ClassWords ComponentWords(std::string_view slug) {
  return {{0x56656C6D, 0x6F724678, Fnv1a(slug), Fnv1a(slug, Fnv1a("velmor.vst3"))}};
}
constexpr ClassWords ControllerWords(std::string_view slug) {
  return {{0x56656C6D, 0x6F724374, Fnv1a(slug), Fnv1a(slug, Fnv1a("velmor.vst3"))}};
}

constexpr Uid ComponentClassId(std::string_view slug) {
  const ClassWords c = ComponentWords(slug);
  return MakeUid(c.w[0], c.w[1], c.w[2], c.w[3]);
}
constexpr Uid ControllerClassId(std::string_view slug) {
  const ClassWords c = ControllerWords(slug);
  return MakeUid(c.w[0], c.w[1], c.w[2], c.w[3]);
}

// The subcategory of an effect's kind, its parts between '|'.
constexpr const char* Subcategory(Category category) {
  switch (category) {
    case Category::kEqualizer: return "Fx|EQ";
    case Category::kDistortion: return "Fx|Distortion";
    case Category::kDelay: return "Fx|Delay";
    case Category::kPitchShifter: return "Fx|Pitch Shift";
    case Category::kFilter: return "Fx|Filter";
    case Category::kModulator:
    case Category::kTremolo: break;
  }
  return "Fx|Modulation";
}

}  // namespace velmor::vst3
