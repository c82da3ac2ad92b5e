// A small VST 3 host for the tests: loads any VST 3 module, lists its
// classes, and runs one audio component with its edit controller over memory
// buffers, with parameter points at their sample offsets; saves and loads
// state through memory streams. Main and audio thread are the caller's.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bindings/vst3/vst3_abi.h"
#include "host/allocation_counter.h"

namespace velmor::test {

namespace vst3_host_detail {

using namespace velmor::vst3;

// A stream over a byte vector, read or written `chunk` bytes at a time.
class MemoryStream final : public IBStream {
 public:
  explicit MemoryStream(std::vector<uint8_t> bytes = {}, size_t chunk = 1 << 20)
      : bytes_(std::move(bytes)), chunk_(chunk) {}
  tresult VELMOR_VST3_API queryInterface(const TUID iid, void** obj) override {
    if (!SameUid(iid, kFUnknownIid) && !SameUid(iid, kIBStreamIid)) return *obj = nullptr, kNoInterface;
    *obj = this;
    return kResultOk;
  }
  uint32 VELMOR_VST3_API addRef() override { return 1; }
  uint32 VELMOR_VST3_API release() override { return 1; }
  tresult VELMOR_VST3_API read(void* buffer, int32 bytes, int32* read) override {
    const size_t n = std::min({static_cast<size_t>(std::max(bytes, 0)), chunk_, bytes_.size() - at_});
    if (n > 0) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    if (read != nullptr) *read = static_cast<int32>(n);
    return kResultOk;
  }
  tresult VELMOR_VST3_API write(void* buffer, int32 bytes, int32* written) override {
    const size_t n = std::min(static_cast<size_t>(std::max(bytes, 0)), chunk_);
    bytes_.insert(bytes_.begin() + static_cast<ptrdiff_t>(at_), static_cast<uint8_t*>(buffer),
                  static_cast<uint8_t*>(buffer) + n);
    at_ += n;
    if (written != nullptr) *written = static_cast<int32>(n);
    return kResultOk;
  }
  tresult VELMOR_VST3_API seek(int64 position, int32 mode, int64* result) override {
    const int64 base = mode == kIBSeekCur ? static_cast<int64>(at_) : mode == kIBSeekEnd ? static_cast<int64>(bytes_.size()) : 0;
    at_ = static_cast<size_t>(std::clamp<int64>(base + position, 0, static_cast<int64>(bytes_.size())));
    if (result != nullptr) *result = static_cast<int64>(at_);
    return kResultOk;
  }
  tresult VELMOR_VST3_API tell(int64* position) override {
    if (position != nullptr) *position = static_cast<int64>(at_);
    return kResultOk;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t at_ = 0, chunk_;
};

class Queue final : public IParamValueQueue {
 public:
  explicit Queue(ParamID id) : id_(id) {}
  tresult VELMOR_VST3_API queryInterface(const TUID, void** obj) override { return *obj = nullptr, kNoInterface; }
  uint32 VELMOR_VST3_API addRef() override { return 1; }
  uint32 VELMOR_VST3_API release() override { return 1; }
  ParamID VELMOR_VST3_API getParameterId() override { return id_; }
  int32 VELMOR_VST3_API getPointCount() override { return static_cast<int32>(points_.size()); }
  tresult VELMOR_VST3_API getPoint(int32 index, int32& offset, ParamValue& value) override {
    if (index < 0 || static_cast<size_t>(index) >= points_.size()) return kInvalidArgument;
    offset = points_[static_cast<size_t>(index)].first;
    value = points_[static_cast<size_t>(index)].second;
    return kResultOk;
  }
  tresult VELMOR_VST3_API addPoint(int32 offset, ParamValue value, int32& index) override {
    points_.emplace_back(offset, value);
    index = static_cast<int32>(points_.size() - 1);
    return kResultOk;
  }

 private:
  ParamID id_;
  std::vector<std::pair<int32, ParamValue>> points_;
};

class Changes final : public IParameterChanges {
 public:
  tresult VELMOR_VST3_API queryInterface(const TUID, void** obj) override { return *obj = nullptr, kNoInterface; }
  uint32 VELMOR_VST3_API addRef() override { return 1; }
  uint32 VELMOR_VST3_API release() override { return 1; }
  int32 VELMOR_VST3_API getParameterCount() override { return static_cast<int32>(queues_.size()); }
  IParamValueQueue* VELMOR_VST3_API getParameterData(int32 index) override {
    return index >= 0 && static_cast<size_t>(index) < queues_.size() ? queues_[static_cast<size_t>(index)].get() : nullptr;
  }
  IParamValueQueue* VELMOR_VST3_API addParameterData(const ParamID& id, int32& index) override {
    for (size_t q = 0; q < queues_.size(); ++q)
      if (queues_[q]->getParameterId() == id) return index = static_cast<int32>(q), queues_[q].get();
    queues_.push_back(std::make_unique<Queue>(id));
    index = static_cast<int32>(queues_.size() - 1);
    return queues_.back().get();
  }

 private:
  std::vector<std::unique_ptr<Queue>> queues_;
};

class HostApplication final : public IHostApplication {
 public:
  tresult VELMOR_VST3_API queryInterface(const TUID iid, void** obj) override {
    if (!SameUid(iid, kFUnknownIid) && !SameUid(iid, kIHostApplicationIid)) return *obj = nullptr, kNoInterface;
    *obj = this;
    return kResultOk;
  }
  uint32 VELMOR_VST3_API addRef() override { return 1; }
  uint32 VELMOR_VST3_API release() override { return 1; }
  tresult VELMOR_VST3_API getName(String128 name) override {
    const char* text = "velmor tests";
    for (int i = 0; i < 128; ++i) {
      name[i] = static_cast<char16>(text[i]);
      if (!text[i]) break;
    }
    return kResultOk;
  }
  tresult VELMOR_VST3_API createInstance(TUID, TUID, void** obj) override { return *obj = nullptr, kResultFalse; }
};

}  // namespace vst3_host_detail

using vst3_host_detail::MemoryStream;

// A VST 3 module, loaded and entered until destroyed.
class Vst3Module {
 public:
  static std::unique_ptr<Vst3Module> Load(const std::string& path, std::string* error) {
    std::unique_ptr<Vst3Module> self(new Vst3Module);
#if defined(_WIN32)
    std::string native = path[0] == '/' ? "Z:" + path : path;  // the build's Unix paths under wine
    std::replace(native.begin(), native.end(), '/', '\\');
    self->module_ = LoadLibraryA(native.c_str());
    auto symbol = [&](const char* name) {
      return self->module_ ? reinterpret_cast<void*>(GetProcAddress(self->module_, name)) : nullptr;
    };
    auto enter = reinterpret_cast<bool (*)()>(symbol("InitDll"));
    if (enter != nullptr && !enter()) return *error = "InitDll failed", nullptr;
    self->exit_ = reinterpret_cast<bool (*)()>(symbol("ExitDll"));
#else
    self->module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto symbol = [&](const char* name) { return self->module_ ? dlsym(self->module_, name) : nullptr; };
    auto enter = reinterpret_cast<bool (*)(void*)>(symbol("ModuleEntry"));
    if (enter != nullptr && !enter(self->module_)) return *error = "ModuleEntry failed", nullptr;
    self->exit_ = reinterpret_cast<bool (*)()>(symbol("ModuleExit"));
#endif
    auto get = reinterpret_cast<vst3::IPluginFactory* (*)()>(symbol("GetPluginFactory"));
    self->factory_ = get != nullptr ? get() : nullptr;
    if (self->factory_ == nullptr) return *error = "no GetPluginFactory in " + path, nullptr;
    void* three = nullptr;
    if (self->factory_->queryInterface(vst3::kIPluginFactory3Iid.bytes, &three) == vst3::kResultOk)
      self->factory3_ = static_cast<vst3::IPluginFactory3*>(three);
    return self;
  }
  ~Vst3Module() {
    if (factory3_ != nullptr) factory3_->release();
    if (exit_ != nullptr) exit_();
#if defined(_WIN32)
    if (module_) FreeLibrary(module_);
#else
    if (module_) dlclose(module_);
#endif
  }

  vst3::IPluginFactory& factory() const { return *factory_; }
  vst3::IPluginFactory3* factory3() const { return factory3_; }
  std::vector<vst3::PClassInfo2> Classes() const {
    std::vector<vst3::PClassInfo2> all;
    auto* two = static_cast<vst3::IPluginFactory2*>(factory3_);
    for (int32_t i = 0; two != nullptr && i < factory_->countClasses(); ++i) {
      vst3::PClassInfo2 info{};
      if (two->getClassInfo2(i, &info) == vst3::kResultOk) all.push_back(info);
    }
    return all;
  }

 private:
  Vst3Module() = default;
#if defined(_WIN32)
  HMODULE module_ = nullptr;
#else
  void* module_ = nullptr;
#endif
  bool (*exit_)() = nullptr;
  vst3::IPluginFactory* factory_ = nullptr;
  vst3::IPluginFactory3* factory3_ = nullptr;
};

// A parameter point: the plain value at a sample offset.
struct Vst3Point {
  int32_t offset;
  uint32_t id;
  double plain;
};

// An audio component and its edit controller, initialised.
class Vst3Instance {
 public:
  Vst3Instance(const Vst3Module& module, const char* cid) {
    using namespace vst3;
    void* obj = nullptr;
    if (module.factory().createInstance(cid, kIComponentIid.bytes, &obj) != kResultOk) return;
    component_ = static_cast<IComponent*>(obj);
    if (component_->initialize(&host_) != kResultOk) return;
    if (component_->queryInterface(kIAudioProcessorIid.bytes, &obj) != kResultOk) return;
    processor_ = static_cast<IAudioProcessor*>(obj);
    TUID controller;
    if (component_->getControllerClassId(controller) == kResultOk &&
        module.factory().createInstance(controller, kIEditControllerIid.bytes, &obj) == kResultOk) {
      controller_ = static_cast<IEditController*>(obj);
      controller_->initialize(&host_);
    } else if (component_->queryInterface(kIEditControllerIid.bytes, &obj) == kResultOk) {
      controller_ = static_cast<IEditController*>(obj);  // a single-object plug-in
    }
  }
  ~Vst3Instance() {
    Deactivate();
    if (controller_ != nullptr) controller_->terminate(), controller_->release();
    if (processor_ != nullptr) processor_->release();
    if (component_ != nullptr) component_->terminate(), component_->release();
  }
  Vst3Instance(const Vst3Instance&) = delete;
  Vst3Instance& operator=(const Vst3Instance&) = delete;

  bool ok() const { return component_ != nullptr && processor_ != nullptr && controller_ != nullptr; }
  vst3::IComponent& component() const { return *component_; }
  vst3::IAudioProcessor& processor() const { return *processor_; }
  vst3::IEditController& controller() const { return *controller_; }

  bool Activate(double rate, int32_t maxBlock = 4096) {
    using namespace vst3;
    Deactivate();
    SpeakerArrangement stereo = kStereo;
    processor_->setBusArrangements(&stereo, 1, &stereo, 1);
    ProcessSetup setup{0, kSample32, maxBlock, rate};
    if (processor_->setupProcessing(setup) != kResultOk) return false;
    component_->activateBus(kAudio, kInput, 0, 1);
    component_->activateBus(kAudio, kOutput, 0, 1);
    active_ = component_->setActive(1) == kResultOk;
    processing_ = active_ && processor_->setProcessing(1) == kResultOk;
    return processing_;
  }
  void Deactivate() {
    if (processing_) processor_->setProcessing(0), processing_ = false;
    if (active_) component_->setActive(0), active_ = false;
  }

  // One process call over the channel buffers (in place when in and out are
  // the same) with the points, their plain values normalized by the
  // controller, as a host automates. Only the plug-in's own call counts for
  // an AllocationCounter.
  int32_t Process(float* inL, float* inR, float* outL, float* outR, int32_t frames,
                  const std::vector<Vst3Point>& points = {}) {
    using namespace vst3;
    host::AllocationCountingPause pause;
    vst3_host_detail::Changes changes, sent;
    for (const Vst3Point& p : points) {
      int32 index = 0, added = 0;
      changes.addParameterData(p.id, index)->addPoint(p.offset, controller_->plainParamToNormalized(p.id, p.plain), added);
    }
    float* in[2] = {inL, inR};
    float* out[2] = {outL, outR};
    AudioBusBuffers input{}, output{};
    input.numChannels = output.numChannels = 2;
    input.channelBuffers32 = in;
    output.channelBuffers32 = out;
    ProcessData data{};
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    data.numInputs = inL != nullptr ? 1 : 0;
    data.numOutputs = outL != nullptr ? 1 : 0;
    data.inputs = inL != nullptr ? &input : nullptr;
    data.outputs = outL != nullptr ? &output : nullptr;
    data.inputParameterChanges = &changes;
    data.outputParameterChanges = &sent;  // meters and the like, which a plug-in may send
    host::AllocationCountingPause::Resume resume(pause);
    return processor_->process(data);
  }

  std::vector<uint8_t> SaveState(size_t chunk = 1 << 20) const {
    MemoryStream stream({}, chunk);
    component_->getState(&stream);
    return stream.bytes();
  }
  vst3::tresult LoadState(const std::vector<uint8_t>& blob, size_t chunk = 1 << 20) {
    MemoryStream forComponent(blob, chunk), forController(blob, chunk);
    const vst3::tresult result = component_->setState(&forComponent);
    if (result == vst3::kResultOk) controller_->setComponentState(&forController);
    return result;
  }

 private:
  vst3_host_detail::HostApplication host_;
  vst3::IComponent* component_ = nullptr;
  vst3::IAudioProcessor* processor_ = nullptr;
  vst3::IEditController* controller_ = nullptr;
  bool active_ = false, processing_ = false;
};

}  // namespace velmor::test
