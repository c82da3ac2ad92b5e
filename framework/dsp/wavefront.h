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
#include <utility>

#include "framework/cpu.h"
#include "framework/dsp/stereo_lanes.h"
#include "framework/platform.h"

namespace velmor {

// Where a step lies in its block, as far as the compiler can know it. A
// step's code asks WavefrontBusy which stages take a sample; in the phases
// below the answer is a constant, so that filling and draining the pipeline
// cost about what a busy step costs.
struct AnyStep {  // anywhere: the answer is worked out at run time
  static constexpr bool kAllBusy = false, kKnown = false;
};
struct BusyStep {  // every stage busy
  static constexpr bool kAllBusy = true, kKnown = true;
  static constexpr bool Busy(int32_t) { return true; }
};
template <int32_t kT>
struct FillStep {  // step kT of a block longer than the lag: stages whose sample is not yet reached idle
  static constexpr bool kAllBusy = false, kKnown = true;
  static constexpr bool Busy(int32_t sampleFromStep) { return kT + sampleFromStep >= 0; }
};
template <int32_t kD>
struct DrainStep {  // step n + kD of a block longer than the lag: stages that have taken every sample idle
  static constexpr bool kAllBusy = false, kKnown = true;
  static constexpr bool Busy(int32_t sampleFromStep) { return kD + sampleFromStep < 0; }
};

// The steps of a block: step.template operator()<Phase>(t) for t = 0 to
// n + kLag - 1, Phase one of the step types above, except that the steps
// where every stage is busy, t = kLag + 1 to n - 1, are left to
// busySteps(kLag + 1, n) in one call.
template <int32_t kLag, class Step, class BusySteps>
VELMOR_LANES void RunWavefront(int32_t n, Step&& step, BusySteps&& busySteps) {
  if (n <= kLag) {
    for (int32_t t = 0; t < n + kLag; ++t) step.template operator()<AnyStep>(t);
    return;
  }
  [&]<int32_t... kT>(std::integer_sequence<int32_t, kT...>) VELMOR_LANES_LAMBDA {
    (step.template operator()<FillStep<kT>>(kT), ...);
  }(std::make_integer_sequence<int32_t, kLag + 1>{});
  busySteps(kLag + 1, n);
  [&]<int32_t... kD>(std::integer_sequence<int32_t, kD...>) VELMOR_LANES_LAMBDA {
    (step.template operator()<DrainStep<kD>>(n + kD), ...);
  }(std::make_integer_sequence<int32_t, kLag>{});
}

// The same with every step, the busy ones too, taken by step.
template <int32_t kLag, class Step>
VELMOR_LANES void RunWavefront(int32_t n, Step&& step) {
  RunWavefront<kLag>(n, step, [&](int32_t first, int32_t end) VELMOR_LANES_LAMBDA {
    for (int32_t t = first; t < end; ++t) step.template operator()<BusyStep>(t);
  });
}

// The stages busy at step t of a block of n samples, for the four lanes that
// work on samples t - kOffset0 to t - kOffset3: those whose sample is one of
// the block's. A constant where Phase (the phase of step t) tells; otherwise
// a few vector operations, no branch.
template <class V, class Phase, int32_t kOffset0, int32_t kOffset1, int32_t kOffset2, int32_t kOffset3>
VELMOR_LANES typename Lanes<V>::Mask WavefrontBusyAt(int32_t t, int32_t n) {
  if constexpr (Phase::kKnown)
    return Lanes<V>::MaskOf(Phase::Busy(-kOffset0), Phase::Busy(-kOffset1), Phase::Busy(-kOffset2),
                            Phase::Busy(-kOffset3));
  else
    return Lanes<V>::Counting(t, kOffset0, kOffset1, kOffset2, kOffset3, n);
}

// The same for stages kSkew apart, of a step kBack before step t: the lanes
// hold stages kFirstStage to kFirstStage + 3.
template <class V, class Phase, int32_t kFirstStage, int32_t kSkew, int32_t kBack = 0>
VELMOR_LANES typename Lanes<V>::Mask WavefrontBusy(int32_t t, int32_t n) {
  constexpr int32_t kFirst = kBack + kSkew * kFirstStage;
  return WavefrontBusyAt<V, Phase, kFirst, kFirst + kSkew, kFirst + 2 * kSkew, kFirst + 3 * kSkew>(t, n);
}

namespace wavefront_detail {

// Each width in a function of its own, so that the choice between them
// costs a block no more than a call (the function holding a kernel's steps
// saves and sets up a good many registers).
template <class Kernel>
[[gnu::noinline]] void RunStereo4(Kernel& kernel, const float* in0, const float* in1, float* out0, float* out1,
                                  int32_t n) {
  kernel.template RunLanes<Stereo4>(in0, in1, out0, out1, n);
}

#if VELMOR_X86
template <class Kernel>
__attribute__((target("avx"))) void RunStereo8(Kernel& kernel, const float* in0, const float* in1, float* out0,
                                               float* out1, int32_t n) {
  kernel.template RunLanes<Stereo8>(in0, in1, out0, out1, n);
}
#endif

}  // namespace wavefront_detail

// kernel.template RunLanes<V>(in0, in1, out0, out1, n) with the widest
// stereo lanes this processor has: Stereo8 (compiled for AVX) where it has
// AVX, Stereo4 elsewhere. RunLanes reads sample t of the inputs at step t
// and writes output t - lag after it, so an output may be its input's own
// buffer. RunLanes must be VELMOR_LANES, so that it is compiled inside the
// function of its instruction set. An empty block does nothing. A block runs
// in pieces of at most 2^28 samples, so that its steps (n + lag of them)
// count within int32: the stages take their samples in order across pieces
// as across blocks, so the output is the same.
template <class Kernel>
inline void RunWithWidestLanes(Kernel& kernel, const float* in0, const float* in1, float* out0, float* out1,
                               int32_t n) {
  constexpr int32_t kPiece = int32_t{1} << 28;
  for (int32_t start = 0, m; start < n; start += m) {
    m = std::min(kPiece, n - start);
#if VELMOR_X86
    if (gVectorLevel != VectorLevel::k16) {
      wavefront_detail::RunStereo8(kernel, in0 + start, in1 + start, out0 + start, out1 + start, m);
      continue;
    }
#endif
    wavefront_detail::RunStereo4(kernel, in0 + start, in1 + start, out0 + start, out1 + start, m);
  }
}

}  // namespace velmor
