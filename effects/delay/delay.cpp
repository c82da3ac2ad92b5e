// VelmorDelay: a stereo echo with a crossed normal mode and two ping-pong
// modes. The rings are emptied when the delay time or the sample rate changes
// and when the playback position jumps.
#include <algorithm>
#include <cmath>

#include "effects/delay/items.h"
#include "framework/dsp/stereo_ring.h"
#include "framework/effect_handler.h"
#include "framework/version.h"

namespace velmor::delay {
namespace {

constexpr int32_t kRingLength = 50000;
// What a request of the ring's whole length or more becomes. A length of
// exactly 50000 would wrap to an echo of one sample (50000 mod 50000 = 0,
// taken as 1); it is treated like the longer ones.
constexpr int32_t kLongestDelay = 49998;
constexpr float kFeedbackLimit = 0.8f;

struct DelayState {
  float delayTime = 250.0f;     // ms the rings were last set up for
  float feedback = 0.3f;        // 0 to 0.8
  int32_t mode = 0;             // the type item's value
  float sampleRate = 44100.0f;  // Hz the delay length was last computed for
  StereoRing<kRingLength> ring{0, 11025};  // 250 ms at 44100 Hz: 11025 samples
};

// (a * b) in single precision, widened, divided by 1000 and truncated; any
// result that does not fit the ring (negative, zero, not a number or huge) is
// limited before the conversion, so every index stays inside the ring.
int32_t DelayLengthFor(float a, float b) {
  const double samples = static_cast<double>(a * b) / 1000.0;
  if (!(samples >= 1.0)) return 1;
  if (samples >= static_cast<double>(kRingLength)) return kLongestDelay;
  return static_cast<int32_t>(samples);
}

void SetUpRings(DelayState& state, int32_t length) {
  if (length >= kRingLength) length = kLongestDelay;
  state.ring.Clear();
  int32_t k = length % kRingLength;
  if (k == 0) k = 1;
  state.ring.writeIndex = (state.ring.readIndex + k) % kRingLength;
}

void ConfigureDelay(DelayState& state, float delayTime, float feedbackRequest, int32_t mode,
                    float sampleRate) {
  if (delayTime != state.delayTime) {
    state.delayTime = delayTime;
    SetUpRings(state, DelayLengthFor(delayTime, state.sampleRate));
  }
  state.feedback = feedbackRequest > kFeedbackLimit ? kFeedbackLimit
                   : feedbackRequest < 0.0f         ? 0.0f
                                                    : feedbackRequest;
  state.mode = mode;
  if (sampleRate != state.sampleRate) {
    state.sampleRate = sampleRate;
    SetUpRings(state, DelayLengthFor(sampleRate, state.delayTime));
  }
}

struct Taps {
  float left, right;
};

// One sample frame in mode kMode (0 normal, 1 and 2 ping-pong): reads both
// taps at `read`, writes both rings at `write`. The caller moves the indices
// on.
template <int kMode>
inline Taps ProcessDelaySample(DelayState& s, int32_t read, int32_t write, float xL, float xR) {
  const float yL = s.ring.left[read];
  const float yR = s.ring.right[read];
  // The ping-pong feed: mono sum in single, halved in double; the feedback
  // product in single, widened; one rounding after the double sum.
  auto pingPong = [&](float y) {
    const double m = static_cast<double>(xL + xR) * 0.5;
    return static_cast<float>(static_cast<double>(y * s.feedback) + m);
  };
  if constexpr (kMode == 0) {
    s.ring.left[write] = yR * s.feedback + xL;
    s.ring.right[write] = yL * s.feedback + xR;
    return {yR, yL};
  } else if constexpr (kMode == 1) {
    s.ring.left[write] = yR;
    s.ring.right[write] = pingPong(yL);
    return {yL, yR};
  } else {
    s.ring.left[write] = pingPong(yR);
    s.ring.right[write] = yL;
    return {yL, yR};
  }
}

struct DelayEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = true;

  using State = DelayState;

  struct Parameters {
    float dry, wet, delayTime, feedback;
    int32_t mode;
  };

  static Parameters ReadParameters(const ItemValues& v) {
    return {v.Track(kDry) / 100.0f, v.Track(kWet) / 100.0f, v.Track(kDelayTime), v.Track(kFeedback) * 0.8f,
            v.Select(kType)};
  }

  static void ClearLines(State& s) { s.ring.Clear(); }
  static void ClearObject(State& s) { s.ring.Clear(); }

  // The block's samples in one mode, indices held in locals.
  template <int kMode>
  struct Kernel {
    DelayState& state;
    float dry, wet;
    int32_t read, write;

    Kernel(DelayState& s, float d, float w)
        : state(s), dry(d), wet(w), read(s.ring.readIndex), write(s.ring.writeIndex) {}

    // Returns whether an output was not finite. The outputs are summed as
    // they are made: once an infinity or a NaN joins the sum, the sum stays
    // one or the other. A sum of finite outputs is finite unless it
    // overflows, and such a block is read back. (NotFiniteFlag, as the
    // vectorised loops use it, is a dependency more per sample in this scalar
    // loop.)
    bool Run(const float* in0, const float* in1, float* out0, float* out1, int32_t n) {
      float sum = 0.0f;
      for (int32_t i = 0; i < n; ++i) {
        const float x0 = in0[i], x1 = in1[i];
        const Taps taps = ProcessDelaySample<kMode>(state, read, write, x0, x1);
        read = state.ring.Next(read);
        write = state.ring.Next(write);
        const float y0 = dry * x0 + taps.left * wet;
        const float y1 = dry * x1 + taps.right * wet;
        out0[i] = y0;
        out1[i] = y1;
        sum = sum + (y0 + y1);
      }
      state.ring.readIndex = read;
      state.ring.writeIndex = write;
      return NotFinite(sum) && AnyNotFinite(out0, out1, n);
    }
  };

  // A mode outside 0 to 2: both taps are 0 and the state does not move.
  struct Silent {
    float dry, wet;
    void Run(float* ch0, float* ch1, int32_t n) {
      for (int32_t i = 0; i < n; ++i) {
        ch0[i] = dry * ch0[i] + 0.0f * wet;
        ch1[i] = dry * ch1[i] + 0.0f * wet;
      }
    }
  };

  using Kernels = std::variant<Kernel<0>, Kernel<1>, Kernel<2>, Silent>;

  // Until the echoes fall below -100 dB: each trip through a ring takes the
  // delay's length, a ping-pong echo takes two trips per feedback product,
  // and the feedback is at most 0.8, so about two minutes at the longest.
  static uint32_t TailFrames(const Parameters& p, float sampleRate) {
    const double length = DelayLengthFor(p.delayTime, sampleRate);
    const double feedback = std::clamp(static_cast<double>(p.feedback), 0.0, static_cast<double>(kFeedbackLimit));
    const double products = feedback > 0.0 ? std::ceil(std::log(1e-5) / std::log(feedback)) : 0.0;
    return static_cast<uint32_t>(std::min(length * (2.0 + 2.0 * products), 4.0e9));
  }

  static Kernels BeginBlock(State& state, const BlockInfo& block, const Parameters& p) {
    ConfigureDelay(state, p.delayTime, p.feedback, p.mode, block.sampleRate);
    switch (state.mode) {
      case 0: return Kernel<0>(state, p.dry, p.wet);
      case 1: return Kernel<1>(state, p.dry, p.wet);
      case 2: return Kernel<2>(state, p.dry, p.wet);
      default: return Silent{p.dry, p.wet};
    }
  }
};

constexpr OptionEntry kTypes[] = {
    {u"ノーマル", "Normal"},
    {u"ピンポン(右から)", "Ping-pong (right first)"},
    {u"ピンポン(左から)", "Ping-pong (left first)"},
};

constexpr ItemEntry kItems[] = {
    TrackEntry(u"音量(原音)", "dry", "Dry level (%)", 100.0, 0.0, 100.0, 1.0, Unit::kPercent),
    TrackEntry(u"音量(ディレイ)", "wet", "Echo level (%)", 50.0, 0.0, 100.0, 1.0, Unit::kPercent),
    SelectEntry(u"タイプ", "type", "Type", 0, kTypes),
    TrackEntry(u"ディレイタイム", "time", "Delay time (ms)", 500.0, 50.0, 1000.0, 1.0, Unit::kMs),
    TrackEntry(u"フィードバック", "feedback", "Feedback", 0.1, 0.0, 1.0, 0.01),
};
static_assert(std::size(kItems) == kItemCount, "one item per Item, in its order");

constexpr PresetValue kPingPongValues[] = {{kType, 1}, {kDelayTime, 250}, {kFeedback, 0.6}};
constexpr PresetValue kSlapbackValues[] = {{kType, 0}, {kDelayTime, 90}, {kFeedback, 0}, {kWet, 60}};
constexpr Preset kPresets[] = {
    {"ping-pong", "Ping-pong echo", "ピンポンエコー", kPingPongValues},
    {"slapback", "Slapback", "スラップバック", kSlapbackValues},
};

constexpr EffectInfo kInfo{
    .slug = "delay",
    .name = u"ディレイ(エコー）",
    .information = u"Velmor ミニオーディオエフェクト(ディレイ) " VELMOR_VERSION_TEXT,
    .english = "Velmor Delay (Echo)",
    .items = kItems,
    .description = "A stereo echo of up to a second, with crossed feedback or ping-pong from the left or the right.",
    .category = Category::kDelay,
    .presets = kPresets,
};

}  // namespace

extern constinit const EffectHandler kHandler = MakeEffectHandler<DelayEffect>(kInfo);

}  // namespace velmor::delay
