// VelmorDistortion: high-pass pre-filter, 800 Hz character band, drive, hard
// clipper, low-pass tone filter and output level, in three types.
#include <algorithm>

#include "framework/block_frame.h"
#include "framework/descriptor.h"
#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"

namespace velmor {
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

const SelectOption kTypes[] = {
    {u"ディストーション", 0},
    {u"オーバードライブ", 1},
    {u"ファズ", 2},
    {nullptr, 0},
};

Track gLevel = MakeTrack(u"音量", 50.0, 0.0, 100.0, 1.0);
SelectItem gType = MakeSelect(u"タイプ", 0, kTypes);
Track gGain = MakeTrack(u"ゲイン", 50.0, 0.0, 100.0, 1.0);
Track gTone = MakeTrack(u"トーン", 0.5, 0.0, 1.0, 0.01);
Track gCharacter = MakeTrack(u"キャラクター", 0.0, 0.0, 10.0, 0.01);

struct DistortionEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  struct Maps {
    ObjectStateMap<BiquadSection> preLeft, preRight, characterLeft, characterRight, toneLeft, toneRight;
    LastFrameMap lastFrames;
  };

  struct Parameters {
    float level, gain, tone, character;
    int32_t type;
  };

  static Parameters ReadParameters() {
    return {Percent(ReadTrack(gLevel)), Percent(ReadTrack(gGain)), ReadTrack(gTone),
            ReadTrack(gCharacter), ReadSelect(gType)};
  }

  static bool IsNewObject(Maps& m, int64_t id) { return m.lastFrames.find(id) == m.lastFrames.end(); }
  static void CreateObject(Maps&, int64_t) {}  // the sections are created on first use

  static void ClearObject(Maps& m, int64_t id) {
    for (auto* map : {&m.preLeft, &m.preRight, &m.characterLeft, &m.characterRight, &m.toneLeft, &m.toneRight})
      ClearHistory((*map)[id]);
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
    }

    void Finish() {
      chains[0].Store(sections[0]);
      chains[1].Store(sections[1]);
    }
  };

  static Kernel BeginBlock(Maps& m, const BlockInfo& block, const Parameters& p) {
    const int64_t id = block.id;
    const float fs = block.sampleRate;
    const TypeSettings type = SettingsForType(p.type, p.gain);
    BiquadSection& preL = FindOrCreate(m.preLeft, id);
    BiquadSection& preR = FindOrCreate(m.preRight, id);
    SetHighPassCoefficients(preL, type.corner, kQ, fs);
    SetHighPassCoefficients(preR, type.corner, kQ, fs);
    BiquadSection& charL = FindOrCreate(m.characterLeft, id);
    BiquadSection& charR = FindOrCreate(m.characterRight, id);
    SetPeakingCoefficients(charL, kCharacterCentre, kCharacterWidth, p.character, fs);
    SetPeakingCoefficients(charR, kCharacterCentre, kCharacterWidth, p.character, fs);
    const float toneCorner = (p.tone * 7000.0f) * p.tone + 1000.0f;
    BiquadSection& toneL = FindOrCreate(m.toneLeft, id);
    BiquadSection& toneR = FindOrCreate(m.toneRight, id);
    SetLowPassCoefficients(toneL, toneCorner, kQ, fs);
    SetLowPassCoefficients(toneR, toneCorner, kQ, fs);
    BiquadSection* const left[3] = {&preL, &charL, &toneL};
    BiquadSection* const right[3] = {&preR, &charR, &toneR};
    return Kernel(left, right, type.drive, p.level);
  }
};

void* const kItems[] = {&gLevel.item, &gType, &gGain.item, &gTone.item, &gCharacter.item, nullptr};

}  // namespace

FilterPluginTable gPluginTable = MakeDescriptor(
    u"ディストーション/オーバードライブ", u"Velmor ミニオーディオエフェクト(ディストーション) " VELMOR_VERSION_TEXT,
    kItems, &ProcessAudioBlock<DistortionEffect>);

}  // namespace velmor
