// What the test plug-ins share: a callback that reads both channels and writes
// them back unchanged, as a well-behaved plug-in calls the host.
#pragma once

#include <vector>

#include "bindings/aviutl2/descriptor.h"

namespace velmor::aviutl2 {

inline bool PassThrough(const AudioProcContext* audio) {
  std::vector<float> left(static_cast<size_t>(audio->object->sample_count));
  std::vector<float> right(left.size());
  audio->read_samples(left.data(), 0);
  audio->read_samples(right.data(), 1);
  audio->write_samples(left.data(), 0);
  audio->write_samples(right.data(), 1);
  return true;
}

}  // namespace velmor::aviutl2
