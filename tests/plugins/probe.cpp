// A plug-in for the host tool's tests only: it writes what it was told into
// the audio. Channel 0 of every sample becomes the block's frame number and
// channel 1 the block's length; the first sample of channel 1 holds the scene
// rate instead. With choice "fail" it returns false.
#include "bindings/aviutl2/descriptor.h"

namespace velmor::aviutl2 {
namespace {

SelectOption kOptions[] = {{u"A", 0}, {u"B", 1}, {u"fail", 2}, {nullptr, 0}};
SelectItem gChoice{kSelectType, u"choice", 0, kOptions};
TrackItem gGain{kTrackType, u"gain", 1.0, 0.0, 2.0, 0.1};

bool ProcessAudio(const AudioProcContext* audio) {
  const int32_t n = audio->object->sample_count;
  float* left = new float[n > 0 ? n : 1];
  float* right = new float[n > 0 ? n : 1];
  audio->read_samples(left, 0);
  audio->read_samples(right, 1);
  for (int32_t i = 0; i < n; ++i) {
    left[i] = static_cast<float>(audio->object->frame) * static_cast<float>(gGain.value) + static_cast<float>(gChoice.value);
    right[i] = i == 0 ? static_cast<float>(audio->scene->sample_rate) : static_cast<float>(n);
  }
  audio->write_samples(left, 0);
  audio->write_samples(right, 1);
  delete[] left;
  delete[] right;
  return gChoice.value != 2;
}

void* const kItems[] = {&gChoice, &gGain, nullptr};

}  // namespace

FilterPluginTable gPluginTable{kAudioFilterFlag, u"probe", kPluginLabel, u"test probe",
                               kItems, &ProcessVideo, &ProcessAudio};

}  // namespace velmor::aviutl2
