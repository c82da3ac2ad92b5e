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
  if (plugin == "VelmorFilter") return std::make_unique<Frame<definition::Filter>>();
  if (plugin == "VelmorEqualizer") return std::make_unique<Frame<definition::Equalizer>>();
  if (plugin == "VelmorDistortion") return std::make_unique<Frame<definition::Distortion>>();
  if (plugin == "VelmorDelay") return std::make_unique<Frame<definition::Delay>>();
  if (plugin == "VelmorPitchShifter") return std::make_unique<Frame<definition::PitchShifter>>();
  if (plugin == "VelmorTremolo") return std::make_unique<Frame<definition::Tremolo>>();
  if (plugin == "VelmorModulator") return std::make_unique<Frame<definition::Modulator>>();
  return nullptr;
}

}  // namespace velmor::reference
