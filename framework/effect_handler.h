// An effect behind one table of plain functions, the way a binding sees it:
// how big its per-object state is, how a new object starts, and one block's
// work from item values to processed samples. Each effect file ends in its
// handler, made by MakeEffectHandler from the effect and its item table.
//
// Threads: the table is constant data, read from any thread. The functions
// that take a state touch that state only, so different objects may run on
// different threads at once; calls on one object must not overlap. None
// allocates, locks or waits except createState's caller, which owns the
// memory (object_state.h).
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
  const EffectInfo* info;  // name, information line and items; static
  size_t stateSize;        // bytes of one object's state
  size_t stateAlignment;   // alignment of one object's state
  bool readsSampleRate;    // whether a block uses BlockInfo::sampleRate
  bool clearsOnJump;       // whether ContinueObject may call clearLines
  // Constructs a new object's state at `at` (stateSize bytes, aligned).
  // Setup: whichever thread creates the object; not real-time (it may touch
  // hundreds of kilobytes).
  void (*createState)(void* at);
  // Destroys a state made by createState. Teardown, any thread.
  void (*destroyState)(void* state);
  // Empties the lines after a jump of the frame number (clearsOnJump only).
  // Audio thread; real-time.
  void (*clearLines)(void* state);
  // One block from in0 and in1 into out0 and out1: the per-block work, the
  // samples, and the clear after output that is not finite. Each output is
  // its own channel's input (in place) or a buffer apart from both inputs.
  // `values` are sanitised item values. Audio thread; real-time (no
  // allocation, no lock), flush-to-zero inside.
  void (*processBlock)(void* state, const BlockInfo& block, const ItemValues& values, const float* in0,
                       const float* in1, float* out0, float* out1);
  // How many frames the output may still sound after the input falls
  // silent, at these values and this rate (0: none). Any thread.
  uint32_t (*tailFrames)(const ItemValues& values, float sampleRate);
};

namespace handler_detail {

// What a kernel knows of its output after a block: a kernel whose Run
// returns bool has watched its outputs as it made them (true: one was NaN
// or infinite); of the others nothing is known yet.
enum class OutputCheck { kFinite, kNotFinite, kUnknown };

// What a call of a kernel's Run tells of its output.
template <class Run>
inline OutputCheck Checked(Run&& run) {
  if constexpr (std::is_same_v<decltype(run()), bool>) {
    return run() ? OutputCheck::kNotFinite : OutputCheck::kFinite;
  } else {
    run();
    return OutputCheck::kUnknown;
  }
}

// Runs a block through a kernel; a variant of kernels is dispatched once per
// block, not per sample. A kernel whose Run takes inputs and outputs apart
// reads its inputs itself; the others work in place, on the inputs copied
// to the outputs first.
template <class Kernel>
inline OutputCheck RunKernel(Kernel& kernel, const float* in0, const float* in1, float* out0, float* out1,
                             int32_t count) {
  if constexpr (effect_detail::IsVariant<Kernel>::value) {
    return std::visit([&](auto& inner) { return RunKernel(inner, in0, in1, out0, out1, count); }, kernel);
  } else if constexpr (requires { kernel.Run(in0, in1, out0, out1, count); }) {
    return Checked([&] { return kernel.Run(in0, in1, out0, out1, count); });
  } else {
    const auto bytes = static_cast<size_t>(count) * sizeof(float);
    if (out0 != in0) std::memmove(out0, in0, bytes);
    if (out1 != in1) std::memmove(out1, in1, bytes);
    return Checked([&] { return kernel.Run(out0, out1, count); });
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
  static void ProcessBlock(void* opaque, const BlockInfo& block, const ItemValues& values, const float* in0,
                           const float* in1, float* out0, float* out1) {
    State& state = *static_cast<State*>(opaque);
    const typename E::Parameters params = E::ReadParameters(values);
    OutputCheck check;
    {
      // Flush-to-zero covers the effect's own work and nothing else: the
      // host's callbacks run with the caller's control word.
      FlushDenormalsScope flush;
      auto kernel = E::BeginBlock(state, block, params);
      check = RunKernel(kernel, in0, in1, out0, out1, block.sampleCount);
    }
    // A block whose output is not finite would poison every later block
    // through the histories and lines: the object starts clean instead.
    if (check == OutputCheck::kUnknown)
      check = AnyNotFinite(out0, out1, block.sampleCount) ? OutputCheck::kNotFinite : OutputCheck::kFinite;
    if (check == OutputCheck::kNotFinite) E::ClearObject(state);
  }
  static uint32_t TailFrames(const ItemValues& values, float sampleRate) {
    if constexpr (requires(const typename E::Parameters& p) { E::TailFrames(p, sampleRate); })
      return E::TailFrames(E::ReadParameters(values), sampleRate);
    else
      return 0;
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
                       &F::ProcessBlock,
                       &F::TailFrames};
}

// One block of one object in place (audio thread) from the item values as
// the host delivered them (`raw`): sliders as doubles, drop-down lists as
// whole numbers. A slider value that is not a finite number reads as the
// item's default. A binding whose values are already held to their ranges
// calls processBlock itself.
inline void RunEffectBlock(const EffectHandler& handler, void* state, const BlockInfo& block,
                           const double* raw, float* ch0, float* ch1) {
  double values[kMaxItems];
  const auto& items = handler.info->items;
  for (size_t k = 0; k < items.size(); ++k)
    values[k] = items[k].kind == ItemKind::Track && !std::isfinite(raw[k]) ? items[k].defaultValue : raw[k];
  handler.processBlock(state, block, ItemValues(values), ch0, ch1, ch0, ch1);
}

}  // namespace velmor
