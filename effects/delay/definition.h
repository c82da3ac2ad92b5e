// The delay, plainly: ConfigureDelay at every block, then ProcessDelaySample
// one sample frame at a time, each channel's ring with its own indices and a
// remainder at every step. delay.cpp makes the same samples bit for bit,
// faster: one index pair for both rings, the mode chosen once per block.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "effects/delay/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {

struct Delay {
  static constexpr int32_t kLength = 50000;
  static constexpr bool kClearsOnJump = true;
  static constexpr bool kSlider[] = {true, true, false, true, true};
  static constexpr double kDefaults[] = {100.0, 50.0, 0, 500.0, 0.1};
  struct State {
    float delayTime = 250.0f, feedback = 0.3f;
    int32_t mode = 0;
    float sampleRate = 44100.0f;
    int32_t delayLength = 11025;
    int32_t read[2] = {0, 0}, write[2] = {11025, 11025};
    std::vector<float> ring[2] = {std::vector<float>(kLength), std::vector<float>(kLength)};
  };
  static void ClearLines(State& s) {
    for (auto& ring : s.ring) std::fill(ring.begin(), ring.end(), 0.0f);
  }
  static void ClearObject(State& s) { ClearLines(s); }
  // (a * b) / 1000 samples; anything that does not fit the ring is limited:
  // below 1 (or not a number) is 1, the ring's whole length or more 49998.
  static int32_t Length(float a, float b) {
    const double samples = static_cast<double>(a * b) / 1000.0;
    if (!(samples >= 1.0)) return 1;
    if (samples >= kLength) return 49998;
    return static_cast<int32_t>(samples);
  }
  static void SetUp(State& s, int32_t d) {
    if (d >= kLength) d = 49998;
    s.delayLength = d;
    ClearLines(s);
    int32_t k = d % kLength;
    if (k == 0) k = 1;
    for (int c = 0; c < 2; ++c) s.write[c] = (s.read[c] + k) % kLength;
  }
  static void ConfigureDelay(State& s, float T, float fbRequest, int32_t mode, float fs) {
    if (T != s.delayTime) {
      s.delayTime = T;
      SetUp(s, Length(T, s.sampleRate));
    }
    s.feedback = fbRequest > 0.8f ? 0.8f : fbRequest < 0.0f ? 0.0f : fbRequest;
    s.mode = mode;
    if (fs != s.sampleRate) {
      s.sampleRate = fs;
      SetUp(s, Length(fs, s.delayTime));
    }
  }
  static void ProcessDelaySample(State& s, float xL, float xR, float& tapL, float& tapR) {
    if (s.mode < 0 || s.mode > 2) {
      tapL = tapR = 0.0f;
      return;
    }
    const float yL = s.ring[0][static_cast<size_t>(s.read[0])], yR = s.ring[1][static_cast<size_t>(s.read[1])];
    const double m = static_cast<double>(xL + xR) * 0.5;
    float inL, inR;
    if (s.mode == 0) {
      inL = yR * s.feedback + xL, inR = yL * s.feedback + xR, tapL = yR, tapR = yL;
    } else if (s.mode == 1) {
      inL = yR, inR = static_cast<float>(static_cast<double>(yL * s.feedback) + m), tapL = yL, tapR = yR;
    } else {
      inL = static_cast<float>(static_cast<double>(yR * s.feedback) + m), inR = yL, tapL = yL, tapR = yR;
    }
    s.ring[0][static_cast<size_t>(s.write[0])] = inL;
    s.ring[1][static_cast<size_t>(s.write[1])] = inR;
    for (int c = 0; c < 2; ++c) s.read[c] = (s.read[c] + 1) % kLength, s.write[c] = (s.write[c] + 1) % kLength;
  }
  static void Run(State& s, const std::vector<double>& v, float fs, float* ch0, float* ch1, int32_t n) {
    const float dry = F(v[delay::kDry]) / 100.0f, wet = F(v[delay::kWet]) / 100.0f;
    ConfigureDelay(s, F(v[delay::kDelayTime]), F(v[delay::kFeedback]) * 0.8f, I(v[delay::kType]), fs);
    MixEachFrame(ch0, ch1, n, dry, wet, [&](float x0, float x1, float& tapL, float& tapR) {
      ProcessDelaySample(s, x0, x1, tapL, tapR);
    });
  }
};

}  // namespace velmor::definition
