// One object's state in memory of its own, sized and aligned for its effect.
#pragma once

#include <cstddef>
#include <new>

#include "framework/effect_handler.h"

namespace velmor {

// Owns one object's state. Setup and teardown only: construction allocates.
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
