// tikooverlay at live sizes: frames a second and CPU time a frame for
// 640x480, 1280x720 and 1920x1080, BGR and YUY2, with eyes=auto and
// eyes=none. A face picture is fed through appsrc (so that the detector has
// a face to find and follow) into the element and a fakesink with
// sync=false; the same pipeline without the element is measured too, and
// its CPU time taken off, so that the figure is the element's own. The CPU
// time is the whole process's (every thread: the detector's, the audio
// pad's), from getrusage.
//
// Arguments: width, height, eyes (1 auto, 0 none), format (0 BGR, 1 YUY2),
// live (1: frames pushed at 30 a second, as a camera gives them; 0: as fast
// as the pipeline takes them).
// The target: 1280x720 at 30 frames a second with eyes=auto in at most a
// third of a core, 11 ms of CPU a frame.
#include <benchmark/benchmark.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <sys/resource.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "authoring/writer.h"
#include "host/image_bitmap.h"

namespace tiko {
namespace {

constexpr int kFrames = 150;  // 5 s of video at 30 frames a second
constexpr int kRate = 30;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

authoring::PictureDesc Solid(uint16_t side, uint8_t b, uint8_t g, uint8_t r) {
  std::vector<uint8_t> data;
  for (int i = 0; i < side * side; ++i) data.insert(data.end(), {b, g, r});
  return authoring::MakePicture(kFormatBgr24, kMaskNone, side, side, std::move(data), false);
}

// Glasses on both eyes and a ball bouncing over the frame.
std::string WriteLivePackage() {
  using authoring::MakeStepFlags;
  authoring::PackageDesc desc;
  desc.pictures = {Solid(32, 0, 200, 0), Solid(48, 0, 0, 220)};
  ActorStep eye{};
  eye.flags = MakeStepFlags({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional});
  eye.width = kStageWidth / 10;
  ActorStep place{};
  place.flags = MakeStepFlags({.pictureChange = 1,
                               .width = kSizeSet,
                               .height = kSizeProportional,
                               .x = kPosSet,
                               .y = kPosSet,
                               .opacity = kOpacitySet});
  place.pictureIndex = 1;
  place.width = kStageWidth / 8;
  place.x = 1000;
  place.y = 1000;
  place.opacity = 80;
  ActorStep bounce{};
  bounce.flags = MakeStepFlags({.advance = kAdvanceJump, .x = kPosBounce, .y = kPosBounce});
  bounce.advanceParam = 1;
  bounce.x = 130;
  bounce.y = 90;
  desc.actors = {{u"$eye1", -1, {eye}}, {u"$eye2", -1, {eye}}, {u"ball", 0, {place, bounce}}};
  const std::string path = (std::filesystem::temp_directory_path() / "tiko-gst-live-bench.tiko").string();
  const std::vector<uint8_t> bytes = authoring::WritePackage(desc);
  FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

// One frame of the face, in the format, as GStreamer lays it out.
GstBuffer* FaceFrame(int32_t width, int32_t height, GstVideoFormat format) {
  std::string why;
  const std::optional<host::BgrImage> face = host::ReadImageFile(TIKO_FACE_PICTURE, &why);
  if (!face) return nullptr;
  const host::BgrImage sized = host::ResizeNearest(*face, width, height);
  GstVideoInfo bgrInfo;
  gst_video_info_set_format(&bgrInfo, GST_VIDEO_FORMAT_BGR, width, height);
  GstBuffer* bgr = gst_buffer_new_allocate(nullptr, bgrInfo.size, nullptr);
  GstMapInfo map;
  gst_buffer_map(bgr, &map, GST_MAP_WRITE);
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(map.data + size_t(y) * bgrInfo.stride[0], sized.pixels.data() + size_t(y) * width * 3, width * 3);
  }
  gst_buffer_unmap(bgr, &map);
  if (format == GST_VIDEO_FORMAT_BGR) return bgr;
  GstVideoInfo outInfo;
  gst_video_info_set_format(&outInfo, format, width, height);
  GstBuffer* out = gst_buffer_new_allocate(nullptr, outInfo.size, nullptr);
  GstVideoFrame in;
  GstVideoFrame to;
  gst_video_frame_map(&in, &bgrInfo, bgr, GST_MAP_READ);
  gst_video_frame_map(&to, &outInfo, out, GST_MAP_WRITE);
  GstVideoConverter* converter = gst_video_converter_new(&bgrInfo, &outInfo, nullptr);
  gst_video_converter_frame(converter, &in, &to);
  gst_video_converter_free(converter);
  gst_video_frame_unmap(&in);
  gst_video_frame_unmap(&to);
  gst_buffer_unref(bgr);
  return out;
}

struct Run {
  double seconds = 0;
  double cpu = 0;
};

// Pushes kFrames copies of the frame through `middle` (empty: straight to
// the sink) and waits for the end.
Run RunPipeline(const std::string& middle, GstBuffer* frame, const std::string& caps, bool paced) {
  const std::string description = "appsrc name=src format=time is-live=false caps=\"" + caps + "\" ! " + middle +
                                  "fakesink sync=false";
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kFrames; ++i) {
    if (paced) std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(i) / kRate));
    GstBuffer* copy = gst_buffer_copy_deep(frame);
    GST_BUFFER_PTS(copy) = gst_util_uint64_scale_int(i, GST_SECOND, kRate);
    GST_BUFFER_DURATION(copy) = GST_SECOND / kRate;
    gst_app_src_push_buffer(GST_APP_SRC(src), copy);
  }
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* end = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND,
                                               GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  Run run{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), CpuSeconds() - cpu};
  if (end != nullptr && GST_MESSAGE_TYPE(end) == GST_MESSAGE_ERROR) run.seconds = -1;
  if (end != nullptr) gst_message_unref(end);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(src);
  gst_object_unref(pipeline);
  return run;
}

void BM_LiveOverlay(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const bool eyes = state.range(2) != 0;
  const GstVideoFormat format = state.range(3) == 0 ? GST_VIDEO_FORMAT_BGR : GST_VIDEO_FORMAT_YUY2;
  const bool paced = state.range(4) != 0;
  static const std::string package = WriteLivePackage();
  GstBuffer* frame = FaceFrame(width, height, format);
  if (frame == nullptr) {
    state.SkipWithError("cannot read the face picture");
    return;
  }
  const std::string caps = "video/x-raw,format=" + std::string(gst_video_format_to_string(format)) +
                           ",width=" + std::to_string(width) + ",height=" + std::to_string(height) +
                           ",framerate=" + std::to_string(kRate) + "/1";
  const std::string element =
      "tikooverlay name=t location=" + package + " eyes=" + (eyes ? "auto" : "none") + " ! ";
  Run with;
  Run without;
  for (auto _ : state) {
    without = RunPipeline("", frame, caps, paced);
    with = RunPipeline(element, frame, caps, paced);
    state.SetIterationTime(with.seconds);
  }
  gst_buffer_unref(frame);
  if (with.seconds <= 0) {
    state.SkipWithError("the pipeline failed");
    return;
  }
  state.counters["fps"] = kFrames / with.seconds;
  state.counters["cpu_ms_per_frame"] = 1000 * (with.cpu - without.cpu) / kFrames;
  state.counters["cpu_ms_total"] = 1000 * with.cpu / kFrames;
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1280, 720}, std::pair{1920, 1080}}) {
    for (int format : {0, 1}) {
      for (int eyes : {1, 0}) b->Args({w, h, eyes, format, 0});
      // At the camera's pace the detector, idle between frames, looks at
      // every one: the figure that counts for a live stream.
      b->Args({w, h, 1, format, 1});
    }
  }
}

BENCHMARK(BM_LiveOverlay)->Apply(Sizes)->ArgNames({"w", "h", "eyes", "yuy2", "live"})->Iterations(1)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tiko

int main(int argc, char** argv) {
  // The plugin from this build, with a registry of its own.
  g_setenv("GST_PLUGIN_PATH", TIKO_GST_PLUGIN_DIR, FALSE);
  g_setenv("GST_REGISTRY", TIKO_GST_REGISTRY, FALSE);
  gst_init(&argc, &argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
