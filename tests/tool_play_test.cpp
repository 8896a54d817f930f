// The live preview: the SDL window adapter on its own (what it shows, what it
// plays) and `tiko play` run as a user would, without a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/sdl/sdl_window.h"
#include "support/disc_package.h"
#include "support/run_tool.h"

namespace tiko {
namespace {

using host::SdlWindow;
using host::SdlWindowOptions;
using test::RunTool;
using test::ToolRun;

constexpr uint8_t kOverlayBlue = 200;
constexpr uint8_t kOverlayGreen = 30;
constexpr uint8_t kOverlayRed = 220;
constexpr int kXvfbDisplayRun = 140;
constexpr int kXvfbDisplayKeys = 160;

// SDL draws into memory and plays into nothing: no display or sound card is
// needed, and the pixels read back are the ones a screen would show. (The
// "offscreen" driver would do as well, but it loads the system's EGL, whose
// allocations outlive the program and trip the leak checker.)
void UseHeadlessSdl() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// A bottom-up BGR24 frame whose every pixel differs from its neighbours.
std::vector<uint8_t> DistinctFrame(int32_t width, int32_t height, uint8_t seed) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(seed + i * 37 + (i / 3) * 11);
  return frame;
}

std::unique_ptr<SdlWindow> ExactWindow(int32_t width, int32_t height, bool audio = false) {
  SdlWindowOptions options;
  options.width = width;
  options.height = height;
  options.smooth = false;
  options.hidden = true;
  options.audio = audio;
  std::string error;
  std::unique_ptr<SdlWindow> window = SdlWindow::Create(options, &error);
  EXPECT_NE(window, nullptr) << error;
  return window;
}

struct PresentCall {
  int32_t width, height, x, y, dstWidth, dstHeight;
};

// Every present lands where the headless window would put it: stretched by
// whole factors (where nearest-neighbour sampling has one answer), turned
// top-down, drawn over what was there and clipped at the canvas edges.
TEST(SdlWindowPresent, ShowsWhatTheMemoryWindowShows) {
  UseHeadlessSdl();
  constexpr int32_t kW = 12;
  constexpr int32_t kH = 9;
  const PresentCall calls[] = {
      {4, 3, 0, 0, 12, 9},   // the whole canvas, three times larger
      {2, 2, 5, 4, 4, 4},    // a part of it, over the first
      {3, 2, -2, -1, 6, 4},  // hanging over the top-left corner
      {2, 3, 10, 7, 4, 6},   // hanging over the bottom-right corner
      {5, 4, 3, 2, 5, 4},    // a new frame size at its own size
  };
  std::unique_ptr<SdlWindow> window = ExactWindow(kW, kH);
  ASSERT_NE(window, nullptr);
  host::MemoryWindow reference(kW, kH);
  Rect rect{};
  ASSERT_TRUE(window->GetRect(&rect));
  EXPECT_EQ(rect.right - rect.left, kW);
  EXPECT_EQ(rect.bottom - rect.top, kH);
  ASSERT_EQ(window->ReadPixels(), reference.pixels()) << "a new window shows black";
  uint8_t seed = 1;
  for (const PresentCall& c : calls) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.x << "," << c.y);
    const std::vector<uint8_t> frame = DistinctFrame(c.width, c.height, seed += 50);
    window->Present(frame.data(), c.width, c.height, c.x, c.y, c.dstWidth, c.dstHeight);
    reference.Present(frame.data(), c.width, c.height, c.x, c.y, c.dstWidth, c.dstHeight);
    ASSERT_EQ(window->ReadPixels(), reference.pixels());
  }
  // Nothing to draw leaves the canvas as it is.
  const std::vector<uint8_t> before = window->ReadPixels();
  const std::vector<uint8_t> frame = DistinctFrame(2, 2, 9);
  window->Present(frame.data(), 2, 2, 0, 0, 0, 5);
  window->Present(nullptr, 2, 2, 0, 0, 4, 4);
  EXPECT_EQ(window->ReadPixels(), before);
}

// A wave file of constant 16-bit mono samples: after conversion and mixing
// its level and length are easy to find in the device's output.
std::vector<uint8_t> ConstantWave(int32_t rate, int16_t level, double seconds) {
  const auto frames = static_cast<uint32_t>(rate * seconds);
  const uint32_t dataBytes = frames * 2;
  std::vector<uint8_t> w;
  const auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const auto put16 = [&](uint16_t v) {
    w.push_back(static_cast<uint8_t>(v));
    w.push_back(static_cast<uint8_t>(v >> 8));
  };
  const auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(t[i]));
  };
  tag("RIFF");
  put32(36 + dataBytes);
  tag("WAVE");
  tag("fmt ");
  put32(16);
  put16(1);  // PCM
  put16(1);  // mono
  put32(static_cast<uint32_t>(rate));
  put32(static_cast<uint32_t>(rate) * 2);
  put16(2);
  put16(16);
  tag("data");
  put32(dataBytes);
  for (uint32_t i = 0; i < frames; ++i) put16(static_cast<uint16_t>(level));
  return w;
}

// The device's output, captured by SDL's disk driver: interleaved 16-bit
// stereo at the mix rate.
class SdlWindowSound : public testing::Test {
 protected:
  void SetUp() override {
    UseHeadlessSdl();
    capture_ = dir_.path() + "/device.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
  }
  void TearDown() override { unsetenv("SDL_DISKAUDIOFILE"); }

  static bool WaitForSilence(SdlWindow& window) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (window.playingSounds() > 0) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  std::vector<int16_t> Captured() const {
    const std::vector<uint8_t> bytes = authoring::ReadFileBytes(capture_);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
  }

  test::TempDir dir_;
  std::string capture_;
};

TEST_F(SdlWindowSound, CueIsConvertedToTheMixRate) {
  constexpr int16_t kLevel = 12000;
  constexpr double kSeconds = 0.3;
  constexpr int32_t kMixRate = 48000;
  const std::string wave = dir_.Write("low.wav", ConstantWave(22050, kLevel, kSeconds));
  {
    std::unique_ptr<SdlWindow> window = ExactWindow(4, 4, true);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->hasAudio()) << window->audioError();
    window->PlayWave(wave.c_str());
    EXPECT_EQ(window->playingSounds(), 1);
    window->PlayWave((dir_.path() + "/missing.wav").c_str());
    window->PlayWave(dir_.Write("junk.wav", {'R', 'I', 'F', 'F', 1, 2, 3}).c_str());
    EXPECT_EQ(window->failedSounds(), 2);
    ASSERT_TRUE(WaitForSilence(*window));
  }
  const std::vector<int16_t> out = Captured();
  // Both channels carry the mono cue, at the level it was recorded at, for as
  // long as it lasts (a few samples of resampler ramp either side aside).
  size_t loudFrames = 0;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    EXPECT_EQ(out[i], out[i + 1]);
    if (std::abs(out[i] - kLevel) < kLevel / 20) ++loudFrames;
  }
  EXPECT_NEAR(static_cast<double>(loudFrames), kSeconds * kMixRate, kMixRate / 100.0);
}

TEST_F(SdlWindowSound, OverlappingCuesAddUpAndSaturate) {
  constexpr int16_t kLevel = 14000;
  const std::string wave = dir_.Write("cue.wav", ConstantWave(48000, kLevel, 0.4));
  {
    std::unique_ptr<SdlWindow> window = ExactWindow(4, 4, true);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->hasAudio()) << window->audioError();
    for (int i = 0; i < 3; ++i) window->PlayWave(wave.c_str());
    EXPECT_EQ(window->playingSounds(), 3);
    ASSERT_TRUE(WaitForSilence(*window));
  }
  const std::vector<int16_t> out = Captured();
  ASSERT_FALSE(out.empty());
  // Three at once would be 42000: the sum stops at the top instead of
  // wrapping round to a loud negative click.
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), INT16_MAX);
  EXPECT_GE(*std::min_element(out.begin(), out.end()), 0);
}

// ---- tiko play ---------------------------------------------------------------

// A package with one opaque box in the middle of the frame that plays a cue
// on its first frame, with the cue's wave file beside it.
std::string WriteOverlayPackage(const test::TempDir& dir, const std::string& name, uint8_t blue, uint8_t green,
                                uint8_t red) {
  authoring::PackageDesc desc;
  authoring::PictureDesc picture = test::RawBgrPicture(8, 8, kMaskNone, 0);
  for (size_t i = 0; i + 2 < picture.stored.size(); i += 3) {
    picture.stored[i] = blue;
    picture.stored[i + 1] = green;
    picture.stored[i + 2] = red;
  }
  desc.pictures = {picture};
  ActorStep show = authoring::MakeStep({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet,
                                         .y = kPosSet, .opacity = kOpacitySet, .altAdvance = kAltAdvanceNone},
                                        {.x = 3000, .y = 3000, .width = 4000, .height = 4000, .opacity = 100});
  show.cueMarker = kCueMarker;
  std::memcpy(show.cueName, "hit", 3);
  ActorStep stay{};
  stay.flags = authoring::MakeStepFlags({.advance = kAdvanceJump, .altAdvance = kAltAdvanceNone});
  stay.advanceParam = 1;
  desc.actors = {{u"box", 0, {show, stay}}};
  dir.Write("hit.wav", ConstantWave(22050, 8000, 0.1));
  return dir.Write(name, authoring::WritePackage(desc));
}

std::vector<uint8_t> PixelAt(const host::BgrImage& image, int32_t x, int32_t y) {
  const size_t at = (static_cast<size_t>(y) * image.width + x) * 3;
  return {image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]};
}

size_t CountNonBlack(const host::BgrImage& image) {
  size_t count = 0;
  for (size_t i = 0; i + 2 < image.pixels.size(); i += 3) {
    if (image.pixels[i] > 16 || image.pixels[i + 1] > 16 || image.pixels[i + 2] > 16) ++count;
  }
  return count;
}

// A command run under a fresh X server. The system's X and D-Bus libraries
// keep a few allocations to the end, so leaks are not checked there; the
// headless runs check ours. Each test looks for a free display from a number
// of its own, so that two of them started at once never race for one.
std::string UnderXvfb(int firstDisplay) {
  return "env -u SDL_VIDEODRIVER ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -n " + std::to_string(firstDisplay) +
         " -s '-screen 0 1024x768x24'";
}

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class ToolPlay : public testing::Test {
 protected:
  void SetUp() override { UseHeadlessSdl(); }

  // The window's centre shows the box, the rest mostly the test source.
  static void ExpectOverlayOnPattern(const std::string& screenshot, const std::vector<uint8_t>& boxColour) {
    std::string error;
    const std::optional<host::BgrImage> shot = host::ReadImageFile(screenshot, &error);
    ASSERT_TRUE(shot) << error;
    ASSERT_EQ(shot->width, 640);
    ASSERT_EQ(shot->height, 480);
    EXPECT_GT(CountNonBlack(*shot), shot->pixels.size() / 3 / 2);
    EXPECT_EQ(PixelAt(*shot, 320, 240), boxColour);
    EXPECT_NE(PixelAt(*shot, 5, 5), boxColour);
    EXPECT_NE(PixelAt(*shot, 634, 474), boxColour);
  }

  test::TempDir dir_;
};

TEST_F(ToolPlay, RunsFramesAndSavesTheLastPicture) {
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  const std::string shot = dir_.path() + "/shot.png";
  const auto start = std::chrono::steady_clock::now();
  const ToolRun run = RunTool("play " + package + " -i testsrc --frames 60 --fps 50 --screenshot " + shot, dir_);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Frames are paced: 60 of them at 50 a second take over a second.
  EXPECT_GT(seconds, 1.1);
  ExpectOverlayOnPattern(shot, {kOverlayBlue, kOverlayGreen, kOverlayRed});
}

TEST_F(ToolPlay, ShowsAStillPicture) {
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  host::BgrImage still;
  still.width = 64;
  still.height = 48;
  still.pixels.assign(64 * 48 * 3, 0);
  for (size_t i = 0; i < still.pixels.size(); i += 3) still.pixels[i + 1] = 150;  // green
  ASSERT_TRUE(host::WritePngFile(dir_.path() + "/still.png", still.pixels.data(), 64, 48));
  const std::string shot = dir_.path() + "/shot.png";
  const ToolRun run = RunTool(
      "play " + package + " -i " + dir_.path() + "/still.png --size 320x240 --eyes none --frames 3 --screenshot " + shot,
      dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  std::string error;
  const std::optional<host::BgrImage> image = host::ReadImageFile(shot, &error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(PixelAt(*image, 10, 10), (std::vector<uint8_t>{0, 150, 0}));
  EXPECT_EQ(PixelAt(*image, 320, 240), (std::vector<uint8_t>{kOverlayBlue, kOverlayGreen, kOverlayRed}));
}

// The package is rewritten in another colour while the preview runs: the
// new one shows without a restart.
TEST_F(ToolPlay, WatchReloadsAChangedPackage) {
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  const std::string shot = dir_.path() + "/shot.png";
  std::thread rewrite([&] {
    // Well after the first load, and early enough for a look at the file
    // before the run ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    WriteOverlayPackage(dir_, "box.tiko.new", 10, 240, 20);
    std::filesystem::rename(package + ".new", package);
  });
  const ToolRun run =
      RunTool("play " + package + " -i testsrc --eyes none --watch --frames 200 --fps 50 --screenshot " + shot, dir_);
  rewrite.join();
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectOverlayOnPattern(shot, {10, 240, 20});
}

// Eye positions read from a file move the eye actors: "$eye1" shows red and
// "$eye2" blue, each centred on its eye.
TEST_F(ToolPlay, EyeFileMovesTheEyeActors) {
  authoring::PackageDesc desc;
  const auto solid = [](uint8_t blue, uint8_t green, uint8_t red) {
    authoring::PictureDesc p = test::RawBgrPicture(16, 12, kMaskNone, 0);
    for (size_t i = 0; i + 2 < p.stored.size(); i += 3) {
      p.stored[i] = blue;
      p.stored[i + 1] = green;
      p.stored[i + 2] = red;
    }
    return p;
  };
  desc.pictures = {solid(0, 0, 255), solid(255, 0, 0)};
  const auto follow = [](int16_t picture) {
    ActorStep s{};
    s.flags =
        authoring::MakeStepFlags({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .opacity = kOpacitySet});
    s.pictureIndex = picture;
    s.width = 500;  // 16 x 12 pixels on a 320 x 240 frame
    s.height = 375;
    s.opacity = 100;
    return s;
  };
  desc.actors = {{u"$eye1", -1, {follow(0)}}, {u"$eye2", -1, {follow(1)}}};
  const std::string package = dir_.Write("eyes.tiko", authoring::WritePackage(desc));
  std::string csv = "frame,x1,y1,x2,y2\n";
  for (int frame = 0; frame < 10; ++frame) csv += std::to_string(frame) + ",80,60,240,180\n";
  const std::string eyes = dir_.Write("eyes.csv", std::vector<uint8_t>(csv.begin(), csv.end()));
  const std::string shot = dir_.path() + "/shot.png";
  const ToolRun run = RunTool(
      "play " + package + " -i color=c=black --eyes " + eyes + " --frames 10 --fps 100 --screenshot " + shot, dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  std::string error;
  const std::optional<host::BgrImage> image = host::ReadImageFile(shot, &error);
  ASSERT_TRUE(image) << error;
  // The window is twice the frame.
  EXPECT_EQ(PixelAt(*image, 160, 120), (std::vector<uint8_t>{0, 0, 255}));
  EXPECT_EQ(PixelAt(*image, 480, 360), (std::vector<uint8_t>{255, 0, 0}));
  EXPECT_EQ(PixelAt(*image, 320, 240), (std::vector<uint8_t>{0, 0, 0}));
}

// Under a real X server, as on a desktop; skipped where Xvfb is missing.
TEST_F(ToolPlay, RunsUnderXvfb) {
  if (std::system("command -v xvfb-run >/dev/null 2>&1") != 0) GTEST_SKIP() << "xvfb-run is not installed";
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  const std::string shot = dir_.path() + "/shot.png";
  const std::string command = UnderXvfb(kXvfbDisplayRun) + " " + std::string(TIKO_TOOL_PATH) + " play " + package +
                              " -i testsrc --eyes none --frames 60 --fps 50 --screenshot " + shot + " 2>" +
                              dir_.path() + "/err.txt";
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  const std::vector<uint8_t> err = authoring::ReadFileBytes(dir_.path() + "/err.txt");
  ASSERT_EQ(WEXITSTATUS(raw), 0) << std::string(err.begin(), err.end());
  ExpectOverlayOnPattern(shot, {kOverlayBlue, kOverlayGreen, kOverlayRed});
}

// The keys, pressed through the X server as a user would: n and p move
// through the folder's packages (wrapping round, past one that does not load),
// space pauses and goes on, r reloads the file from disk and q quits. The
// window's title tells which package is shown after each key.
TEST_F(ToolPlay, KeysSwitchPauseReloadAndQuit) {
  if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xvfb-run or xdotool is not installed";
  }
  WriteOverlayPackage(dir_, "a.tiko", 0, 0, 250);
  WriteOverlayPackage(dir_, "b.tiko", 0, 250, 0);
  WriteOverlayPackage(dir_, "c.tiko", 250, 0, 0);
  dir_.Write("d.tiko", {'j', 'u', 'n', 'k'});
  WriteOverlayPackage(dir_, "changed.pkg", 0, 250, 250);
  const std::string& d = dir_.path();
  // Each key is followed by waiting for the title it should give (or a
  // moment, for r, which keeps the title). The folder is the script's first
  // argument. Without a window manager the keyboard goes to the window under
  // the pointer.
  const std::string script = R"(d=$1
w=$(xdotool search --sync --onlyvisible --name '^tiko - ' | head -1)
xdotool mousemove --window "$w" 20 20
press() {
  xdotool key "$1"
  for i in $(seq 100); do t=$(xdotool getwindowname "$w"); [ "$t" = "$2" ] && break; sleep 0.05; done
  echo "$t" >> "$d/titles.txt"
}
press n 'tiko - b.tiko'; press n 'tiko - c.tiko'; press n 'tiko - d.tiko (not loaded)'
press n 'tiko - a.tiko'; press p 'tiko - d.tiko (not loaded)'; press p 'tiko - c.tiko'
press space 'tiko - c.tiko (paused)'; press space 'tiko - c.tiko'
cp "$d/changed.pkg" "$d/c.tiko"; xdotool key r; sleep 0.5; xdotool key q
)";
  dir_.Write("keys.sh", std::vector<uint8_t>(script.begin(), script.end()));
  const std::string play = "timeout 60 " + std::string(TIKO_TOOL_PATH) + " play " + d +
                           "/a.tiko -i color=c=black --eyes none --fps 50 --frames 100000 --screenshot " + d +
                           "/shot.png 2>" + d + "/err.txt";
  const std::string session = "(" + play + "; echo $? >" + d + "/status.txt) & sh " + d + "/keys.sh " + d + "; wait";
  const std::string command = UnderXvfb(kXvfbDisplayKeys) + " sh -c '" + session + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const auto text = [&](const std::string& name) {
    const std::vector<uint8_t> bytes = authoring::ReadFileBytes(d + "/" + name);
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(text("status.txt"), "0\n") << text("err.txt");
  EXPECT_EQ(text("titles.txt"),
            "tiko - b.tiko\ntiko - c.tiko\ntiko - d.tiko (not loaded)\ntiko - a.tiko\n"
            "tiko - d.tiko (not loaded)\ntiko - c.tiko\ntiko - c.tiko (paused)\ntiko - c.tiko\n");
  // One line for each time the broken package was chosen.
  const std::string err = text("err.txt");
  EXPECT_EQ(CountLines(err), 2) << err;
  EXPECT_NE(err.find("d.tiko"), std::string::npos) << err;
  // r loaded what c.tiko had become.
  std::string error;
  const std::optional<host::BgrImage> shot = host::ReadImageFile(d + "/shot.png", &error);
  ASSERT_TRUE(shot) << error;
  EXPECT_EQ(PixelAt(*shot, 320, 240), (std::vector<uint8_t>{0, 250, 250}));
}

TEST_F(ToolPlay, BadInputGivesOneLineAndStatusOne) {
  const std::string good = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  const std::string junk = dir_.Write("junk.tiko", {'n', 'o', 't', ' ', 'a', ' ', 'p', 'k', 'g'});
  const std::string shot = dir_.path() + "/never.png";
  const struct {
    std::string args;
    std::string named;
  } cases[] = {
      {"play " + junk + " -i testsrc --frames 2", junk},
      {"play " + dir_.path() + "/missing.tiko --frames 2", "missing.tiko"},
      {"play " + good + " -i " + dir_.path() + "/missing.png --frames 2", "missing.png"},
      {"play " + good + " -i " + dir_.path() + "/clip.xyz --frames 2", "clip.xyz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = RunTool(c.args + " --screenshot " + shot, dir_);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("tiko: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(shot));
  }
}

TEST_F(ToolPlay, UsageErrorsGiveStatusTwo) {
  const std::string good = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  const std::vector<std::string> cases = {"play", "play " + good + " --size 0x240", "play " + good + " --size big",
                                          "play " + good + " --frames 0", "play " + good + " --window 10"};
  for (const std::string& args : cases) {
    SCOPED_TRACE(args);
    EXPECT_EQ(RunTool(args, dir_).status, 2);
  }
}

TEST_F(ToolPlay, TheScreenshotIsTheWindowsSize) {
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  const struct {
    std::string args;
    int32_t width, height;
  } cases[] = {
      {"-i testsrc", 640, 480},  // a small frame is shown twice its size
      {"-i testsrc --window 500x300", 500, 300},
      {"-i testsrc=size=1280x720", 1280, 720},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string shot = dir_.path() + "/shot.png";
    const ToolRun run = RunTool("play " + package + " " + c.args + " --frames 2 --eyes none --screenshot " + shot, dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::optional<host::BgrImage> image = host::ReadImageFile(shot);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
  }
}

TEST_F(ToolPlay, AWideFrameKeepsPicturesRound) {
  const std::string package = dir_.Write("disc.tiko", authoring::WritePackage(test::DiscPackage()));
  const std::string shot = dir_.path() + "/wide.png";
  const ToolRun run = RunTool(
      "play " + package + " -i color=c=black:size=1280x720 --frames 2 --eyes none --screenshot " + shot, dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::optional<host::BgrImage> image = host::ReadImageFile(shot);
  ASSERT_TRUE(image);
  const test::Box box = test::WhiteBox(*image);
  ASSERT_GT(box.width(), 10);
  EXPECT_NEAR(static_cast<double>(box.width()) / box.height(), 1.0, 0.05);
}

TEST_F(ToolPlay, NoSoundDeviceIsOneLine) {
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  // SDL's own choice of sound system: on a machine without a sound card its
  // libraries have much to say, of which one line reaches the user.
  const ToolRun run = RunTool("play " + package + " -i testsrc --frames 2 --eyes none", dir_,
                              "env -u SDL_AUDIODRIVER");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LE(CountLines(run.err), 1) << run.err;
  if (!run.err.empty()) {
    EXPECT_EQ(run.err.rfind("tiko: warning: no sound: ", 0), 0u) << run.err;
  }
}

TEST_F(ToolPlay, TermAndHangUpEndThePreviewLikeQuitting) {
  const std::string package = WriteOverlayPackage(dir_, "box.tiko", kOverlayBlue, kOverlayGreen, kOverlayRed);
  for (const auto& [signal, status] : {std::pair{"TERM", 143}, std::pair{"HUP", 129}, std::pair{"INT", 130}}) {
    SCOPED_TRACE(signal);
    const std::string shot = dir_.path() + "/" + signal + ".png";
    const std::string command = std::string("timeout --preserve-status -s ") + signal + " 1.5 " + TIKO_TOOL_PATH +
                                " play " + package + " -i testsrc --eyes none --screenshot " + shot + " 2>/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), status);
    // The last picture is still saved, as on quitting.
    EXPECT_TRUE(std::filesystem::exists(shot));
  }
}

}  // namespace
}  // namespace tiko
