#include "player/eyes.h"

#include <gtest/gtest.h>

#include <vector>

#include "package/loader.h"
#include "platform/testing/hooks.h"
#include "player/player.h"
#include "player_fixtures.h"
#include "support/counted_backend.h"
#include "support/package_files.h"

namespace tiko {
namespace {

// A package in memory with the given actors, nothing loaded from a file.
struct Stage {
  std::vector<ActorStep> steps = std::vector<ActorStep>(4);
  std::vector<Actor> actors;
  Package package{};

  Actor& Add(int32_t eyeKey, int32_t width, int32_t height, int32_t stepIndex = kHidden, int32_t stepCount = 1) {
    Actor a{};
    a.x = -1000;
    a.y = -1000;
    a.width = width;
    a.height = height;
    a.eyeKey = eyeKey;
    a.opacity = 100;
    a.stepIndex = stepIndex;
    a.stepCount = stepCount;
    a.steps = stepCount > 0 ? steps.data() : nullptr;
    actors.push_back(a);
    package.actors = actors.data();
    package.actorCount = static_cast<uint32_t>(actors.size());
    return actors.back();
  }
};

TEST(PlaceEyeActors, MapsTheEyeSpaceToStageUnits) {
  struct Case {
    int32_t x, y, width, height;
    int32_t stageX, stageY;
  };
  const Case cases[] = {
      {160, 120, 1000, 1000, 4500, 3218},
      {319, 0, 0, 0, 9968, 7468},
      {0, 239, 0, 0, 0, 0},
      {0, 240, 0, 0, 0, -31},  // -31.25 truncates toward zero
      {100, 300, 0, 0, 3125, -1906},
      {0, 0, 1001, 1001, -500, 6968},  // half of 1001 truncates to 500
      {0, 0, -1001, -1001, 500, 7968},
      // 32-bit arithmetic wraps as the packages expect, without undefined behaviour.
      {2147483647, 2147483647, 0, 0, -31, 7500},
      {300000, 0, 0, 0, -4046772, 7468},
      {0, 0, INT32_MIN, INT32_MIN, 1073741824, 1073749292},
      {1000, 1000, INT32_MAX, INT32_MAX, -1073710573, -1073765604},
  };
  for (const Case& c : cases) {
    Stage stage;
    stage.Add(kEyeKeyFirst, c.width, c.height);
    PlaceEyeActors(&stage.package, c.x, c.y, kEyeKeyFirst);
    EXPECT_EQ(stage.actors[0].x, c.stageX) << c.x << "," << c.y;
    EXPECT_EQ(stage.actors[0].y, c.stageY) << c.x << "," << c.y;
    EXPECT_EQ(stage.actors[0].stepIndex, 0) << c.x << "," << c.y;
  }
}

TEST(PlaceEyeActors, MovesOnlyTheActorsOfTheKey) {
  Stage stage;
  stage.Add(kEyeKeyFirst, 0, 0);
  stage.Add(0, 0, 0, 0);
  stage.Add(kEyeKeySecond, 0, 0);
  stage.Add(kEyeKeyFirst, 1000, 1000, 2, 4);  // visible, on its third step
  PlaceEyeActors(&stage.package, 0, 239, kEyeKeyFirst);

  EXPECT_EQ(stage.actors[0].x, 0);
  EXPECT_EQ(stage.actors[0].stepIndex, 0);  // shown, its script from the start
  EXPECT_EQ(stage.actors[3].x, -500);
  EXPECT_EQ(stage.actors[3].stepIndex, 2);  // a visible actor goes on with its script
  for (int i : {1, 2}) {
    EXPECT_EQ(stage.actors[i].x, -1000) << i;
    EXPECT_EQ(stage.actors[i].y, -1000) << i;
  }
  EXPECT_EQ(stage.actors[1].stepIndex, 0);
  EXPECT_EQ(stage.actors[2].stepIndex, kHidden);
}

TEST(PlaceEyeActors, NegativeCoordinatesHideWithoutMoving) {
  for (const auto& [x, y] : std::vector<std::pair<int32_t, int32_t>>{{-1, -1}, {-1, 50}, {50, -1}, {INT32_MIN, 0}}) {
    Stage stage;
    stage.Add(kEyeKeySecond, 0, 0, 0);
    stage.Add(kEyeKeySecond, 0, 0, 3, 4);
    stage.Add(kEyeKeyFirst, 0, 0, 0);
    PlaceEyeActors(&stage.package, x, y, kEyeKeySecond);
    EXPECT_EQ(stage.actors[0].stepIndex, kHidden);
    EXPECT_EQ(stage.actors[1].stepIndex, kHidden);
    EXPECT_EQ(stage.actors[0].x, -1000);
    EXPECT_EQ(stage.actors[2].stepIndex, 0);
  }
}

TEST(PlaceEyeActors, AnActorWithoutStepsMovesButStaysHidden) {
  Stage stage;
  stage.Add(kEyeKeyFirst, 0, 0, kHidden, 0);
  PlaceEyeActors(&stage.package, 0, 239, kEyeKeyFirst);
  EXPECT_EQ(stage.actors[0].stepIndex, kHidden);
  EXPECT_EQ(stage.actors[0].x, 0);
  EXPECT_EQ(stage.actors[0].y, 0);
}

// Slots and both eye actors, for the report sequences.
struct Eyes {
  EyeSlots slots{};
  Stage stage;
  Eyes() {
    stage.Add(kEyeKeyFirst, 0, 0);
    stage.Add(kEyeKeySecond, 0, 0);
  }
  void Report(int32_t x, int32_t y) { SetEyePosition(slots, &stage.package, x, y); }
  const Actor& First() const { return stage.actors[0]; }
  const Actor& Second() const { return stage.actors[1]; }
};

// Stage x of an actor 0 wide reported at eye column x.
int32_t StageX(int32_t x) { return x * 10000 / 320; }

TEST(SetEyePosition, AFirstReportOfTheOriginMatchesTheEmptySlot) {
  Eyes eyes;
  eyes.Report(0, 0);
  EXPECT_EQ(eyes.slots[0].countdown, 16);
  EXPECT_EQ(eyes.slots[1].countdown, 0);
  EXPECT_EQ(eyes.First().x, -1000);
  EXPECT_EQ(eyes.First().stepIndex, kHidden);
}

TEST(SetEyePosition, NewPositionsGoToTheSlotWithTheSmallerCountdown) {
  Eyes eyes;
  eyes.Report(100, 50);  // both 0: slot 0
  EXPECT_EQ(eyes.First().x, StageX(100));
  EXPECT_EQ(eyes.First().stepIndex, 0);
  EXPECT_EQ(eyes.Second().stepIndex, kHidden);
  eyes.Report(200, 50);  // slot 0 at 16 is the greater: slot 1
  EXPECT_EQ(eyes.Second().x, StageX(200));
  EXPECT_EQ(eyes.First().x, StageX(100));
  EXPECT_EQ(eyes.slots[0].x, 100);
  EXPECT_EQ(eyes.slots[1].x, 200);
  EXPECT_EQ(eyes.slots[1].countdown, 16);
  // Equal again: slot 0.
  eyes.Report(300, 50);
  EXPECT_EQ(eyes.First().x, StageX(300));
  EXPECT_EQ(eyes.Second().x, StageX(200));
}

TEST(SetEyePosition, AMatchOnlyRefreshesItsSlot) {
  Eyes eyes;
  eyes.Report(100, 50);
  eyes.slots[0].countdown = 3;
  eyes.stage.actors[0].x = 777;  // moved by its script meanwhile
  eyes.Report(100, 50);
  EXPECT_EQ(eyes.slots[0].countdown, 16);
  EXPECT_EQ(eyes.First().x, 777);
  EXPECT_EQ(eyes.slots[1].countdown, 0);
}

TEST(SetEyePosition, TheSlotsDoNotFollowWhichEyeIsWhich) {
  Eyes eyes;
  const int32_t left = 100, right = 200, movedRight = 210;
  eyes.slots[0] = EyeSlot{left, 80, 15};
  eyes.slots[1] = EyeSlot{right, 80, 15};
  eyes.Report(movedRight, 80);  // matches nothing: slot 0, moving "$eye1"
  EXPECT_EQ(eyes.First().x, StageX(movedRight));
  eyes.Report(left, 80);  // slot 0 holds the right eye now: slot 1, moving "$eye2"
  EXPECT_EQ(eyes.Second().x, StageX(left));
  EXPECT_EQ(eyes.slots[0].x, movedRight);
  EXPECT_EQ(eyes.slots[1].x, left);
}

TEST(SetEyePosition, ANegativeReportHidesAndIsStored) {
  Eyes eyes;
  eyes.Report(100, 50);
  eyes.Report(200, 50);
  eyes.slots[1].countdown = 4;
  eyes.Report(-1, -1);  // slot 1 has the smaller countdown
  EXPECT_EQ(eyes.Second().stepIndex, kHidden);
  EXPECT_EQ(eyes.First().stepIndex, 0);
  EXPECT_EQ(eyes.slots[1].x, -1);
  EXPECT_EQ(eyes.slots[1].y, -1);
  EXPECT_EQ(eyes.slots[1].countdown, 16);
}

TEST(SetEyePosition, ARunOutSlotMatchedAgainStaysHidden) {
  Eyes eyes;
  eyes.Report(100, 50);
  for (int i = 0; i < 16; ++i) TickEyeCountdowns(eyes.slots, &eyes.stage.package);
  ASSERT_EQ(eyes.First().stepIndex, kHidden);
  eyes.Report(100, 50);  // the same position: refreshed, not shown
  EXPECT_EQ(eyes.slots[0].countdown, 16);
  EXPECT_EQ(eyes.First().stepIndex, kHidden);
  // A position that no slot holds goes to the smaller countdown and shows.
  eyes.Report(120, 50);
  EXPECT_EQ(eyes.Second().stepIndex, 0);
  EXPECT_EQ(eyes.Second().x, StageX(120));
}

TEST(SetEyePosition, WithoutAPackageOnlyTheSlotsChange) {
  EyeSlots slots{};
  SetEyePosition(slots, nullptr, 100, 50);
  SetEyePosition(slots, nullptr, 200, 60);
  EXPECT_EQ(slots[0].x, 100);
  EXPECT_EQ(slots[1].y, 60);
  EXPECT_EQ(slots[1].countdown, 16);
  TickEyeCountdowns(slots, nullptr);
  EXPECT_EQ(slots[0].countdown, 15);
}

TEST(TickEyeCountdowns, HidesInTheSixteenthRenderAndKeepsThePosition) {
  Eyes eyes;
  eyes.Report(100, 50);
  eyes.Report(200, 50);
  eyes.slots[1].countdown = 1;  // runs out first
  TickEyeCountdowns(eyes.slots, &eyes.stage.package);
  EXPECT_EQ(eyes.Second().stepIndex, kHidden);
  EXPECT_EQ(eyes.slots[1].countdown, 0);
  EXPECT_EQ(eyes.slots[1].x, 200);
  for (int render = 2; render <= 15; ++render) {
    TickEyeCountdowns(eyes.slots, &eyes.stage.package);
    ASSERT_EQ(eyes.First().stepIndex, 0) << render;
  }
  eyes.stage.actors[1].stepIndex = 0;  // shown by its own means meanwhile
  TickEyeCountdowns(eyes.slots, &eyes.stage.package);  // the 16th
  EXPECT_EQ(eyes.First().stepIndex, kHidden);
  EXPECT_EQ(eyes.Second().stepIndex, 0);  // a run-out slot hides nothing again
  EXPECT_EQ(eyes.slots[0].countdown, 0);
  EXPECT_EQ(eyes.slots[0].x, 100);
  eyes.stage.actors[0].stepIndex = 0;
  TickEyeCountdowns(eyes.slots, &eyes.stage.package);  // the 17th
  EXPECT_EQ(eyes.First().stepIndex, 0);
  EXPECT_EQ(eyes.slots[0].countdown, 0);
}

// The eye reports through a player, with the scene running in between.
class PlayerEyes : public test::CountedBackendTest {
 protected:
  void SetUp() override {
    CountedBackendTest::SetUp();
    eyes_ = playertest::WriteDesc(dir_, "eyes.tiko", playertest::EyePackage());
    player_ = CreatePlayer();
    ASSERT_NE(player_, nullptr);
    ASSERT_EQ(player_->Open(&window_, test::Wide(eyes_).c_str(), nullptr), 1);
  }
  void TearDown() override {
    if (player_ != nullptr) player_->Release();
    CountedBackendTest::TearDown();
  }
  const Actor& EyeActor(int i) const { return player_->package->actors[i]; }

  test::TempDir dir_;
  std::string eyes_;
  playertest::RecordingWindow window_;
  playertest::RecordingWindow big_{Rect{0, 0, 640, 480}};
  CVyrWindow* player_ = nullptr;
};

TEST_F(PlayerEyes, SixteenRendersWithoutAReportHideInTheSixteenth) {
  player_->SetEyePosition(160, 120);
  for (int render = 1; render <= 15; ++render) {
    EXPECT_EQ(player_->RenderBackground(), 1) << render;
    ASSERT_NE(EyeActor(0).picture, nullptr);
  }
  // The 16th hides the actor before the scene runs: nothing on stage.
  EXPECT_EQ(player_->RenderBackground(), 0);
  EXPECT_EQ(EyeActor(0).stepIndex, kHidden);
  const std::vector<uint8_t> black(playertest::kFrameBytes, 0);
  EXPECT_EQ(window_.Last().frame, black);
  EXPECT_EQ(player_->RenderBackground(), 0);
  EXPECT_EQ(player_->eyeSlots[0].countdown, 0);
  EXPECT_EQ(player_->eyeSlots[0].x, 160);
}

TEST_F(PlayerEyes, ReportsAreTheSameSpaceAtEveryFrameSize) {
  ASSERT_EQ(player_->OpenSized(&big_, test::Wide(eyes_).c_str(), nullptr, 640, 480), 1);
  EXPECT_EQ(window_.canvasHeld, 0);  // the first open's canvas went back
  // Before any step the loader's full-stage size applies.
  player_->SetEyePosition(0, 239);
  EXPECT_EQ(EyeActor(0).x, -kStageWidth / 2);
  EXPECT_EQ(EyeActor(0).y, -kStageHeight / 2);
  // Its step has run and sized it: a new report centres the new size.
  player_->RenderBackground();
  player_->SetEyePosition(319, 0);    // slot 1, the smaller countdown
  player_->SetEyePosition(160, 120);  // slot 0, at 15 against 16
  EXPECT_EQ(EyeActor(0).x, 5000 - playertest::kBoxWidth / 2);
  EXPECT_EQ(EyeActor(0).y, 3718 - playertest::kBoxHeight / 2);
  EXPECT_EQ(EyeActor(1).x, 9968 - kStageWidth / 2);  // never stepped yet
  EXPECT_EQ(EyeActor(1).y, 7468 - kStageHeight / 2);
}

TEST_F(PlayerEyes, TheSlotsSurviveAChangeOfPackage) {
  player_->SetEyePosition(100, 50);
  player_->SetEyePosition(200, 60);
  player_->RenderBackground();
  ASSERT_EQ(player_->ChangePackage(test::Wide(eyes_).c_str()), 1);
  EXPECT_EQ(player_->eyeSlots[0].x, 100);
  EXPECT_EQ(player_->eyeSlots[1].x, 200);
  EXPECT_EQ(player_->eyeSlots[0].countdown, 15);
  // The new package's actors start where the loader put them; a repeated
  // report only refreshes.
  player_->SetEyePosition(100, 50);
  EXPECT_EQ(EyeActor(0).stepIndex, kHidden);
  EXPECT_EQ(player_->eyeSlots[0].countdown, 16);
  // A failed change leaves no package; reports still reach the slots.
  EXPECT_EQ(player_->ChangePackage(u"/nonexistent/eyes.tiko"), 0);
  player_->SetEyePosition(10, 10);
  EXPECT_EQ(player_->eyeSlots[1].x, 10);
  EXPECT_EQ(player_->RenderBackground(), 0);
}

}  // namespace
}  // namespace tiko
