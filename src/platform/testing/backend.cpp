// The testing backend: the system's own services (POSIX or Windows), counted,
// with faults on request.
#include "platform/platform.h"
#include "platform/testing/hooks.h"

#if defined(_WIN32)
#include "platform/win32/win32.h"
namespace tiko {
namespace native = win32;
}
#else
#include "platform/posix/posix.h"
namespace tiko {
namespace native = posix;
}
#endif

#include <string>
#include <unordered_map>
#include <vector>

namespace tiko {
namespace {

struct HeapState {
  uint64_t count = 0;
  uint64_t failAt = 0;
  bool failForever = false;
  uint64_t failed = 0;
  int64_t live = 0;
  uint64_t largest = 0;
} heap;

struct FileState {
  uint64_t reads = 0;
  uint64_t faultAt = 0;
  counting::ReadFault fault = counting::ReadFault::kNone;
  int64_t open = 0;
} files;

struct SoundState {
  std::vector<std::u16string> played;
} sounds;

struct DrawingState {
  bool failOpen = false;
  bool failBegin = false;
  int64_t open = 0;
} drawing;

struct TraceState {
  bool on = false;
  std::vector<std::string> events;
  std::unordered_map<const void*, uint64_t> blocks;  // allocation number of each live block
} trace;

void Note(std::string event) {
  if (trace.on) trace.events.push_back(std::move(event));
}

}  // namespace

namespace counting {

void ResetSounds() { sounds.played.clear(); }
const std::vector<std::u16string>& PlayedWaves() { return sounds.played; }

void ResetHeap() {
  heap.count = 0;
  heap.failAt = 0;
  heap.failForever = false;
  heap.failed = 0;
  heap.largest = 0;
}
void FailAllocation(uint64_t n, bool forever) {
  heap.failAt = n;
  heap.failForever = forever;
}
uint64_t AllocationCount() { return heap.count; }
int64_t LiveBlocks() { return heap.live; }
uint64_t FailedAllocations() { return heap.failed; }
uint64_t LargestAllocation() { return heap.largest; }

void ResetFiles() {
  files.reads = 0;
  files.faultAt = 0;
  files.fault = ReadFault::kNone;
}
void FailRead(uint64_t n, ReadFault fault) {
  files.faultAt = n;
  files.fault = fault;
}
uint64_t ReadCount() { return files.reads; }
int64_t OpenFiles() { return files.open; }

void ResetDrawing() {
  drawing.failOpen = false;
  drawing.failBegin = false;
}
void FailDrawOpen(bool fail) { drawing.failOpen = fail; }
void FailDrawBegin(bool fail) { drawing.failBegin = fail; }
int64_t OpenDrawHandles() { return drawing.open; }

void StartTrace() {
  // Blocks stay known across restarts, so that a later trace still names
  // the blocks of an earlier one.
  trace.on = true;
  trace.events.clear();
}
void StopTrace() {
  trace.on = false;
  trace.blocks.clear();
}
const std::vector<std::string>& TraceEvents() { return trace.events; }

}  // namespace counting

namespace platform {

void* HeapAllocate(size_t bytes, bool zeroFill) {
  const uint64_t n = ++heap.count;
  if (bytes > heap.largest) heap.largest = bytes;
  if (heap.failAt != 0 && (n == heap.failAt || (heap.failForever && n > heap.failAt))) {
    ++heap.failed;
    return nullptr;
  }
  void* block = native::HeapAllocate(bytes, zeroFill);
  if (block != nullptr) {
    ++heap.live;
    if (trace.on) {
      trace.blocks[block] = n;
      Note("alloc#" + std::to_string(n) + ":" + std::to_string(bytes));
    }
  }
  return block;
}

void HeapRelease(void* block) {
  if (block == nullptr) return;
  --heap.live;
  if (trace.on) {
    const auto found = trace.blocks.find(block);
    if (found == trace.blocks.end()) {
      Note("free#?");
    } else {
      Note("free#" + std::to_string(found->second));
      trace.blocks.erase(found);
    }
  }
  native::HeapRelease(block);
}

FileHandle FileOpenExisting(const char16_t* path) {
  const FileHandle file = native::FileOpenExisting(path);
  if (file != 0) {
    ++files.open;
    Note("file-open");
  }
  return file;
}

int64_t FileRead(FileHandle file, void* buffer, uint32_t count, int64_t offset) {
  const uint64_t n = ++files.reads;
  if (n == files.faultAt) {
    if (files.fault == counting::ReadFault::kFail) return -1;
    if (files.fault == counting::ReadFault::kShort && count > 0) {
      const int64_t got = native::FileRead(file, buffer, count - 1, offset);
      return got;
    }
  }
  return native::FileRead(file, buffer, count, offset);
}

int64_t FileLength(FileHandle file) { return native::FileLength(file); }

void FileCloseHandle(FileHandle file) {
  if (file != 0) {
    --files.open;
    Note("file-close");
  }
  native::FileCloseHandle(file);
}

void SetLastErrorValue(uint32_t value) { native::SetLastErrorValue(value); }
uint32_t LastErrorValue() { return native::LastErrorValue(); }
void SetSoundWindow(WindowHandle window) { native::SetSoundWindow(window); }

void PlayWave(const char16_t* path) {
  sounds.played.emplace_back(path);
  native::PlayWave(path);
}

CanvasHandle AcquireCanvas(WindowHandle window) {
  Note("canvas-acquire");
  return native::AcquireCanvas(window);
}

void ReleaseCanvas(WindowHandle window, CanvasHandle canvas) {
  Note("canvas-release");
  native::ReleaseCanvas(window, canvas);
}

bool GetWindowRect(WindowHandle window, Rect* rect) {
  Note("window-rect");
  return native::GetWindowRect(window, rect);
}

int32_t CopyBitmapBits(CanvasHandle canvas, BitmapHandle bitmap, uint32_t lines, void* dst,
                       const FrameHeader* header) {
  Note("bitmap-copy");
  return native::CopyBitmapBits(canvas, bitmap, lines, dst, header);
}

void DeleteBitmap(BitmapHandle bitmap) {
  Note("bitmap-delete");
  native::DeleteBitmap(bitmap);
}

DrawHandle DrawOpen() {
  Note("draw-open");
  if (drawing.failOpen) return nullptr;
  const DrawHandle draw = native::DrawOpen();
  if (draw != nullptr) ++drawing.open;
  return draw;
}

bool DrawBegin(DrawHandle draw, CanvasHandle canvas, int32_t dstWidth, int32_t dstHeight, const FrameHeader* header,
               int32_t srcWidth, int32_t srcHeight) {
  Note("draw-begin");
  if (drawing.failBegin) return false;
  return native::DrawBegin(draw, canvas, dstWidth, dstHeight, header, srcWidth, srcHeight);
}

void DrawFrame(DrawHandle draw, CanvasHandle canvas, int32_t x, int32_t y, int32_t dstWidth, int32_t dstHeight,
               const FrameHeader* header, const uint8_t* bits, int32_t srcWidth, int32_t srcHeight) {
  Note("draw-frame");
  native::DrawFrame(draw, canvas, x, y, dstWidth, dstHeight, header, bits, srcWidth, srcHeight);
}

void DrawClose(DrawHandle draw) {
  Note("draw-close");
  if (draw != nullptr) --drawing.open;
  native::DrawClose(draw);
}

}  // namespace platform
}  // namespace tiko
