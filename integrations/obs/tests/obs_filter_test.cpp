// The tiko-obs module inside a real libobs: the filter on an asynchronous
// source, frames pushed through it in OBS's formats and read back by a
// filter behind it, against the library's own output for the same package
// (a player driven directly with a memory window); settings changed while
// frames flow, bad packages, the filter taken off and put back, and the
// sound cues heard through the cue source in time with the frames.
#include <gtest/gtest.h>
#include <libyuv.h>
#include <obs-module.h>
#include <obs-nix-platform.h>
#include <obs.h>
#include <util/base.h>
#include <util/platform.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "authoring/writer.h"
#include "host/eyes/eye_reports.h"
#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/stage.h"
#include "support/direct_player.h"
#include "tiko/tiko.h"

// Xlib's header defines macros (None, Bool, ...) that clash with the test
// framework's names: its one call is declared here.
struct _XDisplay;
extern "C" _XDisplay* XOpenDisplay(const char* name);

namespace tiko::obs {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// ---- libobs, started once ---------------------------------------------------

std::mutex logMutex;
std::vector<std::string> logLines;

void CollectLog(int level, const char* format, va_list args, void*) {
  char line[4096];
  std::vsnprintf(line, sizeof line, format, args);
  std::lock_guard<std::mutex> lock(logMutex);
  if (level <= LOG_WARNING) std::fprintf(stderr, "obs: %s\n", line);
  logLines.emplace_back(line);
}

// The log lines so far that hold `text`.
int LogCount(const std::string& text) {
  std::lock_guard<std::mutex> lock(logMutex);
  int count = 0;
  for (const std::string& line : logLines) count += line.find(text) != std::string::npos;
  return count;
}

// A filter that keeps a copy of every frame it sees: placed behind the tiko
// filter, it sees what the tiko filter made of each frame.
struct Captured {
  uint64_t timestamp = 0;
  uint64_t shownAt = 0;  // OBS's video time of the frame that shows it
  Bytes planes[4];
};

struct Capture {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Captured> frames;
};

int32_t PlaneRows(video_format format, int32_t height, int plane) {
  const bool halved =
      (format == VIDEO_FORMAT_I420 || format == VIDEO_FORMAT_NV12 || format == VIDEO_FORMAT_I010) && plane > 0;
  return halved ? (height + 1) / 2 : height;
}

int PlaneCount(video_format format) {
  switch (format) {
    case VIDEO_FORMAT_I420:
    case VIDEO_FORMAT_I444:
    case VIDEO_FORMAT_I010:
      return 3;
    case VIDEO_FORMAT_NV12:
      return 2;
    default:
      return 1;
  }
}

obs_source_frame* CaptureVideo(void* data, obs_source_frame* frame) {
  auto* capture = static_cast<Capture*>(data);
  Captured c;
  c.timestamp = frame->timestamp;
  c.shownAt = obs_get_video_frame_time();
  for (int p = 0; p < PlaneCount(frame->format); ++p) {
    const uint8_t* start = frame->data[p];
    c.planes[p].assign(start, start + size_t(frame->linesize[p]) * PlaneRows(frame->format, frame->height, p));
  }
  {
    std::lock_guard<std::mutex> lock(capture->mutex);
    capture->frames.push_back(std::move(c));
  }
  capture->arrived.notify_all();
  return frame;
}

void RegisterTestTypes() {
  obs_source_info frames{};
  frames.id = "tiko_test_frames";
  frames.type = OBS_SOURCE_TYPE_INPUT;
  frames.output_flags = OBS_SOURCE_ASYNC_VIDEO;
  frames.get_name = [](void*) { return "test frames"; };
  frames.create = [](obs_data_t*, obs_source_t* source) -> void* { return source; };
  frames.destroy = [](void*) {};
  obs_register_source(&frames);

  obs_source_info capture{};
  capture.id = "tiko_test_capture";
  capture.type = OBS_SOURCE_TYPE_FILTER;
  capture.output_flags = OBS_SOURCE_ASYNC_VIDEO;
  capture.get_name = [](void*) { return "test capture"; };
  capture.create = [](obs_data_t*, obs_source_t*) -> void* { return new Capture; };
  capture.destroy = [](void* data) { delete static_cast<Capture*>(data); };
  capture.filter_video = CaptureVideo;
  obs_register_source(&capture);
}

struct ObsState {
  bool started = false;
  std::string why;  // when not
  int moduleStatus = MODULE_ERROR;
};

ObsState StartObs() {
  ObsState state;
  if (std::getenv("DISPLAY") == nullptr) {
    state.why = "no X display for libobs's renderer (run the test under xvfb-run -a)";
    return state;
  }
  _XDisplay* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    state.why = "the X display cannot be opened";
    return state;
  }
  base_set_log_handler(CollectLog, nullptr);
  obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
  obs_set_nix_platform_display(display);
  if (!obs_startup("en-US", nullptr, nullptr)) {
    state.why = "obs_startup failed";
    return state;
  }
  obs_video_info video{};
  video.graphics_module = "libobs-opengl";
  video.fps_num = 30;
  video.fps_den = 1;
  video.base_width = video.output_width = 320;
  video.base_height = video.output_height = 240;
  video.output_format = VIDEO_FORMAT_NV12;
  video.gpu_conversion = true;
  video.colorspace = VIDEO_CS_709;
  video.range = VIDEO_RANGE_PARTIAL;
  video.scale_type = OBS_SCALE_BILINEAR;
  if (const int status = obs_reset_video(&video); status != OBS_VIDEO_SUCCESS) {
    state.why = "obs_reset_video failed with " + std::to_string(status) + " (no OpenGL on this display?)";
    return state;
  }
  obs_audio_info audio{48000, SPEAKERS_STEREO};
  if (!obs_reset_audio(&audio)) {
    state.why = "obs_reset_audio failed";
    return state;
  }
  RegisterTestTypes();
  state.started = true;
  obs_module_t* module = nullptr;
  state.moduleStatus = obs_open_module(&module, TIKO_OBS_MODULE_PATH, TIKO_OBS_DATA_PATH);
  if (state.moduleStatus == MODULE_SUCCESS && !obs_init_module(module)) state.moduleStatus = MODULE_ERROR;
  return state;
}

ObsState& Obs() {
  static ObsState state = StartObs();
  return state;
}

// libobs's threads are stopped before the program's statics go.
class ObsEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Obs().started) obs_shutdown();
  }
};
const ::testing::Environment* const kObsEnvironment = ::testing::AddGlobalTestEnvironment(new ObsEnvironment);

// ---- frames -----------------------------------------------------------------

// A top-down BGR picture with smooth colour and sharp edges, different for
// every seed.
Bytes Pattern(int32_t width, int32_t height, int seed) {
  Bytes bgr(size_t(width) * height * 3);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &bgr[(size_t(y) * width + x) * 3];
      const bool check = ((x + seed * 3) / 9 + y / 9) % 2 == 0;
      p[0] = static_cast<uint8_t>(40 + (x * 170) / width);
      p[1] = static_cast<uint8_t>(check ? 60 + (y * 150) / height : 30);
      p[2] = static_cast<uint8_t>((seed * 37 + x + y) % 256);
    }
  }
  return bgr;
}

// A frame in one of OBS's formats, with its pixels' BGR as a decoder other
// than the module's (libyuv's) sees them.
struct TestFrame {
  video_format format = VIDEO_FORMAT_BGRA;
  int32_t width = 0;
  int32_t height = 0;
  Bytes planes[3];
  uint32_t linesize[3] = {0, 0, 0};
};

constexpr uint8_t kAlpha = 77;  // kept by the filter as it is

Bytes ToArgb(const Bytes& bgr) {
  Bytes argb(bgr.size() / 3 * 4);
  for (size_t i = 0; i < bgr.size() / 3; ++i) {
    std::memcpy(&argb[i * 4], &bgr[i * 3], 3);
    argb[i * 4 + 3] = kAlpha;
  }
  return argb;
}

TestFrame MakeFrame(video_format format, int32_t width, int32_t height, const Bytes& bgr) {
  TestFrame f;
  f.format = format;
  f.width = width;
  f.height = height;
  const Bytes argb = ToArgb(bgr);
  const int stride = width * 4;
  const int32_t cw = (width + 1) / 2;
  const int32_t ch = (height + 1) / 2;
  auto plane = [&](int p, uint32_t linesize, int32_t rows) {
    f.linesize[p] = linesize;
    f.planes[p].assign(size_t(linesize) * rows, 0);
    return f.planes[p].data();
  };
  switch (format) {
    case VIDEO_FORMAT_BGRA:
      std::memcpy(plane(0, stride, height), argb.data(), argb.size());
      break;
    case VIDEO_FORMAT_I420:
      libyuv::ARGBToI420(argb.data(), stride, plane(0, width, height), width, plane(1, cw, ch), cw, plane(2, cw, ch),
                         cw, width, height);
      break;
    case VIDEO_FORMAT_I444:
      libyuv::ARGBToI444(argb.data(), stride, plane(0, width, height), width, plane(1, width, height), width,
                         plane(2, width, height), width, width, height);
      break;
    case VIDEO_FORMAT_NV12:
      libyuv::ARGBToNV12(argb.data(), stride, plane(0, width, height), width, plane(1, cw * 2, ch), cw * 2, width,
                         height);
      break;
    case VIDEO_FORMAT_YUY2:
      libyuv::ARGBToYUY2(argb.data(), stride, plane(0, cw * 4, height), cw * 4, width, height);
      break;
    case VIDEO_FORMAT_UYVY:
      libyuv::ARGBToUYVY(argb.data(), stride, plane(0, cw * 4, height), cw * 4, width, height);
      break;
    case VIDEO_FORMAT_I010: {
      // 8-bit samples moved up to 10 bits, stored in 16.
      TestFrame narrow = MakeFrame(VIDEO_FORMAT_I420, width, height, bgr);
      for (int p = 0; p < 3; ++p) {
        const int32_t rows = p == 0 ? height : ch;
        uint8_t* wide = plane(p, narrow.linesize[p] * 2, rows);
        for (size_t i = 0; i < narrow.planes[p].size(); ++i) {
          const uint16_t v = static_cast<uint16_t>(narrow.planes[p][i] << 2);
          std::memcpy(wide + i * 2, &v, 2);
        }
      }
      break;
    }
    default:
      ADD_FAILURE() << "no test frames in " << get_video_format_name(format);
  }
  return f;
}

// The BGR of planes in the frame's format, as libyuv decodes them (BT.601,
// limited range, which the frames are marked with).
Bytes Decode(const TestFrame& f, const Bytes* planes) {
  Bytes argb(size_t(f.width) * f.height * 4);
  const int stride = f.width * 4;
  const int l0 = int(f.linesize[0]), l1 = int(f.linesize[1]), l2 = int(f.linesize[2]);
  switch (f.format) {
    case VIDEO_FORMAT_BGRA:
      std::memcpy(argb.data(), planes[0].data(), argb.size());
      break;
    case VIDEO_FORMAT_I420:
      libyuv::I420ToARGB(planes[0].data(), l0, planes[1].data(), l1, planes[2].data(), l2, argb.data(), stride,
                         f.width, f.height);
      break;
    case VIDEO_FORMAT_I444:
      libyuv::I444ToARGB(planes[0].data(), l0, planes[1].data(), l1, planes[2].data(), l2, argb.data(), stride,
                         f.width, f.height);
      break;
    case VIDEO_FORMAT_NV12:
      libyuv::NV12ToARGB(planes[0].data(), l0, planes[1].data(), l1, argb.data(), stride, f.width, f.height);
      break;
    case VIDEO_FORMAT_YUY2:
      libyuv::YUY2ToARGB(planes[0].data(), l0, argb.data(), stride, f.width, f.height);
      break;
    case VIDEO_FORMAT_UYVY:
      libyuv::UYVYToARGB(planes[0].data(), l0, argb.data(), stride, f.width, f.height);
      break;
    case VIDEO_FORMAT_I010:
      libyuv::I010ToARGB(reinterpret_cast<const uint16_t*>(planes[0].data()), l0 / 2,
                         reinterpret_cast<const uint16_t*>(planes[1].data()), l1 / 2,
                         reinterpret_cast<const uint16_t*>(planes[2].data()), l2 / 2, argb.data(), stride, f.width,
                         f.height);
      break;
    default:
      break;
  }
  Bytes bgr(size_t(f.width) * f.height * 3);
  for (size_t i = 0; i < bgr.size() / 3; ++i) std::memcpy(&bgr[i * 3], &argb[i * 4], 3);
  return bgr;
}

Bytes Decode(const TestFrame& f) { return Decode(f, f.planes); }

// ---- the library's own output -----------------------------------------------

// A player on a memory window, driven the way the host guide says, with no
// eyes: what the filter must show.
using Reference = test::DirectPlayer;

// ---- test packages ----------------------------------------------------------

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/tiko-obs-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The tool's sample package: a bouncing ball and a banner that fades in.
std::string SamplePackage(const TempDir& dir, const std::string& name) {
  const std::string path = dir / name;
  const std::string command = std::string(TIKO_TOOL_PATH) + " sample -o " + path;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return path;
}

ActorStep Step(const authoring::StepModes& modes) {
  ActorStep s{};
  s.flags = authoring::MakeStepFlags(modes);
  return s;
}

// A red square that shows at once and plays cue "bp" on render 6.
authoring::PackageDesc CuePackage() {
  constexpr uint16_t kSide = 8;
  Bytes pixels(size_t(kSide) * kSide * 3);
  for (size_t i = 0; i < pixels.size(); i += 3) pixels[i + 2] = 230;
  authoring::PackageDesc desc;
  desc.pictures = {authoring::MakePicture(kFormatBgr24, kMaskNone, kSide, kSide, pixels, false)};
  ActorStep show = Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet});
  show.width = 2000;
  show.height = 1500;
  show.x = 1000;
  show.y = 1000;
  ActorStep wait = Step({.advance = kAdvanceRepeat});
  wait.advanceParam = 3;
  ActorStep cue = Step({});
  cue.cueMarker = kCueMarker;
  std::memcpy(cue.cueName, "bp", 3);
  ActorStep hold = Step({.advance = kAdvanceRepeat});
  hold.advanceParam = -1;
  desc.actors = {{u"beeper", 0, {show, wait, cue, hold}}};
  return desc;
}

// A 48 kHz stereo 16-bit wave file of a square wave.
std::vector<int16_t> WriteWave(const std::string& path, int32_t frames) {
  std::vector<int16_t> samples(size_t(frames) * 2);
  for (int32_t i = 0; i < frames; ++i) {
    samples[size_t(i) * 2] = static_cast<int16_t>((i / 12) % 2 ? 6000 : -6000);
    samples[size_t(i) * 2 + 1] = static_cast<int16_t>((i / 12) % 2 ? -3000 : 3000);
  }
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, file); };
  auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, file); };
  std::fwrite("RIFF", 1, 4, file);
  u32(36 + dataBytes);
  std::fwrite("WAVEfmt ", 1, 8, file);
  u32(16);
  u16(1);
  u16(2);
  u32(48000);
  u32(48000 * 4);
  u16(4);
  u16(16);
  std::fwrite("data", 1, 4, file);
  u32(dataBytes);
  std::fwrite(samples.data(), 2, samples.size(), file);
  std::fclose(file);
  return samples;
}

// ---- a source with the filter -----------------------------------------------

obs_data_t* FilterSettings(const std::string& package, const char* stage, const char* eyes = "none") {
  obs_data_t* settings = obs_data_create();
  obs_data_set_string(settings, "package", package.c_str());
  obs_data_set_string(settings, "eyes", eyes);
  obs_data_set_string(settings, "stage", stage);
  return settings;
}

// OBS applies a video filter's new settings at its next tick.
void AwaitTicks() { std::this_thread::sleep_for(std::chrono::milliseconds(150)); }

class Stream {
 public:
  Stream() {
    source_ = obs_source_create_private("tiko_test_frames", "test camera", nullptr);
    obs_source_set_async_unbuffered(source_, true);
    obs_set_output_source(0, source_);
  }
  ~Stream() {
    obs_set_output_source(0, nullptr);
    RemoveFilter();
    if (capture_ != nullptr) {
      obs_source_filter_remove(source_, capture_);
      obs_source_release(capture_);
    }
    obs_source_release(source_);
  }

  void AddFilter(const std::string& package, const char* stage, const char* eyes = "none") {
    obs_data_t* settings = FilterSettings(package, stage, eyes);
    filter_ = obs_source_create_private("tiko_filter", "tiko effects", settings);
    obs_data_release(settings);
    if (capture_ != nullptr) obs_source_filter_remove(source_, capture_);
    obs_source_filter_add(source_, filter_);
    AddCapture();
  }
  void AddCapture() {
    if (capture_ == nullptr) capture_ = obs_source_create_private("tiko_test_capture", "test capture", nullptr);
    obs_source_filter_add(source_, capture_);
  }
  void RemoveFilter() {
    if (filter_ == nullptr) return;
    obs_source_filter_remove(source_, filter_);
    obs_source_release(filter_);
    filter_ = nullptr;
  }
  void Change(const std::string& package, const char* stage) {
    obs_data_t* settings = FilterSettings(package, stage);
    obs_source_update(filter_, settings);
    obs_data_release(settings);
    AwaitTicks();
  }
  void PressRestart() {
    obs_properties_t* props = obs_source_properties(filter_);
    obs_property_button_clicked(obs_properties_get(props, "restart"), filter_);
    obs_properties_destroy(props);
  }
  obs_source_t* filter() const { return filter_; }

  // Pushes the frame and gives its planes as they came out of the filters.
  Captured Push(const TestFrame& f) {
    obs_source_frame frame{};
    for (int p = 0; p < 3; ++p) {
      frame.data[p] = const_cast<uint8_t*>(f.planes[p].data());
      frame.linesize[p] = f.linesize[p];
    }
    frame.width = static_cast<uint32_t>(f.width);
    frame.height = static_cast<uint32_t>(f.height);
    frame.format = f.format;
    frame.full_range = false;
    video_format_get_parameters_for_format(VIDEO_CS_601, VIDEO_RANGE_PARTIAL, f.format, frame.color_matrix,
                                           frame.color_range_min, frame.color_range_max);
    frame.timestamp = os_gettime_ns();
    obs_source_output_video(source_, &frame);
    auto* capture = static_cast<Capture*>(obs_obj_get_data(capture_));
    std::unique_lock<std::mutex> lock(capture->mutex);
    const bool seen = capture->arrived.wait_for(lock, std::chrono::seconds(3), [&] {
      return !capture->frames.empty() && capture->frames.back().timestamp == frame.timestamp;
    });
    if (!seen) {
      ADD_FAILURE() << "the frame did not come through the filters";
      return {};
    }
    Captured out = std::move(capture->frames.back());
    capture->frames.clear();
    return out;
  }

 private:
  obs_source_t* source_ = nullptr;
  obs_source_t* filter_ = nullptr;
  obs_source_t* capture_ = nullptr;
};

// ---- comparisons ------------------------------------------------------------

// How far the filtered frame lies from the library's output. BGRA frames
// must match byte for byte (alpha untouched). YUV frames go through 8-bit
// YUV on the way, and chroma shared by 2 pixels blurs the actors' edges: the
// mean error stays small, and the pixels the effects did not touch keep
// their stored luma exactly.
void ExpectMatches(const TestFrame& in, const Captured& out, const Bytes& expected, const std::string& what) {
  ASSERT_FALSE(out.planes[0].empty()) << what;
  if (in.format == VIDEO_FORMAT_BGRA) {
    EXPECT_EQ(Decode(in, out.planes), expected) << what;
    for (size_t i = 3; i < out.planes[0].size(); i += 4) {
      ASSERT_EQ(out.planes[0][i], kAlpha) << what << ": alpha at " << i / 4;
    }
    return;
  }
  const Bytes shown = Decode(in, out.planes);
  const Bytes before = Decode(in);
  ASSERT_EQ(shown.size(), expected.size());
  double total = 0;
  size_t far = 0;
  for (size_t i = 0; i < shown.size(); ++i) {
    const int d = std::abs(int(shown[i]) - int(expected[i]));
    total += d;
    far += d > 24;
  }
  EXPECT_LT(total / double(shown.size()), 2.0) << what;
  EXPECT_LT(double(far), 0.01 * double(shown.size())) << what;
  // Luma of the pixels the library left as they were.
  if (in.format == VIDEO_FORMAT_I420 || in.format == VIDEO_FORMAT_NV12 || in.format == VIDEO_FORMAT_I444) {
    size_t untouched = 0, kept = 0;
    for (int32_t y = 0; y < in.height; ++y) {
      for (int32_t x = 0; x < in.width; ++x) {
        const size_t i = (size_t(y) * in.width + x) * 3;
        if (std::memcmp(&expected[i], &before[i], 3) != 0) continue;
        ++untouched;
        const size_t at = size_t(y) * in.linesize[0] + x;
        kept += out.planes[0][at] == in.planes[0][at];
      }
    }
    EXPECT_GT(double(kept), 0.995 * double(untouched)) << what;
  }
}

// How many pixels the library's effects changed.
size_t ChangedPixels(const Bytes& a, const Bytes& b) {
  size_t n = 0;
  for (size_t i = 0; i + 2 < a.size(); i += 3) n += std::memcmp(&a[i], &b[i], 3) != 0;
  return n;
}

class ObsFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Obs().started) GTEST_SKIP() << Obs().why;
    ASSERT_EQ(Obs().moduleStatus, MODULE_SUCCESS) << "the module did not load from " << TIKO_OBS_MODULE_PATH;
  }
};

// ---- the cases ----------------------------------------------------------------

TEST_F(ObsFilterTest, ModuleRegistersTheFilterAndTheCueSource) {
  // Names come from the module's locale file: its data folder was found.
  EXPECT_STREQ(obs_source_get_display_name("tiko_filter"), "tiko effects");
  EXPECT_STREQ(obs_source_get_display_name("tiko_cue_source"), "tiko cue sounds");
  EXPECT_EQ(obs_get_source_output_flags("tiko_filter"), uint32_t{OBS_SOURCE_ASYNC_VIDEO});
  EXPECT_EQ(obs_get_source_output_flags("tiko_cue_source") & OBS_SOURCE_AUDIO, uint32_t{OBS_SOURCE_AUDIO});

  obs_properties_t* props = obs_get_source_properties("tiko_filter");
  ASSERT_NE(props, nullptr);
  const struct {
    const char* key;
    obs_property_type type;
    std::vector<std::string> values;
  } expected[] = {
      {"package", OBS_PROPERTY_PATH, {}},
      {"eyes", OBS_PROPERTY_LIST, {"auto", "none"}},
      {"stage", OBS_PROPERTY_LIST, {"cover", "fit", "stretch"}},
      {"cue_source", OBS_PROPERTY_LIST, {}},
      {"restart", OBS_PROPERTY_BUTTON, {}},
  };
  for (const auto& e : expected) {
    obs_property_t* p = obs_properties_get(props, e.key);
    ASSERT_NE(p, nullptr) << e.key;
    EXPECT_EQ(obs_property_get_type(p), e.type) << e.key;
    EXPECT_NE(std::string(obs_property_description(p)), "") << e.key;
    std::vector<std::string> values;
    if (e.type == OBS_PROPERTY_LIST && !e.values.empty()) {
      for (size_t i = 0; i < obs_property_list_item_count(p); ++i) values.emplace_back(obs_property_list_item_string(p, i));
      EXPECT_EQ(values, e.values) << e.key;
    }
  }
  EXPECT_STREQ(obs_property_description(obs_properties_get(props, "package")), "Package file");
  obs_properties_destroy(props);
}

struct FormatCase {
  video_format format;
  int32_t width;
  int32_t height;
  const char* stage;
};

TEST_F(ObsFilterTest, FramesInEveryFormatGetTheLibrarysEffects) {
  TempDir dir;
  const std::string package = SamplePackage(dir, "sample.tiko");
  const FormatCase cases[] = {
      {VIDEO_FORMAT_BGRA, 320, 240, "cover"}, {VIDEO_FORMAT_BGRA, 203, 117, "fit"},
      {VIDEO_FORMAT_I420, 250, 150, "cover"}, {VIDEO_FORMAT_I420, 161, 121, "stretch"},
      {VIDEO_FORMAT_NV12, 320, 180, "cover"}, {VIDEO_FORMAT_YUY2, 160, 160, "fit"},
      {VIDEO_FORMAT_UYVY, 96, 72, "cover"},   {VIDEO_FORMAT_I444, 128, 96, "stretch"},
      {VIDEO_FORMAT_I010, 180, 100, "cover"},
  };
  constexpr int kFrames = 10;
  for (const FormatCase& c : cases) {
    const std::string what = std::string(get_video_format_name(c.format)) + " " + std::to_string(c.width) + "x" +
                             std::to_string(c.height) + " " + c.stage;
    Stream stream;
    stream.AddFilter(package, c.stage);
    host::StageFit fit = std::string(c.stage) == "fit"       ? host::StageFit::kFit
                         : std::string(c.stage) == "stretch" ? host::StageFit::kStretch
                                                             : host::StageFit::kCover;
    Reference reference(package, c.width, c.height, fit);
    ASSERT_TRUE(reference.opened());
    size_t changed = 0;
    for (int i = 0; i < kFrames; ++i) {
      const TestFrame frame = MakeFrame(c.format, c.width, c.height, Pattern(c.width, c.height, i));
      const Bytes before = Decode(frame);
      const Bytes expected = reference.Render(before);
      changed += ChangedPixels(expected, before);
      ExpectMatches(frame, stream.Push(frame), expected, what + " frame " + std::to_string(i));
    }
    // The sample's ball is on every frame: the comparison saw effects.
    EXPECT_GT(changed, size_t(kFrames) * c.width * c.height / 200) << what;
  }
}

TEST_F(ObsFilterTest, SettingsChangeWhileFramesFlow) {
  TempDir dir;
  const std::string sample = SamplePackage(dir, "sample.tiko");
  const std::string cues = dir / "cues.tiko";
  authoring::WriteFileBytes(cues, authoring::WritePackage(CuePackage()));
  constexpr int32_t kWidth = 240, kHeight = 120;
  Stream stream;
  stream.AddFilter(sample, "cover");
  int seed = 0;
  // Each step: what changes, then frames against a player opened afresh.
  auto play = [&](const std::string& package, host::StageFit fit, const std::string& what) {
    Reference reference(package, kWidth, kHeight, fit);
    ASSERT_TRUE(reference.opened());
    for (int i = 0; i < 6; ++i) {
      const TestFrame frame = MakeFrame(VIDEO_FORMAT_BGRA, kWidth, kHeight, Pattern(kWidth, kHeight, ++seed));
      ExpectMatches(frame, stream.Push(frame), reference.Render(Decode(frame)), what + " frame " + std::to_string(i));
    }
  };
  play(sample, host::StageFit::kCover, "first");
  stream.Change(sample, "fit");
  play(sample, host::StageFit::kFit, "stage fit");
  stream.Change(sample, "stretch");
  play(sample, host::StageFit::kStretch, "stage stretch");
  stream.Change(cues, "stretch");
  play(cues, host::StageFit::kStretch, "another package");
  stream.PressRestart();
  AwaitTicks();
  play(cues, host::StageFit::kStretch, "scripts restarted");
  // The package file replaced on disk is reloaded within a second or so.
  fs::copy_file(sample, cues, fs::copy_options::overwrite_existing);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  play(cues, host::StageFit::kStretch, "file changed on disk");
}

TEST_F(ObsFilterTest, BadPackagesLeaveThePictureAsItIs) {
  TempDir dir;
  const std::string broken = dir / "broken.tiko";
  authoring::WriteFileBytes(broken, Bytes(300, 0x5a));
  const std::string missing = dir / "missing.tiko";
  Stream stream;
  int seed = 0;
  for (const std::string& package : {broken, missing}) {
    const int warnings = LogCount(package);
    stream.AddFilter(package, "cover");
    for (video_format format : {VIDEO_FORMAT_NV12, VIDEO_FORMAT_BGRA, VIDEO_FORMAT_YUY2}) {
      const TestFrame frame = MakeFrame(format, 200, 150, Pattern(200, 150, ++seed));
      const Captured out = stream.Push(frame);
      for (int p = 0; p < PlaneCount(format); ++p) EXPECT_EQ(out.planes[p], frame.planes[p]) << package;
    }
    EXPECT_GE(LogCount(package) - warnings, 1) << "no warning in the log for " << package;
    stream.RemoveFilter();
  }
  // The missing package turns up: it plays from the next look at the file.
  stream.AddFilter(missing, "cover");
  const TestFrame first = MakeFrame(VIDEO_FORMAT_BGRA, 200, 150, Pattern(200, 150, 1));
  const Captured unchanged = stream.Push(first);
  EXPECT_EQ(unchanged.planes[0], first.planes[0]);
  SamplePackage(dir, "missing.tiko");
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  Reference reference(missing, 200, 150, host::StageFit::kCover);
  for (int i = 0; i < 4; ++i) {
    const TestFrame frame = MakeFrame(VIDEO_FORMAT_BGRA, 200, 150, Pattern(200, 150, ++seed));
    ExpectMatches(frame, stream.Push(frame), reference.Render(Decode(frame)), "after the file appeared");
  }
}

TEST_F(ObsFilterTest, FilterTakenOffAndPutBackMidStream) {
  TempDir dir;
  const std::string package = SamplePackage(dir, "sample.tiko");
  Stream stream;
  int seed = 0;
  for (int round = 0; round < 3; ++round) {
    stream.AddFilter(package, "cover");
    Reference reference(package, 160, 120, host::StageFit::kCover);
    for (int i = 0; i < 4; ++i) {
      const TestFrame frame = MakeFrame(VIDEO_FORMAT_I420, 160, 120, Pattern(160, 120, ++seed));
      ExpectMatches(frame, stream.Push(frame), reference.Render(Decode(frame)), "round " + std::to_string(round));
    }
    stream.RemoveFilter();
    const TestFrame plain = MakeFrame(VIDEO_FORMAT_I420, 160, 120, Pattern(160, 120, ++seed));
    const Captured out = stream.Push(plain);
    EXPECT_EQ(out.planes[0], plain.planes[0]) << "without the filter, round " << round;
  }
}

TEST_F(ObsFilterTest, DetectedEyesBringTheEyeActors) {
  TempDir dir;
  const std::string package = SamplePackage(dir, "sample.tiko");
  std::string why;
  const std::optional<host::BgrImage> photo = host::ReadImageFile(TIKO_FACE_PICTURE, &why);
  ASSERT_TRUE(photo) << why;
  const host::BgrImage face = host::ResizeNearest(*photo, 320, 240);
  Stream stream;
  stream.AddFilter(package, "cover", "auto");
  // Without eyes the sample shows its ball and banner alone; its eye
  // actors, white discs, come only with eyes the detector found.
  Reference withoutEyes(package, face.width, face.height, host::StageFit::kCover);
  const TestFrame frame = MakeFrame(VIDEO_FORMAT_BGRA, face.width, face.height, face.pixels);
  // The most eye pixels a frame showed: two discs of about 13 pixels across.
  size_t eyePixels = 0;
  for (int i = 0; i < 90 && eyePixels < 40; ++i) {
    const Bytes shown = Decode(frame, stream.Push(frame).planes);
    const Bytes plain = withoutEyes.Render(Decode(frame));
    size_t count = 0;
    for (size_t p = 0; p + 2 < shown.size(); p += 3) {
      const bool light = shown[p] > 160 && shown[p + 1] > 160 && shown[p + 2] > 160;
      count += light && std::memcmp(&shown[p], &plain[p], 3) != 0;
    }
    eyePixels = std::max(eyePixels, count);
  }
  EXPECT_GE(eyePixels, 40u) << "no eye actors within 3 seconds of a face";
}

// What the cue source handed OBS's audio, as the audio callback sees it.
struct Heard {
  std::mutex mutex;
  std::vector<float> left, right;
  std::vector<uint64_t> times;  // of each sample frame
};

void Hear(void* param, obs_source_t*, const audio_data* audio, bool) {
  auto* heard = static_cast<Heard*>(param);
  std::lock_guard<std::mutex> lock(heard->mutex);
  const auto* l = reinterpret_cast<const float*>(audio->data[0]);
  const auto* r = reinterpret_cast<const float*>(audio->data[1]);
  for (uint32_t i = 0; i < audio->frames; ++i) {
    heard->left.push_back(l[i]);
    heard->right.push_back(r[i]);
    heard->times.push_back(audio->timestamp + uint64_t(i) * 1000000000ull / 48000);
  }
}

TEST_F(ObsFilterTest, SoundCuesAreHeardThroughTheCueSourceInTime) {
  TempDir dir;
  const std::string package = dir / "cues.tiko";
  authoring::WriteFileBytes(package, authoring::WritePackage(CuePackage()));
  const std::vector<int16_t> wave = WriteWave(dir / "bp.wav", 2400);
  obs_source_t* cues = obs_source_create("tiko_cue_source", "tiko cue sounds", nullptr, nullptr);
  ASSERT_NE(cues, nullptr);
  Heard heard;
  obs_source_add_audio_capture_callback(cues, Hear, &heard);
  Stream stream;
  stream.AddFilter(package, "cover");
  Reference reference(package, 160, 120, host::StageFit::kCover);
  std::vector<uint64_t> times;
  for (int i = 0; i < 12; ++i) {
    // Uneven frame times: the cue's frame (render 6) comes soon after one
    // that followed a pause, and its cue still starts on its time.
    if (i == 4) std::this_thread::sleep_for(std::chrono::milliseconds(80));
    const TestFrame frame = MakeFrame(VIDEO_FORMAT_BGRA, 160, 120, Pattern(160, 120, i));
    const Captured out = stream.Push(frame);
    ExpectMatches(frame, out, reference.Render(Decode(frame)), "cue frame");
    times.push_back(out.shownAt);
  }
  obs_source_remove_audio_capture_callback(cues, Hear, &heard);
  ASSERT_EQ(reference.window().waves().size(), 1u);
  const int64_t cueFrame = reference.window().waves()[0].render - 1;

  std::lock_guard<std::mutex> lock(heard.mutex);
  size_t onset = 0;
  while (onset < heard.left.size() && heard.left[onset] == 0.0f) ++onset;
  ASSERT_LT(onset, heard.left.size()) << "the cue was not heard";
  // It starts when OBS shows the frame that asked for it, to the sample.
  const double offsetMs = (double(heard.times[onset]) - double(times[size_t(cueFrame)])) / 1e6;
  EXPECT_LT(std::abs(offsetMs), 0.05) << "cue heard " << offsetMs << " ms from its frame";
  // And it is the wave itself.
  const size_t compared = std::min<size_t>(wave.size() / 2, heard.left.size() - onset);
  EXPECT_GT(compared, 1000u);
  for (size_t i = 0; i < compared; ++i) {
    ASSERT_NEAR(heard.left[onset + i] * 32768.0f, wave[i * 2], 1.0f) << "sample " << i;
    ASSERT_NEAR(heard.right[onset + i] * 32768.0f, wave[i * 2 + 1], 1.0f) << "sample " << i;
  }
  obs_source_release(cues);
}

}  // namespace
}  // namespace tiko::obs
