#include <gtest/gtest.h>

#include <cstring>

#include "anim/step.h"
#include "platform/testing/hooks.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using authoring::MakeStepFlags;
using authoring::StepModes;

ActorStep Step(const StepModes& modes, int16_t advanceParam = 0, int16_t altParam = 0) {
  ActorStep s{};
  s.flags = MakeStepFlags(modes);
  s.advanceParam = advanceParam;
  s.altAdvanceParam = altParam;
  return s;
}

// An actor stepped outside any package file: the package has no pictures, so
// every picture change takes the picture away.
struct Stage {
  explicit Stage(std::vector<ActorStep> script) : steps(std::move(script)) {
    const std::u16string path = u"/packages/demo/show.tiko";
    std::copy(path.begin(), path.end(), package.path);
    actor.width = kStageWidth;
    actor.height = kStageHeight;
    actor.opacity = 100;
    actor.stepCount = static_cast<int32_t>(steps.size());
    actor.steps = steps.data();
  }
  // Runs `frames` steps; returns the step index each one executed.
  std::vector<int32_t> Run(int frames) {
    std::vector<int32_t> executed;
    for (int i = 0; i < frames && actor.stepIndex != kHidden; ++i) {
      executed.push_back(actor.stepIndex);
      RunActorStep(&package, &actor, kFormatBgr24, 320, 240);
    }
    return executed;
  }
  std::vector<ActorStep> steps;
  Package package{};
  Actor actor{};
};

constexpr uint32_t kNone = kAltAdvanceNone;

TEST(StepAdvance, ScriptsRunTheirSteps) {
  const StepModes next{.altAdvance = kNone};
  const auto jump = [](int16_t p) { return Step({.advance = kAdvanceJump, .altAdvance = kNone}, p); };
  const auto skip = [](int16_t p) { return Step({.advance = kAdvanceSkip, .altAdvance = kNone}, p); };
  const auto repeat = [](int16_t p) { return Step({.advance = kAdvanceRepeat, .altAdvance = kNone}, p); };
  const struct {
    const char* what;
    std::vector<ActorStep> script;
    std::vector<int32_t> executed;
  } cases[] = {
      {"two next steps", {Step(next), Step(next)}, {0, 1, 1, 1, 1, 1, 1}},
      {"three next steps loop over 1..2", {Step(next), Step(next), Step(next)}, {0, 1, 2, 1, 2, 1, 2, 1}},
      {"one next step stays", {Step(next)}, {0, 0, 0, 0, 0, 0}},
      {"next modes 4, 5, 7", {Step({.advance = 4}), Step({.advance = 5}), Step({.advance = 7})},
       {0, 1, 2, 1, 2, 1, 2}},
      {"jump to 1", {jump(1), Step(next), Step(next)}, {0, 1, 2, 1, 2, 1, 2}},
      {"jump to -1 lands on the last", {jump(-1), Step(next), Step(next)}, {0, 2, 1, 2, 1, 2}},
      {"jump to n lands on the last", {jump(3), Step(next), Step(next)}, {0, 2, 1, 2, 1, 2}},
      {"jump to 0 holds", {jump(0), Step(next)}, {0, 0, 0, 0, 0}},
      {"skip past the end", {skip(5), Step(next), Step(next)}, {0, 2, 1, 2, 1, 2}},
      {"skip before the start", {Step(next), skip(-5), Step(next)}, {0, 1, 0, 1, 0, 1, 0}},
      {"skip by 0 holds", {skip(0), Step(next)}, {0, 0, 0, 0, 0}},
      {"repeat 3 runs four times", {repeat(3), Step(next)}, {0, 0, 0, 0, 1, 1, 1, 1}},
      {"repeat 0 moves on at once", {repeat(0), Step(next)}, {0, 1, 1, 1, 1}},
      {"repeat -1 holds for good", {repeat(-1), Step(next)}, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"repeat in the loop", {Step(next), repeat(1), Step(next)}, {0, 1, 1, 2, 1, 1, 2, 1, 1}},
      // Hidden after step 1: nothing more runs.
      {"hide", {Step(next), Step({.advance = kAdvanceHide, .altAdvance = kNone})}, {0, 1}},
  };
  for (const auto& c : cases) {
    Stage stage(c.script);
    const bool hides = c.executed.size() == 2;
    EXPECT_EQ(stage.Run(static_cast<int>(c.executed.size()) + (hides ? 3 : 0)), c.executed) << c.what;
  }
}

TEST(StepAdvance, StepIndexOutsideTheScriptHides) {
  for (const int32_t index : {-5, -2, 2, 3, 1000}) {
    Stage stage({Step({}), Step({})});
    stage.actor.stepIndex = index;
    stage.actor.x = 77;
    RunActorStep(&stage.package, &stage.actor, kFormatBgr24, 320, 240);
    EXPECT_EQ(stage.actor.stepIndex, kHidden) << index;
    EXPECT_EQ(stage.actor.x, 77);
  }
  Stage empty({});
  RunActorStep(&empty.package, &empty.actor, kFormatBgr24, 320, 240);
  EXPECT_EQ(empty.actor.stepIndex, kHidden);
}

TEST(StepPosition, ModesMoveAndNoteEdges) {
  // Each case: one step with the x mode, from x with width 1000; the second
  // step (reached only by an edge hit with alternate mode "next") tells
  // whether an edge was hit.
  const struct {
    const char* what;
    uint32_t mode;
    int32_t x;
    int16_t delta;
    int32_t expectedX;
    bool hit;
  } cases[] = {
      {"set", kPosSet, 500, -300, -300, false},
      {"add", kPosAdd, 500, -300, 200, false},
      {"wrap stays", kPosWrap, 500, -1400, -900, false},
      {"wrap left", kPosWrap, -900, -200, 10000, true},
      {"wrap right", kPosWrap, 9900, 200, -1000, true},
      {"wrap at the edge", kPosWrap, 9900, 100, 10000, false},
      {"clamp left", kPosClamp, 100, -200, 0, true},
      {"clamp right", kPosClamp, 8900, 200, 9000, true},
      {"clamp inside", kPosClamp, 8900, 100, 9000, false},
      {"bounce right", kPosBounce, 8900, 200, 9000, true},
      {"bounce left", kPosBounce, 100, -200, 0, true},
      {"keep 6", 6, 100, -200, 100, false},
      {"keep 7", 7, 100, -200, 100, false},
  };
  for (const auto& c : cases) {
    for (const bool vertical : {false, true}) {
      ActorStep s = Step({.x = vertical ? 0u : c.mode, .y = vertical ? c.mode : 0u, .altAdvance = 0}, 0);
      s.flags = authoring::MakeStepFlags(
          {.advance = kAdvanceJump, .x = vertical ? 0u : c.mode, .y = vertical ? c.mode : 0u, .altAdvance = 0});
      (vertical ? s.y : s.x) = c.delta;
      Stage stage({s, Step({.altAdvance = kNone})});
      const int32_t limit = vertical ? kStageHeight : kStageWidth;
      // Same distances from the far edge on both axes.
      const int32_t start = c.x > 5000 ? c.x - kStageWidth + limit : c.x;
      const int32_t expected = c.expectedX == kStageWidth ? limit
                               : c.expectedX > 5000     ? c.expectedX - kStageWidth + limit
                                                        : c.expectedX;
      (vertical ? stage.actor.y : stage.actor.x) = start;
      (vertical ? stage.actor.height : stage.actor.width) = 1000;
      stage.Run(1);
      SCOPED_TRACE(std::string(c.what) + (vertical ? " (y)" : " (x)"));
      EXPECT_EQ(vertical ? stage.actor.y : stage.actor.x, expected);
      EXPECT_EQ(stage.actor.stepIndex, c.hit ? 1 : 0);
    }
  }
}

TEST(StepPosition, BounceNegatesTheStepAndLasts) {
  ActorStep s = Step({.x = kPosBounce, .altAdvance = kNone});
  s.x = 200;
  Stage stage({s});
  stage.actor.width = 1000;
  stage.actor.x = 8900;
  stage.Run(1);
  EXPECT_EQ(stage.actor.x, 9000);
  EXPECT_EQ(stage.steps[0].x, -200);  // written into the script
  stage.Run(1);
  EXPECT_EQ(stage.actor.x, 8800);
  // -32768 negates to itself in 16 bits.
  stage.steps[0].x = -32768;
  stage.actor.x = 0;
  stage.Run(1);
  EXPECT_EQ(stage.steps[0].x, -32768);
}

TEST(StepAdvance, EdgeHitsChooseTheAlternatePath) {
  // A clamp that hits the right edge on every frame; the normal advance holds.
  const auto pushing = [](uint32_t altMode, int16_t altParam) {
    ActorStep s = Step({.advance = kAdvanceJump, .x = kPosClamp, .altAdvance = altMode}, 0, altParam);
    s.x = 500;
    return s;
  };
  const struct {
    const char* what;
    ActorStep first;
    std::vector<int32_t> executed;
  } cases[] = {
      {"alternate 7 keeps the normal advance", pushing(kNone, 0), {0, 0, 0, 0}},
      {"alternate next goes on", pushing(0, 0), {0, 1, 2}},
      {"alternate jump", pushing(kAdvanceJump, 2), {0, 2, 1}},
      {"alternate repeat 2 runs three times", pushing(kAdvanceRepeat, 2), {0, 0, 0, 1, 2}},
      {"alternate hide", pushing(kAdvanceHide, 0), {0}},
  };
  for (const auto& c : cases) {
    Stage stage({c.first, Step({.altAdvance = kNone}), Step({.altAdvance = kNone})});
    stage.actor.width = 1000;
    stage.actor.x = 9000;
    EXPECT_EQ(stage.Run(static_cast<int>(c.executed.size())), c.executed) << c.what;
  }
}

TEST(StepAdvance, AlternatePathClearsTheNormalRepeat) {
  // A normal repeat of 5 is running when an edge is hit: the alternate path
  // (next) clears it and moves on.
  ActorStep s = Step({.advance = kAdvanceRepeat, .x = kPosClamp, .altAdvance = 0}, 5);
  s.x = 300;
  Stage stage({s, Step({.altAdvance = kNone})});
  stage.actor.width = 1000;
  stage.actor.x = 8000;
  EXPECT_EQ(stage.Run(5), (std::vector<int32_t>{0, 0, 0, 0, 1}));
  EXPECT_EQ(stage.actor.repeatCount, 0);
}

TEST(StepOpacity, AddClampsAndSetStoresAnyByte) {
  const struct {
    uint32_t mode;
    int32_t start;
    int8_t value;
    int32_t expected;
  } cases[] = {
      {kOpacityAddClamp, 95, 10, 100}, {kOpacityAddClamp, 3, -10, 0},     {kOpacityAddClamp, 50, 49, 99},
      {kOpacityAddClamp, 150, 0, 100}, {kOpacityAddClamp, -20, 5, 0},     {kOpacitySet, 100, -128, -128},
      {kOpacitySet, 0, 127, 127},      {kOpacityKeep, 42, 90, 42},        {3, 42, 90, 42},
  };
  for (const auto& c : cases) {
    ActorStep s = Step({.opacity = c.mode, .altAdvance = kNone});
    s.opacity = c.value;
    Stage stage({s});
    stage.actor.opacity = c.start;
    stage.Run(1);
    EXPECT_EQ(stage.actor.opacity, c.expected) << c.mode << " " << c.start << " " << int(c.value);
  }
}

TEST(StepCue, PlaysFirstAlsoWhenTheStepHides) {
  counting::ResetSounds();
  ActorStep s = Step({.advance = kAdvanceHide, .altAdvance = kNone});
  s.cueMarker = '$';
  std::memcpy(s.cueName, "bell", 4);
  ActorStep silent = s;
  silent.cueMarker = '#';
  Stage stage({silent, s});
  stage.actor.stepIndex = 1;
  stage.Run(1);
  Stage quiet({silent});
  quiet.Run(1);
  ASSERT_EQ(counting::PlayedWaves().size(), 1u);
  EXPECT_EQ(counting::PlayedWaves()[0], u"/packages/demo/bel.wav");
  EXPECT_EQ(stage.actor.stepIndex, kHidden);
}

TEST(StepArithmetic, RunawayScriptsWrapWithoutUndefinedBehaviour) {
  ActorStep s = Step({.advance = kAdvanceRepeat,
                      .width = kSizeAdd,
                      .height = kSizeAdd,
                      .x = kPosAdd,
                      .y = kPosWrap,
                      .opacity = kOpacityAddClamp,
                      .altAdvance = kNone},
                     -1);
  s.x = 32767;
  s.y = -32768;
  s.width = 32767;
  s.height = -32768;
  s.opacity = 127;
  Stage stage({s});
  constexpr int kFrames = 100000;
  stage.Run(kFrames);
  EXPECT_EQ(stage.actor.stepIndex, 0);
  EXPECT_EQ(stage.actor.x, static_cast<int32_t>(static_cast<uint32_t>(int64_t{kFrames} * 32767)));
  EXPECT_EQ(stage.actor.width, static_cast<int32_t>(static_cast<uint32_t>(10000 + int64_t{kFrames} * 32767)));
  EXPECT_EQ(stage.actor.height, static_cast<int32_t>(static_cast<uint32_t>(7500 - int64_t{kFrames} * 32768)));
  EXPECT_EQ(stage.actor.opacity, 100);
}

// Steps that need pictures run against a package file.
class StepPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    authoring::PackageDesc desc;
    desc.pictures = {test::RawBgrPicture(8, 6, kMaskByte, 1), test::RawBgrPicture(4, 4, kMaskNone, 2)};
    path_ = dir_.Write("pictures.tiko", authoring::WritePackage(desc));
    ASSERT_EQ(test::Load(path_, &package_), STATUS_SUCCESS);
  }
  void TearDown() override { FreePackage(package_); }

  Actor ActorWith(std::vector<ActorStep>& steps) {
    Actor a{};
    a.width = kStageWidth;
    a.height = kStageHeight;
    a.opacity = 100;
    a.stepCount = static_cast<int32_t>(steps.size());
    a.steps = steps.data();
    return a;
  }

  test::TempDir dir_;
  std::string path_;
  Package* package_ = nullptr;
};

TEST_F(StepPictureTest, ProportionsComeFromTheStoredPicture) {
  const struct {
    uint32_t widthMode, heightMode;
    bool picture;
    int32_t width, height;
  } cases[] = {
      {kSizeProportional, kSizeProportional, true, 10000, 3000},
      {kSizeProportional, kSizeProportional, false, 2000, 3000},
      {kSizeProportional, kSizeKeep, true, 4000, 3000},  // 8 x 3000 / 6
      {kSizeKeep, kSizeProportional, true, 2000, 1500},  // 6 x 2000 / 8
      {kSizeProportional, kSizeKeep, false, 2000, 3000},
  };
  for (const auto& c : cases) {
    ActorStep s = Step({.pictureChange = 1, .width = c.widthMode, .height = c.heightMode, .altAdvance = kNone});
    s.pictureIndex = c.picture ? 0 : -1;
    std::vector<ActorStep> steps{s};
    Actor actor = ActorWith(steps);
    actor.width = 2000;
    actor.height = 3000;
    RunActorStep(package_, &actor, kFormatBgr24, 320, 240);
    EXPECT_EQ(actor.width, c.width);
    EXPECT_EQ(actor.height, c.height);
    EXPECT_EQ(actor.picture != nullptr, c.picture);
  }
}

TEST_F(StepPictureTest, PictureFollowsThePixelSize) {
  ActorStep give = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .altAdvance = kNone});
  give.pictureIndex = 0;
  give.width = 1000;  // 32 x 24 pixels on 320 x 240
  give.height = 750;
  ActorStep grow = Step({.width = kSizeAdd, .x = kPosAdd, .altAdvance = kNone});
  grow.width = 1000;
  grow.x = 50;
  ActorStep drop = Step({.pictureChange = 1, .x = kPosAdd, .altAdvance = kNone});
  drop.pictureIndex = -1;
  drop.x = 50;
  std::vector<ActorStep> steps{give, grow, drop};
  Actor actor = ActorWith(steps);
  RunActorStep(package_, &actor, kFormatBgr24, 320, 240);
  ASSERT_NE(actor.picture, nullptr);
  EXPECT_EQ(actor.picture, &package_->pictures[0]);
  EXPECT_EQ(actor.picture->width, 32);
  EXPECT_EQ(actor.picture->height, 24);
  RunActorStep(package_, &actor, kFormatBgr24, 320, 240);
  EXPECT_EQ(actor.picture->width, 64);
  EXPECT_EQ(actor.x, 50);
  // Picture index -1 takes the picture away; the actor keeps moving.
  RunActorStep(package_, &actor, kFormatBgr24, 320, 240);
  EXPECT_EQ(actor.picture, nullptr);
  EXPECT_EQ(actor.x, 100);
}

TEST_F(StepPictureTest, ZeroAndRunawayPixelSizes) {
  ActorStep set = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .altAdvance = kNone});
  set.pictureIndex = 0;
  const struct {
    int16_t width, height;
    bool picture;
    int32_t pixelWidth;
  } cases[] = {
      {0, 750, true, 0},         // empty picture
      {1000, 750, true, 32},     // a later positive size reloads the stored one
      {32767, 750, true, 1048},  // 3.3 x the frame: allowed
      {-10, 750, true, 0},       // -0.32 pixels truncates to 0: empty
      {-1000, 750, false, 0},    // negative: no picture
      {1000, 32767, false, 0},   // 4.4 x the frame's height: refused
  };
  for (const auto& c : cases) {
    set.width = c.width;
    set.height = c.height;
    std::vector<ActorStep> steps{set};
    Actor actor = ActorWith(steps);
    RunActorStep(package_, &actor, kFormatBgr24, 320, 240);
    ASSERT_EQ(actor.picture != nullptr, c.picture) << c.width << "x" << c.height;
    if (c.picture) {
      EXPECT_EQ(actor.picture->width, c.pixelWidth);
    }
  }
}

}  // namespace
}  // namespace tiko
