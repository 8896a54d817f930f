// Script arithmetic is 32-bit two's complement that wraps, as on the machines
// the packages were made for. It is computed in 64 bits and cut to 32, so no
// signed overflow (undefined in C++) ever happens.
#pragma once

#include <cstdint>

namespace tiko {

constexpr int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
constexpr int16_t Wrap16(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value)); }

// a * b / d with the product wrapped to 32 bits first and the division
// truncating toward zero. d must not be 0.
constexpr int32_t MulDiv32(int32_t a, int32_t b, int32_t d) {
  return static_cast<int32_t>(static_cast<int64_t>(Wrap32(int64_t{a} * b)) / d);
}

}  // namespace tiko
