// Per-object state, kept process-wide and keyed by the host's 64-bit object id.
#pragma once

#include <cstdint>
#include <map>

namespace velmor {

// Ordered map from object id to one state record held by value in the entry.
// Entries are created on an object's first block and never erased.
template <class State>
using ObjectStateMap = std::map<int64_t, State>;

// Ordered map from object id to the frame number of its most recent block.
using LastFrameMap = std::map<int64_t, int32_t>;

// Find-or-create: the entry of `id`, inserting the state's initial value first.
template <class State>
State& FindOrCreate(ObjectStateMap<State>& map, int64_t id) {
  return map.try_emplace(id).first->second;
}

template <class State>
bool Contains(const ObjectStateMap<State>& map, int64_t id) {
  return map.find(id) != map.end();
}

// Stores the initial state under `id`, replacing whatever the entry held.
template <class State>
State& Reset(ObjectStateMap<State>& map, int64_t id) {
  State& state = FindOrCreate(map, id);
  state = State{};
  return state;
}

}  // namespace velmor
