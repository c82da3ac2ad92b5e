// Up to four BiquadSections of each channel updated side by side, one per
// lane: the stages of a chain run as a wavefront (wavefront.h). V is a stereo
// lane type (stereo_lanes.h). Each lane gives ProcessBiquadSample's results
// bit for bit: the quotients formed once, the five products summed from left
// to right.
#pragma once

#include <algorithm>
#include <array>
#include <iterator>
#include <type_traits>

#include "framework/dsp/biquad.h"
#include "framework/dsp/stereo_lanes.h"

namespace velmor {

// The five quotients of a design, q0 to q4, in the order the banks keep them.
inline std::array<float, 5> QuotientsOf(const BiquadSection& design) {
  const BiquadRunner r(design);
  return {r.q0, r.q1, r.q2, r.q3, r.q4};
}

// Four sections of each channel between blocks, kept in the order the lanes
// take them: their quotients, formed when a design changes rather than at
// every block, and their history. A lane no design is set for passes its
// input. Aligned, so that SSE takes the quotients straight from memory as
// operands of its products.
struct BiquadLaneBank {
  alignas(32) float q[5][2][4] = {{{1.0f, 1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}}};  // q0 to q4 of each lane
  alignas(32) float history[4][2][4] = {};                                               // x1, x2, y1, y2

  // Lane `lane` of both channels runs this design from the next block on.
  void SetDesign(int lane, const BiquadSection& design) {
    const auto quotients = QuotientsOf(design);
    for (int k = 0; k < 5; ++k) q[k][0][lane] = q[k][1][lane] = quotients[k];
  }
  void ClearHistory() {
    for (auto& value : history)
      for (auto& channel : value) std::fill(std::begin(channel), std::end(channel), 0.0f);
  }
};

// q0 in + q1 x1 + q2 x2 - q3 y1 - q4 y2, summed from the left, in every lane.
template <class W>
VELMOR_LANES W SectionSum(W q0, W q1, W q2, W q3, W q4, W in, W x1, W x2, W y1, W y2) {
  return q0 * in + q1 * x1 + q2 * x2 - q3 * y1 - q4 * y2;
}

// Four sections side by side, one to a lane of a Vec4, between blocks: the
// quotients and the history of each lane, set and cleared as in
// BiquadLaneBank.
struct BiquadQuadBank {
  alignas(16) float q[5][4] = {{1.0f, 1.0f, 1.0f, 1.0f}};  // q0 to q4 of each lane
  alignas(16) float history[4][4] = {};                    // x1, x2, y1, y2

  // Lanes `first` to `first + count - 1` run this design from the next block on.
  void SetDesign(int first, int count, const BiquadSection& design) {
    const auto quotients = QuotientsOf(design);
    for (int k = 0; k < 5; ++k) std::fill_n(q[k] + first, count, quotients[k]);
  }
  void ClearHistory() {
    for (auto& value : history) std::fill(std::begin(value), std::end(value), 0.0f);
  }
};

// The sections of a BiquadQuadBank through a block, for kernels that keep
// several of them at once in sixteen-byte registers (sixteen of them on x86).
// x1, y1 and y2 stay in registers; x2 stays in the bank, written back at
// every step: it feeds only its product, so its trip through memory delays
// no later step, whereas a y1 or y2 spilled in its place would delay every
// step. The quotients are memory operands of their products.
struct BiquadQuad {
  BiquadQuadBank& bank;
  Vec4 x1, y1, y2;

  VELMOR_LANES explicit BiquadQuad(BiquadQuadBank& in) : bank(in) { Load(); }

  // The history from the bank, and back.
  VELMOR_LANES void Load() {
    x1 = LoadAligned(bank.history[0]), y1 = LoadAligned(bank.history[2]), y2 = LoadAligned(bank.history[3]);
  }

  VELMOR_LANES Vec4 Output(Vec4 in, Vec4 x2) const {
    const auto q = [&](int k) { return LoadAligned(bank.q[k]); };
    return SectionSum(q(0), q(1), q(2), q(3), q(4), in, x1, x2, y1, y2);
  }
  VELMOR_LANES void Process(Vec4 in) {
    const Vec4 x2 = LoadAligned(bank.history[1]);
    StoreAligned(bank.history[1], x1);
    const Vec4 y = Output(in, x2);
    x1 = in, y2 = y1, y1 = y;
  }
  // Only the lanes in `active` (a Mask4 or a HalvesMask) take the sample;
  // the others keep their history.
  template <class Mask>
  VELMOR_LANES void Process(Vec4 in, Mask active) {
    const Vec4 x2 = LoadAligned(bank.history[1]);
    const Vec4 y = Output(in, x2);
    StoreAligned(bank.history[1], Select(active, x1, x2));
    x1 = Select(active, in, x1);
    y2 = Select(active, y1, y2);
    y1 = Select(active, y, y1);
  }
  VELMOR_LANES void Store() const {
    StoreAligned(bank.history[0], x1);
    StoreAligned(bank.history[2], y1);
    StoreAligned(bank.history[3], y2);
  }
};

// The quotients are read from the bank at every step (memory operands of
// the products), which leaves the registers to the history: a step needs
// more vectors than the processor has registers at every level below
// AVX-512.
template <class V>
struct BiquadLanes {
  BiquadLaneBank& bank;
  V x1, x2, y1, y2;
  V latest = Lanes<V>::Zero();  // the last step's outputs, of busy and idle lanes alike

  // Stereo4 is SSE2 on x86-64, with sixteen registers. There x2 stays in
  // the bank, written back at every step, as in BiquadQuad: the
  // distortion's step, with its drive and clipper beside the history,
  // spilled a y1 or y2 otherwise. And a step takes each channel whole
  // before the other (ProcessChannel).
  static constexpr bool kFewRegisters = std::is_same_v<V, Stereo4>;

  VELMOR_LANES explicit BiquadLanes(BiquadLaneBank& in)
      : bank(in), x1(Load(in.history[0])), x2(Load(in.history[1])), y1(Load(in.history[2])),
        y2(Load(in.history[3])) {}

  VELMOR_LANES V Output(V in) const {
    if constexpr (kFewRegisters) {
      const Vec4 c0 = ChannelOutput(0, in.c0, x1.c0, y1.c0, y2.c0);
      return {c0, ChannelOutput(1, in.c1, x1.c1, y1.c1, y2.c1)};
    } else {
      return SectionSum(Load(bank.q[0]), Load(bank.q[1]), Load(bank.q[2]), Load(bank.q[3]), Load(bank.q[4]), in, x1,
                        X2(), y1, y2);
    }
  }

  VELMOR_LANES void Process(V in) {
    if constexpr (kFewRegisters) {
      ProcessChannel<0>(in.c0);
      ProcessChannel<1>(in.c1);
    } else {
      const V y = Output(in);
      x2 = x1, x1 = in, y2 = y1, y1 = y, latest = y;
    }
  }

  // Only the lanes in `active` take the sample; the others keep their history.
  VELMOR_LANES void Process(V in, typename Lanes<V>::Mask active) {
    const V y = Output(in);
    latest = y;
    SetX2(Select(active, x1, X2()));
    x1 = Select(active, in, x1);
    y2 = Select(active, y1, y2);
    y1 = Select(active, y, y1);
  }

  // The history back into the bank, for the next block.
  VELMOR_LANES void Store() const {
    Lanes<V>::Store(x1, bank.history[0][0], bank.history[0][1]);
    if constexpr (!kFewRegisters) Lanes<V>::Store(x2, bank.history[1][0], bank.history[1][1]);
    Lanes<V>::Store(y1, bank.history[2][0], bank.history[2][1]);
    Lanes<V>::Store(y2, bank.history[3][0], bank.history[3][1]);
  }

 private:
  // Stereo4 only: channel c alone takes its sample.
  template <int c>
  VELMOR_LANES void ProcessChannel(Vec4 in) {
    Vec4 &cx1 = Channel<c>(x1), &cy1 = Channel<c>(y1), &cy2 = Channel<c>(y2);
    const Vec4 y = ChannelOutput(c, in, cx1, cy1, cy2);
    StoreAligned(bank.history[1][c], cx1);
    cx1 = in, cy2 = cy1, cy1 = y, Channel<c>(latest) = y;
  }
  // One channel's sum, x2 from the bank (Stereo4). Left for the compiler to
  // inline late: forced in early, its loads of the quotients merge across
  // the channels and are held, and the history spills to memory.
  Vec4 ChannelOutput(int c, Vec4 in, Vec4 x1, Vec4 y1, Vec4 y2) const {
    const auto q = [&](int k) { return LoadAligned(bank.q[k][c]); };
    return SectionSum(q(0), q(1), q(2), q(3), q(4), in, x1, LoadAligned(bank.history[1][c]), y1, y2);
  }
  VELMOR_LANES static V Load(const float (&lanes)[2][4]) { return Lanes<V>::Load(lanes[0], lanes[1]); }
  VELMOR_LANES V X2() const {
    if constexpr (kFewRegisters)
      return Load(bank.history[1]);
    else
      return x2;
  }
  VELMOR_LANES void SetX2(V v) {
    if constexpr (kFewRegisters)
      Lanes<V>::Store(v, bank.history[1][0], bank.history[1][1]);
    else
      x2 = v;
  }
};

}  // namespace velmor
