// VelmorEqualizer: eight peaking bands, an octave wide, at 100 Hz to 12800 Hz.
// The bands are always designed for 44100 Hz, whatever the host's rate.
#include <algorithm>
#include <cstring>

#include "framework/dsp/biquad.h"
#include "framework/dsp/biquad_lanes.h"
#include "framework/dsp/wavefront.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::equalizer {
namespace {

constexpr int kBands = 8;
constexpr float kCentres[kBands] = {100.0f, 200.0f, 400.0f, 800.0f, 1600.0f, 3200.0f, 6400.0f, 12800.0f};
constexpr float kBandwidth = 1.0f;
constexpr float kDesignRate = 44100.0f;

// The bands' centres at the fixed design rate: their sines and cosines are
// the same for every object and block, so they are taken once, at load.
struct BandTrig {
  DesignTrig band[kBands];
  BandTrig() {
    for (int k = 0; k < kBands; ++k) band[k] = MakeDesignTrig(kCentres[k], kDesignRate);
  }
};
const BandTrig kBandTrig;

struct EqualizerEffect {
  static constexpr bool kReadsSampleRate = false;
  static constexpr bool kClearsOnJump = false;

  // The eight bands of both channels, the 100 Hz band first: bands 0-3 in
  // `low`, 4-7 in `high`, one lane each. They start at their 0 dB design
  // with no history; `designedGains` are the gains they were last designed
  // for.
  struct State {
    BiquadLaneBank low, high;
    float designedGains[kBands] = {};
    State() {
      for (int k = 0; k < kBands; ++k) Design(*this, k, 0.0f);
    }
  };

  // Both channels of a band get the same design.
  static void Design(State& s, int band, float gain) {
    BiquadSection design;
    SetPeakingCoefficients(design, kBandTrig.band[band], kBandwidth, gain);
    (band < 4 ? s.low : s.high).SetDesign(band % 4, design);
    s.designedGains[band] = gain;
  }

  struct Parameters {
    float gains[kBands];
  };

  static Parameters ReadParameters(const ItemValues& v) {
    Parameters p;
    for (int k = 0; k < kBands; ++k) p.gains[k] = v.Track(static_cast<size_t>(k));
    return p;
  }

  static void ClearObject(State& s) {
    s.low.ClearHistory();
    s.high.ClearHistory();
  }

  // The eight bands of both channels as a wavefront, each band two samples
  // behind the band before it: at step t band k works on sample t - 2k. Its
  // input, the previous band's output for that sample, was made two steps
  // earlier (that band's y2, or its y1 once it has run out of samples), so
  // no step waits on the step before, and the eight bands of a step run four
  // to a vector. Bands 0-3 are `low`, 4-7 `high`.
  static constexpr int32_t kSkew = 2, kLag = kSkew * (kBands - 1);

  struct Kernel {
    BiquadLaneBank& low;
    BiquadLaneBank& high;

    // Returns whether an output was not finite. The last band's output feeds
    // back into each later one through its y1 term (a1 times an infinity or
    // a NaN is one or the other, and no sum with one is finite), so once an
    // output is not finite neither is any after it: the block's last output
    // tells, without reading the block back.
    bool Run(float* ch0, float* ch1, int32_t n) {
      RunWithWidestLanes(*this, ch0, ch1, n);
      return LastNotFinite(ch0, ch1, n);
    }

    template <class V>
    VELMOR_LANES void RunLanes(float* ch0, float* ch1, int32_t n) {
      // Locals, which no store to the channels can reach: they stay in
      // registers through the block.
      BiquadLanes<V> lows(low), highs(high);
      RunWavefront<kLag>(n, [&]<class Phase>(int32_t t) VELMOR_LANES_LAMBDA {
        const float x0 = t < n ? ch0[t] : 0.0f, x1 = t < n ? ch1[t] : 0.0f;
        if constexpr (Phase::kAllBusy) {
          if constexpr (BiquadLanes<V>::kFewRegisters) {
            // SSE2: a channel at a time, so that the step spills nothing.
            // The high bands' input is taken before the low bands move on.
            const Vec4 highIn0 = ShiftInLast(Channel<0>(lows.y2), Channel<0>(highs.y2));
            lows.template ProcessChannel<0>(ShiftIn(x0, Channel<0>(lows.y2)));
            highs.template ProcessChannel<0>(highIn0);
            const Vec4 highIn1 = ShiftInLast(Channel<1>(lows.y2), Channel<1>(highs.y2));
            lows.template ProcessChannel<1>(ShiftIn(x1, Channel<1>(lows.y2)));
            highs.template ProcessChannel<1>(highIn1);
          } else {
            const V lowIn = ShiftIn(x0, x1, lows.y2);
            const V highIn = ShiftInLast(lows.y2, highs.y2);
            lows.Process(lowIn);
            highs.Process(highIn);
          }
        } else {
          // A band that took no sample at the last step still holds the
          // output wanted now in y1.
          const V lowMade = Select(WavefrontBusy<V, Phase, 0, kSkew, 1>(t, n), lows.y2, lows.y1);
          const V highMade = Select(WavefrontBusy<V, Phase, 4, kSkew, 1>(t, n), highs.y2, highs.y1);
          lows.Process(ShiftIn(x0, x1, lowMade), WavefrontBusy<V, Phase, 0, kSkew>(t, n));
          highs.Process(ShiftInLast(lowMade, highMade), WavefrontBusy<V, Phase, 4, kSkew>(t, n));
        }
        if (t >= kLag) {
          const LanePair y = Lanes<V>::template LaneOfEach<3>(highs.y1);
          ch0[t - kLag] = y.ch0;
          ch1[t - kLag] = y.ch1;
        }
      });
      lows.Store();
      highs.Store();
    }
  };

  // A band is designed again only when its gain changed (bit for bit).
  static Kernel BeginBlock(State& s, const BlockInfo&, const Parameters& p) {
    for (int k = 0; k < kBands; ++k)
      if (std::memcmp(&p.gains[k], &s.designedGains[k], sizeof(float)) != 0) Design(s, k, p.gains[k]);
    return Kernel{s.low, s.high};
  }
};

constexpr ItemEntry kItems[kBands] = {
    TrackEntry(u"100Hz", "band_100", "100 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"200Hz", "band_200", "200 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"400Hz", "band_400", "400 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"800Hz", "band_800", "800 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"1600Hz", "band_1600", "1600 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"3200Hz", "band_3200", "3200 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"6400Hz", "band_6400", "6400 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
    TrackEntry(u"12800Hz", "band_12800", "12800 Hz gain (dB)", 0.0, -15.0, 15.0, 0.1, Unit::kDb),
};

constexpr EffectInfo kInfo{"equalizer", u"イコライザー",
                           u"Velmor ミニオーディオエフェクト(イコライザー) " VELMOR_VERSION_TEXT,
                           "Velmor Equalizer", kItems,
                           "An eight-band graphic equalizer: peaking bands an octave wide at 100 Hz to 12800 Hz, +-15 dB each."};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<EqualizerEffect>(kInfo);

}  // namespace velmor::equalizer
