// The rescalers' fast kernels against the references, for every kernel set
// the processor runs (interpolated planes, 1-bit plane rows, whole pictures),
// and the reciprocal that replaces their division.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/layout.h"
#include "image/scale.h"
#include "package/heap.h"
#include "simd_sets.h"
#include "support/heap_picture.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kMaxSample = 255;

uint64_t MaxNumerator(uint64_t total) { return total / 2 + kMaxSample * total; }

// Exact for every numerator the rescalers can form, checked one by one.
TEST(SimdScale, ReciprocalsDivideEveryNumeratorExactly) {
  // Pixel totals of common sizes and awkward ones: primes, powers of two and
  // their neighbours.
  const uint64_t totals[] = {2, 3, 7, 255, 256, 257, 1000, 4095, 65536, 65537, 76800, 99991, 102400};
  for (uint64_t total : totals) {
    Reciprocal reciprocal{};
    ASSERT_EQ(FindReciprocal(total, MaxNumerator(total), &reciprocal), 1) << total;
    for (uint64_t n = 0; n <= MaxNumerator(total); ++n) {
      ASSERT_EQ(DivideByReciprocal(n, reciprocal), n / total) << n << " / " << total;
    }
  }
}

// Totals up to 2^24 (the most a fast kernel takes) are checked at the
// numerators where a quotient steps and at the top of the range. Below 2^23
// a reciprocal always exists; above, the kernel divides when there is none.
TEST(SimdScale, ReciprocalsHoldAtEveryStepOfLargeTotals) {
  std::mt19937 rng(24);
  for (int trial = 0; trial < 20000; ++trial) {
    const uint64_t total = 2 + rng() % ((uint64_t{1} << 24) - 1);
    Reciprocal reciprocal{};
    if (FindReciprocal(total, MaxNumerator(total), &reciprocal) == 0) {
      ASSERT_GE(total, uint64_t{1} << 23);
      continue;
    }
    for (uint64_t q = 1; q <= kMaxSample + 1; ++q) {
      for (uint64_t n : {q * total - 1, q * total, q * total + 1, q * total - total / 2}) {
        if (n > MaxNumerator(total)) continue;
        ASSERT_EQ(DivideByReciprocal(n, reciprocal), n / total) << n << " / " << total;
      }
    }
    ASSERT_EQ(DivideByReciprocal(MaxNumerator(total), reciprocal), MaxNumerator(total) / total);
  }
  Reciprocal none{};
  EXPECT_EQ(FindReciprocal(1, 255, &none), 0);  // a total of 1 needs no division at all
}

struct Layout {
  int32_t channels;
  int32_t stride;
};
constexpr Layout kLayouts[] = {{3, 3}, {1, 1}, {1, 2}};

// One plane through a kernel set. The source buffer ends with the plane (a
// read past it is caught in the sanitizer build); the destination has canary
// bytes behind it.
Bytes ScalePlane(const ScaleKernels& kernels, const Layout& layout, const Bytes& source, int32_t sw, int32_t sh,
                 int32_t dw, int32_t dh, bool* intact) {
  const int64_t sourceRow = int64_t{sw} * layout.stride;
  const int64_t row = int64_t{dw} * layout.stride;
  Guarded out(size_t(row) * size_t(dh));
  PlaneScale plane{source.data(), sourceRow, sw, sh, static_cast<int64_t>(source.size()),
                   out.data(),    row,       dw, dh, layout.channels, layout.stride};
  kernels.interpolatePlane(plane);
  *intact = out.CanaryIntact();
  Bytes samples = out.Contents();
  // Only the samples count: a kernel may write the bytes between them.
  if (layout.stride != layout.channels) {
    for (size_t i = 0; i < samples.size(); ++i) {
      if (int32_t(i % size_t(layout.stride)) >= layout.channels) samples[i] = 0;
    }
  }
  return samples;
}

void ExpectPlanesAlike(std::mt19937& rng, int32_t set, const Layout& layout, int32_t sw, int32_t sh, int32_t dw,
                       int32_t dh) {
  const Bytes source = NoiseBytes(rng, size_t(sw) * size_t(sh) * size_t(layout.stride));
  bool intact = false;
  const Bytes expected = ScalePlane(ScaleKernelsOf(kKernelsScalar), layout, source, sw, sh, dw, dh, &intact);
  const Bytes actual = ScalePlane(ScaleKernelsOf(set), layout, source, sw, sh, dw, dh, &intact);
  ASSERT_EQ(actual, expected) << "channels " << layout.channels << " stride " << layout.stride << " " << sw << "x"
                              << sh << " -> " << dw << "x" << dh;
  ASSERT_TRUE(intact) << sw << "x" << sh << " -> " << dw << "x" << dh;
}

TEST(SimdScale, PlanesOfEverySizeAlike) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(42);
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    for (const Layout& layout : kLayouts) {
      // Every width around the vector sizes, enlarged and reduced.
      for (int32_t w = 1; w <= 2 * 32 + 3; ++w) {
        ExpectPlanesAlike(rng, set, layout, 1 + w % 9, 1 + w % 5, w, 1 + w % 7);
        ExpectPlanesAlike(rng, set, layout, w, 3, 1 + w / 3, 2);
        ExpectPlanesAlike(rng, set, layout, w, 5, w, 5);
        if (HasFatalFailure()) return;
      }
      for (int trial = 0; trial < 300; ++trial) {
        const int32_t sw = 1 + static_cast<int32_t>(rng() % 120), sh = 1 + static_cast<int32_t>(rng() % 40);
        const int32_t dw = 1 + static_cast<int32_t>(rng() % 120), dh = 1 + static_cast<int32_t>(rng() % 40);
        ExpectPlanesAlike(rng, set, layout, sw, sh, dw, dh);
        if (HasFatalFailure()) return;
      }
      // The benchmark's ratios, strips of columns, strong reductions (wider
      // than a window) and the sizes past the fast kernel's limits.
      const int32_t sizes[][4] = {{200, 150, 320, 240}, {640, 480, 320, 240}, {1500, 4, 1100, 3},
                                  {300, 7, 31, 5},      {64, 3, 3, 2},        {2, 2, 40000, 1}};
      for (const auto& s : sizes) ExpectPlanesAlike(rng, set, layout, s[0], s[1], s[2], s[3]);
    }
    // More than 2^24 destination pixels: the sums no longer fit 32 bits.
    ExpectPlanesAlike(rng, set, Layout{1, 1}, 3, 2, 8193, 2049);
  }
}

// Rows of a 1-bit plane: widths across bytes and vectors, enlarged and
// reduced, from any bit of a byte in source and destination, onto rows with
// bits already set (a kernel may only rewrite them with their own values).
// The source ends with its row, so a read past it is caught in the sanitizer
// build; canaries lie behind the destination.
struct BitRow {
  Bytes source;
  uint64_t sourceFirstBit;
  int32_t sourceWidth;
  Bytes before;
  uint64_t firstBit;
  int32_t width;
};

Guarded ScaleBitRowWith(const ScaleKernels& kernels, const BitRow& row) {
  Guarded out(row.before.size());
  std::memcpy(out.data(), row.before.data(), row.before.size());
  kernels.scaleBitRow(row.source.data(), row.sourceFirstBit, row.sourceWidth, out.data(), row.firstBit, row.width);
  return out;
}

TEST(SimdScale, BitRowsAlike) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(1);
  for (int trial = 0; trial < 4000; ++trial) {
    BitRow row;
    row.sourceWidth = 1 + static_cast<int32_t>(trial < 2000 ? trial % 70 : rng() % 300);
    row.width = 1 + static_cast<int32_t>(trial < 2000 ? trial / 70 % 70 : rng() % 300);
    row.sourceFirstBit = rng() % 24;
    row.firstBit = rng() % 24;
    row.source = NoiseBytes(rng, size_t((row.sourceFirstBit + uint64_t(row.sourceWidth) + 7) / 8));
    const size_t rowBytes = size_t((row.firstBit + uint64_t(row.width) + 7) / 8);
    row.before = trial % 3 == 0 ? Bytes(rowBytes, 0) : NoiseBytes(rng, rowBytes);
    const Guarded expected = ScaleBitRowWith(ScaleKernelsOf(kKernelsScalar), row);
    for (int32_t set : FastKernelSets()) {
      const Guarded actual = ScaleBitRowWith(ScaleKernelsOf(set), row);
      ASSERT_EQ(actual.Contents(), expected.Contents()) << KernelSetName(set) << ": " << row.sourceWidth << " from bit "
                                                        << row.sourceFirstBit << " -> " << row.width << " from bit "
                                                        << row.firstBit;
      ASSERT_TRUE(actual.CanaryIntact()) << KernelSetName(set) << ": " << row.sourceWidth << " -> " << row.width;
    }
  }
}

// Whole pictures through ResizeImage: interpolation, nearest chroma and both
// kinds of transparency plane.
TEST(SimdScale, PicturesAlike) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(7);
  constexpr uint8_t kFormats[] = {kFormatBgr24, kFormatYuv422, kFormatYuv420};
  constexpr uint8_t kKinds[] = {kMaskNone, kMaskBit, kMaskByte};
  auto resize = [](int32_t set, uint8_t format, uint8_t kind, int32_t sw, int32_t sh, const Bytes& bytes, int32_t dw,
                   int32_t dh) {
    KernelSetScope scope(set);
    test::HeapPicture picture(format, sw, sh, kind, bytes);
    Image* copy = ResizeImage(nullptr, &picture.image, dw, dh, 1);
    Bytes out;
    if (copy != nullptr) {
      out.assign(copy->data, copy->data + copy->totalSize);
      MemFree(copy->data);
      MemFree(copy);
    }
    return out;
  };
  // Reductions by a whole factor and unchanged sizes (rows that are copies),
  // the benchmark's ratios, and reductions too strong for the byte windows.
  const int32_t sizes[][4] = {{64, 48, 32, 24}, {65, 47, 32, 23}, {40, 30, 40, 30}, {40, 30, 40, 17},
                              {33, 9, 11, 3},   {200, 150, 320, 240}, {640, 480, 320, 240}, {300, 20, 9, 20}};
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    for (const auto& s : sizes) {
      for (uint8_t format : kFormats) {
        const Bytes bytes =
            NoiseBytes(rng, size_t(PixelDataSize(format, s[0], s[1]) + MaskDataSize(kMaskByte, s[0], s[1])));
        ASSERT_EQ(resize(set, format, kMaskByte, s[0], s[1], bytes, s[2], s[3]),
                  resize(kKernelsScalar, format, kMaskByte, s[0], s[1], bytes, s[2], s[3]))
            << int(format) << " " << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3];
      }
    }
    for (int trial = 0; trial < 270; ++trial) {
      const uint8_t format = kFormats[trial % 3];
      const uint8_t kind = kKinds[(trial / 3) % 3];
      const int32_t sw = 1 + static_cast<int32_t>(rng() % 50), sh = 1 + static_cast<int32_t>(rng() % 30);
      const int32_t dw = static_cast<int32_t>(rng() % 70), dh = static_cast<int32_t>(rng() % 40);
      const Bytes bytes = NoiseBytes(rng, size_t(PixelDataSize(format, sw, sh) + MaskDataSize(kind, sw, sh)));
      ASSERT_EQ(resize(set, format, kind, sw, sh, bytes, dw, dh),
                resize(kKernelsScalar, format, kind, sw, sh, bytes, dw, dh))
          << int(format) << " mask " << int(kind) << " " << sw << "x" << sh << " -> " << dw << "x" << dh;
    }
  }
}

}  // namespace
}  // namespace tiko
