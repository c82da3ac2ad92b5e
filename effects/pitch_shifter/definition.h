// The pitch shifter, plainly: the drift from the pitch at every block, then
// ProcessPitchShiftSample one sample frame at a time, both heads read at every
// sample. pitch_shifter.cpp makes the same samples bit for bit, faster: the
// power taken only when the pitch changed, the second head read only during a
// crossfade, one index pair for both rings.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "effects/pitch_shifter/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {

struct PitchShifter {
  static constexpr int32_t kLength = 3000;
  static constexpr bool kClearsOnJump = true;
  static constexpr bool kSlider[] = {true, true, true};
  static constexpr double kDefaults[] = {0.0, 100.0, 3.0};
  struct State {
    float drift = 0.18920712f, fade = 1.0f;
    int32_t read = 0, write = 1000;
    std::vector<float> ring[2] = {std::vector<float>(kLength), std::vector<float>(kLength)};
    double offsetA = 0.0, offsetB = 0.0;
  };
  static void ClearLines(State& s) {
    for (auto& ring : s.ring) std::fill(ring.begin(), ring.end(), 0.0f);
  }
  static void ClearObject(State& s) { ClearLines(s); }
  static int32_t Slot(int64_t index) { return static_cast<int32_t>(((index % kLength) + kLength) % kLength); }
  static float Head(const State& s, int c, double offset) {
    const int32_t i0 = static_cast<int32_t>(offset), i1 = static_cast<int32_t>(offset + 1.0);
    const float frac = static_cast<float>(offset - i0), w = 1.0f - frac;
    const auto& ring = s.ring[c];
    return w * ring[static_cast<size_t>(Slot(int64_t{s.read} + i0))] + frac * ring[static_cast<size_t>(Slot(int64_t{s.read} + i1))];
  }
  static void ProcessPitchShiftSample(State& s, float x0, float x1, float& out0, float& out1) {
    const float a0 = Head(s, 0, s.offsetA), a1 = Head(s, 1, s.offsetA);
    const float b0 = Head(s, 0, s.offsetB), b1 = Head(s, 1, s.offsetB);
    s.ring[0][static_cast<size_t>(s.write)] = x0;
    s.ring[1][static_cast<size_t>(s.write)] = x1;
    s.read = (s.read + 1) % kLength;
    s.write = (s.write + 1) % kLength;
    if (std::fabs(s.offsetA) > 800.0) {
      out0 = s.fade * b0 + (1.0f - s.fade) * a0;
      out1 = s.fade * b1 + (1.0f - s.fade) * a1;
      s.fade = s.fade + 0.01f;
      if (s.fade > 1.0f) s.offsetA = s.offsetB, s.fade = 0.0f;
      s.offsetB = s.offsetB + s.drift;
      s.offsetA = s.offsetA + s.drift;
    } else {
      out0 = a0, out1 = a1;
      s.fade = 0.0f;
      s.offsetB = s.drift;
      s.offsetA = s.offsetA + s.drift;
    }
  }
  static void Run(State& s, const std::vector<double>& v, float, float* ch0, float* ch1, int32_t n) {
    const float dry = F(v[pitch_shifter::kDry]) / 100.0f, wet = F(v[pitch_shifter::kWet]) / 100.0f;
    // 2^(pitch / 12) - 1, held at 7 so that every crossfade ends in range.
    const float drift = static_cast<float>(std::pow(2.0, static_cast<double>(F(v[pitch_shifter::kPitch]) / 12.0f)) - 1.0);
    s.drift = drift < 7.0f ? drift : 7.0f;
    MixEachFrame(ch0, ch1, n, dry, wet, [&](float x0, float x1, float& s0, float& s1) {
      ProcessPitchShiftSample(s, x0, x1, s0, s1);
    });
  }
};

}  // namespace velmor::definition
