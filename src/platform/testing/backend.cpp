// The testing backend: the POSIX services, counted, with faults on request.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "platform/testing/hooks.h"

#include <string>
#include <vector>

namespace tiko {
namespace {

struct HeapState {
  uint64_t count = 0;
  uint64_t failAt = 0;
  bool failForever = false;
  uint64_t failed = 0;
  int64_t live = 0;
} heap;

struct FileState {
  uint64_t reads = 0;
  uint64_t faultAt = 0;
  testing::ReadFault fault = testing::ReadFault::kNone;
  int64_t open = 0;
} files;

struct SoundState {
  std::vector<std::u16string> played;
} sounds;

}  // namespace

namespace testing {

void ResetSounds() { sounds.played.clear(); }
const std::vector<std::u16string>& PlayedWaves() { return sounds.played; }

void ResetHeap() {
  heap.count = 0;
  heap.failAt = 0;
  heap.failForever = false;
  heap.failed = 0;
}
void FailAllocation(uint64_t n, bool forever) {
  heap.failAt = n;
  heap.failForever = forever;
}
uint64_t AllocationCount() { return heap.count; }
int64_t LiveBlocks() { return heap.live; }
uint64_t FailedAllocations() { return heap.failed; }

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

}  // namespace testing

namespace platform {

void* HeapAllocate(size_t bytes, bool zeroFill) {
  const uint64_t n = ++heap.count;
  if (heap.failAt != 0 && (n == heap.failAt || (heap.failForever && n > heap.failAt))) {
    ++heap.failed;
    return nullptr;
  }
  void* block = posix::HeapAllocate(bytes, zeroFill);
  if (block != nullptr) ++heap.live;
  return block;
}

void HeapRelease(void* block) {
  if (block == nullptr) return;
  --heap.live;
  posix::HeapRelease(block);
}

FileHandle FileOpenExisting(const char16_t* path) {
  const FileHandle file = posix::FileOpenExisting(path);
  if (file != 0) ++files.open;
  return file;
}

int64_t FileRead(FileHandle file, void* buffer, uint32_t count, int64_t offset) {
  const uint64_t n = ++files.reads;
  if (n == files.faultAt) {
    if (files.fault == testing::ReadFault::kFail) return -1;
    if (files.fault == testing::ReadFault::kShort && count > 0) {
      const int64_t got = posix::FileRead(file, buffer, count - 1, offset);
      return got;
    }
  }
  return posix::FileRead(file, buffer, count, offset);
}

int64_t FileLength(FileHandle file) { return posix::FileLength(file); }

void FileCloseHandle(FileHandle file) {
  if (file != 0) --files.open;
  posix::FileCloseHandle(file);
}

void SetLastErrorValue(uint32_t value) { posix::SetLastErrorValue(value); }
uint32_t LastErrorValue() { return posix::LastErrorValue(); }
void SetSoundWindow(HostWindow* window) { posix::SetSoundWindow(window); }

void PlayWave(const char16_t* path) {
  sounds.played.emplace_back(path);
  posix::PlayWave(path);
}

}  // namespace platform
}  // namespace tiko
