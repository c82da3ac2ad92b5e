// What an effect supplies. An effect is written once, with no knowledge of the
// host format that runs it: a binding (bindings/aviutl2, bindings/lv2) turns
// it into a plug-in, owns its per-object state and hands it the parameter
// values of each block.
//
// An effect is a struct with
//
//   kReadsSampleRate   whether a block uses the scene's sample rate
//   kClearsOnJump      whether a jump of the frame number empties its lines
//   State              everything one timeline object remembers between
//                      blocks; a value-initialised State is a new object
//   Parameters         the item values of one block, converted
//   ReadParameters(values)           converts the block's item values
//   BeginBlock(state, block, params) the per-block work; returns the kernel
//                                    that runs the block's samples (or a
//                                    std::variant of kernels)
//   ClearLines(state)                (kClearsOnJump only) empties the lines
//   ClearObject(state)               empties histories and lines after a
//                                    block whose output was not finite
//   TailFrames(params, rate)         (optional) how long the output may
//                                    sound on after the input falls silent
//
// and a table of its items (EffectInfo). A kernel has Run(ch0, ch1, count),
// which processes the block's samples in place in index order and hands what
// it kept in locals back to the state before it returns; or
// Run(in0, in1, out0, out1, count), which reads the inputs and writes the
// outputs, either apart or the same buffers (then in place), and so spares
// a host with separate buffers the copy. A Run that returns bool has watched
// its outputs: true when one was NaN or infinite, which spares the block a
// pass over them.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <variant>

namespace velmor {

// One option of a drop-down item; its value is its position in the list.
struct OptionEntry {
  const char16_t* label;  // as the editor shows it
  const char* english;    // for hosts in other languages
};

enum class ItemKind { Track, Select };

// What a slider's number measures, for hosts that show units (LV2): Hz ports
// are frequencies, drawn on a logarithmic scale.
enum class Unit { kNone, kHz, kMs, kDb, kSemitones, kPercent };

// One parameter item, in display order. The AviUtl2 descriptor and the LV2
// ports are both made from these tables.
struct ItemEntry {
  ItemKind kind;
  const char16_t* label;  // as the editor shows it
  const char* symbol;     // ASCII identifier: LV2 port symbol
  const char* english;    // English name
  double defaultValue;
  double min, max, step;               // sliders only
  std::span<const OptionEntry> options;  // drop-down lists only
  Unit unit = Unit::kNone;               // sliders only
};

consteval ItemEntry TrackEntry(const char16_t* label, const char* symbol, const char* english,
                             double defaultValue, double min, double max, double step, Unit unit = Unit::kNone) {
  return {ItemKind::Track, label, symbol, english, defaultValue, min, max, step, {}, unit};
}

consteval ItemEntry SelectEntry(const char16_t* label, const char* symbol, const char* english,
                              int32_t defaultValue, std::span<const OptionEntry> options) {
  return {ItemKind::Select,
          label,
          symbol,
          english,
          static_cast<double>(defaultValue),
          0.0,
          static_cast<double>(options.size()) - 1.0,
          1.0,
          options,
          Unit::kNone};
}

// What kind of effect it is, for hosts that sort plug-ins into classes
// (LV2 classes, CLAP features, VST3 subcategories).
enum class Category { kEqualizer, kModulator, kDistortion, kDelay, kPitchShifter, kTremolo, kFilter };

// One item's value in a factory preset.
struct PresetValue {
  size_t item;  // index in the item table (the effect's Item)
  double value;
};

// A factory preset: a few settings under a name. Items it does not name keep
// their values.
struct Preset {
  const char* name;      // ASCII, unique within the effect: part of ids and URIs
  const char* english;   // label
  const char* japanese;  // label, UTF-8
  std::span<const PresetValue> values;
};

// The effect's name, information line, items, kind and factory presets.
struct EffectInfo {
  const char* slug;              // ASCII: "delay", "pitch_shifter"; URIs, ids and file names
  const char16_t* name;          // the effect's name as the editor lists it
  const char16_t* information;   // description and version
  const char* english;           // English name
  std::span<const ItemEntry> items;
  const char* description = "";  // one English sentence of what it does, for hosts
  Category category = Category::kModulator;
  std::span<const Preset> presets = {};
};

// The item values of one block, in table order. Sliders are finite doubles
// (a value that is not a finite number has already been replaced by the
// item's default); drop-down values are whole numbers in int32 range.
class ItemValues {
 public:
  explicit ItemValues(const double* values) : values_(values) {}
  // A slider's value rounded at once to single precision.
  float Track(size_t index) const { return static_cast<float>(values_[index]); }
  // A drop-down list's option value, used as it is.
  int32_t Select(size_t index) const { return static_cast<int32_t>(values_[index]); }

 private:
  const double* values_;
};

// What the binding knows about the block before the effect's work starts.
struct BlockInfo {
  int32_t sampleCount;
  float sampleRate;  // the scene's rate as a float; 0 for effects that never read it
};

namespace effect_detail {

template <class T>
struct IsVariant : std::false_type {};
template <class... T>
struct IsVariant<std::variant<T...>> : std::true_type {};

template <class K>
struct RunsBlocks {
  static constexpr bool value = requires(K& k, const float* in, float* out, int32_t n) { k.Run(out, out, n); } ||
                                requires(K& k, const float* in, float* out, int32_t n) { k.Run(in, in, out, out, n); };
};
template <class... T>
struct RunsBlocks<std::variant<T...>> {
  static constexpr bool value = (RunsBlocks<T>::value && ...);
};

}  // namespace effect_detail

// A kernel, or a std::variant (nested too) of kernels.
template <class K>
concept BlockKernel = effect_detail::RunsBlocks<K>::value;

template <class E>
concept Effect =
    requires { typename E::State; typename E::Parameters; } &&
    std::default_initializable<typename E::State> &&
    requires(typename E::State& state, const BlockInfo& block, const typename E::Parameters& params,
             const ItemValues& values) {
      { E::kReadsSampleRate } -> std::convertible_to<bool>;
      { E::kClearsOnJump } -> std::convertible_to<bool>;
      { E::ReadParameters(values) } -> std::same_as<typename E::Parameters>;
      { E::BeginBlock(state, block, params) } -> BlockKernel;
      { E::ClearObject(state) } -> std::same_as<void>;
    } &&
    (!E::kClearsOnJump || requires(typename E::State& state) { E::ClearLines(state); });

}  // namespace velmor
