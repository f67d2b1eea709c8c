// Choosing a faster kernel for the processor the program runs on.
//
// The kernels that use SSSE3 or AVX2 are built into every x86 program by GCC and
// clang (MinGW included) with a per-function target attribute, so the rest
// of the program keeps the baseline instruction set, and they are called
// only where the processor reports the instructions. Other processors (ARM,
// Windows on ARM) and other compilers build only the portable kernels.
#pragma once

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define VORNE_X86_KERNELS 1
#else
#define VORNE_X86_KERNELS 0
#endif

#if VORNE_X86_KERNELS
// The run-time library fills in what the processor reports before main
// starts, so this is a load and a test.
inline bool cpu_has_ssse3() { return __builtin_cpu_supports("ssse3"); }
inline bool cpu_has_avx2() { return __builtin_cpu_supports("avx2"); }
#else
inline bool cpu_has_ssse3() { return false; }
inline bool cpu_has_avx2() { return false; }
#endif
