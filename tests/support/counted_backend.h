// A test fixture on the counting test backend: every hook starts afresh, and
// when the test ends every fault is switched off and nothing may be left
// allocated, open or drawing beyond what was there when it began.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/testing/hooks.h"

namespace tiko::test {

class CountedBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetHeap();
    testing::ResetFiles();
    testing::ResetDrawing();
    testing::ResetSounds();
    live_ = testing::LiveBlocks();
    files_ = testing::OpenFiles();
  }

  void TearDown() override {
    testing::StopTrace();
    testing::FailAllocation(0);
    testing::FailRead(0, testing::ReadFault::kNone);
    testing::FailDrawOpen(false);
    testing::FailDrawBegin(false);
    ExpectNothingHeld("at the end");
  }

  void ExpectNothingHeld(const std::string& what) {
    EXPECT_EQ(testing::LiveBlocks(), live_) << what;
    EXPECT_EQ(testing::OpenFiles(), files_) << what;
    EXPECT_EQ(testing::OpenDrawHandles(), 0) << what;
  }

  int64_t live_ = 0;
  int64_t files_ = 0;
};

}  // namespace tiko::test
