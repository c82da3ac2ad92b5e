// VelmorModulator: ring modulation (a gain that follows the waveform) and FM
// (a delay line whose tap the waveform sweeps), from the smoothed waveform
// oscillator with its smoothing at 12000 Hz. Each mode keeps its own record.
#include <algorithm>
#include <cmath>

#include "effects/modulator/items.h"
#include "effects/wave_shapes.h"
#include "framework/dsp/stereo_ring.h"
#include "framework/dsp/vec4.h"
#include "framework/dsp/waveform_oscillator.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::modulator {
namespace {

constexpr float kSmoothingCutoff = 12000.0f;
constexpr int32_t kLineLength = 1000;
constexpr int32_t kTapLead = 500;  // write index ahead of the read index
constexpr float kMaxExcursion = 1000.0f;  // slots of tap offset at full depth and full waveform
// Within the slider the tap offset stays within about -123 to 1123 slots. An
// unstable smoothing section or a far larger depth is limited here, before the
// conversion to int32, so the conversion is always defined.
constexpr float kLargestOffset = 1.0e6f;

// What each mode keeps of its modulation between blocks: the oscillator
// and the rate its next phase step divides by.
struct Modulation {
  WaveformOscillator osc;
  float lastSampleRate = 44100.0f;
};

using ModDelayLine = StereoRing<kLineLength>;

struct FmModState {
  Modulation mod;
  ModDelayLine line{0, kTapLead};
};

// The shape stored; the phase step divides by the rate of the record's
// previous block; then the smoothing update at this block's rate.
void PrepareOscillator(Modulation& m, int32_t shape, float frequency, float sampleRate) {
  m.osc.shape = shape;
  m.osc.phaseStep = kTwoPi * frequency / m.lastSampleRate;
  UpdateSmoothing(m.osc, kSmoothingCutoff, sampleRate);
  m.lastSampleRate = sampleRate;
}

// The taps of m samples from the oscillator's values u: for sample i the tap
// offset D = (depth * 1000) * u[i], limited to the offsets' limit (NaN to its
// negative end), k = D truncated, the weight D - k and the two slots
// readIndex + i + k and the one after, modulo the line's length. Four lanes
// at a time: the slot is reduced without a division. Within the limit the
// index is below 2^24, so it converts to single precision exactly, and the
// quotient index * 0.001f truncates to the true one (a multiple of 1000
// gives a quotient a little above the integer, anything else lies at least
// 0.001 from one); the remainder then lies between -999 and 999.
void TapPositions(const float* u, int m, float excursion, int32_t readIndex, float* weight, int32_t* slot0,
                  int32_t* slot1) {
  int i = 0;
  const Vec4 scale = Splat(excursion), low = Splat(-kLargestOffset), high = Splat(kLargestOffset);
  const Vec4 inverseLength = Splat(0.001f);
  const Int4 length = SplatInt(kLineLength), one = SplatInt(1), lanes = SetInt(0, 1, 2, 3);
  for (; i + 4 <= m; i += 4) {
    const Vec4 D = Min(Max(scale * Load(u + i), low), high);  // Max keeps `low` when D is NaN
    const Int4 k = Truncate(D);
    Store(weight + i, D - ToFloat(k));
    const Int4 index = (SplatInt(readIndex + i) + lanes) + k;
    const Int4 q = Truncate(ToFloat(index) * inverseLength);
    // q * 1000 = q * 1024 - q * 16 - q * 8
    const Int4 q1000 = (ShiftLeft<10>(q) - ShiftLeft<4>(q)) - ShiftLeft<3>(q);
    const Int4 r = AddWhereNegative(index - q1000, length);
    Store(slot0 + i, r);
    // The slot after: r + 1, or 0 after the last slot.
    Store(slot1 + i, ZeroWhereEqual(r + one, length));
  }
  for (; i < m; ++i) {
    float D = excursion * u[i];
    if (!(D >= -kLargestOffset)) D = -kLargestOffset;  // NaN too
    if (D > kLargestOffset) D = kLargestOffset;
    const int32_t k = static_cast<int32_t>(D);
    weight[i] = D - static_cast<float>(k);
    slot0[i] = ModDelayLine::Wrap(readIndex + i + k);
    slot1[i] = ModDelayLine::Wrap(readIndex + i + k + 1);
  }
}

struct ModulatorEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  // Each mode's record. Neither is touched before the object's first block
  // in its mode, so both start as new records whenever that block comes.
  struct State {
    Modulation ring;
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
    ClearHistory(s.ring.osc.smoother);
    ClearHistory(s.fm.mod.osc.smoother);
    s.fm.line.Clear();
  }

  // Any mode but 0 and 1: the audio passes untouched and no record is touched.
  struct PassThrough {
    void Run(float*, float*, int32_t) {}
  };

  template <int kShape>
  struct RingKernel {
    Modulation& state;
    float depth;

    bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      // Copied into the run's lambda, so that no store to the outputs can
      // change them.
      const float d = depth, rest = 1.0f - depth;
      return ModulateInRuns<kShape>(
          state.osc, in0, in1, out0, out1, n,
          [=](const float* u, const float* inL, const float* inR, float* l, float* r, int m) {
            uint32_t flags = 0;
            for (int i = 0; i < m; ++i) {
              const float gain = u[i] * d + rest;
              l[i] = inL[i] * gain;
              r[i] = inR[i] * gain;
              flags |= NotFiniteFlag(l[i]) | NotFiniteFlag(r[i]);
            }
            return flags;
          });
    }
  };

  // The swept taps of both lines, a run at a time: the oscillator's values,
  // then the tap positions and weights of the run (a pass that the compiler
  // runs several lanes at once), then the reads and writes of the lines in
  // sample order.
  template <int kShape>
  struct FmKernel {
    FmModState& state;
    float depth;

    void Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      OscillatorRunner<kShape> osc(state.mod.osc);
      const float excursion = depth * kMaxExcursion;
      int32_t readIndex = state.line.readIndex, writeIndex = state.line.writeIndex;
      float* left = state.line.left;
      float* right = state.line.right;
      float u[kOscillatorChunk], weight[kOscillatorChunk];
      int32_t slot0[kOscillatorChunk], slot1[kOscillatorChunk];
      for (int32_t start = 0; start < n; start += kOscillatorChunk) {
        const int m = static_cast<int>(std::min<int32_t>(kOscillatorChunk, n - start));
        osc.Fill(u, m);
        TapPositions(u, m, excursion, readIndex, weight, slot0, slot1);
        const float* inL = in0 + start;
        const float* inR = in1 + start;
        float* l = out0 + start;
        float* r = out1 + start;
        for (int i = 0; i < m; ++i) {
          const float w = weight[i];
          const float yL = (1.0f - w) * left[slot0[i]] + w * left[slot1[i]];
          const float yR = (1.0f - w) * right[slot0[i]] + w * right[slot1[i]];
          left[writeIndex] = inL[i];
          right[writeIndex] = inR[i];
          writeIndex = ModDelayLine::Next(writeIndex);
          l[i] = yL;
          r[i] = yR;
        }
        readIndex = (readIndex + m) % kLineLength;
      }
      osc.Store(state.mod.osc);
      state.line.readIndex = readIndex;
      state.line.writeIndex = writeIndex;
    }
  };

  using Kernel = std::variant<PassThrough, ShapeKernels<RingKernel>, ShapeKernels<FmKernel>>;

  static Kernel BeginBlock(State& state, const BlockInfo& block, const Parameters& p) {
    if (p.mode == 0) {
      const float frequency = static_cast<float>(static_cast<double>(p.period) / 10.0);
      PrepareOscillator(state.ring, p.shape, frequency, block.sampleRate);
      return MakeShapeKernel<RingKernel>(p.shape, state.ring, p.depth);
    }
    if (p.mode == 1) {
      PrepareOscillator(state.fm.mod, p.shape, p.period, block.sampleRate);
      return MakeShapeKernel<FmKernel>(p.shape, state.fm, p.depth);
    }
    return PassThrough{};
  }
};

constexpr OptionEntry kModes[] = {{u"リングモジュレーター", "Ring modulator"}, {u"FMモジュレーター", "FM modulator"}};

constexpr ItemEntry kItems[] = {
    SelectEntry(u"タイプ", "mode", "Mode", 0, kModes),
    SelectEntry(u"波形タイプ", "shape", "Waveform", 0, kWaveShapeOptions),
    TrackEntry(u"周期", "speed", "Speed (ring: Hz x 10, FM: Hz)", 800.0, 50.0, 6000.0, 0.01),
    TrackEntry(u"深さ", "depth", "Depth", 0.3, 0.0, 1.0, 0.01),
};
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kRing300Values[] = {{kMode, 0}, {kPeriod, 3000}, {kDepth, 1}};
constexpr PresetValue kFmVibratoValues[] = {{kMode, 1}, {kShape, 0}, {kPeriod, 50}, {kDepth, 0.02}};
constexpr Preset kPresets[] = {
    {"ring-300", "Ring modulator at 300 Hz", "リングモジュレーター 300 Hz", kRing300Values},
    {"fm-vibrato", "Gentle FM vibrato", "やわらかい FM ビブラート", kFmVibratoValues},
};

constexpr EffectInfo kInfo{
    .slug = "modulator",
    .name = u"モジュレーター",
    .information = u"Velmor ミニオーディオエフェクト(モジュレーター) " VELMOR_VERSION_TEXT,
    .english = "Velmor Modulator",
    .items = kItems,
    .description = "A ring modulator (a gain that follows a waveform) and an FM modulator (a delay swept by the waveform).",
    .category = Category::kModulator,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<ModulatorEffect>(kInfo);

}  // namespace velmor::modulator
