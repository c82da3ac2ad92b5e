// The block frame, plainly, around an effect's plain definition
// (effects/*/definition.h): a new object's state, sliders that are not finite
// read as their defaults, the continuity test, flush-to-zero around the
// effect's work and the clear after a block whose output is not finite. The
// bindings' frame (effect_handler.h, bindings/) does the same with a handler
// and maps of their own; the tests and the differential fuzz targets hold the
// plug-ins to this, sample for sample. Only they include it.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "framework/float_environment.h"

namespace velmor::definition {

// One block as the host hands it over, processed in place.
struct Block {
  int64_t id = 1;
  int32_t frame = 0;
  int32_t sampleRate = 44100;
  // The items' values as the host wrote them: sliders as doubles, drop-down
  // lists as whole numbers.
  std::vector<double> values;
  float* ch0 = nullptr;
  float* ch1 = nullptr;
  int32_t count = 0;
};

class Model {
 public:
  virtual ~Model() = default;
  // One block of one object; false (and nothing touched) for a negative count.
  virtual bool Process(const Block& block) = 0;
};

// The frame around every effect. Effect supplies State, its item defaults,
// ClearsOnJump, ClearLines, ClearObject and Run (the block's work in place).
template <class Effect>
class Frame : public Model {
 public:
  bool Process(const Block& block) override {
    if (block.count < 0) return false;
    // Sliders that are not finite numbers read as their defaults.
    std::vector<double> values = block.values;
    for (size_t k = 0; k < values.size(); ++k)
      if (Effect::kSlider[k] && !std::isfinite(values[k])) values[k] = Effect::kDefaults[k];
    auto found = states_.find(block.id);
    if (found == states_.end()) {
      found = states_.emplace(block.id, typename Effect::State{}).first;
      lastFrames_[block.id] = block.frame;
    }
    typename Effect::State& state = found->second;
    if (Effect::kClearsOnJump) {
      const auto d = static_cast<int32_t>(static_cast<uint32_t>(block.frame) -
                                          static_cast<uint32_t>(lastFrames_[block.id]));
      if (d < 0 || d > 1) Effect::ClearLines(state);
    }
    lastFrames_[block.id] = block.frame;
    {
      FlushDenormalsScope flush;
      Effect::Run(state, values, static_cast<float>(block.sampleRate), block.ch0, block.ch1, block.count);
    }
    bool finite = true;
    for (int32_t i = 0; i < block.count; ++i)
      finite = finite && std::isfinite(block.ch0[i]) && std::isfinite(block.ch1[i]);
    if (!finite) Effect::ClearObject(state);
    return true;
  }

 private:
  std::map<int64_t, typename Effect::State> states_;
  std::map<int64_t, int32_t> lastFrames_;
};

// ch = dry * ch + wet * y at each sample frame, where process(x0, x1, y0, y1)
// makes y from the frame's inputs.
template <class Process>
inline void MixEachFrame(float* ch0, float* ch1, int32_t n, float dry, float wet, Process process) {
  for (int32_t i = 0; i < n; ++i) {
    float y0, y1;
    process(ch0[i], ch1[i], y0, y1);
    ch0[i] = dry * ch0[i] + wet * y0;
    ch1[i] = dry * ch1[i] + wet * y1;
  }
}

// An item's value as a slider's single-precision value, or a list's option.
inline float F(double v) { return static_cast<float>(v); }
inline int32_t I(double v) { return static_cast<int32_t>(v); }

}  // namespace velmor::definition
