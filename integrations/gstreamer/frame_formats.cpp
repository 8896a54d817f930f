#include "integrations/gstreamer/frame_formats.h"

#include <libyuv.h>

#include <array>
#include <utility>

namespace tiko::gst {
namespace {

constexpr int32_t kBgrBytes = 3;
constexpr int32_t kArgbBytes = 4;

constexpr std::array<std::pair<const char*, FrameFormat>, 6> kFormats{{
    {"BGR", FrameFormat::kBgr},
    {"YUY2", FrameFormat::kYuy2},
    {"I420", FrameFormat::kI420},
    {"NV12", FrameFormat::kNv12},
    {"BGRx", FrameFormat::kBgrx},
    {"RGB", FrameFormat::kRgb},
}};

// The two-step conversions go through libyuv's ARGB, which is BGRA in
// memory on a little-endian machine.
uint8_t* Argb(ConvertScratch& scratch, int32_t width, int32_t height) {
  scratch.argb.resize(size_t(width) * size_t(height) * kArgbBytes);
  return scratch.argb.data();
}

}  // namespace

std::optional<FrameFormat> FormatNamed(const std::string& name) {
  for (const auto& [known, format] : kFormats) {
    if (name == known) return format;
  }
  return std::nullopt;
}

const char* FormatList() { return "BGR, YUY2, I420, NV12, BGRx, RGB"; }

// A negative height makes libyuv read the source from its last row up, which
// turns a top-down frame into the player's bottom-up one in the same pass.
void FrameToBgr(FrameFormat format, const PlaneView& f, int32_t width, int32_t height, uint8_t* bottomUp,
                ConvertScratch& scratch) {
  const int32_t bgrStride = width * kBgrBytes;
  switch (format) {
    case FrameFormat::kBgr:
      libyuv::CopyPlane(f.data[0], f.strides[0], bottomUp, bgrStride, bgrStride, -height);
      break;
    case FrameFormat::kRgb:
      libyuv::RAWToRGB24(f.data[0], f.strides[0], bottomUp, bgrStride, width, -height);
      break;
    case FrameFormat::kBgrx:
      libyuv::ARGBToRGB24(f.data[0], f.strides[0], bottomUp, bgrStride, width, -height);
      break;
    case FrameFormat::kI420:
      libyuv::I420ToRGB24(f.data[0], f.strides[0], f.data[1], f.strides[1], f.data[2], f.strides[2], bottomUp,
                          bgrStride, width, -height);
      break;
    case FrameFormat::kNv12:
      libyuv::NV12ToRGB24(f.data[0], f.strides[0], f.data[1], f.strides[1], bottomUp, bgrStride, width, -height);
      break;
    case FrameFormat::kYuy2: {
      uint8_t* argb = Argb(scratch, width, height);
      libyuv::YUY2ToARGB(f.data[0], f.strides[0], argb, width * kArgbBytes, width, -height);
      libyuv::ARGBToRGB24(argb, width * kArgbBytes, bottomUp, bgrStride, width, height);
      break;
    }
  }
}

void BgrToFrame(FrameFormat format, const uint8_t* topDown, int32_t width, int32_t height, const PlaneView& f,
                ConvertScratch& scratch) {
  const int32_t bgrStride = width * kBgrBytes;
  switch (format) {
    case FrameFormat::kBgr:
      libyuv::CopyPlane(topDown, bgrStride, f.data[0], f.strides[0], bgrStride, height);
      break;
    case FrameFormat::kRgb:
      // Swapping the first and third byte of each pixel is its own inverse.
      libyuv::RAWToRGB24(topDown, bgrStride, f.data[0], f.strides[0], width, height);
      break;
    case FrameFormat::kBgrx:
      libyuv::RGB24ToARGB(topDown, bgrStride, f.data[0], f.strides[0], width, height);
      break;
    case FrameFormat::kI420:
      libyuv::RGB24ToI420(topDown, bgrStride, f.data[0], f.strides[0], f.data[1], f.strides[1], f.data[2],
                          f.strides[2], width, height);
      break;
    case FrameFormat::kNv12: {
      uint8_t* argb = Argb(scratch, width, height);
      libyuv::RGB24ToARGB(topDown, bgrStride, argb, width * kArgbBytes, width, height);
      libyuv::ARGBToNV12(argb, width * kArgbBytes, f.data[0], f.strides[0], f.data[1], f.strides[1], width, height);
      break;
    }
    case FrameFormat::kYuy2: {
      uint8_t* argb = Argb(scratch, width, height);
      libyuv::RGB24ToARGB(topDown, bgrStride, argb, width * kArgbBytes, width, height);
      libyuv::ARGBToYUY2(argb, width * kArgbBytes, f.data[0], f.strides[0], width, height);
      break;
    }
  }
}

}  // namespace tiko::gst
