// The per-frame entry of the animation.
#pragma once

#include <cstdint>

#include "package/records.h"
#include "package/status.h"

namespace tiko {

// Packs a frame size as the scene takes it: height in the high 16 bits,
// width in the low 16 bits.
constexpr uint32_t PackFrameSize(uint32_t width, uint32_t height) { return (height << 16) | (width & 0xFFFFu); }

// Steps every visible actor of the package once, in table order, and blends
// each into the frame (BGR24 when `format` is 101, rows bottom line first)
// right after its own step. Returns STATUS_SUCCESS when at least one actor was
// visible when its turn came, else STATUS_UNSUCCESSFUL (also for a package
// without actors).
Status RenderScene(Package* package, uint8_t format, uint32_t packedSize, uint8_t* frame);

}  // namespace tiko
