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
void SetSoundWindow(HostWindow* window);
void PlayWave(const char16_t* path);
// UTF-16 to UTF-8 for the operating system's calls; false on an unpaired
// surrogate or a path longer than the buffer.
bool PathToUtf8(const char16_t* path, char* out, size_t outSize);

}  // namespace tiko::posix
