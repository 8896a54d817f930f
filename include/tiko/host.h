/* The host types of the POSIX build: a host implements them, and the player
 * calls them to draw its frames, copy the background and play sound cues.
 * C++11, needs nothing but <cstdint>. */
#ifndef TIKO_HOST_H_
#define TIKO_HOST_H_

#include <cstdint>

namespace tiko {

struct Rect {
  int32_t left, top, right, bottom;
};

// A window and the host's platform services.
class HostWindow {
 public:
  // The window rectangle; false on failure.
  virtual bool GetRect(Rect* rect) = 0;
  // Takes the drawing context; false on failure.
  virtual bool AcquireCanvas() = 0;
  // Gives back the drawing context; pairs with AcquireCanvas.
  virtual void ReleaseCanvas() = 0;
  // Draws a bottom-up BGR24 frame (rows of width * 3 bytes, no padding)
  // stretched to dstWidth x dstHeight with its top-left corner at (x, y) of
  // the canvas.
  virtual void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y,
                       int32_t dstWidth, int32_t dstHeight) = 0;
  // Starts playing a wave file and returns at once.
  virtual void PlayWave(const char* utf8Path) = 0;

 protected:
  ~HostWindow() = default;
};

// A background picture handed to the player.
class HostBitmap {
 public:
  // Copies `lines` rows as bottom-up BGR24 of `width` pixels into dst.
  // Returns the number of rows copied, 0 on failure.
  virtual int32_t CopyPixels(uint8_t* dst, int32_t width, int32_t lines) = 0;
  // The player deletes the bitmap after a successful copy.
  virtual void Delete() = 0;

 protected:
  ~HostBitmap() = default;
};

}  // namespace tiko

#endif  // TIKO_HOST_H_
