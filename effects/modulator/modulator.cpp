// VelmorModulator: ring modulation (a gain that follows the waveform) and FM
// (a delay line whose tap the waveform sweeps), from the smoothed waveform
// oscillator with its smoothing at 12000 Hz. Each mode keeps its own record.
#include <cmath>

#include "framework/dsp/ring_index.h"
#include "framework/dsp/waveform_oscillator.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::modulator {
namespace {

enum Item { kMode, kShape, kPeriod, kDepth };

constexpr float kSmoothingCutoff = 12000.0f;
constexpr int32_t kLineLength = 1000;
constexpr int32_t kTapLead = 500;  // write index ahead of the read index
// Within the slider the tap offset stays within about -123 to 1123 slots. An
// unstable smoothing section or a far larger depth is limited here, before the
// conversion to int32, so the conversion is always defined.
constexpr float kLargestOffset = 1.0e6f;

struct RingModState {
  float pi = kOscillatorPi;
  float twoPi = kOscillatorTwoPi;
  int32_t shape = 0;
  float depth = 0.0f;
  float frequency = 0.0f;  // Hz
  float lastSampleRate = 44100.0f;  // what the next phase step divides by
  BiquadSection smoother;
  float phase = 0.0f;
  float phaseStep = 0.0f;
};

struct ModDelayLine {
  int32_t readIndex = 0;
  int32_t writeIndex = kTapLead;
  float samples[kLineLength] = {};
};

struct FmModState {
  float pi = kOscillatorPi;
  float twoPi = kOscillatorTwoPi;
  float maxExcursion = 1000.0f;  // slots at full depth and full waveform
  ModDelayLine left, right;
  int32_t shape = 0;
  float depth = 0.0f;
  float frequency = 0.0f;
  float lastSampleRate = 44100.0f;
  BiquadSection smoother;
  float phase = 0.0f;
  float phaseStep = 0.0f;
};

// Shape, depth and frequency stored; the phase step divides by the rate of the
// record's previous block; then the smoothing update at this block's rate.
template <class Record>
void PrepareOscillator(Record& r, int32_t shape, float depth, float frequency, float sampleRate) {
  r.shape = shape;
  r.depth = depth;
  r.frequency = frequency;
  r.phaseStep = (r.pi + r.pi) * r.frequency / r.lastSampleRate;
  UpdateSmoothing(r, kSmoothingCutoff, sampleRate);
  r.lastSampleRate = sampleRate;
}

inline int32_t LineSlot(int32_t index) { return WrapIndex<kLineLength>(index); }

struct ModulatorEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  // Each mode's record. Neither is touched before the object's first block
  // in its mode, so both start as new records whenever that block comes.
  struct State {
    RingModState ring;
    FmModState fm;
  };

  struct Parameters {
    int32_t mode, shape;
    float period, depth;
  };

  static Parameters ReadParameters(const ItemValues& v) {
    return {v.Select(kMode), v.Select(kShape), v.Track(kPeriod), v.Track(kDepth)};
  }

  static void ClearObject(State& s) {
    ClearHistory(s.ring.smoother);
    ClearHistory(s.fm.smoother);
    for (ModDelayLine* line : {&s.fm.left, &s.fm.right})
      std::fill(std::begin(line->samples), std::end(line->samples), 0.0f);
  }

  // Any mode but 0 and 1: the audio passes untouched and no record is touched.
  struct PassThrough {
    void Run(float*, float*, int32_t) {}
  };

  template <int kShape>
  struct RingKernel {
    RingModState& state;
    OscillatorRunner<kShape> osc;
    float depth, rest;

    explicit RingKernel(RingModState& s) : state(s), osc(s), depth(s.depth), rest(1.0f - s.depth) {}

    void Run(float* ch0, float* ch1, int32_t n) {
      for (int32_t i = 0; i < n; ++i) {
        const float gain = osc.Next() * depth + rest;
        ch0[i] = ch0[i] * gain;
        ch1[i] = ch1[i] * gain;
      }
      osc.Store(state);
    }
  };

  template <int kShape>
  struct FmKernel {
    FmModState& state;
    OscillatorRunner<kShape> osc;
    float excursion;  // depth * maxExcursion
    int32_t readIndex, writeIndex;

    explicit FmKernel(FmModState& s)
        : state(s), osc(s), excursion(s.depth * s.maxExcursion),
          readIndex(s.left.readIndex), writeIndex(s.left.writeIndex) {}

    void Run(float* ch0, float* ch1, int32_t n) {
      for (int32_t i = 0; i < n; ++i) Process(ch0[i], ch1[i]);
      osc.Store(state);
      state.left.readIndex = state.right.readIndex = readIndex;
      state.left.writeIndex = state.right.writeIndex = writeIndex;
    }

    void Process(float& s0, float& s1) {
      float D = excursion * osc.Next();
      if (!(D >= -kLargestOffset)) D = -kLargestOffset;  // NaN too
      if (D > kLargestOffset) D = kLargestOffset;
      const int32_t k = static_cast<int32_t>(D);
      const float w = D - static_cast<float>(k);
      const int32_t i0 = LineSlot(readIndex + k);
      const int32_t i1 = LineSlot(readIndex + k + 1);
      const float yL = (1.0f - w) * state.left.samples[i0] + w * state.left.samples[i1];
      const float yR = (1.0f - w) * state.right.samples[i0] + w * state.right.samples[i1];
      state.left.samples[writeIndex] = s0;
      state.right.samples[writeIndex] = s1;
      readIndex = NextIndex<kLineLength>(readIndex);
      writeIndex = NextIndex<kLineLength>(writeIndex);
      s0 = yL;
      s1 = yR;
    }
  };

  using Kernel = std::variant<PassThrough, ShapeKernels<RingKernel>, ShapeKernels<FmKernel>>;

  static Kernel BeginBlock(State& state, const BlockInfo& block, const Parameters& p) {
    if (p.mode == 0) {
      RingModState& s = state.ring;
      const float frequency = static_cast<float>(static_cast<double>(p.period) / 10.0);
      PrepareOscillator(s, p.shape, p.depth, frequency, block.sampleRate);
      return MakeShapeKernel<RingKernel>(s.shape, s);
    }
    if (p.mode == 1) {
      FmModState& s = state.fm;
      PrepareOscillator(s, p.shape, p.depth, p.period, block.sampleRate);
      return MakeShapeKernel<FmKernel>(s.shape, s);
    }
    return PassThrough{};
  }
};

constexpr OptionSpec kModes[] = {{u"リングモジュレーター", "Ring modulator"}, {u"FMモジュレーター", "FM modulator"}};

constexpr ItemSpec kItems[] = {
    SelectSpec(u"タイプ", "mode", "Mode", 0, kModes),
    SelectSpec(u"波形タイプ", "shape", "Waveform", 0, kWaveShapeOptions),
    TrackSpec(u"周期", "speed", "Speed (ring: Hz x 10, FM: Hz)", 800.0, 50.0, 6000.0, 0.01),
    TrackSpec(u"深さ", "depth", "Depth", 0.3, 0.0, 1.0, 0.01),
};

constexpr EffectInfo kInfo{"modulator", u"モジュレーター",
                           u"Velmor ミニオーディオエフェクト(モジュレーター) " VELMOR_VERSION_TEXT,
                           "Velmor Modulator", kItems};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<ModulatorEffect>(kInfo);

}  // namespace velmor::modulator
