// The compositor's fast row kernels against the references, for every kernel
// set the processor runs: every mask kind, opacities from -5 to 130 and beyond,
// widths around the vector sizes, unaligned starts, clipping on all sides, and
// canary bytes behind every destination.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "anim/blend.h"
#include "simd_sets.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

// The widest vector holds 32 pixels; widths run past two of them.
constexpr int32_t kMaxLanes = 32;
constexpr int32_t kMaxWidth = 2 * kMaxLanes + 3;
constexpr int32_t kMaxAlign = 3;

// Alpha bytes that reach every path: runs of 0 and of copies (whole vectors
// that skip or copy) and noise that blends.
Bytes AlphaPlane(std::mt19937& rng, size_t n) {
  Bytes out(n);
  size_t i = 0;
  while (i < n) {
    const size_t run = 1 + rng() % 40;
    const int mode = static_cast<int>(rng() % 4);
    for (size_t k = 0; k < run && i < n; ++k, ++i) {
      out[i] = mode == 0 ? 0 : mode == 1 ? static_cast<uint8_t>(128 + rng() % 128) : static_cast<uint8_t>(rng());
    }
  }
  return out;
}

// Pixels where src < dst, src > dst and src == dst all occur, with the
// extremes that test truncation toward dst from both sides.
Bytes Pixels(std::mt19937& rng, size_t n) {
  Bytes out = NoiseBytes(rng, n);
  for (size_t i = 0; i < n; i += 7) out[i] = (rng() & 1) ? 0 : 255;
  return out;
}

std::vector<int32_t> Weights() {
  std::vector<int32_t> weights;
  for (int32_t opacity = -5; opacity <= 130; ++opacity) weights.push_back(OpacityWeight(opacity));
  for (int32_t weight : {200, 255, 256, 1000, 16384}) weights.push_back(weight);
  return weights;
}

enum class Row { kBits, kAlpha, kOpaque };

void RunRow(const BlendKernels& k, Row row, const uint8_t* src, const uint8_t* plane, uint64_t firstBit,
            int32_t count, int32_t weight, uint8_t* dst) {
  switch (row) {
    case Row::kBits:
      k.rowBits(src, plane, firstBit, count, weight, dst);
      break;
    case Row::kAlpha:
      k.rowAlpha(src, plane, count, weight, dst);
      break;
    case Row::kOpaque:
      k.rowOpaque(src, count, weight, dst);
      break;
  }
}

TEST(SimdBlend, RowKernelsMatchTheReferences) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(8);
  const BlendKernels& reference = BlendKernelsOf(kKernelsScalar);
  const std::vector<int32_t> weights = Weights();
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    const BlendKernels& fast = BlendKernelsOf(set);
    for (Row row : {Row::kBits, Row::kAlpha, Row::kOpaque}) {
      for (int32_t width = 1; width <= kMaxWidth; ++width) {
        const int32_t align = width % (kMaxAlign + 1);
        // The plane starts at a bit that is not a byte boundary, and its
        // buffer ends right after the row's last bit or byte.
        const uint64_t firstBit = uint64_t(width * 5 % 8);
        const size_t planeBytes = row == Row::kBits ? size_t((firstBit + uint64_t(width) + 7) / 8) : size_t(width);
        const Bytes plane = row == Row::kBits ? NoiseBytes(rng, planeBytes) : AlphaPlane(rng, planeBytes);
        // The picture's buffer ends with the row, so a read past it is caught
        // by the address sanitizer build.
        const Bytes src = Pixels(rng, size_t(align) + size_t(width) * 3);
        const Bytes frame = Pixels(rng, size_t(width) * 3 + kMaxAlign);
        for (int32_t weight : weights) {
          Guarded expected(size_t(width) * 3 + kMaxAlign);
          Guarded actual(size_t(width) * 3 + kMaxAlign);
          std::memcpy(expected.data(), frame.data(), frame.size());
          std::memcpy(actual.data(), frame.data(), frame.size());
          RunRow(reference, row, src.data() + align, plane.data(), firstBit, width, weight, expected.data() + align);
          RunRow(fast, row, src.data() + align, plane.data(), firstBit, width, weight, actual.data() + align);
          ASSERT_EQ(actual.Contents(), expected.Contents())
              << "row " << int(row) << " width " << width << " weight " << weight;
          ASSERT_TRUE(actual.CanaryIntact()) << "row " << int(row) << " width " << width;
        }
      }
    }
  }
}

// Whole pictures through BlendPicture: each layout of plane, clipped on every
// side, into frames with canaries behind them.
TEST(SimdBlend, PicturesMatchTheReferences) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(80);
  constexpr uint8_t kKinds[] = {kMaskNone, kMaskBit, kMaskByte, 3};
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    for (int trial = 0; trial < 600; ++trial) {
      const uint8_t kind = kKinds[trial % 4];
      const int32_t w = 1 + static_cast<int32_t>(rng() % 90);
      const int32_t h = 1 + 2 * static_cast<int32_t>(rng() % 12);  // odd heights
      const int32_t frameWidth = 1 + static_cast<int32_t>(rng() % 100);
      const int32_t frameHeight = 1 + static_cast<int32_t>(rng() % 40);
      // Anywhere from wholly left or below the frame to past its far edges.
      const int32_t px = static_cast<int32_t>(rng() % uint32_t(frameWidth + w + 10)) - w - 5;
      const int32_t py = static_cast<int32_t>(rng() % uint32_t(frameHeight + h + 10)) - h - 5;
      const int32_t opacity = -5 + static_cast<int32_t>(rng() % 136);

      Image picture{};
      picture.width = w;
      picture.height = h;
      picture.pixelFormat = kFormatBgr24;
      picture.maskKind = kind;
      picture.pixelDataSize = w * h * 3;
      picture.maskDataSize = (kind * w * h + 7) / 8;
      picture.totalSize = picture.pixelDataSize + picture.maskDataSize;
      Bytes data = Pixels(rng, size_t(picture.pixelDataSize));
      const Bytes plane = kind == kMaskByte ? AlphaPlane(rng, size_t(picture.maskDataSize))
                                            : NoiseBytes(rng, size_t(picture.maskDataSize));
      data.insert(data.end(), plane.begin(), plane.end());
      picture.data = data.data();

      const Bytes frame = Pixels(rng, size_t(frameWidth) * frameHeight * 3);
      Guarded expected(frame.size());
      Guarded actual(frame.size());
      std::memcpy(expected.data(), frame.data(), frame.size());
      std::memcpy(actual.data(), frame.data(), frame.size());
      {
        KernelSetScope scalar(kKernelsScalar);
        BlendPicture(&picture, kFormatBgr24, frameWidth, frameHeight, expected.data(), px, py, opacity);
      }
      {
        KernelSetScope fast(set);
        BlendPicture(&picture, kFormatBgr24, frameWidth, frameHeight, actual.data(), px, py, opacity);
      }
      ASSERT_EQ(actual.Contents(), expected.Contents())
          << "trial " << trial << " kind " << int(kind) << " " << w << "x" << h << " at " << px << "," << py
          << " opacity " << opacity;
      ASSERT_TRUE(actual.CanaryIntact()) << "trial " << trial;
    }
  }
}

// The weight cut in BlendPicture keeps huge opacities (and the ones whose
// weight wraps negative) drawing what the uncut weight would.
TEST(SimdBlend, HugeOpacitiesDrawLikeTheirWeights) {
  Image picture{};
  picture.width = 4;
  picture.height = 1;
  picture.pixelFormat = kFormatBgr24;
  picture.maskKind = kMaskByte;
  picture.pixelDataSize = 12;
  picture.maskDataSize = 4;
  picture.totalSize = 16;
  Bytes data = {200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 200, 0, 1, 2, 255};
  picture.data = data.data();
  for (const int32_t set : SupportedKernelSets()) {
    KernelSetScope scope(set);
    // Alpha 1 at a weight of 16384 or more copies; alpha 0 never draws.
    Bytes frame(12, 10);
    BlendPicture(&picture, kFormatBgr24, 4, 1, frame.data(), 0, 0, 1000000);
    EXPECT_EQ(frame, (Bytes{10, 10, 10, 200, 200, 200, 200, 200, 200, 200, 200, 200})) << KernelSetName(set);
    // 2^24 x 128 wraps to a weight of 0: nothing is drawn.
    Bytes untouched(12, 10);
    BlendPicture(&picture, kFormatBgr24, 4, 1, untouched.data(), 0, 0, 1 << 24);
    EXPECT_EQ(untouched, Bytes(12, 10)) << KernelSetName(set);
  }
}

}  // namespace
}  // namespace tiko
