// The player's resources through its life: what each open step acquires,
// what a failing step leaves behind, and that Release gives everything back
// in order. Runs on the counting backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/hooks.h"
#include "player/player.h"
#include "player_fixtures.h"
#include "support/counted_backend.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using playertest::RecordingBitmap;
using playertest::RecordingWindow;

constexpr uint32_t kUntouched = 0x1234u;

class PlayerLifecycle : public test::CountedBackendTest {
 protected:
  void SetUp() override {
    CountedBackendTest::SetUp();
    box_ = playertest::WriteDesc(dir_, "box.tiko", playertest::BoxPackage(5000, 3750, 10, 20, 30));
  }

  std::u16string Box() const { return test::Wide(box_); }

  test::TempDir dir_;
  std::string box_;
};

TEST_F(PlayerLifecycle, ANewPlayerHoldsNothing) {
  CVyrWindow* player = CreatePlayer();
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(counting::LiveBlocks(), live_ + 1);  // the object itself, on the counted heap
  EXPECT_EQ(player->package, nullptr);
  EXPECT_EQ(player->frame, nullptr);
  EXPECT_EQ(player->background, nullptr);
  EXPECT_EQ(player->windowDC, nullptr);
  EXPECT_EQ(player->drawDib, nullptr);
  EXPECT_EQ(player->opened, 0);
  for (const EyeSlot& slot : player->eyeSlots) {
    EXPECT_EQ(slot.x, 0);
    EXPECT_EQ(slot.y, 0);
    EXPECT_EQ(slot.countdown, 0);
  }
  EXPECT_EQ(player->frameHeader.size, 40u);
  EXPECT_EQ(player->frameHeader.planes, 1);
  EXPECT_EQ(player->frameHeader.bitCount, 24);
  EXPECT_EQ(player->frameHeader.compression, 0u);
  player->Release();
}

TEST_F(PlayerLifecycle, TheFactoryGivesNullWhenTheObjectCannotBeAllocated) {
  counting::FailAllocation(1);
  EXPECT_EQ(TikoGetInterface(), nullptr);
  EXPECT_EQ(counting::FailedAllocations(), 1u);
  counting::FailAllocation(0);
  CTikoPlayer* player = TikoGetInterface();
  ASSERT_NE(player, nullptr);
  player->Release();
}

// What a failed open holds until Release.
struct Held {
  int64_t drawHandles;
  int32_t canvases;
  int64_t buffers;  // frame and background
  int32_t bitmapCopies;
  int32_t bitmapDeletes;
  uint32_t lastError;
};

struct FailingStep {
  const char* name;
  std::function<void(RecordingWindow&, RecordingBitmap&, std::u16string&, uint64_t firstOpenAllocation)> inject;
  Held held;
};

TEST_F(PlayerLifecycle, EachFailingOpenStepLeavesWhatItAcquiredSoFar) {
  const FailingStep steps[] = {
      {"draw handle", [](auto&, auto&, auto&, uint64_t) { counting::FailDrawOpen(true); }, {0, 0, 0, 0, 0, kUntouched}},
      {"canvas", [](RecordingWindow& w, auto&, auto&, uint64_t) { w.failCanvas = true; }, {1, 0, 0, 0, 0, kUntouched}},
      {"window rectangle", [](RecordingWindow& w, auto&, auto&, uint64_t) { w.failRect = true; },
       {1, 1, 0, 0, 0, kUntouched}},
      {"frame", [](auto&, auto&, auto&, uint64_t first) { counting::FailAllocation(first); },
       {1, 1, 0, 0, 0, kUntouched}},
      {"background buffer", [](auto&, auto&, auto&, uint64_t first) { counting::FailAllocation(first + 1); },
       {1, 1, 1, 0, 0, kUntouched}},
      {"background copy", [](auto&, RecordingBitmap& b, auto&, uint64_t) { b.failCopy = true; },
       {1, 1, 2, 1, 0, kUntouched}},
      {"draw set-up", [](auto&, auto&, auto&, uint64_t) { counting::FailDrawBegin(true); },
       {1, 1, 2, 1, 1, kUntouched}},
      {"package missing", [](auto&, auto&, std::u16string& path, uint64_t) { path += u".missing"; },
       {1, 1, 2, 1, 1, TIKO_STATUS_UNSUCCESSFUL}},
      {"package memory", [](auto&, auto&, auto&, uint64_t first) { counting::FailAllocation(first + 2); },
       {1, 1, 2, 1, 1, TIKO_STATUS_UNSUCCESSFUL}},
  };
  for (const FailingStep& step : steps) {
    SCOPED_TRACE(step.name);
    counting::ResetHeap();
    counting::ResetDrawing();
    RecordingWindow window;
    RecordingBitmap bitmap(playertest::kWidth, playertest::kHeight);
    std::u16string path = Box();
    CVyrWindow* player = CreatePlayer();
    ASSERT_NE(player, nullptr);
    const int64_t withObject = counting::LiveBlocks();
    step.inject(window, bitmap, path, counting::AllocationCount() + 1);
    platform::SetLastErrorValue(kUntouched);

    EXPECT_EQ(player->Open(&window, path.c_str(), &bitmap), 0);
    EXPECT_EQ(player->opened, 0);
    EXPECT_EQ(counting::OpenDrawHandles(), step.held.drawHandles);
    EXPECT_EQ(window.canvasHeld, step.held.canvases);
    EXPECT_EQ(counting::LiveBlocks() - withObject, step.held.buffers);
    EXPECT_EQ(bitmap.copies, step.held.bitmapCopies);
    EXPECT_EQ(bitmap.deleted, step.held.bitmapDeletes);
    EXPECT_EQ(TikoGetLastError(), step.held.lastError);
    EXPECT_EQ(player->package, nullptr);
    EXPECT_EQ(counting::OpenFiles(), files_);

    // A failed open renders nothing.
    EXPECT_EQ(player->RenderBackground(), 0);
    EXPECT_TRUE(window.presents.empty());

    counting::FailAllocation(0);
    counting::ResetDrawing();
    player->Release();
    EXPECT_EQ(counting::OpenDrawHandles(), 0);
    EXPECT_EQ(window.canvasHeld, 0);
    EXPECT_EQ(counting::LiveBlocks(), withObject - 1);
  }
}

TEST_F(PlayerLifecycle, OpenAcquiresInOrderAndReleaseGivesBackInOrder) {
  RecordingWindow window;
  RecordingBitmap bitmap(playertest::kWidth, playertest::kHeight);
  counting::ResetHeap();
  counting::StartTrace();
  CTikoPlayer* player = TikoGetInterface();
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->Open(&window, Box().c_str(), &bitmap), 1);
  const std::vector<std::string> open = counting::TraceEvents();
  const std::vector<std::string> expectedOpen = {
      "alloc#1:" + std::to_string(sizeof(CVyrWindow)),
      "draw-open",
      "canvas-acquire",
      "window-rect",
      "alloc#2:230400",  // the frame
      "alloc#3:230400",  // the background
      "bitmap-copy",
      "bitmap-delete",
      "draw-begin",
      "file-open"};
  ASSERT_GE(open.size(), expectedOpen.size());
  EXPECT_EQ(std::vector<std::string>(open.begin(), open.begin() + expectedOpen.size()), expectedOpen);
  EXPECT_EQ(window.rectCalls, 1);

  counting::StartTrace();
  player->Release();
  const std::vector<std::string> release = counting::TraceEvents();
  ASSERT_GE(release.size(), 6u);
  const std::vector<std::string> expectedFirst = {"draw-close", "canvas-release", "free#2", "free#3"};
  EXPECT_EQ(std::vector<std::string>(release.begin(), release.begin() + 4), expectedFirst);
  // Then the package with its file, and last the object itself.
  EXPECT_NE(std::find(release.begin() + 4, release.end(), "file-close"), release.end());
  EXPECT_EQ(release.back(), "free#1");
  EXPECT_EQ(window.canvasHeld, 0);
  EXPECT_EQ(bitmap.deleted, 1);
}

TEST_F(PlayerLifecycle, OpenSizedAllocatesFramesOfItsSize) {
  RecordingWindow window(Rect{0, 0, 640, 480});
  RecordingBitmap bitmap(640, 480);
  CTikoPlayer* player = TikoGetInterface();
  counting::StartTrace();
  ASSERT_EQ(player->OpenSized(&window, Box().c_str(), &bitmap, 640, 480), 1);
  const std::vector<std::string>& events = counting::TraceEvents();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.ends_with(":921600"); }),
            2);
  player->Release();
}

TEST_F(PlayerLifecycle, RefusedFrameSizesAcquireNothingAndChangeNothing) {
  const std::pair<int32_t, int32_t> sizes[] = {{0, 240},     {320, 0},      {-1, 240},       {320, -240},
                                               {65536, 240}, {320, 65536},  {INT32_MIN, 240}, {INT32_MAX, INT32_MAX}};
  RecordingWindow window;
  CTikoPlayer* player = TikoGetInterface();
  ASSERT_EQ(player->Open(&window, Box().c_str(), nullptr), 1);
  ASSERT_EQ(player->RenderBackground(), 1);  // loads the picture once
  const int64_t openBlocks = counting::LiveBlocks();
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    RecordingWindow other;
    RecordingBitmap bitmap(320, 240);
    platform::SetLastErrorValue(kUntouched);
    counting::StartTrace();
    EXPECT_EQ(player->OpenSized(&other, Box().c_str(), &bitmap, width, height), 0);
    EXPECT_TRUE(counting::TraceEvents().empty());
    EXPECT_EQ(other.canvasHeld, 0);
    EXPECT_EQ(bitmap.copies, 0);
    EXPECT_EQ(bitmap.deleted, 0);
    EXPECT_EQ(TikoGetLastError(), kUntouched);
    // The earlier open stands as it was.
    EXPECT_EQ(counting::LiveBlocks(), openBlocks);
    EXPECT_EQ(window.canvasHeld, 1);
    EXPECT_EQ(player->RenderBackground(), 1);
  }
  player->Release();
}

TEST_F(PlayerLifecycle, TheLargestSidesAreTaken) {
  RecordingWindow window;
  CTikoPlayer* player = TikoGetInterface();
  EXPECT_EQ(player->OpenSized(&window, Box().c_str(), nullptr, 65535, 1), 1);
  EXPECT_EQ(player->OpenSized(&window, Box().c_str(), nullptr, 1, 65535), 1);
  EXPECT_EQ(player->RenderBackground(), 1);
  EXPECT_EQ(window.Last().width, 1);
  EXPECT_EQ(window.Last().height, 65535);
  player->Release();
}

TEST_F(PlayerLifecycle, ASecondOpenGivesBackWhatTheFirstHeld) {
  RecordingWindow first;
  RecordingWindow second;
  RecordingBitmap bitmap(playertest::kWidth, playertest::kHeight);
  CVyrWindow* player = CreatePlayer();
  const int64_t withObject = counting::LiveBlocks();
  ASSERT_EQ(player->Open(&first, Box().c_str(), &bitmap), 1);
  const int64_t withFirst = counting::LiveBlocks();
  ASSERT_EQ(player->Open(&second, Box().c_str(), nullptr), 1);
  EXPECT_EQ(first.canvasHeld, 0);
  EXPECT_EQ(second.canvasHeld, 1);
  EXPECT_EQ(counting::OpenDrawHandles(), 1);
  EXPECT_EQ(counting::OpenFiles(), files_ + 1);
  EXPECT_EQ(counting::LiveBlocks(), withFirst - 1);  // no background this time
  EXPECT_EQ(player->background, nullptr);
  EXPECT_EQ(player->RenderBackground(), 1);
  EXPECT_TRUE(first.presents.empty());
  EXPECT_EQ(second.presents.size(), 1u);

  // A second open that fails still gave back the first.
  ASSERT_EQ(player->Open(&first, u"/nonexistent.tiko", nullptr), 0);
  EXPECT_EQ(second.canvasHeld, 0);
  EXPECT_EQ(player->RenderBackground(), 0);
  player->Release();
  EXPECT_EQ(counting::LiveBlocks(), withObject - 1);
}

TEST_F(PlayerLifecycle, ChangePackageWorksBeforeOpenAndRendersStayOff) {
  CVyrWindow* player = CreatePlayer();
  platform::SetLastErrorValue(kUntouched);
  EXPECT_EQ(player->ChangePackage(Box().c_str()), 1);
  EXPECT_NE(player->package, nullptr);
  EXPECT_EQ(player->Render(nullptr, 0), 0);
  EXPECT_EQ(player->package->actors[0].stepIndex, 0);
  EXPECT_EQ(player->package->actors[0].picture, nullptr);  // no scene ran
  EXPECT_EQ(player->ChangePackage(u"/nonexistent.tiko"), 0);
  EXPECT_EQ(player->package, nullptr);
  EXPECT_EQ(TikoGetLastError(), kUntouched);
  EXPECT_EQ(counting::OpenFiles(), files_);
  player->Release();
}

TEST_F(PlayerLifecycle, CuesPlayThroughTheRenderingPlayersWindow) {
  authoring::PackageDesc desc = playertest::BoxPackage(0, 0, 1, 2, 3);
  desc.actors[0].steps[0].cueMarker = kCueMarker;
  desc.actors[0].steps[0].cueName[0] = 'h';
  desc.actors[0].steps[0].cueName[1] = 'i';
  const std::string cue = playertest::WriteDesc(dir_, "cue.tiko", desc);
  RecordingWindow one;
  RecordingWindow two;
  CTikoPlayer* a = TikoGetInterface();
  CTikoPlayer* b = TikoGetInterface();
  ASSERT_EQ(a->Open(&one, test::Wide(cue).c_str(), nullptr), 1);
  ASSERT_EQ(b->Open(&two, Box().c_str(), nullptr), 1);
  a->RenderBackground();
  b->RenderBackground();
  a->RenderBackground();
  EXPECT_EQ(one.waves, (std::vector<std::string>{dir_.path() + "/hi.wav", dir_.path() + "/hi.wav"}));
  EXPECT_TRUE(two.waves.empty());
  // Outside a render no window is named, and a cue goes nowhere.
  platform::PlayWave(u"/stray.wav");
  EXPECT_EQ(one.waves.size(), 2u);
  a->Release();
  b->Release();
}

TEST_F(PlayerLifecycle, AShortBackgroundIsBlackAboveItsRows) {
  class ShortBitmap final : public HostBitmap {
   public:
    int32_t CopyPixels(uint8_t* dst, int32_t width, int32_t lines) override {
      std::fill(dst, dst + size_t(width) * size_t(lines) * 3, uint8_t{0xEE});  // beyond what it reports
      std::fill(dst, dst + size_t(width) * 10 * 3, uint8_t{0x55});
      return 10;
    }
    void Delete() override { deleted = true; }
    bool deleted = false;
  } bitmap;
  RecordingWindow window;
  CTikoPlayer* player = TikoGetInterface();
  ASSERT_EQ(player->Open(&window, Box().c_str(), &bitmap), 1);
  EXPECT_TRUE(bitmap.deleted);
  player->ChangePackage(u"/nonexistent.tiko");
  player->RenderBackground();
  const std::vector<uint8_t>& frame = window.Last().frame;
  const size_t split = size_t(playertest::kWidth) * 10 * 3;
  EXPECT_TRUE(std::all_of(frame.begin(), frame.begin() + split, [](uint8_t v) { return v == 0x55; }));
  EXPECT_TRUE(std::all_of(frame.begin() + split, frame.end(), [](uint8_t v) { return v == 0; }));
  player->Release();
}

}  // namespace
}  // namespace tiko
