// The distortion, plainly: per channel a high-pass pre-filter, the 800 Hz
// character band, the drive and the hard clipper, the low-pass tone filter
// and the level, one sample at a time with ProcessBiquadSample.
// distortion.cpp makes the same samples bit for bit, faster: it designs a
// stage only when its inputs changed and runs the three stages as a
// wavefront, three samples apart.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/distortion/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {

struct Distortion {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {true, false, true, true, true};
  static constexpr double kDefaults[] = {50.0, 0, 50.0, 0.5, 0.0};
  struct State {
    BiquadSection pre[2], character[2], tone[2];
  };
  static void ClearLines(State&) {}
  static void ClearObject(State& s) {
    for (auto* stage : {s.pre, s.character, s.tone})
      for (int c = 0; c < 2; ++c) ClearHistory(stage[c]);
  }
  static float Percent(double v) { return static_cast<float>(static_cast<double>(F(v)) / 100.0); }
  static void Run(State& s, const std::vector<double>& v, float fs, float* ch0, float* ch1, int32_t n) {
    const float level = Percent(v[distortion::kLevel]), g = Percent(v[distortion::kGain]);
    const float tone = F(v[distortion::kTone]), character = F(v[distortion::kCharacter]);
    float corner = 10.0f, drive = g + 1.0f;
    switch (I(v[distortion::kType])) {
      case 0: corner = (g * g) * 300.0f + 100.0f, drive = 500.0f * g + 100.0f; break;
      case 1: corner = (g * g) * 100.0f + 100.0f, drive = 90.0f * g + 10.0f; break;
      case 2: drive = 500.0f * g + 100.0f; break;
      default: break;
    }
    for (int c = 0; c < 2; ++c) {
      SetHighPassCoefficients(s.pre[c], corner, 0.8f, fs);
      SetPeakingCoefficients(s.character[c], 800.0f, 0.3f, character, fs);
      SetLowPassCoefficients(s.tone[c], (tone * 7000.0f) * tone + 1000.0f, 0.8f, fs);
    }
    for (int32_t i = 0; i < n; ++i) {
      for (int c = 0; c < 2; ++c) {
        float& x = c == 0 ? ch0[i] : ch1[i];
        const float p = ProcessBiquadSample(s.character[c], ProcessBiquadSample(s.pre[c], x));
        float d = p * drive;
        d = d > 1.0f ? 1.0f : (d < -1.0f ? -1.0f : d);
        x = (ProcessBiquadSample(s.tone[c], d) * level) * 0.2f;
      }
    }
  }
};

}  // namespace velmor::definition
