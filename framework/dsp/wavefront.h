// A chain of stages run as a skewed pipeline (a wavefront): stage k works on
// sample t - skew * k at step t, so the stages of one step depend only on what
// earlier steps made and run side by side in vector lanes. Each stage still
// takes its samples in order, so every output is that of the stage-by-stage
// chain bit for bit.
//
// A block of n samples takes n + lag steps (lag = skew * (stages - 1)): the
// first lag + 1 and the last lag have idle stages (filling and draining the
// pipeline); in between, every stage is busy.
#pragma once

#include <algorithm>
#include <cstdint>

#include "framework/dsp/cpu.h"
#include "framework/dsp/stereo_lanes.h"
#include "framework/platform.h"

namespace velmor {

// The steps of a block: step.template operator()<kAllBusy>(t) for t = 0 to
// n + kLag - 1, with kAllBusy true where no stage is idle.
template <int32_t kLag, class Step>
VELMOR_LANES void RunWavefront(int32_t n, Step&& step) {
  int32_t t = 0;
  for (; t < std::min(kLag + 1, n); ++t) step.template operator()<false>(t);
  for (; t < n; ++t) step.template operator()<true>(t);
  for (; t < n + kLag; ++t) step.template operator()<false>(t);
}

// The stages busy at step t of a block of n samples, for the four lanes that
// hold stages firstStage to firstStage + 3.
inline LaneFlags WavefrontBusy(int32_t t, int32_t n, int32_t firstStage, int32_t skew) {
  auto busy = [&](int32_t k) { return t - skew * k >= 0 && t - skew * k < n; };
  return {{busy(firstStage), busy(firstStage + 1), busy(firstStage + 2), busy(firstStage + 3)}};
}

namespace wavefront_detail {

#if VELMOR_X86
template <class Kernel>
__attribute__((target("avx"))) void RunStereo8(Kernel& kernel, float* ch0, float* ch1, int32_t n) {
  kernel.template RunLanes<Stereo8>(ch0, ch1, n);
}
#endif

}  // namespace wavefront_detail

// kernel.template RunLanes<V>(ch0, ch1, n) with the widest stereo lanes this
// processor has: Stereo8 (compiled for AVX) where it has AVX, Stereo4
// elsewhere. RunLanes must be VELMOR_LANES, so that it is compiled inside the
// function of its instruction set.
template <class Kernel>
inline void RunWithWidestLanes(Kernel& kernel, float* ch0, float* ch1, int32_t n) {
#if VELMOR_X86
  if (gVectorLevel != VectorLevel::k16) return wavefront_detail::RunStereo8(kernel, ch0, ch1, n);
#endif
  kernel.template RunLanes<Stereo4>(ch0, ch1, n);
}

}  // namespace velmor
