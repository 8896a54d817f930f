// Which set of pixel kernels runs: the scalar references, or a faster set for
// an instruction set the processor has. The set is chosen once, from a
// processor check, the first time a kernel is asked for; every set gives the
// same bytes, so the choice changes only the speed. Tests and benchmarks list
// the sets this build and processor can run and force one of them.
//
// Each kernel family (blend, conversion, rescale, intake) has the same shape:
// a record of function pointers, XKernels, with the signatures of its scalar
// references (named ...Ref); a table of those references; the fast tables,
// made by compiling one body per x86 target (image/simd_x86_targets.inc) and
// handed out by XKernelsX86(set); and XKernelsOf(set), which chooses between
// them with ChooseKernels below and nothing else.
#pragma once

#include <cstdint>

// The build turns the fast kernels off with TIKO_SIMD=0; they then do not
// exist at all and the references run everywhere. The x86 kernels need a
// compiler that can target an instruction set per function, so that the rest
// of the program stays runnable on any x86-64 processor.
#ifndef TIKO_SIMD
#define TIKO_SIMD 1
#endif
#if TIKO_SIMD && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TIKO_SIMD_X86 1
#else
#define TIKO_SIMD_X86 0
#endif

namespace tiko {

// Kernel sets, in order of preference from the lowest.
inline constexpr int32_t kKernelsScalar = 0;  // the references, on every processor
inline constexpr int32_t kKernelsSse41 = 1;   // 128-bit SSE4.1
inline constexpr int32_t kKernelsAvx2 = 2;    // 256-bit AVX2
inline constexpr int32_t kKernelSetCount = 3;

// "scalar", "sse4.1", "avx2"; "unknown" for any other value.
const char* KernelSetName(int32_t set);

// 1 when the set is built in and the processor runs it, else 0.
int32_t KernelSetSupported(int32_t set);

// The set in use: the best supported one unless another was selected.
int32_t ActiveKernelSet();

// Makes `set` the one in use. Returns 1, or 0 (nothing changed) for a set that
// is not supported. Meant for tests and benchmarks, before any rendering
// starts: a kernel that is running keeps the set it began with.
int32_t SelectKernelSet(int32_t set);

// The kernels a family runs under `set`: the fast table `fastTables` gives
// for it, or the references when the processor does not run the set or the
// build has no table for it, so no caller can reach an instruction the
// processor lacks whatever set it names.
template <typename Kernels>
const Kernels& ChooseKernels(int32_t set, const Kernels& references, const Kernels* (*fastTables)(int32_t set)) {
  const Kernels* fast = KernelSetSupported(set) != 0 ? fastTables(set) : nullptr;
  return fast != nullptr ? *fast : references;
}

}  // namespace tiko
