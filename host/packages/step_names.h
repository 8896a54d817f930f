// Readable names of the step modes and picture layouts, shared by the
// commands that show or read package scripts.
#pragma once

#include <cstdint>
#include <string>

namespace tiko::packages {

const char* AdvanceName(uint32_t mode);     // next, jump, skip, repeat, hide
const char* AltAdvanceName(uint32_t mode);  // as AdvanceName, and none for 7
const char* SizeModeName(uint32_t mode);    // keep, proportional, set, add
const char* PositionModeName(uint32_t mode);  // keep, set, add, wrap, clamp, bounce
const char* OpacityModeName(uint32_t mode);   // keep, set, add
const char* PixelFormatName(uint8_t format);  // bgr24, yuv422, yuv420, unknown
const char* MaskKindName(uint8_t kind);       // none, 1-bit, 8-bit, unknown

}  // namespace tiko::packages
