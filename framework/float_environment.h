// Flush-to-zero (and, on x86, denormals-are-zero) for the duration of one
// callback.
//
// Decaying filter tails and echoes would otherwise reach subnormal numbers,
// which cost the processor many times the work of normal ones. Both
// processor families flush in the same scope, so that a tail ends in the same
// samples on both. The caller's control register is restored on every way
// out, so the host's own arithmetic never sees a change.
#pragma once

#include "framework/platform.h"

#if VELMOR_X86
#include <xmmintrin.h>
#endif

#include <cstdint>

namespace velmor {

// The floating-point control register as it stands, for the checks that the
// caller's is restored: MXCSR on x86 (whose status flags, kFloatStatusBits,
// any arithmetic may set), FPCR on 64-bit ARM (its status is in FPSR apart);
// 0 elsewhere.
inline uint32_t FloatControlWord() {
#if VELMOR_X86
  return _mm_getcsr();
#elif VELMOR_ARM64
  return static_cast<uint32_t>(__builtin_aarch64_get_fpcr64());
#else
  return 0;
#endif
}
inline constexpr uint32_t kFloatStatusBits = VELMOR_X86 ? 0x3Fu : 0u;

class FlushDenormalsScope {
 public:
#if VELMOR_X86
  // MXCSR: results that are subnormal become zero (FTZ), and so do subnormal
  // operands (DAZ).
  static constexpr unsigned kFlushToZero = 0x8000u;
  static constexpr unsigned kDenormalsAreZero = 0x0040u;

  // A write that changes the register's mode costs far more than reading
  // it (on some processors it waits for every float operation in flight),
  // so a caller that flushes already, as many DAWs' audio threads do, pays
  // for no write.
  FlushDenormalsScope() : saved_(_mm_getcsr()) {
    if ((saved_ & kBoth) != kBoth) _mm_setcsr(saved_ | kBoth);
  }
  ~FlushDenormalsScope() {
    if ((saved_ & kBoth) != kBoth) _mm_setcsr(saved_);
  }

 private:
  static constexpr unsigned kBoth = kFlushToZero | kDenormalsAreZero;
  unsigned saved_;
#elif VELMOR_ARM64
  // FPCR.FZ: subnormal operands and results become zero, single and double.
  static constexpr uint64_t kFlushToZero = uint64_t{1} << 24;

  FlushDenormalsScope() : saved_(__builtin_aarch64_get_fpcr64()) {
    if (!(saved_ & kFlushToZero)) __builtin_aarch64_set_fpcr64(saved_ | kFlushToZero);
  }
  ~FlushDenormalsScope() {
    if (!(saved_ & kFlushToZero)) __builtin_aarch64_set_fpcr64(saved_);
  }

 private:
  uint64_t saved_;
#else
  FlushDenormalsScope() = default;
#endif
 public:
  FlushDenormalsScope(const FlushDenormalsScope&) = delete;
  FlushDenormalsScope& operator=(const FlushDenormalsScope&) = delete;
};

}  // namespace velmor
