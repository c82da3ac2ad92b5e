// A deliberately broken plug-in for the validator's tests: it crashes when the
// scene's sample rate is 8000 Hz.
#include <csignal>

#include "tests/plugins/pass_through.h"

namespace velmor::aviutl2 {
namespace {

TrackItem gGain{kTrackType, u"gain", 1.0, 0.0, 2.0, 0.1};

bool ProcessAudio(const AudioProcContext* audio) {
  if (audio->scene->sample_rate == 8000) std::raise(SIGSEGV);
  return PassThrough(audio);
}

void* const kItems[] = {&gGain, nullptr};

}  // namespace

FilterPluginTable gPluginTable{kAudioFilterFlag, u"crash at 8000", kPluginLabel, u"test",
                               kItems, &ProcessVideo, &ProcessAudio};

}  // namespace velmor::aviutl2
