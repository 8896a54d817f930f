// The services the player core needs from the operating system. Exactly one
// backend implements them: posix/ for hosts and tools, testing/ for the test
// suites (the POSIX services plus fault injection and accounting).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tiko/host.h"

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

// Sound. A cue plays through the host window of the player whose render is
// running: the player names that window for the time of its render (null
// afterwards). With no window named, cues are dropped.
void SetSoundWindow(HostWindow* window);
// Starts playing the wave file at the NUL-terminated UTF-16 path and returns
// at once.
void PlayWave(const char16_t* path);

}  // namespace tiko::platform
