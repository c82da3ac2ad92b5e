// The end of a forked child process: _exit, which runs no destructor of the
// parent's state, after writing the child's coverage profile when the build
// measures coverage (clang's profile runtime writes it only at exit()).
#pragma once

#if !defined(_WIN32)
#include <unistd.h>

extern "C" int __llvm_profile_write_file(void) __attribute__((weak));

namespace velmor::host {

[[noreturn]] inline void ExitChild(int status) {
  if (__llvm_profile_write_file) __llvm_profile_write_file();
  _exit(status);
}

}  // namespace velmor::host
#endif
