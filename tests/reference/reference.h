// The plain reference of every effect: each one written once more, the way
// it is defined, one sample at a time (ProcessBiquadSample chains, the
// oscillator's NextValue with the C library's sin, ProcessDelaySample,
// ProcessPitchShiftSample, the FM taps), with the frame's rules around it (a
// new object, the continuity test, the limits, the clear after a block whose
// output is not finite). The plug-ins' fast paths are held to it bit for bit,
// by the tests and by one fuzz target per plug-in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmor::reference {

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

// The reference of the plug-in with this file name ("VelmorFilter", ...),
// with no object yet; null for a name it does not know.
std::unique_ptr<Model> MakeModel(const std::string& plugin);

}  // namespace velmor::reference
