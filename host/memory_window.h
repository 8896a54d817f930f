// A headless host window: it keeps what the player presents and the sounds it
// asks for, for tests, offline tools and hosts without a screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tiko/host.h"

namespace tiko::host {

// A sound cue the player asked for, and the render it came from: renders are
// counted from 1, and every render of an opened player presents once after
// its cues, so this is the number of presents so far plus one.
struct WaveRequest {
  std::string path;
  int64_t render;
};

class MemoryWindow final : public HostWindow {
 public:
  MemoryWindow(int32_t width, int32_t height);

  bool GetRect(Rect* rect) override;
  bool AcquireCanvas() override;
  void ReleaseCanvas() override;
  void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight) override;
  void PlayWave(const char* utf8Path) override;

  // Whether a present with these arguments is the usual one: a frame of the
  // window's own size drawn over all of it.
  bool FillsWindow(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y, int32_t dstWidth,
                   int32_t dstHeight) const;

  // The window changes size: the content is kept where it still fits.
  void Resize(int32_t width, int32_t height);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // What the window shows: every present so far drawn over the last, clipped
  // to the window, top-down BGR24 rows of width() * 3 bytes; black at first.
  const std::vector<uint8_t>& pixels() const { return pixels_; }
  // The last presented picture by itself, stretched to the size it was drawn
  // at, top-down BGR24; and where it was drawn (its size is right - left by
  // bottom - top; empty when it had no area).
  const std::vector<uint8_t>& lastImage() const { return lastIsWindow_ ? pixels_ : lastImage_; }
  const Rect& lastRect() const { return lastRect_; }
  int64_t presentCount() const { return presentCount_; }
  const std::vector<WaveRequest>& waves() const { return waves_; }
  // Whether the drawing context is taken now, and how often it was.
  bool canvasHeld() const { return canvasHeld_; }
  int64_t canvasAcquisitions() const { return canvasAcquisitions_; }

 private:
  int32_t width_;
  int32_t height_;
  std::vector<uint8_t> pixels_;
  std::vector<uint8_t> lastImage_;  // unused while the last present filled the window
  bool lastIsWindow_ = false;
  Rect lastRect_{0, 0, 0, 0};
  int64_t presentCount_ = 0;
  std::vector<WaveRequest> waves_;
  bool canvasHeld_ = false;
  int64_t canvasAcquisitions_ = 0;
};

// Nearest-neighbour stretch of a bottom-up BGR24 frame to a top-down BGR24
// picture of dstWidth x dstHeight; empty when either size is not positive.
std::vector<uint8_t> StretchToTopDown(const uint8_t* frame, int32_t width, int32_t height, int32_t dstWidth,
                                      int32_t dstHeight);

}  // namespace tiko::host
