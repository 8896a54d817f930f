#pragma once

#include <cstdint>

namespace tiko {

// The loader and the file reads report a 32-bit status: 0 or the one failure.
using Status = uint32_t;
inline constexpr Status STATUS_SUCCESS = 0;
inline constexpr Status STATUS_UNSUCCESSFUL = 0xC0000001u;

}  // namespace tiko
