// Up to four BiquadSections of each channel updated side by side, one per
// lane: the stages of a chain run as a wavefront (wavefront.h). V is a stereo
// lane type (stereo_lanes.h). Each lane gives ProcessBiquadSample's results
// bit for bit: the quotients formed once, the five products summed from left
// to right.
#pragma once

#include "framework/dsp/biquad.h"
#include "framework/dsp/stereo_lanes.h"

namespace velmor {

template <class V>
struct BiquadLanes {
  V q0, q1, q2, q3, q4;
  V x1, x2, y1, y2;
  V latest = Lanes<V>::Zero();  // the last step's outputs, of busy and idle lanes alike

  // Lane i of channel c runs sections[c][i]; a null entry is a lane that
  // passes its input.
  VELMOR_LANES explicit BiquadLanes(BiquadSection* const (&sections)[2][4]) {
    float q[5][2][4], h[4][2][4];
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < 4; ++i) {
        const BiquadRunner r = sections[c][i] ? BiquadRunner(*sections[c][i]) : BiquadRunner(BiquadSection{});
        q[0][c][i] = r.q0, q[1][c][i] = r.q1, q[2][c][i] = r.q2, q[3][c][i] = r.q3, q[4][c][i] = r.q4;
        h[0][c][i] = r.x1, h[1][c][i] = r.x2, h[2][c][i] = r.y1, h[3][c][i] = r.y2;
      }
    q0 = Lanes<V>::Load(q[0][0], q[0][1]), q1 = Lanes<V>::Load(q[1][0], q[1][1]), q2 = Lanes<V>::Load(q[2][0], q[2][1]);
    q3 = Lanes<V>::Load(q[3][0], q[3][1]), q4 = Lanes<V>::Load(q[4][0], q[4][1]);
    x1 = Lanes<V>::Load(h[0][0], h[0][1]), x2 = Lanes<V>::Load(h[1][0], h[1][1]);
    y1 = Lanes<V>::Load(h[2][0], h[2][1]), y2 = Lanes<V>::Load(h[3][0], h[3][1]);
  }

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

  VELMOR_LANES void Store(BiquadSection* const (&sections)[2][4]) const {
    float h[4][2][4];
    Lanes<V>::Store(x1, h[0][0], h[0][1]), Lanes<V>::Store(x2, h[1][0], h[1][1]);
    Lanes<V>::Store(y1, h[2][0], h[2][1]), Lanes<V>::Store(y2, h[3][0], h[3][1]);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < 4; ++i) {
        if (!sections[c][i]) continue;
        sections[c][i]->x1 = h[0][c][i], sections[c][i]->x2 = h[1][c][i];
        sections[c][i]->y1 = h[2][c][i], sections[c][i]->y2 = h[3][c][i];
      }
  }
};

}  // namespace velmor
