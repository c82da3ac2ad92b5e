// VelmorPitchShifter: a two-head delay-line pitch shifter with 101-sample
// crossfades, mixed with the dry signal. Lengths are in samples; the host's
// sample rate is never read.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "effects/pitch_shifter/items.h"
#include "framework/dsp/exact_math.h"
#include "framework/dsp/stereo_ring.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::pitch_shifter {
namespace {

constexpr int32_t kRingLength = 3000;
constexpr int32_t kRestingDistance = 1000;  // write slot ahead of the read slot
constexpr double kCrossfadeStart = 800.0;   // head offset that starts a crossfade
constexpr float kFadeStep = 0.01f;
// The slider reaches a drift of 3 (+24 semitones). A crossfade lasts 101
// samples and ends with the main head about 102 drifts from the read index;
// above a drift of about 7.8 it would end past the crossfade threshold, a new
// one would start at once, the second head would never be set back, and the
// heads would run on without bound until their int32 offsets overflowed. So
// the drift is held at 7, which keeps every crossfade ending inside the range
// and leaves every slider setting untouched.
constexpr float kLargestDrift = 7.0f;

using ShiftRing = StereoRing<kRingLength>;

struct PitchShifterState {
  float drift = 0.18920712f;  // pitch ratio minus one
  float fade = 1.0f;          // weight of the second head during a crossfade
  ShiftRing ring{0, kRestingDistance};
  double offsetA = 0.0;  // main head, relative to readIndex
  double offsetB = 0.0;  // second head, relative to readIndex
  float driftPitch = std::numeric_limits<float>::quiet_NaN();  // the pitch drift was made from; none yet
};

// A head's two taps and weights, the same for both channels.
struct Head {
  int32_t slot0, slot1;
  float weight0, weight1;

  Head(double offset, int32_t readIndex) {
    const int32_t i0 = static_cast<int32_t>(offset);
    const int32_t i1 = static_cast<int32_t>(offset + 1.0);
    const float frac = static_cast<float>(offset - i0);
    weight0 = 1.0f - frac;
    weight1 = frac;
    slot0 = ShiftRing::Wrap(readIndex + i0);
    slot1 = ShiftRing::Wrap(readIndex + i1);
  }
  float Read(const float* channel) const { return weight0 * channel[slot0] + weight1 * channel[slot1]; }
};

struct Shifted {
  float left, right;
};

// The shifter's moving parts, held in locals for a block: the ring's
// indices, both heads and the crossfade. Load from and Store to the state.
struct ShifterHeads {
  int32_t readIndex, writeIndex;
  double offsetA, offsetB;
  float fade, drift;

  explicit ShifterHeads(const PitchShifterState& s)
      : readIndex(s.ring.readIndex), writeIndex(s.ring.writeIndex), offsetA(s.offsetA),
        offsetB(s.offsetB), fade(s.fade), drift(s.drift) {}

  void Store(PitchShifterState& s) const {
    s.ring.readIndex = readIndex;
    s.ring.writeIndex = writeIndex;
    s.offsetA = offsetA;
    s.offsetB = offsetB;
    s.fade = fade;
  }
};

// One sample frame: the heads read, the inputs are written, the indices
// move on, and the main head either plays alone or crossfades to the second.
// The second head is read only during a crossfade, the only time its value
// is used; it reads before the write, like the main head.
inline Shifted ProcessPitchShiftSample(PitchShifterState& s, ShifterHeads& h, float x0, float x1) {
  const bool crossfade = std::fabs(h.offsetA) > kCrossfadeStart;
  const Head a(h.offsetA, h.readIndex);
  const float headA0 = a.Read(s.ring.left), headA1 = a.Read(s.ring.right);
  float headB0 = 0.0f, headB1 = 0.0f;
  if (crossfade) {
    const Head b(h.offsetB, h.readIndex);
    headB0 = b.Read(s.ring.left);
    headB1 = b.Read(s.ring.right);
  }
  s.ring.left[h.writeIndex] = x0;
  s.ring.right[h.writeIndex] = x1;
  h.readIndex = ShiftRing::Next(h.readIndex);
  h.writeIndex = ShiftRing::Next(h.writeIndex);
  const double drift = h.drift;
  if (crossfade) {
    const Shifted out{h.fade * headB0 + (1.0f - h.fade) * headA0, h.fade * headB1 + (1.0f - h.fade) * headA1};
    h.fade = h.fade + kFadeStep;
    if (h.fade > 1.0f) {
      h.offsetA = h.offsetB;
      h.fade = 0.0f;
    }
    h.offsetB = h.offsetB + drift;
    h.offsetA = h.offsetA + drift;
    return out;
  }
  h.fade = 0.0f;
  h.offsetB = drift;
  h.offsetA = h.offsetA + drift;
  return {headA0, headA1};
}

// drift = 2^(pitch / 12) - 1: the quotient in single, the power and the
// difference in double, rounded once.
float DriftFor(float pitch) {
  const float drift = static_cast<float>(exact::Pow2(static_cast<double>(pitch / 12.0f)) - 1.0);
  return std::min(drift, kLargestDrift);
}

struct PitchShifterEffect {
  static constexpr bool kReadsSampleRate = false;
  static constexpr bool kClearsOnJump = true;

  using State = PitchShifterState;

  struct Parameters {
    float dry, wet, pitch;
  };

  static Parameters ReadParameters(const ItemValues& v) {
    return {v.Track(kDry) / 100.0f, v.Track(kWet) / 100.0f, v.Track(kPitch)};
  }

  static void ClearLines(State& s) { s.ring.Clear(); }
  static void ClearObject(State& s) { s.ring.Clear(); }

  // Once the input is silent, silence fills the whole ring within its
  // length, whatever the heads read.
  static uint32_t TailFrames(const Parameters&, float) { return kRingLength; }

  struct Kernel {
    PitchShifterState& state;
    float dry, wet;
    void Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      ShifterHeads heads(state);
      for (int32_t i = 0; i < n; ++i) {
        const float x0 = in0[i], x1 = in1[i];
        const Shifted shifted = ProcessPitchShiftSample(state, heads, x0, x1);
        out0[i] = dry * x0 + wet * shifted.left;
        out1[i] = dry * x1 + wet * shifted.right;
      }
      heads.Store(state);
    }
  };

  static Kernel BeginBlock(State& state, const BlockInfo&, const Parameters& p) {
    // The same pitch gives the same drift: the power is taken only when the
    // pitch changes (bit for bit).
    if (std::memcmp(&p.pitch, &state.driftPitch, sizeof p.pitch) != 0) {
      state.drift = DriftFor(p.pitch);
      state.driftPitch = p.pitch;
    }
    return Kernel{state, p.dry, p.wet};
  }
};

constexpr ItemEntry kItems[] = {
    TrackEntry(u"音量(原音)", "dry", "Dry level (%)", 0.0, 0.0, 100.0, 1.0, Unit::kPercent),
    TrackEntry(u"音量(ピッチシフト)", "wet", "Shifted level (%)", 100.0, 0.0, 100.0, 1.0, Unit::kPercent),
    TrackEntry(u"ピッチ", "pitch", "Pitch (semitones)", 3.0, -24.0, 24.0, 0.01, Unit::kSemitones),
};
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kOctaveDownValues[] = {{kPitch, -12}, {kDry, 50}, {kWet, 70}};
constexpr PresetValue kFifthUpValues[] = {{kPitch, 7}, {kDry, 0}, {kWet, 100}};
constexpr Preset kPresets[] = {
    {"octave-down", "Octave down with the dry sound", "1 オクターブ下(原音あり)", kOctaveDownValues},
    {"fifth-up", "A fifth up", "5 度上", kFifthUpValues},
};

constexpr EffectInfo kInfo{
    .slug = "pitch_shifter",
    .name = u"ピッチシフター",
    .information = u"Velmor ミニオーディオエフェクト(ピッチシフター) " VELMOR_VERSION_TEXT,
    .english = "Velmor Pitch Shifter",
    .items = kItems,
    .description = "A two-head delay-line pitch shifter of up to two octaves either way, mixed with the dry signal.",
    .category = Category::kPitchShifter,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<PitchShifterEffect>(kInfo);

}  // namespace velmor::pitch_shifter
