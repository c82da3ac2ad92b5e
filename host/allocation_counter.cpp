#include "host/allocation_counter.h"

#if defined(__GLIBC__) && !defined(VELMOR_UNDER_SANITIZER) && !defined(_WIN32)
#define VELMOR_COUNTS_ALLOCATIONS 1
#include <cerrno>
#include <cstdint>
#endif

namespace {
// Plain thread-local words: reading them never allocates.
thread_local bool tCounting = false;
thread_local size_t tCalls = 0;
}  // namespace

#if VELMOR_COUNTS_ALLOCATIONS

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

static inline void Count() {
  if (tCounting) ++tCalls;
}

void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  Count();
  return __libc_realloc(p, size);
}
void free(void* p) {
  if (p != nullptr) Count();
  __libc_free(p);
}
void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  Count();
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr && size != 0) return ENOMEM;
  *out = p;
  return 0;
}
}

#endif

namespace velmor::host {

bool AllocationCounter::Available() {
#if VELMOR_COUNTS_ALLOCATIONS
  return true;
#else
  return false;
#endif
}

AllocationCounter::AllocationCounter() : start_(tCalls), outer_(tCounting) { tCounting = true; }
AllocationCounter::~AllocationCounter() { tCounting = outer_; }
size_t AllocationCounter::calls() const { return tCalls - start_; }

AllocationCountingPause::AllocationCountingPause() : was_(tCounting) { tCounting = false; }
AllocationCountingPause::~AllocationCountingPause() { tCounting = was_; }
AllocationCountingPause::Resume::Resume(const AllocationCountingPause& pause) { tCounting = pause.was_; }
AllocationCountingPause::Resume::~Resume() { tCounting = false; }

}  // namespace velmor::host
