// VelmorFilter: a resonant low-pass or high-pass filter at the host's sample
// rate, one section per channel and object.
#include "effects/filter/items.h"
#include "framework/dsp/biquad.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::filter {
namespace {

struct FilterEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  // One section per channel, identity sections until the first block.
  struct State {
    BiquadSection left, right;
    DesignMemo<4> design;  // type, cutoff, Q and rate of the latest design
  };

  struct Parameters {
    int32_t type;  // 0 low-pass, any other value high-pass
    float cutoff;
    float q;
  };

  static Parameters ReadParameters(const ItemValues& v) {
    return {v.Select(kType), v.Track(kCutoff), v.Track(kQuality)};
  }

  static void ClearObject(State& s) {
    ClearHistory(s.left);
    ClearHistory(s.right);
  }

  // The two channels' sections, each held in locals for the block: two
  // independent recurrences, which the processor runs side by side.
  struct Kernel {
    BiquadSection* sections[2];

    bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      BiquadRunner left(*sections[0]), right(*sections[1]);
      uint32_t notFinite = 0;
      for (int32_t i = 0; i < n; ++i) {
        const float l = left.Process(in0[i]), r = right.Process(in1[i]);
        notFinite |= static_cast<uint32_t>(NotFinite(l)) | static_cast<uint32_t>(NotFinite(r));
        out0[i] = l;
        out1[i] = r;
      }
      left.Store(*sections[0]);
      right.Store(*sections[1]);
      return notFinite != 0;
    }
  };

  // Both channels get the same design: made once, copied to channel 1.
  static Kernel BeginBlock(State& s, const BlockInfo& block, const Parameters& p) {
    const int32_t highPass = p.type != 0;
    if (s.design.Changed(DesignKey(highPass, p.cutoff, p.q, block.sampleRate))) {
      if (highPass)
        SetHighPassCoefficients(s.left, p.cutoff, p.q, block.sampleRate);
      else
        SetLowPassCoefficients(s.left, p.cutoff, p.q, block.sampleRate);
      CopyCoefficients(s.left, s.right);
    }
    return Kernel{{&s.left, &s.right}};
  }
};

constexpr OptionEntry kFilterTypes[] = {
    {u"ローパスフィルター", "Low-pass"},
    {u"ハイパスフィルター", "High-pass"},
};

constexpr ItemEntry kItems[] = {
    SelectEntry(u"フィルタタイプ", "type", "Filter type", 0, kFilterTypes),
    TrackEntry(u"カットオフ周波数", "cutoff", "Cutoff frequency (Hz)", 2000.0, 50.0, 18000.0, 1.0, Unit::kHz),
    TrackEntry(u"クォリティファクター", "q", "Quality factor (Q)", 1.0, 0.5, 5.0, 0.01),
};
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kTelephoneValues[] = {{kType, 1}, {kCutoff, 800}, {kQuality, 2}};
constexpr PresetValue kResonantLowPassValues[] = {{kType, 0}, {kCutoff, 1000}, {kQuality, 4}};
constexpr Preset kPresets[] = {
    {"telephone", "Telephone", "電話の声", kTelephoneValues},
    {"resonant-low-pass", "Resonant low-pass", "共振するローパス", kResonantLowPassValues},
};

constexpr EffectInfo kInfo{
    .slug = "filter",
    .name = u"ローパス/ハイパスフィルター",
    .information = u"Velmor ミニオーディオエフェクト(フィルター) " VELMOR_VERSION_TEXT,
    .english = "Velmor Low-pass/High-pass Filter",
    .items = kItems,
    .description = "A resonant second-order low-pass or high-pass filter.",
    .category = Category::kFilter,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<FilterEffect>(kInfo);

}  // namespace velmor::filter
