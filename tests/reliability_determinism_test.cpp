// The show's frames are the recorded ones under every kernel set this
// processor runs, not only under the set the player would choose. Together
// with the recorded-frames test in every build (gcc and clang, -O0 and -O2,
// the sanitizer builds; scripts/determinism.sh), this pins the bytes of a
// frame to the package alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "anim/scene.h"
#include "image/kernel_set.h"
#include "support/package_files.h"

namespace tiko {
namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr int32_t kFrames = 200;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3;
// Each recorded frame: a 64-bit FNV-1a hash of the whole frame, then 16-bit
// hashes of its rows and columns (see anim_scene_test).
constexpr size_t kRecordBytes = 8 + 2 * size_t(kHeight + kWidth);

uint64_t WholeFrameHash(const std::vector<uint8_t>& frame) {
  uint64_t h = 1469598103934665603ull;
  for (const uint8_t b : frame) h = (h ^ b) * 1099511628211ull;
  return h;
}

// The show over the recording's background, frame by frame, with the kernel
// set in use.
std::vector<uint64_t> PlayShow(const std::string& path) {
  Package* package = nullptr;
  EXPECT_EQ(test::Load(path, &package), STATUS_SUCCESS);
  std::vector<uint8_t> background(kFrameBytes);
  for (size_t i = 0; i < kFrameBytes; ++i) background[i] = static_cast<uint8_t>((i / 3) % kWidth + (i % 3) * 40);
  std::vector<uint64_t> hashes;
  std::vector<uint8_t> frame;
  for (int32_t n = 0; n < kFrames && package != nullptr; ++n) {
    frame = background;
    RenderScene(package, kFormatBgr24, PackFrameSize(kWidth, kHeight), frame.data());
    hashes.push_back(WholeFrameHash(frame));
  }
  FreePackage(package);
  return hashes;
}

TEST(ReliabilityDeterminism, EveryKernelSetGivesTheRecordedFrames) {
  const std::vector<uint8_t> recorded =
      authoring::ReadFileBytes(std::string(TIKO_TEST_DATA_DIR) + "/golden/show_320x240.bin");
  ASSERT_EQ(recorded.size(), kRecordBytes * kFrames);
  std::vector<uint64_t> expected;
  for (int32_t n = 0; n < kFrames; ++n) {
    uint64_t h = 0;
    for (int k = 7; k >= 0; --k) h = h << 8 | recorded[kRecordBytes * size_t(n) + size_t(k)];
    expected.push_back(h);
  }
  test::TempDir dir;
  const std::string path = dir.Write("show.tiko", authoring::WritePackage(test::ShowPackage()));
  const int32_t chosen = ActiveKernelSet();
  int32_t sets = 0;
  for (int32_t set = kKernelsScalar; set < kKernelSetCount; ++set) {
    if (SelectKernelSet(set) == 0) continue;
    ++sets;
    const std::vector<uint64_t> hashes = PlayShow(path);
    ASSERT_EQ(hashes.size(), expected.size()) << KernelSetName(set);
    for (int32_t n = 0; n < kFrames; ++n) {
      ASSERT_EQ(hashes[n], expected[n]) << "frame " << n << " under the " << KernelSetName(set) << " kernels";
    }
  }
  SelectKernelSet(chosen);
  EXPECT_GE(sets, 1);
  std::printf("recorded frames: %d kernel sets, %d frames each\n", sets, kFrames);
}

}  // namespace
}  // namespace tiko
