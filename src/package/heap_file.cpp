#include "package/file.h"
#include "package/heap.h"

namespace tiko {

void* MemAlloc(size_t bytes, int zeroFill) { return platform::HeapAllocate(bytes, zeroFill != 0); }

void MemFree(void* block) { platform::HeapRelease(block); }

platform::FileHandle FileOpenForRead(const char16_t* path) { return platform::FileOpenExisting(path); }

Status FileReadAt(platform::FileHandle file, void* buffer, uint32_t count, int32_t offset) {
  const int64_t got = platform::FileRead(file, buffer, count, offset);
  return got == static_cast<int64_t>(count) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

int64_t FileSize(platform::FileHandle file) { return platform::FileLength(file); }

void FileClose(platform::FileHandle file) { platform::FileCloseHandle(file); }

}  // namespace tiko
