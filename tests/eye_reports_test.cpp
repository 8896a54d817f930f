// The eye reporter in front of a real player, frame by frame: each eye's
// actors drawn on that eye and centred on it; and the eye files that feed it.
#include "host/eyes/eye_reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/eyes/eye_file.h"
#include "host/memory_window.h"
#include "player/eyes.h"
#include "player_fixtures.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using host::EyePoint;
using host::SeenEyes;
using playertest::Library;
using Pixel = std::vector<uint8_t>;

const Pixel kGreen{0, 255, 0};  // "$eye1"
const Pixel kBlue{255, 0, 0};   // "$eye2"
constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
// The eye pictures, 16 x 12 pixels: 500 x 375 stage units on a 320 x 240 frame.
constexpr int32_t kEyeWidth = 16;
constexpr int32_t kEyeHeight = 12;

SeenEyes Both(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { return {EyePoint{x0, y0}, EyePoint{x1, y1}}; }
SeenEyes First(int32_t x, int32_t y) { return {EyePoint{x, y}, std::nullopt}; }
SeenEyes Second(int32_t x, int32_t y) { return {std::nullopt, EyePoint{x, y}}; }
SeenEyes Hide() { return First(-1, -1); }
SeenEyes None() { return {}; }

bool Hides(const SeenEyes& seen) {
  for (const std::optional<EyePoint>& eye : seen) {
    if (eye && (eye->x < 0 || eye->y < 0)) return true;
  }
  return false;
}

// Where an eye's actors must stand after a frame's render.
struct Expect {
  enum Kind { kGone, kAnywhere, kOn } kind = kGone;
  EyePoint at;
};

// What a host is promised, from the eyes seen so far: a seen eye has its own
// actors on it, except in the render in which they appear (placed with the
// size they had before it); a hide line hides both; an eye out of sight keeps
// its actors where they were for 15 renders after it was last seen.
class Promise {
 public:
  std::array<Expect, 2> Next(const SeenEyes& seen) {
    std::array<Expect, 2> expect;
    for (size_t i = 0; i < 2; ++i) {
      Eye& eye = eyes_[i];
      if (Hides(seen)) {
        eye = Eye{};
      } else if (seen[i]) {
        eye.expect = Expect{eye.expect.kind == Expect::kGone ? Expect::kAnywhere : Expect::kOn, *seen[i]};
        eye.unseen = 0;
      } else if (eye.expect.kind != Expect::kGone && ++eye.unseen >= kRendersKept) {
        eye = Eye{};
      }
      expect[i] = eye.expect;
    }
    return expect;
  }
  // New eye actors: they appear again.
  void PackageChanged() { eyes_ = {}; }

 private:
  static constexpr int kRendersKept = 15;
  struct Eye {
    Expect expect;
    int unseen = 0;
  };
  std::array<Eye, 2> eyes_{};
};

std::string Describe(const Expect& e) {
  if (e.kind == Expect::kGone) return "gone";
  if (e.kind == Expect::kAnywhere) return "anywhere";
  return "on " + std::to_string(e.at.x) + "," + std::to_string(e.at.y);
}

// The pixels of one colour in a top-down BGR24 picture, or none.
struct Box {
  int32_t left = kWidth, top = kHeight, right = -1, bottom = -1;
  bool empty() const { return right < 0; }
};

Box FindColour(const std::vector<uint8_t>& topDown, const Pixel& colour) {
  Box box;
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      const uint8_t* p = topDown.data() + (size_t(y) * kWidth + size_t(x)) * 3;
      if (p[0] != colour[0] || p[1] != colour[1] || p[2] != colour[2]) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

// Empty when the eye's picture is drawn as expected, else what is wrong.
// The stage puts eye column x on the left edge of frame column x, and eye
// row y on the lower edge of frame row y (the last eye row is the frame's
// bottom edge); a picture centred on the point is a pixel off at most, its
// pixel position being truncated.
std::string Mismatch(const std::vector<uint8_t>& topDown, const Pixel& colour, const Expect& expect) {
  const Box box = FindColour(topDown, colour);
  if (expect.kind == Expect::kAnywhere) return "";
  if (expect.kind == Expect::kGone) return box.empty() ? "" : "drawn where it should be gone";
  if (box.empty()) return "not drawn, expected " + Describe(expect);
  const int32_t width = box.right - box.left + 1;
  const int32_t height = box.bottom - box.top + 1;
  const double dx = (box.left + box.right + 1) / 2.0 - expect.at.x;
  const double dy = (box.top + box.bottom + 1) / 2.0 - (expect.at.y + 1);
  if (width == kEyeWidth && height == kEyeHeight && std::abs(dx) <= 1 && std::abs(dy) <= 1) return "";
  std::ostringstream out;
  out << width << "x" << height << " at " << box.left << "," << box.top << ", off by " << dx << "," << dy
      << ", expected " << Describe(expect);
  return out.str();
}

// A step that gives the actor its eye size and changes no picture.
ActorStep SizeStep() {
  ActorStep s{};
  s.flags = authoring::MakeStepFlags({.width = kSizeSet, .height = kSizeSet});
  s.width = playertest::kBoxWidth;
  s.height = playertest::kBoxHeight;
  return s;
}

// A green "$eye1" and a blue "$eye2". Plainly authored, they start hidden and
// show their picture from their first step. The pattern that spares the
// first frame: they start shown (off the stage, where the loader puts them),
// take their size in step 0 without a picture, and show it from step 1.
authoring::PackageDesc EyePackage(bool sizedFirst) {
  authoring::PackageDesc desc;
  desc.pictures = {playertest::SolidPicture(kEyeWidth, kEyeHeight, 0, 255, 0),
                   playertest::SolidPicture(kEyeWidth, kEyeHeight, 255, 0, 0)};
  for (int16_t eye = 0; eye < 2; ++eye) {
    const std::u16string name = eye == 0 ? u"$eye1" : u"$eye2";
    const ActorStep show = playertest::ShowStep(eye, playertest::kBoxWidth, playertest::kBoxHeight);
    if (sizedFirst) {
      desc.actors.push_back({name, 0, {SizeStep(), show}});
    } else {
      desc.actors.push_back({name, kHidden, {show, show}});
    }
  }
  return desc;
}

// A host: the player from the shared library on a headless window, with the
// reporter in front of it, rendering once after each frame's reports.
class Host {
 public:
  explicit Host(const std::u16string& package) : player_(Library().getInterface()) {
    opened_ = player_ != nullptr && player_->Open(&window_, package.c_str(), nullptr) == 1;
  }
  ~Host() {
    if (player_ != nullptr) player_->Release();
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  bool opened() const { return opened_; }
  void Frame(const SeenEyes& seen) {
    for (const EyePoint& p : reporter.Next(seen)) player_->SetEyePosition(p.x, p.y);
    player_->RenderBackground();
  }
  // Empty when both eyes' pictures stand as expected.
  std::string Check(const std::array<Expect, 2>& expect) const {
    std::string wrong;
    const std::string first = Mismatch(window_.pixels(), kGreen, expect[0]);
    const std::string second = Mismatch(window_.pixels(), kBlue, expect[1]);
    if (!first.empty()) wrong += "$eye1 " + first + "; ";
    if (!second.empty()) wrong += "$eye2 " + second;
    return wrong;
  }
  CTikoPlayer* player() { return player_; }

  host::EyeReporter reporter;

 private:
  host::MemoryWindow window_{kWidth, kHeight};  // outlives the player
  CTikoPlayer* player_;
  bool opened_ = false;
};

std::vector<SeenEyes> Repeat(int n, const SeenEyes& seen) { return std::vector<SeenEyes>(size_t(n), seen); }

std::vector<SeenEyes> Join(std::initializer_list<std::vector<SeenEyes>> parts) {
  std::vector<SeenEyes> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// `n` frames from `from` on, in which the first eye moves by (dx0, dy) a
// frame and the second by (dx1, -dy).
std::vector<SeenEyes> Moving(int n, const SeenEyes& from, int32_t dx0, int32_t dx1, int32_t dy = 0) {
  std::vector<SeenEyes> frames;
  for (int32_t f = 0; f < n; ++f) {
    SeenEyes seen = from;
    if (seen[0]) seen[0] = EyePoint{seen[0]->x + dx0 * f, seen[0]->y + dy * f};
    if (seen[1]) seen[1] = EyePoint{seen[1]->x + dx1 * f, seen[1]->y - dy * f};
    frames.push_back(seen);
  }
  return frames;
}

struct Scenario {
  std::string name;
  std::vector<SeenEyes> frames;
};

// The points keep both pictures whole and apart, so that each can be found
// by its colour; identical points and the edges are left to the slot test.
std::vector<Scenario> Scenarios() {
  const SeenEyes pair = Both(100, 100, 200, 100);
  std::vector<Scenario> all = {
      {"both steady", Repeat(20, pair)},
      {"both moving", Moving(20, Both(60, 80, 160, 110), 3, 3, 1)},
      {"one moving, one steady", Moving(20, pair, 2, 0)},
      {"hidden, then back where they were and elsewhere",
       Join({Repeat(5, pair), Repeat(3, Hide()), Repeat(5, pair), Repeat(2, Both(90, 60, -4, 7)),
             Repeat(5, Both(150, 150, 250, 180)), Repeat(2, Hide()), Repeat(3, Second(220, 100))})},
      {"hidden from the first frame", Join({Repeat(3, Hide()), Repeat(5, pair)})},
      {"crossing", Moving(18, Both(100, 100, 200, 130), 10, -10)},
      {"swapping places", Join({Repeat(2, pair), Repeat(2, Both(200, 100, 100, 100)), Repeat(2, pair),
                                Repeat(1, Both(200, 100, 100, 100)), Repeat(1, pair)})},
      {"onto the point the other slot holds", Join({Repeat(3, pair), Repeat(5, Both(200, 100, 260, 150))})},
      {"back at the point of a run-out slot", Join({Repeat(3, pair), Repeat(20, None()), Repeat(5, pair)})},
      {"one back at the point of its run-out slot",
       Join({Repeat(3, pair), Repeat(20, Second(200, 100)), Repeat(5, pair)})},
      {"the second eye alone", Join({Repeat(5, Second(200, 100)), Moving(5, Second(200, 100), 0, 3)})},
  };
  // One eye out of sight for a while, the other steady or moving.
  for (const int n : {1, 5, 14, 15, 16, 30}) {
    const std::string frames = " for " + std::to_string(n) + " frames";
    all.push_back({"second eye missing, first moving" + frames,
                   Join({Repeat(3, pair), Moving(n, First(80, 100), 2, 0), Repeat(5, Both(80, 100, 210, 100))})});
    all.push_back({"first eye missing, second moving" + frames,
                   Join({Repeat(3, pair), Moving(n, Second(220, 100), 0, -2), Repeat(5, pair)})});
    all.push_back({"first eye missing, second steady" + frames,
                   Join({Repeat(3, pair), Repeat(n, Second(200, 100)), Repeat(5, Both(110, 100, 200, 100))})});
  }
  return all;
}

class EyeReports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Library().handle, nullptr) << Library().path << ": " << Library().error;
    plain_ = test::Wide(playertest::WriteDesc(dir_, "plain.tiko", EyePackage(false)));
    sizedFirst_ = test::Wide(playertest::WriteDesc(dir_, "sized-first.tiko", EyePackage(true)));
  }

  test::TempDir dir_;
  std::u16string plain_;
  std::u16string sizedFirst_;
};

TEST_F(EyeReports, EachEyeHasItsOwnActorsCentredOnIt) {
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    Host host(plain_);
    ASSERT_TRUE(host.opened());
    Promise promise;
    for (size_t f = 0; f < scenario.frames.size(); ++f) {
      host.Frame(scenario.frames[f]);
      EXPECT_EQ(host.Check(promise.Next(scenario.frames[f])), "") << "frame " << f;
    }
  }
}

// What a hide sends, and what it leaves for the eyes that come back: both
// slots hold points no eye can match, with equal countdowns, so the eyes go
// back as they are seen, also to a point that a run-out slot held.
TEST(EyeReporter, AHideLeavesBothSlotsReadyForTheEyesToComeBack) {
  const auto same = [](const std::vector<EyePoint>& a, const std::vector<EyePoint>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const EyePoint& p, const EyePoint& q) {
             return p.x == q.x && p.y == q.y;
           });
  };
  const auto negative = [](const EyePoint& p) { return p.x < 0 && p.y < 0; };
  host::EyeReporter reporter;
  for (int f = 0; f < 3; ++f) reporter.Next(Both(100, 100, 200, 100));
  for (int f = 0; f < 20; ++f) reporter.Next(First(100, 100));  // the second slot runs out on (200, 100)
  const std::vector<EyePoint> hide = reporter.Next(Both(100, 100, -1, 5));
  ASSERT_EQ(hide.size(), 2u);
  EXPECT_TRUE(negative(hide[0]) && negative(hide[1]));
  EXPECT_FALSE(same({hide[0]}, {hide[1]}));
  EXPECT_TRUE(reporter.Next(Hide()).empty());  // nothing left to hide
  EXPECT_TRUE(same(reporter.Next(Both(100, 100, 200, 100)), {{100, 100}, {200, 100}}));
}

TEST_F(EyeReports, AfterAPackageChangeTheNewEyeActorsArePlacedAgain) {
  Host host(plain_);
  ASSERT_TRUE(host.opened());
  Promise promise;
  const SeenEyes pair = Both(100, 100, 200, 100);
  for (int f = 0; f < 3; ++f) host.Frame(pair);
  for (int f = 0; f < 6; ++f) {
    if (f == 0) {
      ASSERT_EQ(host.player()->ChangePackage(plain_.c_str()), 1);
      host.reporter.PackageChanged();
      promise.PackageChanged();
    }
    host.Frame(pair);
    EXPECT_EQ(host.Check(promise.Next(pair)), "") << "frame " << f;
  }
}

TEST_F(EyeReports, ANewPlayerStartsOverAfterAReset) {
  const SeenEyes pair = Both(100, 100, 200, 100);
  host::EyeReporter reporter;
  {
    Host first(plain_);
    for (int f = 0; f < 3; ++f) first.Frame(pair);
    reporter = first.reporter;
  }
  Host second(plain_);
  ASSERT_TRUE(second.opened());
  second.reporter = reporter;
  second.reporter.Reset();
  Promise promise;
  for (int f = 0; f < 4; ++f) {
    second.Frame(pair);
    EXPECT_EQ(second.Check(promise.Next(pair)), "") << "frame " << f;
  }
}

// The authoring pattern that the host guide gives: an eye actor that takes
// its size before it shows a picture is never drawn off-centre.
TEST_F(EyeReports, AnEyeSizedBeforeItsPictureIsNeverDrawnOffCentre) {
  const SeenEyes pair = Both(100, 100, 200, 100);
  const std::array<Expect, 2> gone{};
  const std::array<Expect, 2> centred{Expect{Expect::kOn, *pair[0]}, Expect{Expect::kOn, *pair[1]}};
  {
    SCOPED_TRACE("seen from the first frame");
    Host host(sizedFirst_);
    ASSERT_TRUE(host.opened());
    host.Frame(pair);
    EXPECT_EQ(host.Check(gone), "");  // placed with the loader's size; step 0 shows nothing
    for (int f = 1; f < 5; ++f) {
      host.Frame(pair);
      EXPECT_EQ(host.Check(centred), "") << "frame " << f;
    }
  }
  SCOPED_TRACE("seen after a few frames, hidden and back");
  Host host(sizedFirst_);
  ASSERT_TRUE(host.opened());
  const std::vector<SeenEyes> frames = Join({Repeat(3, None()), Repeat(4, pair), Repeat(2, Hide()), Repeat(3, pair)});
  for (size_t f = 0; f < frames.size(); ++f) {
    host.Frame(frames[f]);
    EXPECT_EQ(host.Check(f < 3 || Hides(frames[f]) ? gone : centred), "") << "frame " << f;
  }
}

// The slot rules themselves, on a package in memory: many random frames,
// with few points, so that matches, swaps and run-out slots come often.
struct MemoryPlayer {
  ActorStep step{};
  Actor actors[2]{};
  Package package{};
  EyeSlots slots{};
  MemoryPlayer() {
    for (int i = 0; i < 2; ++i) {
      actors[i].eyeKey = EyeKeyOfSlot(i);
      actors[i].stepIndex = kHidden;
      actors[i].stepCount = 1;
      actors[i].steps = &step;
    }
    package.actors = actors;
    package.actorCount = 2;
  }
  // Empty when the actors of `eye` stand as expected; actors are 0 wide and
  // high, so they stand on their point, truncated to stage units.
  std::string Mismatch(int eye, const Expect& expect) const {
    const Actor& a = actors[eye];
    const bool shown = a.stepIndex != kHidden;
    if (expect.kind == Expect::kAnywhere) return "";
    if (expect.kind == Expect::kGone) return shown ? "shown, expected gone" : "";
    const double unitsPerPixel = 10000.0 / 320;
    const double dx = a.x - expect.at.x * unitsPerPixel;
    const double dy = a.y - (239 - expect.at.y) * unitsPerPixel;
    if (shown && std::abs(dx) <= unitsPerPixel + 1 && std::abs(dy) <= unitsPerPixel + 1) return "";
    return (shown ? "at " : "hidden at ") + std::to_string(a.x) + "," + std::to_string(a.y) + ", expected " +
           Describe(expect);
  }
};

TEST(EyeReporter, KeepsEachEyeInItsSlotOverRandomFrames) {
  const EyePoint points[] = {{0, 0}, {100, 100}, {101, 100}, {200, 100}, {150, 50}};
  std::mt19937 random(13);
  const auto pick = [&] { return points[random() % std::size(points)]; };
  for (int sequence = 0; sequence < 1000; ++sequence) {
    MemoryPlayer player;
    host::EyeReporter reporter;
    Promise promise;
    SeenEyes seen;
    std::ostringstream history;
    for (int f = 0; f < 80; ++f) {
      const uint32_t roll = random() % 100;
      if (roll < 8) {
        seen = Hide();
      } else if (roll < 20) {
        seen = None();
      } else if (roll < 70 && !Hides(seen)) {
        // Mostly the same eyes again, some of them out of sight.
        for (auto& eye : seen) {
          if (random() % 8 == 0) eye = eye ? std::nullopt : std::optional<EyePoint>(pick());
        }
      } else {
        seen = Both(0, 0, 0, 0);
        for (auto& eye : seen) eye = random() % 5 == 0 ? std::nullopt : std::optional<EyePoint>(pick());
      }
      history << " [";
      for (const auto& eye : seen) history << (eye ? std::to_string(eye->x) + "," + std::to_string(eye->y) : "-") << " ";
      history << "]";
      for (const EyePoint& p : reporter.Next(seen)) SetEyePosition(player.slots, &player.package, p.x, p.y);
      TickEyeCountdowns(player.slots, &player.package);
      const std::array<Expect, 2> expect = promise.Next(seen);
      for (int eye = 0; eye < 2; ++eye) {
        ASSERT_EQ(player.Mismatch(eye, expect[size_t(eye)]), "")
            << "eye " << eye << ", sequence " << sequence << ", frames" << history.str();
      }
    }
  }
}

// ---- eye files ----------------------------------------------------------------

struct Row {
  int64_t frame;
  std::vector<EyePoint> eyes;
  bool secondOnly = false;
};

std::string Describe(const host::EyeTable& table) {
  std::ostringstream out;
  for (const auto& [frame, entry] : table) {
    out << frame << (entry.secondOnly ? "(second)" : "") << ":";
    for (const EyePoint& eye : entry.eyes) out << " " << eye.x << "," << eye.y;
    out << "; ";
  }
  return out.str();
}

std::string Describe(const std::vector<Row>& rows) {
  host::EyeTable table;
  for (const Row& row : rows) table[row.frame] = host::FrameEyes{row.eyes, row.secondOnly};
  return Describe(table);
}

TEST(EyeFile, ReadsLinesAndWarnsAboutTheBadOnes) {
  struct Case {
    std::string name;
    std::string text;
    std::vector<Row> rows;
    // Each warning: its line number and what it must say.
    std::vector<std::pair<int, std::string>> warnings;
  };
  const Case cases[] = {
      {"header, comments and blank lines",
       "frame,x1,y1,x2,y2\r\n# a comment\n\n   \n  # indented\n3,10,20,30,40\r\n 4 , 5 ,6 ,, \n7\n",
       {{3, {{10, 20}, {30, 40}}}, {4, {{5, 6}}}, {7, {}}},
       {}},
      {"the second eye alone", "5,,,30,40\n", {{5, {{30, 40}}, true}}, {}},
      {"hide lines keep their points, even outside the eye space",
       "6,-1,-1,,\n8,10,20,-3,40\n9,-1,500,400,400\n",
       {{6, {{-1, -1}}}, {8, {{10, 20}, {-3, 40}}}, {9, {{-1, 500}, {400, 400}}}},
       {}},
      {"a last line without its newline", "1,2,3", {{1, {{2, 3}}}}, {}},
      {"malformed lines are skipped",
       "frame,x1,y1,x2,y2\nx,1,2\n-3,1,2\n9,1\n9,a,2\n9,1,2,3,4,5\n1 0,5,5\n9,99999999999,1\n9,1,2,3\n10,1,2\n",
       {{10, {{1, 2}}}},
       {{2, "the frame must be a number from 0, got \"x\""},
        {3, "the frame must be a number from 0, got \"-3\""},
        {4, "eye 1 needs two integers, got \"1\",\"\""},
        {5, "eye 1 needs two integers, got \"a\",\"2\""},
        {6, "6 fields where frame,x1,y1,x2,y2 has 5"},
        {7, "got \"1 0\""},
        {8, "eye 1 needs two integers, got \"99999999999\",\"1\""},
        {9, "eye 2 needs two integers, got \"3\",\"\""}}},
      {"a frame listed twice keeps its first line",
       "3,1,2\n4,5,6\n3,7,8\n",
       {{3, {{1, 2}}}, {4, {{5, 6}}}},
       {{3, "frame 3 is listed before, on line 1"}}},
      {"points outside the eye space are kept",
       "10,320,10\n11,10,240,5,5\n12,319,239,400,500\n13,,,400,5\n",
       {{10, {{320, 10}}}, {11, {{10, 240}, {5, 5}}}, {12, {{319, 239}, {400, 500}}}, {13, {{400, 5}}, true}},
       {{1, "eye 1 at 320,10 is outside the 320 x 240 eye space"},
        {2, "eye 1 at 10,240 is outside"},
        {3, "eye 2 at 400,500 is outside"},
        {4, "eye 2 at 400,5 is outside"}}},
      {"column names only on the first line", "1,1,1\nframe,x1,y1,x2,y2\n", {{1, {{1, 1}}}},
       {{2, "the frame must be a number from 0, got \"frame\""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string path = dir.Write("eyes.csv", std::vector<uint8_t>(c.text.begin(), c.text.end()));
    std::vector<std::string> warnings;
    const host::EyeTable table = host::ReadEyeFile(path, &warnings);
    EXPECT_EQ(Describe(table), Describe(c.rows));
    ASSERT_EQ(warnings.size(), c.warnings.size());
    for (size_t i = 0; i < warnings.size(); ++i) {
      const std::string at = path + ":" + std::to_string(c.warnings[i].first) + ": ";
      EXPECT_EQ(warnings[i].rfind(at, 0), 0u) << warnings[i];
      EXPECT_NE(warnings[i].find(c.warnings[i].second), std::string::npos) << warnings[i];
    }
  }
}

// Also the lines with the second eye alone, which must come back in their
// place.
TEST(EyeFile, WritesWhatItReadsBack) {
  test::TempDir dir;
  host::EyeTable table;
  table[0] = {{{10, 20}, {30, 40}}, false};
  table[2] = {{{5, 6}}, false};
  table[3] = {{{7, 8}}, true};
  table[4] = {{{-1, -1}}, false};
  table[5] = {{}, false};  // no eyes: no line
  const std::string path = dir.path() + "/out.csv";
  std::string error;
  ASSERT_TRUE(host::WriteEyeFile(path, table, &error)) << error;
  std::vector<std::string> warnings;
  const host::EyeTable back = host::ReadEyeFile(path, &warnings);
  table.erase(5);
  EXPECT_EQ(Describe(back), Describe(table));
  EXPECT_TRUE(warnings.empty());

  EXPECT_FALSE(host::WriteEyeFile(dir.path() + "/no/such/dir.csv", table, &error));
  EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
}

TEST(EyeFile, AFileThatCannotBeReadThrowsWithTheReason) {
  test::TempDir dir;
  const std::pair<std::string, int> cases[] = {{dir.path() + "/missing.csv", ENOENT}, {dir.path(), EISDIR}};
  for (const auto& [path, reason] : cases) {
    try {
      host::ReadEyeFile(path, nullptr);
      ADD_FAILURE() << path << " was read";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path + ": " + std::strerror(reason)), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tiko
