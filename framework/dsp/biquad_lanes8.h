// Eight BiquadSections updated side by side in one AVX vector: the four
// stages of a chain in each half, channel 0 in lanes 0-3 and channel 1 in
// lanes 4-7. Every operation works within a half, so each half is the
// four-lane wavefront of BiquadLanes, bit for bit; a kernel that has this
// version runs it, on processors with AVX, in functions compiled for AVX
// (VELMOR_AVX), and the four-lane version elsewhere.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>

#include "framework/dsp/biquad.h"

#define VELMOR_AVX __attribute__((target("avx"), always_inline)) inline

namespace velmor {

struct BiquadLanes8 {
  __m256 q0, q1, q2, q3, q4;
  __m256 x1, x2, y1, y2;
  __m256 latest;  // the last step's outputs, of busy and idle lanes alike

  // Lane i runs sections[i]; a null entry is a lane that passes its input.
  VELMOR_AVX static BiquadLanes8 Load(BiquadSection* const (&sections)[8]) {
    float q[5][8], h[4][8];
    for (int i = 0; i < 8; ++i) {
      const BiquadRunner r = sections[i] ? BiquadRunner(*sections[i]) : BiquadRunner(BiquadSection{});
      q[0][i] = r.q0, q[1][i] = r.q1, q[2][i] = r.q2, q[3][i] = r.q3, q[4][i] = r.q4;
      h[0][i] = r.x1, h[1][i] = r.x2, h[2][i] = r.y1, h[3][i] = r.y2;
    }
    BiquadLanes8 l;
    l.q0 = _mm256_loadu_ps(q[0]), l.q1 = _mm256_loadu_ps(q[1]), l.q2 = _mm256_loadu_ps(q[2]);
    l.q3 = _mm256_loadu_ps(q[3]), l.q4 = _mm256_loadu_ps(q[4]);
    l.x1 = _mm256_loadu_ps(h[0]), l.x2 = _mm256_loadu_ps(h[1]), l.y1 = _mm256_loadu_ps(h[2]);
    l.y2 = _mm256_loadu_ps(h[3]);
    l.latest = _mm256_setzero_ps();
    return l;
  }

  VELMOR_AVX void Store(BiquadSection* const (&sections)[8]) const {
    float h[4][8];
    _mm256_storeu_ps(h[0], x1), _mm256_storeu_ps(h[1], x2), _mm256_storeu_ps(h[2], y1), _mm256_storeu_ps(h[3], y2);
    for (int i = 0; i < 8; ++i) {
      if (!sections[i]) continue;
      sections[i]->x1 = h[0][i], sections[i]->x2 = h[1][i], sections[i]->y1 = h[2][i], sections[i]->y2 = h[3][i];
    }
  }

  // The five products summed from left to right, as ProcessBiquadSample.
  VELMOR_AVX __m256 Output(__m256 in) const {
    return _mm256_sub_ps(
        _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(q0, in), _mm256_mul_ps(q1, x1)), _mm256_mul_ps(q2, x2)),
                      _mm256_mul_ps(q3, y1)),
        _mm256_mul_ps(q4, y2));
  }

  VELMOR_AVX void Process(__m256 in) {
    const __m256 y = Output(in);
    x2 = x1, x1 = in, y2 = y1, y1 = y, latest = y;
  }

  // Only the lanes set in `active` take the sample; the others keep their history.
  VELMOR_AVX void Process(__m256 in, __m256 active) {
    const __m256 y = Output(in);
    latest = y;
    x2 = _mm256_blendv_ps(x2, x1, active);
    x1 = _mm256_blendv_ps(x1, in, active);
    y2 = _mm256_blendv_ps(y2, y1, active);
    y1 = _mm256_blendv_ps(y1, y, active);
  }
};

// The same four-lane mask in both halves.
VELMOR_AVX __m256 BothHalves(Mask4 mask) { return _mm256_set_m128(mask.m, mask.m); }

// [x0, a0, a1, a2 | x1, a4, a5, a6]: in each half the lanes move up by one
// and that half's x enters at its first lane.
VELMOR_AVX __m256 ShiftIn8(float x0, float x1, __m256 a) {
  const __m256 x = _mm256_set_m128(_mm_set_ss(x1), _mm_set_ss(x0));
  return _mm256_blend_ps(_mm256_shuffle_ps(a, a, _MM_SHUFFLE(2, 1, 0, 0)), x, 0x11);
}

// [b3, a0, a1, a2 | b7, a4, a5, a6]: the last lane of each half of b enters.
VELMOR_AVX __m256 ShiftInLast8(__m256 b, __m256 a) {
  return _mm256_blend_ps(_mm256_shuffle_ps(a, a, _MM_SHUFFLE(2, 1, 0, 0)), _mm256_shuffle_ps(b, b, _MM_SHUFFLE(3, 3, 3, 3)),
                         0x11);
}

// Lane k of each half.
template <int k>
VELMOR_AVX float LowHalfLane(__m256 a) {
  const __m128 h = _mm256_castps256_ps128(a);
  return _mm_cvtss_f32(_mm_shuffle_ps(h, h, _MM_SHUFFLE(k, k, k, k)));
}
template <int k>
VELMOR_AVX float HighHalfLane(__m256 a) {
  const __m128 h = _mm256_extractf128_ps(a, 1);
  return _mm_cvtss_f32(_mm_shuffle_ps(h, h, _MM_SHUFFLE(k, k, k, k)));
}

}  // namespace velmor

#endif
