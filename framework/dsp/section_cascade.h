// Eight second-order sections in series on both channels, both channels'
// section k with the same design: a graphic equalizer's bands. The sections
// run as a wavefront, each two samples behind the one before it: at step t
// section k works on sample t - 2k. Its input, the previous section's output
// for that sample, was made two steps earlier (that section's y2, or its y1
// once it has run out of samples), so no step waits on the step before, and
// the eight sections of a step run four to a vector.
//
// The sections are kept in the layout of the widest lanes the processor
// has, chosen once when the library is loaded: sections 0-3 and 4-7 in two
// eight-lane banks (a lane per section and channel), or by pairs in
// sixteen-byte vectors, section j and j + 4 of both channels in pairs[j]. A
// process runs one vector level only, so only that layout's history is ever
// used; designs go into both.
#pragma once

#include <cstdint>
#include <type_traits>

#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"
#include "framework/dsp/wavefront.h"
#include "framework/non_finite.h"

namespace velmor {

class EightSectionCascade {
 public:
  static constexpr int kSections = 8;

  // Identity sections with no history until designed.
  EightSectionCascade() = default;

  // Both channels' section k (0 first in the chain) take `design`'s
  // coefficients; their histories carry on.
  void SetDesign(int k, const BiquadSection& design) {
    (k < 4 ? low : high).SetDesign(k % 4, design);
    pairs[k % 4].SetDesign(k < 4 ? 0 : 2, 2, design);
  }

  void ClearHistory() {
    low.ClearHistory();
    high.ClearHistory();
    for (auto& pair : pairs) pair.ClearHistory();
  }

  // n samples of both channels through the eight sections, from the inputs
  // into the outputs (the same buffers or apart). Returns whether an output
  // was not finite. The last section's output feeds back into each later one
  // through its y1 term (a1 times an infinity or a NaN is one or the other,
  // and no sum with one is finite), so once an output is not finite neither
  // is any after it: the block's last output tells, without reading the
  // block back.
  bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
    RunWithWidestLanes(*this, in0, in1, out0, out1, n);
    return LastNotFinite(out0, out1, n);
  }

  // What Run hands the wavefront driver (wavefront.h): the block in lanes
  // of type V.
  template <class V>
  VELMOR_LANES void RunLanes(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
    if constexpr (std::is_same_v<V, Stereo4>) {
      RunPairs(in0, in1, out0, out1, n);
    } else {
      // Locals, which no store to the outputs can reach: they stay in
      // registers through the block.
      BiquadLanes<V> lows(low), highs(high);
      RunWavefront<kLag>(n, [&]<class Phase>(int32_t t) VELMOR_LANES_LAMBDA {
        const float x0 = t < n ? in0[t] : 0.0f, x1 = t < n ? in1[t] : 0.0f;
        if constexpr (Phase::kAllBusy) {
          const V lowIn = ShiftIn(x0, x1, lows.y2);
          const V highIn = ShiftInLast(lows.y2, highs.y2);
          lows.Process(lowIn);
          highs.Process(highIn);
        } else {
          // A band that took no sample at the last step still holds the
          // output wanted now in y1.
          const V lowMade = Select(WavefrontBusy<V, Phase, 0, kSkew, 1>(t, n), lows.y2, lows.y1);
          const V highMade = Select(WavefrontBusy<V, Phase, 4, kSkew, 1>(t, n), highs.y2, highs.y1);
          lows.Process(ShiftIn(x0, x1, lowMade), WavefrontBusy<V, Phase, 0, kSkew>(t, n));
          highs.Process(ShiftInLast(lowMade, highMade), WavefrontBusy<V, Phase, 4, kSkew>(t, n));
        }
        if (t >= kLag) {
          const LanePair y = Lanes<V>::template LaneOfEach<3>(highs.y1);
          out0[t - kLag] = y.ch0;
          out1[t - kLag] = y.ch1;
        }
      });
      lows.Store();
      highs.Store();
    }
  }

  // The same wavefront in sixteen-byte vectors (SSE2, NEON), by band
  // pairs: the input of pair j is what pair j - 1 made two steps earlier,
  // whole, so only pair 0's input is put together (the new samples and
  // band 3's output), and a step takes four shuffles rather than the ten
  // that four bands of a channel to a vector take.
  VELMOR_LANES void RunPairs(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
    BiquadQuad p0(pairs[0]), p1(pairs[1]), p2(pairs[2]), p3(pairs[3]);
    const auto edgeStep = [&]<class Phase>(int32_t t) VELMOR_LANES_LAMBDA {
      const float x0 = t < n ? in0[t] : 0.0f, x1 = t < n ? in1[t] : 0.0f;
      // A band that took no sample at the last step still holds the
      // output wanted now in y1.
      const Vec4 made0 = Select(PairBusy<Phase, 0, 1>(t, n), p0.y2, p0.y1);
      const Vec4 made1 = Select(PairBusy<Phase, 1, 1>(t, n), p1.y2, p1.y1);
      const Vec4 made2 = Select(PairBusy<Phase, 2, 1>(t, n), p2.y2, p2.y1);
      const Vec4 made3 = Select(PairBusy<Phase, 3, 1>(t, n), p3.y2, p3.y1);
      ProcessPair(p0, PairThenLow(x0, x1, made3), PairBusy<Phase, 0>(t, n));
      ProcessPair(p1, made0, PairBusy<Phase, 1>(t, n));
      ProcessPair(p2, made1, PairBusy<Phase, 2>(t, n));
      ProcessPair(p3, made2, PairBusy<Phase, 3>(t, n));
      if (t >= kLag) {
        out0[t - kLag] = Lane<2>(p3.y1);
        out1[t - kLag] = Lane<3>(p3.y1);
      }
    };
    RunWavefront<kLag>(n, edgeStep, [&](int32_t first, int32_t end) VELMOR_LANES_LAMBDA {
      p0.Store(), p1.Store(), p2.Store(), p3.Store();
      RunBusyPairs(pairs, in0, in1, out0, out1, first, end);
      p0.Load(), p1.Load(), p2.Load(), p3.Load();
    });
    p0.Store(), p1.Store(), p2.Store(), p3.Store();
  }

  // The steps where every band is busy, a function of their own: the
  // compiler then gives the history of the four pairs (twelve of the
  // sixteen SSE registers) registers for the whole loop, where inside
  // RunPairs it spilled some of it.
  [[gnu::noinline]] static void RunBusyPairs(BiquadQuadBank (&pairs)[4], const float* in0, const float* in1,
                                             float* out0, float* out1, int32_t first, int32_t end) {
    BiquadQuad p0(pairs[0]), p1(pairs[1]), p2(pairs[2]), p3(pairs[3]);
    for (int32_t t = first; t < end; ++t) {
      const Vec4 made0 = p0.y2, made1 = p1.y2, made2 = p2.y2;
      p0.Process(PairThenLow(in0[t], in1[t], p3.y2));
      p1.Process(made0);
      p2.Process(made1);
      p3.Process(made2);
      out0[t - kLag] = Lane<2>(p3.y1);
      out1[t - kLag] = Lane<3>(p3.y1);
    }
    p0.Store(), p1.Store(), p2.Store(), p3.Store();
  }

  // The lanes of pair j busy at step t - kBack: bands j and j + 4. Where
  // the phase tells, a HalvesMask, so that a pair with no busy band costs
  // nothing and one with a band busy costs one instruction a select: a short
  // block spends a large share of its steps filling and draining.
  template <class Phase, int j, int32_t kBack = 0>
  VELMOR_LANES static auto PairBusy(int32_t t, int32_t n) {
    constexpr int32_t kLow = kBack + kSkew * j, kHigh = kLow + kSkew * 4;
    if constexpr (Phase::kKnown)
      return HalvesMask<Phase::Busy(-kLow), Phase::Busy(-kHigh)>{};
    else
      return WavefrontBusyAt<Stereo4, Phase, kLow, kLow, kHigh, kHigh>(t, n).m;
  }
  // A pair's step as its mask tells: none (no band busy), the busy step
  // (both), or the masked one.
  template <class Mask>
  VELMOR_LANES static void ProcessPair(BiquadQuad& pair, Vec4 in, Mask busy) {
    if constexpr (std::is_same_v<Mask, Mask4>)
      pair.Process(in, busy);
    else if constexpr (Mask::kAll)
      pair.Process(in);
    else if constexpr (!Mask::kNone)
      pair.Process(in, busy);
  }

 private:
  static constexpr int32_t kSkew = 2, kLag = kSkew * (kSections - 1);

  BiquadLaneBank low, high;
  BiquadQuadBank pairs[4];
};

}  // namespace velmor
