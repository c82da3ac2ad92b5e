// An effect behind one table of plain functions, the way a binding sees it:
// how big its per-object state is, how a new object starts, and one block's
// work from item values to processed samples. Each effect file ends in its
// handler, made by MakeEffectHandler from the effect and its item table.
#pragma once

#include "framework/platform.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "framework/effect.h"
#include "framework/float_environment.h"
#include "framework/non_finite.h"

namespace velmor {

// Items an effect may have: the block's values are gathered on the stack.
inline constexpr size_t kMaxItems = 32;

struct EffectHandler {
  const EffectInfo* info;
  size_t stateSize;
  size_t stateAlignment;
  bool readsSampleRate;
  bool clearsOnJump;
  // Constructs a new object's state at `at` (stateSize bytes, aligned).
  void (*createState)(void* at);
  void (*destroyState)(void* state);
  // Empties the lines after a jump of the frame number (clearsOnJump only).
  void (*clearLines)(void* state);
  // One block in place: the per-block work, the samples, and the clear
  // after output that is not finite. `values` are sanitised item values.
  void (*processBlock)(void* state, const BlockInfo& block, const ItemValues& values, float* ch0,
                       float* ch1);
};

namespace handler_detail {

// What a kernel knows of its output after a block: a kernel whose Run
// returns bool has watched its outputs as it made them (true: one was NaN
// or infinite); of the others nothing is known yet.
enum class OutputCheck { kFinite, kNotFinite, kUnknown };

// Runs a block through a kernel; a variant of kernels is dispatched once per
// block, not per sample.
template <class Kernel>
inline OutputCheck RunKernel(Kernel& kernel, float* ch0, float* ch1, int32_t count) {
  if constexpr (effect_detail::IsVariant<Kernel>::value) {
    return std::visit([&](auto& inner) { return RunKernel(inner, ch0, ch1, count); }, kernel);
  } else if constexpr (std::is_same_v<decltype(kernel.Run(ch0, ch1, count)), bool>) {
    return kernel.Run(ch0, ch1, count) ? OutputCheck::kNotFinite : OutputCheck::kFinite;
  } else {
    kernel.Run(ch0, ch1, count);
    return OutputCheck::kUnknown;
  }
}

template <Effect E>
struct Functions {
  using State = typename E::State;
  static void Create(void* at) { ::new (at) State(); }
  static void Destroy(void* state) { static_cast<State*>(state)->~State(); }
  static void ClearLines(void* state) {
    if constexpr (E::kClearsOnJump) E::ClearLines(*static_cast<State*>(state));
  }
  static void ProcessBlock(void* opaque, const BlockInfo& block, const ItemValues& values, float* ch0,
                           float* ch1) {
    State& state = *static_cast<State*>(opaque);
    const typename E::Parameters params = E::ReadParameters(values);
    OutputCheck check;
    {
      // Flush-to-zero covers the effect's own work and nothing else: the
      // host's callbacks run with the caller's control word.
      FlushDenormalsScope flush;
      auto kernel = E::BeginBlock(state, block, params);
      check = RunKernel(kernel, ch0, ch1, block.sampleCount);
    }
    // A block whose output is not finite would poison every later block
    // through the histories and lines: the object starts clean instead.
    if (check == OutputCheck::kUnknown)
      check = AnyNotFinite(ch0, ch1, block.sampleCount) ? OutputCheck::kNotFinite : OutputCheck::kFinite;
    if (check == OutputCheck::kNotFinite) E::ClearObject(state);
  }
};

}  // namespace handler_detail

// The handler of an effect with the given item table. Constant-evaluated, so
// a table with too many items does not compile.
template <Effect E>
consteval EffectHandler MakeEffectHandler(const EffectInfo& info) {
  if (info.items.size() > kMaxItems) throw "an effect has at most kMaxItems items";
  using F = handler_detail::Functions<E>;
  return EffectHandler{&info,
                       sizeof(typename E::State),
                       alignof(typename E::State),
                       E::kReadsSampleRate,
                       E::kClearsOnJump,
                       &F::Create,
                       &F::Destroy,
                       &F::ClearLines,
                       &F::ProcessBlock};
}

// One block of one object, as every binding runs it. `raw` holds the item
// values as the host delivered them: sliders as doubles, drop-down lists as
// whole numbers. A slider value that is not a finite number reads as the
// item's default.
inline void RunEffectBlock(const EffectHandler& handler, void* state, const BlockInfo& block,
                           const double* raw, float* ch0, float* ch1) {
  double values[kMaxItems];
  const auto& items = handler.info->items;
  for (size_t k = 0; k < items.size(); ++k)
    values[k] = items[k].kind == ItemKind::Track && !std::isfinite(raw[k]) ? items[k].defaultValue : raw[k];
  handler.processBlock(state, block, ItemValues(values), ch0, ch1);
}

// 32-bit difference of two frame numbers, wrapping as the host's counter does.
inline int32_t FrameDistance(int32_t frame, int32_t previous) {
  return static_cast<int32_t>(static_cast<uint32_t>(frame) - static_cast<uint32_t>(previous));
}

// The continuity rule: a block that neither repeats nor follows the object's
// previous block means the playback position jumped, and an effect that
// clears on jumps empties its lines. The frame is then recorded.
inline void ContinueObject(const EffectHandler& handler, void* state, int32_t& lastFrame, int32_t frame) {
  if (handler.clearsOnJump) {
    const int32_t d = FrameDistance(frame, lastFrame);
    if (d < 0 || d > 1) handler.clearLines(state);
  }
  lastFrame = frame;
}

// Storage for one object's state, sized and aligned for its effect.
class OwnedState {
 public:
  OwnedState() = default;
  // Allocates and constructs a new object's state; throws std::bad_alloc.
  explicit OwnedState(const EffectHandler& handler)
      : handler_(&handler),
        memory_(static_cast<std::byte*>(::operator new(handler.stateSize, std::align_val_t(handler.stateAlignment)))) {
    handler.createState(memory_);
  }
  OwnedState(OwnedState&& other) noexcept : handler_(other.handler_), memory_(other.memory_) {
    other.memory_ = nullptr;
  }
  OwnedState& operator=(OwnedState&&) = delete;
  ~OwnedState() {
    if (memory_ == nullptr) return;
    handler_->destroyState(memory_);
    ::operator delete(memory_, std::align_val_t(handler_->stateAlignment));
  }
  void* get() const { return memory_; }
  // Back to a new object's state, in place.
  void Reset() {
    handler_->destroyState(memory_);
    handler_->createState(memory_);
  }

 private:
  const EffectHandler* handler_ = nullptr;
  std::byte* memory_ = nullptr;
};

}  // namespace velmor
