// Which kernels this build holds, by feature tests. CORVANE_PORTABLE forces the portable ones, so
// that they are tested on any machine.
#pragma once

#if !defined(CORVANE_PORTABLE) && (defined(__x86_64__) || defined(_M_X64))
#define CORVANE_KERNELS_X86 1
// Functions compiled for more than the baseline need the GNU target attribute; the run-time test
// of the CPU, the GNU builtin.
#if defined(__GNUC__) || defined(__clang__)
#define CORVANE_KERNELS_AVX2 1
#define CORVANE_KERNELS_SSSE3 1
#define CORVANE_KERNELS_VBMI2 1
#define CORVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define CORVANE_TARGET_AVX2_POPCNT __attribute__((target("avx2,popcnt")))
#define CORVANE_TARGET_SSSE3 __attribute__((target("ssse3")))
#define CORVANE_TARGET_SSSE3_POPCNT __attribute__((target("ssse3,popcnt")))
#define CORVANE_TARGET_VBMI2 __attribute__((target("avx512f,avx512bw,avx512vbmi2")))
#endif
#elif !defined(CORVANE_PORTABLE) && (defined(__aarch64__) || defined(_M_ARM64)) && \
    (defined(__ARM_NEON) || defined(_M_ARM64))
#define CORVANE_KERNELS_NEON 1
#endif

#ifndef CORVANE_KERNELS_X86
#define CORVANE_KERNELS_X86 0
#endif
#ifndef CORVANE_KERNELS_AVX2
#define CORVANE_KERNELS_AVX2 0
#endif
#ifndef CORVANE_KERNELS_SSSE3
#define CORVANE_KERNELS_SSSE3 0
#endif
#ifndef CORVANE_KERNELS_VBMI2
#define CORVANE_KERNELS_VBMI2 0
#endif
#ifndef CORVANE_KERNELS_NEON
#define CORVANE_KERNELS_NEON 0
#endif
