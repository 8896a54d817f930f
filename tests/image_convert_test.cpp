// Conversions between BGR24, YUV 4:2:2 and YUV 4:2:0: the stored bytes, the
// odd edges, the transparency plane, the two-step paths and every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "image/convert.h"
#include "image/layout.h"
#include "package/heap.h"
#include "platform/testing/hooks.h"
#include "support/counted_backend.h"
#include "support/heap_picture.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;

// The colour equations evaluated directly, the way the byte values are defined;
// the conversions must agree with them on every input.
double LumaOf(int b, int g, int r) { return 0.299 * r + 0.587 * g + 0.114 * b; }
double UOf(int b, int g, int r) { return 0.565 * (b - LumaOf(b, g, r)); }
double VOf(int b, int g, int r) { return 0.713 * (r - LumaOf(b, g, r)); }
int StoredLuma(double y) { return static_cast<int>(std::trunc(y + 0.5)); }
int StoredChroma(double c) { return std::min(255, static_cast<int>(std::trunc(c + 0.5)) + 128); }
int Decoded(double value) { return static_cast<int>(std::trunc(std::clamp(value, 0.0, 255.0) + 0.5)); }

using test::RandomBytes;
using Picture = test::HeapPicture;

Picture Bgr(int32_t width, int32_t height, const Bytes& pixels) {
  return Picture(kFormatBgr24, width, height, kMaskNone, pixels);
}

// Every test gives back everything it took.
using ImageConvertTest = test::CountedBackendTest;

TEST_F(ImageConvertTest, OwnFormatSucceedsWithoutAllocating) {
  for (uint8_t format : {kFormatBgr24, kFormatYuv422, kFormatYuv420, uint8_t{102}, uint8_t{0}}) {
    Picture p(kFormatBgr24, 3, 3);
    p.image.pixelFormat = format;  // even a code nobody knows
    const Bytes before = p.All();
    uint8_t* const data = p.image.data;
    const uint64_t allocations = counting::AllocationCount();
    EXPECT_EQ(ConvertImage(&p.image, format), 1) << int(format);
    EXPECT_EQ(counting::AllocationCount(), allocations);
    EXPECT_EQ(p.image.data, data);
    EXPECT_EQ(p.All(), before);
  }
}

struct ColourCase {
  uint8_t b, g, r;
  uint8_t y, u, v;
};

// Hand-worked values, among them both ends of the chroma range and the one
// colour (pure blue) whose U would be 256 and is stored as 255.
const ColourCase kColours[] = {
    {255, 0, 0, 29, 255, 108},   {0, 255, 0, 150, 44, 22},     {0, 0, 255, 76, 86, 255},
    {255, 255, 255, 255, 128, 128}, {0, 0, 0, 0, 128, 128},    {10, 200, 30, 128, 63, 59},
    {200, 10, 100, 59, 208, 158}, {1, 2, 3, 2, 128, 129},
};

TEST_F(ImageConvertTest, WorkedColoursIn422And420) {
  for (const ColourCase& c : kColours) {
    SCOPED_TRACE(::testing::Message() << "BGR " << int(c.b) << "," << int(c.g) << "," << int(c.r));
    // Two equal pixels: the 4:2:2 group is Y U Y V; the 4:2:0 chroma is their
    // mean, the colour itself.
    Picture p422 = Bgr(2, 1, {c.b, c.g, c.r, c.b, c.g, c.r});
    ASSERT_EQ(ConvertImage(&p422.image, kFormatYuv422), 1);
    EXPECT_EQ(p422.Pixels(), (Bytes{c.y, c.u, c.y, c.v}));
    Picture p420 = Bgr(2, 1, {c.b, c.g, c.r, c.b, c.g, c.r});
    ASSERT_EQ(ConvertImage(&p420.image, kFormatYuv420), 1);
    EXPECT_EQ(p420.Pixels(), (Bytes{c.y, c.y, c.u, c.v}));
  }
}

TEST_F(ImageConvertTest, GreyHasNoColourAndDecodesBack) {
  for (int grey : {0, 1, 2, 77, 127, 128, 200, 254, 255}) {
    const uint8_t g = static_cast<uint8_t>(grey);
    const Bytes pixels = {g, g, g, g, g, g, g, g, g, g, g, g};  // 2 x 2
    for (uint8_t format : {kFormatYuv422, kFormatYuv420}) {
      Picture p = Bgr(2, 2, pixels);
      ASSERT_EQ(ConvertImage(&p.image, format), 1);
      const Bytes expected = format == kFormatYuv422 ? Bytes{g, 128, g, 128, g, 128, g, 128}
                                                     : Bytes{g, g, g, g, 128, 128};
      EXPECT_EQ(p.Pixels(), expected) << grey;
      ASSERT_EQ(ConvertImage(&p.image, kFormatBgr24), 1);
      EXPECT_EQ(p.Pixels(), pixels) << grey;
    }
  }
}

struct DecodeCase {
  uint8_t y, u, v;
  uint8_t b, g, r;
};

// Clamping happens before rounding, and green's V term uses 0.714.
const DecodeCase kDecodes[] = {
    {255, 128, 255, 255, 164, 255},  // red clamps to 255; green 255 - 0.714 x 127
    {0, 0, 128, 0, 44, 0},           // blue clamps to 0; green 44.032
    {128, 128, 128, 128, 128, 128},
    {76, 85, 255, 0, 0, 254},        // blue -0.11 clamps, green 0.114 rounds to 0
    {29, 255, 107, 254, 0, 0},       // green 0.306, red -0.463
    {150, 44, 21, 1, 255, 0},        // green 255.294 clamps
};

TEST_F(ImageConvertTest, DecodingClampsThenRounds) {
  for (const DecodeCase& c : kDecodes) {
    SCOPED_TRACE(::testing::Message() << "YUV " << int(c.y) << "," << int(c.u) << "," << int(c.v));
    Picture p422(kFormatYuv422, 1, 1, kMaskNone, {c.y, c.u, 99, c.v});
    ASSERT_EQ(ConvertImage(&p422.image, kFormatBgr24), 1);
    EXPECT_EQ(p422.Pixels(), (Bytes{c.b, c.g, c.r}));
    Picture p420(kFormatYuv420, 1, 1, kMaskNone, {c.y, c.u, c.v});
    ASSERT_EQ(ConvertImage(&p420.image, kFormatBgr24), 1);
    EXPECT_EQ(p420.Pixels(), (Bytes{c.b, c.g, c.r}));
  }
}

// Random (Y, U, V) against the decoding equations evaluated here.
TEST_F(ImageConvertTest, DecodingMatchesTheEquations) {
  const int32_t width = 64, height = 64;
  Picture p(kFormatYuv420, width, height, kMaskNone, 7);
  const Bytes yuv = p.Pixels();
  ASSERT_EQ(Yuv420ToBgr(&p.image), 1);
  const Bytes bgr = p.Pixels();
  const size_t cw = width / 2;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const double luma = yuv[size_t(y) * width + x];
      const size_t c = size_t(y / 2) * cw + size_t(x / 2);
      const int du = yuv[size_t(width) * height + c] - 128;
      const int dv = yuv[size_t(width) * height + cw * (height / 2) + c] - 128;
      const uint8_t* px = &bgr[(size_t(y) * width + x) * 3];
      ASSERT_EQ(px[0], Decoded(luma + 1.77 * du)) << x << "," << y;
      ASSERT_EQ(px[1], Decoded(luma - 0.344 * du - 0.714 * dv)) << x << "," << y;
      ASSERT_EQ(px[2], Decoded(luma + 1.403 * dv)) << x << "," << y;
    }
  }
}

// Every colour: its stored Y, and the U and V of a 4:2:2 group that it opens.
TEST_F(ImageConvertTest, EveryColourGivesTheEquationsBytes) {
  const int32_t width = 512, height = 256;  // (2b, g) and (2b + 1, g) hold (b, g, r)
  Bytes pixels(size_t(width) * height * 3);
  uint64_t mismatches = 0;
  std::string first;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        uint8_t* px = &pixels[(size_t(g) * width + size_t(b) * 2) * 3];
        px[0] = px[3] = static_cast<uint8_t>(b);
        px[1] = px[4] = static_cast<uint8_t>(g);
        px[2] = px[5] = static_cast<uint8_t>(r);
      }
    }
    Picture p = Bgr(width, height, pixels);
    ASSERT_EQ(BgrToYuv422(&p.image), 1);
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        const uint8_t* group = p.image.data + (size_t(g) * width + size_t(b) * 2) * 2;
        const int y = StoredLuma(LumaOf(b, g, r));
        const int u = StoredChroma(UOf(b, g, r));
        const int v = StoredChroma(VOf(b, g, r));
        if (group[0] != y || group[2] != y || group[1] != u || group[3] != v) {
          if (mismatches++ == 0) {
            first = "BGR " + std::to_string(b) + "," + std::to_string(g) + "," + std::to_string(r);
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0u) << "first at " << first;
}

TEST_F(ImageConvertTest, OnePixelTo420KeepsItsColourUnaveraged) {
  Picture p = Bgr(1, 1, {200, 10, 100});
  ASSERT_EQ(ConvertImage(&p.image, kFormatYuv420), 1);
  EXPECT_EQ(p.image.pixelDataSize, 3);
  EXPECT_EQ(p.Pixels(), (Bytes{59, 208, 158}));
}

// The 4:2:0 chroma of random pictures against means taken here as defined:
// column pairs averaged in each row (a lone last column not halved), the two
// rows of a sample averaged (a lone last row not halved), rounded once.
TEST_F(ImageConvertTest, ChromaSamplesAverageTheirPixelsOnce) {
  struct Size {
    int32_t width, height;
  };
  for (Size s : {Size{3, 3}, Size{4, 3}, Size{3, 2}, Size{1, 5}, Size{5, 1}, Size{7, 6}, Size{8, 8}}) {
    SCOPED_TRACE(::testing::Message() << s.width << "x" << s.height);
    Picture p(kFormatBgr24, s.width, s.height, kMaskNone, uint32_t(s.width * 31 + s.height));
    const Bytes bgr = p.Pixels();
    ASSERT_EQ(ConvertImage(&p.image, kFormatYuv420), 1);
    const int32_t cw = (s.width + 1) / 2, ch = (s.height + 1) / 2;
    ASSERT_EQ(p.image.pixelDataSize, s.width * s.height + 2 * cw * ch);
    const Bytes out = p.Pixels();
    auto at = [&](int x, int y) { return &bgr[(size_t(y) * s.width + x) * 3]; };
    auto rowMean = [&](int k, int y, double (*f)(int, int, int)) {
      const uint8_t* a = at(2 * k, y);
      if (2 * k + 1 == s.width) return f(a[0], a[1], a[2]);
      const uint8_t* b = at(2 * k + 1, y);
      return (f(a[0], a[1], a[2]) + f(b[0], b[1], b[2])) * 0.5;
    };
    for (int m = 0; m < ch; ++m) {
      for (int k = 0; k < cw; ++k) {
        double u = rowMean(k, 2 * m, UOf), v = rowMean(k, 2 * m, VOf);
        if (2 * m + 1 < s.height) {
          u = (rowMean(k, 2 * m + 1, UOf) + u) * 0.5;
          v = (rowMean(k, 2 * m + 1, VOf) + v) * 0.5;
        }
        const size_t base = size_t(s.width) * s.height;
        EXPECT_EQ(out[base + size_t(m) * cw + k], StoredChroma(u)) << "U " << k << "," << m;
        EXPECT_EQ(out[base + size_t(cw) * ch + size_t(m) * cw + k], StoredChroma(v)) << "V " << k << "," << m;
      }
    }
    for (int y = 0; y < s.height; ++y) {
      for (int x = 0; x < s.width; ++x) {
        const uint8_t* px = at(x, y);
        EXPECT_EQ(out[size_t(y) * s.width + x], StoredLuma(LumaOf(px[0], px[1], px[2]))) << x << "," << y;
      }
    }
  }
}

// The two rows of a sample are averaged as doubles and rounded once: row 0's
// pair mean u = -0.663 alone would store 128, row 1's u = 1.502 alone 130, and
// averaging those bytes would give 129; the mean 0.419 stores 128.
TEST_F(ImageConvertTest, ChromaIsRoundedOnlyOnce) {
  Picture p = Bgr(2, 2, {0, 2, 0, 0, 2, 0, 3, 0, 0, 3, 0, 0});
  ASSERT_EQ(ConvertImage(&p.image, kFormatYuv420), 1);
  EXPECT_EQ(p.Pixels()[4], 128);
}

TEST_F(ImageConvertTest, OddWidth422LeavesTheSpareByteOutOfEveryPixel) {
  const Bytes pixels = RandomBytes(3 * 2 * 3, 5);
  Picture p = Bgr(3, 2, pixels);
  ASSERT_EQ(ConvertImage(&p.image, kFormatYuv422), 1);
  ASSERT_EQ(p.image.pixelDataSize, 16);  // two rows of two 4-byte groups
  for (int y = 0; y < 2; ++y) {
    const uint8_t* row = p.image.data + y * 8;
    for (int x = 0; x < 3; ++x) {
      const uint8_t* px = &pixels[size_t(y * 3 + x) * 3];
      EXPECT_EQ(row[2 * x], StoredLuma(LumaOf(px[0], px[1], px[2]))) << x << "," << y;
    }
    for (int k = 0; k < 2; ++k) {  // colour from column 2k alone
      const uint8_t* px = &pixels[size_t(y * 3 + 2 * k) * 3];
      EXPECT_EQ(row[4 * k + 1], StoredChroma(UOf(px[0], px[1], px[2])));
      EXPECT_EQ(row[4 * k + 3], StoredChroma(VOf(px[0], px[1], px[2])));
    }
  }
  // Whatever the seventh byte of a row holds, the way back ignores it.
  Picture other(kFormatYuv422, 3, 2, kMaskNone, p.Pixels());
  other.image.data[6] = 0x00;
  other.image.data[14] = 0xFF;
  p.image.data[6] = 0xFF;
  p.image.data[14] = 0x00;
  ASSERT_EQ(ConvertImage(&p.image, kFormatBgr24), 1);
  ASSERT_EQ(ConvertImage(&other.image, kFormatBgr24), 1);
  EXPECT_EQ(p.Pixels(), other.Pixels());
  EXPECT_EQ(p.image.pixelDataSize, 18);
}

// Each pixel takes the chroma of its own group or sample; nothing is blended
// between neighbours.
TEST_F(ImageConvertTest, DecodingTakesTheNearestChroma) {
  // 4:2:2, 3 x 1: groups (Y0 U0 Y1 V0) (Y2 U1 - V1).
  Picture p422(kFormatYuv422, 3, 1, kMaskNone, {128, 0, 128, 128, 128, 255, 7, 128});
  ASSERT_EQ(ConvertImage(&p422.image, kFormatBgr24), 1);
  // U 0: blue clamps to 0, green 128 + 44.032; U 255: blue 128 + 224.79 clamps.
  EXPECT_EQ(p422.Pixels(), (Bytes{0, 172, 128, 0, 172, 128, 255, 84, 128}));
  // 4:2:0, 3 x 3: sample (1, 1) serves pixel (2, 2) alone.
  Bytes yuv(9 + 4 + 4, 128);
  yuv[9 + 3] = 0;  // U of sample (1, 1)
  Picture p420(kFormatYuv420, 3, 3, kMaskNone, yuv);
  ASSERT_EQ(ConvertImage(&p420.image, kFormatBgr24), 1);
  const Bytes out = p420.Pixels();
  for (int i = 0; i < 9; ++i) {
    const Bytes expected = i == 8 ? Bytes{0, 172, 128} : Bytes{128, 128, 128};
    EXPECT_EQ(Bytes(out.begin() + i * 3, out.begin() + i * 3 + 3), expected) << "pixel " << i;
  }
}

struct Path {
  uint8_t from, to;
};
const Path kPaths[] = {
    {kFormatBgr24, kFormatYuv422},  {kFormatBgr24, kFormatYuv420},  {kFormatYuv422, kFormatBgr24},
    {kFormatYuv420, kFormatBgr24},  {kFormatYuv422, kFormatYuv420}, {kFormatYuv420, kFormatYuv422},
};

TEST_F(ImageConvertTest, EveryMaskSurvivesEveryConversion) {
  for (const Path& path : kPaths) {
    for (uint8_t kind : {kMaskNone, kMaskBit, kMaskByte}) {
      SCOPED_TRACE(::testing::Message() << int(path.from) << "->" << int(path.to) << " mask " << int(kind));
      Picture p(path.from, 5, 3, kind, 11);
      const Bytes mask = p.Mask();
      const int32_t maskSize = p.image.maskDataSize;
      ASSERT_EQ(ConvertImage(&p.image, path.to), 1);
      EXPECT_EQ(p.image.pixelFormat, path.to);
      EXPECT_EQ(p.image.maskDataSize, maskSize);
      EXPECT_EQ(p.image.pixelDataSize, PixelDataSize(path.to, 5, 3));
      EXPECT_EQ(p.image.totalSize, p.image.pixelDataSize + maskSize);
      EXPECT_EQ(p.Mask(), mask);
    }
  }
}

TEST_F(ImageConvertTest, EmptyPicturesConvertToEmptyPlanes) {
  struct Size {
    int32_t width, height;
  };
  for (const Path& path : kPaths) {
    for (Size s : {Size{0, 0}, Size{0, 5}, Size{5, 0}}) {
      SCOPED_TRACE(::testing::Message() << int(path.from) << "->" << int(path.to) << " " << s.width << "x"
                                        << s.height);
      Picture p(path.from, s.width, s.height, kMaskByte);
      ASSERT_EQ(ConvertImage(&p.image, path.to), 1);
      EXPECT_EQ(p.image.pixelFormat, path.to);
      EXPECT_EQ(p.image.pixelDataSize, 0);
      EXPECT_EQ(p.image.totalSize, 0);
      EXPECT_NE(p.image.data, nullptr);
    }
  }
}

TEST_F(ImageConvertTest, BetweenTheYuvLayoutsThroughBgr) {
  for (const Path& path : {Path{kFormatYuv422, kFormatYuv420}, Path{kFormatYuv420, kFormatYuv422}}) {
    Picture p(path.from, 5, 3, kMaskBit, 21);
    Picture twoSteps(path.from, 5, 3, kMaskBit, 21);
    ASSERT_EQ(ConvertImage(&p.image, path.to), 1);
    ASSERT_EQ(ConvertImage(&twoSteps.image, kFormatBgr24), 1);
    ASSERT_EQ(ConvertImage(&twoSteps.image, path.to), 1);
    EXPECT_EQ(p.image.pixelFormat, path.to);
    EXPECT_EQ(p.All(), twoSteps.All());
  }
}

TEST_F(ImageConvertTest, UnknownCodes) {
  // From YUV to an unknown code: the picture ends in BGR24 and the result is 0.
  for (uint8_t from : {kFormatYuv422, kFormatYuv420}) {
    Picture p(from, 3, 3, kMaskByte, 4);
    Picture bgr(from, 3, 3, kMaskByte, 4);
    ASSERT_EQ(ConvertImage(&bgr.image, kFormatBgr24), 1);
    EXPECT_EQ(ConvertImage(&p.image, 102), 0);
    EXPECT_EQ(p.image.pixelFormat, kFormatBgr24);
    EXPECT_EQ(p.All(), bgr.All());
  }
  // From BGR24 to an unknown code, and from an unknown code to anything:
  // nothing changes.
  for (Path path : {Path{kFormatBgr24, 102}, Path{102, kFormatBgr24}, Path{102, kFormatYuv420}}) {
    Picture p(kFormatBgr24, 3, 3, kMaskByte, 4);
    p.image.pixelFormat = path.from;
    const Bytes before = p.All();
    const uint64_t allocations = counting::AllocationCount();
    EXPECT_EQ(ConvertImage(&p.image, path.to), 0);
    EXPECT_EQ(p.image.pixelFormat, path.from);
    EXPECT_EQ(p.All(), before);
    EXPECT_EQ(counting::AllocationCount(), allocations);
  }
}

TEST_F(ImageConvertTest, DirectConversionsRefuseOtherSources) {
  int32_t (*const direct[])(Image*) = {BgrToYuv422, Yuv422ToBgr, BgrToYuv420, Yuv420ToBgr};
  const uint8_t sources[] = {kFormatBgr24, kFormatYuv422, kFormatBgr24, kFormatYuv420};
  for (size_t i = 0; i < 4; ++i) {
    const uint8_t wrong = sources[i] == kFormatBgr24 ? kFormatYuv420 : kFormatBgr24;
    Picture p(wrong, 4, 2, kMaskBit);
    const Bytes before = p.All();
    EXPECT_EQ(direct[i](&p.image), 0) << i;
    EXPECT_EQ(p.image.pixelFormat, wrong);
    EXPECT_EQ(p.All(), before);
  }
  // Sizes that disagree with the layout would walk past the block.
  Picture p(kFormatBgr24, 4, 2, kMaskNone);
  p.image.width = 5;
  EXPECT_EQ(BgrToYuv420(&p.image), 0);
  EXPECT_EQ(p.image.pixelFormat, kFormatBgr24);
}

uint64_t AllocationsOf(uint8_t from, uint8_t to) {
  Picture p(from, 5, 3, kMaskByte, 9);
  counting::ResetHeap();
  EXPECT_EQ(ConvertImage(&p.image, to), 1);
  return counting::AllocationCount();
}

// Fails each allocation of a conversion in turn: a failing first step leaves
// the picture as it was; a failing second step leaves it valid in BGR24.
TEST_F(ImageConvertTest, AllocationFailureAtEachStep) {
  for (const Path& path : kPaths) {
    SCOPED_TRACE(::testing::Message() << int(path.from) << "->" << int(path.to));
    const uint64_t allocations = AllocationsOf(path.from, path.to);
    const bool twoSteps = path.from != kFormatBgr24 && path.to != kFormatBgr24;
    const uint64_t firstStep = twoSteps ? AllocationsOf(path.from, kFormatBgr24) : allocations;
    Picture bgr(path.from, 5, 3, kMaskByte, 9);
    ASSERT_EQ(ConvertImage(&bgr.image, kFormatBgr24), 1);

    for (uint64_t n = 1; n <= allocations; ++n) {
      Picture p(path.from, 5, 3, kMaskByte, 9);
      const Bytes original = p.All();
      const int64_t live = counting::LiveBlocks();
      counting::ResetHeap();
      counting::FailAllocation(n);
      EXPECT_EQ(ConvertImage(&p.image, path.to), 0) << "allocation " << n;
      counting::FailAllocation(0);
      EXPECT_EQ(counting::LiveBlocks(), live) << "allocation " << n;
      if (n <= firstStep) {
        EXPECT_EQ(p.image.pixelFormat, path.from);
        EXPECT_EQ(p.All(), original);
      } else {
        EXPECT_EQ(p.image.pixelFormat, kFormatBgr24);
        EXPECT_EQ(p.All(), bgr.All());
      }
    }
  }
}

}  // namespace
}  // namespace tiko
