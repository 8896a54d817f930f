// tikooverlay in real pipelines, as gst-launch-1.0 would build them: the
// end of a stream on both pads, a flushing seek, a capsfilter it cannot
// take, and an MP4 file with the cues' sound muxed in, read back with
// FFmpeg's libraries.
#include <gst/app/gstappsrc.h>

#include <cmath>

#include "gst_support.h"
#include "support/package_files.h"
#include "support/render_media.h"

namespace tiko::gsttest {
namespace {

using test::TempDir;

constexpr GstClockTime kTimeout = 20 * GST_SECOND;

struct PipelineDeleter {
  void operator()(GstElement* pipeline) const {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
  }
};
using PipelinePtr = std::unique_ptr<GstElement, PipelineDeleter>;

PipelinePtr Launch(const std::string& description) {
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  EXPECT_EQ(error, nullptr) << (error ? error->message : "") << "\n" << description;
  if (error != nullptr) g_error_free(error);
  return PipelinePtr(pipeline);
}

// Runs the pipeline until its end or an error; the error's text, if any.
std::string RunToEnd(GstElement* pipeline) {
  EXPECT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(bus, kTimeout, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  std::string error;
  if (message == nullptr) {
    error = "no end within the time out";
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* e = nullptr;
    gst_message_parse_error(message, &e, nullptr);
    error = e->message;
    g_error_free(e);
  }
  if (message != nullptr) gst_message_unref(message);
  gst_object_unref(bus);
  return error;
}

GstElement* ByName(GstElement* pipeline, const char* name) { return gst_bin_get_by_name(GST_BIN(pipeline), name); }

// The timestamps of what reached an appsink: first PTS and the end of the last.
struct Span {
  GstClockTime first = GST_CLOCK_TIME_NONE;
  GstClockTime end = 0;
  int64_t buffers = 0;
  bool gapless = true;
};

Span Drain(GstElement* sink, int64_t most = -1) {
  Span span;
  while (most < 0 || span.buffers < most) {
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kTimeout);
    if (sample == nullptr) break;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (span.buffers == 0) {
      span.first = GST_BUFFER_PTS(buffer);
    } else if (GST_BUFFER_PTS(buffer) != span.end) {
      span.gapless = false;
    }
    span.end = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    ++span.buffers;
    gst_sample_unref(sample);
  }
  return span;
}

class GstPipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    StartGst();
    package_ = test::WritePackage(dir_, "flash.tiko", test::FlashPackage(10, "bp"));
    test::WriteTone(dir_.path() + "/bp.wav");
  }
  TempDir dir_;
  std::string package_;
};

// Both pads end with the stream, and the sound spans the video's time.
TEST_F(GstPipeline, TheStreamEndsOnBothPads) {
  PipelinePtr p = Launch("videotestsrc num-buffers=30 ! video/x-raw,width=160,height=120,framerate=25/1 ! "
                         "tikooverlay name=t eyes=none location=" + package_ +
                         " ! appsink name=video sync=false t.audio ! appsink name=audio sync=false");
  ASSERT_TRUE(p);
  GstElement* video = ByName(p.get(), "video");
  GstElement* audio = ByName(p.get(), "audio");
  ASSERT_EQ(gst_element_set_state(p.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_ASYNC);
  const Span v = Drain(video);
  const Span a = Drain(audio);
  EXPECT_EQ(v.buffers, 30);
  EXPECT_EQ(v.first, 0u);
  EXPECT_EQ(a.first, 0u);
  EXPECT_TRUE(a.gapless);
  EXPECT_EQ(a.end, v.end);
  EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(video)));
  EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(audio)));
  gst_object_unref(video);
  gst_object_unref(audio);
}

// After a flushing seek both pads start again at the new position, in step.
TEST_F(GstPipeline, AFlushingSeekMovesBothPads) {
  PipelinePtr p = Launch("videotestsrc ! video/x-raw,width=160,height=120,framerate=25/1 ! "
                         "tikooverlay name=t eyes=none location=" + package_ +
                         " ! appsink name=video sync=false max-buffers=4 t.audio ! appsink name=audio sync=false "
                         "max-buffers=4");
  ASSERT_TRUE(p);
  GstElement* video = ByName(p.get(), "video");
  GstElement* audio = ByName(p.get(), "audio");
  ASSERT_NE(gst_element_set_state(p.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  ASSERT_EQ(gst_element_get_state(p.get(), nullptr, nullptr, kTimeout), GST_STATE_CHANGE_SUCCESS);
  constexpr GstClockTime kTo = 2 * GST_SECOND;
  ASSERT_TRUE(gst_element_seek_simple(p.get(), GST_FORMAT_TIME,
                                      GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), kTo));
  ASSERT_EQ(gst_element_get_state(p.get(), nullptr, nullptr, kTimeout), GST_STATE_CHANGE_SUCCESS);
  ASSERT_NE(gst_element_set_state(p.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  const Span v = Drain(video, 10);
  const Span a = Drain(audio, 10);
  EXPECT_EQ(v.first, kTo);
  EXPECT_EQ(a.first, kTo);
  EXPECT_TRUE(a.gapless);
  // The audio pad may be a buffer behind or ahead of the video, not more.
  EXPECT_LE(std::llabs(static_cast<long long>(a.end) - static_cast<long long>(v.end)),
            static_cast<long long>(4 * kFrameTime));
  gst_object_unref(video);
  gst_object_unref(audio);
}

// A source whose frames the element cannot take: the error says why and
// what it takes instead.
TEST_F(GstPipeline, AFormatItCannotTakeIsExplained) {
  PipelinePtr p = Launch("appsrc name=src caps=video/x-raw,format=GRAY8,width=64,height=48,framerate=25/1 "
                         "format=time ! tikooverlay eyes=none location=" + package_ + " ! fakesink");
  ASSERT_TRUE(p);
  GstElement* src = ByName(p.get(), "src");
  ASSERT_NE(gst_element_set_state(p.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_new_allocate(nullptr, 64 * 48, nullptr));
  gst_app_src_end_of_stream(GST_APP_SRC(src));
  gst_object_unref(src);
  EXPECT_NE(RunToEnd(p.get()).find("tikooverlay cannot take this video: format GRAY8 is not taken; tikooverlay "
                                   "takes BGR, YUY2, I420, NV12, BGRx, RGB (put videoconvert in front for others)"),
            std::string::npos);
}

// Encoded and muxed as a user would: the file has every frame, and the cue
// sounds when the flash shows.
TEST_F(GstPipeline, AnMp4FileCarriesTheCueInItsSoundTrack) {
  const std::string out = dir_.path() + "/flash.mp4";
  PipelinePtr p = Launch(
      "videotestsrc num-buffers=30 pattern=black ! video/x-raw,width=320,height=240,framerate=25/1 ! "
      "tikooverlay name=t eyes=none location=" + package_ +
      " ! videoconvert ! x264enc speed-preset=ultrafast ! queue ! mp4mux name=m ! filesink location=" + out +
      " t.audio ! audioconvert ! lamemp3enc ! queue ! m.");
  ASSERT_TRUE(p);
  ASSERT_EQ(RunToEnd(p.get()), "");
  const test::Media media = test::ReadMedia(out, true);
  ASSERT_TRUE(media.opened);
  EXPECT_EQ(media.videoFrames, 30);
  EXPECT_EQ(media.width, 320);
  ASSERT_TRUE(media.hasSound);
  int64_t flash = -1;
  for (size_t i = 0; i < media.frames.size() && flash < 0; ++i) {
    if (test::IsRed(test::PixelAt(media.frames[i], 320, 160, 120))) flash = static_cast<int64_t>(i);
  }
  ASSERT_GT(flash, 5);
  const double start = test::SoundStartsAt(media.sound);
  // Within one frame of the flash, and the sound encoder's own delay.
  EXPECT_NEAR(start, static_cast<double>(flash) / kFps, 1.5 / kFps);
  EXPECT_NEAR(test::Loudest(media.sound, start, start + test::kToneSeconds), test::kToneLevel, 0.15);
}

}  // namespace
}  // namespace tiko::gsttest
