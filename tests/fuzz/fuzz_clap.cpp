// libFuzzer target for velmor.clap, linked in with its entry. The input
// bytes choose the plug-in and a run of host calls: activation at any rate,
// process calls of any length with parameter events of any id, time and
// value (NaN and infinities too), flushes, resets, state blobs of any bytes
// and saved states with a byte changed, and text conversions. Any crash or
// sanitizer report fails; so does a state load that changes a value and
// says it failed, one that succeeds with a value outside its range, or a
// damaged saved state that loads.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bindings/clap/clap_abi.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" const velmor::clap::PluginEntry clap_entry;

namespace {

using namespace velmor;
using fuzz::Bytes;

const clap::Host kHost{clap::kVersion, nullptr, "fuzz", "", "", "1",
                       [](const clap::Host*, const char*) -> const void* { return nullptr; },
                       [](const clap::Host*) {}, [](const clap::Host*) {}, [](const clap::Host*) {}};

struct Events {
  std::vector<clap::EventParamValue> list;
  clap::InputEvents in{this, [](const clap::InputEvents* l) {
                         return static_cast<uint32_t>(static_cast<const Events*>(l->ctx)->list.size());
                       },
                       [](const clap::InputEvents* l, uint32_t i) -> const clap::EventHeader* {
                         return &static_cast<const Events*>(l->ctx)->list[i].header;
                       }};
};

// Up to five events with ids near the plug-in's (items, the bypass, others).
void TakeEvents(Bytes& in, Events& events, uint32_t params) {
  for (int k = in.Take<uint8_t>() % 6; k > 0; --k) {
    const uint8_t pick = in.Take<uint8_t>();
    const clap::Id id = pick % 4 == 0 ? 1000 : pick % 8 == 1 ? in.Take<uint32_t>() : pick % (params + 1);
    events.list.push_back({{sizeof(clap::EventParamValue), in.Take<uint16_t>(), clap::kCoreEventSpace,
                            clap::kEventParamValue, 0},
                           id, nullptr, -1, -1, -1, -1, in.Take<double>()});
  }
}

struct Stream {
  std::vector<uint8_t> bytes;
  size_t at = 0;
};

std::vector<double> Values(const clap::Plugin* p, const clap::PluginParams* params) {
  std::vector<double> values;
  for (uint32_t i = 0; i < params->count(p); ++i) {
    clap::ParamInfo info{};
    double v = 0;
    params->get_info(p, i, &info);
    params->get_value(p, info.id, &v);
    values.push_back(v);
  }
  return values;
}

bool Load(const clap::Plugin* p, const clap::PluginState* state, const std::vector<uint8_t>& blob) {
  Stream s{blob, 0};
  const clap::InputStream stream{&s, [](const clap::InputStream* st, void* data, uint64_t size) -> int64_t {
    auto* self = static_cast<Stream*>(st->ctx);
    const size_t n = std::min<size_t>(size, self->bytes.size() - self->at);
    if (n > 0) std::memcpy(data, self->bytes.data() + self->at, n);
    self->at += n;
    return static_cast<int64_t>(n);
  }};
  return state->load(p, &stream);
}

std::vector<uint8_t> Save(const clap::Plugin* p, const clap::PluginState* state) {
  Stream s;
  const clap::OutputStream stream{&s, [](const clap::OutputStream* st, const void* data, uint64_t size) -> int64_t {
    auto* self = static_cast<Stream*>(st->ctx);
    self->bytes.insert(self->bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return static_cast<int64_t>(size);
  }};
  if (!state->save(p, &stream)) std::abort();
  return s.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto* factory =
      static_cast<const clap::PluginFactory*>(clap_entry.get_factory(clap::kPluginFactoryId));
  Bytes in(data, size);
  const uint32_t count = factory->get_plugin_count(factory);
  const auto* descriptor = factory->get_plugin_descriptor(factory, in.Take<uint8_t>() % count);
  const clap::Plugin* p = factory->create_plugin(factory, &kHost, descriptor->id);
  if (p == nullptr || !p->init(p)) std::abort();
  const auto* params = static_cast<const clap::PluginParams*>(p->get_extension(p, clap::kExtParams));
  const auto* state = static_cast<const clap::PluginState*>(p->get_extension(p, clap::kExtState));
  const auto* tail = static_cast<const clap::PluginTail*>(p->get_extension(p, clap::kExtTail));
  const uint32_t paramCount = params->count(p);
  std::vector<clap::ParamInfo> infos(paramCount);
  for (uint32_t i = 0; i < paramCount; ++i) params->get_info(p, i, &infos[i]);
  bool active = false;
  std::vector<float> buffers[4];
  for (int op = 0; op < 48 && !in.Empty(); ++op) {
    switch (in.Take<uint8_t>() % 7) {
      case 0: {  // (de)activate at a rate of the usual ones or any
        if (active) p->stop_processing(p), p->deactivate(p), active = false;
        const double rates[] = {8000, 44100, 48000, 192000, 1, 1e9};
        const uint8_t r = in.Take<uint8_t>();
        const double rate = r < 200 ? rates[r % 6] : in.Take<double>();
        active = p->activate(p, rate, 1, 4096) && p->start_processing(p);
        break;
      }
      case 1: {  // a process call
        if (!active) break;
        const uint32_t n = in.Take<uint16_t>() % 4097;
        for (auto& b : buffers) b.assign(n, 0.0f);
        for (uint32_t i = 0; i < n && i < 64; ++i) buffers[0][i] = in.Take<float>(), buffers[1][i] = in.Take<float>();
        for (uint32_t i = 64; i < n; ++i) buffers[0][i] = buffers[1][i] = std::sin(0.01f * static_cast<float>(i));
        const uint8_t mode = in.Take<uint8_t>();
        float* inputs[2] = {buffers[0].data(), buffers[1].data()};
        float* outputs[2] = {mode % 3 == 0 ? buffers[0].data() : buffers[2].data(),
                             mode % 3 == 0 ? buffers[1].data() : mode % 3 == 1 ? buffers[3].data() : buffers[0].data()};
        clap::AudioBuffer input{inputs, nullptr, 2, 0, 0}, output{outputs, nullptr, 2, 0, 0};
        Events events;
        TakeEvents(in, events, paramCount);
        const clap::OutputEvents sink{nullptr, [](const clap::OutputEvents*, const clap::EventHeader*) { return true; }};
        const bool noAudio = mode % 11 == 10;
        const clap::Process process{-1, n, nullptr, noAudio ? nullptr : &input, noAudio ? nullptr : &output,
                                    noAudio ? 0u : 1u, noAudio ? 0u : 1u, &events.in, &sink};
        p->process(p, &process);
        break;
      }
      case 2: {  // a flush
        Events events;
        TakeEvents(in, events, paramCount);
        params->flush(p, &events.in, nullptr);
        break;
      }
      case 3: {  // any bytes as a state
        std::vector<uint8_t> blob(in.Take<uint8_t>());
        for (auto& b : blob) b = in.Take<uint8_t>();
        const auto before = Values(p, params);
        if (!Load(p, state, blob)) {
          if (Values(p, params) != before) std::abort();
        } else {
          const auto after = Values(p, params);
          for (uint32_t i = 0; i < paramCount; ++i)
            if (!(after[i] >= infos[i].min_value && after[i] <= infos[i].max_value)) std::abort();
        }
        break;
      }
      case 4: {  // a saved state, one byte changed: refused; unchanged: taken
        auto blob = Save(p, state);
        const auto before = Values(p, params);
        const uint8_t flip = in.Take<uint8_t>();
        blob[in.Take<uint16_t>() % blob.size()] ^= flip;
        if (Load(p, state, blob) != (flip == 0) || Values(p, params) != before) std::abort();
        break;
      }
      case 5:
        p->reset(p);
        if (tail != nullptr) tail->get(p);
        break;
      case 6: {  // text both ways for any value
        const clap::ParamInfo& info = infos[in.Take<uint8_t>() % paramCount];
        char text[64];
        double back = 0;
        if (params->value_to_text(p, info.id, in.Take<double>(), text, in.Take<uint8_t>() % 64 + 1))
          params->text_to_value(p, info.id, text, &back);
        break;
      }
    }
  }
  if (active) p->stop_processing(p), p->deactivate(p);
  p->destroy(p);
  return 0;
}
