// libFuzzer target for velmor.vst3, linked in with its module. The input
// bytes choose the plug-in and a run of host calls on its component and
// controller: setup at any rate and sample size, activation, process calls
// of any length with parameter queues of any id, offset and value (NaN
// too), with and without buffers, streams of any bytes and saved states with
// a byte changed, bus arrangements, and text and normalized conversions. Any
// crash or sanitizer report fails; so does a refused state that changes
// anything, or a damaged saved state that loads.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bindings/vst3/vst3_abi.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/vst3/vst3_host.h"

using namespace velmor;
using namespace velmor::vst3;
using fuzz::Bytes;

extern "C" IPluginFactory* GetPluginFactory();

namespace {

std::vector<uint8_t> Saved(IComponent& component) {
  test::MemoryStream stream;
  if (component.getState(&stream) != kResultOk) std::abort();
  return stream.bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IPluginFactory* factory = GetPluginFactory();
  Bytes in(data, size);
  const int32 classes = factory->countClasses();
  PClassInfo info{};
  factory->getClassInfo(2 * (in.Take<uint8_t>() % (classes / 2)), &info);
  void* obj = nullptr;
  if (factory->createInstance(info.cid, kIComponentIid.bytes, &obj) != kResultOk) std::abort();
  auto* component = static_cast<IComponent*>(obj);
  component->initialize(nullptr);
  component->queryInterface(kIAudioProcessorIid.bytes, &obj);
  auto* processor = static_cast<IAudioProcessor*>(obj);
  TUID cid;
  component->getControllerClassId(cid);
  if (factory->createInstance(cid, kIEditControllerIid.bytes, &obj) != kResultOk) std::abort();
  auto* controller = static_cast<IEditController*>(obj);
  controller->initialize(nullptr);
  const int32 params = controller->getParameterCount();
  std::vector<float> buffers[4];
  bool active = false;
  for (int op = 0; op < 48 && !in.Empty(); ++op) {
    switch (in.Take<uint8_t>() % 7) {
      case 0: {  // setup and activation
        const double rates[] = {8000, 44100, 48000, 192000, 1, 1e9};
        const uint8_t r = in.Take<uint8_t>();
        ProcessSetup setup{0, in.Take<uint8_t>() % 5 == 0 ? kSample64 : kSample32, 4096,
                           r < 200 ? rates[r % 6] : in.Take<double>()};
        if (active) component->setActive(0);
        processor->setupProcessing(setup);
        active = component->setActive(1) == kResultOk;
        break;
      }
      case 1: {  // a process call
        const int32 n = static_cast<int32>(in.Take<uint16_t>() % 4097) - (in.Take<uint8_t>() % 9 == 0 ? 5000 : 0);
        const size_t frames = n > 0 ? static_cast<size_t>(n) : 0;
        for (auto& b : buffers) b.assign(frames, 0.0f);
        for (size_t i = 0; i < frames && i < 64; ++i) buffers[0][i] = in.Take<float>(), buffers[1][i] = in.Take<float>();
        const uint8_t mode = in.Take<uint8_t>();
        float* inputs[2] = {buffers[0].data(), buffers[1].data()};
        float* outputs[2] = {mode % 3 == 0 ? buffers[0].data() : buffers[2].data(), mode % 3 == 1 ? buffers[3].data() : buffers[0].data()};
        AudioBusBuffers input{}, output{};
        input.numChannels = output.numChannels = mode % 7 == 6 ? 1 : 2;
        input.channelBuffers32 = inputs;
        output.channelBuffers32 = outputs;
        test::vst3_host_detail::Changes changes;
        for (int q = in.Take<uint8_t>() % 4; q > 0; --q) {
          const uint8_t pick = in.Take<uint8_t>();
          const ParamID id = pick % 4 == 0 ? 1000 : pick % 8 == 1 ? in.Take<uint32_t>() : pick % (params + 1);
          int32 index = 0, added = 0;
          IParamValueQueue* queue = changes.addParameterData(id, index);
          for (int p = in.Take<uint8_t>() % 4; p > 0; --p) queue->addPoint(in.Take<int16_t>(), in.Take<double>(), added);
        }
        ProcessData data{};
        data.symbolicSampleSize = mode % 13 == 12 ? kSample64 : kSample32;
        data.numSamples = n;
        data.numInputs = data.numOutputs = mode % 11 == 10 ? 0 : 1;
        data.inputs = mode % 11 == 10 ? nullptr : &input;
        data.outputs = mode % 11 == 10 ? nullptr : &output;
        data.inputParameterChanges = &changes;
        if (active) processor->process(data);
        break;
      }
      case 2: {  // any bytes as a state
        std::vector<uint8_t> blob(in.Take<uint8_t>());
        for (auto& b : blob) b = in.Take<uint8_t>();
        const auto before = Saved(*component);
        test::MemoryStream stream(blob, 1 + in.Take<uint8_t>() % 64);
        if (component->setState(&stream) != kResultOk && Saved(*component) != before) std::abort();
        test::MemoryStream again(blob);
        controller->setComponentState(&again);
        break;
      }
      case 3: {  // a saved state with one byte changed: refused; unchanged: taken
        auto blob = Saved(*component);
        const uint8_t flip = in.Take<uint8_t>();
        blob[in.Take<uint16_t>() % blob.size()] ^= flip;
        const auto before = Saved(*component);
        test::MemoryStream stream(blob);
        if ((component->setState(&stream) == kResultOk) != (flip == 0) || Saved(*component) != before) std::abort();
        break;
      }
      case 4: {  // arrangements
        SpeakerArrangement a = in.Take<uint64_t>(), b = in.Take<uint64_t>();
        processor->setBusArrangements(&a, in.Take<uint8_t>() % 3, &b, in.Take<uint8_t>() % 3);
        break;
      }
      case 5: {  // normalized values and text both ways
        const ParamID id = in.Take<uint8_t>() % 2 ? 1000 : in.Take<uint8_t>() % (params + 1);
        const ParamValue v = in.Take<double>();
        controller->setParamNormalized(id, v);
        controller->plainParamToNormalized(id, controller->normalizedParamToPlain(id, v));
        String128 text{};
        if (controller->getParamStringByValue(id, v, text) == kResultOk) {
          ParamValue back = 0;
          controller->getParamValueByString(id, text, back);
        }
        break;
      }
      case 6:
        processor->getTailSamples();
        processor->setProcessing(in.Take<uint8_t>() % 2);
        break;
    }
  }
  if (active) component->setActive(0);
  controller->terminate();
  controller->release();
  processor->release();
  component->terminate();
  component->release();
  return 0;
}
