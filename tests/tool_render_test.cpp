// The render command, run as a user would run it; what it writes is read
// back with FFmpeg's libraries, never with the tool's own code.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "host/image_bitmap.h"
#include "support/run_tool.h"

namespace tiko {
namespace {

using test::RunTool;
using test::TempDir;
using test::ToolRun;

namespace fs = std::filesystem;

constexpr double kRate = 25;
constexpr int kProbeRate = 48000;
// A sample louder than this is sound; the cue's tone peaks at kToneLevel.
constexpr float kSilence = 0.02f;
constexpr double kToneLevel = 0.5;
constexpr double kToneSeconds = 0.1;
constexpr const char* kFaceFile = TIKO_TEST_DATA_DIR "/../tools/tiko/media/astronaut.jpg";

// ---- reading media back ---------------------------------------------------

struct Media {
  bool opened = false;
  int64_t videoFrames = 0;
  int width = 0;
  int height = 0;
  bool hasSound = false;
  std::vector<float> sound;                  // mono, at kProbeRate
  std::vector<std::vector<uint8_t>> frames;  // top-down BGR24, when asked for
};

void ReceiveVideo(AVCodecContext* decoder, AVFrame* frame, Media& media, bool keep) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    ++media.videoFrames;
    if (keep) {
      SwsContext* scaler =
          sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                         frame->height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
      std::vector<uint8_t> bgr(static_cast<size_t>(frame->width) * frame->height * 3);
      uint8_t* out[4] = {bgr.data()};
      const int stride[4] = {frame->width * 3};
      sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, out, stride);
      sws_freeContext(scaler);
      media.frames.push_back(std::move(bgr));
    }
    av_frame_unref(frame);
  }
}

void ReceiveSound(AVCodecContext* decoder, AVFrame* frame, SwrContext** resampler, Media& media) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    if (*resampler == nullptr) {
      AVChannelLayout mono;
      av_channel_layout_default(&mono, 1);
      swr_alloc_set_opts2(resampler, &mono, AV_SAMPLE_FMT_FLT, kProbeRate, &frame->ch_layout,
                          static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
      swr_init(*resampler);
    }
    const int room = swr_get_out_samples(*resampler, frame->nb_samples);
    const size_t at = media.sound.size();
    media.sound.resize(at + static_cast<size_t>(room));
    auto* out = reinterpret_cast<uint8_t*>(media.sound.data() + at);
    const int made =
        swr_convert(*resampler, &out, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    media.sound.resize(at + static_cast<size_t>(std::max(made, 0)));
    av_frame_unref(frame);
  }
}

// Opens `path` with libavformat and decodes every stream of it.
Media ReadMedia(const std::string& path, bool keepFrames = false) {
  Media media;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return media;
  if (avformat_find_stream_info(format, nullptr) < 0) {
    avformat_close_input(&format);
    return media;
  }
  media.opened = true;
  const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  media.hasSound = audio >= 0;
  AVCodecContext* decoders[2] = {nullptr, nullptr};
  const int streams[2] = {video, audio};
  for (int i = 0; i < 2; ++i) {
    if (streams[i] < 0) continue;
    const AVCodecParameters* parameters = format->streams[streams[i]]->codecpar;
    decoders[i] = avcodec_alloc_context3(avcodec_find_decoder(parameters->codec_id));
    avcodec_parameters_to_context(decoders[i], parameters);
    avcodec_open2(decoders[i], nullptr, nullptr);
  }
  if (video >= 0) {
    media.width = format->streams[video]->codecpar->width;
    media.height = format->streams[video]->codecpar->height;
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwrContext* resampler = nullptr;
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == video) {
      avcodec_send_packet(decoders[0], packet);
      ReceiveVideo(decoders[0], frame, media, keepFrames);
    } else if (packet->stream_index == audio) {
      avcodec_send_packet(decoders[1], packet);
      ReceiveSound(decoders[1], frame, &resampler, media);
    }
    av_packet_unref(packet);
  }
  if (decoders[0] != nullptr) {
    avcodec_send_packet(decoders[0], nullptr);
    ReceiveVideo(decoders[0], frame, media, keepFrames);
  }
  if (decoders[1] != nullptr) {
    avcodec_send_packet(decoders[1], nullptr);
    ReceiveSound(decoders[1], frame, &resampler, media);
  }
  swr_free(&resampler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  for (AVCodecContext*& decoder : decoders) avcodec_free_context(&decoder);
  avformat_close_input(&format);
  return media;
}

// The first sample time (seconds) from `from` on where the sound is louder
// than silence, or -1.
double SoundStartsAt(const std::vector<float>& sound, double from = 0) {
  for (size_t i = static_cast<size_t>(from * kProbeRate); i < sound.size(); ++i) {
    if (std::fabs(sound[i]) > kSilence) return static_cast<double>(i) / kProbeRate;
  }
  return -1;
}

float Loudest(const std::vector<float>& sound, double from, double to) {
  float loudest = 0;
  for (size_t i = static_cast<size_t>(from * kProbeRate); i < sound.size() && i < to * kProbeRate; ++i) {
    loudest = std::max(loudest, std::fabs(sound[i]));
  }
  return loudest;
}

struct Bgr {
  uint8_t b, g, r;
};

Bgr PixelAt(const std::vector<uint8_t>& topDown, int width, int x, int y) {
  const uint8_t* p = topDown.data() + (static_cast<size_t>(y) * width + x) * 3;
  return Bgr{p[0], p[1], p[2]};
}

bool IsRed(Bgr p) { return p.r > 160 && p.g < 90 && p.b < 90; }
bool IsGreen(Bgr p) { return p.g > 160 && p.r < 90 && p.b < 90; }
bool IsBlue(Bgr p) { return p.b > 160 && p.r < 90 && p.g < 90; }
bool IsBlack(Bgr p) { return p.r < 40 && p.g < 40 && p.b < 40; }

// ---- inputs -------------------------------------------------------------------

// A one-colour opaque picture for an actor.
authoring::PictureDesc Solid(uint8_t b, uint8_t g, uint8_t r) {
  constexpr uint16_t kSide = 8;
  std::vector<uint8_t> data;
  for (int i = 0; i < kSide * kSide; ++i) data.insert(data.end(), {b, g, r});
  return authoring::MakePicture(kFormatBgr24, kMaskNone, kSide, kSide, std::move(data), false);
}

ActorStep Step(const authoring::StepModes& modes) {
  ActorStep s{};
  s.flags = authoring::MakeStepFlags(modes);
  return s;
}

// A red flash over the whole stage after `waitRenders` renders, in the same
// render that plays cue `cue`; then it hides.
authoring::PackageDesc FlashPackage(int16_t waitRenders, const char* cue) {
  authoring::PackageDesc desc;
  desc.pictures = {Solid(0, 0, 255)};
  ActorStep wait = Step({.advance = kAdvanceRepeat,
                         .pictureChange = 1,
                         .width = kSizeSet,
                         .height = kSizeSet,
                         .x = kPosSet,
                         .y = kPosSet,
                         .opacity = kOpacitySet,
                         .altAdvance = kAltAdvanceNone});
  wait.width = kStageWidth;
  wait.height = kStageHeight;
  wait.opacity = 0;
  wait.advanceParam = waitRenders;
  ActorStep flash = Step({.advance = kAdvanceHide, .opacity = kOpacitySet, .altAdvance = kAltAdvanceNone});
  flash.opacity = 100;
  flash.cueMarker = kCueMarker;
  std::memcpy(flash.cueName, cue, std::min<size_t>(std::strlen(cue), 3));
  desc.actors = {{u"flash", 0, {wait, flash}}};
  return desc;
}

// Green squares follow the first eye, blue ones the second; each is a tenth
// of the stage wide (32 pixels at 320 x 240).
authoring::PackageDesc EyePackage() {
  authoring::PackageDesc desc;
  desc.pictures = {Solid(0, 255, 0), Solid(255, 0, 0)};
  ActorStep look =
      Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .altAdvance = kAltAdvanceNone});
  look.width = kStageWidth / 10;
  ActorStep second = look;
  second.pictureIndex = 1;
  desc.actors = {{u"$eye1", -1, {look}}, {u"$eye2", -1, {second}}};
  return desc;
}

std::string WritePackage(const TempDir& dir, const std::string& name, const authoring::PackageDesc& desc) {
  return dir.Write(name, authoring::WritePackage(desc));
}

// A short tone as a mono 16-bit wave file at 22050 Hz, so that the render
// has to convert it to its own rate and layout.
void WriteTone(const std::string& path) {
  constexpr int kWaveRate = 22050;
  constexpr double kPitch = 880;
  const auto count = static_cast<uint32_t>(kToneSeconds * kWaveRate);
  std::vector<int16_t> samples(count);
  for (uint32_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(32767 * kToneLevel * std::sin(2 * M_PI * kPitch * i / kWaveRate));
  }
  const auto u32 = [](std::ofstream& out, uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [](std::ofstream& out, uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  u32(out, 36 + count * 2);
  out.write("WAVEfmt ", 8);
  u32(out, 16);
  u16(out, 1);
  u16(out, 1);
  u32(out, kWaveRate);
  u32(out, kWaveRate * 2);
  u16(out, 2);
  u16(out, 16);
  out.write("data", 4);
  u32(out, count * 2);
  out.write(reinterpret_cast<const char*>(samples.data()), count * 2);
}

// A picture whose top half is red and bottom half blue.
std::string WriteSplitPicture(const TempDir& dir, int width, int height) {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (y < height / 2) {
        pixels.insert(pixels.end(), {0, 0, 255});
      } else {
        pixels.insert(pixels.end(), {255, 0, 0});
      }
    }
  }
  const std::string path = dir.path() + "/split.png";
  EXPECT_TRUE(host::WritePngFile(path, pixels.data(), width, height));
  return path;
}

// Files in `dir` whose names start with a dot: temporary files left behind.
std::vector<std::string> HiddenFiles(const std::string& dir) {
  std::vector<std::string> hidden;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] == '.') hidden.push_back(name);
  }
  return hidden;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

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
      RunTool("render " + package + " -i " + picture + " -o " + dir.path() + "/f_%03d.png --frames 3 --eyes none", dir);
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

TEST(ToolRender, ACueSoundsWithTheFrameThatPlaysIt) {
  TempDir dir;
  const std::string package = WritePackage(dir, "flash.tiko", FlashPackage(10, "bp"));
  WriteTone(dir.path() + "/bp.wav");
  const std::string out = dir.path() + "/flash.mp4";
  const ToolRun run = RunTool("render " + package + " -o " + out + " --frames 30 --eyes none", dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  const Media media = ReadMedia(out, true);
  ASSERT_EQ(media.videoFrames, 30);
  ASSERT_TRUE(media.hasSound);
  const int64_t flash = FirstRedFrame(media);
  ASSERT_GT(flash, 5);
  const double cueTime = static_cast<double>(flash) / kRate;
  const double start = SoundStartsAt(media.sound);
  EXPECT_NEAR(start, cueTime, 1 / kRate);
  // The tone lasts as long as the wave file, at its level.
  EXPECT_NEAR(Loudest(media.sound, start, start + kToneSeconds), kToneLevel, 0.1);
  EXPECT_LT(Loudest(media.sound, start + kToneSeconds + 2 / kRate, 30 / kRate), kSilence);
  // The sound track is as long as the video.
  EXPECT_NEAR(static_cast<double>(media.sound.size()) / kProbeRate, 30 / kRate, 0.1);
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
                                  "/face_%d.png --frames 4 --eyes auto --eyes-out " + csv,
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
  std::ofstream(d + "/bad.csv") << "frame,x1,y1,x2,y2\n0,1,2,3,4\n1,one,2,3,4\n";
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
      {"bad eye file", "render " + package + " -i testsrc --eyes " + d + "/bad.csv -o " + out, 1,
       "tiko: " + d + "/bad.csv:3: eye 1 needs two integers"},
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

// Runs the tool and sends it `signal` after `seconds`; gives its exit status.
int RunAndSignal(const std::string& args, const TempDir& dir, const char* signal, double seconds) {
  const std::string command = std::string("timeout --preserve-status -s ") + signal + " " + std::to_string(seconds) +
                              " " + TIKO_TOOL_PATH + " " + args + " 2>" + Quoted(dir.path() + "/signal.txt");
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(ToolRender, AStoppedRenderLeavesNothingThatLooksFinished) {
  TempDir dir;
  const std::string package = WritePackage(dir, "eyes.tiko", EyePackage());
  const std::string out = dir.path() + "/long.mp4";
  // Killed: the output never takes its name.
  RunAndSignal("render " + package + " -i testsrc -o " + out + " --frames 100000 --eyes none", dir, "KILL", 1.5);
  EXPECT_FALSE(fs::exists(out));
  // Ctrl-C: the render ends early and the output is complete.
  const int status =
      RunAndSignal("render " + package + " -i testsrc -o " + out + " --frames 100000 --eyes none", dir, "INT", 3);
  EXPECT_EQ(status, 0);
  const Media media = ReadMedia(out);
  ASSERT_TRUE(media.opened);
  EXPECT_GT(media.videoFrames, 0);
  EXPECT_LT(media.videoFrames, 100000);
}

}  // namespace
}  // namespace tiko
