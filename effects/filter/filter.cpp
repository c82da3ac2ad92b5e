// VelmorFilter: a resonant low-pass or high-pass filter at the host's sample
// rate, one section per channel and object.
#include "framework/block_frame.h"
#include "framework/descriptor.h"
#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"

namespace velmor {
namespace {

const SelectOption kFilterTypes[] = {
    {u"ローパスフィルター", 0},
    {u"ハイパスフィルター", 1},
    {nullptr, 0},
};

SelectItem gFilterType = MakeSelect(u"フィルタタイプ", 0, kFilterTypes);
Track gCutoff = MakeTrack(u"カットオフ周波数", 2000.0, 50.0, 18000.0, 1.0);
Track gQuality = MakeTrack(u"クォリティファクター", 1.0, 0.5, 5.0, 0.01);

struct FilterEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = false;

  struct Maps {
    ObjectStateMap<BiquadSection> left, right;
    LastFrameMap lastFrames;
  };

  struct Parameters {
    int32_t type;  // 0 low-pass, any other value high-pass
    float cutoff;
    float q;
  };

  static Parameters ReadParameters() {
    return {ReadSelect(gFilterType), ReadTrack(gCutoff), ReadTrack(gQuality)};
  }

  static bool IsNewObject(Maps& m, int64_t id) { return !Contains(m.left, id) || !Contains(m.right, id); }

  static void CreateObject(Maps& m, int64_t id) {
    Reset(m.left, id);
    Reset(m.right, id);
  }

  static void ClearObject(Maps& m, int64_t id) {
    ClearHistory(m.left[id]);
    ClearHistory(m.right[id]);
  }

  // Both channels' sections side by side, channel 0 in lane 0.
  struct Kernel {
    BiquadSection* sections[4];
    BiquadLanes lanes;

    Kernel(BiquadSection& l, BiquadSection& r) : sections{&l, &r, nullptr, nullptr}, lanes(sections) {}

    void Process(float& s0, float& s1) {
      const Vec4 y = lanes.Process(Set(s0, s1, 0.0f, 0.0f));
      s0 = Lane<0>(y);
      s1 = Lane<1>(y);
    }
    void Finish() { lanes.Store(sections); }
  };

  static Kernel BeginBlock(Maps& m, const BlockInfo& block, const Parameters& p) {
    BiquadSection& l = m.left[block.id];
    BiquadSection& r = m.right[block.id];
    for (BiquadSection* s : {&l, &r}) {
      if (p.type == 0)
        SetLowPassCoefficients(*s, p.cutoff, p.q, block.sampleRate);
      else
        SetHighPassCoefficients(*s, p.cutoff, p.q, block.sampleRate);
    }
    return Kernel(l, r);
  }
};

void* const kItems[] = {&gFilterType, &gCutoff.item, &gQuality.item, nullptr};

}  // namespace

FilterPluginTable gPluginTable =
    MakeDescriptor(u"ローパス/ハイパスフィルター",
                   u"Velmor ミニオーディオエフェクト(フィルター) " VELMOR_VERSION_TEXT, kItems,
                   &ProcessAudioBlock<FilterEffect>);

}  // namespace velmor
