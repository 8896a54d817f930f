#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "anim/scene.h"
#include "platform/testing/hooks.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using authoring::MakeStepFlags;

class SceneTest : public ::testing::Test {
 protected:
  void TearDown() override { FreePackage(package_); }

  void Load(const authoring::PackageDesc& desc) {
    path_ = dir_.Write("scene.tiko", authoring::WritePackage(desc));
    ASSERT_EQ(test::Load(path_, &package_), STATUS_SUCCESS);
  }

  test::TempDir dir_;
  std::string path_;
  Package* package_ = nullptr;
};

// An actor that shows picture 0 at a fixed place and size, then holds.
ActorStep Show(int16_t x, int16_t y, int16_t width, int16_t height, uint32_t advance = kAdvanceJump) {
  ActorStep s{};
  s.flags = MakeStepFlags({.advance = advance, .pictureChange = 1, .width = kSizeSet, .height = kSizeSet,
                           .x = kPosSet, .y = kPosSet, .altAdvance = kAltAdvanceNone});
  s.x = x, s.y = y, s.width = width, s.height = height;
  return s;
}

authoring::PictureDesc Solid(uint8_t value) {
  std::vector<uint8_t> data(4 * 4 * 3, value);
  return authoring::MakePicture(kFormatBgr24, kMaskNone, 4, 4, data, false);
}

TEST_F(SceneTest, NothingOnStageLeavesTheFrame) {
  for (const bool withActors : {false, true}) {
    authoring::PackageDesc desc;
    desc.pictures = {Solid(200)};
    if (withActors) desc.actors = {{u"a", -1, {Show(0, 0, 10000, 7500)}}, {u"b", 5, {Show(0, 0, 10000, 7500)}}};
    Load(desc);
    std::vector<uint8_t> frame(320 * 240 * 3, 7);
    EXPECT_EQ(RenderScene(package_, kFormatBgr24, PackFrameSize(320, 240), frame.data()), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(frame, std::vector<uint8_t>(320 * 240 * 3, 7));
    FreePackage(package_);
    package_ = nullptr;
  }
  EXPECT_EQ(RenderScene(nullptr, kFormatBgr24, PackFrameSize(320, 240), nullptr), STATUS_UNSUCCESSFUL);
}

TEST_F(SceneTest, SelfHidingActorIsDrawnOnItsLastFrame) {
  authoring::PackageDesc desc;
  desc.pictures = {Solid(200)};
  desc.actors = {{u"a", 0, {Show(0, 0, 10000, 7500, kAdvanceHide)}}};
  Load(desc);
  std::vector<uint8_t> frame(32 * 24 * 3, 0);
  EXPECT_EQ(RenderScene(package_, kFormatBgr24, PackFrameSize(32, 24), frame.data()), STATUS_SUCCESS);
  EXPECT_EQ(frame[0], 200);
  std::fill(frame.begin(), frame.end(), 0);
  EXPECT_EQ(RenderScene(package_, kFormatBgr24, PackFrameSize(32, 24), frame.data()), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(frame[0], 0);
}

TEST_F(SceneTest, ActorWithoutPictureIsOnStage) {
  ActorStep noPicture = Show(0, 0, 10000, 7500);
  noPicture.pictureIndex = 9;
  authoring::PackageDesc desc;
  desc.pictures = {Solid(200)};
  desc.actors = {{u"a", 0, {noPicture}}};
  Load(desc);
  std::vector<uint8_t> frame(32 * 24 * 3, 0);
  EXPECT_EQ(RenderScene(package_, kFormatBgr24, PackFrameSize(32, 24), frame.data()), STATUS_SUCCESS);
  EXPECT_EQ(frame, std::vector<uint8_t>(32 * 24 * 3, 0));
}

TEST_F(SceneTest, LaterActorsCoverEarlierOnes) {
  ActorStep second = Show(0, 0, 5000, 7500);
  second.pictureIndex = 1;
  authoring::PackageDesc desc;
  desc.pictures = {Solid(100), Solid(200)};
  desc.actors = {{u"under", 0, {Show(0, 0, 10000, 7500)}}, {u"over", 0, {second}}};
  Load(desc);
  std::vector<uint8_t> frame(32 * 24 * 3, 0);
  RenderScene(package_, kFormatBgr24, PackFrameSize(32, 24), frame.data());
  EXPECT_EQ(frame[3 * 15], 200);
  EXPECT_EQ(frame[3 * 16], 100);
}

TEST_F(SceneTest, StageToPixelMapping) {
  // Picture column c holds the value c + 1, so the frame shows which column
  // landed where.
  std::vector<uint8_t> data(8 * 1 * 3);
  for (int c = 0; c < 8; ++c) std::memset(&data[3 * c], c + 1, 3);
  const struct {
    uint32_t packed;
    int16_t x;
    int32_t column;  // frame column of picture column 0
  } cases[] = {
      {0x01E00280, 5000, 320},  // 640 x 480
      {0x00F00140, 5000, 160},  // 320 x 240
      {0x00F00140, -1, 0},      // -320 / 10000 truncates to 0
      {0x00F00140, -31, 0},
      {0x00F00140, -32, -1},
      {0x00F00140, -63, -2},  // -20160 / 10000
      {0x00F00140, 31, 0},
      {0x00F00140, 32, 1},
  };
  for (const auto& c : cases) {
    const int32_t width = static_cast<int32_t>(c.packed & 0xFFFF), height = static_cast<int32_t>(c.packed >> 16);
    authoring::PackageDesc desc;
    desc.pictures = {authoring::MakePicture(kFormatBgr24, kMaskNone, 8, 1, data, false)};
    // 8 x 1 pixels whatever the frame: width 8 x 10000 / W, height 7500 / H.
    desc.actors = {{u"a", 0, {Show(c.x, 0, static_cast<int16_t>(80000 / width), static_cast<int16_t>((7500 + height - 1) / height))}}};
    Load(desc);
    std::vector<uint8_t> frame(size_t(width) * height * 3, 0);
    RenderScene(package_, kFormatBgr24, c.packed, frame.data());
    for (int32_t col = 0; col < 8; ++col) {
      const int32_t at = c.column + col;
      if (at < 0) continue;
      EXPECT_EQ(frame[3 * at], col + 1) << "x " << c.x << " picture column " << col;
    }
    if (c.column > 0) {
      EXPECT_EQ(frame[3 * (c.column - 1)], 0);
    }
    FreePackage(package_);
    package_ = nullptr;
  }
}

TEST_F(SceneTest, SteadyStateAllocatesNothing) {
  Load(test::ShowPackage());
  std::vector<uint8_t> frame(320 * 240 * 3);
  // The first frames load, convert and size the pictures; after that the show
  // settles into frames whose pictures keep their sizes only some of the
  // time, so count the frames that allocate: only size changes may.
  for (int i = 0; i < 200; ++i) RenderScene(package_, kFormatBgr24, PackFrameSize(320, 240), frame.data());
  // Hold every actor on a step that moves without resizing.
  authoring::PackageDesc still;
  ActorStep move{};
  move.flags = MakeStepFlags({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosWrap, .opacity = kOpacityAddClamp,
                              .altAdvance = kAltAdvanceNone});
  move.x = 120, move.y = -70, move.opacity = -1;
  for (uint32_t i = 0; i < package_->actorCount; ++i) {
    Actor& a = package_->actors[i];
    if (a.stepIndex < 0) continue;
    a.steps[a.stepIndex] = move;
    a.steps[a.stepIndex].advanceParam = static_cast<int16_t>(a.stepIndex);
  }
  counting::ResetHeap();
  for (int i = 0; i < 100; ++i) RenderScene(package_, kFormatBgr24, PackFrameSize(320, 240), frame.data());
  EXPECT_EQ(counting::AllocationCount(), 0u);
}

// The show rendered for 200 frames over a fixed background, compared with the
// frames recorded in tests/golden. Run with TIKO_UPDATE_GOLDEN=1 to record
// them again after an intended change.
TEST_F(SceneTest, ShowMatchesRecordedFrames) {
  constexpr int32_t kWidth = 320, kHeight = 240, kFrames = 200;
  constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3;
  Load(test::ShowPackage());
  std::vector<uint8_t> background(kFrameBytes);
  for (size_t i = 0; i < kFrameBytes; ++i) background[i] = static_cast<uint8_t>((i / 3) % kWidth + (i % 3) * 40);

  counting::ResetSounds();
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> frame(kFrameBytes);
  int onStage = 0;
  for (int n = 0; n < kFrames; ++n) {
    frame = background;
    onStage += RenderScene(package_, kFormatBgr24, PackFrameSize(kWidth, kHeight), frame.data()) == STATUS_SUCCESS;
    frames.push_back(frame);
  }
  EXPECT_EQ(onStage, kFrames);
  const auto& waves = counting::PlayedWaves();
  EXPECT_GT(std::count(waves.begin(), waves.end(), test::Wide(dir_.path() + "/bop.wav")), 0);
  EXPECT_EQ(std::count(waves.begin(), waves.end(), test::Wide(dir_.path() + "/hi.wav")), 61);

  // Recorded per frame: a 64-bit hash of the whole frame, then 16-bit hashes
  // of every row and of every column, so that a change names its frame and
  // the first row and column it touches.
  const auto fingerprint = [&](const std::vector<uint8_t>& f) {
    std::vector<uint8_t> out(8 + 2 * (kHeight + kWidth));
    uint64_t whole = 1469598103934665603ull;
    for (const uint8_t b : f) whole = (whole ^ b) * 1099511628211ull;
    for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(whole >> (8 * k));
    const auto put16 = [&](size_t at, uint32_t h) { WriteU16(out.data() + at, static_cast<uint16_t>(h ^ (h >> 16))); };
    for (int32_t r = 0; r < kHeight; ++r) {
      uint32_t h = 2166136261u;
      for (int32_t i = 0; i < kWidth * 3; ++i) h = (h ^ f[size_t(r) * kWidth * 3 + i]) * 16777619u;
      put16(8 + 2 * size_t(r), h);
    }
    for (int32_t c = 0; c < kWidth; ++c) {
      uint32_t h = 2166136261u;
      for (int32_t r = 0; r < kHeight; ++r) {
        for (int k = 0; k < 3; ++k) h = (h ^ f[(size_t(r) * kWidth + c) * 3 + k]) * 16777619u;
      }
      put16(8 + 2 * size_t(kHeight + c), h);
    }
    return out;
  };
  const std::string golden = std::string(TIKO_TEST_DATA_DIR) + "/golden/show_320x240.bin";
  if (std::getenv("TIKO_UPDATE_GOLDEN") != nullptr) {
    std::vector<uint8_t> out;
    for (const auto& f : frames) {
      const std::vector<uint8_t> print = fingerprint(f);
      out.insert(out.end(), print.begin(), print.end());
    }
    authoring::WriteFileBytes(golden, out);
    GTEST_SKIP() << "recorded " << golden;
  }
  const std::vector<uint8_t> recorded = authoring::ReadFileBytes(golden);
  const size_t printSize = 8 + 2 * size_t(kHeight + kWidth);
  ASSERT_EQ(recorded.size(), printSize * kFrames);
  for (int n = 0; n < kFrames; ++n) {
    const std::vector<uint8_t> print = fingerprint(frames[n]);
    const uint8_t* expected = recorded.data() + printSize * n;
    if (std::equal(print.begin(), print.end(), expected)) continue;
    int32_t row = -1, column = -1;
    for (int32_t r = 0; r < kHeight && row < 0; ++r) {
      if (ReadU16(print.data() + 8 + 2 * r) != ReadU16(expected + 8 + 2 * r)) row = r;
    }
    for (int32_t c = 0; c < kWidth && column < 0; ++c) {
      const size_t at = 8 + 2 * size_t(kHeight + c);
      if (ReadU16(print.data() + at) != ReadU16(expected + at)) column = c;
    }
    FAIL() << "frame " << n << " differs from the recording, first at row " << row << " (bottom row 0), column "
           << column;
  }
}

}  // namespace
}  // namespace tiko
