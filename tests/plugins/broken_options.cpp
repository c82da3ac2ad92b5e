// A deliberately broken plug-in for the validator's tests: its option list
// ends with a non-zero value in the terminating entry.
#include "bindings/aviutl2/descriptor.h"

namespace velmor::aviutl2 {
namespace {

SelectOption kOptions[] = {{u"one", 0}, {u"two", 1}, {nullptr, 5}};
SelectItem gChoice{kSelectType, u"choice", 0, kOptions};

bool ProcessAudio(const AudioProcContext* audio) {
  float buffer[1];
  audio->read_samples(buffer, 0);
  audio->read_samples(buffer, 1);
  audio->write_samples(buffer, 0);
  audio->write_samples(buffer, 1);
  return true;
}

void* const kItems[] = {&gChoice, nullptr};

}  // namespace

FilterPluginTable gPluginTable{kAudioFilterFlag, u"broken options", kPluginLabel, u"test",
                               kItems, &ProcessVideo, &ProcessAudio};

}  // namespace velmor::aviutl2
