// VelmorDistortion: high-pass pre-filter, 800 Hz character band, drive, hard
// clipper, low-pass tone filter and output level, in three types.
#include <algorithm>

#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"
#include "framework/dsp/biquad_lanes8.h"
#include "framework/dsp/cpu.h"
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

  // The three stages of both channels as a wavefront, three samples apart:
  // at step t the pre-filter (lane 0) works on sample t, the character band
  // (lane 1) on sample t - 3 and the tone filter (lane 2) on sample t - 6,
  // whose input is the clipped, driven character output. Each stage's input
  // is what its upstream stage made three steps earlier (kept in `made`), so
  // no step waits for the one before, not even through the drive and the
  // clipper. Each stage takes its samples in order: the outputs are those of
  // the stage-by-stage chain bit for bit, and the clipper needs no branch.
  // Lane 3 is idle.
  static constexpr int32_t kSkew = 3, kLag = 2 * kSkew;

  // The outputs of the last kSkew steps, the newest first, whichever lanes
  // were busy: a busy stage's input is its upstream stage's output kSkew
  // steps ago, when that stage was busy too.
  struct Made {
    Vec4 newest = Zero(), middle = Zero(), oldest = Zero();
    void Push(Vec4 y) { oldest = middle, middle = newest, newest = y; }
  };
#if defined(__x86_64__)
  struct Made8 {
    __m256 newest, middle, oldest;
    VELMOR_AVX void Push(__m256 y) { oldest = middle, middle = newest, newest = y; }
  };
#endif

  struct Kernel {
    BiquadSection* sections[2][4];
    float drive;
    float level;

    Kernel(BiquadSection* const (&left)[3], BiquadSection* const (&right)[3], float d, float v)
        : sections{{left[0], left[1], left[2], nullptr}, {right[0], right[1], right[2], nullptr}}, drive(d),
          level(v) {}

    // One channel's step, on its chain held in locals.
    template <bool kAllBusy>
    [[gnu::always_inline]] void Step(BiquadLanes& chain, Made& made, Vec4 driveLanes, float* channel,
                                     int32_t t, int32_t n) const {
      const float x = t < n ? channel[t] : 0.0f;
      const Vec4 in = Chain3(x, made.oldest, ClipUnit(made.oldest * driveLanes));
      if constexpr (kAllBusy)
        chain.Process(in);
      else
        chain.Process(in, WavefrontLanes(t, n, 0, kSkew));
      made.Push(chain.latest);
      if (t >= kLag) channel[t - kLag] = (Lane<2>(chain.y1) * level) * kOutputScale;
    }

    void Run(float* ch0, float* ch1, int32_t n) {
      if (n <= 0) return;
#if defined(__x86_64__)
      if (gVectorLevel != VectorLevel::kSse2) return RunAvx(ch0, ch1, n);
#endif
      // Locals, which no store to the channels can reach.
      BiquadLanes left(sections[0]), right(sections[1]);
      Made leftMade, rightMade;
      const Vec4 driveLanes = Splat(drive);
      int32_t t = 0;
      for (; t < std::min(kLag + 1, n); ++t) {
        Step<false>(left, leftMade, driveLanes, ch0, t, n);
        Step<false>(right, rightMade, driveLanes, ch1, t, n);
      }
      for (; t < n; ++t) {
        Step<true>(left, leftMade, driveLanes, ch0, t, n);
        Step<true>(right, rightMade, driveLanes, ch1, t, n);
      }
      for (; t < n + kLag; ++t) {
        Step<false>(left, leftMade, driveLanes, ch0, t, n);
        Step<false>(right, rightMade, driveLanes, ch1, t, n);
      }
      left.Store(sections[0]);
      right.Store(sections[1]);
    }

#if defined(__x86_64__)
    // Both channels in one AVX vector, channel 0 in the lower half: per half
    // [x, made0, clip(made1 * drive), -] into the three stages.
    template <bool kAllBusy>
    VELMOR_AVX void StepAvx(BiquadLanes8& chain, Made8& made, __m256 drive8, float* ch0, float* ch1,
                            int32_t t, int32_t n) const {
      const float x0 = t < n ? ch0[t] : 0.0f, x1 = t < n ? ch1[t] : 0.0f;
      const __m256 clipped =
          _mm256_min_ps(_mm256_set1_ps(1.0f), _mm256_max_ps(_mm256_set1_ps(-1.0f), _mm256_mul_ps(made.oldest, drive8)));
      const __m256 x = _mm256_set_m128(_mm_set_ss(x1), _mm_set_ss(x0));
      const __m256 in = _mm256_blend_ps(_mm256_shuffle_ps(made.oldest, clipped, _MM_SHUFFLE(1, 1, 0, 0)), x, 0x11);
      if constexpr (kAllBusy)
        chain.Process(in);
      else
        chain.Process(in, BothHalves(WavefrontLanes(t, n, 0, kSkew)));
      made.Push(chain.latest);
      if (t >= kLag) {
        ch0[t - kLag] = (LowHalfLane<2>(chain.y1) * level) * kOutputScale;
        ch1[t - kLag] = (HighHalfLane<2>(chain.y1) * level) * kOutputScale;
      }
    }

    __attribute__((target("avx"))) void RunAvx(float* ch0, float* ch1, int32_t n) {
      BiquadSection* const both[8] = {sections[0][0], sections[0][1], sections[0][2], nullptr,
                                      sections[1][0], sections[1][1], sections[1][2], nullptr};
      BiquadLanes8 chain = BiquadLanes8::Load(both);
      Made8 made{_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
      const __m256 drive8 = _mm256_set1_ps(drive);
      int32_t t = 0;
      for (; t < std::min(kLag + 1, n); ++t) StepAvx<false>(chain, made, drive8, ch0, ch1, t, n);
      for (; t < n; ++t) StepAvx<true>(chain, made, drive8, ch0, ch1, t, n);
      for (; t < n + kLag; ++t) StepAvx<false>(chain, made, drive8, ch0, ch1, t, n);
      chain.Store(both);
    }
#endif
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

constexpr OptionEntry kTypes[] = {
    {u"ディストーション", "Distortion"},
    {u"オーバードライブ", "Overdrive"},
    {u"ファズ", "Fuzz"},
};

constexpr ItemEntry kItems[] = {
    TrackEntry(u"音量", "level", "Level (%)", 50.0, 0.0, 100.0, 1.0),
    SelectEntry(u"タイプ", "type", "Type", 0, kTypes),
    TrackEntry(u"ゲイン", "gain", "Gain (%)", 50.0, 0.0, 100.0, 1.0),
    TrackEntry(u"トーン", "tone", "Tone", 0.5, 0.0, 1.0, 0.01),
    TrackEntry(u"キャラクター", "character", "Character (dB at 800 Hz)", 0.0, 0.0, 10.0, 0.01),
};

constexpr EffectInfo kInfo{"distortion", u"ディストーション/オーバードライブ",
                           u"Velmor ミニオーディオエフェクト(ディストーション) " VELMOR_VERSION_TEXT,
                           "Velmor Distortion/Overdrive", kItems};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<DistortionEffect>(kInfo);

}  // namespace velmor::distortion
