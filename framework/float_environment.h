// Flush-to-zero and denormals-are-zero for the duration of one callback.
//
// Decaying filter tails and echoes would otherwise reach subnormal numbers,
// which cost the processor many times the work of normal ones. The caller's
// control and status word is restored on every way out, so the host's own
// arithmetic never sees a change.
#pragma once

#include "framework/platform.h"

#if VELMOR_X86
#include <xmmintrin.h>
#define VELMOR_HAS_MXCSR 1
#endif

namespace velmor {

class FlushDenormalsScope {
 public:
#if VELMOR_HAS_MXCSR
  static constexpr unsigned kFlushToZero = 0x8000u;
  static constexpr unsigned kDenormalsAreZero = 0x0040u;

  FlushDenormalsScope() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
  ~FlushDenormalsScope() { _mm_setcsr(saved_); }

 private:
  unsigned saved_;
#else
  FlushDenormalsScope() = default;
#endif
 public:
  FlushDenormalsScope(const FlushDenormalsScope&) = delete;
  FlushDenormalsScope& operator=(const FlushDenormalsScope&) = delete;
};

}  // namespace velmor
