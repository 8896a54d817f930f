#include "platform/posix/posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tiko::posix {

void* HeapAllocate(size_t bytes, bool zeroFill) {
  // malloc(0) may return null; the process heap never does for a valid size.
  if (bytes == 0) bytes = 1;
  return zeroFill ? std::calloc(1, bytes) : std::malloc(bytes);
}

void HeapRelease(void* block) { std::free(block); }

namespace {

// Largest path we convert: 255 UTF-16 units can need 3 bytes each in UTF-8.
constexpr size_t kMaxPathUnits = 4096;

}  // namespace

bool PathToUtf8(const char16_t* path, char* out, size_t outSize) {
  size_t o = 0;
  for (size_t i = 0; path[i] != 0; ++i) {
    if (i >= kMaxPathUnits) return false;
    uint32_t c = path[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      const uint32_t low = path[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    uint8_t bytes[4];
    size_t n;
    if (c < 0x80) {
      bytes[0] = static_cast<uint8_t>(c);
      n = 1;
    } else if (c < 0x800) {
      bytes[0] = static_cast<uint8_t>(0xC0 | (c >> 6));
      bytes[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      n = 2;
    } else if (c < 0x10000) {
      bytes[0] = static_cast<uint8_t>(0xE0 | (c >> 12));
      bytes[1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      bytes[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      n = 3;
    } else {
      bytes[0] = static_cast<uint8_t>(0xF0 | (c >> 18));
      bytes[1] = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F));
      bytes[2] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
      bytes[3] = static_cast<uint8_t>(0x80 | (c & 0x3F));
      n = 4;
    }
    if (o + n >= outSize) return false;
    for (size_t k = 0; k < n; ++k) out[o++] = static_cast<char>(bytes[k]);
  }
  out[o] = 0;
  return o != 0;
}

namespace {

int ToFd(platform::FileHandle file) { return static_cast<int>(file - 1); }

}  // namespace

platform::FileHandle FileOpenExisting(const char16_t* path) {
  if (path == nullptr) return 0;
  char utf8[kMaxPathUnits * 3 + 1];
  if (!PathToUtf8(path, utf8, sizeof utf8)) return 0;
  // Non-blocking so that a FIFO or device cannot stall the host's thread; only
  // regular files are packages.
  const int fd = open(utf8, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return 0;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#ifdef POSIX_FADV_RANDOM
  posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
#endif
  // Handles are fd + 1 so that 0 always means "no file".
  return static_cast<platform::FileHandle>(fd) + 1;
}

int64_t FileRead(platform::FileHandle file, void* buffer, uint32_t count, int64_t offset) {
  if (file <= 0) return -1;
  const int fd = ToFd(file);
  if (offset >= 0 && lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return -1;
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = read(fd, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

int64_t FileLength(platform::FileHandle file) {
  if (file <= 0) return -1;
  struct stat st;
  if (fstat(ToFd(file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void FileCloseHandle(platform::FileHandle file) {
  if (file > 0) close(ToFd(file));
}

namespace {
thread_local uint32_t lastError = 0;
}

void SetLastErrorValue(uint32_t value) { lastError = value; }
uint32_t LastErrorValue() { return lastError; }

namespace {
thread_local HostWindow* soundWindow = nullptr;
}

void SetSoundWindow(platform::WindowHandle window) { soundWindow = window; }

void PlayWave(const char16_t* path) {
  if (soundWindow == nullptr) return;
  char utf8[kMaxPathUnits * 3 + 1];
  if (!PathToUtf8(path, utf8, sizeof utf8)) return;
  soundWindow->PlayWave(utf8);
}

// The host's window is its own drawing context: the canvas is the window once
// it has agreed to be drawn into.
platform::CanvasHandle AcquireCanvas(platform::WindowHandle window) {
  if (window == nullptr || !window->AcquireCanvas()) return nullptr;
  return window;
}

void ReleaseCanvas(platform::WindowHandle /*window*/, platform::CanvasHandle canvas) {
  if (canvas != nullptr) canvas->ReleaseCanvas();
}

bool GetWindowRect(platform::WindowHandle window, Rect* rect) {
  return window != nullptr && rect != nullptr && window->GetRect(rect);
}

namespace {

// Only what the player hands over is drawn or copied: bottom-up BGR24 frames.
bool IsFrameHeader(const platform::FrameHeader* header) {
  return header != nullptr && header->size == platform::kFrameHeaderSize && header->planes == 1 &&
         header->bitCount == platform::kFrameBitCount && header->compression == platform::kFrameUncompressed &&
         header->width > 0 && header->height > 0;
}

}  // namespace

int32_t CopyBitmapBits(platform::CanvasHandle /*canvas*/, platform::BitmapHandle bitmap, uint32_t lines, void* dst,
                       const platform::FrameHeader* header) {
  if (bitmap == nullptr || dst == nullptr || !IsFrameHeader(header) || lines == 0) return 0;
  const int32_t asked = lines > static_cast<uint32_t>(header->height) ? header->height : static_cast<int32_t>(lines);
  const int32_t copied = bitmap->CopyPixels(static_cast<uint8_t*>(dst), header->width, asked);
  // A host that claims more rows than it was asked for copied no more than that.
  if (copied <= 0) return 0;
  return copied > asked ? asked : copied;
}

void DeleteBitmap(platform::BitmapHandle bitmap) {
  if (bitmap != nullptr) bitmap->Delete();
}

}  // namespace tiko::posix

namespace tiko::platform {

// What DrawBegin set up, reused by every DrawFrame.
struct DrawSetup {
  CanvasHandle canvas;
  int32_t dstWidth;
  int32_t dstHeight;
  int32_t srcWidth;
  int32_t srcHeight;
  bool begun;
};

}  // namespace tiko::platform

namespace tiko::posix {

platform::DrawHandle DrawOpen() {
  auto* draw = static_cast<platform::DrawSetup*>(posix::HeapAllocate(sizeof(platform::DrawSetup), true));
  return draw;
}

bool DrawBegin(platform::DrawHandle draw, platform::CanvasHandle canvas, int32_t dstWidth, int32_t dstHeight,
               const platform::FrameHeader* header, int32_t srcWidth, int32_t srcHeight) {
  if (draw == nullptr || canvas == nullptr || !IsFrameHeader(header)) return false;
  // Frames are always drawn whole: the source rectangle is the frame.
  if (srcWidth != header->width || srcHeight != header->height) return false;
  *draw = platform::DrawSetup{canvas, dstWidth, dstHeight, srcWidth, srcHeight, true};
  return true;
}

void DrawFrame(platform::DrawHandle draw, platform::CanvasHandle canvas, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight, const platform::FrameHeader* header, const uint8_t* bits, int32_t srcWidth,
               int32_t srcHeight) {
  // Only a frame of the format and size that was set up is drawn, into the
  // canvas it was set up for; anything else would need a new set-up.
  if (draw == nullptr || !draw->begun || canvas != draw->canvas || bits == nullptr || !IsFrameHeader(header)) return;
  if (srcWidth != draw->srcWidth || srcHeight != draw->srcHeight || header->width != srcWidth ||
      header->height != srcHeight) {
    return;
  }
  canvas->Present(bits, srcWidth, srcHeight, x, y, dstWidth, dstHeight);
}

void DrawClose(platform::DrawHandle draw) { posix::HeapRelease(draw); }

}  // namespace tiko::posix
