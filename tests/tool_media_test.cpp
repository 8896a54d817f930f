// The tools with real-world inputs and real-world mistakes: files that must
// never be written over, damaged and short media, signals, frame shapes and
// rates, and usage errors. Inputs are made here with FFmpeg's libraries or
// by the tool itself; outputs are read back with FFmpeg's libraries.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "host/media/audio.h"
#include "host/media/common.h"
#include "host/media/cue_mix.h"
#include "host/media/input.h"
#include "host/media/output.h"
#include "host/channel.h"
#include "host/files.h"
#include "support/render_media.h"
#include "support/disc_package.h"
#include "support/heap_picture.h"
#include "support/run_tool.h"

namespace tiko {
namespace {

using namespace test;  // NOLINT: the render suites' shared helpers

std::vector<uint8_t> Bytes(const std::string& path) { return authoring::ReadFileBytes(path); }

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Every file and folder in `dir`, by name.
std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

// A clip of raw BGR pictures (each a flat grey of 3 x its index) and, when
// asked, silent 16-bit stereo sound, in NUT: packets listed in `badVideo` or
// `badSound` are cut short, so that their decoders refuse them.
struct ClipSpec {
  const char* muxer = "nut";
  int width = 64;
  int height = 48;
  int frames = 50;
  AVRational timeBase{1, 25};
  std::vector<int64_t> pts;  // the frames' times in timeBase; empty: 0, 1, 2, ...
  bool sound = false;
  std::set<int> badVideo;
  std::set<int> badSound;
};

constexpr int kClipSoundRate = 48000;

void WriteClip(const std::string& path, const ClipSpec& c) {
  AVFormatContext* format = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&format, nullptr, c.muxer, path.c_str()), 0);
  AVStream* video = avformat_new_stream(format, nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  video->codecpar->format = AV_PIX_FMT_BGR24;
  // Without its tag the layout would be guessed from the depth alone.
  video->codecpar->codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_BGR24);
  video->codecpar->width = c.width;
  video->codecpar->height = c.height;
  video->time_base = c.timeBase;
  AVStream* audio = nullptr;
  if (c.sound) {
    audio = avformat_new_stream(format, nullptr);
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    av_channel_layout_default(&audio->codecpar->ch_layout, 2);
    audio->codecpar->sample_rate = kClipSoundRate;
    audio->codecpar->format = AV_SAMPLE_FMT_S16;
    audio->codecpar->block_align = 4;
    audio->codecpar->bits_per_coded_sample = 16;
    audio->time_base = AVRational{1, kClipSoundRate};
  }
  ASSERT_GE(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(format, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  const int samplesPerFrame = static_cast<int>(kClipSoundRate * av_q2d(c.timeBase));
  for (int i = 0; i < c.frames; ++i) {
    const int size = c.badVideo.count(i) != 0 ? 10 : c.width * c.height * 3;
    ASSERT_GE(av_new_packet(packet, size), 0);
    std::memset(packet->data, (i * 3) & 0xFF, static_cast<size_t>(size));
    packet->pts = packet->dts = c.pts.empty() ? i : c.pts[static_cast<size_t>(i)];
    // Each frame lasts until the next one (the last as long as the one before).
    const auto at = [&c](int n) { return c.pts.empty() ? int64_t{n} : c.pts[static_cast<size_t>(n)]; };
    packet->duration = i + 1 < c.frames ? at(i + 1) - at(i) : (i > 0 ? at(i) - at(i - 1) : 1);
    packet->stream_index = video->index;
    packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet, c.timeBase, video->time_base);
    ASSERT_GE(av_interleaved_write_frame(format, packet), 0);
    if (audio != nullptr) {
      const int bytes = c.badSound.count(i) != 0 ? 3 : samplesPerFrame * 4;
      ASSERT_GE(av_new_packet(packet, bytes), 0);
      std::memset(packet->data, 0, static_cast<size_t>(bytes));
      packet->pts = packet->dts = int64_t{i} * samplesPerFrame;
      packet->duration = samplesPerFrame;
      packet->stream_index = audio->index;
      ASSERT_GE(av_interleaved_write_frame(format, packet), 0);
    }
  }
  av_packet_free(&packet);
  ASSERT_GE(av_write_trailer(format), 0);
  avio_closep(&format->pb);
  avformat_free_context(format);
}

// Runs the tool and sends it `signal` after `seconds`; gives its exit status.
int RunAndSignal(const std::string& args, const TempDir& dir, const char* signal, double seconds) {
  const std::string command = std::string("timeout --preserve-status -s ") + signal + " " + std::to_string(seconds) +
                              " " + TIKO_TOOL_PATH + " " + args + " 2>" + Quoted(dir.path() + "/signal.txt");
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// ---- no file is written over ------------------------------------------------------

struct OverwriteCase {
  const char* what;
  std::string args;
  std::string option;  // the option the one line names
};

TEST(ToolFiles, NothingIsWrittenOverAFileTheCommandUses) {
  TempDir dir;
  const std::string d = dir.path();
  const std::string package = WritePackage(dir, "show.tiko", EyePackage());
  const std::string picture = WriteSplitPicture(dir, 64, 48);
  std::ofstream(d + "/eyes.csv") << "0,10,10,20,20\n";
  fs::create_directories(d + "/sub");
  fs::create_symlink(package, d + "/link.mp4");
  fs::create_hard_link(package, d + "/hard.mp4");
  fs::copy_file(picture, d + "/f_001.png");
  // Every file that exists now, with its bytes: none may change.
  std::map<std::string, std::vector<uint8_t>> before;
  for (const std::string& name : Names(d)) {
    if (fs::is_regular_file(d + "/" + name)) before[name] = Bytes(d + "/" + name);
  }
  const std::string r = "render " + package + " --frames 2 --eyes none ";
  const OverwriteCase cases[] = {
      {"package by another spelling", r + "-o " + d + "/sub/../show.tiko", "-o"},
      {"package, relative", "render show.tiko --frames 2 --eyes none -o ./show.tiko", "-o"},
      {"a symbolic link to the package", r + "-o " + d + "/link.mp4", "-o"},
      {"a hard link to the package", r + "-o " + d + "/hard.mp4", "-o"},
      {"the input", "render " + package + " -i " + picture + " -o " + picture + " --frames 2 --eyes none", "-o"},
      {"a numbered output naming the input",
       "render " + package + " -i " + d + "/f_001.png -o " + d + "/f_%03d.png --frames 2 --eyes none", "-o"},
      {"the background", r + "--background " + picture + " -o " + picture, "-o"},
      {"the eye file", "render " + package + " --eyes " + d + "/eyes.csv -o out.mp4 --eyes-out " + d + "/eyes.csv",
       "--eyes-out"},
      {"the eye file as output", "render " + package + " --eyes eyes.csv -o eyes.csv", "-o"},
      {"two outputs in one", r + "-o " + d + "/both.mp4 --eyes-out " + d + "/sub/../both.mp4", "--eyes-out"},
      {"a screenshot over the package", "play " + package + " -i testsrc --frames 2 --eyes none --screenshot " + package,
       "--screenshot"},
  };
  for (const OverwriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolRun run = RunTool(c.args, dir);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(Lines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("tiko: " + c.option + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("is the same file as"), std::string::npos) << run.err;
    for (const auto& [name, bytes] : before) EXPECT_EQ(Bytes(d + "/" + name), bytes) << name;
    std::set<std::string> now = Names(d);
    now.erase("stderr.txt");
    std::set<std::string> expected;
    for (const auto& entry : before) expected.insert(entry.first);
    expected.insert("sub");
    EXPECT_EQ(now, expected);
  }
}

// ---- paths are checked first -----------------------------------------------------

TEST(ToolFiles, AnOutputThatCannotBeWrittenFailsBeforeTheWork) {
  TempDir dir;
  const std::string d = dir.path();
  const std::string package = WritePackage(dir, "show.tiko", EyePackage());
  fs::create_directories(d + "/folder");
  const struct {
    const char* what;
    std::string args;
    std::string message;
  } cases[] = {
      {"eye file in a missing folder", "--eyes-out " + d + "/no/eyes.csv",
       "tiko: cannot write " + d + "/no/eyes.csv: No such file or directory"},
      {"eye file that is a folder", "--eyes-out " + d + "/folder", "tiko: cannot write " + d + "/folder: it is a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A long render: were the check left to the end, the output would be
    // there by then.
    const ToolRun run = RunTool("render " + package + " -i testsrc -o " + d + "/out.mp4 --eyes none " + c.args, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.message + "\n");
    EXPECT_FALSE(fs::exists(d + "/out.mp4"));
    EXPECT_EQ(HiddenFiles(d), std::vector<std::string>());
  }
}

// ---- signals ----------------------------------------------------------------------

TEST(ToolFiles, ASignalFinishesTheOutputAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const struct {
    const char* signal;
    int status;
  } cases[] = {{"INT", 130}, {"TERM", 143}, {"HUP", 129}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    const std::string out = dir.path() + "/long-" + c.signal + ".mp4";
    const int status =
        RunAndSignal("render " + package + " -i testsrc -o " + out + " --frames 100000 --eyes none", dir, c.signal, 4);
    EXPECT_EQ(status, c.status);
    const Media media = ReadMedia(out);
    ASSERT_TRUE(media.opened);
    EXPECT_GT(media.videoFrames, 0);
    EXPECT_LT(media.videoFrames, 100000);
    EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>());
  }
  // Killed outright: neither the output nor any temporary file is left.
  const std::string killed = dir.path() + "/killed.mp4";
  RunAndSignal("render " + package + " -i testsrc -o " + killed + " --frames 100000 --eyes none", dir, "KILL", 1.5);
  EXPECT_FALSE(fs::exists(killed));
  const std::string pictures = dir.path() + "/k_%04d.png";
  RunAndSignal("render " + package + " -i testsrc -o " + pictures + " --frames 100000 --eyes none", dir, "KILL", 1.5);
  EXPECT_EQ(HiddenFiles(dir.path()), std::vector<std::string>());
}

// ---- damaged and short media ---------------------------------------------------------

TEST(ToolMedia, DamagedPacketsAreSkippedWithOneWarning) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string clip = dir.path() + "/damaged.nut";
  ClipSpec spec;
  spec.sound = true;
  spec.badVideo = {10, 20};
  spec.badSound = {5};
  WriteClip(clip, spec);
  const std::string out = dir.path() + "/out.mkv";
  const ToolRun run = RunTool("render " + package + " -i " + clip + " -o " + out + " --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "tiko: warning: skipped 2 video packets and 1 sound packet of " + clip + " that did not decode\n");
  const Media media = ReadMedia(out);
  EXPECT_EQ(media.videoFrames, spec.frames);
  EXPECT_TRUE(media.hasSound);
}

TEST(ToolMedia, AnInputThatEndsEarlySaysSo) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string clip = dir.path() + "/clip.mkv";
  ASSERT_EQ(RunTool("render " + package + " -i testsrc -o " + clip + " --size 64x48 --frames 100 --eyes none", dir)
                .status,
            0);
  // The download stopped half way: the header still says 4 seconds.
  fs::resize_file(clip, fs::file_size(clip) / 2);
  const ToolRun run = RunTool("render " + package + " -i " + clip + " -o " + dir.path() + "/out.mp4 --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.err), 1) << run.err;
  EXPECT_NE(run.err.find("tiko: warning: " + clip + " ends at "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("before the 4.00 s it states: rendered "), std::string::npos) << run.err;
  const Media media = ReadMedia(dir.path() + "/out.mp4");
  EXPECT_GT(media.videoFrames, 10);
  EXPECT_LT(media.videoFrames, 90);
}

// ---- frame rates ------------------------------------------------------------------

TEST(ToolMedia, EveryRateInItsRangeGivesTheFramesOfItsTimes) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string clip = dir.path() + "/three-seconds.nut";
  ClipSpec spec;
  spec.frames = 75;
  WriteClip(clip, spec);
  const struct {
    const char* fps;
    int frames;
  } cases[] = {{"0.5", 2}, {"0.1", 1}, {"1", 3}, {"25", 75}, {"60", 180}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fps);
    const std::string name = std::string("r") + c.fps + "_%03d.png";
    const ToolRun run = RunTool("render " + package + " -i " + clip + " -o " + dir.path() + "/" + name +
                                    " --eyes none --fps " + c.fps,
                                dir);
    ASSERT_EQ(run.status, 0) << run.err;
    int frames = 0;
    for (const std::string& file : Names(dir.path())) frames += file.rfind(std::string("r") + c.fps + "_", 0) == 0;
    EXPECT_EQ(frames, c.frames);
  }
  // At half a frame a second the second picture is the input's at 2 s.
  const std::optional<host::BgrImage> second = host::ReadImageFile(dir.path() + "/r0.5_001.png");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->pixels[0], 50 * 3);
}

TEST(ToolMedia, AVariableRateInputGivesACommonRate) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  // NUT keeps no average rate: a QuickTime file does.
  const std::string clip = dir.path() + "/variable.mov";
  ClipSpec spec;
  spec.muxer = "mov";
  spec.timeBase = AVRational{1, 1000};
  spec.frames = 48;
  // Frames 33 and 50 ms apart in turn: 24.1 frames a second on average.
  for (int i = 0; i < spec.frames; ++i) spec.pts.push_back(i / 2 * 83 + (i % 2) * 33);
  WriteClip(clip, spec);
  const std::string out = dir.path() + "/out.mkv";
  const ToolRun run = RunTool("render " + package + " -i " + clip + " -o " + out + " --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NEAR(ReadMedia(out).rate, 24, 1e-6);
  // The rate the user names wins.
  const ToolRun named = RunTool("render " + package + " -i " + clip + " -o " + out + " --eyes none --fps 30", dir);
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_NEAR(ReadMedia(out).rate, 30, 1e-6);
}

// ---- sizes and proportions ---------------------------------------------------------

TEST(ToolMedia, TheOutputTakesTheInputsOwnSize) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string picture = dir.path() + "/wide.png";
  fs::copy_file(WriteSplitPicture(dir, 200, 100), picture);
  const std::string odd = dir.path() + "/odd.png";
  fs::copy_file(WriteSplitPicture(dir, 201, 99), odd);
  const std::string clip = dir.path() + "/clip.nut";
  ClipSpec spec;
  spec.width = 176;
  spec.height = 144;
  spec.frames = 3;
  WriteClip(clip, spec);
  const struct {
    const char* what;
    std::string input;
    const char* output;
    int width, height;
  } cases[] = {
      {"generated source with a size", "testsrc=size=1280x720", "hd.mp4", 1280, 720},
      {"video file", clip, "clip.mkv", 176, 144},
      {"picture", picture, "pic_%d.png", 200, 100},
      {"generated source without one", "testsrc", "small.mp4", 320, 240},
      {"odd picture into a video: even sides", odd, "odd.mp4", 200, 98},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir.path() + "/" + c.output;
    const ToolRun run = RunTool("render " + package + " -i " + c.input + " -o " + out + " --frames 2 --eyes none", dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string first = out.find('%') != std::string::npos ? dir.path() + "/pic_0.png" : out;
    const Media media = ReadMedia(first);
    EXPECT_EQ(media.width, c.width);
    EXPECT_EQ(media.height, c.height);
  }
}

TEST(ToolMedia, RoundPicturesStayRoundOnWideFrames) {
  TempDir dir;
  const std::string package = WritePackage(dir, "disc.tiko", DiscPackage());
  const struct {
    const char* size;
    const char* stage;
    double ratio;  // width over height of the disc
    double tolerance;
  } cases[] = {
      {"1280x720", "cover", 1.0, 0.05}, {"1920x1080", "cover", 1.0, 0.05}, {"1280x720", "fit", 1.0, 0.05},
      {"640x480", "cover", 1.0, 0.05},  {"480x640", "cover", 1.0, 0.05},
      // The stage stretched over the frame: the disc as wide as the frame is.
      {"1280x720", "stretch", (1280.0 / 720) / (4.0 / 3), 0.05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.size) + " " + c.stage);
    const std::string out = dir.path() + "/d_" + c.size + c.stage + "_%d.png";
    const ToolRun run = RunTool("render " + package + " -i color=c=black:size=" + c.size + " -o " + out +
                                    " --frames 1 --eyes none --stage " + c.stage,
                                dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::optional<host::BgrImage> image =
        host::ReadImageFile(dir.path() + "/d_" + c.size + c.stage + "_0.png");
    ASSERT_TRUE(image);
    const Box box = WhiteBox(*image);
    ASSERT_GT(box.width(), 10);
    EXPECT_NEAR(static_cast<double>(box.width()) / box.height(), c.ratio, c.tolerance * c.ratio);
    // In the middle of the frame, give or take the stage's rounding.
    EXPECT_NEAR((box.left + box.right) / 2.0, image->width / 2.0, 0.005 * image->width);
    EXPECT_NEAR((box.top + box.bottom) / 2.0, image->height / 2.0, 0.005 * image->height);
  }
}

TEST(ToolMedia, EyeActorsFollowEyesAnywhereInAWideFrame) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string csv = dir.path() + "/corners.csv";
  {
    std::ofstream out(csv);
    for (int frame = 0; frame < 3; ++frame) out << frame << ",20,20,300,220\n";
  }
  const ToolRun run = RunTool("render " + package + " -i color=c=black:size=1280x720 -o " + dir.path() +
                                  "/e_%d.png --frames 3 --eyes " + csv,
                              dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::optional<host::BgrImage> last = host::ReadImageFile(dir.path() + "/e_2.png");
  ASSERT_TRUE(last);
  // The eye space lies over the frame: (20, 20) is (80, 60) of 1280 x 720.
  EXPECT_TRUE(IsGreen(PixelAt(last->pixels, 1280, 80, 60)));
  EXPECT_TRUE(IsBlue(PixelAt(last->pixels, 1280, 1200, 660)));
}

// ---- eye files ------------------------------------------------------------------------

TEST(ToolMedia, EyeLinesHideBothAndDoubtfulLinesAreWarnedAbout) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string csv = dir.path() + "/eyes.csv";
  std::ofstream(csv) << "frame,x1,y1,x2,y2\n"
                        "0,80,60,240,180\n1,80,60,240,180\n2,80,60,240,180\n"
                        "3,-1,-1,,\n"                   // hides both at once
                        "4,one,60,240,180\n"            // skipped, with a warning
                        "5,80,60,240,180\n6,80,60,240,180\n"
                        "7,400,60,240,180\n";           // outside the eye space: kept, with a warning
  const ToolRun run =
      RunTool("render " + package + " -o " + dir.path() + "/e_%d.png --size 320x240 --frames 8 --eyes " + csv, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.err), 2) << run.err;
  EXPECT_NE(run.err.find("tiko: warning: " + csv + ":6: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("tiko: warning: " + csv + ":9: "), std::string::npos) << run.err;
  const auto frame = [&](int n) { return *host::ReadImageFile(dir.path() + "/e_" + std::to_string(n) + ".png"); };
  // Before the hide, and again after it, each eye on its own actors.
  for (int n : {2, 6}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(IsGreen(PixelAt(frame(n).pixels, 320, 80, 60)));
    EXPECT_TRUE(IsBlue(PixelAt(frame(n).pixels, 320, 240, 180)));
  }
  for (int n : {3, 4}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(IsBlack(PixelAt(frame(n).pixels, 320, 80, 60)));
    EXPECT_TRUE(IsBlack(PixelAt(frame(n).pixels, 320, 240, 180)));
  }
}

// ---- usage errors ----------------------------------------------------------------------

TEST(ToolMedia, UsageErrorsAreOneLineNamingTheOption) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string r = "render " + package + " -o " + dir.path() + "/out.mp4 ";
  const std::string p = "play " + package + " -i testsrc ";
  const struct {
    std::string args;
    std::string line;
  } cases[] = {
      {r + "--frames 0", "tiko: --frames: expected a whole number of 1 or more, not \"0\""},
      {r + "--frames 2.5", "tiko: --frames: expected a whole number of 1 or more, not \"2.5\""},
      {r + "--fps nan", "tiko: --fps: expected frames a second from 0.1 to 1000, not \"nan\""},
      {r + "--fps inf", "tiko: --fps: expected frames a second from 0.1 to 1000, not \"inf\""},
      {r + "--fps 0.05", "tiko: --fps: expected frames a second from 0.1 to 1000, not \"0.05\""},
      {r + "--size 0x240", "tiko: --size: expected WIDTHxHEIGHT with sides from 1 to 65535, such as 640x480, not \"0x240\""},
      {r + "--size 70000x10",
       "tiko: --size: expected WIDTHxHEIGHT with sides from 1 to 65535, such as 640x480, not \"70000x10\""},
      {r + "--at 4", "tiko: --at: expected X,Y in pixels, such as 16,-8, not \"4\""},
      {r + "--stage round", "tiko: --stage: expected cover, fit or stretch, not \"round\""},
      {p + "--fps nan", "tiko: --fps: expected frames a second from 0.1 to 1000, not \"nan\""},
      {p + "--frames -1", "tiko: --frames: expected a whole number of 1 or more, not \"-1\""},
      {p + "--size 320by240", "tiko: --size: expected WIDTHxHEIGHT with sides from 1 to 65535, such as 640x480, not \"320by240\""},
      {p + "--window 0x0", "tiko: --window: expected WIDTHxHEIGHT with sides from 1 to 65535, such as 640x480, not \"0x0\""},
      {"render " + package, "tiko: --output is required (see tiko render --help)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = RunTool(c.args, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, c.line + "\n");
  }
  // The kinds of output a message lists are the kinds that are written.
  const ToolRun unknown = RunTool(r.substr(0, r.find(" -o ")) + " -o " + dir.path() + "/out.xyz --frames 1", dir);
  const std::string listed = unknown.err.substr(unknown.err.find("use ") + 4);
  for (const char* ending : {".mp4", ".mov", ".mkv", ".webm", ".avi", ".gif"}) {
    SCOPED_TRACE(ending);
    EXPECT_NE(listed.find(ending), std::string::npos) << listed;
    const std::string out = dir.path() + "/kind" + ending;
    const ToolRun run = RunTool("render " + package + " -i testsrc -o " + out + " --frames 2 --eyes none", dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadMedia(out).videoFrames, 2);
  }
}

// ---- the progress bar --------------------------------------------------------------------

TEST(ToolMedia, TheProgressBarEndsAtAHundredPercentOnItsOwnLine) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  // The bar shows only on a terminal: `script` gives the tool one.
  const std::string log = dir.path() + "/terminal.txt";
  const std::string command = "script -qec " +
                              Quoted(std::string(TIKO_TOOL_PATH) + " render " + package + " -i testsrc -o " +
                                     dir.path() + "/out.mp4 --frames 30 --eyes none") +
                              " " + Quoted(log) + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(log);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t last = text.rfind("\r[");
  ASSERT_NE(last, std::string::npos) << text;
  const std::string finalLine = text.substr(last);
  EXPECT_NE(finalLine.find("100%  30/30 frames"), std::string::npos) << finalLine;
  EXPECT_NE(finalLine.find('\n'), std::string::npos) << finalLine;
}

// Frames converted straight into a caller's buffer, rows any distance
// apart, are the frames FrameAt hands out: new frames, frames shown again
// (an output faster than its input), pictures, and the end.
TEST(VideoInput, FramesWrittenIntoAnyRowsAreTheFramesHandedOut) {
  TempDir dir;
  const std::string picture = WriteSplitPicture(dir, 30, 20);
  struct Case {
    std::string spec;
    int32_t width, height;
    double rate;
    bool picture;
  };
  const Case cases[] = {{"testsrc=size=48x36:rate=10:duration=1", 0, 0, 25, false},
                        {"testsrc=size=48x36:rate=10:duration=1", 33, 17, 7, false},
                        {picture, 0, 0, 25, true}};
  for (const Case& c : cases) {
    media::VideoInput handed = c.picture ? media::VideoInput::OpenPicture(c.spec, c.width, c.height)
                                         : media::VideoInput::Open(c.spec, c.width, c.height, c.rate);
    media::VideoInput written = c.picture ? media::VideoInput::OpenPicture(c.spec, c.width, c.height)
                                          : media::VideoInput::Open(c.spec, c.width, c.height, c.rate);
    const size_t rowBytes = size_t(handed.width()) * 3;
    const size_t stride = rowBytes + 5;
    int frames = 0;
    for (; frames < 40; ++frames) {
      const double time = frames / c.rate;
      const std::vector<uint8_t>* frame = handed.FrameAt(time, c.rate);
      std::vector<uint8_t> buffer(stride * size_t(handed.height()) + 2, 0xA5);
      const bool got = written.FrameInto(time, c.rate, buffer.data() + 2, stride);
      ASSERT_EQ(got, frame != nullptr) << c.spec << " frame " << frames;
      if (!got) break;
      for (int32_t row = 0; row < handed.height(); ++row) {
        const uint8_t* at = buffer.data() + 2 + stride * size_t(row);
        ASSERT_TRUE(std::equal(at, at + rowBytes, frame->data() + rowBytes * size_t(row))) << c.spec << " row " << row;
        EXPECT_TRUE(std::all_of(at + rowBytes, at + stride, [](uint8_t b) { return b == 0xA5; })) << "past the row";
      }
    }
    EXPECT_EQ(frames, c.picture ? 40 : int(c.rate)) << c.spec;
  }
}

// Frames converted from rows any distance apart, bottom-up ones among them,
// and written on another thread, are the files the one-step Write makes, byte
// for byte, for every kind of output.
TEST(VideoOutput, FramesConvertedFromAnyRowsWriteTheSameFiles) {
  TempDir dir;
  constexpr int32_t kWidth = 48, kHeight = 36, kFrames = 12;
  const size_t rowBytes = size_t(kWidth) * 3;
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < kFrames; ++i) frames.push_back(RandomBytes(rowBytes * kHeight, 40u + i));
  struct Case {
    const char* name;
    ptrdiff_t padding;  // bytes after each row of the source
    bool bottomUp;
  };
  const Case cases[] = {{"a.mp4", 0, true}, {"b.mp4", 7, false}, {"c.gif", 5, true}, {"d_%02d.png", 3, true}};
  for (const Case& c : cases) {
    const std::string name(c.name);
    const std::string once = dir.path() + "/once_" + name;
    const std::string twice = dir.path() + "/twice_" + name;
    media::VideoOutput oneStep = media::VideoOutput::Open(once, kWidth, kHeight, 25);
    media::VideoOutput twoSteps = media::VideoOutput::Open(twice, kWidth, kHeight, 25);
    const auto stride = static_cast<ptrdiff_t>(rowBytes) + c.padding;
    std::vector<uint8_t> source(size_t(stride) * kHeight, 0x5A);
    host::Channel<media::OutputFrame> handed(2);
    std::thread writer([&] {
      while (std::optional<media::OutputFrame> frame = handed.Pop()) twoSteps.Write(std::move(*frame));
    });
    for (const std::vector<uint8_t>& frame : frames) {
      oneStep.Write(frame.data());
      for (int32_t row = 0; row < kHeight; ++row) {
        const int32_t at = c.bottomUp ? kHeight - 1 - row : row;
        std::memcpy(source.data() + size_t(stride) * size_t(at), frame.data() + rowBytes * size_t(row), rowBytes);
      }
      const uint8_t* top = source.data() + (c.bottomUp ? size_t(stride) * (kHeight - 1) : 0);
      ASSERT_TRUE(handed.Push(twoSteps.Convert(top, c.bottomUp ? -stride : stride)));
    }
    handed.Close();
    writer.join();
    oneStep.Finish({});
    twoSteps.Finish({});
    if (name.find('%') == std::string::npos) {
      EXPECT_EQ(Bytes(once), Bytes(twice)) << name;
      continue;
    }
    for (int i = 0; i < kFrames; ++i) {
      EXPECT_EQ(Bytes(host::NumberedName(once, i)), Bytes(host::NumberedName(twice, i))) << name << " " << i;
    }
  }
}

// The live mix: every stretch of the timeline pulled, in blocks of any size,
// is the cues' decoded sound laid at their starts, summed and clipped, and
// silence elsewhere.
TEST(CueMix, PulledBlocksAreTheCuesLaidAtTheirStarts) {
  TempDir dir;
  const std::string tone = dir.path() + "/tone.wav";
  WriteTone(tone);
  const std::vector<float> sound = media::ReadSoundFile(tone);
  const auto length = static_cast<int64_t>(sound.size() / media::kMixChannels);
  ASSERT_GT(length, 1000);

  struct Case {
    std::vector<int64_t> starts;
    int32_t block;
  };
  const Case cases[] = {{{0}, 4096}, {{700}, 333}, {{100, 100}, 1}, {{0, length / 2}, 1024}, {{length * 2}, 480}};
  for (const Case& c : cases) {
    media::CueMix mix;
    for (int64_t at : c.starts) mix.Start(tone, at);
    const int64_t total = length * 3;
    std::vector<int16_t> pulled(static_cast<size_t>(total) * media::kMixChannels);
    for (int64_t from = 0; from < total; from += c.block) {
      const auto frames = static_cast<int32_t>(std::min<int64_t>(c.block, total - from));
      mix.Pull(from, frames, pulled.data() + from * media::kMixChannels);
    }
    std::vector<float> expected(pulled.size(), 0.0f);
    for (int64_t at : c.starts) media::MixInto(expected, sound, at);
    size_t differing = 0;
    for (size_t i = 0; i < pulled.size(); ++i) differing += pulled[i] != media::ToS16(expected[i]);
    EXPECT_EQ(differing, 0u) << "cues at " << c.starts.front() << ", blocks of " << c.block;
    EXPECT_FALSE(mix.SoundsAfter(total)) << "every cue has ended and is forgotten";
  }
  EXPECT_EQ(media::ToS16(2.0f), 32767);
  EXPECT_EQ(media::ToS16(-2.0f), -32767);
}

TEST(CueMix, StopSilencesAndAnUnreadableFileSaysWhichEveryTime) {
  TempDir dir;
  const std::string tone = dir.path() + "/tone.wav";
  WriteTone(tone);
  media::CueMix mix;
  mix.Start(tone, 10);
  EXPECT_TRUE(mix.SoundsAfter(10));
  mix.Stop();
  EXPECT_FALSE(mix.SoundsAfter(0));
  std::vector<int16_t> block(2 * 256, 1);
  mix.Pull(0, 256, block.data());
  EXPECT_EQ(std::count(block.begin(), block.end(), 0), 512);

  const std::string missing = dir.path() + "/missing.wav";
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      mix.Start(missing, 0);
      ADD_FAILURE() << "a missing sound file was started";
    } catch (const media::MediaError& error) {
      EXPECT_NE(std::string(error.what()).find(missing), std::string::npos) << error.what();
    }
  }
  EXPECT_FALSE(mix.SoundsAfter(0));
}

}  // namespace
}  // namespace tiko
