// What an AviUtl2 plug-in keeps between calls: the state of every timeline
// object it has seen, keyed by the object's 64-bit id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <new>

#include "framework/effect_handler.h"
#include "framework/object_state.h"

namespace velmor::aviutl2 {

// One timeline object: its effect state and the frame of its latest block.
struct ObjectEntry {
  OwnedState state;
  int32_t lastFrame = 0;
};

// Ordered map from object id to the object's entry. Entries are created on an
// object's first block and never erased while the library is loaded.
using ObjectStateMap = std::map<int64_t, ObjectEntry>;

// The entry of `id`; a new object gets the effect's initial state and its
// first frame recorded. Throws std::bad_alloc, leaving the map as it was.
inline ObjectEntry& FindOrCreateObject(ObjectStateMap& objects, const EffectHandler& effect, int64_t id,
                                       int32_t frame) {
  auto found = objects.find(id);
  if (found != objects.end()) return found->second;
  OwnedState state(effect);
  return objects.emplace_hint(found, id, ObjectEntry{std::move(state), frame})->second;
}

// Erases every object, as unloading and loading the library would. Only
// tools that link the binding in (the fuzz targets) can call it: the
// library exports nothing but its three entry points.
void ForgetAllObjects();

}  // namespace velmor::aviutl2
