// The equalizer, plainly: eight peaking bands per channel at 44100 Hz,
// designed anew at every block, each sample through the bands in order with
// ProcessBiquadSample. equalizer.cpp makes the same samples bit for bit,
// faster: it designs a band only when its gain changed and runs the eight
// bands as a wavefront, four or eight lanes at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/equalizer/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {
constexpr float kCentres[8] = {100, 200, 400, 800, 1600, 3200, 6400, 12800};

// One sample through the eight bands in order.
inline float ProcessEqualizerSample(BiquadSection (&bands)[8], float x) {
  for (BiquadSection& band : bands) x = ProcessBiquadSample(band, x);
  return x;
}

struct Equalizer {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {true, true, true, true, true, true, true, true};
  static constexpr double kDefaults[] = {0, 0, 0, 0, 0, 0, 0, 0};
  struct State {
    BiquadSection bands[2][8];
    State() {
      for (auto& channel : bands)
        for (int k = 0; k < 8; ++k) SetPeakingCoefficients(channel[k], kCentres[k], 1.0f, 0.0f, 44100.0f);
    }
  };
  static void ClearLines(State&) {}
  static void ClearObject(State& s) {
    for (auto& channel : s.bands)
      for (auto& band : channel) ClearHistory(band);
  }
  static void Run(State& s, const std::vector<double>& v, float, float* ch0, float* ch1, int32_t n) {
    for (auto& channel : s.bands)
      for (int k = 0; k < 8; ++k)
        SetPeakingCoefficients(channel[k], kCentres[k], 1.0f, F(v[equalizer::kBand100 + k]), 44100.0f);
    for (int32_t i = 0; i < n; ++i) {
      ch0[i] = ProcessEqualizerSample(s.bands[0], ch0[i]);
      ch1[i] = ProcessEqualizerSample(s.bands[1], ch1[i]);
    }
  }
};

}  // namespace velmor::definition
