// The vector instructions of the processor the library runs on, found once
// when it is loaded. The base level, k16, is the 16-byte vectors every
// processor of ours has: SSE2 on x86-64, NEON on 64-bit ARM; x86-64
// processors may add AVX, AVX2 and AVX-512. Kernels that have wider versions choose by it; every
// version computes the same values, since none contracts a multiply-add or
// reorders an operation.
//
// The environment variable VELMOR_VECTOR_LEVEL (sse2 or neon, avx, avx2 or avx512),
// read at load, can lower the level, never raise it: the tests run every
// version on one machine with it, and a user can rule the wider ones out.
#pragma once

#include "framework/platform.h"

#include <cstdlib>
#include <cstring>

namespace velmor {

enum class VectorLevel { k16, kAvx, kAvx2, kAvx512 };

inline VectorLevel DetectVectorLevel() {
  VectorLevel level = VectorLevel::k16;
#if VELMOR_X86
  __builtin_cpu_init();
  const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  const bool avx2 = __builtin_cpu_supports("avx2"), avx = __builtin_cpu_supports("avx");
  level = avx512 ? VectorLevel::kAvx512 : avx2 ? VectorLevel::kAvx2 : avx ? VectorLevel::kAvx : VectorLevel::k16;
#endif
  if (const char* cap = std::getenv("VELMOR_VECTOR_LEVEL")) {
    // "neon" names the base level too, for runs on ARM.
    const char* const names[] = {"sse2", "avx", "avx2", "avx512", "neon"};
    for (int i = 0; i < 5; ++i)
      if (std::strcmp(cap, names[i]) == 0 && i % 4 < static_cast<int>(level)) level = static_cast<VectorLevel>(i % 4);
  }
  return level;
}

inline const VectorLevel gVectorLevel = DetectVectorLevel();

}  // namespace velmor
