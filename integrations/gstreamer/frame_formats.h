// The raw video formats the element takes, and their conversion to and from
// the player's BGR24 with libyuv, so that a webcam's YUY2 or an encoder's
// I420 needs no converter in front of the element. YUV is read and written
// with BT.601 studio-range coefficients both ways, so that a pixel the
// effects leave alone comes back as near to itself as the round trip allows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tiko::gst {

enum class FrameFormat { kBgr, kRgb, kBgrx, kYuy2, kI420, kNv12 };

// The format called `name` in GStreamer's caps ("BGR", "YUY2", ...), if it
// is one the element takes.
std::optional<FrameFormat> FormatNamed(const std::string& name);
// The caps names of every format, in order of preference: "BGR, YUY2, ...".
const char* FormatList();

// One mapped video frame: up to two planes for the semi-planar and three for
// the planar formats, rows of `strides[i]` bytes, row 0 the top line.
struct PlaneView {
  uint8_t* data[3] = {nullptr, nullptr, nullptr};
  int32_t strides[3] = {0, 0, 0};
};

// Scratch memory the conversions keep between frames.
struct ConvertScratch {
  std::vector<uint8_t> argb;
};

// Fills `bottomUp` (width * height * 3 bytes, BGR24 rows without padding,
// the bottom line first: the player's layout) from the frame.
void FrameToBgr(FrameFormat format, const PlaneView& frame, int32_t width, int32_t height, uint8_t* bottomUp,
                ConvertScratch& scratch);

// Writes the top-down BGR24 picture `topDown` back into the frame.
void BgrToFrame(FrameFormat format, const uint8_t* topDown, int32_t width, int32_t height, const PlaneView& frame,
                ConvertScratch& scratch);

}  // namespace tiko::gst
