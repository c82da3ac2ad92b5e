// A deliberately broken plug-in for the validator's tests: it crashes when the
// scene's sample rate is 8000 Hz.
#include <csignal>
#include <vector>

#include "bindings/aviutl2/descriptor.h"

namespace velmor::aviutl2 {
namespace {

TrackItem gGain{kTrackType, u"gain", 1.0, 0.0, 2.0, 0.1};

bool ProcessAudio(const AudioProcContext* audio) {
  if (audio->scene->sample_rate == 8000) std::raise(SIGSEGV);
  std::vector<float> left(static_cast<size_t>(audio->object->sample_count));
  std::vector<float> right(left.size());
  audio->read_samples(left.data(), 0);
  audio->read_samples(right.data(), 1);
  audio->write_samples(left.data(), 0);
  audio->write_samples(right.data(), 1);
  return true;
}

void* const kItems[] = {&gGain, nullptr};

}  // namespace

FilterPluginTable gPluginTable{kAudioFilterFlag, u"crash at 8000", kPluginLabel, u"test",
                               kItems, &ProcessVideo, &ProcessAudio};

}  // namespace velmor::aviutl2
