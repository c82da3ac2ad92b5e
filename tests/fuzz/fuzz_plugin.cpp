// libFuzzer target for one plug-in, linked in with its exports. The input
// bytes choose every item's value (any double or int32), the sample rate, the
// block length (-10 to 5000), the object, the frame number and the samples,
// over several blocks. Any crash or sanitizer report fails; so does
// non-finite output from finite input and in-range settings on an object that
// has only ever seen such blocks.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/host_abi.h"

extern "C" velmor::FilterPluginTable* GetFilterPluginTable();
extern "C" bool InitializePlugin();

namespace {

using namespace velmor;

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return position_ >= size_; }
  template <class T>
  T Take() {
    T value{};
    uint8_t raw[sizeof(T)] = {};
    for (size_t i = 0; i < sizeof(T) && position_ < size_; ++i) raw[i] = data_[position_++];
    std::memcpy(&value, raw, sizeof(T));
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_, position_ = 0;
};

struct Block {
  std::vector<float> channels[2];
};
thread_local Block* gBlock = nullptr;

bool Read(float* buffer, int32_t channel) {
  if (!gBlock->channels[channel].empty())
    std::memcpy(buffer, gBlock->channels[channel].data(), gBlock->channels[channel].size() * sizeof(float));
  return true;
}
bool Write(float* buffer, int32_t channel) {
  if (!gBlock->channels[channel].empty())
    std::memcpy(gBlock->channels[channel].data(), buffer, gBlock->channels[channel].size() * sizeof(float));
  return true;
}

// Objects that have seen only finite, moderate input with in-range settings.
struct ObjectRecord {
  int64_t id;
  bool clean;
  int32_t frame;
};

uint64_t gRun = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FilterPluginTable* table = [] {
    InitializePlugin();
    return GetFilterPluginTable();
  }();
  Bytes in(data, size);
  ++gRun;
  // Two objects per run, with ids no earlier run used, so that no state of an
  // earlier run's wild settings carries over into this run's checks.
  ObjectRecord objects[2];
  for (int o = 0; o < 2; ++o) objects[o] = {static_cast<int64_t>(gRun * 2 + o), true, 0};

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
    bool finiteInput = true;
    const uint8_t signal = in.Take<uint8_t>();
    if (count > 0) {
      for (auto& channel : block.channels) {
        channel.resize(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
          float v;
          if (signal % 3 == 0) {
            v = in.Take<float>();  // raw bits: NaN, infinities, huge and subnormal values too
          } else {
            v = static_cast<float>(std::sin(0.01 * i * (1 + signal % 17))) * 0.5f;
            if (signal % 3 == 1 && i % 61 == 0) v = static_cast<float>(in.Take<int8_t>()) / 64.0f;
          }
          channel[static_cast<size_t>(i)] = v;
          finiteInput = finiteInput && std::isfinite(v) && std::fabs(v) <= 4.0f;
        }
      }
    }
    HostSceneInfo scene{};
    scene.sample_rate = rate;
    HostObjectInfo info{};
    info.id = object.id;
    info.frame = object.frame;
    info.sample_count = count;
    AudioProcContext context{&scene, &info, &Read, &Write};
    gBlock = &block;
    const bool result = table->process_audio(&context);
    gBlock = nullptr;
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
