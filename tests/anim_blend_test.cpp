#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "anim/blend.h"

namespace tiko {
namespace {

// A picture in a plain vector; the Image record points into it.
struct Picture {
  Picture(int32_t w, int32_t h, uint8_t kind) {
    const int32_t pixels = w * h;
    image.width = w;
    image.height = h;
    image.pixelFormat = kFormatBgr24;
    image.maskKind = kind;
    image.pixelDataSize = pixels * 3;
    image.maskDataSize = (kind * pixels + 7) / 8;
    image.totalSize = image.pixelDataSize + image.maskDataSize;
    bytes.assign(static_cast<size_t>(image.totalSize), 0);
    image.data = bytes.data();
  }
  uint8_t* Pixel(int32_t x, int32_t y) { return bytes.data() + 3 * (y * image.width + x); }
  uint8_t* Plane() { return bytes.data() + image.pixelDataSize; }
  void SetBit(int32_t i) { Plane()[i / 8] |= static_cast<uint8_t>(1u << (i % 8)); }
  std::vector<uint8_t> bytes;
  Image image{};
};

// A frame with canary bytes on both sides.
struct Frame {
  static constexpr size_t kCanary = 64;
  Frame(int32_t w, int32_t h, uint8_t fill) : width(w), height(h), bytes(size_t(w) * h * 3 + 2 * kCanary, fill) {
    std::memset(bytes.data(), 0xA5, kCanary);
    std::memset(bytes.data() + bytes.size() - kCanary, 0x5A, kCanary);
  }
  uint8_t* data() { return bytes.data() + kCanary; }
  uint8_t* Pixel(int32_t x, int32_t y) { return data() + 3 * (y * width + x); }
  bool CanariesIntact() const {
    for (size_t i = 0; i < kCanary; ++i) {
      if (bytes[i] != 0xA5 || bytes[bytes.size() - 1 - i] != 0x5A) return false;
    }
    return true;
  }
  void Blend(const Image& picture, int32_t px, int32_t py, int32_t opacity, uint8_t format = kFormatBgr24) {
    BlendPicture(&picture, format, width, height, data(), px, py, opacity);
  }
  int32_t width, height;
  std::vector<uint8_t> bytes;
};

TEST(Blend, OpacityWeights) {
  const std::pair<int32_t, int32_t> cases[] = {{1, 1}, {50, 64}, {99, 126}, {100, 128}, {120, 153}, {127, 162}};
  for (const auto& [opacity, weight] : cases) EXPECT_EQ(OpacityWeight(opacity), weight) << opacity;
}

TEST(Blend, WorkedValues) {
  // One pixel, one-bit plane set: frame byte under picture byte at an opacity.
  const struct {
    int32_t opacity;
    uint8_t frame, picture, expected;
  } cases[] = {
      {50, 100, 200, 150}, {50, 201, 100, 151}, {100, 7, 250, 250}, {1, 100, 227, 100},
      {1, 100, 228, 101},  {1, 228, 100, 227},  {1, 227, 100, 227}, {120, 0, 99, 99},
  };
  for (const auto& c : cases) {
    Picture p(1, 1, kMaskBit);
    std::memset(p.Pixel(0, 0), c.picture, 3);
    p.SetBit(0);
    Frame f(1, 1, c.frame);
    f.Blend(p.image, 0, 0, c.opacity);
    EXPECT_EQ(f.Pixel(0, 0)[0], c.expected) << c.opacity << " " << int(c.frame) << " " << int(c.picture);
    EXPECT_EQ(f.Pixel(0, 0)[2], c.expected);
  }
}

TEST(Blend, AlphaPlaneScaledByOpacity) {
  const struct {
    int32_t opacity;
    uint8_t alpha;
    uint8_t expected;  // frame 0 under picture 128
  } cases[] = {
      {100, 64, 64},  {100, 128, 128}, {100, 255, 128}, {100, 0, 0},   {50, 200, 100},
      {120, 108, 128}, {120, 107, 127}, {0, 255, 0},     {-5, 255, 0},
  };
  for (const auto& c : cases) {
    Picture p(1, 1, kMaskByte);
    std::memset(p.Pixel(0, 0), 128, 3);
    p.Plane()[0] = c.alpha;
    Frame f(1, 1, 0);
    f.Blend(p.image, 0, 0, c.opacity);
    EXPECT_EQ(f.Pixel(0, 0)[1], c.expected) << c.opacity << " " << int(c.alpha);
  }
}

TEST(Blend, BitPlaneOrder) {
  // Bit 9 is bit 1 of byte 1: pixel (9, 0) of a 16 x 2 picture.
  Picture p(16, 2, kMaskBit);
  for (int32_t i = 0; i < 32; ++i) std::memset(p.bytes.data() + 3 * i, 200, 3);
  p.Plane()[1] = 0x02;
  Frame f(16, 2, 0);
  f.Blend(p.image, 0, 0, 100);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(f.Pixel(x, y)[0], (x == 9 && y == 0) ? 200 : 0) << x << "," << y;
  }
}

// Every pixel of the picture carries its own coordinates, so where it lands
// shows which picture pixel was drawn.
TEST(Blend, ClippingOnEverySide) {
  constexpr int32_t kW = 20, kH = 10, kFrameW = 32, kFrameH = 24;
  const struct {
    int32_t px, py;
  } cases[] = {{-10, -5}, {0, 0}, {25, 20}, {-19, -9}, {31, 23}, {-20, 0}, {0, -10}, {32, 0},
               {0, 24},   {5, 3}, {-3, 18}, {9999, 0}, {10000, 0}, {0, 7500}, {-100000, -100000}};
  for (const uint8_t kind : {kMaskNone, kMaskBit, kMaskByte}) {
    Picture p(kW, kH, kind);
    for (int32_t y = 0; y < kH; ++y) {
      for (int32_t x = 0; x < kW; ++x) {
        p.Pixel(x, y)[0] = static_cast<uint8_t>(x + 1);
        p.Pixel(x, y)[1] = static_cast<uint8_t>(y + 1);
        p.Pixel(x, y)[2] = 77;
      }
    }
    if (kind == kMaskBit) std::memset(p.Plane(), 0xFF, size_t(p.image.maskDataSize));
    if (kind == kMaskByte) std::memset(p.Plane(), 255, size_t(p.image.maskDataSize));
    for (const auto& c : cases) {
      Frame f(kFrameW, kFrameH, 0);
      f.Blend(p.image, c.px, c.py, 100);
      SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " at " << c.px << "," << c.py);
      ASSERT_TRUE(f.CanariesIntact());
      for (int32_t y = 0; y < kFrameH; ++y) {
        for (int32_t x = 0; x < kFrameW; ++x) {
          const int32_t sx = x - c.px, sy = y - c.py;
          const bool covered = sx >= 0 && sx < kW && sy >= 0 && sy < kH;
          const uint8_t* d = f.Pixel(x, y);
          ASSERT_EQ(d[0], covered ? sx + 1 : 0) << x << "," << y;
          ASSERT_EQ(d[1], covered ? sy + 1 : 0) << x << "," << y;
        }
      }
    }
  }
}

TEST(Blend, DrawsNothingItCannotDraw) {
  Picture good(4, 4, kMaskByte);
  std::memset(good.bytes.data(), 255, good.bytes.size());
  const struct {
    const char* what;
    uint8_t kind;
    uint8_t frameFormat;
    int32_t opacity;
    int32_t px;
  } cases[] = {
      {"unknown mask kind", 2, kFormatBgr24, 100, 0},
      {"frame in 4:2:0", kMaskByte, kFormatYuv420, 100, 0},
      {"frame in an unknown layout", kMaskByte, 0, 100, 0},
      {"opacity 0", kMaskByte, kFormatBgr24, 0, 0},
      {"negative opacity", kMaskByte, kFormatBgr24, -1, 0},
      {"px past the stage on a wide frame", kMaskByte, kFormatBgr24, 100, 10000},
  };
  for (const auto& c : cases) {
    Picture p = good;
    p.image.data = p.bytes.data();
    p.image.maskKind = c.kind;
    Frame f(10008, 2, 9);
    f.Blend(p.image, c.px, 0, c.opacity, c.frameFormat);
    bool unchanged = true;
    for (int32_t x = 0; x < f.width * f.height * 3; ++x) unchanged &= f.data()[x] == 9;
    EXPECT_TRUE(unchanged) << c.what;
  }
  // px 9999 on the same wide frame is drawn.
  Frame f(10008, 2, 9);
  f.Blend(good.image, 9999, 0, 100);
  EXPECT_EQ(f.Pixel(9999, 0)[0], 255);
}

TEST(Blend, PictureWithoutPlaneIsAnOpaqueRectangle) {
  Picture p(2, 1, kMaskNone);
  std::memset(p.bytes.data(), 200, p.bytes.size());
  Frame f(3, 1, 100);
  f.Blend(p.image, 1, 0, 50);
  EXPECT_EQ(f.Pixel(0, 0)[0], 100);
  EXPECT_EQ(f.Pixel(1, 0)[0], 150);
  EXPECT_EQ(f.Pixel(2, 0)[0], 150);
  f.Blend(p.image, 1, 0, 100);
  EXPECT_EQ(f.Pixel(2, 0)[0], 200);
}

TEST(Blend, InconsistentRecordsAreNotDrawn) {
  // A record whose sizes promise more than its block holds is refused rather
  // than read past the end.
  Picture p(4, 4, kMaskByte);
  p.image.maskDataSize = 3;
  Frame f(4, 4, 1);
  f.Blend(p.image, 0, 0, 100);
  EXPECT_EQ(f.Pixel(0, 0)[0], 1);
  p.image.maskDataSize = 16;
  p.image.data = nullptr;
  f.Blend(p.image, 0, 0, 100);
  EXPECT_EQ(f.Pixel(0, 0)[0], 1);
}

}  // namespace
}  // namespace tiko
