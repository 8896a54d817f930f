// Integer bilinear rescaling: the neighbour rule, the nearest-sample chroma and
// transparency, the reload from the stored picture, and every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/layout.h"
#include "image/scale.h"
#include "package/fetch.h"
#include "package/heap.h"
#include "platform/testing/hooks.h"
#include "support/counted_backend.h"
#include "support/heap_picture.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

using test::RandomBytes;
using Picture = test::HeapPicture;

Bytes PixelsOf(const Image& image) { return Bytes(image.data, image.data + image.pixelDataSize); }
Bytes MaskOf(const Image& image) {
  return Bytes(image.data + image.pixelDataSize, image.data + image.pixelDataSize + image.maskDataSize);
}
Bytes AllOf(const Image& image) { return Bytes(image.data, image.data + image.totalSize); }

// A copy made by ResizeImage belongs to the test.
struct Copy {
  Image* image;
  ~Copy() {
    if (image != nullptr) {
      MemFree(image->data);
      MemFree(image);
    }
  }
};

// The interpolation evaluated directly for destination sample (j, i), with the
// "remainder exactly 1" rule and the last sample standing in past the edge.
int Bilinear(const std::function<int(int, int)>& at, int sw, int sh, int dw, int dh, int j, int i) {
  const int64_t px = int64_t{j} * sw, py = int64_t{i} * sh;
  const int x0 = int(px / dw), y0 = int(py / dh);
  const int64_t fx = px % dw, fy = py % dh;
  const int x1 = fx == 1 ? x0 : std::min(x0 + 1, sw - 1);
  const int y1 = fy == 1 ? y0 : std::min(y0 + 1, sh - 1);
  const int64_t g = int64_t{dw} * dh;
  return int((g / 2 + at(x0, y0) * (dw - fx) * (dh - fy) + at(x1, y0) * fx * (dh - fy) +
              at(x0, y1) * (dw - fx) * fy + at(x1, y1) * fx * fy) /
             g);
}
int Nearest(int j, int sw, int dw) { return int(int64_t{j} * sw / dw); }

// The whole expected result of rescaling `source` to dw x dh.
Bytes Expected(const Image& source, int dw, int dh) {
  const int sw = source.width, sh = source.height;
  const uint8_t* s = source.data;
  Bytes out(size_t(PixelDataSize(source.pixelFormat, dw, dh) + MaskDataSize(source.maskKind, dw, dh)), 0);
  const size_t pixels = size_t(PixelDataSize(source.pixelFormat, dw, dh));
  for (int i = 0; i < dh; ++i) {
    for (int j = 0; j < dw; ++j) {
      const int x0 = Nearest(j, sw, dw), y0 = Nearest(i, sh, dh);
      switch (source.pixelFormat) {
        case kFormatBgr24:
          for (int c = 0; c < 3; ++c) {
            out[(size_t(i) * dw + j) * 3 + c] = uint8_t(
                Bilinear([&](int x, int y) { return s[(size_t(y) * sw + x) * 3 + c]; }, sw, sh, dw, dh, j, i));
          }
          break;
        case kFormatYuv422: {
          const size_t sRow = size_t((sw + 1) / 2) * 4, dRow = size_t((dw + 1) / 2) * 4;
          out[i * dRow + 2 * j] =
              uint8_t(Bilinear([&](int x, int y) { return s[y * sRow + 2 * x]; }, sw, sh, dw, dh, j, i));
          if (j % 2 == 0) {
            out[i * dRow + 2 * j + 1] = s[y0 * sRow + (x0 / 2) * 4 + 1];
            out[i * dRow + 2 * j + 3] = s[y0 * sRow + (x0 / 2) * 4 + 3];
          }
          if (j == dw - 1 && dw % 2 == 1) out[i * dRow + 2 * j + 2] = out[i * dRow + 2 * j];
          break;
        }
        default: {
          const size_t scw = (sw + 1) / 2, sch = (sh + 1) / 2, dcw = (dw + 1) / 2, dch = (dh + 1) / 2;
          out[size_t(i) * dw + j] =
              uint8_t(Bilinear([&](int x, int y) { return s[size_t(y) * sw + x]; }, sw, sh, dw, dh, j, i));
          if (i % 2 == 0 && j % 2 == 0) {
            const size_t from = (y0 / 2) * scw + x0 / 2, to = (i / 2) * dcw + j / 2;
            out[size_t(dw) * dh + to] = s[size_t(sw) * sh + from];
            out[size_t(dw) * dh + dcw * dch + to] = s[size_t(sw) * sh + scw * sch + from];
          }
        }
      }
      const int64_t from = int64_t{y0} * sw + x0, to = int64_t{i} * dw + j;
      const uint8_t* mask = s + source.pixelDataSize;
      if (source.maskKind == kMaskByte) out[pixels + to] = mask[from];
      if (source.maskKind == kMaskBit && ((mask[from / 8] >> (from % 8)) & 1)) {
        out[pixels + to / 8] = uint8_t(out[pixels + to / 8] | (1 << (to % 8)));
      }
    }
  }
  return out;
}

class ImageScaleTest : public test::CountedBackendTest {
 protected:
  void TearDown() override {
    if (package_ != nullptr) FreePackage(package_);
    CountedBackendTest::TearDown();
  }

  // A package holding `picture`, loaded from a file; its picture 0 fetched.
  Image* LoadPicture(const authoring::PictureDesc& picture, uint8_t format = kFormatBgr24) {
    authoring::PackageDesc desc;
    desc.pictures = {picture};
    const std::string path = dir_.Write("scale.tiko", authoring::WritePackage(desc));
    EXPECT_EQ(test::Load(path, &package_), STATUS_SUCCESS);
    if (package_ == nullptr) return nullptr;
    counting::ResetFiles();  // count the picture's reads only
    return FetchPicture(package_, 0, format);
  }

  test::TempDir dir_;
  Package* package_ = nullptr;
};

TEST_F(ImageScaleTest, CurrentSizeReturnsNoneAndChangesNothing) {
  Picture p(kFormatBgr24, 4, 3, kMaskBit);
  const Bytes before = AllOf(p.image);
  const uint64_t allocations = counting::AllocationCount();
  EXPECT_EQ(ResizeImage(nullptr, &p.image, 4, 3, 0), nullptr);
  EXPECT_EQ(ResizeImage(nullptr, &p.image, 4, 3, 1), nullptr);
  EXPECT_EQ(counting::AllocationCount(), allocations);
  EXPECT_EQ(AllOf(p.image), before);
}

TEST_F(ImageScaleTest, HalvingTakesEveryOtherPixelExactly) {
  Picture p(kFormatBgr24, 4, 4);
  const Bytes s = PixelsOf(p.image);
  ASSERT_EQ(ResizeImage(nullptr, &p.image, 2, 2, 0), &p.image);
  Bytes expected;
  for (int y : {0, 2}) {
    for (int x : {0, 2}) expected.insert(expected.end(), &s[(y * 4 + x) * 3], &s[(y * 4 + x) * 3 + 3]);
  }
  EXPECT_EQ(PixelsOf(p.image), expected);
  EXPECT_EQ(p.image.width, 2);
  EXPECT_EQ(p.image.height, 2);
  EXPECT_EQ(p.image.pixelDataSize, 12);
  EXPECT_EQ(p.image.totalSize, 12);
}

// 3 -> 2: column 1 has x0 = 1 and remainder 1, so it keeps pixel 1 unblended.
TEST_F(ImageScaleTest, RemainderOneKeepsTheNeighbourOnTheSamePixel) {
  Picture p(kFormatBgr24, 3, 1);
  const Bytes s = PixelsOf(p.image);
  ASSERT_NE(ResizeImage(nullptr, &p.image, 2, 1, 0), nullptr);
  EXPECT_EQ(PixelsOf(p.image), Bytes(s.begin(), s.begin() + 6));
}

TEST_F(ImageScaleTest, EnlargingBlendsByTheRemainder) {
  Picture p(kFormatBgr24, 3, 1, kMaskNone, 3);
  const Bytes s = PixelsOf(p.image);
  ASSERT_NE(ResizeImage(nullptr, &p.image, 4, 1, 0), nullptr);
  const Bytes d = PixelsOf(p.image);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(d[0 + c], s[0 + c]);                                // x0 0, remainder 0
    EXPECT_EQ(d[3 + c], (2 + s[0 + c] + 3 * s[3 + c]) / 4) << c;  // x0 0, remainder 3
    EXPECT_EQ(d[6 + c], (2 + 2 * s[3 + c] + 2 * s[6 + c]) / 4);   // x0 1, remainder 2
    EXPECT_EQ(d[9 + c], s[6 + c]);                                // x0 2, remainder 1
  }
}

TEST_F(ImageScaleTest, BitMaskKeepsTheNearestBits) {
  for (uint8_t bits : {uint8_t{0x55}, uint8_t{0xAA}, uint8_t{0xFF}, uint8_t{0x96}}) {
    Bytes bytes = RandomBytes(8 * 3, bits);
    bytes.push_back(bits);
    Picture p(kFormatBgr24, 8, 1, kMaskBit, bytes);
    ASSERT_NE(ResizeImage(nullptr, &p.image, 4, 1, 0), nullptr);
    ASSERT_EQ(p.image.maskDataSize, 1);
    const int expected = (bits & 1) | ((bits >> 1) & 2) | ((bits >> 2) & 4) | ((bits >> 3) & 8);
    EXPECT_EQ(MaskOf(p.image), Bytes{uint8_t(expected)}) << int(bits);
  }
}

// Bits written as a string, bit 0 first (bit k is bit k % 8 of byte k / 8).
Bytes BitsOf(const std::string& bits) {
  Bytes bytes((bits.size() + 7) / 8);
  for (size_t k = 0; k < bits.size(); ++k) {
    if (bits[k] == '1') bytes[k / 8] = static_cast<uint8_t>(bytes[k / 8] | (1u << (k % 8)));
  }
  return bytes;
}

// One row of a 1-bit plane straight through the reference kernel, starting
// anywhere in a byte, onto a row whose bits may already be set (they stay).
TEST(ScaleBitRowRef, SetsTheBitsOfTheNearestLowerColumns) {
  struct Case {
    const char* source;
    uint64_t sourceFirstBit;
    int32_t sourceWidth;
    const char* before;
    uint64_t firstBit;
    int32_t width;
    const char* after;
  };
  const Case cases[] = {
      {"1011", 0, 4, "00000000", 0, 8, "11001111"},                    // doubled: column j / 2
      {"10110101", 0, 8, "00000000", 0, 3, "11100000"},                // 8 to 3: columns 0, 2 and 5
      {"0001011", 3, 4, "0000000000000000", 5, 8, "0000011001111000"},  // mid-byte on both sides
      {"1011", 0, 4, "0101010101010101", 4, 4, "0101111101010101"},    // set bits stay set
      {"11111111", 0, 8, "00000000", 0, 1, "10000000"},                // 8 to 1
      {"0", 0, 1, "11111111", 7, 1, "11111111"},                       // a clear bit clears nothing
  };
  for (const Case& c : cases) {
    const Bytes source = BitsOf(c.source);
    Bytes row = BitsOf(c.before);
    ScaleBitRowRef(source.data(), c.sourceFirstBit, c.sourceWidth, row.data(), c.firstBit, c.width);
    EXPECT_EQ(row, BitsOf(c.after)) << c.source << " at " << c.sourceFirstBit << " to " << c.width << " at "
                                    << c.firstBit;
  }
}

TEST_F(ImageScaleTest, ByteMaskIsCopiedNeverBlended) {
  Bytes bytes = RandomBytes(4 * 3, 2);
  const Bytes weights = {0, 255, 10, 200};
  bytes.insert(bytes.end(), weights.begin(), weights.end());
  Picture p(kFormatBgr24, 4, 1, kMaskByte, bytes);
  ASSERT_NE(ResizeImage(nullptr, &p.image, 7, 1, 0), nullptr);
  // Destination column j takes source column 4j / 7.
  EXPECT_EQ(MaskOf(p.image), (Bytes{0, 0, 255, 255, 10, 10, 200}));
}

// Every layout and mask kind, shrinking, enlarging and mixed, odd sizes
// included, against the interpolation evaluated here.
TEST_F(ImageScaleTest, EveryLayoutMatchesTheDirectEvaluation) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case cases[] = {{4, 4, 2, 2}, {3, 1, 4, 1}, {5, 3, 9, 7}, {9, 7, 5, 3}, {7, 5, 7, 9}, {6, 6, 11, 3},
                        {1, 1, 5, 4}, {13, 11, 1, 1}, {2, 9, 9, 2}, {17, 5, 16, 5}};
  for (uint8_t format : {kFormatBgr24, kFormatYuv422, kFormatYuv420}) {
    for (uint8_t kind : {kMaskNone, kMaskBit, kMaskByte}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(format) << " mask " << int(kind) << " " << c.sw << "x" << c.sh
                                          << " -> " << c.dw << "x" << c.dh);
        Picture p(format, c.sw, c.sh, kind, uint32_t(c.sw * 100 + c.dw));
        const Bytes expected = Expected(p.image, c.dw, c.dh);
        ASSERT_EQ(ResizeImage(nullptr, &p.image, c.dw, c.dh, 0), &p.image);
        EXPECT_EQ(p.image.pixelFormat, format);
        EXPECT_EQ(p.image.maskKind, kind);
        EXPECT_EQ(p.image.pixelDataSize, PixelDataSize(format, c.dw, c.dh));
        EXPECT_EQ(p.image.maskDataSize, MaskDataSize(kind, c.dw, c.dh));
        EXPECT_EQ(p.image.totalSize, p.image.pixelDataSize + p.image.maskDataSize);
        EXPECT_EQ(AllOf(p.image), expected);
      }
    }
  }
}

// The last, partial chroma column and row of an odd 4:2:0 size are written
// from the nearest source sample.
TEST_F(ImageScaleTest, Odd420SizesGetTheirLastChroma) {
  Bytes bytes(16, 100);  // 4 x 4: Y plane, then 2 x 2 U and 2 x 2 V
  for (uint8_t u = 0; u < 4; ++u) bytes.push_back(uint8_t(10 + u));
  for (uint8_t v = 0; v < 4; ++v) bytes.push_back(uint8_t(20 + v));
  Picture p(kFormatYuv420, 4, 4, kMaskNone, bytes);
  ASSERT_NE(ResizeImage(nullptr, &p.image, 5, 5, 0), nullptr);
  ASSERT_EQ(p.image.pixelDataSize, 25 + 2 * 9);
  const Bytes d = PixelsOf(p.image);
  // Destination chroma column or row k covers pixel 2k, which maps to source
  // pixel 4 x 2k / 5 and its sample (0, 0, 1 for k = 0, 1, 2).
  const int nearest[3] = {0, 0, 1};
  for (int m = 0; m < 3; ++m) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(d[25 + m * 3 + k], 10 + nearest[m] * 2 + nearest[k]) << k << "," << m;
      EXPECT_EQ(d[25 + 9 + m * 3 + k], 20 + nearest[m] * 2 + nearest[k]) << k << "," << m;
    }
  }
}

TEST_F(ImageScaleTest, CopyModeLeavesTheSourceAlone) {
  Picture p(kFormatYuv422, 5, 3, kMaskByte);
  const Image fields = p.image;
  const Bytes before = AllOf(p.image);
  const Bytes expected = Expected(p.image, 8, 6);
  Copy copy{ResizeImage(nullptr, &p.image, 8, 6, 1)};
  ASSERT_NE(copy.image, nullptr);
  ASSERT_NE(copy.image, &p.image);
  EXPECT_NE(copy.image->data, p.image.data);
  EXPECT_EQ(AllOf(*copy.image), expected);
  EXPECT_EQ(copy.image->useCount, 0);
  EXPECT_EQ(copy.image->pictureIndex, 0u);
  EXPECT_EQ(copy.image->storedEntry.width, 0);
  EXPECT_EQ(copy.image->storedEntry.totalSize, 0u);
  EXPECT_EQ(p.image.data, fields.data);
  EXPECT_EQ(p.image.width, 5);
  EXPECT_EQ(p.image.totalSize, fields.totalSize);
  EXPECT_EQ(AllOf(p.image), before);
}

TEST_F(ImageScaleTest, EmptySizesAndSourcesWithoutPixels) {
  // Width or height 0: an empty picture with data sizes 0.
  for (auto [w, h] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{0, 0}}) {
    Picture p(kFormatYuv420, 4, 4, kMaskByte);
    ASSERT_EQ(ResizeImage(nullptr, &p.image, w, h, 0), &p.image);
    EXPECT_EQ(p.image.width, w);
    EXPECT_EQ(p.image.height, h);
    EXPECT_EQ(p.image.pixelDataSize, 0);
    EXPECT_EQ(p.image.maskDataSize, 0);
    EXPECT_EQ(p.image.totalSize, 0);
    EXPECT_NE(p.image.data, nullptr);
  }
  // A negative size, or a source without pixels asked for pixels: none,
  // nothing changed, nothing allocated.
  struct Case {
    int sw, sh, dw, dh;
  };
  for (const Case& c : {Case{4, 4, -1, 4}, Case{4, 4, 4, -1}, Case{4, 4, -2, -2}, Case{4, 4, 0, -1},
                        Case{0, 4, 3, 3}, Case{4, 0, 3, 3}, Case{0, 0, 1, 1}}) {
    for (uint8_t format : {kFormatBgr24, kFormatYuv422, kFormatYuv420}) {
      Picture p(format, c.sw, c.sh, kMaskBit);
      const Bytes before = AllOf(p.image);
      const uint64_t allocations = counting::AllocationCount();
      EXPECT_EQ(ResizeImage(nullptr, &p.image, c.dw, c.dh, 0), nullptr) << c.dw << "x" << c.dh;
      EXPECT_EQ(ResizeImage(nullptr, &p.image, c.dw, c.dh, 1), nullptr) << c.dw << "x" << c.dh;
      EXPECT_EQ(counting::AllocationCount(), allocations);
      EXPECT_EQ(p.image.width, c.sw);
      EXPECT_EQ(AllOf(p.image), before);
    }
  }
  // An empty source can still become another empty picture.
  Picture p(kFormatBgr24, 0, 4);
  EXPECT_EQ(ResizeImage(nullptr, &p.image, 5, 0, 0), &p.image);
}

TEST_F(ImageScaleTest, SizesBeyondAnImageAreRefused) {
  Picture p(kFormatBgr24, 4, 4);
  const uint64_t allocations = counting::AllocationCount();
  EXPECT_EQ(ResizeImage(nullptr, &p.image, 65536, 65536, 0), nullptr);
  EXPECT_EQ(ResizeImage(nullptr, &p.image, INT32_MAX, 2, 0), nullptr);
  EXPECT_EQ(ResizeImage(nullptr, &p.image, 30000, 30000, 0), nullptr);  // 2.7 GB of BGR24
  EXPECT_EQ(counting::AllocationCount(), allocations);
  EXPECT_EQ(p.image.width, 4);
}

// The stored picture is 100 x 80: a picture smaller than that in either
// dimension is rescaled from a fresh copy of it, any other from its own data.
TEST_F(ImageScaleTest, SmallerPicturesReloadTheStoredOne) {
  const authoring::PictureDesc stored = test::RawBgrPicture(100, 80, kMaskBit, 5);
  Image* picture = LoadPicture(stored);
  ASSERT_NE(picture, nullptr);
  Picture original(kFormatBgr24, 100, 80, kMaskBit, stored.stored);
  ASSERT_EQ(counting::ReadCount(), 1u);

  // 50 x 40, then 60 x 48: reloaded and rescaled from 100 x 80.
  ASSERT_EQ(ResizeImage(package_, picture, 50, 40, 0), picture);
  EXPECT_EQ(counting::ReadCount(), 1u);
  ASSERT_EQ(ResizeImage(package_, picture, 60, 48, 0), picture);
  EXPECT_EQ(counting::ReadCount(), 2u);
  EXPECT_EQ(picture->useCount, 2);
  EXPECT_EQ(AllOf(*picture), Expected(original.image, 60, 48));

  // 200 x 160, then 150 x 120: rescaled from the 200 x 160 data, no reload.
  ASSERT_EQ(ResizeImage(package_, picture, 200, 160, 0), picture);
  EXPECT_EQ(counting::ReadCount(), 3u);
  const Bytes big = AllOf(*picture);
  Picture enlarged(kFormatBgr24, 200, 160, kMaskBit, big);
  ASSERT_EQ(ResizeImage(package_, picture, 150, 120, 0), picture);
  EXPECT_EQ(counting::ReadCount(), 3u);
  EXPECT_EQ(AllOf(*picture), Expected(enlarged.image, 150, 120));

  // 120 x 60 is smaller in height: reloaded.
  ASSERT_EQ(ResizeImage(package_, picture, 120, 60, 0), picture);
  const uint64_t reads = counting::ReadCount();
  ASSERT_EQ(ResizeImage(package_, picture, 130, 70, 0), picture);
  EXPECT_EQ(counting::ReadCount(), reads + 1);
  EXPECT_EQ(AllOf(*picture), Expected(original.image, 130, 70));
  // The stored entry never changes.
  EXPECT_EQ(picture->storedEntry.width, 100);
  EXPECT_EQ(picture->storedEntry.height, 80);
}

TEST_F(ImageScaleTest, ZeroWidthThenAPositiveSizeReloads) {
  const authoring::PictureDesc stored = test::RawBgrPicture(10, 8, kMaskByte, 6);
  Image* picture = LoadPicture(stored);
  ASSERT_NE(picture, nullptr);
  Picture original(kFormatBgr24, 10, 8, kMaskByte, stored.stored);
  ASSERT_EQ(ResizeImage(package_, picture, 0, 8, 0), picture);
  EXPECT_EQ(picture->totalSize, 0);
  EXPECT_EQ(counting::ReadCount(), 1u);
  ASSERT_EQ(ResizeImage(package_, picture, 5, 4, 0), picture);
  EXPECT_EQ(counting::ReadCount(), 2u);
  EXPECT_EQ(AllOf(*picture), Expected(original.image, 5, 4));
}

// The reload keeps the picture's current layout: it is fetched again in it.
TEST_F(ImageScaleTest, ReloadConvertsToTheCurrentLayout) {
  const authoring::PictureDesc stored = test::RawBgrPicture(12, 10, kMaskNone, 7);
  Image* picture = LoadPicture(stored, kFormatYuv420);
  ASSERT_NE(picture, nullptr);
  const Bytes full = AllOf(*picture);
  ASSERT_EQ(ResizeImage(package_, picture, 6, 5, 0), picture);
  ASSERT_EQ(ResizeImage(package_, picture, 7, 5, 0), picture);
  EXPECT_EQ(picture->pixelFormat, kFormatYuv420);
  Picture reference(kFormatYuv420, 12, 10, kMaskNone, full);
  EXPECT_EQ(AllOf(*picture), Expected(reference.image, 7, 5));
}

TEST_F(ImageScaleTest, FailedReloadLeavesThePictureNotLoaded) {
  Image* picture = LoadPicture(test::RawBgrPicture(10, 8, kMaskNone, 8));
  ASSERT_NE(picture, nullptr);
  ASSERT_EQ(ResizeImage(package_, picture, 5, 4, 0), picture);
  counting::FailRead(counting::ReadCount() + 1, counting::ReadFault::kFail);
  EXPECT_EQ(ResizeImage(package_, picture, 6, 4, 0), nullptr);
  EXPECT_EQ(picture->data, nullptr);
  // A later fetch loads it again at the stored size.
  ASSERT_EQ(FetchPicture(package_, 0, kFormatBgr24), picture);
  EXPECT_EQ(picture->width, 10);
  EXPECT_EQ(picture->height, 8);
}

// Fails each allocation of a resize with a reload in turn, in each mode. A
// failed read leaves the picture not loaded; a failed conversion of the reload
// leaves it loaded at its stored size in the stored layout; a failed record or
// block leaves it at its stored size in its own layout. Nothing leaks.
TEST_F(ImageScaleTest, AllocationFailureAtEachStep) {
  const authoring::PictureDesc stored = test::RawBgrPicture(10, 8, kMaskBit, 9);
  Image* picture = LoadPicture(stored, kFormatYuv422);
  ASSERT_NE(picture, nullptr);
  const Bytes full = AllOf(*picture);
  const int64_t live = counting::LiveBlocks();
  enum { kRead = 1, kConvert, kRecord, kBlock, kAllocations = kBlock };
  for (int32_t makeCopy : {0, 1}) {
    for (uint64_t n = 1; n <= kAllocations + 1; ++n) {
      SCOPED_TRACE(::testing::Message() << "copy " << makeCopy << " allocation " << n);
      ASSERT_EQ(ResizeImage(package_, picture, 5, 4, 0), picture);
      counting::ResetHeap();
      counting::FailAllocation(n);
      Image* result = ResizeImage(package_, picture, 6, 4, makeCopy);
      counting::FailAllocation(0);
      if (n > kAllocations) {  // all of them succeeded
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(counting::AllocationCount(), uint64_t{kAllocations});
        if (makeCopy != 0) {
          MemFree(result->data);
          MemFree(result);
        }
        // In copy mode the reload has already brought the picture back to
        // its stored size.
        if (makeCopy == 0) {
          ASSERT_EQ(ResizeImage(package_, picture, 10, 8, 0), picture);
        }
        EXPECT_EQ(AllOf(*picture), full);
        continue;
      }
      EXPECT_EQ(result, nullptr);
      switch (n) {
        case kRead:
          EXPECT_EQ(picture->data, nullptr);
          EXPECT_EQ(counting::LiveBlocks(), live - 1);
          break;
        case kConvert:
          EXPECT_EQ(picture->pixelFormat, kFormatBgr24);
          EXPECT_EQ(AllOf(*picture), stored.stored);
          EXPECT_EQ(counting::LiveBlocks(), live);
          break;
        default:
          EXPECT_EQ(picture->pixelFormat, kFormatYuv422);
          EXPECT_EQ(AllOf(*picture), full);
          EXPECT_EQ(counting::LiveBlocks(), live);
      }
      // Whatever state it was left in, the next fetch makes it whole again.
      ASSERT_EQ(FetchPicture(package_, 0, kFormatYuv422), picture);
      EXPECT_EQ(picture->width, 10);
      EXPECT_EQ(picture->height, 8);
      EXPECT_EQ(AllOf(*picture), full);
    }
  }
}

}  // namespace
}  // namespace tiko
