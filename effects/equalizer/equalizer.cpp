// VelmorEqualizer: eight peaking bands, an octave wide, at 100 Hz to 12800 Hz.
// The bands are always designed for 44100 Hz, whatever the host's rate.
#include "framework/block_frame.h"
#include "framework/descriptor.h"
#include "framework/dsp/biquad.h"

namespace velmor {
namespace {

constexpr int kBands = 8;
constexpr float kCentres[kBands] = {100.0f, 200.0f, 400.0f, 800.0f, 1600.0f, 3200.0f, 6400.0f, 12800.0f};
constexpr float kBandwidth = 1.0f;
constexpr float kDesignRate = 44100.0f;

// The eight bands of one channel, the 100 Hz band first.
struct EqualizerState {
  BiquadSection bands[kBands];
};

void UpdateEqualizerBands(EqualizerState& state, const float (&gains)[kBands]) {
  for (int k = 0; k < kBands; ++k)
    SetPeakingCoefficients(state.bands[k], kCentres[k], kBandwidth, gains[k], kDesignRate);
}

// Identity sections, then the 0 dB design of every band: a flat chain with no history.
void InitEqualizerState(EqualizerState& state) {
  for (BiquadSection& band : state.bands) band = BiquadSection{};
  const float flat[kBands] = {};
  UpdateEqualizerBands(state, flat);
}

[[maybe_unused]] float ProcessEqualizerSample(EqualizerState& state, float x) {
  for (BiquadSection& band : state.bands) x = ProcessBiquadSample(band, x);
  return x;
}

Track gGains[kBands] = {
    MakeTrack(u"100Hz", 0.0, -15.0, 15.0, 0.1),  MakeTrack(u"200Hz", 0.0, -15.0, 15.0, 0.1),
    MakeTrack(u"400Hz", 0.0, -15.0, 15.0, 0.1),  MakeTrack(u"800Hz", 0.0, -15.0, 15.0, 0.1),
    MakeTrack(u"1600Hz", 0.0, -15.0, 15.0, 0.1), MakeTrack(u"3200Hz", 0.0, -15.0, 15.0, 0.1),
    MakeTrack(u"6400Hz", 0.0, -15.0, 15.0, 0.1), MakeTrack(u"12800Hz", 0.0, -15.0, 15.0, 0.1),
};

struct EqualizerEffect {
  static constexpr bool kReadsSampleRate = false;
  static constexpr bool kClearsOnJump = false;

  struct Maps {
    ObjectStateMap<EqualizerState> left, right;
    LastFrameMap lastFrames;
  };

  struct Parameters {
    float gains[kBands];
  };

  static Parameters ReadParameters() {
    Parameters p;
    for (int k = 0; k < kBands; ++k) p.gains[k] = ReadTrack(gGains[k]);
    return p;
  }

  static bool IsNewObject(Maps& m, int64_t id) { return !Contains(m.left, id) || !Contains(m.right, id); }

  static void CreateObject(Maps& m, int64_t id) {
    InitEqualizerState(FindOrCreate(m.left, id));
    InitEqualizerState(FindOrCreate(m.right, id));
  }

  static void ClearObject(Maps& m, int64_t id) {
    for (EqualizerState* s : {&m.left[id], &m.right[id]})
      for (BiquadSection& band : s->bands) ClearHistory(band);
  }

  // The chain of one channel with its quotients formed for the block.
  struct Chain {
    EqualizerState& state;
    BiquadRunner bands[kBands];

    explicit Chain(EqualizerState& s)
        : state(s),
          bands{BiquadRunner(s.bands[0]), BiquadRunner(s.bands[1]), BiquadRunner(s.bands[2]),
                BiquadRunner(s.bands[3]), BiquadRunner(s.bands[4]), BiquadRunner(s.bands[5]),
                BiquadRunner(s.bands[6]), BiquadRunner(s.bands[7])} {}

    float Process(float x) {
      for (BiquadRunner& band : bands) x = band.Process(x);
      return x;
    }
    void Store() {
      for (int k = 0; k < kBands; ++k) bands[k].Store(state.bands[k]);
    }
  };

  struct Kernel {
    Chain left, right;
    void Process(float& s0, float& s1) {
      s0 = left.Process(s0);
      s1 = right.Process(s1);
    }
    void Finish() {
      left.Store();
      right.Store();
    }
  };

  static Kernel BeginBlock(Maps& m, const BlockInfo& block, const Parameters& p) {
    EqualizerState& l = m.left[block.id];
    EqualizerState& r = m.right[block.id];
    UpdateEqualizerBands(l, p.gains);
    UpdateEqualizerBands(r, p.gains);
    return Kernel{Chain(l), Chain(r)};
  }
};

void* const kItems[] = {&gGains[0].item, &gGains[1].item, &gGains[2].item, &gGains[3].item,
                        &gGains[4].item, &gGains[5].item, &gGains[6].item, &gGains[7].item,
                        nullptr};

}  // namespace

FilterPluginTable gPluginTable =
    MakeDescriptor(u"イコライザー", u"Velmor ミニオーディオエフェクト(イコライザー) " VELMOR_VERSION_TEXT,
                   kItems, &ProcessAudioBlock<EqualizerEffect>);

}  // namespace velmor
