// The package file: opened once per package, read at absolute offsets or
// sequentially from where the last read ended.
#pragma once

#include <cstdint>

#include "package/status.h"
#include "platform/platform.h"

namespace tiko {

// Opens an existing file for reading (a missing file is never created).
// Returns 0 on failure.
platform::FileHandle FileOpenForRead(const char16_t* path);
// Reads exactly `count` bytes at `offset`, or at the current position when
// `offset` is negative. Anything less is STATUS_UNSUCCESSFUL.
Status FileReadAt(platform::FileHandle file, void* buffer, uint32_t count, int32_t offset);
// Size of the file in bytes, or -1.
int64_t FileSize(platform::FileHandle file);
void FileClose(platform::FileHandle file);

}  // namespace tiko
