// The player as a host sees it: libtiko.so opened at run time, every call made
// through the CTikoPlayer interface, every effect seen through the host's
// window and bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "player_fixtures.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using playertest::kDoubleFrameBytes;
using playertest::kFrameBytes;
using playertest::kHeight;
using playertest::kWidth;
using playertest::Library;
using playertest::PixelAt;
using playertest::RecordingBitmap;
using playertest::RecordingWindow;
using playertest::WriteDesc;
using Pixel = std::vector<uint8_t>;

const Pixel kBlack{0, 0, 0};
const Pixel kRed{0, 0, 255};
const Pixel kBlue{255, 0, 0};
const Pixel kBoxColour{10, 20, 30};

// A player from the library, released when it goes.
class Player {
 public:
  Player() : player_(Library().getInterface != nullptr ? Library().getInterface() : nullptr) {}
  ~Player() {
    if (player_ != nullptr) player_->Release();
  }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  CTikoPlayer* operator->() const { return player_; }
  explicit operator bool() const { return player_ != nullptr; }

 private:
  CTikoPlayer* player_;
};

class PlayerApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Library().handle, nullptr) << Library().path << ": " << Library().error;
    ASSERT_NE(Library().getInterface, nullptr);
    ASSERT_NE(Library().lastError, nullptr);
    box_ = Wide(WriteDesc(dir_, "box.tiko", playertest::BoxPackage(5000, 3750, 10, 20, 30)));
    empty_ = Wide(WriteDesc(dir_, "empty.tiko", playertest::EmptyPackage()));
    eyes_ = Wide(WriteDesc(dir_, "eyes.tiko", playertest::EyePackage()));
    missing_ = Wide(dir_.path() + "/missing.tiko");
  }
  static std::u16string Wide(const std::string& path) { return test::Wide(path); }

  test::TempDir dir_;
  std::u16string box_;
  std::u16string empty_;
  std::u16string eyes_;
  std::u16string missing_;
};

// A 640 x 480 host frame in which every byte tells where it lies.
std::vector<uint8_t> PatternFrame(size_t bytes) {
  std::vector<uint8_t> frame(bytes);
  for (size_t i = 0; i < bytes; ++i) frame[i] = static_cast<uint8_t>((i * 131) ^ (i >> 9));
  return frame;
}

bool AllBlack(const std::vector<uint8_t>& frame) {
  return std::all_of(frame.begin(), frame.end(), [](uint8_t v) { return v == 0; });
}

TEST_F(PlayerApi, RendersBeforeOpenDoNothing) {
  RecordingWindow window;  // outlives the player, as a host's window must
  Player player;
  ASSERT_TRUE(player);
  const std::vector<uint8_t> host(kFrameBytes, 7);
  player->SetEyePosition(100, 50);  // no package: lands in slot 0 with 16 renders to go
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(player->RenderAt(host.data(), 1, 2, 0), 0);
    EXPECT_EQ(player->Render(host.data(), 1), 0);
    EXPECT_EQ(player->RenderBackground(), 0);
  }
  ASSERT_EQ(player->Open(&window, eyes_.c_str(), nullptr), 1);
  EXPECT_EQ(window.presents.size(), 0u);
  // Had those renders counted slot 0 down, a new position would go to it and
  // show the red eye; it is still fresh, so the blue eye (slot 1) shows.
  player->SetEyePosition(160, 120);
  EXPECT_EQ(player->RenderBackground(), 1);
  const std::vector<uint8_t>& frame = window.Last().frame;
  EXPECT_EQ(std::count(frame.begin(), frame.end(), 255), 16 * 11);  // one picture, its bottom row off the frame
  EXPECT_EQ(PixelAt(frame, kWidth, 0, 0), kBlue);
}

TEST_F(PlayerApi, RenderWithoutHostFrameIsRenderBackground) {
  RecordingWindow a;
  RecordingWindow b;
  RecordingBitmap bitmapA(kWidth, kHeight);
  RecordingBitmap bitmapB(kWidth, kHeight);
  Player one;
  Player two;
  ASSERT_EQ(one->Open(&a, box_.c_str(), &bitmapA), 1);
  ASSERT_EQ(two->Open(&b, box_.c_str(), &bitmapB), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(one->Render(nullptr, 1), 1);
    EXPECT_EQ(two->RenderBackground(), 1);
    EXPECT_EQ(a.Last().frame, b.Last().frame) << i;
  }
  // The background with the box over it.
  EXPECT_EQ(PixelAt(a.Last().frame, kWidth, 160, 120), kBoxColour);
  EXPECT_EQ(PixelAt(a.Last().frame, kWidth, 0, 0), PixelAt(bitmapA.pixels(), kWidth, 0, 0));
  EXPECT_EQ(PixelAt(a.Last().frame, kWidth, 319, 239), PixelAt(bitmapA.pixels(), kWidth, 319, 239));
}

TEST_F(PlayerApi, WithoutBackgroundTheFramesStartBlack) {
  RecordingWindow window;
  Player player;
  ASSERT_EQ(player->Open(&window, empty_.c_str(), nullptr), 1);
  // A package without actors: presented all the same, and reported as 0.
  EXPECT_EQ(player->RenderBackground(), 0);
  ASSERT_EQ(window.presents.size(), 1u);
  EXPECT_EQ(window.Last().frame.size(), kFrameBytes);
  EXPECT_TRUE(AllBlack(window.Last().frame));
  EXPECT_EQ(player->Render(nullptr, 0), 0);
  EXPECT_TRUE(AllBlack(window.Last().frame));
  EXPECT_EQ(window.presents.size(), 2u);
}

TEST_F(PlayerApi, AMissingPackageFailsTheOpenAfterTheBitmapWasTaken) {
  RecordingWindow window;
  RecordingBitmap bitmap(kWidth, kHeight);
  Player player;
  EXPECT_EQ(player->Open(&window, missing_.c_str(), &bitmap), 0);
  EXPECT_EQ(Library().lastError(), TIKO_STATUS_UNSUCCESSFUL);
  EXPECT_EQ(bitmap.deleted, 1);
  const std::vector<uint8_t> host(kFrameBytes, 9);
  EXPECT_EQ(player->Render(host.data(), 0), 0);
  EXPECT_EQ(player->RenderBackground(), 0);
  EXPECT_TRUE(window.presents.empty());
  // The last error belongs to the thread, and a good open leaves it alone.
  RecordingWindow other;
  Player good;
  ASSERT_EQ(good->Open(&other, box_.c_str(), nullptr), 1);
  EXPECT_EQ(Library().lastError(), TIKO_STATUS_UNSUCCESSFUL);
}

TEST_F(PlayerApi, AFailedPackageChangeLeavesTheBareFrames) {
  RecordingWindow window;
  Player player;
  ASSERT_EQ(player->Open(&window, box_.c_str(), nullptr), 1);
  const std::vector<uint8_t> host = PatternFrame(kFrameBytes);
  EXPECT_EQ(player->Render(host.data(), 0), 1);
  EXPECT_EQ(PixelAt(window.Last().frame, kWidth, 160, 120), kBoxColour);
  EXPECT_EQ(player->ChangePackage(missing_.c_str()), 0);
  EXPECT_EQ(player->Render(host.data(), 0), 0);
  EXPECT_EQ(window.Last().frame, host);
  EXPECT_EQ(player->ChangePackage(box_.c_str()), 1);
  EXPECT_EQ(player->Render(host.data(), 0), 1);
}

TEST_F(PlayerApi, FramesGoToTheWindowSizeMeasuredAtOpen) {
  RecordingWindow window(Rect{100, 50, 740, 530});
  Player player;
  ASSERT_EQ(player->Open(&window, box_.c_str(), nullptr), 1);
  const std::vector<uint8_t> host(kFrameBytes, 3);
  player->RenderAt(host.data(), 10, 20, 0);
  window.SetRect(Rect{0, 0, 1000, 900});
  player->RenderAt(host.data(), 10, 20, 0);
  player->Render(host.data(), 0);
  player->RenderBackground();
  ASSERT_EQ(window.presents.size(), 4u);
  EXPECT_EQ(window.rectCalls, 1);
  const int32_t corners[][2] = {{10, 20}, {10, 20}, {0, 0}, {0, 0}};
  for (size_t i = 0; i < window.presents.size(); ++i) {
    const playertest::Presented& p = window.presents[i];
    EXPECT_EQ(p.x, corners[i][0]) << i;
    EXPECT_EQ(p.y, corners[i][1]) << i;
    EXPECT_EQ(p.dstWidth, 640) << i;
    EXPECT_EQ(p.dstHeight, 480) << i;
    EXPECT_EQ(p.width, kWidth) << i;
    EXPECT_EQ(p.height, kHeight) << i;
  }
}

TEST_F(PlayerApi, HalvingTakesEveryOtherPixelOfEveryOtherRow) {
  RecordingWindow window;
  Player player;
  ASSERT_EQ(player->Open(&window, empty_.c_str(), nullptr), 1);
  std::vector<uint8_t> source = PatternFrame(kDoubleFrameBytes);
  player->Render(source.data(), 1);
  const std::vector<uint8_t> out = window.Last().frame;
  ASSERT_EQ(out.size(), kFrameBytes);
  struct Span {
    size_t from, to;
  };
  const Span spans[] = {{0, 0}, {6, 3}, {1914, 957}, {3840, 960}};
  for (const Span& s : spans) {
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(out[s.to + k], source[s.from + k]) << s.from;
  }
  for (size_t row = 0; row < 240; ++row) {
    for (size_t column = 0; column < 320; ++column) {
      for (size_t k = 0; k < 3; ++k) {
        ASSERT_EQ(out[(row * 320 + column) * 3 + k], source[(2 * row * 640 + 2 * column) * 3 + k])
            << row << "," << column;
      }
    }
  }
  // Odd rows and odd columns never reach the frame.
  for (size_t row = 0; row < 480; ++row) {
    for (size_t column = 0; column < 640; ++column) {
      if (row % 2 == 1 || column % 2 == 1) {
        for (size_t k = 0; k < 3; ++k) source[(row * 640 + column) * 3 + k] ^= 0xFF;
      }
    }
  }
  player->Render(source.data(), 1);
  EXPECT_EQ(window.Last().frame, out);
  // The background render never halves, whatever came before.
  player->RenderAt(nullptr, 0, 0, 1);
  EXPECT_TRUE(AllBlack(window.Last().frame));
}

TEST_F(PlayerApi, OtherFrameSizesTakeTheHostFrameWhole) {
  for (const auto& [width, height] : std::vector<std::pair<int32_t, int32_t>>{{640, 480}, {160, 120}, {322, 240}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    RecordingWindow window;
    Player player;
    ASSERT_EQ(player->OpenSized(&window, empty_.c_str(), nullptr, width, height), 1);
    const std::vector<uint8_t> host = PatternFrame(size_t(width) * size_t(height) * 3);
    player->Render(host.data(), 1);
    EXPECT_EQ(window.Last().frame, host);
    EXPECT_EQ(window.Last().width, width);
    EXPECT_EQ(window.Last().height, height);
  }
}

TEST_F(PlayerApi, OpenSizedMapsTheStageToItsFrame) {
  RecordingWindow window(Rect{0, 0, 640, 480});
  Player player;
  ASSERT_EQ(player->OpenSized(&window, box_.c_str(), nullptr, 640, 480), 1);
  EXPECT_EQ(player->RenderBackground(), 1);
  const std::vector<uint8_t>& frame = window.Last().frame;
  ASSERT_EQ(frame.size(), kDoubleFrameBytes);
  // Stage (5000, 3750) is pixel (320, 240) of a 640 x 480 frame, and the box
  // of 500 x 375 stage units is 32 x 24 pixels there.
  EXPECT_EQ(PixelAt(frame, 640, 320, 240), kBoxColour);
  EXPECT_EQ(PixelAt(frame, 640, 351, 263), kBoxColour);
  EXPECT_EQ(PixelAt(frame, 640, 319, 240), kBlack);
  EXPECT_EQ(PixelAt(frame, 640, 352, 240), kBlack);
  EXPECT_EQ(PixelAt(frame, 640, 320, 264), kBlack);
  EXPECT_EQ(std::count(frame.begin(), frame.end(), 30), 32 * 24);
}

TEST_F(PlayerApi, EyeReportsAreInTheSameSpaceAtEveryFrameSize) {
  struct Case {
    int32_t width, height;
    int32_t pictureWidth, lastRow;
  };
  // The first report places the actor at full-stage size: stage (0, -32),
  // which is row -1 at 240 lines and row -2 at 480.
  const Case cases[] = {{320, 240, 16, 10}, {640, 480, 32, 21}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    RecordingWindow window;
    Player player;
    ASSERT_EQ(player->OpenSized(&window, eyes_.c_str(), nullptr, c.width, c.height), 1);
    EXPECT_EQ(player->RenderBackground(), 0);  // both eyes hidden
    player->SetEyePosition(160, 120);
    EXPECT_EQ(player->RenderBackground(), 1);
    const std::vector<uint8_t>& frame = window.Last().frame;
    EXPECT_EQ(PixelAt(frame, c.width, 0, 0), kRed);
    EXPECT_EQ(PixelAt(frame, c.width, c.pictureWidth - 1, c.lastRow), kRed);
    EXPECT_EQ(PixelAt(frame, c.width, c.pictureWidth, c.lastRow), kBlack);
    EXPECT_EQ(PixelAt(frame, c.width, c.pictureWidth - 1, c.lastRow + 1), kBlack);
  }
}

TEST_F(PlayerApi, ARepeatedReportKeepsTheEyeWithoutMovingIt) {
  RecordingWindow window;
  Player player;
  ASSERT_EQ(player->Open(&window, eyes_.c_str(), nullptr), 1);
  player->SetEyePosition(160, 120);  // slot 0: the red eye at stage (0, -32)
  ASSERT_EQ(player->RenderBackground(), 1);
  const std::vector<uint8_t> first = window.Last().frame;
  EXPECT_EQ(PixelAt(first, kWidth, 0, 0), kRed);
  player->SetEyePosition(160, 120);  // refreshed: 16 renders to go from here
  for (int render = 1; render <= 15; ++render) {
    ASSERT_EQ(player->RenderBackground(), 1) << render;
    ASSERT_EQ(window.Last().frame, first) << render;
  }
  EXPECT_EQ(player->RenderBackground(), 0);  // the 16th hides it before the scene
  EXPECT_TRUE(AllBlack(window.Last().frame));
  EXPECT_EQ(player->RenderBackground(), 0);
}

TEST_F(PlayerApi, TheEyeSlotsSurviveAPackageChange) {
  RecordingWindow window;
  Player player;
  ASSERT_EQ(player->Open(&window, eyes_.c_str(), nullptr), 1);
  player->SetEyePosition(160, 120);  // slot 0
  player->RenderBackground();
  ASSERT_EQ(player->ChangePackage(eyes_.c_str()), 1);
  // Slot 0 is still fresh, so a new position lands in slot 1 and shows the
  // blue eye; with the slots reset it would show the red one.
  player->SetEyePosition(200, 100);  // stage (1250, 593): pixel (40, 18)
  EXPECT_EQ(player->RenderBackground(), 1);
  const std::vector<uint8_t>& frame = window.Last().frame;
  EXPECT_EQ(PixelAt(frame, kWidth, 40, 18), kBlue);
  EXPECT_EQ(PixelAt(frame, kWidth, 55, 29), kBlue);
  EXPECT_EQ(std::count(frame.begin(), frame.end(), 255), 16 * 12);
}

#if defined(__GXX_ABI_VERSION) && (defined(__x86_64__) || defined(__aarch64__))
// Hosts built against any version of the header call the operations by their
// place in the table of virtual functions: call them by number, the way a
// host compiled elsewhere would, not through this header's declarations.
TEST_F(PlayerApi, TheOperationsKeepTheirSlots) {
  RecordingWindow window;
  RecordingBitmap bitmap(kWidth, kHeight);
  CTikoPlayer* player = Library().getInterface();
  ASSERT_NE(player, nullptr);
  void* const* slots = *reinterpret_cast<void* const* const*>(player);
  using OpenSized = int32_t (*)(CTikoPlayer*, HostWindow*, const char16_t*, HostBitmap*, int32_t, int32_t);
  using Open = int32_t (*)(CTikoPlayer*, HostWindow*, const char16_t*, HostBitmap*);
  using ChangePackage = int32_t (*)(CTikoPlayer*, const char16_t*);
  using RenderAt = int32_t (*)(CTikoPlayer*, const uint8_t*, int32_t, int32_t, int32_t);
  using Render = int32_t (*)(CTikoPlayer*, const uint8_t*, int32_t);
  using RenderBackground = int32_t (*)(CTikoPlayer*);
  using SetEyePosition = void (*)(CTikoPlayer*, int32_t, int32_t);
  using Release = void (*)(CTikoPlayer*);

  EXPECT_EQ(reinterpret_cast<OpenSized>(slots[0])(player, &window, box_.c_str(), nullptr, 160, 120), 1);
  EXPECT_EQ(reinterpret_cast<Open>(slots[1])(player, &window, box_.c_str(), &bitmap), 1);
  EXPECT_EQ(bitmap.deleted, 1);
  EXPECT_EQ(reinterpret_cast<ChangePackage>(slots[2])(player, missing_.c_str()), 0);
  const std::vector<uint8_t> host(kFrameBytes, 5);
  EXPECT_EQ(reinterpret_cast<RenderAt>(slots[3])(player, host.data(), 3, 4, 0), 0);
  EXPECT_EQ(window.Last().x, 3);
  EXPECT_EQ(window.Last().frame, host);
  EXPECT_EQ(reinterpret_cast<ChangePackage>(slots[2])(player, eyes_.c_str()), 1);
  reinterpret_cast<SetEyePosition>(slots[6])(player, 160, 120);
  EXPECT_EQ(reinterpret_cast<Render>(slots[4])(player, host.data(), 0), 1);
  EXPECT_EQ(reinterpret_cast<RenderBackground>(slots[5])(player), 1);
  EXPECT_EQ(window.presents.size(), 3u);
  reinterpret_cast<Release>(slots[7])(player);
  EXPECT_EQ(window.canvasHeld, 0);
}
#endif

TEST_F(PlayerApi, ReleaseGivesTheCanvasBack) {
  RecordingWindow window;
  RecordingBitmap bitmap(kWidth, kHeight);
  {
    Player player;
    ASSERT_EQ(player->Open(&window, box_.c_str(), &bitmap), 1);
    EXPECT_EQ(window.canvasHeld, 1);
    player->RenderBackground();
  }
  EXPECT_EQ(window.canvasHeld, 0);
  EXPECT_EQ(bitmap.deleted, 1);
}

}  // namespace
}  // namespace tiko
