// Differential libFuzzer target for one plug-in: the input bytes choose the
// blocks (their lengths, objects, frame numbers, rates, settings and
// samples), which run through the plug-in's exports and through the plain
// reference of the effect. Any bit of difference in any sample fails (all
// NaNs count as equal), as do a crash and a sanitizer report.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bindings/aviutl2/objects.h"
#include "bindings/aviutl2/host_abi.h"
#include "tests/fuzz/fuzz_input.h"
#include "reference/reference.h"

extern "C" velmor::FilterPluginTable* GetFilterPluginTable();
extern "C" bool InitializePlugin();

namespace {

using namespace velmor;

bool SameSample(float a, float b) {
  uint32_t x, y;
  std::memcpy(&x, &a, 4);
  std::memcpy(&y, &b, 4);
  return x == y || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FilterPluginTable* table = [] {
    InitializePlugin();
    return GetFilterPluginTable();
  }();
  fuzz::Bytes in(data, size);
  aviutl2::ForgetAllObjects();
  auto model = reference::MakeModel(VELMOR_PLUGIN_NAME);
  int32_t frames[3] = {in.Take<int8_t>(), 0, 0};
  frames[1] = frames[2] = frames[0];
  static const int32_t kRates[] = {44100, 48000, 8000, 22050, 96000, 192000, 11025, 32000};

  for (int blocks = 0; blocks < 8 && !in.Empty(); ++blocks) {
    reference::Block ref;
    for (void* const* item = table->items; *item != nullptr; ++item) {
      const uint8_t how = in.Take<uint8_t>();
      if (static_cast<TrackItem*>(*item)->type[0] == u't') {
        auto* track = static_cast<TrackItem*>(*item);
        const double v = how % 4 == 0 ? in.Take<double>()
                                       : track->min + (track->max - track->min) * (in.Take<uint16_t>() / 65535.0);
        track->value = v;
        ref.values.push_back(v);
      } else {
        auto* select = static_cast<SelectItem*>(*item);
        const int32_t v = how % 4 == 0 ? in.Take<int32_t>() : static_cast<int32_t>(in.Take<uint8_t>() % 4);
        select->value = v;
        ref.values.push_back(v);
      }
    }
    const uint8_t rateChoice = in.Take<uint8_t>();
    ref.sampleRate = rateChoice % 16 == 15 ? in.Take<int32_t>() : kRates[rateChoice % 8];
    // Lengths mostly short, so that a run is quick; now and then long.
    const uint16_t length = in.Take<uint16_t>();
    ref.count = length % 8 == 0 ? static_cast<int32_t>(length % 4200) : static_cast<int32_t>(length % 300) - 3;
    const int o = in.Take<uint8_t>() % 3;
    const int8_t step = in.Take<int8_t>();
    frames[o] += step % 4 == 0 ? step / 4 : 1;  // mostly consecutive, some jumps and repeats
    ref.id = o + 1;
    ref.frame = frames[o];

    fuzz::Block block;
    fuzz::FillSamples(in, block, ref.count);
    std::vector<float> want[2] = {block.channels[0], block.channels[1]};
    ref.ch0 = want[0].data();
    ref.ch1 = want[1].data();

    HostSceneInfo scene{};
    scene.sample_rate = ref.sampleRate;
    HostObjectInfo info{};
    info.id = ref.id;
    info.frame = ref.frame;
    info.sample_count = ref.count;
    AudioProcContext context{&scene, &info, &fuzz::Read, &fuzz::Write};
    fuzz::gBlock = &block;
    const bool result = table->process_audio(&context);
    fuzz::gBlock = nullptr;
    const bool expected = model->Process(ref);
    if (result != expected) {
      std::fprintf(stderr, "block %d: the plug-in returned %d, the reference %d\n", blocks, result, expected);
      std::abort();
    }
    for (int c = 0; c < 2; ++c)
      for (int32_t i = 0; i < ref.count; ++i)
        if (!SameSample(block.channels[c][static_cast<size_t>(i)], want[c][static_cast<size_t>(i)])) {
          std::fprintf(stderr, "block %d (%d samples at %d Hz, object %lld, frame %d), channel %d, sample %d: "
                               "plug-in %a, reference %a\n",
                       blocks, ref.count, ref.sampleRate, static_cast<long long>(ref.id), ref.frame, c, i,
                       block.channels[c][static_cast<size_t>(i)], want[c][static_cast<size_t>(i)]);
          std::abort();
        }
  }
  return 0;
}
