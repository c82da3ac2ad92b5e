// VelmorTremolo: tremolo and auto-panner driven by the smoothed waveform
// oscillator (smoothing at 2000 Hz).
#include "framework/block_frame.h"
#include "framework/descriptor.h"
#include "framework/dsp/waveform_oscillator.h"

namespace velmor {
namespace {

constexpr float kSmoothingCutoff = 2000.0f;
constexpr float kPhaseRate = 44100.0f;  // the phase step divides by this whatever the host's rate

struct TremoloState {
  BiquadSection smoother;  // the oscillator's smoothing low-pass
  int32_t mode = 0;        // 0 tremolo, any other value auto-panner
  int32_t shape = 0;       // a WaveShape value
  float depth = 0.0f;
  float rate = 0.0f;       // Hz
  float phase = 0.0f;      // radians
  float phaseStep = 0.0f;  // radians per sample frame
};

const SelectOption kModes[] = {{u"トレモロ", 0}, {u"パンナー", 1}, {nullptr, 0}};

SelectItem gMode = MakeSelect(u"タイプ", 0, kModes);
SelectItem gShape = MakeSelect(u"波形タイプ", 0, kWaveShapeOptions);
Track gRate = MakeTrack(u"周期", 3.0, 0.1, 30.0, 0.01);
Track gDepth = MakeTrack(u"深さ", 0.3, 0.0, 1.0, 0.01);

struct TremoloEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  struct Maps {
    ObjectStateMap<TremoloState> states;
    LastFrameMap lastFrames;
  };

  struct Parameters {
    int32_t mode, shape;
    float rate, depth;
  };

  static Parameters ReadParameters() {
    return {ReadSelect(gMode), ReadSelect(gShape), ReadTrack(gRate), ReadTrack(gDepth)};
  }

  static bool IsNewObject(Maps& m, int64_t id) { return !Contains(m.states, id); }
  static void CreateObject(Maps& m, int64_t id) { FindOrCreate(m.states, id); }
  static void ClearObject(Maps& m, int64_t id) { ClearHistory(m.states[id].smoother); }

  template <int kShape>
  struct Kernel {
    TremoloState& state;
    OscillatorRunner<kShape> osc;
    float depth, rest;  // rest = 1 - depth
    bool panner;

    explicit Kernel(TremoloState& s)
        : state(s), osc(s), depth(s.depth), rest(1.0f - s.depth), panner(s.mode != 0) {}

    void Process(float& s0, float& s1) {
      const float u = osc.Next();
      const float g0 = depth * u + rest;
      const float g1 = panner ? (1.0f - u) * depth + rest : g0;
      s0 = s0 * g0;
      s1 = s1 * g1;
    }
    void Finish() { osc.Store(state); }
  };

  static ShapeKernels<Kernel> BeginBlock(Maps& m, const BlockInfo& block, const Parameters& p) {
    TremoloState& s = m.states[block.id];
    s.mode = p.mode;
    s.shape = p.shape;
    s.depth = p.depth;
    s.rate = p.rate;
    s.phaseStep = p.rate * kOscillatorTwoPi / kPhaseRate;
    UpdateSmoothing(s, kSmoothingCutoff, block.sampleRate);
    return MakeShapeKernel<Kernel>(s.shape, s);
  }
};

void* const kItems[] = {&gMode, &gShape, &gRate.item, &gDepth.item, nullptr};

}  // namespace

FilterPluginTable gPluginTable =
    MakeDescriptor(u"トレモロ/パンナー", u"Velmor ミニオーディオエフェクト(トレモロ) " VELMOR_VERSION_TEXT,
                   kItems, &ProcessAudioBlock<TremoloEffect>);

}  // namespace velmor
