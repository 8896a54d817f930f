// The frames every host hands the player: BGR24, three bytes a pixel, 1 to
// 65535 pixels a side. The player's own frame is 320 x 240: the size it opens
// at unless told another, and the space eye positions are reported in.
#pragma once

#include <cstdint>

namespace tiko::host {

inline constexpr int32_t kBytesPerPixel = 3;
inline constexpr int32_t kLargestSide = 65535;
inline constexpr int32_t kPlayerFrameWidth = 320;
inline constexpr int32_t kPlayerFrameHeight = 240;

}  // namespace tiko::host
