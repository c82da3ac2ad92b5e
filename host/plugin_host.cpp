#include "framework/platform.h"
#include "host/plugin_host.h"

#include "framework/float_environment.h"
#include "host/allocation_counter.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <cwchar>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace velmor::host {
namespace {

constexpr size_t kMaxItems = 256;
constexpr size_t kMaxOptions = 1024;

// The platform's shared-library loader, behind one set of functions.
#if defined(_WIN32)
std::wstring WidePath(const std::string& path) {
  std::string native = path;
  // A Unix path (as the build passes to tests run under wine) lives on Z:.
  if (!native.empty() && native[0] == '/') native = "Z:" + native;
  std::replace(native.begin(), native.end(), '/', '\\');
  const int n = MultiByteToWideChar(CP_UTF8, 0, native.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, native.c_str(), -1, wide.data(), n);
  return wide;
}

// A path names a file: a bare name is taken in the current folder, never
// looked up along the loader's search path.
void* OpenLibrary(const std::string& path, std::string* error) {
  const std::wstring wide = WidePath(path);
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(length > 0 ? length : 1, L'\0');
  if (length == 0 || GetFullPathNameW(wide.c_str(), length, full.data(), nullptr) == 0) full = wide;
  else full.resize(wcslen(full.c_str()));
  HMODULE module = LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr && error) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
// A path names a file: a name without a slash is taken in the current folder,
// never looked up along the loader's search path.
void* OpenLibrary(const std::string& path, std::string* error) {
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && error) *error = "cannot load " + path + ": " + dlerror();
  return library;
}
void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }
void CloseLibrary(void* library) { dlclose(library); }
#endif

// The block being run: the C callbacks reach it through this pointer.
struct ActiveBlock {
  float* channels[2];
  int32_t count;
  BlockResult* result;
};
thread_local ActiveBlock* gActive = nullptr;

// A drop-down value from a double: the nearest int32 toward zero, NaN as 0.
int32_t SaturatedInt32(double value) {
  if (!(value == value)) return 0;
  if (value <= -2147483648.0) return INT32_MIN;
  if (value >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(value);
}

uint32_t ControlWord() { return FloatControlWord(); }

bool ReadSamples(float* buffer, int32_t channel) {
  AllocationCountingPause hostCode;
  ActiveBlock* block = gActive;
  block->result->calls.push_back({HostCall::Read, channel, buffer, ControlWord()});
  if ((channel == 0 || channel == 1) && block->count > 0)
    std::memcpy(buffer, block->channels[channel], sizeof(float) * static_cast<size_t>(block->count));
  return true;
}

bool WriteSamples(float* buffer, int32_t channel) {
  AllocationCountingPause hostCode;
  ActiveBlock* block = gActive;
  block->result->calls.push_back({HostCall::Write, channel, buffer, ControlWord()});
  if ((channel == 0 || channel == 1) && block->count > 0)
    std::memcpy(block->channels[channel], buffer, sizeof(float) * static_cast<size_t>(block->count));
  return true;
}

bool Describe(const FilterPluginTable* table, Description* out, std::string* error) {
  auto text = [&](const char16_t* s, const char* what, std::string* into) {
    if (s == nullptr) {
      *error = std::string(what) + " is null";
      return false;
    }
    auto decoded = DecodeUtf16(s);
    if (!decoded) {
      *error = std::string(what) + " is not valid UTF-16 or does not end";
      return false;
    }
    *into = *decoded;
    return true;
  };
  out->flags = table->flags;
  if (!text(table->name, "name", &out->name) || !text(table->label, "label", &out->label) ||
      !text(table->information, "information", &out->information))
    return false;
  if (table->items == nullptr) {
    *error = "item list is null";
    return false;
  }
  for (size_t i = 0;; ++i) {
    if (i == kMaxItems) {
      *error = "item list does not end";
      return false;
    }
    void* record = table->items[i];
    if (record == nullptr) break;
    ItemInfo item;
    item.record = record;
    const auto* track = static_cast<const TrackItem*>(record);
    if (!text(track->type, "item type", &item.type) || !text(track->name, "item name", &item.label))
      return false;
    if (item.type == "track") {
      item.kind = ItemKind::Track;
      item.defaultValue = track->value;
      item.min = track->min;
      item.max = track->max;
      item.step = track->step;
    } else if (item.type == "select") {
      const auto* select = static_cast<const SelectItem*>(record);
      item.kind = ItemKind::Select;
      item.defaultValue = select->value;
      if (select->options == nullptr) {
        *error = "option list of " + item.label + " is null";
        return false;
      }
      for (size_t k = 0;; ++k) {
        if (k == kMaxOptions) {
          *error = "option list of " + item.label + " does not end";
          return false;
        }
        const SelectOption& option = select->options[k];
        if (option.name == nullptr) break;
        OptionInfo info;
        info.value = option.value;
        if (!text(option.name, "option name", &info.name)) return false;
        item.options.push_back(info);
      }
    }
    out->items.push_back(std::move(item));
  }
  return true;
}

}  // namespace

std::unique_ptr<Plugin> Plugin::Load(const std::string& path, std::string* error,
                                     const std::function<void(const char*)>& step) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  std::unique_ptr<Plugin> plugin(new Plugin());
  plugin->path_ = path;
  plugin->library_ = OpenLibrary(path, error);
  if (plugin->library_ == nullptr) return nullptr;
  using InitFn = bool (*)();
  using TableFn = FilterPluginTable* (*)();
  auto init = reinterpret_cast<InitFn>(plugin->Symbol("InitializePlugin"));
  auto getTable = reinterpret_cast<TableFn>(plugin->Symbol("GetFilterPluginTable"));
  if (init == nullptr || getTable == nullptr || plugin->Symbol("UninitializePlugin") == nullptr) {
    *error = path + " is not an AviUtl2 filter plug-in (an entry point is missing)";
    return nullptr;
  }
  if (step) step("InitializePlugin");
  if (!init()) {
    *error = "InitializePlugin returned false";
    return nullptr;
  }
  plugin->initialized_ = true;
  if (step) step("GetFilterPluginTable");
  plugin->table_ = getTable();
  if (plugin->table_ == nullptr) {
    *error = "GetFilterPluginTable returned null";
    return nullptr;
  }
  if (!Describe(plugin->table_, &plugin->description_, error)) return nullptr;
  return plugin;
}

Plugin::~Plugin() {
  if (library_ == nullptr) return;
  using UninitFn = void (*)();
  if (initialized_)
    if (auto uninit = reinterpret_cast<UninitFn>(Symbol("UninitializePlugin"))) uninit();
  CloseLibrary(library_);
}

void* Plugin::Symbol(const char* name) const { return FindSymbol(library_, name); }

int Plugin::FindItem(std::string_view labelOrIndex) const {
  const auto& items = description_.items;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].label == labelOrIndex) return static_cast<int>(i);
  size_t index = 0;
  const char* end = labelOrIndex.data() + labelOrIndex.size();
  auto parsed = std::from_chars(labelOrIndex.data(), end, index);
  if (parsed.ec == std::errc() && parsed.ptr == end && index >= 1 && index <= items.size())
    return static_cast<int>(index - 1);
  return -1;
}

void Plugin::SetValue(size_t index, double value) {
  const ItemInfo& item = description_.items.at(index);
  if (item.kind == ItemKind::Track)
    static_cast<TrackItem*>(item.record)->value = value;
  else if (item.kind == ItemKind::Select)
    static_cast<SelectItem*>(item.record)->value = SaturatedInt32(value);
}

bool Plugin::SetValue(std::string_view label, double value) {
  const int index = FindItem(label);
  if (index < 0) return false;
  SetValue(static_cast<size_t>(index), value);
  return true;
}

double Plugin::Value(size_t index) const {
  const ItemInfo& item = description_.items.at(index);
  if (item.kind == ItemKind::Track) return static_cast<TrackItem*>(item.record)->value;
  if (item.kind == ItemKind::Select) return static_cast<SelectItem*>(item.record)->value;
  return 0;
}

void Plugin::ResetValues() {
  for (size_t i = 0; i < description_.items.size(); ++i) SetValue(i, description_.items[i].defaultValue);
}

BlockResult Plugin::Process(float* ch0, float* ch1, int32_t count, const BlockRequest& request) {
  // Only the plug-in's own work counts as its allocator calls.
  AllocationCountingPause hostCode;
  BlockResult result;
  result.calls.reserve(4);
  ActiveBlock block{{ch0, ch1}, count, &result};
  HostSceneInfo scene{};
  scene.sample_rate = request.sampleRate;
  HostObjectInfo object{};
  object.id = request.id;
  object.frame = request.frame;
  object.sample_count = count;
  AudioProcContext context{};
  context.scene = request.nullScene ? nullptr : &scene;
  context.object = request.nullObject ? nullptr : &object;
  context.read_samples = request.nullReader ? nullptr : &ReadSamples;
  context.write_samples = request.nullWriter ? nullptr : &WriteSamples;
  ActiveBlock* outer = gActive;
  gActive = &block;
  {
    AllocationCountingPause::Resume pluginCode(hostCode);
    result.result = table_->process_audio(&context);
  }
  gActive = outer;
  return result;
}

BlockResult Plugin::Process(std::vector<float>& ch0, std::vector<float>& ch1, const BlockRequest& request) {
  const size_t n = std::min(ch0.size(), ch1.size());
  return Process(ch0.data(), ch1.data(), static_cast<int32_t>(n), request);
}

std::string PluginPath(const std::string& folder, const std::string& name) {
  return folder + "/" + name + ".auf2";
}

}  // namespace velmor::host
