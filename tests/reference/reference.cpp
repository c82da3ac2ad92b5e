#include "reference/reference.h"

#include <cmath>
#include <cstring>
#include <map>

#include "framework/dsp/biquad.h"
#include "framework/dsp/definitions.h"
#include "framework/float_environment.h"

namespace velmor::reference {
namespace {

// The frame around every effect. Effect supplies State, its item defaults,
// ClearsOnJump, ClearLines, ClearObject and Run (the block's work in place).
template <class Effect>
class Frame : public Model {
 public:
  bool Process(const Block& block) override {
    if (block.count < 0) return false;
    // Sliders that are not finite numbers read as their defaults.
    std::vector<double> values = block.values;
    for (size_t k = 0; k < values.size(); ++k)
      if (Effect::kSlider[k] && !std::isfinite(values[k])) values[k] = Effect::kDefaults[k];
    auto found = states_.find(block.id);
    if (found == states_.end()) {
      found = states_.emplace(block.id, typename Effect::State{}).first;
      lastFrames_[block.id] = block.frame;
    }
    typename Effect::State& state = found->second;
    if (Effect::kClearsOnJump) {
      const auto d = static_cast<int32_t>(static_cast<uint32_t>(block.frame) -
                                          static_cast<uint32_t>(lastFrames_[block.id]));
      if (d < 0 || d > 1) Effect::ClearLines(state);
    }
    lastFrames_[block.id] = block.frame;
    {
      FlushDenormalsScope flush;
      Effect::Run(state, values, static_cast<float>(block.sampleRate), block.ch0, block.ch1, block.count);
    }
    bool finite = true;
    for (int32_t i = 0; i < block.count; ++i)
      finite = finite && std::isfinite(block.ch0[i]) && std::isfinite(block.ch1[i]);
    if (!finite) Effect::ClearObject(state);
    return true;
  }

 private:
  std::map<int64_t, typename Effect::State> states_;
  std::map<int64_t, int32_t> lastFrames_;
};

float F(double v) { return static_cast<float>(v); }
int32_t I(double v) { return static_cast<int32_t>(v); }

// ---------------------------------------------------------------- filter
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
      if (I(v[0]) == 0)
        SetLowPassCoefficients(section, F(v[1]), F(v[2]), fs);
      else
        SetHighPassCoefficients(section, F(v[1]), F(v[2]), fs);
    }
    for (int32_t i = 0; i < n; ++i) {
      ch0[i] = ProcessBiquadSample(s.section[0], ch0[i]);
      ch1[i] = ProcessBiquadSample(s.section[1], ch1[i]);
    }
  }
};

// ---------------------------------------------------------------- equalizer
constexpr float kCentres[8] = {100, 200, 400, 800, 1600, 3200, 6400, 12800};

// One sample through the eight bands in order.
float ProcessEqualizerSample(BiquadSection (&bands)[8], float x) {
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
      for (int k = 0; k < 8; ++k) SetPeakingCoefficients(channel[k], kCentres[k], 1.0f, F(v[static_cast<size_t>(k)]), 44100.0f);
    for (int32_t i = 0; i < n; ++i) {
      ch0[i] = ProcessEqualizerSample(s.bands[0], ch0[i]);
      ch1[i] = ProcessEqualizerSample(s.bands[1], ch1[i]);
    }
  }
};

// ---------------------------------------------------------------- distortion
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
    const float level = Percent(v[0]), g = Percent(v[2]), tone = F(v[3]), character = F(v[4]);
    float corner = 10.0f, drive = g + 1.0f;
    switch (I(v[1])) {
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

// ---------------------------------------------------------------- delay
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
    const float dry = F(v[0]) / 100.0f, wet = F(v[1]) / 100.0f;
    ConfigureDelay(s, F(v[3]), F(v[4]) * 0.8f, I(v[2]), fs);
    for (int32_t i = 0; i < n; ++i) {
      float tapL, tapR;
      ProcessDelaySample(s, ch0[i], ch1[i], tapL, tapR);
      ch0[i] = dry * ch0[i] + tapL * wet;
      ch1[i] = dry * ch1[i] + tapR * wet;
    }
  }
};

// ---------------------------------------------------------------- pitch shifter
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
    const float dry = F(v[0]) / 100.0f, wet = F(v[1]) / 100.0f;
    // 2^(pitch / 12) - 1, held at 7 so that every crossfade ends in range.
    const float drift = static_cast<float>(std::pow(2.0, static_cast<double>(F(v[2]) / 12.0f)) - 1.0);
    s.drift = drift < 7.0f ? drift : 7.0f;
    for (int32_t i = 0; i < n; ++i) {
      float s0, s1;
      ProcessPitchShiftSample(s, ch0[i], ch1[i], s0, s1);
      ch0[i] = dry * ch0[i] + wet * s0;
      ch1[i] = dry * ch1[i] + wet * s1;
    }
  }
};

// ---------------------------------------------------------------- the oscillator
constexpr float kPi = 3.1415927f, kTwoPi = 6.2831855f;

struct Oscillator {
  int32_t shape = 0;
  float phase = 0.0f, phaseStep = 0.0f;
  BiquadSection smoother;
};

// The generator's next value, with the C library's sin.
float NextValue(Oscillator& o) {
  float P = o.phaseStep + o.phase;
  if (P >= kTwoPi) P = P - kTwoPi;
  o.phase = P;
  float v = 0.0f;
  switch (o.shape) {
    case 0: v = static_cast<float>(std::sin(static_cast<double>(P))); break;
    case 1: {
      const float t = ((P + P) - kPi) / kPi;
      v = kPi > P ? t : 2.0f - t;
      break;
    }
    case 2: v = P > kPi ? 1.0f : -1.0f; break;
    case 3: v = (P - kPi) / kPi; break;
    case 4: v = -((P - kPi) / kPi); break;
    default: break;
  }
  return ProcessBiquadSample(o.smoother, v) * 0.5f + 0.5f;
}

// ---------------------------------------------------------------- tremolo
struct Tremolo {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {false, false, true, true};
  static constexpr double kDefaults[] = {0, 0, 3.0, 0.3};
  using State = Oscillator;
  static void ClearLines(State&) {}
  static void ClearObject(State& s) { ClearHistory(s.smoother); }
  static void Run(State& o, const std::vector<double>& v, float fs, float* ch0, float* ch1, int32_t n) {
    const int32_t mode = I(v[0]);
    const float rate = F(v[2]), depth = F(v[3]);
    o.shape = I(v[1]);
    o.phaseStep = rate * kTwoPi / 44100.0f;
    SetLowPassCoefficients(o.smoother, 2000.0f, 0.7f, fs);
    o.phase = NormalisePhase(o.phase);  // a phase left outside 0 to 2 pi comes back at a block's start
    for (int32_t i = 0; i < n; ++i) {
      const float u = NextValue(o);
      const float g0 = depth * u + (1.0f - depth);
      const float g1 = mode == 0 ? g0 : (1.0f - u) * depth + (1.0f - depth);
      ch0[i] = ch0[i] * g0;
      ch1[i] = ch1[i] * g1;
    }
  }
};

// ---------------------------------------------------------------- modulator
struct Modulator {
  static constexpr bool kClearsOnJump = false;
  static constexpr bool kSlider[] = {false, false, true, true};
  static constexpr double kDefaults[] = {0, 0, 800.0, 0.3};
  struct Record {
    Oscillator osc;
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
    const int32_t mode = I(v[0]);
    if (mode != 0 && mode != 1) return;
    Record& r = mode == 0 ? s.ring : s.fm;
    const float period = F(v[2]), depth = F(v[3]);
    const float frequency = mode == 0 ? static_cast<float>(static_cast<double>(period) / 10.0) : period;
    r.osc.shape = I(v[1]);
    r.osc.phaseStep = (kPi + kPi) * frequency / r.lastSampleRate;
    SetLowPassCoefficients(r.osc.smoother, 12000.0f, 0.7f, fs);
    r.lastSampleRate = fs;
    r.osc.phase = NormalisePhase(r.osc.phase);
    for (int32_t i = 0; i < n; ++i) {
      const float u = NextValue(r.osc);
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

}  // namespace

std::unique_ptr<Model> MakeModel(const std::string& plugin) {
  if (plugin == "VelmorFilter") return std::make_unique<Frame<Filter>>();
  if (plugin == "VelmorEqualizer") return std::make_unique<Frame<Equalizer>>();
  if (plugin == "VelmorDistortion") return std::make_unique<Frame<Distortion>>();
  if (plugin == "VelmorDelay") return std::make_unique<Frame<Delay>>();
  if (plugin == "VelmorPitchShifter") return std::make_unique<Frame<PitchShifter>>();
  if (plugin == "VelmorTremolo") return std::make_unique<Frame<Tremolo>>();
  if (plugin == "VelmorModulator") return std::make_unique<Frame<Modulator>>();
  return nullptr;
}

}  // namespace velmor::reference
