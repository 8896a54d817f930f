// The Windows implementation of the platform services. Backends forward to
// these; nothing outside src/platform includes this header, and it keeps
// <windows.h> to itself.
#pragma once

#include "platform/platform.h"

namespace tiko::win32 {

#include "platform/native_api.inc"

}  // namespace tiko::win32
