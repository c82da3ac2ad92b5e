// The filter, plainly: one BiquadSection per channel, designed anew at every
// block and run one sample at a time with ProcessBiquadSample, which divides
// by a0 at every sample. filter.cpp makes the same samples bit for bit, faster:
// it designs only when the type, cutoff, Q or rate changed, forms the
// quotients once per block and runs both channels' recurrences side by side.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/filter/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {

struct Filter {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {false, true, true};
  static constexpr double kDefaults[] = {0, 2000.0, 1.0};
  struct State {
    BiquadSection section[2];
  };
  static void ClearLines(State&) {}
  static void ClearObject(State& s) {
    for (auto& section : s.section) ClearHistory(section);
  }
  static void Run(State& s, const std::vector<double>& v, float fs, float* ch0, float* ch1, int32_t n) {
    for (auto& section : s.section) {
      if (I(v[filter::kType]) == 0)
        SetLowPassCoefficients(section, F(v[filter::kCutoff]), F(v[filter::kQuality]), fs);
      else
        SetHighPassCoefficients(section, F(v[filter::kCutoff]), F(v[filter::kQuality]), fs);
    }
    for (int32_t i = 0; i < n; ++i) {
      ch0[i] = ProcessBiquadSample(s.section[0], ch0[i]);
      ch1[i] = ProcessBiquadSample(s.section[1], ch1[i]);
    }
  }
};

}  // namespace velmor::definition
