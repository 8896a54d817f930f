// The services the player core needs from the operating system. Exactly one
// backend implements them: posix/ or win32/ for hosts and tools, testing/ for
// the test suites (the system's services plus fault injection and accounting).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tiko/host.h"

#if defined(_WIN32)
// The handles of Windows, declared as <windows.h> declares them so that the
// core never needs that header and both may meet in one file.
struct HWND__;
struct HBITMAP__;
struct HDC__;
#endif

namespace tiko::platform {

// Heap. Blocks are zero-filled on request; a request for 0 bytes still gives a
// distinct block, as the process heap does.
void* HeapAllocate(size_t bytes, bool zeroFill);
void HeapRelease(void* block);

// Files. A handle is never 0; 0 means "no file".
using FileHandle = intptr_t;

// Opens an existing regular file for reading; never creates one. The path is
// NUL-terminated UTF-16. Returns 0 on failure.
FileHandle FileOpenExisting(const char16_t* path);
// Reads up to `count` bytes at absolute `offset`, or at the current position
// when `offset` is negative, and leaves the position after the bytes read.
// Returns the number of bytes read (short only at the end of the file), or -1.
int64_t FileRead(FileHandle file, void* buffer, uint32_t count, int64_t offset);
// Current size of the file in bytes, or -1.
int64_t FileLength(FileHandle file);
void FileCloseHandle(FileHandle file);

// The calling thread's last-error value, as set by a failed open.
void SetLastErrorValue(uint32_t value);
uint32_t LastErrorValue();

// Windows and drawing. The player takes the host's window, its drawing context
// (the canvas) and a draw handle at open, and gives them back when it goes.
// On POSIX the host's window is a tiko::HostWindow and its canvas is that same
// window once AcquireCanvas has succeeded; on Windows they are the system's
// window, bitmap and device-context handles.
#if defined(_WIN32)
using WindowHandle = HWND__*;
using BitmapHandle = HBITMAP__*;
using CanvasHandle = HDC__*;
#else
using WindowHandle = HostWindow*;
using BitmapHandle = HostBitmap*;
using CanvasHandle = HostWindow*;
#endif

// Sound. A cue plays through the host window of the player whose render is
// running: the player names that window for the time of its render (null
// afterwards). With no window named, cues are dropped.
void SetSoundWindow(WindowHandle window);
// Starts playing the wave file at the NUL-terminated UTF-16 path and returns
// at once.
void PlayWave(const char16_t* path);

// Describes the frames handed to the drawing calls: 24-bit BGR, bottom-up
// (height positive), rows without padding. Laid out as the platforms' own
// bitmap headers are, so that a backend can pass it on as it is.
struct FrameHeader {
  uint32_t size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t sizeImage;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t clrUsed;
  uint32_t clrImportant;
};
inline constexpr uint32_t kFrameHeaderSize = 40;
inline constexpr uint16_t kFrameBitCount = 24;
inline constexpr uint32_t kFrameUncompressed = 0;
static_assert(sizeof(FrameHeader) == kFrameHeaderSize);

// A header for a bottom-up BGR24 frame of width x height pixels.
constexpr FrameHeader MakeFrameHeader(int32_t width, int32_t height) {
  return FrameHeader{kFrameHeaderSize, width, height, 1, kFrameBitCount, kFrameUncompressed, 0, 0, 0, 0, 0};
}

// The drawing context of `window`, or null.
CanvasHandle AcquireCanvas(WindowHandle window);
// Gives back a canvas from AcquireCanvas.
void ReleaseCanvas(WindowHandle window, CanvasHandle canvas);
// The window's rectangle; false on failure.
bool GetWindowRect(WindowHandle window, Rect* rect);

// Copies `lines` rows of the bitmap, starting at its bottom line, into `dst`
// in the layout `header` describes. Returns the rows copied, 0 on failure.
int32_t CopyBitmapBits(CanvasHandle canvas, BitmapHandle bitmap, uint32_t lines, void* dst,
                       const FrameHeader* header);
void DeleteBitmap(BitmapHandle bitmap);

// A draw handle keeps what one player set up for presenting its frames, so
// that the set-up is made once at open and reused by every frame.
struct DrawSetup;
using DrawHandle = DrawSetup*;
// A new draw handle, or null.
DrawHandle DrawOpen();
// Prepares drawing frames of the header's format and srcWidth x srcHeight
// pixels into a dstWidth x dstHeight rectangle of the canvas; false on failure.
bool DrawBegin(DrawHandle draw, CanvasHandle canvas, int32_t dstWidth, int32_t dstHeight,
               const FrameHeader* header, int32_t srcWidth, int32_t srcHeight);
// Draws the frame as prepared, stretched to dstWidth x dstHeight with its
// top-left corner at (x, y) of the canvas. Failures are not reported.
void DrawFrame(DrawHandle draw, CanvasHandle canvas, int32_t x, int32_t y, int32_t dstWidth, int32_t dstHeight,
               const FrameHeader* header, const uint8_t* bits, int32_t srcWidth, int32_t srcHeight);
// Gives back a draw handle from DrawOpen.
void DrawClose(DrawHandle draw);

}  // namespace tiko::platform
