// The block sines over an array of phases, for the tests and the sweep: the
// values the oscillator's runs take, and a count of the phases whose value the
// vectors could not decide and took from PhaseSine.
#pragma once

#include <cstdint>

#include "framework/dsp/phase_sine.h"

namespace velmor {

// out[i] = PhaseSine(P[i]) for i = 0 to n - 1. `slow`, when given, counts the
// phases whose value the vectors could not decide.
inline void PhaseSines(const float* P, float* out, int n, int64_t* slow = nullptr) {
  using namespace phase_sine_detail;
  float phases[kRun + kSinesPadding], values[kRun + kSinesPadding];
  auto none = [](int, int) {};
  for (int start = 0; start < n; start += kRun) {
    const int m = n - start < kRun ? n - start : kRun;
    struct FromArray {
      const float* P;
      int i, m;
      float operator()() { return i < m ? P[i++] : 0.0f; }
    } next{P + start, 0, m};
    PipelinedPhaseSines(next, phases, values, m, none).ForEach([&](int i) {
      values[i] = PhaseSine(phases[i]);
      if (slow) ++*slow;
    });
    for (int i = 0; i < m; ++i) out[start + i] = values[i];
  }
}

}  // namespace velmor
