// VelmorDelay: a stereo echo with a crossed normal mode and two ping-pong
// modes. The rings are emptied when the delay time or the sample rate changes
// and when the playback position jumps.
#include <algorithm>

#include "framework/block_frame.h"
#include "framework/descriptor.h"
#include "framework/dsp/ring_index.h"

namespace velmor {
namespace {

constexpr int32_t kRingLength = 50000;
constexpr int32_t kLongestDelay = 49998;  // what any longer request becomes
constexpr float kFeedbackLimit = 0.8f;

struct DelayRing {
  int32_t readIndex = 0;   // slot of the next tap, 0 to 49999
  int32_t writeIndex = 0;  // slot of the next value, 0 to 49999
  float samples[kRingLength] = {};
};

struct DelayState {
  float delayTime = 250.0f;     // ms the rings were last set up for
  float feedback = 0.3f;        // 0 to 0.8
  int32_t mode = 0;             // the type item's value
  float sampleRate = 44100.0f;  // Hz the delay length was last computed for
  int32_t delayLength = 11025;  // samples
  DelayRing left{0, 11025};
  DelayRing right{0, 11025};
};

void ClearRings(DelayState& state) {
  std::fill(std::begin(state.left.samples), std::end(state.left.samples), 0.0f);
  std::fill(std::begin(state.right.samples), std::end(state.right.samples), 0.0f);
}

// (a * b) in single precision, widened, divided by 1000 and truncated; any
// result that does not fit the ring (negative, zero, not a number or huge) is
// limited before the conversion, so every index stays inside the ring.
int32_t DelayLengthFor(float a, float b) {
  const double samples = static_cast<double>(a * b) / 1000.0;
  if (!(samples >= 1.0)) return 1;
  if (samples >= static_cast<double>(kRingLength) + 1.0) return kLongestDelay;
  return static_cast<int32_t>(samples);
}

void SetUpRings(DelayState& state, int32_t length) {
  if (length > kRingLength) length = kLongestDelay;
  state.delayLength = length;
  ClearRings(state);
  int32_t k = length % kRingLength;
  if (k == 0) k = 1;
  state.left.writeIndex = (state.left.readIndex + k) % kRingLength;
  state.right.writeIndex = (state.right.readIndex + k) % kRingLength;
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

inline int32_t NextSlot(int32_t index) { return NextIndex<kRingLength>(index); }

struct Taps {
  float left, right;
};

// One sample frame in mode kMode (0 normal, 1 and 2 ping-pong): reads both
// taps at `read`, writes both rings at `write`. The two rings' indices always
// move in step, so one pair serves both. The caller moves the indices on.
template <int kMode>
inline Taps ProcessDelaySample(DelayState& s, int32_t read, int32_t write, float xL, float xR) {
  const float yL = s.left.samples[read];
  const float yR = s.right.samples[read];
  // The ping-pong feed: mono sum in single, halved in double; the feedback
  // product in single, widened; one rounding after the double sum.
  auto pingPong = [&](float y) {
    const double m = static_cast<double>(xL + xR) * 0.5;
    return static_cast<float>(static_cast<double>(y * s.feedback) + m);
  };
  if constexpr (kMode == 0) {
    s.left.samples[write] = yR * s.feedback + xL;
    s.right.samples[write] = yL * s.feedback + xR;
    return {yR, yL};
  } else if constexpr (kMode == 1) {
    s.left.samples[write] = yR;
    s.right.samples[write] = pingPong(yL);
    return {yL, yR};
  } else {
    s.left.samples[write] = pingPong(yR);
    s.right.samples[write] = yL;
    return {yL, yR};
  }
}

const SelectOption kTypes[] = {
    {u"ノーマル", 0},
    {u"ピンポン(右から)", 1},
    {u"ピンポン(左から)", 2},
    {nullptr, 0},
};

Track gDry = MakeTrack(u"音量(原音)", 100.0, 0.0, 100.0, 1.0);
Track gWet = MakeTrack(u"音量(ディレイ)", 50.0, 0.0, 100.0, 1.0);
SelectItem gType = MakeSelect(u"タイプ", 0, kTypes);
Track gDelayTime = MakeTrack(u"ディレイタイム", 500.0, 50.0, 1000.0, 1.0);
Track gFeedback = MakeTrack(u"フィードバック", 0.1, 0.0, 1.0, 0.01);

struct DelayEffect {
  static constexpr bool kReadsSampleRate = true;
  static constexpr bool kClearsOnJump = true;

  struct Maps {
    ObjectStateMap<DelayState> states;
    LastFrameMap lastFrames;
  };

  struct Parameters {
    float dry, wet, delayTime, feedback;
    int32_t mode;
  };

  static Parameters ReadParameters() {
    return {ReadTrack(gDry) / 100.0f, ReadTrack(gWet) / 100.0f, ReadTrack(gDelayTime),
            ReadTrack(gFeedback) * 0.8f, ReadSelect(gType)};
  }

  static bool IsNewObject(Maps& m, int64_t id) { return !Contains(m.states, id); }
  static void CreateObject(Maps& m, int64_t id) { FindOrCreate(m.states, id); }
  static void ClearLines(Maps& m, int64_t id) { ClearRings(m.states[id]); }
  static void ClearObject(Maps& m, int64_t id) { ClearRings(m.states[id]); }

  // The block's samples in one mode, indices held in locals.
  template <int kMode>
  struct Kernel {
    DelayState& state;
    float dry, wet;
    int32_t read, write;

    Kernel(DelayState& s, float d, float w)
        : state(s), dry(d), wet(w), read(s.left.readIndex), write(s.left.writeIndex) {}

    void Process(float& s0, float& s1) {
      const Taps taps = ProcessDelaySample<kMode>(state, read, write, s0, s1);
      read = NextSlot(read);
      write = NextSlot(write);
      s0 = dry * s0 + taps.left * wet;
      s1 = dry * s1 + taps.right * wet;
    }
    void Finish() {
      state.left.readIndex = state.right.readIndex = read;
      state.left.writeIndex = state.right.writeIndex = write;
    }
  };

  // A mode outside 0 to 2: both taps are 0 and the state does not move.
  struct Silent {
    float dry, wet;
    void Process(float& s0, float& s1) {
      s0 = dry * s0 + 0.0f * wet;
      s1 = dry * s1 + 0.0f * wet;
    }
    void Finish() {}
  };

  using Kernels = std::variant<Kernel<0>, Kernel<1>, Kernel<2>, Silent>;

  static Kernels BeginBlock(Maps& m, const BlockInfo& block, const Parameters& p) {
    DelayState& state = m.states[block.id];
    ConfigureDelay(state, p.delayTime, p.feedback, p.mode, block.sampleRate);
    switch (state.mode) {
      case 0: return Kernel<0>(state, p.dry, p.wet);
      case 1: return Kernel<1>(state, p.dry, p.wet);
      case 2: return Kernel<2>(state, p.dry, p.wet);
      default: return Silent{p.dry, p.wet};
    }
  }
};

void* const kItems[] = {&gDry.item, &gWet.item, &gType, &gDelayTime.item, &gFeedback.item, nullptr};

}  // namespace

FilterPluginTable gPluginTable =
    MakeDescriptor(u"ディレイ(エコー）", u"Velmor ミニオーディオエフェクト(ディレイ) " VELMOR_VERSION_TEXT,
                   kItems, &ProcessAudioBlock<DelayEffect>);

}  // namespace velmor
