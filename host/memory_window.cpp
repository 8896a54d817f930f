#include "host/memory_window.h"

#include <algorithm>
#include <cstring>

namespace tiko::host {
namespace {

constexpr size_t kBytesPerPixel = 3;

size_t PictureBytes(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  return static_cast<size_t>(width) * static_cast<size_t>(height) * kBytesPerPixel;
}

// StretchToTopDown into `out`, whose memory is kept from frame to frame.
void StretchInto(const uint8_t* frame, int32_t width, int32_t height, int32_t dstWidth, int32_t dstHeight,
                 std::vector<uint8_t>& out) {
  if (frame == nullptr || PictureBytes(width, height) == 0 || PictureBytes(dstWidth, dstHeight) == 0) {
    out.clear();
    return;
  }
  out.resize(PictureBytes(dstWidth, dstHeight));
  const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  const size_t outRowBytes = static_cast<size_t>(dstWidth) * kBytesPerPixel;
  // The column map is the same for every row.
  std::vector<size_t> sourceColumn;
  if (dstWidth != width) {
    sourceColumn.resize(static_cast<size_t>(dstWidth));
    for (int32_t dx = 0; dx < dstWidth; ++dx) {
      sourceColumn[static_cast<size_t>(dx)] = static_cast<size_t>(int64_t{dx} * width / dstWidth) * kBytesPerPixel;
    }
  }
  for (int32_t dy = 0; dy < dstHeight; ++dy) {
    // Output row 0 is the top line, which is the frame's last row in memory.
    const int64_t topDownRow = int64_t{dy} * height / dstHeight;
    const uint8_t* row = frame + static_cast<size_t>(height - 1 - topDownRow) * rowBytes;
    uint8_t* o = out.data() + static_cast<size_t>(dy) * outRowBytes;
    if (dstWidth == width) {
      // Drawn at its own width (the usual case), a row is a copy.
      std::memcpy(o, row, rowBytes);
      continue;
    }
    for (int32_t dx = 0; dx < dstWidth; ++dx) {
      std::memcpy(o, row + sourceColumn[static_cast<size_t>(dx)], kBytesPerPixel);
      o += kBytesPerPixel;
    }
  }
}

}  // namespace

std::vector<uint8_t> StretchToTopDown(const uint8_t* frame, int32_t width, int32_t height, int32_t dstWidth,
                                      int32_t dstHeight) {
  std::vector<uint8_t> out;
  StretchInto(frame, width, height, dstWidth, dstHeight, out);
  return out;
}

MemoryWindow::MemoryWindow(int32_t width, int32_t height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), pixels_(PictureBytes(width_, height_), 0) {}

bool MemoryWindow::GetRect(Rect* rect) {
  if (rect == nullptr) return false;
  *rect = Rect{0, 0, width_, height_};
  return true;
}

bool MemoryWindow::AcquireCanvas() {
  canvasHeld_ = true;
  ++canvasAcquisitions_;
  return true;
}

void MemoryWindow::ReleaseCanvas() { canvasHeld_ = false; }

void MemoryWindow::Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y,
                           int32_t dstWidth, int32_t dstHeight) {
  ++presentCount_;
  const bool wholeWindow = FillsWindow(frame, width, height, x, y, dstWidth, dstHeight);
  lastIsWindow_ = wholeWindow;
  if (wholeWindow) {
    // The usual present, the frame over the whole window at its own size:
    // the window's pixels are the picture, turned top-down, and one copy is
    // all it takes.
    lastRect_ = Rect{0, 0, width_, height_};
    lastImage_.clear();
    StretchInto(frame, width, height, width, height, pixels_);
    return;
  }
  StretchInto(frame, width, height, dstWidth, dstHeight, lastImage_);
  if (lastImage_.empty()) {
    lastRect_ = Rect{x, y, x, y};
    return;
  }
  lastRect_ = Rect{x, y, static_cast<int32_t>(int64_t{x} + dstWidth), static_cast<int32_t>(int64_t{y} + dstHeight)};
  // Clip to the window: only the part that falls inside is seen.
  const int64_t left = std::max<int64_t>(x, 0);
  const int64_t top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + dstWidth, width_);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + dstHeight, height_);
  if (left >= right || top >= bottom) return;
  const size_t spanBytes = static_cast<size_t>(right - left) * kBytesPerPixel;
  for (int64_t row = top; row < bottom; ++row) {
    const uint8_t* from = lastImage_.data() + (static_cast<size_t>(row - y) * static_cast<size_t>(dstWidth) +
                                               static_cast<size_t>(left - x)) *
                                                  kBytesPerPixel;
    uint8_t* to = pixels_.data() + (static_cast<size_t>(row) * static_cast<size_t>(width_) + static_cast<size_t>(left)) *
                                       kBytesPerPixel;
    std::memcpy(to, from, spanBytes);
  }
}

bool MemoryWindow::FillsWindow(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y,
                               int32_t dstWidth, int32_t dstHeight) const {
  return frame != nullptr && x == 0 && y == 0 && width == width_ && height == height_ && dstWidth == width_ &&
         dstHeight == height_ && PictureBytes(width, height) > 0;
}

void MemoryWindow::PlayWave(const char* utf8Path) {
  waves_.push_back(WaveRequest{utf8Path == nullptr ? std::string() : std::string(utf8Path), presentCount_ + 1});
}

void MemoryWindow::Resize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  std::vector<uint8_t> resized(PictureBytes(width, height), 0);
  const size_t keepBytes = static_cast<size_t>(std::min(width, width_)) * kBytesPerPixel;
  for (int32_t row = 0; keepBytes > 0 && row < std::min(height, height_); ++row) {
    std::memcpy(resized.data() + static_cast<size_t>(row) * static_cast<size_t>(width) * kBytesPerPixel,
                pixels_.data() + static_cast<size_t>(row) * static_cast<size_t>(width_) * kBytesPerPixel, keepBytes);
  }
  if (lastIsWindow_) lastImage_ = pixels_;
  lastIsWindow_ = false;
  pixels_ = std::move(resized);
  width_ = width;
  height_ = height;
}

}  // namespace tiko::host
