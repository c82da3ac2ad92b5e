// The processor family the code is built for, named once: every guard around
// processor-specific code tests these and nothing else.
#pragma once

#if defined(__x86_64__) || defined(_M_X64)
#define VELMOR_X86 1
#else
#define VELMOR_X86 0
#endif

#if defined(__aarch64__) || defined(_M_ARM64)
#define VELMOR_ARM64 1
#else
#define VELMOR_ARM64 0
#endif
