// VelmorEqualizer: eight peaking bands, an octave wide, at 100 Hz to 12800 Hz.
// The bands are always designed for 44100 Hz, whatever the host's rate.
#include <cstring>

#include "effects/equalizer/items.h"
#include "framework/dsp/biquad.h"
#include "framework/dsp/section_cascade.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::equalizer {
namespace {

constexpr int kBands = EightSectionCascade::kSections;
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

  // The eight bands of both channels, the 100 Hz band first. They start at
  // their 0 dB design with no history; `designedGains` are the gains they
  // were last designed for.
  struct State {
    EightSectionCascade bands;
    float designedGains[kBands] = {};
    State() {
      for (int k = 0; k < kBands; ++k) Design(*this, k, 0.0f);
    }
  };

  // Both channels of a band get the same design.
  static void Design(State& s, int band, float gain) {
    BiquadSection design;
    SetPeakingCoefficients(design, kBandTrig.band[band], kBandwidth, gain);
    s.bands.SetDesign(band, design);
    s.designedGains[band] = gain;
  }

  struct Parameters {
    float gains[kBands];
  };

  static Parameters ReadParameters(const ItemValues& v) {
    Parameters p;
    for (int k = 0; k < kBands; ++k) p.gains[k] = v.Track(static_cast<size_t>(kBand100 + k));
    return p;
  }

  static void ClearObject(State& s) { s.bands.ClearHistory(); }

  struct Kernel {
    EightSectionCascade& bands;
    bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      return bands.Run(in0, in1, out0, out1, n);
    }
  };

  // A band is designed again only when its gain changed (bit for bit).
  static Kernel BeginBlock(State& s, const BlockInfo&, const Parameters& p) {
    for (int k = 0; k < kBands; ++k)
      if (std::memcmp(&p.gains[k], &s.designedGains[k], sizeof(float)) != 0) Design(s, k, p.gains[k]);
    return Kernel{s.bands};
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
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kBassAndTrebleValues[] = {{kBand100, 12}, {kBand200, 6}, {kBand6400, 6}, {kBand12800, 12}};
constexpr PresetValue kVoiceValues[] = {{kBand100, -6}, {kBand200, -3}, {kBand1600, 3}, {kBand3200, 4}, {kBand6400, 2}};
constexpr Preset kPresets[] = {
    {"bass-and-treble", "Bass and treble", "低音と高音を強調", kBassAndTrebleValues},
    {"voice", "Voice presence", "声を聞き取りやすく", kVoiceValues},
};

constexpr EffectInfo kInfo{
    .slug = "equalizer",
    .name = u"イコライザー",
    .information = u"Velmor ミニオーディオエフェクト(イコライザー) " VELMOR_VERSION_TEXT,
    .english = "Velmor Equalizer",
    .items = kItems,
    .description = "An eight-band graphic equalizer: peaking bands an octave wide at 100 Hz to 12800 Hz, +-15 dB each.",
    .category = Category::kEqualizer,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<EqualizerEffect>(kInfo);

}  // namespace velmor::equalizer
