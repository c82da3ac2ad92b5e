// A deliberately broken plug-in for the validator's tests: its option list
// ends with a non-zero value in the terminating entry.
#include "framework/descriptor.h"

namespace velmor {
namespace {

SelectOption kOptions[] = {{u"one", 0}, {u"two", 1}, {nullptr, 5}};
SelectItem gChoice = MakeSelect(u"choice", 0, kOptions);

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

FilterPluginTable gPluginTable = MakeDescriptor(u"broken options", u"test", kItems, &ProcessAudio);

}  // namespace velmor
