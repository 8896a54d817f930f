// Allocation failure anywhere in a player's life. A host's session is played
// from start to end: the factory, an open with a background, 200 frames of the
// show with eye reports, a change to the rich package, 20 more frames and the
// release. Then the same session again with allocation N failing, once or for
// good, for every N the clean session makes: nothing may crash, the failing
// call gives its documented result (no player, a refused open or change, or an
// actor without a picture), nothing is left allocated or open afterwards, and
// a host that retries what was refused ends with the same frames as a clean
// session.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/hooks.h"
#include "player/player.h"
#include "reliability.h"
#include "support/counted_backend.h"
#include "support/package_files.h"
#include "tiko/tiko.h"

namespace tiko {
namespace {

using reliability::FingerprintWindow;
using reliability::PatternBitmap;

constexpr int32_t kWidth = 160;
constexpr int32_t kHeight = 120;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3;
constexpr int32_t kShowFrames = 200;
constexpr int32_t kChangedFrames = 20;
constexpr int32_t kFrames = kShowFrames + kChangedFrames;
constexpr uint32_t kUntouched = 0x1234u;
// The open allocates the frame and the background buffer before the package.
constexpr uint64_t kBuffersBeforeLoad = 2;

// What one session did, and the heap's count at each of its points.
struct Session {
  bool created = false;
  bool createRetried = false;
  int32_t opened = 0;  // the first open's result
  uint32_t lastError = 0;
  int32_t changed = 0;  // the first change's result
  std::vector<uint64_t> prints;
  std::vector<int32_t> results;
  // Actors with a picture they can draw, one bit each, after each render.
  std::vector<uint64_t> drawable;
  uint64_t afterCreate = 0;
  uint64_t afterOpen = 0;
  std::vector<uint64_t> beforeRender;
  uint64_t beforeChange = 0;
  uint64_t afterChange = 0;
  uint64_t end = 0;
};

uint64_t DrawableActors(const CTikoPlayer* player) {
  // The interface has one implementation; its package shows what the actors hold.
  const Package* package = static_cast<const CVyrWindow*>(player)->package;
  uint64_t bits = 0;
  for (uint32_t i = 0; package != nullptr && i < package->actorCount && i < 64; ++i) {
    const Image* picture = package->actors[i].picture;
    if (picture != nullptr && picture->data != nullptr) bits |= uint64_t{1} << i;
  }
  return bits;
}

class ReliabilityAlloc : public test::CountedBackendTest {
 protected:
  void SetUp() override {
    CountedBackendTest::SetUp();
    show_ = test::Wide(dir_.Write("show.tiko", authoring::WritePackage(test::ShowPackage())));
    rich_ = test::Wide(dir_.Write("rich.tiko", authoring::WritePackage(test::RichPackage())));
    hostFrame_.resize(kFrameBytes);
    for (size_t i = 0; i < kFrameBytes; ++i) hostFrame_[i] = static_cast<uint8_t>(i / 3 + i % 3 * 50);
  }
  // Plays the session; with `retry` a refused factory, open or change is
  // asked again at once, as a host would.
  Session Play(bool retry) {
    Session s;
    FingerprintWindow window(kWidth * 2, kHeight * 2);
    PatternBitmap bitmap;
    platform::SetLastErrorValue(kUntouched);
    CTikoPlayer* player = TikoGetInterface();
    if (player == nullptr && retry) {
      s.createRetried = true;
      player = TikoGetInterface();
    }
    if (player == nullptr) return s;
    s.created = true;
    s.afterCreate = counting::AllocationCount();
    s.opened = player->OpenSized(&window, show_.c_str(), &bitmap, kWidth, kHeight);
    if (s.opened == 0) {
      s.lastError = TikoGetLastError();
      if (retry) player->OpenSized(&window, show_.c_str(), &bitmap, kWidth, kHeight);
    }
    s.afterOpen = counting::AllocationCount();
    for (int32_t n = 0; n < kFrames; ++n) {
      if (n == kShowFrames) {
        s.beforeChange = counting::AllocationCount();
        s.changed = player->ChangePackage(rich_.c_str());
        if (s.changed == 0 && retry) player->ChangePackage(rich_.c_str());
        s.afterChange = counting::AllocationCount();
      }
      if (n % 20 == 5) {
        player->SetEyePosition(60 + n / 2, 100);
        player->SetEyePosition(250 - n / 3, 90 + n % 7);
      }
      s.beforeRender.push_back(counting::AllocationCount());
      s.results.push_back(n % 2 == 0 ? player->RenderBackground() : player->Render(hostFrame_.data(), 0));
      s.drawable.push_back(DrawableActors(player));
    }
    s.end = counting::AllocationCount();
    player->Release();
    EXPECT_EQ(window.canvases, 0);
    s.prints = window.prints;
    return s;
  }

  // Plays the session with each allocation failing in turn, once (and the
  // refused call retried) or for good, and checks each outcome.
  void Sweep(bool forever);

  test::TempDir dir_;
  std::u16string show_;
  std::u16string rich_;
  std::vector<uint8_t> hostFrame_;
};

// The render whose allocations include number n, or -1. The change comes
// between render kShowFrames - 1 and render kShowFrames.
int32_t RenderOf(const Session& clean, uint64_t n) {
  for (int32_t f = 0; f < kFrames; ++f) {
    const uint64_t next = f + 1 == kFrames       ? clean.end
                          : f + 1 == kShowFrames ? clean.beforeChange
                                                 : clean.beforeRender[f + 1];
    if (n > clean.beforeRender[f] && n <= next) return f;
  }
  return -1;
}

void ReliabilityAlloc::Sweep(bool forever) {
  counting::ResetHeap();
  const Session clean = Play(false);
  ASSERT_TRUE(clean.created);
  ASSERT_EQ(clean.opened, 1);
  ASSERT_EQ(clean.changed, 1);
  ASSERT_EQ(clean.prints.size(), size_t{kFrames});
  ASSERT_EQ(counting::FailedAllocations(), 0u);
  ExpectNothingHeld("clean session");
  // The session has work in every part: the rescaled and refetched pictures
  // of the show, the loads of both packages.
  ASSERT_GT(clean.beforeRender[0], clean.afterCreate + kBuffersBeforeLoad);
  ASSERT_GT(clean.beforeChange, clean.afterOpen + 50);
  ASSERT_GT(clean.afterChange, clean.beforeChange);

  const uint64_t backgroundPrint = reliability::BackgroundPrint(kWidth, kHeight);
  const uint64_t hostPrint = reliability::Fingerprint(hostFrame_.data(), kFrameBytes);
  uint64_t sessions = 0, renderFailures = 0, pictureLosses = 0;
  for (const uint64_t n : reliability::Cases(1, clean.end)) {
    const std::string what = std::string(forever ? "from allocation " : "allocation ") + std::to_string(n);
    SCOPED_TRACE(what);
    counting::ResetHeap();
    counting::FailAllocation(n, forever);
    const Session s = Play(!forever);
    counting::FailAllocation(0);
    ++sessions;
    ExpectNothingHeld(what);
    if (!forever) {
      ASSERT_EQ(counting::FailedAllocations(), 1u);
    }

    if (n <= clean.afterCreate) {
      // The player object itself.
      EXPECT_EQ(s.created, !forever);
      EXPECT_TRUE(forever || s.createRetried);
      if (!forever) {
        EXPECT_EQ(s.prints, clean.prints);
      }
      continue;
    }
    ASSERT_TRUE(s.created);
    if (n <= clean.afterOpen) {
      // A buffer of the open, or the package load: the open is refused and
      // only a failed load sets the last error.
      EXPECT_EQ(s.opened, 0);
      EXPECT_EQ(s.lastError, n > clean.afterCreate + kBuffersBeforeLoad ? TIKO_STATUS_UNSUCCESSFUL : kUntouched);
      if (!forever) {
        EXPECT_EQ(s.prints, clean.prints);
        EXPECT_EQ(s.results, clean.results);
      } else {
        EXPECT_TRUE(s.prints.empty());  // renders of an unopened player present nothing
        EXPECT_EQ(s.changed, 0);
      }
      continue;
    }
    EXPECT_EQ(s.opened, 1);
    if (n > clean.beforeChange && n <= clean.afterChange) {
      // The change's load: refused, and the player renders bare frames.
      EXPECT_EQ(s.changed, 0);
      ASSERT_EQ(s.prints.size(), size_t{kFrames});
      EXPECT_TRUE(std::equal(s.prints.begin(), s.prints.begin() + kShowFrames, clean.prints.begin()));
      if (!forever) {
        EXPECT_EQ(s.prints, clean.prints);
      } else {
        for (int32_t f = kShowFrames; f < kFrames; ++f) {
          EXPECT_EQ(s.results[f], 0) << "frame " << f;
          EXPECT_EQ(s.prints[f], f % 2 == 0 ? backgroundPrint : hostPrint) << "frame " << f;
        }
      }
      continue;
    }
    // A picture's fetch or rescale in render f: up to there the session is
    // the clean one; in f an actor goes without its picture.
    const int32_t f = RenderOf(clean, n);
    ASSERT_GE(f, 0);
    ++renderFailures;
    ASSERT_EQ(s.prints.size(), size_t{kFrames});
    EXPECT_TRUE(std::equal(s.prints.begin(), s.prints.begin() + f, clean.prints.begin())) << "render " << f;
    EXPECT_EQ(s.drawable[f] & ~clean.drawable[f], 0u) << "render " << f << " drew an actor the clean one did not";
    EXPECT_NE(s.drawable[f], clean.drawable[f]) << "render " << f << " lost no picture";
    pictureLosses += s.drawable[f] != clean.drawable[f];
    EXPECT_EQ(s.changed, forever && f < kShowFrames ? 0 : 1);
    if (!forever) {
      // Nothing of the failure outlives the player: the next session is
      // the clean one again.
      counting::ResetHeap();
      const Session retry = Play(false);
      EXPECT_EQ(retry.prints, clean.prints);
      EXPECT_EQ(counting::FailedAllocations(), 0u);
      ExpectNothingHeld(what + ", retried");
    }
  }
  RecordProperty("sessions", std::to_string(sessions));
  RecordProperty("allocations_per_session", std::to_string(clean.end));
  std::printf("allocation failure %s: %llu sessions, %llu allocations each, %llu failures in renders, %llu of them "
              "took a picture away at once\n",
              forever ? "for good" : "once",
              static_cast<unsigned long long>(sessions), static_cast<unsigned long long>(clean.end),
              static_cast<unsigned long long>(renderFailures), static_cast<unsigned long long>(pictureLosses));
}

TEST_F(ReliabilityAlloc, EveryAllocationFailingOnce) { Sweep(false); }

TEST_F(ReliabilityAlloc, EveryAllocationFailingForGood) { Sweep(true); }

}  // namespace
}  // namespace tiko
