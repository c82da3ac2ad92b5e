// The registry of the plain definitions: each plug-in's file name to its
// effect's definition (effects/*/definition.h) in the plain block frame.
#include "reference/reference.h"

#include "effects/delay/definition.h"
#include "effects/distortion/definition.h"
#include "effects/equalizer/definition.h"
#include "effects/filter/definition.h"
#include "effects/modulator/definition.h"
#include "effects/pitch_shifter/definition.h"
#include "effects/tremolo/definition.h"

namespace velmor::reference {

std::unique_ptr<Model> MakeModel(const std::string& plugin) {
  using definition::Frame;
  if (plugin == "VelmorFilter") return std::make_unique<Frame<filter::plain::Definition>>();
  if (plugin == "VelmorEqualizer") return std::make_unique<Frame<equalizer::plain::Definition>>();
  if (plugin == "VelmorDistortion") return std::make_unique<Frame<distortion::plain::Definition>>();
  if (plugin == "VelmorDelay") return std::make_unique<Frame<delay::plain::Definition>>();
  if (plugin == "VelmorPitchShifter") return std::make_unique<Frame<pitch_shifter::plain::Definition>>();
  if (plugin == "VelmorTremolo") return std::make_unique<Frame<tremolo::plain::Definition>>();
  if (plugin == "VelmorModulator") return std::make_unique<Frame<modulator::plain::Definition>>();
  return nullptr;
}

}  // namespace velmor::reference
