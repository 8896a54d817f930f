// What the element's suites share: GStreamer started once, frames to feed,
// harnesses around tikooverlay, and the reference the element is held to:
// the player driven directly through its public interface with a memory
// window, as `tiko render` drives it.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/eyes/eye_file.h"
#include "host/eyes/eye_reports.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/stage.h"
#include "support/direct_player.h"
#include "tiko/tiko.h"

namespace tiko::gsttest {

using test::DirectPlayer;

inline void StartGst() {
  if (!gst_is_initialized()) gst_init(nullptr, nullptr);
  // The plugin must come from the build, found through GST_PLUGIN_PATH.
  GstElementFactory* factory = gst_element_factory_find("tikooverlay");
  ASSERT_NE(factory, nullptr) << "tikooverlay not found; GST_PLUGIN_PATH=" << (g_getenv("GST_PLUGIN_PATH") ?: "");
  gst_object_unref(factory);
}

inline constexpr int kFps = 25;
inline constexpr GstClockTime kFrameTime = GST_SECOND / kFps;

// A top-down BGR24 frame of a pattern that differs from frame to frame.
inline std::vector<uint8_t> PatternFrame(int32_t width, int32_t height, int32_t index) {
  std::vector<uint8_t> frame(size_t(width) * height * 3);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = frame.data() + (size_t(y) * width + x) * 3;
      p[0] = static_cast<uint8_t>(x * 3 + index * 7);
      p[1] = static_cast<uint8_t>(y * 5 + index * 11);
      p[2] = static_cast<uint8_t>((x ^ y) + index * 13);
    }
  }
  return frame;
}

// ---- harnesses ------------------------------------------------------------

struct HarnessDeleter {
  void operator()(GstHarness* h) const { gst_harness_teardown(h); }
};
using HarnessPtr = std::unique_ptr<GstHarness, HarnessDeleter>;

inline std::string VideoCaps(const char* format, int32_t width, int32_t height, int fps = kFps) {
  return "video/x-raw,format=" + std::string(format) + ",width=" + std::to_string(width) +
         ",height=" + std::to_string(height) + ",framerate=" + std::to_string(fps) + "/1";
}

// A harness around a new tikooverlay, with the properties given as
// gst-launch text ("location=... eyes=none"; no spaces in the values).
inline HarnessPtr Overlay(const std::string& properties) {
  GstElement* element = gst_element_factory_make("tikooverlay", nullptr);
  if (element == nullptr) return nullptr;
  size_t at = 0;
  while (at < properties.size()) {
    size_t end = properties.find(' ', at);
    if (end == std::string::npos) end = properties.size();
    const std::string pair = properties.substr(at, end - at);
    const size_t equals = pair.find('=');
    if (equals != std::string::npos) {
      gst_util_set_object_arg(G_OBJECT(element), pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str());
    }
    at = end + 1;
  }
  HarnessPtr h(gst_harness_new_with_element(element, const_cast<gchar*>("sink"), const_cast<gchar*>("src")));
  gst_object_unref(element);
  return h;
}

// A video buffer of the frame's bytes, rows laid out as GStreamer lays them
// for the caps (BGR rows are padded to 4 bytes), stamped as frame `index`.
inline GstBuffer* BgrBuffer(const std::vector<uint8_t>& topDown, int32_t width, int32_t height, int64_t index) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, width, height);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, info.size, nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(map.data + size_t(y) * info.stride[0], topDown.data() + size_t(y) * width * 3, size_t(width) * 3);
  }
  gst_buffer_unmap(buffer, &map);
  GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(index) * kFrameTime;
  GST_BUFFER_DURATION(buffer) = kFrameTime;
  return buffer;
}

// The frame in a BGR output buffer, without the rows' padding.
inline std::vector<uint8_t> BgrOf(GstBuffer* buffer, int32_t width, int32_t height) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, width, height);
  std::vector<uint8_t> frame(size_t(width) * height * 3);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_READ);
  EXPECT_GE(map.size, info.size);
  for (int32_t y = 0; y < height && map.size >= info.size; ++y) {
    std::memcpy(frame.data() + size_t(y) * width * 3, map.data + size_t(y) * info.stride[0], size_t(width) * 3);
  }
  gst_buffer_unmap(buffer, &map);
  return frame;
}

// Marks an eye near `eye` (in the eye space) with a box of 10 x 10 frame
// pixels; the point of the eye space the box's centre is at, which is what
// the eye reported is.
inline host::EyePoint AddEyeMeta(GstBuffer* buffer, const host::EyePoint& eye, int32_t width, int32_t height) {
  const auto left = static_cast<guint>(eye.x * width / 320.0 - 5);
  const auto top = static_cast<guint>(eye.y * height / 240.0 - 5);
  gst_buffer_add_video_region_of_interest_meta(buffer, "eye", left, top, 10, 10);
  return host::EyePoint{static_cast<int32_t>((left + 5) * 320.0 / width), static_cast<int32_t>((top + 5) * 240.0 / height)};
}

// ---- the bus ----------------------------------------------------------------

// The texts of the error (or warning) messages posted so far.
inline std::vector<std::string> Messages(GstBus* bus, GstMessageType type) {
  std::vector<std::string> texts;
  while (GstMessage* message = gst_bus_pop_filtered(bus, type)) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (type == GST_MESSAGE_ERROR) {
      gst_message_parse_error(message, &error, &debug);
    } else {
      gst_message_parse_warning(message, &error, &debug);
    }
    texts.push_back(std::string(error->message) + " | " + (debug ? debug : ""));
    g_error_free(error);
    g_free(debug);
    gst_message_unref(message);
  }
  return texts;
}

inline std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& t : texts) all += t + "\n";
  return all;
}

}  // namespace tiko::gsttest
