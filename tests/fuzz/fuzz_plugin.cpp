// libFuzzer target for one plug-in, linked in with its exports. The input
// bytes choose every item's value (any double or int32), the sample rate, the
// block length (-10 to 5000), the object, the frame number and the samples,
// over several blocks. Any crash or sanitizer report fails; so does
// non-finite output from finite input and in-range settings on an object that
// has only ever seen such blocks.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "bindings/aviutl2/objects.h"
#include "bindings/aviutl2/host_abi.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" velmor::FilterPluginTable* GetFilterPluginTable();
extern "C" bool InitializePlugin();

namespace {

using namespace velmor;
using fuzz::Block;
using fuzz::Bytes;

// Objects that have seen only finite, moderate input with in-range settings.
struct ObjectRecord {
  int64_t id;
  bool clean;
  int32_t frame;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FilterPluginTable* table = [] {
    InitializePlugin();
    return GetFilterPluginTable();
  }();
  Bytes in(data, size);
  // Every run starts with no object, as after loading the library: no state
  // of an earlier run carries over, and the memory stays bounded.
  aviutl2::ForgetAllObjects();
  ObjectRecord objects[2];
  for (int o = 0; o < 2; ++o) objects[o] = {o + 1, true, 0};

  for (int blocks = 0; blocks < 8 && !in.Empty(); ++blocks) {
    bool inRange = true;
    for (void* const* item = table->items; *item != nullptr; ++item) {
      auto* track = static_cast<TrackItem*>(*item);
      const uint8_t how = in.Take<uint8_t>();
      if (track->type[0] == u't') {
        double v;
        if (how % 4 == 0) v = in.Take<double>();                                  // anything at all
        else v = track->min + (track->max - track->min) * (in.Take<uint16_t>() / 65535.0);
        track->value = v;
        inRange = inRange && v >= track->min && v <= track->max;
      } else {
        auto* select = static_cast<SelectItem*>(*item);
        int32_t options = 0;
        while (select->options[options].name != nullptr) ++options;
        const int32_t v = how % 4 == 0 ? in.Take<int32_t>() : static_cast<int32_t>(in.Take<uint8_t>() % options);
        select->value = v;
        inRange = inRange && v >= 0 && v < options;
      }
    }
    const uint8_t rateChoice = in.Take<uint8_t>();
    static const int32_t kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 192000};
    const int32_t rate = rateChoice % 8 == 7 ? in.Take<int32_t>() : kRates[rateChoice % 8];
    inRange = inRange && rate >= 8000 && rate <= 192000;
    const int32_t count = static_cast<int32_t>(in.Take<uint16_t>() % 5011) - 10;
    ObjectRecord& object = objects[in.Take<uint8_t>() % 2];
    const int8_t step = in.Take<int8_t>();
    object.frame += step % 5 == 0 ? step : 1;  // mostly consecutive, some jumps and repeats

    Block block;
    const bool finiteInput = fuzz::FillSamples(in, block, count);
    HostSceneInfo scene{};
    scene.sample_rate = rate;
    HostObjectInfo info{};
    info.id = object.id;
    info.frame = object.frame;
    info.sample_count = count;
    AudioProcContext context{&scene, &info, &fuzz::Read, &fuzz::Write};
    fuzz::gBlock = &block;
    const bool result = table->process_audio(&context);
    fuzz::gBlock = nullptr;
    if (count >= 0 && !result) std::abort();  // a valid block must succeed
    if (count < 0 && result) std::abort();    // a negative length must be refused
    object.clean = object.clean && inRange && finiteInput;
    if (object.clean)
      for (const auto& channel : block.channels)
        for (float v : channel)
          if (!std::isfinite(v)) std::abort();
  }
  return 0;
}
