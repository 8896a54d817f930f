// The only way the player takes and gives back memory.
#pragma once

#include <cstddef>

namespace tiko {

// A block of `bytes` bytes from the process heap, zero-filled when `zeroFill`
// is not 0; null on failure.
void* MemAlloc(size_t bytes, int zeroFill);
void MemFree(void* block);

}  // namespace tiko
