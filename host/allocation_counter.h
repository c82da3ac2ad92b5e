// Counts calls to the allocator, the way pluginval looks for an audio
// callback that allocates. A program that links this in replaces malloc and
// its relatives for the whole process, plug-ins included, and counts the
// calls that one thread makes while a counter of its own is alive.
//
// Available natively on glibc without sanitizers (which replace the
// allocator themselves); elsewhere Available() is false and nothing counts.
#pragma once

#include <cstddef>

namespace velmor::host {

class AllocationCounter {
 public:
  static bool Available();
  AllocationCounter();   // starts counting this thread's calls
  ~AllocationCounter();  // stops
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;
  // malloc, calloc, realloc, the aligned allocations and free, since construction.
  size_t calls() const;

 private:
  size_t start_;
  bool outer_;
};

// Leaves the counting off while the host's own code runs (its side of a
// block, its sample callbacks), so that only the plug-in's calls count.
class AllocationCountingPause {
 public:
  AllocationCountingPause();
  ~AllocationCountingPause();
  AllocationCountingPause(const AllocationCountingPause&) = delete;
  AllocationCountingPause& operator=(const AllocationCountingPause&) = delete;

  // Counting as it was before the pause, for the plug-in's own call.
  class Resume {
   public:
    explicit Resume(const AllocationCountingPause& pause);
    ~Resume();
    Resume(const Resume&) = delete;
    Resume& operator=(const Resume&) = delete;
  };

 private:
  bool was_;
};

}  // namespace velmor::host
