// VelmorDistortion: high-pass pre-filter, 800 Hz character band, drive, hard
// clipper, low-pass tone filter and output level, in three types.
#include "framework/block_frame.h"
#include "framework/descriptor.h"
#include "framework/dsp/biquad.h"

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

  // One channel's chain for the block.
  struct Chain {
    BiquadSection &preSection, &characterSection, &toneSection;
    BiquadRunner pre, character, tone;

    Chain(BiquadSection& p, BiquadSection& c, BiquadSection& t)
        : preSection(p), characterSection(c), toneSection(t), pre(p), character(c), tone(t) {}

    float Process(float x, float drive, float outputFactor) {
      const float h = pre.Process(x);
      const float p = character.Process(h);
      const float d = p * drive;
      const float k = d > 1.0f ? 1.0f : (d < -1.0f ? -1.0f : d);
      const float y = tone.Process(k);
      return (y * outputFactor) * kOutputScale;
    }
    void Store() {
      pre.Store(preSection);
      character.Store(characterSection);
      tone.Store(toneSection);
    }
  };

  struct Kernel {
    Chain left, right;
    float drive, level;
    void Process(float& s0, float& s1) {
      s0 = left.Process(s0, drive, level);
      s1 = right.Process(s1, drive, level);
    }
    void Finish() {
      left.Store();
      right.Store();
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
    return Kernel{Chain(preL, charL, toneL), Chain(preR, charR, toneR), type.drive, p.level};
  }
};

void* const kItems[] = {&gLevel.item, &gType, &gGain.item, &gTone.item, &gCharacter.item, nullptr};

}  // namespace

FilterPluginTable gPluginTable = MakeDescriptor(
    u"ディストーション/オーバードライブ", u"Velmor ミニオーディオエフェクト(ディストーション) " VELMOR_VERSION_TEXT,
    kItems, &ProcessAudioBlock<DistortionEffect>);

}  // namespace velmor
