#include "image/kernel_set.h"

#include <atomic>

namespace tiko {
namespace {

constexpr int32_t kNotChosen = -1;

// Relaxed is enough: every set computes the same bytes, so a thread that sees
// an older choice for a moment still draws correctly.
std::atomic<int32_t> gActiveSet{kNotChosen};

// The sets the processor runs, one bit per set, asked of the processor once:
// every kernel family checks its set on each call.
int32_t ProbeProcessor() {
  int32_t sets = 1 << kKernelsScalar;
#if TIKO_SIMD_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse4.1")) sets |= 1 << kKernelsSse41;
  // GCC for 64-bit Windows keeps the stack 16-byte aligned and cannot place
  // 32-byte vectors on it safely, so that build stays at 128 bits.
#if !(defined(_WIN32) && !defined(__clang__))
  if (__builtin_cpu_supports("avx2")) sets |= 1 << kKernelsAvx2;
#endif
#endif
  return sets;
}

int32_t ProcessorRuns(int32_t set) {
  static const int32_t sets = ProbeProcessor();
  return (sets >> set) & 1;
}

int32_t BestKernelSet() {
  for (int32_t set = kKernelSetCount - 1; set > kKernelsScalar; --set) {
    if (KernelSetSupported(set)) return set;
  }
  return kKernelsScalar;
}

}  // namespace

const char* KernelSetName(int32_t set) {
  switch (set) {
    case kKernelsScalar:
      return "scalar";
    case kKernelsSse41:
      return "sse4.1";
    case kKernelsAvx2:
      return "avx2";
    default:
      return "unknown";
  }
}

int32_t KernelSetSupported(int32_t set) {
  if (set < kKernelsScalar || set >= kKernelSetCount) return 0;
  return ProcessorRuns(set);
}

int32_t ActiveKernelSet() {
  int32_t set = gActiveSet.load(std::memory_order_relaxed);
  if (set == kNotChosen) {
    // Two threads may both get here first; they store the same choice.
    set = BestKernelSet();
    gActiveSet.store(set, std::memory_order_relaxed);
  }
  return set;
}

int32_t SelectKernelSet(int32_t set) {
  if (!KernelSetSupported(set)) return 0;
  gActiveSet.store(set, std::memory_order_relaxed);
  return 1;
}

}  // namespace tiko
