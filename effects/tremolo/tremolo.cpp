// VelmorTremolo: tremolo and auto-panner driven by the smoothed waveform
// oscillator (smoothing at 2000 Hz).
#include <algorithm>

#include "effects/tremolo/items.h"
#include "effects/wave_shapes.h"
#include "framework/dsp/waveform_oscillator.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::tremolo {
namespace {

constexpr float kSmoothingCutoff = 2000.0f;
constexpr float kPhaseRate = 44100.0f;  // the phase step divides by this whatever the host's rate

struct TremoloState {
  WaveformOscillator osc;
  int32_t mode = 0;   // 0 tremolo, any other value auto-panner
  float depth = 0.0f;
};

struct TremoloEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  using State = TremoloState;

  struct Parameters {
    int32_t mode, shape;
    float rate, depth;
  };

  static Parameters ReadParameters(const ItemValues& v) {
    return {v.Select(kMode), v.Select(kShape), v.Track(kRate), v.Track(kDepth)};
  }

  static void ClearObject(State& s) { ClearHistory(s.osc.smoother); }

  template <int kShape>
  struct Kernel {
    TremoloState& state;

    bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      const float depth = state.depth, rest = 1.0f - state.depth;
      const bool panner = state.mode != 0;
      return ModulateInRuns<kShape>(
          state.osc, in0, in1, out0, out1, n,
          [=](const float* u, const float* inL, const float* inR, float* l, float* r, int m) {
            uint32_t flags = 0;
            if (panner) {
              for (int i = 0; i < m; ++i) {
                l[i] = inL[i] * (depth * u[i] + rest);
                r[i] = inR[i] * ((1.0f - u[i]) * depth + rest);
                flags |= NotFiniteFlag(l[i]) | NotFiniteFlag(r[i]);
              }
            } else {
              for (int i = 0; i < m; ++i) {
                const float g = depth * u[i] + rest;
                l[i] = inL[i] * g;
                r[i] = inR[i] * g;
                flags |= NotFiniteFlag(l[i]) | NotFiniteFlag(r[i]);
              }
            }
            return flags;
          });
    }
  };

  static ShapeKernels<Kernel> BeginBlock(State& s, const BlockInfo& block, const Parameters& p) {
    s.mode = p.mode;
    s.osc.shape = p.shape;
    s.depth = p.depth;
    s.osc.phaseStep = p.rate * kTwoPi / kPhaseRate;
    UpdateSmoothing(s.osc, kSmoothingCutoff, block.sampleRate);
    return MakeShapeKernel<Kernel>(s.osc.shape, s);
  }
};

constexpr OptionEntry kModes[] = {{u"トレモロ", "Tremolo"}, {u"パンナー", "Auto-panner"}};

constexpr ItemEntry kItems[] = {
    SelectEntry(u"タイプ", "mode", "Mode", 0, kModes),
    SelectEntry(u"波形タイプ", "shape", "Waveform", 0, kWaveShapeOptions),
    TrackEntry(u"周期", "rate", "Rate (Hz)", 3.0, 0.1, 30.0, 0.01, Unit::kHz),
    TrackEntry(u"深さ", "depth", "Depth", 0.3, 0.0, 1.0, 0.01),
};
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kSlowPannerValues[] = {{kMode, 1}, {kRate, 1}, {kDepth, 1}};
constexpr PresetValue kSquareChopValues[] = {{kMode, 0}, {kShape, 2}, {kRate, 8}, {kDepth, 1}};
constexpr Preset kPresets[] = {
    {"slow-panner", "Slow auto-panner", "ゆっくりパンナー", kSlowPannerValues},
    {"square-chop", "Square chop", "矩形波で刻む", kSquareChopValues},
};

constexpr EffectInfo kInfo{
    .slug = "tremolo",
    .name = u"トレモロ/パンナー",
    .information = u"Velmor ミニオーディオエフェクト(トレモロ) " VELMOR_VERSION_TEXT,
    .english = "Velmor Tremolo/Auto-panner",
    .items = kItems,
    .description = "A tremolo, or an auto-panner that moves the sound between the channels, from one of five waveforms.",
    .category = Category::kTremolo,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<TremoloEffect>(kInfo);

}  // namespace velmor::tremolo
