#include "platform/win32/win32.h"

#include <cstddef>
#include <cstring>

// The system headers stay in this file: the core sees only the handle types
// that platform.h declares.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

namespace tiko::win32 {
namespace {

// The player's frame header is handed to GDI and DrawDib as it is.
static_assert(sizeof(platform::FrameHeader) == sizeof(BITMAPINFOHEADER));
static_assert(offsetof(platform::FrameHeader, width) == offsetof(BITMAPINFOHEADER, biWidth));
static_assert(offsetof(platform::FrameHeader, height) == offsetof(BITMAPINFOHEADER, biHeight));
static_assert(offsetof(platform::FrameHeader, bitCount) == offsetof(BITMAPINFOHEADER, biBitCount));
static_assert(offsetof(platform::FrameHeader, clrImportant) == offsetof(BITMAPINFOHEADER, biClrImportant));
static_assert(sizeof(char16_t) == sizeof(wchar_t), "paths are UTF-16 code units on both sides");

// The drawing set-up and the sound as the player asks for them.
constexpr UINT kBeginFlags = DDF_SAME_HDC | DDF_SAME_DRAW;
constexpr UINT kDrawFlags = DDF_SAME_DRAW;
constexpr DWORD kSoundFlags = SND_FILENAME | SND_ASYNC;
static_assert(kBeginFlags == 12 && kDrawFlags == 8 && kSoundFlags == 0x00020001);

// Without the high half, SetFilePointer moves to a signed 32-bit distance;
// every offset the package reader asks for is below that.
constexpr int64_t kMaxReadOffset = 0x7FFFFFFF;

HANDLE ToHandle(platform::FileHandle file) { return reinterpret_cast<HANDLE>(file); }

const wchar_t* ToWide(const char16_t* path) { return reinterpret_cast<const wchar_t*>(path); }

// Only what the player hands over is drawn or copied: bottom-up BGR24 frames.
bool IsFrameHeader(const platform::FrameHeader* header) {
  return header != nullptr && header->size == platform::kFrameHeaderSize && header->planes == 1 &&
         header->bitCount == platform::kFrameBitCount && header->compression == platform::kFrameUncompressed &&
         header->width > 0 && header->height > 0;
}

BITMAPINFOHEADER* ToBitmapHeader(const platform::FrameHeader* header) {
  return reinterpret_cast<BITMAPINFOHEADER*>(const_cast<platform::FrameHeader*>(header));
}

// Bytes of `rows` rows of `rowBytes`, or 0 when that does not fit in memory.
size_t BlockBytes(uint64_t rowBytes, uint64_t rows) {
  if (rowBytes != 0 && rows > SIZE_MAX / rowBytes) return 0;
  return static_cast<size_t>(rowBytes * rows);
}

// Bytes of one row of a 24-bit device-independent bitmap of `width` pixels:
// the system pads every row to a multiple of 4 bytes, the player's frames do
// not. 0 for a width of 0 or less.
uint64_t DibRowBytes(int32_t width) {
  if (width <= 0) return 0;
  return (uint64_t(uint32_t(width)) * 24 + 31) / 32 * 4;
}

}  // namespace

void* HeapAllocate(size_t bytes, bool zeroFill) {
  return ::HeapAlloc(::GetProcessHeap(), zeroFill ? HEAP_ZERO_MEMORY : 0, bytes);
}

void HeapRelease(void* block) {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

platform::FileHandle FileOpenExisting(const char16_t* path) {
  if (path == nullptr) return 0;
  // An existing file only: a path that names nothing must not leave an empty
  // file behind.
  const HANDLE file = ::CreateFileW(ToWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // Packages are files on disk; a pipe, a console or a device could hold up
  // the host's thread in a read that never ends.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    return 0;
  }
  return reinterpret_cast<platform::FileHandle>(file);
}

int64_t FileRead(platform::FileHandle file, void* buffer, uint32_t count, int64_t offset) {
  if (file == 0 || (buffer == nullptr && count != 0)) return -1;
  const HANDLE handle = ToHandle(file);
  if (offset >= 0) {
    if (offset > kMaxReadOffset) return -1;
    if (::SetFilePointer(handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
      return -1;
    }
  }
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  // A disk file gives everything in one read; a read that comes back short
  // and not at the end is asked again rather than reported as the end.
  while (done < count) {
    DWORD got = 0;
    if (!::ReadFile(handle, out + done, count - done, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

int64_t FileLength(platform::FileHandle file) {
  LARGE_INTEGER size;
  // The size is asked for without moving the file position: the loader goes
  // on reading where its last read ended.
  if (file == 0 || !::GetFileSizeEx(ToHandle(file), &size)) return -1;
  return size.QuadPart;
}

void FileCloseHandle(platform::FileHandle file) {
  if (file != 0) ::CloseHandle(ToHandle(file));
}

void SetLastErrorValue(uint32_t value) { ::SetLastError(value); }

uint32_t LastErrorValue() { return ::GetLastError(); }

namespace {
thread_local HWND soundWindow = nullptr;
}

void SetSoundWindow(platform::WindowHandle window) { soundWindow = window; }

void PlayWave(const char16_t* path) {
  // Cues belong to a render: outside one there is no player to play for.
  if (soundWindow == nullptr || path == nullptr) return;
  ::PlaySoundW(ToWide(path), nullptr, kSoundFlags);
}

platform::CanvasHandle AcquireCanvas(platform::WindowHandle window) {
  // GetDC of no window is the whole screen's context; a player draws only
  // into a window of the host's.
  if (window == nullptr) return nullptr;
  return ::GetDC(window);
}

void ReleaseCanvas(platform::WindowHandle window, platform::CanvasHandle canvas) {
  if (canvas != nullptr) ::ReleaseDC(window, canvas);
}

bool GetWindowRect(platform::WindowHandle window, Rect* rect) {
  RECT r;
  if (window == nullptr || rect == nullptr || !::GetWindowRect(window, &r)) return false;
  *rect = Rect{r.left, r.top, r.right, r.bottom};
  return true;
}

int32_t CopyBitmapBits(platform::CanvasHandle canvas, platform::BitmapHandle bitmap, uint32_t lines, void* dst,
                       const platform::FrameHeader* header) {
  if (bitmap == nullptr || dst == nullptr || !IsFrameHeader(header) || lines == 0) return 0;
  const uint32_t rows = lines > uint32_t(header->height) ? uint32_t(header->height) : lines;
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  std::memcpy(&info.bmiHeader, header, sizeof info.bmiHeader);
  const uint64_t rowBytes = uint64_t(uint32_t(header->width)) * 3;
  const uint64_t dibRowBytes = DibRowBytes(header->width);
  if (dibRowBytes == rowBytes) {
    const int copied = ::GetDIBits(canvas, bitmap, 0, rows, dst, &info, DIB_RGB_COLORS);
    if (copied <= 0) return 0;
    return uint32_t(copied) > rows ? int32_t(rows) : copied;
  }
  // The system writes rows padded to 4 bytes, which would run past the end
  // of the player's unpadded buffer: copy through padded rows, then close up.
  const size_t bytes = BlockBytes(dibRowBytes, rows);
  if (bytes == 0) return 0;
  auto* padded = static_cast<uint8_t*>(win32::HeapAllocate(bytes, false));
  if (padded == nullptr) return 0;
  int copied = ::GetDIBits(canvas, bitmap, 0, rows, padded, &info, DIB_RGB_COLORS);
  if (copied > 0) {
    if (uint32_t(copied) > rows) copied = int(rows);
    auto* out = static_cast<uint8_t*>(dst);
    for (int row = 0; row < copied; ++row) {
      std::memcpy(out + size_t(row) * rowBytes, padded + size_t(row) * dibRowBytes, size_t(rowBytes));
    }
  }
  win32::HeapRelease(padded);
  return copied > 0 ? copied : 0;
}

void DeleteBitmap(platform::BitmapHandle bitmap) {
  if (bitmap != nullptr) ::DeleteObject(bitmap);
}

}  // namespace tiko::win32

namespace tiko::platform {

// What DrawBegin set up, reused by every DrawFrame. Frames whose rows are not
// a multiple of 4 bytes are laid out again in `padded` before each draw, as
// DrawDib reads rows padded to 4 bytes.
struct DrawSetup {
  HDRAWDIB drawDib;
  uint8_t* padded;
  int32_t srcWidth;
  int32_t srcHeight;
};

}  // namespace tiko::platform

namespace tiko::win32 {

platform::DrawHandle DrawOpen() {
  auto* draw = static_cast<platform::DrawSetup*>(win32::HeapAllocate(sizeof(platform::DrawSetup), true));
  if (draw == nullptr) return nullptr;
  draw->drawDib = ::DrawDibOpen();
  if (draw->drawDib == nullptr) {
    win32::HeapRelease(draw);
    return nullptr;
  }
  return draw;
}

bool DrawBegin(platform::DrawHandle draw, platform::CanvasHandle canvas, int32_t dstWidth, int32_t dstHeight,
               const platform::FrameHeader* header, int32_t srcWidth, int32_t srcHeight) {
  if (draw == nullptr || canvas == nullptr || !IsFrameHeader(header)) return false;
  // Frames are always drawn whole: the source rectangle is the frame.
  if (srcWidth != header->width || srcHeight != header->height) return false;
  win32::HeapRelease(draw->padded);
  draw->padded = nullptr;
  draw->srcWidth = 0;
  draw->srcHeight = 0;
  const uint64_t dibRowBytes = DibRowBytes(srcWidth);
  if (dibRowBytes != uint64_t(uint32_t(srcWidth)) * 3) {
    const size_t bytes = BlockBytes(dibRowBytes, uint32_t(srcHeight));
    if (bytes == 0) return false;
    draw->padded = static_cast<uint8_t*>(win32::HeapAllocate(bytes, true));
    if (draw->padded == nullptr) return false;
  }
  if (!::DrawDibBegin(draw->drawDib, canvas, dstWidth, dstHeight, ToBitmapHeader(header), srcWidth, srcHeight,
                      kBeginFlags)) {
    return false;
  }
  draw->srcWidth = srcWidth;
  draw->srcHeight = srcHeight;
  return true;
}

void DrawFrame(platform::DrawHandle draw, platform::CanvasHandle canvas, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight, const platform::FrameHeader* header, const uint8_t* bits, int32_t srcWidth,
               int32_t srcHeight) {
  // Only a frame of the format and size that was set up is drawn; anything
  // else would need a new set-up (and would not fit the padded rows).
  if (draw == nullptr || bits == nullptr || !IsFrameHeader(header)) return;
  if (srcWidth != draw->srcWidth || srcHeight != draw->srcHeight || header->width != srcWidth ||
      header->height != srcHeight) {
    return;
  }
  const void* source = bits;
  if (draw->padded != nullptr) {
    const size_t rowBytes = size_t(uint32_t(srcWidth)) * 3;
    const size_t dibRowBytes = static_cast<size_t>(DibRowBytes(srcWidth));
    for (int32_t row = 0; row < srcHeight; ++row) {
      std::memcpy(draw->padded + size_t(row) * dibRowBytes, bits + size_t(row) * rowBytes, rowBytes);
    }
    source = draw->padded;
  }
  ::DrawDibDraw(draw->drawDib, canvas, x, y, dstWidth, dstHeight, ToBitmapHeader(header), const_cast<void*>(source),
                0, 0, srcWidth, srcHeight, kDrawFlags);
}

void DrawClose(platform::DrawHandle draw) {
  if (draw == nullptr) return;
  ::DrawDibClose(draw->drawDib);
  win32::HeapRelease(draw->padded);
  win32::HeapRelease(draw);
}

}  // namespace tiko::win32
