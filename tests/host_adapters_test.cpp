// The host adapters: the headless window, background bitmaps and picture
// files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/stage.h"
#include "support/package_files.h"
#include "tiko/tiko.h"

namespace tiko::host {
namespace {

using Bytes = std::vector<uint8_t>;

// A bottom-up frame whose pixel (x, y) is {x, y, 7}.
Bytes CoordinateFrame(int32_t width, int32_t height) {
  Bytes frame;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) frame.insert(frame.end(), {uint8_t(x), uint8_t(y), 7});
  }
  return frame;
}

Bytes TopDownPixel(const Bytes& pixels, int32_t width, int32_t x, int32_t y) {
  const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
  return {pixels[at], pixels[at + 1], pixels[at + 2]};
}

TEST(StretchToTopDown, TakesTheNearestSourcePixelAndTurnsTheRows) {
  const Bytes frame = CoordinateFrame(4, 2);
  struct Case {
    int32_t dstWidth, dstHeight, x, y;
    uint8_t sourceX, sourceY;
  };
  const Case cases[] = {
      {4, 2, 0, 0, 0, 1},  // same size: only the rows turn
      {4, 2, 3, 1, 3, 0},
      {4, 5, 3, 4, 3, 0}, {4, 5, 1, 1, 1, 1},  // the frame's own width, stretched down: rows copied
      {8, 4, 0, 0, 0, 1}, {8, 4, 7, 3, 3, 0}, {8, 4, 5, 1, 2, 1},
      {2, 1, 1, 0, 2, 1},  // shrinking skips
      {3, 3, 2, 2, 2, 0},
  };
  for (const Case& c : cases) {
    const Bytes out = StretchToTopDown(frame.data(), 4, 2, c.dstWidth, c.dstHeight);
    ASSERT_EQ(out.size(), size_t(c.dstWidth) * size_t(c.dstHeight) * 3);
    EXPECT_EQ(TopDownPixel(out, c.dstWidth, c.x, c.y), (Bytes{c.sourceX, c.sourceY, 7}))
        << c.dstWidth << "x" << c.dstHeight << " at " << c.x << "," << c.y;
  }
  EXPECT_TRUE(StretchToTopDown(frame.data(), 4, 2, 0, 5).empty());
  EXPECT_TRUE(StretchToTopDown(frame.data(), 4, 2, -4, 2).empty());
  EXPECT_TRUE(StretchToTopDown(nullptr, 4, 2, 4, 2).empty());
}

TEST(MemoryWindow, KeepsWhatWasPresentedWhereItWasDrawn) {
  MemoryWindow window(40, 30);
  Rect rect{};
  ASSERT_TRUE(window.GetRect(&rect));
  EXPECT_EQ(rect.right - rect.left, 40);
  EXPECT_EQ(rect.bottom - rect.top, 30);
  EXPECT_TRUE(window.AcquireCanvas());
  EXPECT_TRUE(window.canvasHeld());

  const Bytes frame = CoordinateFrame(4, 2);
  window.Present(frame.data(), 4, 2, 10, 20, 8, 4);
  EXPECT_EQ(window.presentCount(), 1);
  EXPECT_EQ(window.lastRect().left, 10);
  EXPECT_EQ(window.lastRect().top, 20);
  EXPECT_EQ(window.lastRect().right, 18);
  EXPECT_EQ(window.lastRect().bottom, 24);
  EXPECT_EQ(window.lastImage(), StretchToTopDown(frame.data(), 4, 2, 8, 4));
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 10, 20), (Bytes{0, 1, 7}));
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 17, 23), (Bytes{3, 0, 7}));
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 9, 20), (Bytes{0, 0, 0}));
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 18, 23), (Bytes{0, 0, 0}));

  // Partly outside: only the part inside the window lands.
  window.Present(frame.data(), 4, 2, -2, 28, 4, 4);
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 0, 28), (Bytes{2, 1, 7}));
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 1, 29), (Bytes{3, 1, 7}));
  EXPECT_EQ(TopDownPixel(window.pixels(), 40, 10, 20), (Bytes{0, 1, 7}));  // the earlier present stays
  window.Present(frame.data(), 4, 2, 100, 100, 4, 2);  // wholly outside
  EXPECT_EQ(window.presentCount(), 3);

  window.ReleaseCanvas();
  EXPECT_FALSE(window.canvasHeld());
  EXPECT_EQ(window.canvasAcquisitions(), 1);
}

// Whole-window presents take a shorter way; every sequence of presents must
// still leave what drawing each picture in turn, clipped, would leave.
TEST(MemoryWindow, WholeWindowPresentsAgreeWithDrawingEachInTurn) {
  struct Present {
    int32_t width, height, x, y, dstWidth, dstHeight;
  };
  const std::vector<Present> sequences[] = {
      {{6, 4, 0, 0, 6, 4}, {3, 2, 1, 1, 3, 2}, {6, 4, 0, 0, 6, 4}},
      {{3, 2, 2, 1, 3, 2}, {6, 4, 0, 0, 6, 4}, {6, 4, 1, 0, 6, 4}, {6, 4, 0, 0, 12, 8}},
      {{6, 4, 0, 0, 6, 4}, {6, 4, 0, 0, 6, 4}, {2, 2, -1, -1, 4, 4}},
  };
  for (const auto& sequence : sequences) {
    MemoryWindow window(6, 4);
    Bytes expected(6 * 4 * 3, 0);
    uint8_t shade = 0;
    for (const Present& p : sequence) {
      Bytes frame = CoordinateFrame(p.width, p.height);
      for (size_t i = 2; i < frame.size(); i += 3) frame[i] = ++shade;
      window.Present(frame.data(), p.width, p.height, p.x, p.y, p.dstWidth, p.dstHeight);
      const Bytes image = StretchToTopDown(frame.data(), p.width, p.height, p.dstWidth, p.dstHeight);
      for (int32_t dy = 0; dy < p.dstHeight; ++dy) {
        for (int32_t dx = 0; dx < p.dstWidth; ++dx) {
          const int32_t wx = p.x + dx, wy = p.y + dy;
          if (wx < 0 || wy < 0 || wx >= 6 || wy >= 4) continue;
          std::copy_n(image.begin() + (dy * p.dstWidth + dx) * 3, 3, expected.begin() + (wy * 6 + wx) * 3);
        }
      }
      EXPECT_EQ(window.pixels(), expected) << "after a present at " << p.x << "," << p.y;
      EXPECT_EQ(window.lastImage(), image);
      EXPECT_EQ(window.lastRect().right - window.lastRect().left, p.dstWidth);
    }
    // The last picture stays the last picture when the window changes size.
    const Bytes last = window.lastImage();
    window.Resize(3, 3);
    EXPECT_EQ(window.lastImage(), last);
  }
}

// A frame that lies inside the player's frame can be written straight into
// it: the rows at FrameOffsetInPlayer, the player's rows apart, must give
// what FrameToPlayer's copy gives.
TEST(Stage, AFrameInsideThePlayerIsWrittenStraightIntoIt) {
  struct Case {
    int32_t width, height;
    StageFit fit;
    bool inside;
  };
  const Case cases[] = {
      {64, 36, StageFit::kCover, true}, {36, 64, StageFit::kCover, true}, {40, 30, StageFit::kCover, true},
      {41, 29, StageFit::kCover, true}, {43, 30, StageFit::kCover, true}, {40, 29, StageFit::kCover, true},
      {1, 1, StageFit::kCover, true},   {64, 36, StageFit::kStretch, true},
      {40, 30, StageFit::kFit, true},   {64, 36, StageFit::kFit, false},  {36, 64, StageFit::kFit, false},
  };
  for (const Case& c : cases) {
    const StageLayout stage = LayOutStage(c.width, c.height, c.fit);
    EXPECT_EQ(FrameInsidePlayer(stage), c.inside) << c.width << "x" << c.height;
    if (!FrameInsidePlayer(stage)) continue;
    const Bytes frame = CoordinateFrame(c.width, c.height);
    const size_t playerRow = size_t(stage.playerWidth) * 3;
    Bytes copied(playerRow * size_t(stage.playerHeight), 0xEE);
    FrameToPlayer(stage, frame.data(), copied.data(), true);
    Bytes straight(copied.size(), 0);
    for (int32_t row = 0; row < c.height; ++row) {
      std::copy_n(frame.begin() + row * c.width * 3, c.width * 3,
                  straight.begin() + FrameOffsetInPlayer(stage) + size_t(row) * playerRow);
    }
    EXPECT_EQ(straight, copied) << c.width << "x" << c.height;
  }
}

TEST(MemoryWindow, NumbersEachSoundByItsRender) {
  MemoryWindow window(4, 2);
  const Bytes frame = CoordinateFrame(4, 2);
  window.PlayWave("/a/x.wav");
  window.Present(frame.data(), 4, 2, 0, 0, 4, 2);
  window.Present(frame.data(), 4, 2, 0, 0, 4, 2);
  window.PlayWave("/a/y.wav");
  window.PlayWave("/a/z.wav");
  ASSERT_EQ(window.waves().size(), 3u);
  EXPECT_EQ(window.waves()[0].path, "/a/x.wav");
  EXPECT_EQ(window.waves()[0].render, 1);
  EXPECT_EQ(window.waves()[1].render, 3);
  EXPECT_EQ(window.waves()[2].path, "/a/z.wav");
  EXPECT_EQ(window.waves()[2].render, 3);
}

TEST(MemoryWindow, AResizeKeepsWhatStillFits) {
  MemoryWindow window(4, 2);
  const Bytes frame = CoordinateFrame(4, 2);
  window.Present(frame.data(), 4, 2, 0, 0, 4, 2);
  window.Resize(2, 3);
  Rect rect{};
  window.GetRect(&rect);
  EXPECT_EQ(rect.right, 2);
  EXPECT_EQ(rect.bottom, 3);
  ASSERT_EQ(window.pixels().size(), 2u * 3u * 3u);
  EXPECT_EQ(TopDownPixel(window.pixels(), 2, 1, 1), (Bytes{1, 0, 7}));
  EXPECT_EQ(TopDownPixel(window.pixels(), 2, 1, 2), (Bytes{0, 0, 0}));
  window.Resize(0, 0);
  EXPECT_TRUE(window.pixels().empty());
}

TEST(ImageBitmap, CopiesBottomLineFirstAtTheAskedWidth) {
  // Top-down 3 x 2: row 0 is {1..9}, row 1 is {11..19}.
  const Bytes topDown = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  struct Case {
    int32_t width, lines, rows;
    Bytes expected;
  };
  const Case cases[] = {
      {3, 2, 2, {11, 12, 13, 14, 15, 16, 17, 18, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {2, 2, 2, {11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6}},     // cut on the right
      {4, 1, 1, {11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0}},  // padded with black
      {1, 5, 2, {11, 12, 13, 1, 2, 3}},                          // no more rows than it has
  };
  for (const Case& c : cases) {
    ImageBitmap bitmap(topDown.data(), 3, 2);
    Bytes dst(c.expected.size() + 3, 0xAA);
    EXPECT_EQ(bitmap.CopyPixels(dst.data(), c.width, c.lines), c.rows) << c.width << "x" << c.lines;
    EXPECT_EQ(Bytes(dst.begin(), dst.end() - 3), c.expected) << c.width << "x" << c.lines;
    EXPECT_EQ(Bytes(dst.end() - 3, dst.end()), (Bytes{0xAA, 0xAA, 0xAA}));
  }
  ImageBitmap bitmap(topDown.data(), 3, 2);
  Bytes dst(18);
  EXPECT_EQ(bitmap.CopyPixels(dst.data(), 0, 2), 0);
  EXPECT_EQ(bitmap.CopyPixels(dst.data(), 3, 0), 0);
  bitmap.Delete();
  EXPECT_TRUE(bitmap.deleted());
  EXPECT_EQ(bitmap.CopyPixels(dst.data(), 3, 2), 0);
  EXPECT_EQ(ImageBitmap(nullptr, 3, 2).CopyPixels(dst.data(), 3, 2), 0);
}

TEST(ImageFiles, PngRoundTrip) {
  test::TempDir dir;
  const std::string path = dir.path() + "/p.png";
  Bytes pixels(5 * 3 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 17);
  std::string error;
  ASSERT_TRUE(WritePngFile(path, pixels.data(), 5, 3, &error)) << error;
  const std::optional<BgrImage> image = ReadImageFile(path, &error);
  ASSERT_TRUE(image.has_value()) << error;
  EXPECT_EQ(image->width, 5);
  EXPECT_EQ(image->height, 3);
  EXPECT_EQ(image->pixels, pixels);
}

// A JPEG of one colour, written with the codec itself.
void WriteJpeg(const std::string& path, int32_t width, int32_t height, const uint8_t rgb[3]) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  jpeg_stdio_dest(&info, out);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  Bytes row(size_t(width) * 3);
  for (size_t i = 0; i < row.size(); ++i) row[i] = rgb[i % 3];
  while (info.next_scanline < info.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&info, &r, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(out);
}

TEST(ImageFiles, ReadsJpegAsBgr) {
  test::TempDir dir;
  const std::string path = dir.path() + "/p.jpg";
  const uint8_t rgb[3] = {200, 100, 30};
  WriteJpeg(path, 16, 8, rgb);
  std::string error;
  const std::optional<BgrImage> image = ReadImageFile(path, &error);
  ASSERT_TRUE(image.has_value()) << error;
  EXPECT_EQ(image->width, 16);
  EXPECT_EQ(image->height, 8);
  for (size_t i = 0; i < image->pixels.size(); i += 3) {
    ASSERT_NEAR(image->pixels[i], 30, 3);
    ASSERT_NEAR(image->pixels[i + 1], 100, 3);
    ASSERT_NEAR(image->pixels[i + 2], 200, 3);
  }
}

TEST(ImageFiles, RefusesWhatItCannotRead) {
  test::TempDir dir;
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"text.png", Bytes{'h', 'e', 'l', 'l', 'o'}},
      {"cut.png", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}},
      {"cut.jpg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16}},
      {"empty.jpg", Bytes{}},
  };
  for (const auto& [name, bytes] : files) {
    const std::string path = dir.Write(name, bytes);
    std::string error;
    EXPECT_FALSE(ReadImageFile(path, &error).has_value()) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
  std::string error;
  EXPECT_FALSE(ReadImageFile(dir.path() + "/none.png", &error).has_value());
  EXPECT_NE(error.find("none.png"), std::string::npos);
  EXPECT_FALSE(WritePngFile(dir.path() + "/no/such/dir.png", Bytes(3).data(), 1, 1, &error));
}

TEST(ImageFiles, ResizeNearest) {
  BgrImage image{2, 1, {1, 1, 1, 2, 2, 2}};
  const BgrImage out = ResizeNearest(image, 4, 2);
  EXPECT_EQ(out.pixels, (Bytes{1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2}));
  EXPECT_TRUE(ResizeNearest(image, 0, 2).pixels.empty());
}

// The adapters with a player: the background goes in through ImageBitmap and
// comes out, top-down and stretched, in the MemoryWindow.
TEST(HostAdapters, CarryABackgroundThroughAPlayer) {
  test::TempDir dir;
  authoring::PackageDesc empty;
  empty.pictures = {test::RawBgrPicture(1, 1, kMaskNone, 1)};
  const std::u16string path = test::Wide(dir.Write("empty.tiko", authoring::WritePackage(empty)));
  BgrImage background{320, 240, Bytes(320 * 240 * 3)};
  for (int32_t y = 0; y < 240; ++y) {
    for (int32_t x = 0; x < 320; ++x) {
      uint8_t* p = background.pixels.data() + (size_t(y) * 320 + size_t(x)) * 3;
      p[0] = uint8_t(x);
      p[1] = uint8_t(y);
      p[2] = 9;
    }
  }
  ImageBitmap bitmap(background);
  MemoryWindow window(640, 480);
  CTikoPlayer* player = TikoGetInterface();
  ASSERT_EQ(player->Open(&window, path.c_str(), &bitmap), 1);
  EXPECT_TRUE(bitmap.deleted());
  EXPECT_EQ(player->RenderBackground(), 0);
  EXPECT_EQ(window.pixels(), ResizeNearest(background, 640, 480).pixels);
  player->Release();
  EXPECT_FALSE(window.canvasHeld());
}

}  // namespace
}  // namespace tiko::host
