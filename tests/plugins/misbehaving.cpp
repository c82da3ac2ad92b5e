// Deliberately misbehaving plug-ins for the validator's tests, one build per
// behaviour (VELMOR_MISBEHAVIOUR): 1 never returns from InitializePlugin,
// 2 never returns from GetFilterPluginTable, 3 never returns from
// ProcessAudio at 22050 Hz, 4 allocates and frees a buffer in every block.
#include <cstring>
#include <vector>

#include "bindings/aviutl2/descriptor.h"

namespace velmor::aviutl2 {
namespace {

[[noreturn]] void Spin() {
  for (;;) asm volatile("");
}

TrackItem gGain{kTrackType, u"gain", 1.0, 0.0, 2.0, 0.1};

bool ProcessAudio(const AudioProcContext* audio) {
  if (VELMOR_MISBEHAVIOUR == 3 && audio->scene->sample_rate == 22050) Spin();
  static std::vector<float> kept;  // a plug-in that keeps its buffers allocates only to grow them
  const auto n = static_cast<size_t>(audio->object->sample_count > 0 ? audio->object->sample_count : 0);
  std::vector<float> fresh;
  std::vector<float>& buffer = VELMOR_MISBEHAVIOUR == 4 ? fresh : kept;
  if (buffer.size() < 2 * n) buffer.resize(2 * n);
  audio->read_samples(buffer.data(), 0);
  audio->read_samples(buffer.data() + n, 1);
  audio->write_samples(buffer.data(), 0);
  audio->write_samples(buffer.data() + n, 1);
  return true;
}

void* const kItems[] = {&gGain, nullptr};

}  // namespace

FilterPluginTable gPluginTable{kAudioFilterFlag, u"misbehaving", kPluginLabel, u"test", kItems, &ProcessVideo,
                               &ProcessAudio};

}  // namespace velmor::aviutl2

VELMOR_EXPORT velmor::FilterPluginTable* GetFilterPluginTable() {
  if (VELMOR_MISBEHAVIOUR == 2) velmor::aviutl2::Spin();
  return &velmor::aviutl2::gPluginTable;
}

VELMOR_EXPORT bool InitializePlugin() {
  if (VELMOR_MISBEHAVIOUR == 1) velmor::aviutl2::Spin();
  return true;
}

VELMOR_EXPORT void UninitializePlugin() {}
