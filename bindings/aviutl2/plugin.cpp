// An effect as an AviUtl2 audio filter plug-in: the descriptor made from the
// effect's item table, the process-wide state of every timeline object keyed
// by its id, and the audio callback's frame. Compiled once per plug-in, with
// VELMOR_EFFECT naming the effect's namespace.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "bindings/aviutl2/descriptor.h"
#include "bindings/aviutl2/objects.h"
#include "framework/block_buffers.h"
#include "framework/continuity.h"
#include "framework/effect_handler.h"

#ifndef VELMOR_EFFECT
#error "VELMOR_EFFECT names the effect's namespace"
#endif

namespace velmor::VELMOR_EFFECT {
extern const EffectHandler kHandler;
}

namespace velmor::aviutl2 {
namespace {

const EffectHandler& kEffect = VELMOR_EFFECT::kHandler;

// The item records the host reads and writes, made from the effect's table
// when the library is loaded. A slider and a drop-down list share the
// layout of their first three fields, so one array holds both kinds.
union ItemRecord {
  TrackItem track;
  SelectItem select;
};

// The records are built field by field on zeroed memory, so that the bytes
// between their fields (after `flags`, after a list's `value`) are zero.
struct Descriptor {
  std::unique_ptr<ItemRecord[]> items;
  std::vector<void*> itemList;  // ended by null
  std::unique_ptr<SelectOption[]> options;  // every list, each ended by {null, 0}
  FilterPluginTable table;

  Descriptor() {
    std::memset(&table, 0, sizeof table);
    const EffectInfo& info = *kEffect.info;
    size_t optionCount = 0;
    for (const ItemEntry& entry : info.items) optionCount += entry.options.size() + 1;
    items.reset(new ItemRecord[info.items.size()]);
    options.reset(new SelectOption[optionCount]);
    std::memset(static_cast<void*>(items.get()), 0, info.items.size() * sizeof(ItemRecord));
    std::memset(static_cast<void*>(options.get()), 0, optionCount * sizeof(SelectOption));
    size_t nextOption = 0;
    for (size_t k = 0; k < info.items.size(); ++k) {
      const ItemEntry& entry = info.items[k];
      if (entry.kind == ItemKind::Track) {
        TrackItem& track = items[k].track;
        track.type = kTrackType, track.name = entry.label, track.value = entry.defaultValue;
        track.min = entry.min, track.max = entry.max, track.step = entry.step;
      } else {
        SelectItem& select = items[k].select;
        select.type = kSelectType, select.name = entry.label, select.value = static_cast<int32_t>(entry.defaultValue);
        select.options = &options[nextOption];
        for (size_t o = 0; o < entry.options.size(); ++o, ++nextOption) {
          options[nextOption].name = entry.options[o].label;
          options[nextOption].value = static_cast<int32_t>(o);
        }
        ++nextOption;  // the end of the list: {null, 0}
      }
      itemList.push_back(&items[k]);
    }
    itemList.push_back(nullptr);
    table.flags = kAudioFilterFlag;
    table.name = info.name, table.label = kPluginLabel, table.information = info.information;
    table.items = itemList.data();
    table.process_video = &ProcessVideo;
    table.process_audio = &ProcessAudio;
  }

  // The current values as the host wrote them: sliders as doubles, lists as
  // whole numbers.
  void ReadValues(double* values) const {
    const auto& entries = kEffect.info->items;
    for (size_t k = 0; k < entries.size(); ++k)
      values[k] = entries[k].kind == ItemKind::Track ? items[k].track.value : static_cast<double>(items[k].select.value);
  }

  static bool ProcessAudio(const AudioProcContext* audio) noexcept;
};

Descriptor gDescriptor;

// Everything the library keeps between calls, behind one lock: calls from
// several host threads do not overlap.
struct Library {
  std::mutex lock;
  ObjectStateMap objects;
  BlockBuffers buffers;
};

Library gLibrary;

bool Descriptor::ProcessAudio(const AudioProcContext* audio) noexcept {
  if (audio == nullptr || audio->object == nullptr || audio->read_samples == nullptr ||
      audio->write_samples == nullptr)
    return false;
  if (kEffect.readsSampleRate && audio->scene == nullptr) return false;
  const int64_t id = audio->object->id;
  const int32_t frame = audio->object->frame;
  BlockInfo block{};
  block.sampleCount = audio->object->sample_count;
  if (block.sampleCount < 0) return false;  // nothing is allocated, read or written
  if (kEffect.readsSampleRate) block.sampleRate = static_cast<float>(audio->scene->sample_rate);

  try {
    std::lock_guard<std::mutex> guard(gLibrary.lock);
    double values[kMaxItems];
    gDescriptor.ReadValues(values);
    ObjectEntry& object = FindOrCreateObject(gLibrary.objects, kEffect, id, frame);
    ContinueObject(kEffect, object.state.get(), object.lastFrame, frame);

    const auto n = static_cast<size_t>(block.sampleCount);
    if (!gLibrary.buffers.Reserve(n)) return false;
    float* ch0 = gLibrary.buffers.channel(0);
    float* ch1 = gLibrary.buffers.channel(1);
    ZeroSamples(ch0, n);
    ZeroSamples(ch1, n);
    audio->read_samples(ch0, 0);
    audio->read_samples(ch1, 1);
    RunEffectBlock(kEffect, object.state.get(), block, values, ch0, ch1);
    audio->write_samples(ch0, 0);
    audio->write_samples(ch1, 1);
    return true;
  } catch (...) {
    // Nothing may leave the callback into the host: an allocation or map
    // failure ends the block here, before any sample is written.
    return false;
  }
}

}  // namespace

// Zero as static storage, then the descriptor's bytes, padding included.
FilterPluginTable gPluginTable;
namespace {
const bool gTableCopied = [] {
  std::memcpy(&gPluginTable, &gDescriptor.table, sizeof gPluginTable);
  return true;
}();
}  // namespace

void ForgetAllObjects() {
  std::lock_guard<std::mutex> guard(gLibrary.lock);
  gLibrary.objects.clear();
}

}  // namespace velmor::aviutl2
