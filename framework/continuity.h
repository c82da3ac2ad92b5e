// The block frame's continuity rule, the same for every binding: a block
// that neither repeats nor follows the object's previous block means the
// playback position jumped.
#pragma once

#include <cstdint>

#include "framework/effect_handler.h"

namespace velmor {

// 32-bit difference of two frame numbers, wrapping as the host's counter does.
inline int32_t FrameDistance(int32_t frame, int32_t previous) {
  return static_cast<int32_t>(static_cast<uint32_t>(frame) - static_cast<uint32_t>(previous));
}

// Before a block: an effect that clears on jumps empties its lines after a
// jump; the frame is then recorded. Audio thread; real-time.
inline void ContinueObject(const EffectHandler& handler, void* state, int32_t& lastFrame, int32_t frame) {
  if (handler.clearsOnJump) {
    const int32_t d = FrameDistance(frame, lastFrame);
    if (d < 0 || d > 1) handler.clearLines(state);
  }
  lastFrame = frame;
}

}  // namespace velmor
