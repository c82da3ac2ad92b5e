// Up to four BiquadSections updated side by side, one per lane: the two
// channels of a filter, or the stages of a chain run as a wavefront. Each lane
// gives ProcessBiquadSample's results bit for bit (the quotients formed once,
// the five products summed from left to right).
#pragma once

#include <cstdint>

#include "framework/dsp/biquad.h"
#include "framework/dsp/vec4.h"

namespace velmor {

struct BiquadLanes {
  Vec4 q0, q1, q2, q3, q4;
  Vec4 x1, x2, y1, y2;
  Vec4 latest = Zero();  // the last step's outputs, of busy and idle lanes alike

  // Lane i runs sections[i]; a null entry is a lane that passes its input.
  explicit BiquadLanes(BiquadSection* const (&sections)[4]) {
    float q[5][4], h[4][4];
    for (int i = 0; i < 4; ++i) {
      const BiquadRunner r = sections[i] ? BiquadRunner(*sections[i]) : BiquadRunner(BiquadSection{});
      q[0][i] = r.q0, q[1][i] = r.q1, q[2][i] = r.q2, q[3][i] = r.q3, q[4][i] = r.q4;
      h[0][i] = r.x1, h[1][i] = r.x2, h[2][i] = r.y1, h[3][i] = r.y2;
    }
    auto lanes = [](const float (&a)[4]) { return Set(a[0], a[1], a[2], a[3]); };
    q0 = lanes(q[0]), q1 = lanes(q[1]), q2 = lanes(q[2]), q3 = lanes(q[3]), q4 = lanes(q[4]);
    x1 = lanes(h[0]), x2 = lanes(h[1]), y1 = lanes(h[2]), y2 = lanes(h[3]);
  }

  Vec4 Process(Vec4 in) {
    const Vec4 y = q0 * in + q1 * x1 + q2 * x2 - q3 * y1 - q4 * y2;
    x2 = x1;
    x1 = in;
    y2 = y1;
    y1 = y;
    latest = y;
    return y;
  }

  // Only the lanes in `active` take the sample; the others keep their history.
  void Process(Vec4 in, Mask4 active) {
    const Vec4 y = q0 * in + q1 * x1 + q2 * x2 - q3 * y1 - q4 * y2;
    latest = y;
    x2 = Select(active, x1, x2);
    x1 = Select(active, in, x1);
    y2 = Select(active, y1, y2);
    y1 = Select(active, y, y1);
  }

  void Store(BiquadSection* const (&sections)[4]) const {
    const float hx1[4] = {Lane<0>(x1), Lane<1>(x1), Lane<2>(x1), Lane<3>(x1)};
    const float hx2[4] = {Lane<0>(x2), Lane<1>(x2), Lane<2>(x2), Lane<3>(x2)};
    const float hy1[4] = {Lane<0>(y1), Lane<1>(y1), Lane<2>(y1), Lane<3>(y1)};
    const float hy2[4] = {Lane<0>(y2), Lane<1>(y2), Lane<2>(y2), Lane<3>(y2)};
    for (int i = 0; i < 4; ++i) {
      if (!sections[i]) continue;
      sections[i]->x1 = hx1[i];
      sections[i]->x2 = hx2[i];
      sections[i]->y1 = hy1[i];
      sections[i]->y2 = hy2[i];
    }
  }
};

// Which lanes of a wavefront are busy at step t of a block of n samples:
// stage k works on sample t - skew * k. Lane i holds stage firstStage + i.
inline Mask4 WavefrontLanes(int32_t t, int32_t n, int32_t firstStage, int32_t skew = 1) {
  auto busy = [&](int32_t k) { return t - skew * k >= 0 && t - skew * k < n; };
  return MaskOf(busy(firstStage), busy(firstStage + 1), busy(firstStage + 2), busy(firstStage + 3));
}

}  // namespace velmor
