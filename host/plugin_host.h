// Our own AviUtl2-style host: loads a plug-in library by path, reads its
// descriptor, sets item values and drives blocks over memory buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/aviutl2/host_abi.h"
#include "framework/utf16.h"

namespace velmor::host {


struct OptionInfo {
  std::string name;
  int32_t value = 0;
};

enum class ItemKind { Track, Select, Unknown };

struct ItemInfo {
  ItemKind kind = ItemKind::Unknown;
  std::string type;   // the item's type string
  std::string label;  // the item's name
  double defaultValue = 0, min = 0, max = 0, step = 0;  // select items: default only
  std::vector<OptionInfo> options;                      // select items only
  void* record = nullptr;                               // the item as the library holds it
};

struct Description {
  int32_t flags = 0;
  std::string name, label, information;
  std::vector<ItemInfo> items;
};

// One call that the plug-in made back into the host during a block.
struct HostCall {
  enum Kind { Read, Write } kind;
  int32_t channel;
  const float* buffer;
  uint32_t controlWord;  // the floating-point control register (MXCSR, FPCR) the host's code ran with
};

struct BlockResult {
  bool result = false;
  std::vector<HostCall> calls;
};

// What one block looks like to the plug-in.
struct BlockRequest {
  int64_t id = 1;
  int32_t frame = 0;
  int32_t sampleRate = 44100;
  bool nullScene = false, nullObject = false, nullReader = false, nullWriter = false;
};

class Plugin {
 public:
  // Loads the library, calls InitializePlugin and walks the descriptor. On
  // failure returns null and says why in `error`. `step`, when given, is
  // told each entry point before it is called ("InitializePlugin",
  // "GetFilterPluginTable"), so that a caller can tell where a plug-in hung.
  static std::unique_ptr<Plugin> Load(const std::string& path, std::string* error,
                                      const std::function<void(const char*)>& step = {});
  ~Plugin();  // UninitializePlugin if InitializePlugin succeeded, then unloads
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const Description& description() const { return description_; }
  const FilterPluginTable* table() const { return table_; }
  const std::string& path() const { return path_; }
  // Looks up one export by name; null when the library does not have it.
  void* Symbol(const char* name) const;

  // Index of the item with this exact label, or of the 1-based index given as
  // a number; -1 when there is none.
  int FindItem(std::string_view labelOrIndex) const;
  // Writes an item's value field as the host does: a double into a slider, an
  // int32 into a drop-down list (a double outside int32 is held at its ends).
  void SetValue(size_t index, double value);
  bool SetValue(std::string_view label, double value);
  double Value(size_t index) const;
  // Puts every item back to its default.
  void ResetValues();

  // Runs one block in place over the two channel buffers (count samples each;
  // a negative count is passed through unchanged with nothing copied).
  BlockResult Process(float* ch0, float* ch1, int32_t count, const BlockRequest& request);
  BlockResult Process(std::vector<float>& ch0, std::vector<float>& ch1, const BlockRequest& request);

 private:
  Plugin() = default;
  void* library_ = nullptr;
  bool initialized_ = false;
  const FilterPluginTable* table_ = nullptr;
  std::string path_;
  Description description_;
};

// Platform file name of a plug-in in a folder: <folder>/<Name>.auf2.
std::string PluginPath(const std::string& folder, const std::string& name);

}  // namespace velmor::host
