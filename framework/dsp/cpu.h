// The vector instructions of the processor the library runs on, found once
// when it is loaded. Kernels that have wider versions choose by it; every
// version computes the same values, since none contracts a multiply-add or
// reorders an operation.
#pragma once

namespace velmor {

enum class VectorLevel { kSse2, kAvx, kAvx2, kAvx512 };

inline VectorLevel DetectVectorLevel() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return VectorLevel::kAvx512;
  if (__builtin_cpu_supports("avx2")) return VectorLevel::kAvx2;
  if (__builtin_cpu_supports("avx")) return VectorLevel::kAvx;
#endif
  return VectorLevel::kSse2;
}

inline const VectorLevel gVectorLevel = DetectVectorLevel();

}  // namespace velmor
