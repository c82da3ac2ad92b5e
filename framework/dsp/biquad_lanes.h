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

template <class V>
struct BiquadLanes {
  V q0, q1, q2, q3, q4;
  V x1, x2, y1, y2;
  V latest = Lanes<V>::Zero();  // the last step's outputs, of busy and idle lanes alike

  VELMOR_LANES explicit BiquadLanes(const BiquadLaneBank& bank)
      : q0(Load(bank.q[0])), q1(Load(bank.q[1])), q2(Load(bank.q[2])), q3(Load(bank.q[3])), q4(Load(bank.q[4])),
        x1(Load(bank.history[0])), x2(Load(bank.history[1])), y1(Load(bank.history[2])), y2(Load(bank.history[3])) {}

  VELMOR_LANES V Output(V in) const { return q0 * in + q1 * x1 + q2 * x2 - q3 * y1 - q4 * y2; }

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

  VELMOR_LANES void Store(BiquadLaneBank& bank) const {
    Lanes<V>::Store(x1, bank.history[0][0], bank.history[0][1]);
    Lanes<V>::Store(x2, bank.history[1][0], bank.history[1][1]);
    Lanes<V>::Store(y1, bank.history[2][0], bank.history[2][1]);
    Lanes<V>::Store(y2, bank.history[3][0], bank.history[3][1]);
  }

 private:
  VELMOR_LANES static V Load(const float (&lanes)[2][4]) { return Lanes<V>::Load(lanes[0], lanes[1]); }
};

}  // namespace velmor
