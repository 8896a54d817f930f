// Helpers for the differential tests of the fast kernels: the kernel sets to
// compare with the references, and a scope that runs code under one set.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "image/kernel_set.h"

namespace tiko {

// Every set this build and processor run, the references first.
inline std::vector<int32_t> SupportedKernelSets() {
  std::vector<int32_t> sets;
  for (int32_t set = kKernelsScalar; set < kKernelSetCount; ++set) {
    if (KernelSetSupported(set)) sets.push_back(set);
  }
  return sets;
}

// Every supported set but the references themselves. Empty when the build has
// no fast kernels or the processor runs none of them.
inline std::vector<int32_t> FastKernelSets() {
  std::vector<int32_t> sets = SupportedKernelSets();
  sets.erase(sets.begin());
  return sets;
}

// Why there is no fast set to compare with the references, or null when
// there is one.
inline const char* NoFastKernels() {
  if (!FastKernelSets().empty()) return nullptr;
#if TIKO_SIMD_X86
  return "the processor runs none of this build's fast kernel sets";
#else
  return "this build has no fast kernels (TIKO_SIMD off, or not an x86 target)";
#endif
}

// The first statement of a test that compares the fast sets with the
// references: with nothing to compare, the test reports itself skipped and
// says why, rather than passing on nothing.
#define TIKO_REQUIRE_FAST_KERNELS() \
  if (const char* whyNot = ::tiko::NoFastKernels()) GTEST_SKIP() << whyNot

// Runs under `set` until the scope ends, then goes back to the set before.
class KernelSetScope {
 public:
  explicit KernelSetScope(int32_t set) : previous_(ActiveKernelSet()) { EXPECT_EQ(SelectKernelSet(set), 1); }
  ~KernelSetScope() { SelectKernelSet(previous_); }
  KernelSetScope(const KernelSetScope&) = delete;
  KernelSetScope& operator=(const KernelSetScope&) = delete;

 private:
  int32_t previous_;
};

// A destination with canary bytes behind it: a kernel that writes one byte
// too many changes them.
struct Guarded {
  static constexpr size_t kCanary = 64;
  static constexpr uint8_t kCanaryByte = 0xC5;
  explicit Guarded(size_t size, uint8_t fill = 0) : bytes(size, fill), size(size) {
    bytes.resize(size + kCanary, kCanaryByte);
  }
  uint8_t* data() { return bytes.data(); }
  std::vector<uint8_t> Contents() const { return {bytes.begin(), bytes.begin() + std::ptrdiff_t(size)}; }
  bool CanaryIntact() const {
    for (size_t i = size; i < bytes.size(); ++i) {
      if (bytes[i] != kCanaryByte) return false;
    }
    return true;
  }
  std::vector<uint8_t> bytes;
  size_t size;
};

inline std::vector<uint8_t> NoiseBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

}  // namespace tiko
