// The plain per-sample definitions of the section and the oscillator: one
// sample at a time, every division at every sample, the way they are
// specified. The kernels' fast paths (BiquadRunner, BiquadLanes,
// OscillatorRunner and the block sines) give these values bit for bit; the
// tests and the effects' own plain definitions (effects/*/definition.h) use
// these, the plug-ins never do.
#pragma once

#include <cmath>

#include "framework/dsp/biquad.h"
#include "framework/dsp/waveform_oscillator.h"

namespace velmor {

// One sample through the section. Each quotient is rounded to single precision
// before its product, and the five products are summed from left to right.
inline float ProcessBiquadSample(BiquadSection& s, float x) {
  const float y = (s.b0 / s.a0) * x + (s.b1 / s.a0) * s.x1 + (s.b2 / s.a0) * s.x2 -
                  (s.a1 / s.a0) * s.y1 - (s.a2 / s.a0) * s.y2;
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

// The sine of the C library, in double on the widened phase, rounded back:
// the reference that PhaseSine and the block sines are held to.
inline float LibrarySine(float P) { return static_cast<float>(std::sin(static_cast<double>(P))); }

// Advances the generator by one sample frame and returns u = y * 0.5 + 0.5.
// The sine shape takes `sine` (PhaseSine, or LibrarySine for a reference that
// owes nothing to our own sine).
inline float NextValue(WaveformOscillator& osc, float (*sine)(float) = PhaseSine) {
  osc.phase = AdvancePhase(osc.phase, osc.phaseStep);
  const float v = osc.shape == 0 ? sine(osc.phase) : WaveformValue(osc.shape, osc.phase);
  const float y = ProcessBiquadSample(osc.smoother, v);
  return y * 0.5f + 0.5f;
}

}  // namespace velmor
