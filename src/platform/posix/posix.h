// The POSIX implementation of the platform services. Backends forward to these;
// nothing outside src/platform includes this header.
#pragma once

#include "platform/platform.h"

namespace tiko::posix {

void* HeapAllocate(size_t bytes, bool zeroFill);
void HeapRelease(void* block);
platform::FileHandle FileOpenExisting(const char16_t* path);
int64_t FileRead(platform::FileHandle file, void* buffer, uint32_t count, int64_t offset);
int64_t FileLength(platform::FileHandle file);
void FileCloseHandle(platform::FileHandle file);
void SetLastErrorValue(uint32_t value);
uint32_t LastErrorValue();
void SetSoundWindow(platform::WindowHandle window);
void PlayWave(const char16_t* path);
platform::CanvasHandle AcquireCanvas(platform::WindowHandle window);
void ReleaseCanvas(platform::WindowHandle window, platform::CanvasHandle canvas);
bool GetWindowRect(platform::WindowHandle window, Rect* rect);
int32_t CopyBitmapBits(platform::CanvasHandle canvas, platform::BitmapHandle bitmap, uint32_t lines, void* dst,
                       const platform::FrameHeader* header);
void DeleteBitmap(platform::BitmapHandle bitmap);
platform::DrawHandle DrawOpen();
bool DrawBegin(platform::DrawHandle draw, platform::CanvasHandle canvas, int32_t dstWidth, int32_t dstHeight,
               const platform::FrameHeader* header, int32_t srcWidth, int32_t srcHeight);
void DrawFrame(platform::DrawHandle draw, platform::CanvasHandle canvas, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight, const platform::FrameHeader* header, const uint8_t* bits, int32_t srcWidth,
               int32_t srcHeight);
void DrawClose(platform::DrawHandle draw);
// UTF-16 to UTF-8 for the operating system's calls; false on an unpaired
// surrogate or a path longer than the buffer.
bool PathToUtf8(const char16_t* path, char* out, size_t outSize);

}  // namespace tiko::posix
