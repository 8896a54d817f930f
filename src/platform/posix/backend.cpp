// The POSIX backend: the platform services as the operating system gives them.
#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace tiko::platform {

void* HeapAllocate(size_t bytes, bool zeroFill) { return posix::HeapAllocate(bytes, zeroFill); }
void HeapRelease(void* block) { posix::HeapRelease(block); }
FileHandle FileOpenExisting(const char16_t* path) { return posix::FileOpenExisting(path); }
int64_t FileRead(FileHandle file, void* buffer, uint32_t count, int64_t offset) {
  return posix::FileRead(file, buffer, count, offset);
}
int64_t FileLength(FileHandle file) { return posix::FileLength(file); }
void FileCloseHandle(FileHandle file) { posix::FileCloseHandle(file); }
void SetLastErrorValue(uint32_t value) { posix::SetLastErrorValue(value); }
uint32_t LastErrorValue() { return posix::LastErrorValue(); }
void SetSoundWindow(HostWindow* window) { posix::SetSoundWindow(window); }
void PlayWave(const char16_t* path) { posix::PlayWave(path); }

CanvasHandle AcquireCanvas(WindowHandle window) { return posix::AcquireCanvas(window); }
void ReleaseCanvas(WindowHandle window, CanvasHandle canvas) { posix::ReleaseCanvas(window, canvas); }
bool GetWindowRect(WindowHandle window, Rect* rect) { return posix::GetWindowRect(window, rect); }
int32_t CopyBitmapBits(CanvasHandle canvas, BitmapHandle bitmap, uint32_t lines, void* dst,
                       const FrameHeader* header) {
  return posix::CopyBitmapBits(canvas, bitmap, lines, dst, header);
}
void DeleteBitmap(BitmapHandle bitmap) { posix::DeleteBitmap(bitmap); }
DrawHandle DrawOpen() { return posix::DrawOpen(); }
bool DrawBegin(DrawHandle draw, CanvasHandle canvas, int32_t dstWidth, int32_t dstHeight, const FrameHeader* header,
               int32_t srcWidth, int32_t srcHeight) {
  return posix::DrawBegin(draw, canvas, dstWidth, dstHeight, header, srcWidth, srcHeight);
}
void DrawFrame(DrawHandle draw, CanvasHandle canvas, int32_t x, int32_t y, int32_t dstWidth, int32_t dstHeight,
               const FrameHeader* header, const uint8_t* bits, int32_t srcWidth, int32_t srcHeight) {
  posix::DrawFrame(draw, canvas, x, y, dstWidth, dstHeight, header, bits, srcWidth, srcHeight);
}
void DrawClose(DrawHandle draw) { posix::DrawClose(draw); }

}  // namespace tiko::platform
