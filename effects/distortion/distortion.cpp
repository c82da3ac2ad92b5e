// VelmorDistortion: high-pass pre-filter, 800 Hz character band, drive, hard
// clipper, low-pass tone filter and output level, in three types.
#include <algorithm>

#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::distortion {
namespace {

enum Item { kLevel, kType, kGain, kTone, kCharacter };

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

  // The three stages of each channel, identity sections until the first
  // block designs them.
  struct State {
    BiquadSection preLeft, preRight, characterLeft, characterRight, toneLeft, toneRight;
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

  static void ClearObject(State& s) {
    for (BiquadSection* section : {&s.preLeft, &s.preRight, &s.characterLeft, &s.characterRight, &s.toneLeft, &s.toneRight})
      ClearHistory(*section);
  }

  // The three stages of both channels as a wavefront, two samples apart: at
  // step t the pre-filter (lane 0) works on sample t, the character band
  // (lane 1) on sample t - 2 and the tone filter (lane 2) on sample t - 4,
  // whose input is the clipped, driven character output. Each stage's input
  // was made two steps earlier (its upstream stage's y2, or its y1 once the
  // upstream stage has run out of samples), so no step waits for the one
  // before. Each stage takes its samples in order: the outputs are those of
  // the stage-by-stage chain bit for bit, and the clipper needs no branch.
  // Lane 3 is idle.
  static constexpr int32_t kSkew = 2, kLag = 2 * kSkew;

  struct Kernel {
    BiquadSection* sections[2][4];
    BiquadLanes chains[2];
    Vec4 drive;
    float level;

    Kernel(BiquadSection* const (&left)[3], BiquadSection* const (&right)[3], float d, float v)
        : sections{{left[0], left[1], left[2], nullptr}, {right[0], right[1], right[2], nullptr}},
          chains{BiquadLanes(sections[0]), BiquadLanes(sections[1])}, drive(Splat(d)), level(v) {}

    template <bool kAllBusy>
    void Step(float* const (&channels)[2], int32_t t, int32_t n) {
      for (int c = 0; c < 2; ++c) {
        BiquadLanes& chain = chains[c];
        const float x = t < n ? channels[c][t] : 0.0f;
        if constexpr (kAllBusy) {
          chain.Process(Chain3(x, chain.y2, ClipUnit(chain.y2 * drive)));
        } else {
          // An upstream stage that took no sample at the last step still
          // holds the output wanted now in y1.
          const Vec4 made = Select(WavefrontLanes(t - 1, n, 0, kSkew), chain.y2, chain.y1);
          chain.Process(Chain3(x, made, ClipUnit(made * drive)), WavefrontLanes(t, n, 0, kSkew));
        }
        if (t >= kLag) channels[c][t - kLag] = (Lane<2>(chain.y1) * level) * kOutputScale;
      }
    }

    void Run(float* ch0, float* ch1, int32_t n) {
      if (n <= 0) return;
      float* const channels[2] = {ch0, ch1};
      int32_t t = 0;
      for (; t < std::min(kLag + 1, n); ++t) Step<false>(channels, t, n);
      for (; t < n; ++t) Step<true>(channels, t, n);
      for (; t < n + kLag; ++t) Step<false>(channels, t, n);
      chains[0].Store(sections[0]);
      chains[1].Store(sections[1]);
    }
  };

  // Both channels of a stage get the same design: made once, copied to the
  // right channel, and only when the stage's inputs changed.
  static Kernel BeginBlock(State& s, const BlockInfo& block, const Parameters& p) {
    const float fs = block.sampleRate;
    const TypeSettings type = SettingsForType(p.type, p.gain);
    if (s.preDesign.Changed(DesignKey(type.corner, fs))) {
      SetHighPassCoefficients(s.preLeft, type.corner, kQ, fs);
      CopyCoefficients(s.preLeft, s.preRight);
    }
    if (s.characterDesign.Changed(DesignKey(p.character, fs))) {
      SetPeakingCoefficients(s.characterLeft, kCharacterCentre, kCharacterWidth, p.character, fs);
      CopyCoefficients(s.characterLeft, s.characterRight);
    }
    const float toneCorner = (p.tone * 7000.0f) * p.tone + 1000.0f;
    if (s.toneDesign.Changed(DesignKey(toneCorner, fs))) {
      SetLowPassCoefficients(s.toneLeft, toneCorner, kQ, fs);
      CopyCoefficients(s.toneLeft, s.toneRight);
    }
    BiquadSection* const left[3] = {&s.preLeft, &s.characterLeft, &s.toneLeft};
    BiquadSection* const right[3] = {&s.preRight, &s.characterRight, &s.toneRight};
    return Kernel(left, right, type.drive, p.level);
  }
};

constexpr OptionSpec kTypes[] = {
    {u"ディストーション", "Distortion"},
    {u"オーバードライブ", "Overdrive"},
    {u"ファズ", "Fuzz"},
};

constexpr ItemSpec kItems[] = {
    TrackSpec(u"音量", "level", "Level (%)", 50.0, 0.0, 100.0, 1.0),
    SelectSpec(u"タイプ", "type", "Type", 0, kTypes),
    TrackSpec(u"ゲイン", "gain", "Gain (%)", 50.0, 0.0, 100.0, 1.0),
    TrackSpec(u"トーン", "tone", "Tone", 0.5, 0.0, 1.0, 0.01),
    TrackSpec(u"キャラクター", "character", "Character (dB at 800 Hz)", 0.0, 0.0, 10.0, 0.01),
};

constexpr EffectInfo kInfo{"distortion", u"ディストーション/オーバードライブ",
                           u"Velmor ミニオーディオエフェクト(ディストーション) " VELMOR_VERSION_TEXT,
                           "Velmor Distortion/Overdrive", kItems};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<DistortionEffect>(kInfo);

}  // namespace velmor::distortion
