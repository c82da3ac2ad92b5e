// Up to four BiquadSections of each channel updated side by side, one per
// lane: the stages of a chain run as a wavefront (wavefront.h). V is a stereo
// lane type (stereo_lanes.h). Each lane gives ProcessBiquadSample's results
// bit for bit: the quotients formed once, the five products summed from left
// to right.
#pragma once

#include <algorithm>
#include <iterator>

#include "framework/dsp/biquad.h"
#include "framework/dsp/stereo_lanes.h"

namespace velmor {

// Four sections of each channel between blocks, kept in the order the lanes
// take them: their quotients, formed when a design changes rather than at
// every block, and their history. A lane no design is set for passes its
// input.
struct BiquadLaneBank {
  float q[5][2][4] = {{{1.0f, 1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}}};  // q0 to q4 of each lane
  float history[4][2][4] = {};                                               // x1, x2, y1, y2

  // Lane `lane` of both channels runs this design from the next block on.
  void SetDesign(int lane, const BiquadSection& design) {
    const BiquadRunner r(design);
    const float quotients[5] = {r.q0, r.q1, r.q2, r.q3, r.q4};
    for (int k = 0; k < 5; ++k) q[k][0][lane] = q[k][1][lane] = quotients[k];
  }
  void ClearHistory() {
    for (auto& value : history)
      for (auto& channel : value) std::fill(std::begin(channel), std::end(channel), 0.0f);
  }
};

// The quotients are read from the bank at every step (memory operands of
// the products), which leaves the registers to the history: a step needs
// more vectors than the processor has registers at every level below
// AVX-512.
template <class V>
struct BiquadLanes {
  const BiquadLaneBank& bank;
  V x1, x2, y1, y2;
  V latest = Lanes<V>::Zero();  // the last step's outputs, of busy and idle lanes alike

  VELMOR_LANES explicit BiquadLanes(const BiquadLaneBank& from)
      : bank(from), x1(Load(from.history[0])), x2(Load(from.history[1])), y1(Load(from.history[2])),
        y2(Load(from.history[3])) {}

  VELMOR_LANES V Output(V in) const {
    return Load(bank.q[0]) * in + Load(bank.q[1]) * x1 + Load(bank.q[2]) * x2 - Load(bank.q[3]) * y1 -
           Load(bank.q[4]) * y2;
  }

  VELMOR_LANES void Process(V in) {
    const V y = Output(in);
    x2 = x1, x1 = in, y2 = y1, y1 = y, latest = y;
  }

  // Only the lanes in `active` take the sample; the others keep their history.
  VELMOR_LANES void Process(V in, typename Lanes<V>::Mask active) {
    const V y = Output(in);
    latest = y;
    x2 = Select(active, x1, x2);
    x1 = Select(active, in, x1);
    y2 = Select(active, y1, y2);
    y1 = Select(active, y, y1);
  }

  VELMOR_LANES void Store(BiquadLaneBank& to) const {
    Lanes<V>::Store(x1, to.history[0][0], to.history[0][1]);
    Lanes<V>::Store(x2, to.history[1][0], to.history[1][1]);
    Lanes<V>::Store(y1, to.history[2][0], to.history[2][1]);
    Lanes<V>::Store(y2, to.history[3][0], to.history[3][1]);
  }

 private:
  VELMOR_LANES static V Load(const float (&lanes)[2][4]) { return Lanes<V>::Load(lanes[0], lanes[1]); }
};

}  // namespace velmor
