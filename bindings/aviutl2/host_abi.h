// Records shared with the AviUtl2 host. Every record is a plain struct with a
// fixed byte layout: little-endian, 64-bit pointers, the platform's standard
// calling convention. Bytes that are not named here belong to the host and are
// never touched.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VELMOR_EXPORT extern "C" __declspec(dllexport)
#else
#define VELMOR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace velmor {

// Sample reader / writer offered by the host: (buffer, channel). The result is
// ignored by every plug-in.
using HostSampleFunction = bool (*)(float* buffer, int32_t channel);

// The project as the host describes it.
struct HostSceneInfo {
  uint8_t host_reserved[16];  // host's own fields: never read
  int32_t sample_rate;        // samples per second of the project
  uint8_t host_reserved_tail[12];  // host's own fields: never read
};

// The timeline object whose block is being processed.
struct HostObjectInfo {
  int64_t id;                 // timeline object; key of all per-object state
  int32_t frame;              // frame number of the block
  uint8_t host_reserved[44];  // host's own fields: never read
  int32_t sample_count;       // samples per channel in the block
  uint8_t host_reserved_tail[4];  // host's own fields: never read
};

// The only argument of the audio callback.
struct AudioProcContext {
  const HostSceneInfo* scene;        // the project's scene record
  const HostObjectInfo* object;      // the object processed
  HostSampleFunction read_samples;   // fills a buffer with the block's samples of a channel
  HostSampleFunction write_samples;  // takes the block's samples of a channel from a buffer
};

// A slider. The host writes `value`; the plug-in only reads it.
struct TrackItem {
  const char16_t* type;  // always u"track"
  const char16_t* name;  // label shown by the host
  double value;          // current value; the default until the host writes it
  double min;            // lower end of the slider
  double max;            // upper end of the slider
  double step;           // slider step
};

// One entry of a drop-down list; the list ends with {nullptr, 0}.
struct SelectOption {
  const char16_t* name;  // option text, or null at the end of the list
  int32_t value;         // option value: 0, 1, 2, ... in display order
};

// A drop-down list. The host writes `value`; the plug-in only reads it.
struct SelectItem {
  const char16_t* type;          // always u"select"
  const char16_t* name;          // label shown by the host
  int32_t value;                 // current option value; the default until the host writes it
  const SelectOption* options;   // options in display order, ended by a null name
};

using ProcessVideoFunction = bool (*)(void* video);
using ProcessAudioFunction = bool (*)(const AudioProcContext* audio);

// The descriptor returned by GetFilterPluginTable.
struct FilterPluginTable {
  int32_t flags;                       // 2: an audio-only filter
  const char16_t* name;                // the effect's name
  const char16_t* label;               // u"Velmor" in every plug-in
  const char16_t* information;         // description and version
  void* const* items;                  // item pointers in display order, ended by null
  ProcessVideoFunction process_video;  // returns true, touches nothing
  ProcessAudioFunction process_audio;  // the effect's audio callback
};

inline constexpr int32_t kAudioFilterFlag = 2;

static_assert(sizeof(void*) == 8, "the host ABI has 64-bit pointers");
// The byte layout, record by record.
static_assert(offsetof(AudioProcContext, scene) == 0 && offsetof(AudioProcContext, object) == 8 &&
              offsetof(AudioProcContext, read_samples) == 16 && offsetof(AudioProcContext, write_samples) == 24 &&
              sizeof(AudioProcContext) == 32);
static_assert(offsetof(HostSceneInfo, sample_rate) == 16);
static_assert(offsetof(HostObjectInfo, id) == 0 && offsetof(HostObjectInfo, frame) == 8 &&
              offsetof(HostObjectInfo, sample_count) == 56);
static_assert(offsetof(FilterPluginTable, flags) == 0 && offsetof(FilterPluginTable, name) == 8 &&
              offsetof(FilterPluginTable, label) == 16 && offsetof(FilterPluginTable, information) == 24 &&
              offsetof(FilterPluginTable, items) == 32 && offsetof(FilterPluginTable, process_video) == 40 &&
              offsetof(FilterPluginTable, process_audio) == 48 && sizeof(FilterPluginTable) == 56);
static_assert(offsetof(TrackItem, type) == 0 && offsetof(TrackItem, name) == 8 && offsetof(TrackItem, value) == 16 &&
              offsetof(TrackItem, min) == 24 && offsetof(TrackItem, max) == 32 && offsetof(TrackItem, step) == 40 &&
              sizeof(TrackItem) == 48);
static_assert(offsetof(SelectItem, type) == 0 && offsetof(SelectItem, name) == 8 && offsetof(SelectItem, value) == 16 &&
              offsetof(SelectItem, options) == 24 && sizeof(SelectItem) == 32);
static_assert(offsetof(SelectOption, name) == 0 && offsetof(SelectOption, value) == 8 && sizeof(SelectOption) == 16);
static_assert(sizeof(bool) == 1, "the callbacks return a one-byte boolean");

}  // namespace velmor
