// The modulator, plainly: the smoothed oscillator's NextValue (with the C
// library's sin) one sample at a time, then the ring gain or the FM taps
// with a remainder for every slot. modulator.cpp makes the same samples bit
// for bit, faster: the oscillator held in locals, the sines several to a
// vector, the taps of a run four at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "effects/modulator/items.h"
#include "framework/plain_frame.h"
#include "framework/dsp/plain_dsp.h"

namespace velmor::definition {

struct Modulator {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {false, false, true, true};
  static constexpr double kDefaults[] = {0, 0, 800.0, 0.3};
  struct Record {
    WaveformOscillator osc;
    float lastSampleRate = 44100.0f;
  };
  struct State {
    Record ring, fm;
    int32_t read = 0, write = 500;
    std::vector<float> line[2] = {std::vector<float>(1000), std::vector<float>(1000)};
  };
  static void ClearLines(State&) {}
  static void ClearObject(State& s) {
    ClearHistory(s.ring.osc.smoother);
    ClearHistory(s.fm.osc.smoother);
    for (auto& line : s.line) std::fill(line.begin(), line.end(), 0.0f);
  }
  static int32_t Slot(int32_t index) { return ((index % 1000) + 1000) % 1000; }
  static void Run(State& s, const std::vector<double>& v, float fs, float* ch0, float* ch1, int32_t n) {
    const int32_t mode = I(v[modulator::kMode]);
    if (mode != 0 && mode != 1) return;
    Record& r = mode == 0 ? s.ring : s.fm;
    const float period = F(v[modulator::kPeriod]), depth = F(v[modulator::kDepth]);
    const float frequency = mode == 0 ? static_cast<float>(static_cast<double>(period) / 10.0) : period;
    r.osc.shape = I(v[modulator::kShape]);
    r.osc.phaseStep = (kPi + kPi) * frequency / r.lastSampleRate;
    SetLowPassCoefficients(r.osc.smoother, 12000.0f, 0.7f, fs);
    r.lastSampleRate = fs;
    r.osc.phase = NormalisePhase(r.osc.phase);
    for (int32_t i = 0; i < n; ++i) {
      const float u = NextValue(r.osc, LibrarySine);
      if (mode == 0) {
        const float gain = u * depth + (1.0f - depth);
        ch0[i] = ch0[i] * gain;
        ch1[i] = ch1[i] * gain;
        continue;
      }
      // The tap offset, limited to +-1e6 slots (not a number: -1e6).
      float D = (depth * 1000.0f) * u;
      if (!(D >= -1.0e6f)) D = -1.0e6f;
      if (D > 1.0e6f) D = 1.0e6f;
      const int32_t k = static_cast<int32_t>(D);
      const float w = D - static_cast<float>(k);
      const auto i0 = static_cast<size_t>(Slot(s.read + k)), i1 = static_cast<size_t>(Slot(s.read + k + 1));
      const float yL = (1.0f - w) * s.line[0][i0] + w * s.line[0][i1];
      const float yR = (1.0f - w) * s.line[1][i0] + w * s.line[1][i1];
      s.line[0][static_cast<size_t>(s.write)] = ch0[i];
      s.line[1][static_cast<size_t>(s.write)] = ch1[i];
      s.read = (s.read + 1) % 1000;
      s.write = (s.write + 1) % 1000;
      ch0[i] = yL;
      ch1[i] = yR;
    }
  }
};

}  // namespace velmor::definition
