// The smoothed five-shape modulation source of the tremolo and the modulator.
//
// A phase accumulator, one of five waveforms evaluated on the phase after the
// step, and a low-pass section that rounds off the waveform's corners. It
// yields one unipolar value per sample frame, nominally 0 to 1. All arithmetic
// is single precision but the sine, which is taken in double on the widened
// phase and rounded back (PhaseSine).
#pragma once

#include <cmath>
#include <cstdint>
#include <variant>

#include "framework/dsp/biquad.h"
#include "framework/dsp/constants.h"
#include "framework/dsp/phase_sine.h"
#include "framework/non_finite.h"

namespace velmor {

inline constexpr float kSmoothingQ = 0.7f;

// The generator's four fields (and the memo of the smoother's design): the
// record that the tremolo's and the modulator's states hold.
struct WaveformOscillator {
  int32_t shape = 0;       // 0 sine, 1 triangle, 2 square, 3 and 4 saws; as the item delivers it
  float phase = 0.0f;      // radians, 0 <= phase < 2pi
  float phaseStep = 0.0f;  // radians per sample frame, set once per block
  BiquadSection smoother;  // the smoothing low-pass
  DesignMemo<2> smoothingDesign;  // cutoff and rate of the smoother's latest design
};

// The triangle: t = ((P + P) - pi) / pi while pi > P, 2 - t after.
inline float TriangleValue(float P) {
  const float t = ((P + P) - kPi) / kPi;
  return kPi > P ? t : 2.0f - t;
}

// The waveform value v of a shape at phase P; any unlisted shape gives 0.
inline float WaveformValue(int32_t shape, float P) {
  switch (shape) {
    case 0: return PhaseSine(P);
    case 1: return TriangleValue(P);
    case 2: return P > kPi ? 1.0f : -1.0f;
    case 3: return (P - kPi) / kPi;
    case 4: return -((P - kPi) / kPi);
    default: return 0.0f;
  }
}

// The phase after one step: one subtraction of 2pi at the wrap, not a remainder.
inline float AdvancePhase(float phase, float phaseStep) {
  float P = phaseStep + phase;
  if (P >= kTwoPi) P = P - kTwoPi;
  return P;
}

// A phase outside 0 to 2pi (left by a phase step far outside every slider, or
// not a number) is brought back into that range; a phase inside it, which is
// every phase that normal settings produce, is returned unchanged.
inline float NormalisePhase(float phase) {
  if (phase >= 0.0f && phase < kTwoPi) return phase;
  if (!std::isfinite(phase)) return 0.0f;
  float wrapped = std::fmod(phase, kTwoPi);
  if (wrapped < 0.0f) wrapped = wrapped + kTwoPi;
  return wrapped >= 0.0f && wrapped < kTwoPi ? wrapped : 0.0f;
}

// The smoothing update: the low-pass design at the block's rate; the history
// stays. The same cutoff and rate as the block before give the same design.
inline void UpdateSmoothing(WaveformOscillator& osc, float cutoff, float sampleRate) {
  if (osc.smoothingDesign.Changed(DesignKey(cutoff, sampleRate)))
    SetLowPassCoefficients(osc.smoother, cutoff, kSmoothingQ, sampleRate);
}

// Values a runner makes at a time; kernels work through a block in runs of
// this length, on arrays that live on the stack.
inline constexpr int kOscillatorChunk = phase_sine_detail::kRun;

// The same generator held in locals for one block, with the shape fixed at
// compile time and the smoothing quotients formed once. Values are those of
// the plain NextValue bit for bit. Store() hands phase and history back.
template <int kShape>
struct OscillatorRunner {
  float phase, phaseStep;
  BiquadRunner smoother;

  // The smoothing of the sine's values, the smoother held by value so that
  // the pipelined loop keeps it in registers.
  struct Smoothing {
    BiquadRunner smoother;
    float* u;
    const float* v;
    void operator()(int start, int count) {
      for (int i = start; i < start + count; ++i) u[i] = smoother.Process(v[i]) * 0.5f + 0.5f;
    }
  };

  explicit OscillatorRunner(const WaveformOscillator& osc)
      : phase(NormalisePhase(osc.phase)), phaseStep(osc.phaseStep), smoother(osc.smoother) {}

  float Next() {
    phase = AdvancePhase(phase, phaseStep);
    const float y = smoother.Process(WaveformValue(kShape, phase));
    return y * 0.5f + 0.5f;
  }

  // The next n values (n at most kOscillatorChunk) into u. The sine does not
  // depend on the smoothing, so it is taken in passes: first the phases,
  // then their sines, several to a vector, with the smoothing of each
  // vector's values running while the next vector's sines are made. In the
  // rare run where a sine had to be taken the slow way, after the smoothing
  // had used the fast value, the smoothing of the run is done again.
  void Fill(float* u, int n) {
    if constexpr (kShape == 0) {
      if (n <= 0) return;
      float phases[kOscillatorChunk + kSinesPadding], v[kOscillatorChunk + kSinesPadding];
      struct Phases {
        float phase, step;
        float operator()() { return phase = AdvancePhase(phase, step); }
      } next{phase, phaseStep};
      Smoothing smooth{smoother, u, v};
      const UndecidedPhases pending = PipelinedPhaseSines(next, phases, v, n, smooth);
      phase = phases[n - 1];  // the recurrence ran ahead of the run's last phase
      if (pending.Any()) {
        pending.ForEach([&](int i) { v[i] = PhaseSine(phases[i]); });
        smooth.smoother = smoother;
        smooth(0, n);
      }
      smoother = smooth.smoother;
    } else {
      for (int i = 0; i < n; ++i) u[i] = Next();
    }
  }

  void Store(WaveformOscillator& osc) const {
    osc.phase = phase;
    smoother.Store(osc.smoother);
  }
};

// A block through an oscillator held in locals: its values made a run of
// kOscillatorChunk at a time and handed, with the run's stretch of the inputs
// and the outputs, to apply(u, in0, in1, out0, out1, count), which returns
// the NotFiniteFlag of its outputs ORed together. An output is its own
// channel's input or apart from both inputs. Hands phase and history back to
// the record; returns whether any output sample is not finite.
template <int kShape, class Apply>
bool ModulateInRuns(WaveformOscillator& record, const float* in0, const float* in1, float* out0, float* out1,
                    int32_t n, Apply apply) {
  OscillatorRunner<kShape> osc(record);
  float u[kOscillatorChunk];
  uint32_t flags = 0;
  const auto runs = [&](const float* from0, const float* from1) {
    for (int32_t start = 0; start < n; start += kOscillatorChunk) {
      const int m = n - start < kOscillatorChunk ? static_cast<int>(n - start) : kOscillatorChunk;
      osc.Fill(u, m);
      flags |= apply(static_cast<const float*>(u), from0 + start, from1 + start, out0 + start, out1 + start, m);
    }
  };
  // In place, the compiler sees each input is its output and runs apply's
  // loops several lanes at once; handed two pointers that might overlap, it
  // would check them at run time and, finding them equal, take one lane at
  // a time.
  if (in0 == out0 && in1 == out1)
    runs(out0, out1);
  else
    runs(in0, in1);
  osc.Store(record);
  return AnyNotFiniteFlag(flags);
}

// A block kernel for each shape: shapes 0 to 4 get their own, every other
// value shares the one for shape -1 (a waveform of 0).
template <template <int> class Kernel>
using ShapeKernels = std::variant<Kernel<-1>, Kernel<0>, Kernel<1>, Kernel<2>, Kernel<3>, Kernel<4>>;

template <template <int> class Kernel, class... Args>
ShapeKernels<Kernel> MakeShapeKernel(int32_t shape, Args&... args) {
  switch (shape) {
    case 0: return Kernel<0>{args...};
    case 1: return Kernel<1>{args...};
    case 2: return Kernel<2>{args...};
    case 3: return Kernel<3>{args...};
    case 4: return Kernel<4>{args...};
    default: return Kernel<-1>{args...};
  }
}

}  // namespace velmor
