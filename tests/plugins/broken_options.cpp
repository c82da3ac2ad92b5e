// A deliberately broken plug-in for the validator's tests: its option list
// ends with a non-zero value in the terminating entry.
#include "tests/plugins/pass_through.h"

namespace velmor::aviutl2 {
namespace {

SelectOption kOptions[] = {{u"one", 0}, {u"two", 1}, {nullptr, 5}};
SelectItem gChoice{kSelectType, u"choice", 0, kOptions};

void* const kItems[] = {&gChoice, nullptr};

}  // namespace

FilterPluginTable gPluginTable{kAudioFilterFlag, u"broken options", kPluginLabel, u"test",
                               kItems, &ProcessVideo, &PassThrough};

}  // namespace velmor::aviutl2
