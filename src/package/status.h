#pragma once

#include <cstdint>

#include "tiko/tiko.h"

namespace tiko {

// The loader and the file reads report a 32-bit status: 0 or the one failure.
// The failure is what a host reads back as its last error after a refused
// open, so it is the public header's value.
using Status = uint32_t;
inline constexpr Status STATUS_SUCCESS = 0;
inline constexpr Status STATUS_UNSUCCESSFUL = TIKO_STATUS_UNSUCCESSFUL;
static_assert(STATUS_UNSUCCESSFUL == 0xC0000001u, "hosts compare the last error with this exact value");

}  // namespace tiko
