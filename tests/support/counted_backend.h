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
    counting::ResetHeap();
    counting::ResetFiles();
    counting::ResetDrawing();
    counting::ResetSounds();
    live_ = counting::LiveBlocks();
    files_ = counting::OpenFiles();
  }

  void TearDown() override {
    counting::StopTrace();
    counting::FailAllocation(0);
    counting::FailRead(0, counting::ReadFault::kNone);
    counting::FailDrawOpen(false);
    counting::FailDrawBegin(false);
    ExpectNothingHeld("at the end");
  }

  void ExpectNothingHeld(const std::string& what) {
    EXPECT_EQ(counting::LiveBlocks(), live_) << what;
    EXPECT_EQ(counting::OpenFiles(), files_) << what;
    EXPECT_EQ(counting::OpenDrawHandles(), 0) << what;
  }

  int64_t live_ = 0;
  int64_t files_ = 0;
};

}  // namespace tiko::test
