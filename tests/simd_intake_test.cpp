// The frame halving: the reference takes the host frame's pixels (2c, 2r), and
// every fast kernel set gives the reference's bytes. Widths around the
// 16-pixel block and the 32-pixel vector, tight sources whose last row ends on
// its last taken pixel (read past, it would trip the address sanitizer),
// padded rows, and canaries behind the output.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/intake.h"
#include "simd_sets.h"

namespace tiko {
namespace {

struct Source {
  std::vector<uint8_t> bytes;
  size_t rowBytes;
};

struct Case {
  int32_t width;
  int32_t height;
  Source source;
};

// 2h - 1 rows `rowBytes` apart, the last one only 2w - 1 pixels long.
Source TightSource(std::mt19937& rng, int32_t width, int32_t height, size_t padding) {
  const size_t rowBytes = size_t(2 * width - 1) * 3 + padding;
  const size_t size = size_t(2 * height - 2) * rowBytes + size_t(2 * width - 1) * 3;
  return {NoiseBytes(rng, size), rowBytes};
}

std::vector<Case> Cases() {
  std::mt19937 rng(7);
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 2 * 32 + 3; ++w) widths.push_back(w);
  for (const int32_t w : {95, 96, 97, 319, 320, 321}) widths.push_back(w);
  std::vector<Case> cases;
  for (const int32_t width : widths) {
    for (const int32_t height : {1, 2, 3, 7}) {
      for (const size_t padding : {size_t{0}, size_t{3}, size_t{17}}) {
        cases.push_back({width, height, TightSource(rng, width, height, padding)});
      }
    }
  }
  return cases;
}

Guarded HalveUnder(int32_t set, const Case& c) {
  KernelSetScope scope(set);
  Guarded out(size_t(c.width) * size_t(c.height) * 3);
  HalveBgrFrame(c.source.bytes.data(), c.source.rowBytes, c.width, c.height, out.data());
  return out;
}

std::string Where(const Case& c) {
  return std::to_string(c.width) + " x " + std::to_string(c.height) + " rows of " + std::to_string(c.source.rowBytes);
}

TEST(SimdIntake, TheReferenceTakesEveryOtherPixelOfEveryOtherRow) {
  for (const Case& c : Cases()) {
    std::vector<uint8_t> expected(size_t(c.width) * size_t(c.height) * 3);
    for (int32_t r = 0; r < c.height; ++r) {
      for (int32_t col = 0; col < c.width; ++col) {
        for (int32_t b = 0; b < 3; ++b) {
          const size_t taken = size_t(2 * r) * c.source.rowBytes + size_t(col) * 6 + size_t(b);
          expected[(size_t(r) * size_t(c.width) + size_t(col)) * 3 + size_t(b)] = c.source.bytes[taken];
        }
      }
    }
    const Guarded reference = HalveUnder(kKernelsScalar, c);
    ASSERT_EQ(reference.Contents(), expected) << Where(c);
    ASSERT_TRUE(reference.CanaryIntact()) << Where(c);
  }
}

TEST(SimdIntake, FastSetsHalveLikeTheReference) {
  TIKO_REQUIRE_FAST_KERNELS();
  for (const Case& c : Cases()) {
    const Guarded reference = HalveUnder(kKernelsScalar, c);
    for (const int32_t set : FastKernelSets()) {
      const Guarded fast = HalveUnder(set, c);
      ASSERT_EQ(fast.Contents(), reference.Contents()) << KernelSetName(set) << " " << Where(c);
      ASSERT_TRUE(fast.CanaryIntact()) << KernelSetName(set) << " " << Where(c);
    }
  }
}

TEST(SimdIntake, NothingToHalveWritesNothing) {
  const std::vector<uint8_t> source(64, 9);
  for (const int32_t set : SupportedKernelSets()) {
    KernelSetScope scope(set);
    for (const auto& [width, height] : {std::pair{0, 4}, {4, 0}, {-3, 2}, {2, -1}}) {
      Guarded out(0);
      HalveBgrFrame(source.data(), 12, width, height, out.data());
      EXPECT_TRUE(out.CanaryIntact()) << KernelSetName(set) << " " << width << " x " << height;
    }
  }
}

}  // namespace
}  // namespace tiko
