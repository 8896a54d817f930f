// The render command, run as a user would run it; what it writes is read
// back with FFmpeg's libraries, never with the tool's own code.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "host/image_bitmap.h"
#include "support/render_media.h"
#include "support/run_tool.h"

namespace tiko {
namespace {

using namespace test;  // NOLINT: the render suites' shared helpers
constexpr const char* kFaceFile = TIKO_TEST_DATA_DIR "/../tools/tiko/media/astronaut.jpg";

// ---- outputs ------------------------------------------------------------------

struct FormatCase {
  const char* name;
  const char* size;
  int width;
  int height;
};

TEST(ToolRender, EveryOutputFormatHoldsTheFramesAskedFor) {
  const FormatCase cases[] = {
      {"out.mp4", "320x240", 320, 240},
      {"out.mkv", "640x480", 640, 480},
      {"out.webm", "320x240", 320, 240},
      {"out.gif", "160x120", 160, 120},
  };
  TempDir dir;
  const std::string package = WritePackage(dir, "show.tiko", test::ShowPackage());
  constexpr int kFrames = 12;
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.path() + "/" + c.name;
    const ToolRun run = RunTool("render " + package + " -i testsrc -o " + out + " --size " + c.size + " --frames " +
                                    std::to_string(kFrames) + " --eyes none",
                                dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const Media media = ReadMedia(out);
    ASSERT_TRUE(media.opened);
    EXPECT_EQ(media.videoFrames, kFrames);
    EXPECT_EQ(media.width, c.width);
    EXPECT_EQ(media.height, c.height);
  }
  EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>());
}

TEST(ToolRender, PicturesAreNumberedFromZeroAndStayUpright) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string picture = WriteSplitPicture(dir, 64, 48);
  const ToolRun run =
      RunTool("render " + package + " -i " + picture + " -o " + dir.path() + "/f_%03d.png --size 320x240 --frames 3 --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (int i = 0; i < 3; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f_%03d.png", i);
    const std::optional<host::BgrImage> image = host::ReadImageFile(dir.path() + name);
    ASSERT_TRUE(image) << name;
    ASSERT_EQ(image->width, 320);
    ASSERT_EQ(image->height, 240);
    EXPECT_TRUE(IsRed(PixelAt(image->pixels, 320, 160, 20))) << name;
    EXPECT_TRUE(IsBlue(PixelAt(image->pixels, 320, 160, 220))) << name;
  }
  EXPECT_FALSE(fs::exists(dir.path() + "/f_003.png"));
  EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>());
}

// ---- sound --------------------------------------------------------------------

// The index of the first decoded frame with red in its middle, or -1.
int64_t FirstRedFrame(const Media& media) {
  for (size_t i = 0; i < media.frames.size(); ++i) {
    if (IsRed(PixelAt(media.frames[i], media.width, media.width / 2, media.height / 2))) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

// A mono cue makes a mono track (both channels would carry the same); a
// stereo one a stereo track.
TEST(ToolRender, ACueSoundsWithTheFrameThatPlaysIt) {
  for (const uint16_t channels : {1, 2}) {
    SCOPED_TRACE(channels == 1 ? "mono cue" : "stereo cue");
    TempDir dir;
    const std::string package = WritePackage(dir, "flash.tiko", FlashPackage(10, "bp"));
    WriteTone(dir.path() + "/bp.wav", channels);
    const std::string out = dir.path() + "/flash.mp4";
    const ToolRun run = RunTool("render " + package + " -o " + out + " --frames 30 --eyes none", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const Media media = ReadMedia(out, true);
    ASSERT_EQ(media.videoFrames, 30);
    ASSERT_TRUE(media.hasSound);
    EXPECT_EQ(media.soundChannels, channels);
    const int64_t flash = FirstRedFrame(media);
    ASSERT_GT(flash, 5);
    const double cueTime = static_cast<double>(flash) / kRate;
    const double start = SoundStartsAt(media.sound);
    EXPECT_NEAR(start, cueTime, 1 / kRate);
    // The tone lasts as long as the wave file, at its level.
    if (channels == 1) {
      EXPECT_NEAR(Loudest(media.sound, start, start + kToneSeconds), kToneLevel, 0.1);
    }
    EXPECT_LT(Loudest(media.sound, start + kToneSeconds + 2 / kRate, 30 / kRate), kSilence);
    // The sound track is as long as the video.
    EXPECT_NEAR(static_cast<double>(media.sound.size()) / kProbeRate, 30 / kRate, 0.1);
  }
}

TEST(ToolRender, NoSoundTrackWithoutSound) {
  TempDir dir;
  // The cue's wave file is missing: a warning, and the video has no sound.
  const std::string package = WritePackage(dir, "flash.tiko", FlashPackage(3, "zz"));
  const std::string out = dir.path() + "/quiet.mkv";
  const ToolRun run = RunTool("render " + package + " -i testsrc -o " + out + " --frames 10 --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning: cannot open sound " + dir.path() + "/zz.wav"), std::string::npos) << run.err;
  const Media media = ReadMedia(out);
  ASSERT_TRUE(media.opened);
  EXPECT_EQ(media.videoFrames, 10);
  EXPECT_FALSE(media.hasSound);
}

TEST(ToolRender, TheInputsSoundIsMixedWithTheCues) {
  TempDir dir;
  fs::create_directories(dir.path() + "/early");
  fs::create_directories(dir.path() + "/late");
  const std::string early = WritePackage(dir, "early/flash.tiko", FlashPackage(8, "bp"));
  const std::string late = WritePackage(dir, "late/flash.tiko", FlashPackage(28, "bp"));
  WriteTone(dir.path() + "/early/bp.wav");
  WriteTone(dir.path() + "/late/bp.wav");
  const std::string first = dir.path() + "/first.mkv";
  const std::string second = dir.path() + "/second.mp4";
  ASSERT_EQ(RunTool("render " + early + " -o " + first + " --frames 40 --eyes none", dir).status, 0);
  const ToolRun run = RunTool("render " + late + " -i " + first + " -o " + second + " --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;

  const Media in = ReadMedia(first, true);
  const Media out = ReadMedia(second, true);
  ASSERT_EQ(out.videoFrames, 40);
  ASSERT_TRUE(out.hasSound);
  const double firstCue = static_cast<double>(FirstRedFrame(in)) / kRate;
  // The second package's flash is the first red frame after the input's.
  int64_t secondFlash = -1;
  for (size_t i = static_cast<size_t>(firstCue * kRate) + 2; i < out.frames.size() && secondFlash < 0; ++i) {
    if (IsRed(PixelAt(out.frames[i], out.width, out.width / 2, out.height / 2))) secondFlash = static_cast<int64_t>(i);
  }
  ASSERT_GT(secondFlash, 0);
  const double secondCue = static_cast<double>(secondFlash) / kRate;
  ASSERT_GT(secondCue - firstCue, 4 * kToneSeconds);

  EXPECT_NEAR(SoundStartsAt(out.sound), firstCue, 1 / kRate);
  EXPECT_NEAR(SoundStartsAt(out.sound, firstCue + 2 * kToneSeconds), secondCue, 1 / kRate);
  EXPECT_LT(Loudest(out.sound, firstCue + 2 * kToneSeconds, secondCue - 2 / kRate), kSilence);
}

TEST(ToolRender, AnotherFrameRateRepeatsOrDropsInputFrames) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string clip = dir.path() + "/clip.mkv";
  ASSERT_EQ(RunTool("render " + package + " -i testsrc -o " + clip + " --frames 20 --eyes none", dir).status, 0);
  for (const auto& [fps, frames] : {std::pair{"50", 40}, std::pair{"10", 8}}) {
    SCOPED_TRACE(fps);
    const std::string out = dir.path() + "/at" + fps + ".mkv";
    const ToolRun run = RunTool("render " + package + " -i " + clip + " -o " + out + " --fps " + fps, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadMedia(out).videoFrames, frames);
  }
}

// ---- eyes ---------------------------------------------------------------------

// The middle of the pixels of a colour around (x, y), or nothing.
std::optional<std::pair<double, double>> CentreOf(const host::BgrImage& image, bool (*is)(Bgr), int x, int y) {
  constexpr int kReach = 30;
  double sx = 0, sy = 0;
  int count = 0;
  for (int py = std::max(0, y - kReach); py < std::min(image.height, y + kReach); ++py) {
    for (int px = std::max(0, x - kReach); px < std::min(image.width, x + kReach); ++px) {
      if (is(PixelAt(image.pixels, image.width, px, py))) {
        sx += px;
        sy += py;
        ++count;
      }
    }
  }
  if (count == 0) return std::nullopt;
  return std::pair{sx / count, sy / count};
}

TEST(ToolRender, AnEyeFileMovesTheEyeActors) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string csv = dir.path() + "/eyes.csv";
  // The second eye starts hidden; the first one stands still for a while.
  std::ofstream(csv) << "frame,x1,y1,x2,y2\n"
                        "0,80,60,-1,-1\n1,80,60,240,180\n2,80,60,240,180\n3,80,60,240,180\n"
                        "# the face moves\n"
                        "4,160,120,40,200\n5,160,120,40,200\n6,160,120,,\n";
  const ToolRun run = RunTool("render " + package + " -o " + dir.path() + "/e_%d.png --frames 7 --eyes " + csv, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  struct Expect {
    int frame;
    bool (*is)(Bgr);
    int x, y;
  };
  // At 320 x 240 the eye space is the picture itself.
  const Expect expects[] = {{2, IsGreen, 80, 60}, {3, IsBlue, 240, 180},  {4, IsGreen, 160, 120},
                            {4, IsBlue, 40, 200}, {6, IsGreen, 160, 120}, {6, IsBlue, 40, 200}};
  for (const Expect& e : expects) {
    SCOPED_TRACE(testing::Message() << "frame " << e.frame << " at " << e.x << "," << e.y);
    const std::optional<host::BgrImage> image =
        host::ReadImageFile(dir.path() + "/e_" + std::to_string(e.frame) + ".png");
    ASSERT_TRUE(image);
    const auto centre = CentreOf(*image, e.is, e.x, e.y);
    ASSERT_TRUE(centre);
    EXPECT_NEAR(centre->first, e.x, 1.5);
    EXPECT_NEAR(centre->second, e.y, 1.5);
  }
  // Where the eyes were before they moved, nothing is left.
  const std::optional<host::BgrImage> last = host::ReadImageFile(dir.path() + "/e_6.png");
  ASSERT_TRUE(last);
  EXPECT_TRUE(IsBlack(PixelAt(last->pixels, 320, 80, 60)));
  EXPECT_TRUE(IsBlack(PixelAt(last->pixels, 320, 240, 180)));

  // Without eyes the actors never show.
  ASSERT_EQ(RunTool("render " + package + " -o " + dir.path() + "/n_%d.png --frames 3 --eyes none", dir).status, 0);
  const std::optional<host::BgrImage> none = host::ReadImageFile(dir.path() + "/n_2.png");
  ASSERT_TRUE(none);
  EXPECT_EQ(std::count(none->pixels.begin(), none->pixels.end(), 0), static_cast<long>(none->pixels.size()));
}

TEST(ToolRender, FindsTheEyesOfARealFace) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string csv = dir.path() + "/found.csv";
  const ToolRun run = RunTool("render " + package + " -i " + kFaceFile + " -o " + dir.path() +
                                  "/face_%d.png --size 320x240 --frames 4 --eyes auto --eyes-out " + csv,
                              dir);
  ASSERT_EQ(run.status, 0) << run.err;
  // Where the eyes of this picture are, in the 320 x 240 eye space (see
  // tools/tiko/media/README.md).
  constexpr double kTruth[2][2] = {{122, 72}, {154, 74}};
  constexpr double kTolerance = 6;
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "frame,x1,y1,x2,y2");
  int lines = 0;
  for (; std::getline(in, line); ++lines) {
    int frame, x1, y1, x2, y2;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d,%d", &frame, &x1, &y1, &x2, &y2), 5) << line;
    EXPECT_EQ(frame, lines);
    EXPECT_NEAR(x1, kTruth[0][0], kTolerance) << line;
    EXPECT_NEAR(y1, kTruth[0][1], kTolerance) << line;
    EXPECT_NEAR(x2, kTruth[1][0], kTolerance) << line;
    EXPECT_NEAR(y2, kTruth[1][1], kTolerance) << line;
  }
  EXPECT_EQ(lines, 4);
  const std::optional<host::BgrImage> image = host::ReadImageFile(dir.path() + "/face_3.png");
  ASSERT_TRUE(image);
  EXPECT_TRUE(IsGreen(PixelAt(image->pixels, 320, 122, 72)));
  EXPECT_TRUE(IsBlue(PixelAt(image->pixels, 320, 154, 74)));
}

// Pans a 320 x 240 window over the face picture; gives where the eyes are in
// each frame.
std::vector<std::array<double, 4>> WritePan(const TempDir& dir, int frames) {
  const std::optional<host::BgrImage> face = host::ReadImageFile(kFaceFile);
  EXPECT_TRUE(face);
  if (!face) return {};
  std::vector<std::array<double, 4>> truth;
  for (int n = 0; n < frames; ++n) {
    const double t = n / kRate;
    const int left = static_cast<int>(std::lround(64 + 60 * std::sin(1.3 * t)));
    const int top = static_cast<int>(std::lround(48 + 40 * std::sin(0.9 * t)));
    std::vector<uint8_t> window;
    for (int y = 0; y < 240; ++y) {
      const uint8_t* row = face->pixels.data() + (static_cast<size_t>(top + y) * face->width + left) * 3;
      window.insert(window.end(), row, row + 320 * 3);
    }
    char name[32];
    std::snprintf(name, sizeof name, "/pan_%03d.png", n);
    EXPECT_TRUE(host::WritePngFile(dir.path() + name, window.data(), 320, 240));
    // The eyes' places in the picture: see tools/tiko/media/README.md.
    truth.push_back({171.0 - left, 101.0 - top, 215.0 - left, 103.0 - top});
  }
  return truth;
}

TEST(ToolRender, FollowsTheEyesOfAMovingFace) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  constexpr int kFrames = 50;
  const std::vector<std::array<double, 4>> truth = WritePan(dir, kFrames);
  ASSERT_EQ(truth.size(), static_cast<size_t>(kFrames));
  const std::string csv = dir.path() + "/found.csv";
  const ToolRun run = RunTool("render " + package + " -i " + dir.path() + "/pan_%03d.png -o " + dir.path() +
                                  "/out.mkv --eyes auto --eyes-out " + csv,
                              dir);
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  int found = 0;
  while (std::getline(in, line)) {
    int frame, x1, y1, x2, y2;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d,%d", &frame, &x1, &y1, &x2, &y2), 5) << line;
    ASSERT_LT(frame, kFrames);
    const auto& t = truth[static_cast<size_t>(frame)];
    EXPECT_LE(std::hypot(x1 - t[0], y1 - t[1]), 8) << line;
    EXPECT_LE(std::hypot(x2 - t[2], y2 - t[3]), 8) << line;
    ++found;
  }
  EXPECT_EQ(found, kFrames);
}

TEST(ToolRender, ABackgroundAndAnOffsetPlaceThePicture) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string picture = WriteSplitPicture(dir, 320, 240);
  const ToolRun run = RunTool("render " + package + " --background " + picture + " --at 40,30 -o " + dir.path() +
                                  "/b_%d.png --frames 2 --eyes none",
                              dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::optional<host::BgrImage> image = host::ReadImageFile(dir.path() + "/b_1.png");
  ASSERT_TRUE(image);
  EXPECT_TRUE(IsBlack(PixelAt(image->pixels, 320, 20, 15)));  // uncovered by the shifted frame
  EXPECT_TRUE(IsRed(PixelAt(image->pixels, 320, 60, 40)));
  EXPECT_TRUE(IsRed(PixelAt(image->pixels, 320, 100, 30 + 119)));
  EXPECT_TRUE(IsBlue(PixelAt(image->pixels, 320, 100, 30 + 121)));
}

// ---- bad input ----------------------------------------------------------------

struct BadCase {
  const char* what;
  std::string args;
  int status;
  std::string message;  // a part of the one line on stderr
};

TEST(ToolRender, BadInputNamesTheThingAtFault) {
  TempDir dir;
  const std::string d = dir.path();
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  dir.Write("junk.tiko", std::vector<uint8_t>(600, 0x5A));
  dir.Write("notes.txt", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
  const std::string out = d + "/out.mp4";
  const BadCase cases[] = {
      {"missing package", "render " + d + "/none.tiko -i testsrc -o " + out, 1,
       "tiko: cannot open package " + d + "/none.tiko: No such file or directory"},
      {"malformed package", "render " + d + "/junk.tiko -i testsrc -o " + out, 1,
       "tiko: cannot load package " + d + "/junk.tiko: not a valid package file"},
      {"missing input", "render " + package + " -i " + d + "/none.mp4 -o " + out, 1,
       "tiko: cannot open input " + d + "/none.mp4: No such file or directory"},
      {"unsupported input", "render " + package + " -i " + d + "/notes.txt -o " + out, 1,
       "tiko: unsupported input " + d + "/notes.txt"},
      {"camera that cannot be opened", "render " + package + " -i /dev/video97 -o " + out, 1,
       "tiko: cannot open camera /dev/video97:"},
      {"missing background", "render " + package + " --background " + d + "/none.png -o " + out, 1,
       "tiko: cannot read picture " + d + "/none.png"},
      {"unsupported output", "render " + package + " -i testsrc -o " + d + "/out.xyz", 1,
       "tiko: unsupported output " + d + "/out.xyz"},
      {"PNG without a number", "render " + package + " -i testsrc -o " + d + "/out.png", 1,
       "tiko: unsupported output " + d + "/out.png: numbered PNG files need one %d"},
      {"output folder missing", "render " + package + " -i testsrc -o " + d + "/no/such/out.mp4", 1,
       "tiko: cannot write " + d + "/no/such/out.mp4: No such file or directory"},
      {"output is a folder", "render " + package + " -i testsrc -o " + d, 1,
       "tiko: cannot write " + d + ": it is a folder"},
      {"odd size for 4:2:0 video", "render " + package + " -i testsrc --size 321x240 -o " + out, 1,
       "tiko: cannot write " + out + ": libx264 needs an even width and height, not 321x240"},
      {"missing eye file", "render " + package + " -i testsrc --eyes " + d + "/none.csv -o " + out, 1,
       "tiko: cannot open eye file " + d + "/none.csv"},
      {"bad size", "render " + package + " -i testsrc --size 320by240 -o " + out, 2, "--size"},
      {"zero frames", "render " + package + " -i testsrc --frames 0 -o " + out, 2, "--frames"},
      {"bad rate", "render " + package + " -i testsrc --fps -5 -o " + out, 2, "--fps"},
      {"bad offset", "render " + package + " -i testsrc --at 4 -o " + out, 2, "--at"},
      {"no output", "render " + package + " -i testsrc", 2, "--output"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolRun run = RunTool(c.args + " --frames 3", dir);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    if (c.status == 1) {
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(HiddenFiles(d), std::vector<std::string>());
  }
}

}  // namespace
}  // namespace tiko
