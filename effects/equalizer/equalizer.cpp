// VelmorEqualizer: eight peaking bands, an octave wide, at 100 Hz to 12800 Hz.
// The bands are always designed for 44100 Hz, whatever the host's rate.
#include <algorithm>
#include <cstring>

#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::equalizer {
namespace {

constexpr int kBands = 8;
constexpr float kCentres[kBands] = {100.0f, 200.0f, 400.0f, 800.0f, 1600.0f, 3200.0f, 6400.0f, 12800.0f};
constexpr float kBandwidth = 1.0f;
constexpr float kDesignRate = 44100.0f;

// The eight bands of one channel, the 100 Hz band first.
struct EqualizerState {
  BiquadSection bands[kBands];
};

// The bands' centres at the fixed design rate: their sines and cosines are
// the same for every object and block, so they are taken once, at load.
struct BandTrig {
  PeakingTrig band[kBands];
  BandTrig() {
    for (int k = 0; k < kBands; ++k) band[k] = MakePeakingTrig(kCentres[k], kDesignRate);
  }
};
const BandTrig kBandTrig;

void UpdateEqualizerBands(EqualizerState& state, const float (&gains)[kBands]) {
  for (int k = 0; k < kBands; ++k) SetPeakingCoefficients(state.bands[k], kBandTrig.band[k], kBandwidth, gains[k]);
}

// Identity sections, then the 0 dB design of every band: a flat chain with no history.
void InitEqualizerState(EqualizerState& state) {
  for (BiquadSection& band : state.bands) band = BiquadSection{};
  const float flat[kBands] = {};
  UpdateEqualizerBands(state, flat);
}

struct EqualizerEffect {
  static constexpr bool kReadsSampleRate = false;
  static constexpr bool kClearsOnJump = false;

  // The two channels' chains, each starting flat with no history, and the
  // gain each band was last designed for.
  struct State {
    EqualizerState left, right;
    float designedGains[kBands] = {};
    State() {
      InitEqualizerState(left);
      InitEqualizerState(right);
    }
  };

  struct Parameters {
    float gains[kBands];
  };

  static Parameters ReadParameters(const ItemValues& v) {
    Parameters p;
    for (int k = 0; k < kBands; ++k) p.gains[k] = v.Track(static_cast<size_t>(k));
    return p;
  }

  static void ClearObject(State& s) {
    for (EqualizerState* channel : {&s.left, &s.right})
      for (BiquadSection& band : channel->bands) ClearHistory(band);
  }

  // The eight bands of both channels as a wavefront: at step t band k works on
  // sample t - k, so the eight bands of a step are independent and run four
  // to a vector. Each band still takes its samples in order and its input is
  // the previous band's output for the same sample, so every output is that of
  // the band-by-band chain bit for bit. Bands 0-3 are `low`, 4-7 `high`.
  struct Kernel {
    BiquadSection* lowSections[2][4];
    BiquadSection* highSections[2][4];
    BiquadLanes low[2], high[2];

    Kernel(EqualizerState& l, EqualizerState& r)
        : lowSections{{&l.bands[0], &l.bands[1], &l.bands[2], &l.bands[3]},
                      {&r.bands[0], &r.bands[1], &r.bands[2], &r.bands[3]}},
          highSections{{&l.bands[4], &l.bands[5], &l.bands[6], &l.bands[7]},
                       {&r.bands[4], &r.bands[5], &r.bands[6], &r.bands[7]}},
          low{BiquadLanes(lowSections[0]), BiquadLanes(lowSections[1])},
          high{BiquadLanes(highSections[0]), BiquadLanes(highSections[1])} {}

    template <bool kAllBusy>
    void Step(float* const (&channels)[2], int32_t t, int32_t n) {
      for (int c = 0; c < 2; ++c) {
        const float x = t < n ? channels[c][t] : 0.0f;
        const Vec4 lowIn = ShiftIn(x, low[c].y1);
        const Vec4 highIn = ShiftInLast(low[c].y1, high[c].y1);
        if constexpr (kAllBusy) {
          low[c].Process(lowIn);
          high[c].Process(highIn);
        } else {
          low[c].Process(lowIn, WavefrontLanes(t, n, 0));
          high[c].Process(highIn, WavefrontLanes(t, n, 4));
        }
        if (t >= kBands - 1) channels[c][t - (kBands - 1)] = Lane<3>(high[c].y1);
      }
    }

    void Run(float* ch0, float* ch1, int32_t n) {
      if (n <= 0) return;
      float* const channels[2] = {ch0, ch1};
      const int32_t fill = kBands - 1, steps = n + fill;
      int32_t t = 0;
      for (; t < std::min(fill, n); ++t) Step<false>(channels, t, n);
      for (; t < n; ++t) Step<true>(channels, t, n);
      for (; t < steps; ++t) Step<false>(channels, t, n);
      for (int c = 0; c < 2; ++c) {
        low[c].Store(lowSections[c]);
        high[c].Store(highSections[c]);
      }
    }
  };

  // Both channels get the same coefficients; a band is designed again only
  // when its gain changed (bit for bit), once, and copied to channel 1.
  static Kernel BeginBlock(State& s, const BlockInfo&, const Parameters& p) {
    for (int k = 0; k < kBands; ++k) {
      if (std::memcmp(&p.gains[k], &s.designedGains[k], sizeof(float)) == 0) continue;
      SetPeakingCoefficients(s.left.bands[k], kBandTrig.band[k], kBandwidth, p.gains[k]);
      CopyCoefficients(s.left.bands[k], s.right.bands[k]);
      s.designedGains[k] = p.gains[k];
    }
    return Kernel(s.left, s.right);
  }
};

constexpr ItemSpec kItems[kBands] = {
    TrackSpec(u"100Hz", "band_100", "100 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"200Hz", "band_200", "200 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"400Hz", "band_400", "400 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"800Hz", "band_800", "800 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"1600Hz", "band_1600", "1600 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"3200Hz", "band_3200", "3200 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"6400Hz", "band_6400", "6400 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
    TrackSpec(u"12800Hz", "band_12800", "12800 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1),
};

constexpr EffectInfo kInfo{"equalizer", u"イコライザー",
                           u"Velmor ミニオーディオエフェクト(イコライザー) " VELMOR_VERSION_TEXT,
                           "Velmor Equalizer", kItems};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<EqualizerEffect>(kInfo);

}  // namespace velmor::equalizer
