// Every effect as a VST 3 plug-in, all in one module: a factory of two classes
// per effect, the audio component (IComponent and IAudioProcessor around a
// PluginInstance, framework/plugin_instance.h) and its edit controller
// (IEditController). The component is one timeline object: setActive(true)
// begins a new object, and a process() call runs as one block, or as
// several where parameter points fall inside it: each point takes effect at
// its sample offset, and each piece between points is a block of its own,
// as consecutive AviUtl2 blocks are.
//
// Threads: process() and setProcessing() allocate nothing, take no lock and
// make no system call. A state loaded on the main thread while active is
// handed to the audio thread (framework/value_mirror.h).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "bindings/vst3/classes.h"
#include "bindings/vst3/vst3_abi.h"
#include "effect_handlers.h"
#include "framework/parameter_text.h"
#include "framework/plugin_instance.h"
#include "framework/plugin_state.h"
#include "framework/utf16.h"
#include "framework/value_mirror.h"
#include "framework/version.h"

#if defined(_WIN32)
#define VELMOR_VST3_EXPORT extern "C" __declspec(dllexport)
#else
#define VELMOR_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace velmor::vst3 {
namespace {

constexpr size_t kEffects = std::size(kAllEffects);

// --- helpers ---------------------------------------------------------------

template <size_t N>
void CopyText(char (&to)[N], std::string_view from) {
  const size_t n = std::min(from.size(), N - 1);
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

// ASCII or UTF-8 into a UTF-16 field (our texts there are ASCII).
template <size_t N>
void CopyText16(char16 (&to)[N], std::string_view from) {
  size_t n = 0;
  for (; n < from.size() && n + 1 < N; ++n) to[n] = static_cast<unsigned char>(from[n]);
  to[n] = 0;
}

std::string FromText16(const TChar* text) {
  std::string out;
  for (size_t i = 0; text != nullptr && text[i] != 0 && i < 128; ++i)
    out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
  return out;
}

// Reads a whole state (at most one byte more than the longest) from a stream.
size_t ReadAll(IBStream* stream, uint8_t* into, size_t capacity) {
  size_t size = 0;
  while (size < capacity) {
    int32 got = 0;
    if (stream->read(into + size, static_cast<int32>(capacity - size), &got) != kResultOk || got <= 0) break;
    size += static_cast<size_t>(got);
  }
  return size;
}

bool WriteAll(IBStream* stream, const uint8_t* from, size_t size) {
  for (size_t done = 0; done < size;) {
    int32 wrote = 0;
    if (stream->write(const_cast<uint8_t*>(from + done), static_cast<int32>(size - done), &wrote) != kResultOk ||
        wrote <= 0)
      return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// Normalized values: a slider's range mapped onto 0 to 1, its plain value
// rounded to its step's decimals so that every step comes back exactly; a
// drop-down list's options and the bypass switch evenly spaced.
double ToPlain(const EffectInfo& info, ParamID id, double normalized) {
  const Parameter p = FindParameter(info, id);
  if (!p.valid) return 0.0;
  normalized = std::isnan(normalized) ? 0.0 : std::clamp(normalized, 0.0, 1.0);
  if (p.bypass) return normalized >= 0.5 ? 1.0 : 0.0;
  const ItemEntry& item = info.items[p.item];
  const double span = item.max - item.min;
  if (item.kind == ItemKind::Select) return std::round(normalized * span);
  const double scale = std::pow(10.0, StepDecimals(item));
  return std::clamp(std::round((item.min + normalized * span) * scale) / scale, item.min, item.max);
}

double ToNormalized(const EffectInfo& info, ParamID id, double plain) {
  const Parameter p = FindParameter(info, id);
  if (!p.valid || std::isnan(plain)) return 0.0;
  if (p.bypass) return plain >= 0.5 ? 1.0 : 0.0;
  const ItemEntry& item = info.items[p.item];
  return std::clamp((plain - item.min) / (item.max - item.min), 0.0, 1.0);
}

// The reference count every object here keeps.
class RefCounted {
 protected:
  virtual ~RefCounted() = default;
  uint32 AddRef() { return ++references_; }
  uint32 Release() {
    const uint32 left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<uint32> references_{1};
};

// --- the audio component ----------------------------------------------------

class Component final : public IComponent, public IAudioProcessor, RefCounted {
 public:
  explicit Component(size_t effect)
      : effect_(effect), instance_(*kAllEffects[effect], 44100.0, "vst3"), mirror_(instance_) {}

  // FUnknown
  tresult VELMOR_VST3_API queryInterface(const TUID iid, void** obj) override {
    if (obj == nullptr) return kInvalidArgument;
    if (SameUid(iid, kFUnknownIid) || SameUid(iid, kIPluginBaseIid) || SameUid(iid, kIComponentIid))
      *obj = static_cast<IComponent*>(this);
    else if (SameUid(iid, kIAudioProcessorIid))
      *obj = static_cast<IAudioProcessor*>(this);
    else
      return *obj = nullptr, kNoInterface;
    AddRef();
    return kResultOk;
  }
  uint32 VELMOR_VST3_API addRef() override { return AddRef(); }
  uint32 VELMOR_VST3_API release() override { return Release(); }

  // IPluginBase
  tresult VELMOR_VST3_API initialize(FUnknown*) override { return kResultOk; }
  tresult VELMOR_VST3_API terminate() override { return kResultOk; }

  // IComponent
  tresult VELMOR_VST3_API getControllerClassId(TUID cid) override {
    std::memcpy(cid, ControllerClassId(info().slug).bytes, 16);
    return kResultOk;
  }
  tresult VELMOR_VST3_API setIoMode(int32) override { return kResultOk; }
  int32 VELMOR_VST3_API getBusCount(int32 type, int32) override { return type == kAudio ? 1 : 0; }
  tresult VELMOR_VST3_API getBusInfo(int32 type, int32 direction, int32 index, BusInfo& bus) override {
    if (type != kAudio || index != 0 || (direction != kInput && direction != kOutput)) return kInvalidArgument;
    std::memset(&bus, 0, sizeof bus);
    bus.mediaType = kAudio;
    bus.direction = direction;
    bus.channelCount = 2;
    CopyText16(bus.name, direction == kInput ? "Stereo In" : "Stereo Out");
    bus.busType = kMain;
    bus.flags = BusInfo::kDefaultActive;
    return kResultOk;
  }
  tresult VELMOR_VST3_API getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
  tresult VELMOR_VST3_API activateBus(int32 type, int32, int32 index, TBool) override {
    return type == kAudio && index == 0 ? kResultOk : kInvalidArgument;
  }
  tresult VELMOR_VST3_API setActive(TBool state) override {
    if (state) {
      instance_.SetSampleRate(rate_);
      instance_.Restart();
    }
    active_.store(state != 0);
    return kResultOk;
  }
  tresult VELMOR_VST3_API setState(IBStream* stream) override {
    if (stream == nullptr) return kInvalidArgument;
    uint8_t blob[kMaxStateBytes + 1];
    double values[kMaxItems];
    bool bypassed = false;
    if (!LoadState(info(), blob, ReadAll(stream, blob, sizeof blob), values, &bypassed)) return kResultFalse;
    mirror_.Load(instance_, values, bypassed, active_.load());
    return kResultOk;
  }
  tresult VELMOR_VST3_API getState(IBStream* stream) override {
    if (stream == nullptr) return kInvalidArgument;
    double values[kMaxItems];
    mirror_.CopyValues(values, info().items.size());
    uint8_t blob[kMaxStateBytes];
    return WriteAll(stream, blob, SaveState(info(), values, mirror_.Bypassed(), blob)) ? kResultOk : kResultFalse;
  }

  // IAudioProcessor
  tresult VELMOR_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 ins, SpeakerArrangement* outputs,
                                             int32 outs) override {
    const bool stereo = ins == 1 && outs == 1 && inputs != nullptr && outputs != nullptr && inputs[0] == kStereo &&
                        outputs[0] == kStereo;
    return stereo ? kResultTrue : kResultFalse;
  }
  tresult VELMOR_VST3_API getBusArrangement(int32 direction, int32 index, SpeakerArrangement& arrangement) override {
    if (index != 0 || (direction != kInput && direction != kOutput)) return kInvalidArgument;
    arrangement = kStereo;
    return kResultOk;
  }
  tresult VELMOR_VST3_API canProcessSampleSize(int32 size) override {
    return size == kSample32 ? kResultTrue : kResultFalse;
  }
  uint32 VELMOR_VST3_API getLatencySamples() override { return 0; }
  tresult VELMOR_VST3_API setupProcessing(ProcessSetup& setup) override {
    if (setup.symbolicSampleSize != kSample32 || !(setup.sampleRate > 0.0) || !std::isfinite(setup.sampleRate))
      return kResultFalse;
    rate_ = setup.sampleRate;
    return kResultOk;
  }
  tresult VELMOR_VST3_API setProcessing(TBool) override { return kResultOk; }
  tresult VELMOR_VST3_API process(ProcessData& data) override;
  uint32 VELMOR_VST3_API getTailSamples() override {
    double values[kMaxItems];
    mirror_.CopyValues(values, info().items.size());
    const uint32 frames =
        kAllEffects[effect_]->tailFrames(ItemValues(values), static_cast<float>(WholeRate(rate_)));
    return std::min(frames, kInfiniteTail - 1);
  }

 private:
  // A parameter point of this block.
  struct Point {
    int32 offset;
    ParamID id;
    ParamValue value;
  };
  static constexpr size_t kMaxPoints = 1024;

  const EffectInfo& info() const { return *kAllEffects[effect_]->info; }
  void Apply(const Point& point);
  size_t GatherPoints(IParameterChanges* changes);

  size_t effect_;
  PluginInstance instance_;
  ValueMirror mirror_;
  double rate_ = 44100.0;
  std::atomic<bool> active_{false};
  Point points_[kMaxPoints];
};

void Component::Apply(const Point& point) {
  mirror_.Apply(instance_, point.id, ToPlain(info(), point.id, point.value));
}

// Every queue's points, in offset order (a queue's own order kept among
// equal offsets). A host that sends more than kMaxPoints in one block has
// the rest taken before the block.
size_t Component::GatherPoints(IParameterChanges* changes) {
  size_t count = 0;
  const int32 queues = changes != nullptr ? changes->getParameterCount() : 0;
  for (int32 q = 0; q < queues; ++q) {
    IParamValueQueue* queue = changes->getParameterData(q);
    if (queue == nullptr) continue;
    const ParamID id = queue->getParameterId();
    for (int32 i = 0, n = queue->getPointCount(); i < n; ++i) {
      Point point{0, id, 0.0};
      if (queue->getPoint(i, point.offset, point.value) != kResultOk) continue;
      if (count == kMaxPoints) {
        Apply(point);
        continue;
      }
      points_[count++] = point;
    }
  }
  // Insertion, stable and without the temporary buffer std::stable_sort
  // would allocate; each queue comes in offset order already.
  for (size_t i = 1; i < count; ++i) {
    const Point point = points_[i];
    size_t j = i;
    for (; j > 0 && points_[j - 1].offset > point.offset; --j) points_[j] = points_[j - 1];
    points_[j] = point;
  }
  return count;
}

tresult Component::process(ProcessData& data) {
  mirror_.Take(instance_);
  const size_t points = GatherPoints(data.inputParameterChanges);
  const int32 n = std::max(data.numSamples, 0);
  const auto usable = [](const AudioBusBuffers* buses, int32 count) {
    return buses != nullptr && count >= 1 && buses[0].numChannels >= 2 && buses[0].channelBuffers32 != nullptr &&
           buses[0].channelBuffers32[0] != nullptr && buses[0].channelBuffers32[1] != nullptr;
  };
  const bool audio = n > 0 && data.symbolicSampleSize == kSample32 && usable(data.inputs, data.numInputs) &&
                     usable(data.outputs, data.numOutputs);
  BlockPieces pieces(instance_, audio ? data.inputs[0].channelBuffers32 : nullptr,
                     audio ? data.outputs[0].channelBuffers32 : nullptr, static_cast<size_t>(n));
  for (size_t i = 0; i < points; ++i) {
    pieces.RunTo(static_cast<size_t>(std::max(points_[i].offset, 0)));  // a point before the block applies at its start
    Apply(points_[i]);
  }
  pieces.Finish();
  if (audio) data.outputs[0].silenceFlags = 0;
  return kResultOk;
}

// --- the edit controller ----------------------------------------------------

class Controller final : public IEditController, RefCounted {
 public:
  explicit Controller(size_t effect) : effect_(effect) {
    for (size_t k = 0; k < info().items.size(); ++k)
      normalized_[k] = ToNormalized(info(), ItemParameterId(k), info().items[k].defaultValue);
  }

  tresult VELMOR_VST3_API queryInterface(const TUID iid, void** obj) override {
    if (obj == nullptr) return kInvalidArgument;
    if (!SameUid(iid, kFUnknownIid) && !SameUid(iid, kIPluginBaseIid) && !SameUid(iid, kIEditControllerIid))
      return *obj = nullptr, kNoInterface;
    *obj = static_cast<IEditController*>(this);
    AddRef();
    return kResultOk;
  }
  uint32 VELMOR_VST3_API addRef() override { return AddRef(); }
  uint32 VELMOR_VST3_API release() override { return Release(); }
  tresult VELMOR_VST3_API initialize(FUnknown*) override { return kResultOk; }
  tresult VELMOR_VST3_API terminate() override { return kResultOk; }

  // The component's state and the controller's own are the same blob.
  tresult VELMOR_VST3_API setComponentState(IBStream* stream) override { return Load(stream); }
  tresult VELMOR_VST3_API setState(IBStream* stream) override { return Load(stream); }
  tresult VELMOR_VST3_API getState(IBStream* stream) override {
    if (stream == nullptr) return kInvalidArgument;
    double values[kMaxItems];
    for (size_t k = 0; k < info().items.size(); ++k) values[k] = ToPlain(info(), ItemParameterId(k), normalized_[k]);
    uint8_t blob[kMaxStateBytes];
    return WriteAll(stream, blob, SaveState(info(), values, bypass_ >= 0.5, blob)) ? kResultOk : kResultFalse;
  }

  int32 VELMOR_VST3_API getParameterCount() override { return static_cast<int32>(info().items.size() + 1); }
  tresult VELMOR_VST3_API getParameterInfo(int32 index, ParameterInfo& p) override {
    if (index < 0 || static_cast<size_t>(index) > info().items.size()) return kInvalidArgument;
    std::memset(&p, 0, sizeof p);
    if (static_cast<size_t>(index) == info().items.size()) {
      p.id = kBypassParameterId;
      CopyText16(p.title, "Bypass");
      CopyText16(p.shortTitle, "Bypass");
      p.stepCount = 1;
      p.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
      return kResultOk;
    }
    const ItemEntry& item = info().items[static_cast<size_t>(index)];
    p.id = ItemParameterId(static_cast<size_t>(index));
    CopyText16(p.title, item.english);
    CopyText16(p.shortTitle, item.symbol);
    CopyText16(p.units, item.kind == ItemKind::Track ? UnitSymbol(item.unit) : "");
    p.stepCount = item.kind == ItemKind::Select ? static_cast<int32>(item.options.size() - 1) : 0;
    p.defaultNormalizedValue = ToNormalized(info(), p.id, item.defaultValue);
    p.flags = ParameterInfo::kCanAutomate | (item.kind == ItemKind::Select ? ParameterInfo::kIsList : 0);
    return kResultOk;
  }
  tresult VELMOR_VST3_API getParamStringByValue(ParamID id, ParamValue value, String128 text) override {
    const Parameter p = FindParameter(info(), id);
    if (!p.valid || text == nullptr) return kInvalidArgument;
    const double plain = ToPlain(info(), id, value);
    const std::string shown = p.bypass ? (plain >= 0.5 ? "Bypassed" : "On") : ItemText(info().items[p.item], plain, false);
    String128& field = *reinterpret_cast<String128*>(text);
    CopyText16(field, shown);
    return kResultOk;
  }
  tresult VELMOR_VST3_API getParamValueByString(ParamID id, TChar* text, ParamValue& value) override {
    const Parameter p = FindParameter(info(), id);
    if (!p.valid || text == nullptr) return kInvalidArgument;
    const std::string typed = FromText16(text);
    double plain = 0.0;
    if (p.bypass) {
      if (typed != "Bypassed" && typed != "On" && typed != "1" && typed != "0") return kResultFalse;
      plain = typed == "Bypassed" || typed == "1" ? 1.0 : 0.0;
    } else if (!ParseItemText(info().items[p.item], typed, &plain)) {
      return kResultFalse;
    }
    value = ToNormalized(info(), id, plain);
    return kResultOk;
  }
  ParamValue VELMOR_VST3_API normalizedParamToPlain(ParamID id, ParamValue value) override {
    return ToPlain(info(), id, value);
  }
  ParamValue VELMOR_VST3_API plainParamToNormalized(ParamID id, ParamValue plain) override {
    return ToNormalized(info(), id, plain);
  }
  ParamValue VELMOR_VST3_API getParamNormalized(ParamID id) override {
    const Parameter p = FindParameter(info(), id);
    return !p.valid ? 0.0 : p.bypass ? bypass_ : normalized_[p.item];
  }
  tresult VELMOR_VST3_API setParamNormalized(ParamID id, ParamValue value) override {
    const Parameter p = FindParameter(info(), id);
    if (!p.valid || std::isnan(value)) return kInvalidArgument;
    (p.bypass ? bypass_ : normalized_[p.item]) = std::clamp(value, 0.0, 1.0);
    return kResultOk;
  }
  tresult VELMOR_VST3_API setComponentHandler(IComponentHandler*) override { return kResultOk; }
  void* VELMOR_VST3_API createView(FIDString) override { return nullptr; }

 private:
  const EffectInfo& info() const { return *kAllEffects[effect_]->info; }
  tresult Load(IBStream* stream) {
    if (stream == nullptr) return kInvalidArgument;
    uint8_t blob[kMaxStateBytes + 1];
    double values[kMaxItems];
    bool bypassed = false;
    if (!LoadState(info(), blob, ReadAll(stream, blob, sizeof blob), values, &bypassed)) return kResultFalse;
    for (size_t k = 0; k < info().items.size(); ++k) normalized_[k] = ToNormalized(info(), ItemParameterId(k), values[k]);
    bypass_ = bypassed ? 1.0 : 0.0;
    return kResultOk;
  }

  size_t effect_;
  double normalized_[kMaxItems] = {};
  double bypass_ = 0.0;
};

// --- the factory --------------------------------------------------------------

// Class 2k is effect k's component, class 2k + 1 its controller.
class Factory final : public IPluginFactory3 {
 public:
  tresult VELMOR_VST3_API queryInterface(const TUID iid, void** obj) override {
    if (obj == nullptr) return kInvalidArgument;
    if (!SameUid(iid, kFUnknownIid) && !SameUid(iid, kIPluginFactoryIid) && !SameUid(iid, kIPluginFactory2Iid) &&
        !SameUid(iid, kIPluginFactory3Iid))
      return *obj = nullptr, kNoInterface;
    *obj = static_cast<IPluginFactory3*>(this);
    return kResultOk;
  }
  // The factory lives as long as the module.
  uint32 VELMOR_VST3_API addRef() override { return 1; }
  uint32 VELMOR_VST3_API release() override { return 1; }

  tresult VELMOR_VST3_API getFactoryInfo(PFactoryInfo* info) override {
    if (info == nullptr) return kInvalidArgument;
    std::memset(info, 0, sizeof *info);
    CopyText(info->vendor, "Velmor");
    info->flags = PFactoryInfo::kUnicode;
    return kResultOk;
  }
  int32 VELMOR_VST3_API countClasses() override { return static_cast<int32>(2 * kEffects); }
  tresult VELMOR_VST3_API getClassInfo(int32 index, PClassInfo* info) override {
    if (info == nullptr || index < 0 || index >= countClasses()) return kInvalidArgument;
    PClassInfo2 full;
    Describe(index, full);
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->cid, full.cid, 16);
    info->cardinality = full.cardinality;
    CopyText(info->category, full.category);
    CopyText(info->name, full.name);
    return kResultOk;
  }
  tresult VELMOR_VST3_API createInstance(FIDString cid, FIDString iid, void** obj) override {
    if (cid == nullptr || iid == nullptr || obj == nullptr) return kInvalidArgument;
    *obj = nullptr;
    for (size_t e = 0; e < kEffects; ++e) {
      const char* slug = kAllEffects[e]->info->slug;
      FUnknown* made = nullptr;
      try {
        if (SameUid(cid, ComponentClassId(slug))) made = static_cast<IComponent*>(new Component(e));
        else if (SameUid(cid, ControllerClassId(slug))) made = static_cast<IEditController*>(new Controller(e));
      } catch (...) {
        return kInternalError;
      }
      if (made == nullptr) continue;
      const tresult result = made->queryInterface(iid, obj);
      made->release();
      return result;
    }
    return kNoInterface;
  }
  tresult VELMOR_VST3_API getClassInfo2(int32 index, PClassInfo2* info) override {
    if (info == nullptr || index < 0 || index >= countClasses()) return kInvalidArgument;
    Describe(index, *info);
    return kResultOk;
  }
  tresult VELMOR_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) override {
    if (info == nullptr || index < 0 || index >= countClasses()) return kInvalidArgument;
    PClassInfo2 full;
    Describe(index, full);
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->cid, full.cid, 16);
    info->cardinality = full.cardinality;
    CopyText(info->category, full.category);
    CopyText16(info->name, full.name);
    info->classFlags = full.classFlags;
    CopyText(info->subCategories, full.subCategories);
    CopyText16(info->vendor, full.vendor);
    CopyText16(info->version, full.version);
    CopyText16(info->sdkVersion, full.sdkVersion);
    return kResultOk;
  }
  tresult VELMOR_VST3_API setHostContext(FUnknown*) override { return kResultOk; }

 private:
  static void Describe(int32 index, PClassInfo2& info) {
    const EffectInfo& effect = *kAllEffects[static_cast<size_t>(index / 2)]->info;
    const bool component = index % 2 == 0;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.cid, (component ? ComponentClassId(effect.slug) : ControllerClassId(effect.slug)).bytes, 16);
    info.cardinality = PClassInfo::kManyInstances;
    CopyText(info.category, component ? kAudioEffectClass : kComponentControllerClass);
    CopyText(info.name, component ? std::string(effect.english) : std::string(effect.english) + " Controller");
    CopyText(info.subCategories, component ? Subcategory(effect.category) : "");
    CopyText(info.vendor, "Velmor");
    CopyText(info.version, VELMOR_VERSION_ASCII);
    CopyText(info.sdkVersion, kSdkVersion);
  }
};

Factory gFactory;

}  // namespace
}  // namespace velmor::vst3

// The module's exports, as the format defines them.
VELMOR_VST3_EXPORT velmor::vst3::IPluginFactory* GetPluginFactory() { return &velmor::vst3::gFactory; }
#if defined(_WIN32)
VELMOR_VST3_EXPORT bool InitDll() { return true; }
VELMOR_VST3_EXPORT bool ExitDll() { return true; }
#else
VELMOR_VST3_EXPORT bool ModuleEntry(void*) { return true; }
VELMOR_VST3_EXPORT bool ModuleExit() { return true; }
#endif
