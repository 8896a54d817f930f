// The POSIX implementation of the platform services. Backends forward to these;
// nothing outside src/platform includes this header.
#pragma once

#include "platform/platform.h"

namespace tiko::posix {

#include "platform/native_api.inc"

// UTF-16 to UTF-8 for the operating system's calls; false on an unpaired
// surrogate or a path longer than the buffer.
bool PathToUtf8(const char16_t* path, char* out, size_t outSize);

}  // namespace tiko::posix
