// The tremolo and auto-panner, plainly: the smoothed oscillator's NextValue
// (with the C library's sin) one sample at a time, and the gains from it.
// tremolo.cpp makes the same samples bit for bit, faster: the oscillator held
// in locals, the sines taken several to a vector and correctly rounded.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/tremolo/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {

struct Tremolo {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {false, false, true, true};
  static constexpr double kDefaults[] = {0, 0, 3.0, 0.3};
  using State = WaveformOscillator;
  static void ClearLines(State&) {}
  static void ClearObject(State& s) { ClearHistory(s.smoother); }
  static void Run(State& o, const std::vector<double>& v, float fs, float* ch0, float* ch1, int32_t n) {
    const int32_t mode = I(v[tremolo::kMode]);
    const float rate = F(v[tremolo::kRate]), depth = F(v[tremolo::kDepth]);
    o.shape = I(v[tremolo::kShape]);
    o.phaseStep = rate * kTwoPi / 44100.0f;
    SetLowPassCoefficients(o.smoother, 2000.0f, 0.7f, fs);
    o.phase = NormalisePhase(o.phase);  // a phase left outside 0 to 2 pi comes back at a block's start
    for (int32_t i = 0; i < n; ++i) {
      const float u = NextValue(o, LibrarySine);
      const float g0 = depth * u + (1.0f - depth);
      const float g1 = mode == 0 ? g0 : (1.0f - u) * depth + (1.0f - depth);
      ch0[i] = ch0[i] * g0;
      ch1[i] = ch1[i] * g1;
    }
  }
};

}  // namespace velmor::definition
