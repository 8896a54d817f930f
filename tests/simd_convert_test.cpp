// The colour conversions' fast row kernels against the references, for every
// kernel set the processor runs. Y and the 4:2:2 chroma are compared for all
// 2^24 colours, both decoders for all 2^24 (Y, U, V); the averaged 4:2:0
// chroma on every colour in 2 x 2 blocks and on random rows of every width
// around the vector sizes, with unaligned starts and canary bytes behind every
// destination.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/convert.h"
#include "image/layout.h"
#include "package/heap.h"
#include "simd_sets.h"
#include "support/heap_picture.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kMaxWidth = 2 * 32 + 3;
constexpr int32_t kMaxAlign = 3;
constexpr int32_t kColoursPerRow = 256 * 256;

// Row r of the all-colour picture: pixel g x 256 + b is (b, g, r), after
// `lead` pixels of another colour, so that with lead 1 every colour also sits
// in an odd column.
Bytes AllColoursRow(int r, int lead) {
  Bytes row;
  row.reserve(size_t(kColoursPerRow + lead) * 3);
  for (int k = 0; k < lead; ++k) row.insert(row.end(), {17, 99, 201});
  for (int g = 0; g < 256; ++g) {
    for (int b = 0; b < 256; ++b) row.insert(row.end(), {uint8_t(b), uint8_t(g), uint8_t(r)});
  }
  return row;
}

TEST(SimdConvert, EveryColourEncodesTo422Alike) {
  TIKO_REQUIRE_FAST_KERNELS();
  const ConvertKernels& reference = ConvertKernelsOf(kKernelsScalar);
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    const ConvertKernels& fast = ConvertKernelsOf(set);
    for (int lead = 0; lead <= 1; ++lead) {
      const int32_t width = kColoursPerRow + lead;
      const size_t outSize = size_t(RowSize(kFormatYuv422, width));
      for (int r = 0; r < 256; ++r) {
        const Bytes row = AllColoursRow(r, lead);
        Guarded expected(outSize);
        Guarded actual(outSize);
        reference.bgrRowToYuv422(row.data(), width, expected.data());
        fast.bgrRowToYuv422(row.data(), width, actual.data());
        ASSERT_EQ(actual.Contents(), expected.Contents()) << "red " << r << " lead " << lead;
        ASSERT_TRUE(actual.CanaryIntact());
      }
    }
  }
}

TEST(SimdConvert, EveryYuvDecodesAlike) {
  TIKO_REQUIRE_FAST_KERNELS();
  const ConvertKernels& reference = ConvertKernelsOf(kKernelsScalar);
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    const ConvertKernels& fast = ConvertKernelsOf(set);
    const int32_t width = 2 * kColoursPerRow;  // every (U, V) once per row, two pixels each
    for (int y = 0; y < 256; ++y) {
      Bytes groups(size_t(kColoursPerRow) * 4);
      Bytes luma(static_cast<size_t>(width));
      Bytes u(static_cast<size_t>(kColoursPerRow));
      Bytes v(static_cast<size_t>(kColoursPerRow));
      for (int k = 0; k < kColoursPerRow; ++k) {
        const uint8_t second = static_cast<uint8_t>(y + 101);
        groups[size_t(k) * 4 + 0] = static_cast<uint8_t>(y);
        groups[size_t(k) * 4 + 1] = static_cast<uint8_t>(k & 255);
        groups[size_t(k) * 4 + 2] = second;
        groups[size_t(k) * 4 + 3] = static_cast<uint8_t>(k >> 8);
        luma[size_t(k) * 2] = static_cast<uint8_t>(y);
        luma[size_t(k) * 2 + 1] = second;
        u[size_t(k)] = static_cast<uint8_t>(k & 255);
        v[size_t(k)] = static_cast<uint8_t>(k >> 8);
      }
      Guarded expected(size_t(width) * 3), actual(size_t(width) * 3);
      reference.yuv422RowToBgr(groups.data(), width, expected.data());
      fast.yuv422RowToBgr(groups.data(), width, actual.data());
      ASSERT_EQ(actual.Contents(), expected.Contents()) << "4:2:2 Y " << y;
      ASSERT_TRUE(actual.CanaryIntact());
      reference.yuv420RowToBgr(luma.data(), u.data(), v.data(), width, expected.data());
      fast.yuv420RowToBgr(luma.data(), u.data(), v.data(), width, actual.data());
      ASSERT_EQ(actual.Contents(), expected.Contents()) << "4:2:0 Y " << y;
      ASSERT_TRUE(actual.CanaryIntact());
    }
  }
}

// One pair of rows (or a last row alone) through the 4:2:0 encoder.
struct Encoded420 {
  Guarded luma0, luma1, u, v;
  explicit Encoded420(int32_t width)
      : luma0(size_t(width) + kMaxAlign),
        luma1(size_t(width) + kMaxAlign),
        u(size_t(ChromaWidth(width)) + kMaxAlign),
        v(size_t(ChromaWidth(width)) + kMaxAlign) {}
  void Run(const ConvertKernels& k, const uint8_t* row0, const uint8_t* row1, int32_t width, int32_t align) {
    std::vector<double> means(size_t(ChromaWidth(width)) * 2);
    k.bgrRowPairToYuv420(row0, row1, width, means.data(), luma0.data() + align,
                         row1 != nullptr ? luma1.data() + align : nullptr, u.data() + align, v.data() + align);
  }
  bool Intact() const { return luma0.CanaryIntact() && luma1.CanaryIntact() && u.CanaryIntact() && v.CanaryIntact(); }
};

void Expect420Alike(const ConvertKernels& reference, const ConvertKernels& fast, const uint8_t* row0,
                    const uint8_t* row1, int32_t width, int32_t align, const std::string& where) {
  Encoded420 expected(width), actual(width);
  expected.Run(reference, row0, row1, width, align);
  actual.Run(fast, row0, row1, width, align);
  ASSERT_EQ(actual.luma0.Contents(), expected.luma0.Contents()) << where;
  ASSERT_EQ(actual.luma1.Contents(), expected.luma1.Contents()) << where;
  ASSERT_EQ(actual.u.Contents(), expected.u.Contents()) << where;
  ASSERT_EQ(actual.v.Contents(), expected.v.Contents()) << where;
  ASSERT_TRUE(actual.Intact()) << where;
}

// Every colour once, as the pixels of 2 x 2 blocks: row pair (r, g) holds the
// blues in reading order, so each chroma sample averages four colours.
TEST(SimdConvert, EveryColourEncodesTo420Alike) {
  TIKO_REQUIRE_FAST_KERNELS();
  const ConvertKernels& reference = ConvertKernelsOf(kKernelsScalar);
  constexpr int32_t kWidth = 128;  // two rows of 128 pixels hold the 256 blues
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    const ConvertKernels& fast = ConvertKernelsOf(set);
    for (int r = 0; r < 256; ++r) {
      for (int g = 0; g < 256; ++g) {
        Bytes rows(size_t(kWidth) * 2 * 3);
        for (int b = 0; b < 256; ++b) {
          // Block k of the pair holds blues 4k .. 4k + 3.
          const int block = b / 4, at = b % 4;
          const size_t pixel = size_t(at / 2) * kWidth + size_t(block) * 2 + size_t(at % 2);
          rows[pixel * 3] = static_cast<uint8_t>(b);
          rows[pixel * 3 + 1] = static_cast<uint8_t>(g);
          rows[pixel * 3 + 2] = static_cast<uint8_t>(r);
        }
        Expect420Alike(reference, fast, rows.data(), rows.data() + kWidth * 3, kWidth, 0,
                       "red " + std::to_string(r) + " green " + std::to_string(g));
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Rows of every width around the step sizes, pairs and last rows alone,
// unaligned, from smooth and noisy pictures (smooth ones put many equal
// colours side by side, where means land on exact halves).
TEST(SimdConvert, RowsOfEveryWidthAlike) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(420);
  const ConvertKernels& reference = ConvertKernelsOf(kKernelsScalar);
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    const ConvertKernels& fast = ConvertKernelsOf(set);
    for (int32_t width = 1; width <= kMaxWidth; ++width) {
      for (int trial = 0; trial < 8; ++trial) {
        const int32_t align = (width + trial) % (kMaxAlign + 1);
        // Buffers that end with the row catch reads past it (sanitizer build).
        Bytes row0 = NoiseBytes(rng, size_t(align) + size_t(width) * 3);
        Bytes row1 = NoiseBytes(rng, size_t(align) + size_t(width) * 3);
        if (trial % 2 == 1) {
          for (size_t i = size_t(align) + 3; i < row0.size(); ++i) row0[i] = row0[i - 3], row1[i] = row0[i];
        }
        const uint8_t* bgr0 = row0.data() + align;
        const uint8_t* bgr1 = row1.data() + align;
        const std::string where = "width " + std::to_string(width) + " trial " + std::to_string(trial);
        Expect420Alike(reference, fast, bgr0, bgr1, width, align, where);
        Expect420Alike(reference, fast, bgr0, nullptr, width, align, where + " alone");
        if (HasFatalFailure()) return;

        const size_t packed = size_t(RowSize(kFormatYuv422, width));
        Guarded expected(packed + kMaxAlign), actual(packed + kMaxAlign);
        reference.bgrRowToYuv422(bgr0, width, expected.data() + align);
        fast.bgrRowToYuv422(bgr0, width, actual.data() + align);
        ASSERT_EQ(actual.Contents(), expected.Contents()) << where;
        ASSERT_TRUE(actual.CanaryIntact()) << where;

        Bytes yuv = NoiseBytes(rng, size_t(align) + packed);
        Guarded bgrExpected(size_t(width) * 3 + kMaxAlign), bgrActual(size_t(width) * 3 + kMaxAlign);
        reference.yuv422RowToBgr(yuv.data() + align, width, bgrExpected.data() + align);
        fast.yuv422RowToBgr(yuv.data() + align, width, bgrActual.data() + align);
        ASSERT_EQ(bgrActual.Contents(), bgrExpected.Contents()) << where;
        ASSERT_TRUE(bgrActual.CanaryIntact()) << where;

        const size_t chroma = size_t(ChromaWidth(width));
        Bytes luma = NoiseBytes(rng, size_t(align) + size_t(width));
        Bytes u = NoiseBytes(rng, size_t(align) + chroma), v = NoiseBytes(rng, size_t(align) + chroma);
        reference.yuv420RowToBgr(luma.data() + align, u.data() + align, v.data() + align, width,
                                 bgrExpected.data() + align);
        fast.yuv420RowToBgr(luma.data() + align, u.data() + align, v.data() + align, width, bgrActual.data() + align);
        ASSERT_EQ(bgrActual.Contents(), bgrExpected.Contents()) << where;
        ASSERT_TRUE(bgrActual.CanaryIntact()) << where;
      }
    }
  }
}

// Whole pictures through every conversion path, with every kind of
// transparency plane, at odd and even sizes including empty ones.
TEST(SimdConvert, PicturesConvertAlike) {
  TIKO_REQUIRE_FAST_KERNELS();
  std::mt19937 rng(101);
  constexpr uint8_t kFormats[] = {kFormatBgr24, kFormatYuv422, kFormatYuv420};
  constexpr uint8_t kKinds[] = {kMaskNone, kMaskBit, kMaskByte};
  auto convert = [&](int32_t set, uint8_t from, uint8_t to, int32_t w, int32_t h, uint8_t kind, const Bytes& bytes) {
    KernelSetScope scope(set);
    test::HeapPicture picture(from, w, h, kind, bytes);
    EXPECT_EQ(ConvertImage(&picture.image, to), 1);
    const Bytes out = picture.All();
    return out;
  };
  for (int32_t set : FastKernelSets()) {
    SCOPED_TRACE(KernelSetName(set));
    for (int trial = 0; trial < 300; ++trial) {
      const int32_t w = static_cast<int32_t>(rng() % 40);
      const int32_t h = static_cast<int32_t>(rng() % 9);
      const uint8_t from = kFormats[trial % 3];
      const uint8_t to = kFormats[(trial / 3) % 3];
      const uint8_t kind = kKinds[(trial / 9) % 3];
      const Bytes bytes = NoiseBytes(rng, size_t(PixelDataSize(from, w, h) + MaskDataSize(kind, w, h)));
      ASSERT_EQ(convert(set, from, to, w, h, kind, bytes), convert(kKernelsScalar, from, to, w, h, kind, bytes))
          << int(from) << "->" << int(to) << " " << w << "x" << h << " mask " << int(kind);
    }
  }
}

}  // namespace
}  // namespace tiko
