// The eye detector's worker thread, as the integrations drive it: frames
// shrunk before they are handed over, large streams looked at every other
// frame, a missing detector heard of once, and a reset forgetting the eyes.
#include "host/eyes/eye_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/heap_picture.h"

namespace tiko {
namespace {

using host::BgrView;
using host::EyeWorker;

// Waits until the worker has looked at `count` frames, or a second passed.
bool WaitForLooks(EyeWorker& worker, int64_t count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (worker.looked() < count) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(ShrinkBgr, EachPixelIsTheRoundedMeanOfItsBox) {
  // Two rows of four pixels, with two bytes of padding after each row.
  const std::vector<uint8_t> frame = {
      0, 10, 255, 1, 20, 255, 100, 0, 7, 200, 0, 9, 99, 99,  //
      2, 30, 255, 2, 40, 254, 50,  0, 8, 51,  1, 9, 99, 99,  //
  };
  const BgrView view{frame.data(), 4, 2, 14, true};
  struct Case {
    int32_t factor;
    int32_t width, height;
    std::vector<uint8_t> pixels;
  };
  const Case cases[] = {
      {2, 2, 1, {1, 25, 255, 100, 0, 8}},  // 2x2 boxes: (0+1+2+2)/4 rounds to 1, (255*3+254)/4 to 255
      {3, 1, 1, {26, 17, 172}},            // one 3x2 box, the last column dropped
      {1, 4, 2, {0, 10, 255, 1, 20, 255, 100, 0, 7, 200, 0, 9, 2, 30, 255, 2, 40, 254, 50, 0, 8, 51, 1, 9}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    int32_t width = 0, height = 0;
    host::ShrinkBgr(view, c.factor, out, &width, &height);
    EXPECT_EQ(width, c.width) << c.factor;
    EXPECT_EQ(height, c.height) << c.factor;
    EXPECT_EQ(out, c.pixels) << c.factor;
  }
}

TEST(EyeWorker, WithoutADetectorItWarnsOnceAndTakesNoFrames) {
  std::mutex mutex;
  std::vector<std::string> warnings;
  {
    EyeWorker worker([](std::string* why) -> std::unique_ptr<host::EyeDetector> {
      *why = "no cascades here";
      return nullptr;
    },
                     [&](const std::string& message) {
                       std::lock_guard lock(mutex);
                       warnings.push_back(message);
                     });
    const std::vector<uint8_t> frame = test::RandomBytes(64 * 48 * 3, 3);
    for (int i = 0; i < 5; ++i) {
      worker.Offer(BgrView{frame.data(), 64, 48, 64 * 3, false});
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(worker.looked(), 0);
    EXPECT_TRUE(worker.Latest().eyes.empty());
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("no cascades here"), std::string::npos) << warnings[0];
}

TEST(EyeWorker, LargeStreamsAreLookedAtEveryOtherFrameAndSmallOnesEveryFrame) {
  std::string why;
  std::unique_ptr<host::EyeDetector> detector = host::EyeDetector::Create(&why);
  if (!detector) GTEST_SKIP() << "no eye detector here: " << why;
  EyeWorker worker(std::move(detector), nullptr);
  struct Case {
    int32_t width, height;
    bool everyFrame;
  };
  const Case cases[] = {{320, 240, true}, {1280, 720, false}, {640, 480, true}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> frame = test::RandomBytes(size_t(c.width) * c.height * 3, uint32_t(c.width));
    const BgrView view{frame.data(), c.width, c.height, int64_t{c.width} * 3, true};
    const int64_t before = worker.looked();
    for (int i = 0; i < 4; ++i) {
      worker.Offer(view);
      // An offer the worker takes is looked at; one it skips never is.
      const bool taken = c.everyFrame || i % 2 == 0;
      if (taken) {
        ASSERT_TRUE(WaitForLooks(worker, before + i / (c.everyFrame ? 1 : 2) + 1)) << c.width << " offer " << i;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    EXPECT_EQ(worker.looked() - before, c.everyFrame ? 4 : 2) << c.width << "x" << c.height;
    worker.Reset();
    EXPECT_TRUE(worker.Latest().eyes.empty());
  }
}

}  // namespace
}  // namespace tiko
