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

}  // namespace tiko::platform
