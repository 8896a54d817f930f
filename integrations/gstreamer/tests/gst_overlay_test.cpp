// tikooverlay in a harness: its frames against the player driven directly,
// every format it takes, new sizes, package changes, bad packages and caps,
// the eyes from metas and from the detector, and the cues on the audio pad.
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "gst_support.h"
#include "host/image_bitmap.h"
#include "support/package_files.h"
#include "support/render_media.h"

namespace tiko::gsttest {
namespace {

using test::TempDir;

// One opaque box of colour (b, g, r) over the middle quarter of the stage,
// placed at stage (x, y).
authoring::PackageDesc BoxPackage(uint8_t b, uint8_t g, uint8_t r, int16_t x = 2500, int16_t y = 1875) {
  authoring::PackageDesc desc;
  desc.pictures = {test::Solid(b, g, r)};
  ActorStep show = test::Step({.pictureChange = 1,
                               .width = kSizeSet,
                               .height = kSizeSet,
                               .x = kPosSet,
                               .y = kPosSet,
                               .opacity = kOpacitySet,
                               .altAdvance = kAltAdvanceNone});
  show.width = kStageWidth / 2;
  show.height = kStageHeight / 2;
  show.x = x;
  show.y = y;
  show.opacity = 100;
  desc.actors = {{u"box", 0, {show}}};
  return desc;
}

// The eyes seen on frame i of the suites' streams: both moving, some frames
// with one or none.
std::vector<host::EyePoint> EyesOnFrame(int i) {
  if (i % 7 == 3) return {};
  if (i % 5 == 4) return {host::EyePoint{150 + i, 100}};
  return {host::EyePoint{100 + 3 * i, 120 - i}, host::EyePoint{220 - 2 * i, 118}};
}

class GstOverlay : public ::testing::Test {
 protected:
  void SetUp() override { StartGst(); }

  // Sets a bus on the harness's element, so that its messages can be read.
  GstBus* Watch(GstHarness* h) {
    bus_ = gst_bus_new();
    gst_element_set_bus(h->element, bus_);
    return bus_;
  }
  void TearDown() override { DropBus(); }
  // Messages left on a bus hold their element, which holds the bus.
  void DropBus() {
    if (bus_ == nullptr) return;
    gst_bus_set_flushing(bus_, TRUE);
    gst_object_unref(bus_);
    bus_ = nullptr;
  }

  // Pushes frame i (the pattern) with its eyes as metas; the output frame.
  // The eyes the metas give are left in `eyes`.
  std::vector<uint8_t> PushBgr(GstHarness* h, int32_t width, int32_t height, int i, bool withEyes = true) {
    GstBuffer* in = BgrBuffer(PatternFrame(width, height, i), width, height, i);
    eyes.clear();
    if (withEyes) {
      for (const host::EyePoint& eye : EyesOnFrame(i)) eyes.push_back(AddEyeMeta(in, eye, width, height));
    }
    EXPECT_EQ(gst_harness_push(h, in), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    std::vector<uint8_t> frame = BgrOf(out, width, height);
    gst_buffer_unref(out);
    return frame;
  }

  TempDir dir_;
  GstBus* bus_ = nullptr;
  std::vector<host::EyePoint> eyes;
};

struct ShapeCase {
  int32_t width;
  int32_t height;
  const char* stage;
  host::StageFit fit;
};

// The element is a host like any other: for the same package, frames and
// eyes its frames are the player's, byte for byte, on every frame shape.
TEST_F(GstOverlay, FramesAreThoseOfThePlayerDrivenDirectly) {
  const std::string package = test::WritePackage(dir_, "show.tiko", test::ShowPackage());
  const ShapeCase cases[] = {{320, 240, "stretch", host::StageFit::kStretch},
                             {640, 360, "cover", host::StageFit::kCover},
                             {640, 360, "fit", host::StageFit::kFit},
                             {321, 241, "cover", host::StageFit::kCover},  // rows padded in the buffers
                             {200, 400, "fit", host::StageFit::kFit},
                             {300, 100, "stretch", host::StageFit::kStretch}};
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + c.stage);
    HarnessPtr h = Overlay("location=" + package + " eyes=meta stage=" + c.stage);
    gst_harness_set_src_caps_str(h.get(), VideoCaps("BGR", c.width, c.height).c_str());
    DirectPlayer direct(package, c.width, c.height, c.fit);
    ASSERT_TRUE(direct.opened());
    for (int i = 0; i < 24; ++i) {
      const std::vector<uint8_t> got = PushBgr(h.get(), c.width, c.height, i);
      ASSERT_EQ(got, direct.Render(PatternFrame(c.width, c.height, i), eyes)) << "frame " << i;
    }
  }
}

// ---- formats ------------------------------------------------------------------

struct Yuv {
  int y, u, v;
};

// BT.601 studio range, as a camera or an encoder writes it.
Yuv YuvOf(int b, int g, int r) {
  return Yuv{static_cast<int>(std::lround(16 + 0.257 * r + 0.504 * g + 0.098 * b)),
             static_cast<int>(std::lround(128 - 0.148 * r - 0.291 * g + 0.439 * b)),
             static_cast<int>(std::lround(128 + 0.439 * r - 0.368 * g - 0.071 * b))};
}

struct FormatCase {
  const char* name;
  GstVideoFormat format;
};

constexpr FormatCase kFormats[] = {{"BGR", GST_VIDEO_FORMAT_BGR},   {"RGB", GST_VIDEO_FORMAT_RGB},
                                   {"BGRx", GST_VIDEO_FORMAT_BGRx}, {"YUY2", GST_VIDEO_FORMAT_YUY2},
                                   {"I420", GST_VIDEO_FORMAT_I420}, {"NV12", GST_VIDEO_FORMAT_NV12}};

// A frame of one colour in the format; for YUV the colour's BT.601 values.
GstBuffer* FlatBuffer(GstVideoFormat format, int32_t width, int32_t height, int b, int g, int r) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, format, width, height);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, info.size, nullptr);
  GstVideoFrame frame;
  gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE);
  const Yuv yuv = YuvOf(b, g, r);
  // YUY2's last pair of an odd row is whole, with its V.
  const int32_t columns = format == GST_VIDEO_FORMAT_YUY2 ? (width + 1) & ~1 : width;
  for (int32_t y = 0; y < height; ++y) {
    auto* row = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) + y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (int32_t x = 0; x < columns; ++x) {
      switch (format) {
        case GST_VIDEO_FORMAT_BGR:
          row[x * 3] = b, row[x * 3 + 1] = g, row[x * 3 + 2] = r;
          break;
        case GST_VIDEO_FORMAT_RGB:
          row[x * 3] = r, row[x * 3 + 1] = g, row[x * 3 + 2] = b;
          break;
        case GST_VIDEO_FORMAT_BGRx:
          row[x * 4] = b, row[x * 4 + 1] = g, row[x * 4 + 2] = r, row[x * 4 + 3] = 255;
          break;
        case GST_VIDEO_FORMAT_YUY2:
          row[x * 2] = yuv.y;
          row[x * 2 + 1] = x % 2 == 0 ? yuv.u : yuv.v;
          break;
        default:
          row[x] = yuv.y;
      }
    }
  }
  if (format == GST_VIDEO_FORMAT_I420 || format == GST_VIDEO_FORMAT_NV12) {
    const int32_t cw = (width + 1) / 2;
    for (int32_t y = 0; y < (height + 1) / 2; ++y) {
      auto* p1 = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 1)) + y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 1);
      if (format == GST_VIDEO_FORMAT_NV12) {
        for (int32_t x = 0; x < cw; ++x) p1[x * 2] = yuv.u, p1[x * 2 + 1] = yuv.v;
      } else {
        auto* p2 =
            static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 2)) + y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 2);
        std::memset(p1, yuv.u, cw);
        std::memset(p2, yuv.v, cw);
      }
    }
  }
  gst_video_frame_unmap(&frame);
  return buffer;
}

// The pixel (x, y) of a frame as B, G, R for the RGB formats, or Y, U, V.
std::array<int, 3> PixelOf(GstBuffer* buffer, GstVideoFormat format, int32_t width, int32_t height, int32_t x,
                           int32_t y) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, format, width, height);
  GstVideoFrame frame;
  gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ);
  const auto plane = [&](int i, int32_t row) {
    return static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, i)) +
           row * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i);
  };
  std::array<int, 3> p{};
  const uint8_t* row = plane(0, y);
  switch (format) {
    case GST_VIDEO_FORMAT_BGR:
      p = {row[x * 3], row[x * 3 + 1], row[x * 3 + 2]};
      break;
    case GST_VIDEO_FORMAT_RGB:
      p = {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
      break;
    case GST_VIDEO_FORMAT_BGRx:
      p = {row[x * 4], row[x * 4 + 1], row[x * 4 + 2]};
      break;
    case GST_VIDEO_FORMAT_YUY2:
      p = {row[x * 2], row[(x & ~1) * 2 + 1], row[(x & ~1) * 2 + 3]};
      break;
    case GST_VIDEO_FORMAT_I420:
      p = {row[x], plane(1, y / 2)[x / 2], plane(2, y / 2)[x / 2]};
      break;
    default:
      p = {row[x], plane(1, y / 2)[x / 2 * 2], plane(1, y / 2)[x / 2 * 2 + 1]};
  }
  gst_video_frame_unmap(&frame);
  return p;
}

// Every format comes out in its own layout, with the box where the player
// drew it and the rest of the frame as it came (the RGB layouts exactly,
// YUV within its round trip's rounding), on a frame of odd sides.
TEST_F(GstOverlay, EveryFormatIsTakenWithoutAConverter) {
  const std::string package = test::WritePackage(dir_, "red.tiko", BoxPackage(0, 0, 255));
  constexpr int32_t kW = 161;
  constexpr int32_t kH = 121;
  constexpr int kB = 90, kG = 120, kR = 150;
  for (const FormatCase& f : kFormats) {
    SCOPED_TRACE(f.name);
    HarnessPtr h = Overlay("location=" + package + " eyes=none stage=stretch");
    gst_harness_set_src_caps_str(h.get(), VideoCaps(f.name, kW, kH).c_str());
    ASSERT_EQ(gst_harness_push(h.get(), FlatBuffer(f.format, kW, kH, kB, kG, kR)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h.get());
    const bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(gst_video_format_get_info(f.format));
    const Yuv red = YuvOf(0, 0, 255);
    const Yuv grey = YuvOf(kB, kG, kR);
    const std::array<int, 3> box = yuv ? std::array<int, 3>{red.y, red.u, red.v} : std::array<int, 3>{0, 0, 255};
    const std::array<int, 3> rest = yuv ? std::array<int, 3>{grey.y, grey.u, grey.v} : std::array<int, 3>{kB, kG, kR};
    const int tolerance = yuv ? 3 : 0;
    for (const auto& [x, y, want] : {std::tuple{kW / 2, kH / 2, box}, std::tuple{4, 4, rest},
                                     std::tuple{kW - 1, kH - 1, rest}, std::tuple{kW / 2, kH - 3, rest}}) {
      const std::array<int, 3> got = PixelOf(out, f.format, kW, kH, x, y);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tolerance) << "pixel " << x << "," << y << " part " << c;
    }
    gst_buffer_unref(out);
  }
}

struct RefusedCase {
  const char* caps;
  const char* reason;
};

// What the element cannot take is refused with the reason, naming what it
// takes instead.
TEST_F(GstOverlay, CapsItCannotTakeAreRefusedWithTheReason) {
  const std::string package = test::WritePackage(dir_, "red.tiko", BoxPackage(0, 0, 255));
  const RefusedCase cases[] = {
      {"video/x-raw,format=GRAY8,width=64,height=48,framerate=25/1", "format GRAY8 is not taken; tikooverlay takes "
                                                                     "BGR, YUY2, I420, NV12, BGRx, RGB"},
      {"video/x-raw,format=BGR,width=70000,height=48,framerate=25/1", "1 to 65535 pixels a side"},
      {"video/x-raw(memory:GLMemory),format=BGR,width=64,height=48,framerate=25/1", "system memory"},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.caps);
    HarnessPtr h = Overlay("location=" + package + " eyes=none");
    GstBus* bus = Watch(h.get());
    gst_harness_set_src_caps_str(h.get(), c.caps);
    EXPECT_EQ(gst_harness_push(h.get(), gst_buffer_new_allocate(nullptr, 64 * 48 * 3, nullptr)),
              GST_FLOW_NOT_NEGOTIATED);
    const std::string errors = Joined(Messages(bus, GST_MESSAGE_ERROR));
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
    DropBus();
  }
}

// A new frame size mid-stream opens the player again at the new size.
TEST_F(GstOverlay, ANewSizeReopensThePlayer) {
  const std::string package = test::WritePackage(dir_, "show.tiko", test::ShowPackage());
  HarnessPtr h = Overlay("location=" + package + " eyes=meta");
  for (const auto& [w, hgt] : {std::pair{320, 240}, std::pair{480, 270}, std::pair{320, 240}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(hgt));
    gst_harness_set_src_caps_str(h.get(), VideoCaps("BGR", w, hgt).c_str());
    DirectPlayer direct(package, w, hgt, host::StageFit::kCover);
    for (int i = 0; i < 8; ++i) {
      const std::vector<uint8_t> got = PushBgr(h.get(), w, hgt, i);
      ASSERT_EQ(got, direct.Render(PatternFrame(w, hgt, i), eyes)) << i;
    }
  }
}

// ---- packages -------------------------------------------------------------------

struct BadLocation {
  const char* name;
  std::string location;
  std::string reason;
};

// A package that cannot be used stops the element before any frame, with a
// message a person can act on.
TEST_F(GstOverlay, ABadLocationIsAnErrorThatSaysWhy) {
  const std::string garbage = dir_.Write("garbage.tiko", std::vector<uint8_t>(300, 0x5a));
  const std::string missing = dir_.path() + "/missing.tiko";
  const BadLocation cases[] = {
      {"unset", "", "no package: set the location property to a .tiko file"},
      {"missing", missing, missing + ": No such file or directory"},
      {"folder", dir_.path(), dir_.path() + ": not a package file"},
      {"not a package", garbage, garbage + ": "},
  };
  for (const BadLocation& c : cases) {
    SCOPED_TRACE(c.name);
    GstElement* element = gst_element_factory_make("tikooverlay", nullptr);
    ASSERT_NE(element, nullptr);
    g_object_set(element, "location", c.location.c_str(), "eyes", 1, nullptr);
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(element, bus);
    EXPECT_EQ(gst_element_set_state(element, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    const std::string errors = Joined(Messages(bus, GST_MESSAGE_ERROR));
    EXPECT_NE(errors.find("Cannot use the tiko package: " + c.reason), std::string::npos) << errors;
    gst_element_set_state(element, GST_STATE_NULL);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
    gst_object_unref(element);
  }
}

// Setting the location while playing switches packages between two frames,
// as the player's own ChangePackage does; a location that cannot be used
// then is an error that stops the stream.
TEST_F(GstOverlay, ANewLocationWhilePlayingSwitchesPackages) {
  const std::string red = test::WritePackage(dir_, "red.tiko", BoxPackage(0, 0, 255));
  const std::string green = test::WritePackage(dir_, "green.tiko", BoxPackage(0, 255, 0, 500, 500));
  HarnessPtr h = Overlay("location=" + red + " eyes=meta");
  GstBus* bus = Watch(h.get());
  gst_harness_set_src_caps_str(h.get(), VideoCaps("BGR", 320, 240).c_str());
  DirectPlayer direct(red, 320, 240, host::StageFit::kCover);
  for (int i = 0; i < 6; ++i) {
    if (i == 3) {
      g_object_set(h->element, "location", green.c_str(), nullptr);
      ASSERT_TRUE(direct.ChangePackage(green));
    }
    const std::vector<uint8_t> got = PushBgr(h.get(), 320, 240, i);
    ASSERT_EQ(got, direct.Render(PatternFrame(320, 240, i), eyes)) << i;
  }
  const std::string missing = dir_.path() + "/gone.tiko";
  g_object_set(h->element, "location", missing.c_str(), nullptr);
  EXPECT_EQ(gst_harness_push(h.get(), BgrBuffer(PatternFrame(320, 240, 6), 320, 240, 6)), GST_FLOW_ERROR);
  const std::string errors = Joined(Messages(bus, GST_MESSAGE_ERROR));
  EXPECT_NE(errors.find(missing + ": No such file or directory"), std::string::npos) << errors;
}

// Gives a file a new modification time, so that a rewrite within the same
// clock tick is still a change.
void Touch(const std::string& path, int seconds) {
  const timeval times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

// watch=true reloads the package when its file changes; a rewrite that does
// not load is warned about and the package before it plays on.
TEST_F(GstOverlay, AWatchedPackageReloadsWhenItsFileChanges) {
  const std::string path = test::WritePackage(dir_, "live.tiko", BoxPackage(0, 0, 255));
  const std::string green = test::WritePackage(dir_, "green.tiko", BoxPackage(0, 255, 0, 500, 500));
  Touch(path, 1000);
  HarnessPtr h = Overlay("location=" + path + " eyes=none watch=true");
  GstBus* bus = Watch(h.get());
  gst_harness_set_src_caps_str(h.get(), VideoCaps("BGR", 320, 240).c_str());
  DirectPlayer direct(path, 320, 240, host::StageFit::kCover);
  int i = 0;
  for (; i < 3; ++i) ASSERT_EQ(PushBgr(h.get(), 320, 240, i, false), direct.Render(PatternFrame(320, 240, i))) << i;
  dir_.Write("live.tiko", authoring::WritePackage(BoxPackage(0, 255, 0, 500, 500)));
  Touch(path, 2000);
  ASSERT_TRUE(direct.ChangePackage(green));
  for (; i < 6; ++i) ASSERT_EQ(PushBgr(h.get(), 320, 240, i, false), direct.Render(PatternFrame(320, 240, i))) << i;
  dir_.Write("live.tiko", std::vector<uint8_t>(40, 1));
  Touch(path, 3000);
  for (; i < 9; ++i) ASSERT_EQ(PushBgr(h.get(), 320, 240, i, false), direct.Render(PatternFrame(320, 240, i))) << i;
  const std::vector<std::string> warnings = Messages(bus, GST_MESSAGE_WARNING);
  ASSERT_EQ(warnings.size(), 1u) << Joined(warnings);
  EXPECT_NE(warnings[0].find("The changed package cannot be used: " + path), std::string::npos) << warnings[0];
  EXPECT_TRUE(Messages(bus, GST_MESSAGE_ERROR).empty());
}

// ---- eyes -------------------------------------------------------------------------

bool HasGreen(const std::vector<uint8_t>& topDown, int32_t width) {
  for (size_t i = 0; i + 2 < topDown.size(); i += 3) {
    if (test::IsGreen(test::Bgr{topDown[i], topDown[i + 1], topDown[i + 2]})) return true;
  }
  (void)width;
  return false;
}

// eyes=auto finds the face's eyes on a thread of its own: the frames pass
// at once, and the eye actors show up once the detector has looked.
TEST_F(GstOverlay, DetectedEyesPlaceTheEyeActors) {
  std::string why;
  const std::optional<host::BgrImage> face = host::ReadImageFile(TIKO_FACE_PICTURE, &why);
  ASSERT_TRUE(face) << why;
  const std::string package = test::WritePackage(dir_, "eyes.tiko", test::EyePackage());
  HarnessPtr h = Overlay("location=" + package + " eyes=auto");
  gst_harness_set_src_caps_str(h.get(), VideoCaps("BGR", face->width, face->height).c_str());
  ASSERT_FALSE(HasGreen(face->pixels, face->width)) << "the picture itself has green in it";
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    ASSERT_EQ(gst_harness_push(h.get(), BgrBuffer(face->pixels, face->width, face->height, i)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h.get());
    seen = HasGreen(BgrOf(out, face->width, face->height), face->width);
    gst_buffer_unref(out);
    // Gives the detector's thread time to look at a frame.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen) << "no eye actor within 200 frames";
}

// ---- sound cues -----------------------------------------------------------------

// Every cue is posted on the bus with its running time, and sounds on the
// audio pad from the first sample of the frame that played it; the audio
// pad's sound covers exactly the video's time, silence around the cue.
TEST_F(GstOverlay, ACueSoundsOnTheAudioPadWithItsFrame) {
  const std::string package = test::WritePackage(dir_, "flash.tiko", test::FlashPackage(5, "bp"));
  test::WriteTone(dir_.path() + "/bp.wav");
  HarnessPtr h = Overlay("location=" + package + " eyes=none");
  GstBus* bus = Watch(h.get());
  HarnessPtr audio(gst_harness_new_with_element(h->element, nullptr, const_cast<gchar*>("audio")));
  gst_harness_set_src_caps_str(h.get(), VideoCaps("BGR", 320, 240).c_str());
  constexpr int kFrames = 12;
  int flash = -1;
  for (int i = 0; i < kFrames; ++i) {
    const std::vector<uint8_t> out = PushBgr(h.get(), 320, 240, i, false);
    if (flash < 0 && test::IsRed(test::PixelAt(out, 320, 160, 120))) flash = i;
  }
  ASSERT_GT(flash, 0);

  // The message.
  int cues = 0;
  while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
    const GstStructure* s = gst_message_get_structure(message);
    if (gst_structure_has_name(s, "tiko-cue")) {
      ++cues;
      EXPECT_EQ(std::string(gst_structure_get_string(s, "wave")), dir_.path() + "/bp.wav");
      guint64 running = 0;
      EXPECT_TRUE(gst_structure_get_uint64(s, "running-time", &running));
      EXPECT_EQ(running, static_cast<guint64>(flash) * kFrameTime);
    }
    gst_message_unref(message);
  }
  EXPECT_EQ(cues, 1);

  // The sound: timestamps that run on without a gap from the first frame's.
  constexpr int64_t kSamplesPerFrame = 48000 / kFps;
  std::vector<int16_t> sound;
  GstClockTime next = 0;
  while (static_cast<int64_t>(sound.size()) < kFrames * kSamplesPerFrame * 2) {
    GstBuffer* buffer = gst_harness_pull(audio.get());
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(GST_BUFFER_PTS(buffer), next);
    next = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    const auto* samples = reinterpret_cast<const int16_t*>(map.data);
    sound.insert(sound.end(), samples, samples + map.size / 2);
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
  }
  EXPECT_EQ(next, static_cast<GstClockTime>(kFrames) * kFrameTime);
  EXPECT_EQ(static_cast<int64_t>(sound.size()), kFrames * kSamplesPerFrame * 2);
  int64_t first = -1;
  for (size_t i = 0; i < sound.size(); ++i) {
    if (std::abs(sound[i]) > 32767 * test::kSilence) {
      first = static_cast<int64_t>(i / 2);
      break;
    }
  }
  ASSERT_GE(first, 0) << "the cue is silent";
  EXPECT_GE(first, flash * kSamplesPerFrame);
  EXPECT_LT(first, (flash + 1) * kSamplesPerFrame);
}

}  // namespace
}  // namespace tiko::gsttest
