// The frame halving under every fast kernel set gives the reference's bytes,
// which are the host frame's pixels (2c, 2r): widths around the 16-pixel block,
// tight sources whose last row ends on its last taken pixel (read past, it
// would trip the address sanitizer), padded rows, and canaries behind the
// output.
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

// 2h - 1 rows `rowBytes` apart, the last one only 2w - 1 pixels long.
Source TightSource(std::mt19937& rng, int32_t width, int32_t height, size_t padding) {
  const size_t rowBytes = size_t(2 * width - 1) * 3 + padding;
  const size_t size = size_t(2 * height - 2) * rowBytes + size_t(2 * width - 1) * 3;
  return {NoiseBytes(rng, size), rowBytes};
}

TEST(SimdIntake, HalvingTakesEveryOtherPixelOfEveryOtherRow) {
  std::mt19937 rng(7);
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 2 * 16 + 3; ++w) widths.push_back(w);
  for (const int32_t w : {47, 48, 49, 319, 320, 321}) widths.push_back(w);
  int32_t cases = 0;
  for (const int32_t width : widths) {
    for (const int32_t height : {1, 2, 3, 7}) {
      for (const size_t padding : {size_t{0}, size_t{3}, size_t{17}}) {
        const Source source = TightSource(rng, width, height, padding);
        const size_t outBytes = size_t(width) * size_t(height) * 3;
        Guarded reference(outBytes);
        HalveBgrFrameRef(source.bytes.data(), source.rowBytes, width, height, reference.data());
        std::vector<uint8_t> expected(outBytes);
        for (int32_t r = 0; r < height; ++r) {
          for (int32_t c = 0; c < width; ++c) {
            for (int32_t b = 0; b < 3; ++b) {
              expected[(size_t(r) * width + c) * 3 + b] = source.bytes[size_t(2 * r) * source.rowBytes + size_t(c) * 6 + b];
            }
          }
        }
        ASSERT_EQ(reference.Contents(), expected) << width << " x " << height;
        ASSERT_TRUE(reference.CanaryIntact());
        for (const int32_t set : FastKernelSets()) {
          Guarded fast(outBytes);
          HalveBgrFrameWith(set, source.bytes.data(), source.rowBytes, width, height, fast.data());
          ASSERT_EQ(fast.Contents(), expected) << KernelSetName(set) << " " << width << " x " << height << " +" << padding;
          ASSERT_TRUE(fast.CanaryIntact()) << KernelSetName(set) << " " << width << " x " << height;
        }
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, int32_t(widths.size()) * 4 * 3);
}

TEST(SimdIntake, NothingToHalveWritesNothing) {
  const std::vector<uint8_t> source(64, 9);
  for (const int32_t set : {kKernelsScalar, kKernelsSse41, kKernelsAvx2}) {
    for (const auto& [width, height] : {std::pair{0, 4}, {4, 0}, {-3, 2}, {2, -1}}) {
      Guarded out(0);
      HalveBgrFrameWith(set, source.data(), 12, width, height, out.data());
      EXPECT_TRUE(out.CanaryIntact()) << set << " " << width << " x " << height;
    }
  }
}

}  // namespace
}  // namespace tiko
