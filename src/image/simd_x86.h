// Support for the x86 kernel sets. A kernel file compiles its kernel body
// twice through simd_x86_targets.inc, once inside TIKO_TARGET_SSE41_BEGIN /
// TIKO_TARGET_END and once inside the AVX2 pair, each time in its own
// namespace and with simd_x86_ops.h included there, so the same source
// becomes a 128-bit and a 256-bit kernel. Only the
// functions inside those regions use the wider instructions: everything else,
// including every inline function from other headers, stays plain x86-64.
//
// None of the targets enables FMA: the colour conversions depend on every
// product being rounded on its own.
#pragma once

#include "image/kernel_set.h"

#if TIKO_SIMD_X86

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__clang__)
#define TIKO_TARGET_SSE41_BEGIN \
  _Pragma("clang attribute push(__attribute__((target(\"sse4.1\"))), apply_to = function)")
#define TIKO_TARGET_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TIKO_TARGET_END _Pragma("clang attribute pop")
#else
#define TIKO_TARGET_SSE41_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"sse4.1\")")
#define TIKO_TARGET_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TIKO_TARGET_END _Pragma("GCC pop_options")
#endif

// For the small per-vector steps of a kernel, which the compiler would
// otherwise keep as calls once the kernel's loops are unrolled.
#define TIKO_ALWAYS_INLINE inline __attribute__((always_inline))

#endif  // TIKO_SIMD_X86
