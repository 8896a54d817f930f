// tiko cam: everything up to the loopback device through the same output
// (raw YUY2 frames to a file and a pipe), the refusals, and the device
// itself where the v4l2loopback module is loaded.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "player_fixtures.h"
#include "support/run_tool.h"

namespace tiko::test {
namespace {

using playertest::BoxPackage;
using playertest::WriteDesc;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// The loopback devices there are, found here without the tool's own code.
std::vector<std::string> LoopbackDevices() {
  std::vector<std::string> devices;
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", failed)) {
    if (entry.path().filename().string().rfind("video", 0) != 0) continue;
    const int fd = open(entry.path().c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) continue;
    v4l2_capability caps{};
    if (ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0 && std::string(reinterpret_cast<char*>(caps.driver)) == "v4l2 loopback") {
      devices.push_back(entry.path().string());
    }
    close(fd);
  }
  return devices;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Yuv {
  int y, u, v;
};

// Pixel (x, y) of frame `index` of raw YUY2 frames.
Yuv PixelAt(const std::string& frames, int index, int x, int y) {
  const size_t frame = size_t(kWidth) * kHeight * 2;
  const auto* row = reinterpret_cast<const uint8_t*>(frames.data()) + frame * index + size_t(y) * kWidth * 2;
  return Yuv{row[x * 2], row[(x & ~1) * 2 + 1], row[(x & ~1) * 2 + 3]};
}

class ToolCam : public ::testing::Test {
 protected:
  void SetUp() override {
    // A small red box on the middle of the stage.
    package_ = WriteDesc(dir_, "box.tiko", BoxPackage(4750, 3563, 0, 0, 255));
  }
  std::string Cam(const std::string& args) const {
    return "cam " + package_ + " -i testsrc --size " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
           " --fps 50 --eyes none --mute " + args;
  }
  TempDir dir_;
  std::string package_;
};

// The frames a loopback device would get, written raw: every one there, in
// YUY2, with the effects on them. BT.601 red is Y 82, U 90, V 240.
TEST_F(ToolCam, FramesGoOutAsYuy2WithTheEffects) {
  const std::string out = dir_.path() + "/cam.yuv";
  const ToolRun run = RunTool(Cam("--frames 4 --raw " + out), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<uint8_t> bytes = ReadAll(out);
  ASSERT_EQ(bytes.size(), size_t(4) * kWidth * kHeight * 2);
  const std::string frames(bytes.begin(), bytes.end());
  for (int i = 0; i < 4; ++i) {
    const Yuv box = PixelAt(frames, i, kWidth / 2, kHeight / 2);
    EXPECT_NEAR(box.y, 82, 6) << i;
    EXPECT_NEAR(box.u, 90, 6) << i;
    EXPECT_NEAR(box.v, 240, 6) << i;
    // The test picture shows round the box.
    const Yuv corner = PixelAt(frames, i, 2, 2);
    EXPECT_FALSE(std::abs(corner.v - 240) < 10 && std::abs(corner.y - 82) < 10) << i;
  }
}

// The same frames through a pipe, for a program that reads them there.
TEST_F(ToolCam, FramesGoToStandardOutput) {
  const ToolRun run = RunTool(Cam("--frames 3 --raw -"), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.out.size(), size_t(3) * kWidth * kHeight * 2);
  EXPECT_NEAR(PixelAt(run.out, 2, kWidth / 2, kHeight / 2).v, 240, 6);
}

struct Refusal {
  const char* name;
  std::string args;
  int status;
  std::string message;
};

// What cannot work is refused in one line that says why, before a frame is
// taken.
TEST_F(ToolCam, RefusesWhatCannotWork) {
  const std::string regular = dir_.Write("not-a-device", {1, 2, 3});
  const std::string missing = dir_.path() + "/video99";
  std::vector<Refusal> cases = {
      {"regular file", Cam("-o " + regular), 1, "tiko: " + regular + " is not a video device"},
      {"no such device", Cam("-o " + missing), 1, "tiko: cannot open " + missing + ": No such file or directory"},
      {"eye file", "cam " + package_ + " -i testsrc --eyes eyes.csv --raw -", 2, "tiko: --eyes: expected auto or none"},
      {"two outputs", Cam("-o /dev/video10 --raw -"), 2, "tiko: -o and --raw: give one of them"},
      {"bad size", "cam " + package_ + " --size 0x0 --raw -", 2, "tiko: --size"},
      {"missing package", "cam " + dir_.path() + "/none.tiko --raw -", 1, "none.tiko"},
  };
  if (LoopbackDevices().empty()) {
    cases.push_back({"no loopback device", Cam(""), 1, "tiko: no v4l2loopback device: load the module"});
  }
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolRun run = RunTool(c.args, dir_);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// A real virtual camera, where the module is loaded.
TEST_F(ToolCam, FeedsALoopbackDevice) {
  const std::vector<std::string> devices = LoopbackDevices();
  if (devices.empty()) GTEST_SKIP() << "no v4l2loopback device (the module is not loaded here)";
  const ToolRun run = RunTool(Cam("--frames 5 -o " + devices.front()), dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace tiko::test
