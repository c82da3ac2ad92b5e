// VelmorDistortion: high-pass pre-filter, 800 Hz character band, drive, hard
// clipper, low-pass tone filter and output level, in three types.
#include <algorithm>
#include <cmath>

#include "effects/distortion/items.h"
#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"
#include "framework/dsp/wavefront.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::distortion {
namespace {

constexpr float kQ = 0.8f;                  // every section of this effect
constexpr float kCharacterCentre = 800.0f;  // Hz
constexpr float kCharacterWidth = 0.3f;     // octaves
constexpr float kOutputScale = 0.2f;

// Pre-filter corner and drive of a type at gain g (0 to 1), in single precision.
struct TypeSettings {
  float corner;
  float drive;
};

TypeSettings SettingsForType(int32_t type, float g) {
  switch (type) {
    case 0: return {(g * g) * 300.0f + 100.0f, 500.0f * g + 100.0f};  // distortion
    case 1: return {(g * g) * 100.0f + 100.0f, 90.0f * g + 10.0f};    // overdrive
    case 2: return {10.0f, 500.0f * g + 100.0f};                      // fuzz
    default: return {10.0f, g + 1.0f};
  }
}

// Percent item value to a factor: rounded to single, divided in double, rounded again.
float Percent(float value) { return static_cast<float>(static_cast<double>(value) / 100.0); }

struct DistortionEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  // The three stages of both channels, one lane each (pre-filter,
  // character band, tone filter; lane 3 idle), passing their input until the
  // first block designs them.
  enum Lane { kPreLane, kCharacterLane, kToneLane };
  struct State {
    BiquadLaneBank stages;
    DesignMemo<2> preDesign, characterDesign, toneDesign;  // each stage's corner or gain, and rate
  };

  struct Parameters {
    float level, gain, tone, character;
    int32_t type;
  };

  static Parameters ReadParameters(const ItemValues& v) {
    return {Percent(v.Track(kLevel)), Percent(v.Track(kGain)), v.Track(kTone), v.Track(kCharacter),
            v.Select(kType)};
  }

  static void ClearObject(State& s) { s.stages.ClearHistory(); }

  // The three stages of both channels as a wavefront: at step t the
  // pre-filter (lane 0) works on sample t, the character band (lane 1) on
  // sample t - 2 and the tone filter (lane 2) on sample t - 5. Each stage's
  // input is what its upstream stage made two steps earlier (the character
  // band's) or three (the tone filter's, whose input also passes the drive
  // and the clipper): no step waits for the one before, and the clipper
  // needs no branch. Lane 3 is idle.
  static constexpr int32_t kCharacterOffset = 2, kToneOffset = 5, kLag = kToneOffset;
  static constexpr int32_t kIdleOffset = kLag + 1;  // lane 3's history is never read

  struct Kernel {
    BiquadLaneBank& sections;
    float drive;
    float level;

    // Returns whether an output was not finite. An output is the tone
    // filter's times a level, then times kOutputScale: with a level in
    // [-1, 1] it is finite exactly when the tone filter's is, and once that
    // is not, the filter's y1 term keeps every later one so (q3 times an
    // infinity or a NaN is one or the other, and no sum with one is
    // finite). So the block's last output tells. A level beyond that, which
    // a host may pass, could overflow a finite output: such a block is read
    // back.
    bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      RunWithWidestLanes(*this, in0, in1, out0, out1, n);
      if (!(std::fabs(level) <= 1.0f)) return AnyNotFinite(out0, out1, n);
      return LastNotFinite(out0, out1, n);
    }

    template <class V>
    VELMOR_LANES void RunLanes(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      // Locals, which no store to the outputs can reach.
      BiquadLanes<V> stages(sections);
      // The stages' outputs of the last three steps, whichever lanes were
      // busy: a busy stage's input is its upstream stage's output two or
      // three steps ago, when that stage was busy too.
      V newest = Lanes<V>::Zero(), middle = Lanes<V>::Zero(), oldest = Lanes<V>::Zero();
      const V drives = Lanes<V>::Splat(drive);
      const float outputLevel = level;
      RunWavefront<kLag>(n, [&]<class Phase>(int32_t t) VELMOR_LANES_LAMBDA {
        const float x0 = t < n ? in0[t] : 0.0f, x1 = t < n ? in1[t] : 0.0f;
        // [x, pre-filter output, clipped drive of the character output].
        const V clipped = ClipUnit(oldest * drives);
        const V in = Chain3(x0, x1, middle, clipped);
        if constexpr (Phase::kAllBusy)
          stages.Process(in);
        else
          stages.Process(in, WavefrontBusyAt<V, Phase, 0, kCharacterOffset, kToneOffset, kIdleOffset>(t, n));
        oldest = middle, middle = newest, newest = stages.latest;
        if (t >= kLag) {
          const LanePair tone = Lanes<V>::template LaneOfEach<2>(stages.y1);
          out0[t - kLag] = (tone.ch0 * outputLevel) * kOutputScale;
          out1[t - kLag] = (tone.ch1 * outputLevel) * kOutputScale;
        }
      });
      stages.Store();
    }
  };

  // Both channels of a stage get the same design, made only when the
  // stage's inputs changed.
  static Kernel BeginBlock(State& s, const BlockInfo& block, const Parameters& p) {
    const float fs = block.sampleRate;
    const TypeSettings type = SettingsForType(p.type, p.gain);
    BiquadSection design;
    if (s.preDesign.Changed(DesignKey(type.corner, fs))) {
      SetHighPassCoefficients(design, type.corner, kQ, fs);
      s.stages.SetDesign(kPreLane, design);
    }
    if (s.characterDesign.Changed(DesignKey(p.character, fs))) {
      SetPeakingCoefficients(design, kCharacterCentre, kCharacterWidth, p.character, fs);
      s.stages.SetDesign(kCharacterLane, design);
    }
    const float toneCorner = (p.tone * 7000.0f) * p.tone + 1000.0f;
    if (s.toneDesign.Changed(DesignKey(toneCorner, fs))) {
      SetLowPassCoefficients(design, toneCorner, kQ, fs);
      s.stages.SetDesign(kToneLane, design);
    }
    return Kernel{s.stages, type.drive, p.level};
  }
};

constexpr OptionEntry kTypes[] = {
    {u"ディストーション", "Distortion"},
    {u"オーバードライブ", "Overdrive"},
    {u"ファズ", "Fuzz"},
};

constexpr ItemEntry kItems[] = {
    TrackEntry(u"音量", "level", "Level (%)", 50.0, 0.0, 100.0, 1.0, Unit::kPercent),
    SelectEntry(u"タイプ", "type", "Type", 0, kTypes),
    TrackEntry(u"ゲイン", "gain", "Gain (%)", 50.0, 0.0, 100.0, 1.0, Unit::kPercent),
    TrackEntry(u"トーン", "tone", "Tone", 0.5, 0.0, 1.0, 0.01),
    TrackEntry(u"キャラクター", "character", "Character (dB at 800 Hz)", 0.0, 0.0, 10.0, 0.01, Unit::kDb),
};
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kFuzzValues[] = {{kType, 2}, {kGain, 90}, {kTone, 0.8}, {kLevel, 60}};
constexpr PresetValue kWarmOverdriveValues[] = {{kType, 1}, {kGain, 40}, {kTone, 0.3}, {kLevel, 70}};
constexpr Preset kPresets[] = {
    {"fuzz", "Heavy fuzz", "強いファズ", kFuzzValues},
    {"warm-overdrive", "Warm overdrive", "温かいオーバードライブ", kWarmOverdriveValues},
};

constexpr EffectInfo kInfo{
    .slug = "distortion",
    .name = u"ディストーション/オーバードライブ",
    .information = u"Velmor ミニオーディオエフェクト(ディストーション) " VELMOR_VERSION_TEXT,
    .english = "Velmor Distortion/Overdrive",
    .items = kItems,
    .description = "Distortion, overdrive and fuzz from a pre-filter, an 800 Hz character band, drive into a hard clipper and a tone filter.",
    .category = Category::kDistortion,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<DistortionEffect>(kInfo);

}  // namespace velmor::distortion
