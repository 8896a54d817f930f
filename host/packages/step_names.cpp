#include "host/packages/step_names.h"

#include "package/records.h"

namespace tiko::packages {

const char* AdvanceName(uint32_t mode) {
  switch (mode) {
    case kAdvanceJump: return "jump";
    case kAdvanceSkip: return "skip";
    case kAdvanceRepeat: return "repeat";
    case kAdvanceHide: return "hide";
    default: return "next";
  }
}

const char* AltAdvanceName(uint32_t mode) { return mode == kAltAdvanceNone ? "none" : AdvanceName(mode); }

const char* SizeModeName(uint32_t mode) {
  static const char* const names[] = {"keep", "proportional", "set", "add"};
  return mode < 4 ? names[mode] : "keep";
}

const char* PositionModeName(uint32_t mode) {
  static const char* const names[] = {"keep", "set", "add", "wrap", "clamp", "bounce", "keep", "keep"};
  return mode < 8 ? names[mode] : "keep";
}

const char* OpacityModeName(uint32_t mode) {
  static const char* const names[] = {"keep", "set", "add", "keep"};
  return mode < 4 ? names[mode] : "keep";
}

const char* PixelFormatName(uint8_t format) {
  switch (format) {
    case kFormatBgr24: return "bgr24";
    case kFormatYuv422: return "yuv422";
    case kFormatYuv420: return "yuv420";
    default: return "unknown";
  }
}

const char* MaskKindName(uint8_t kind) {
  switch (kind) {
    case kMaskNone: return "none";
    case kMaskBit: return "1-bit";
    case kMaskByte: return "8-bit";
    default: return "unknown";
  }
}

}  // namespace tiko::packages
