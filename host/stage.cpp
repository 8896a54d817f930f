#include "host/stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/frame_format.h"

namespace tiko::host {
namespace {

constexpr int64_t kStageColumns = 4;
constexpr int64_t kStageRows = 3;
constexpr double kEyeWidth = kPlayerFrameWidth;
constexpr double kEyeHeight = kPlayerFrameHeight;

int32_t Side(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, 1, kLargestSide)); }

// The pixels of row `row` (counted from the top) of a frame `height` rows high.
size_t RowStart(int32_t row, int32_t width, int32_t height, bool bottomUp) {
  const int32_t memoryRow = bottomUp ? height - 1 - row : row;
  return static_cast<size_t>(memoryRow) * static_cast<size_t>(width) * kBytesPerPixel;
}

}  // namespace

StageLayout LayOutStage(int32_t frameWidth, int32_t frameHeight, StageFit fit) {
  StageLayout s{fit, frameWidth, frameHeight, frameWidth, frameHeight, 0, 0};
  const int64_t w = frameWidth;
  const int64_t h = frameHeight;
  const bool wider = w * kStageRows > h * kStageColumns;
  const bool taller = w * kStageRows < h * kStageColumns;
  if (fit == StageFit::kStretch || (!wider && !taller)) return s;
  if (fit == StageFit::kCover) {
    // The smallest 4:3 frame that holds the whole frame, rounded up.
    if (wider) {
      s.playerHeight = Side((w * kStageRows + kStageColumns - 1) / kStageColumns);
    } else {
      s.playerWidth = Side((h * kStageColumns + kStageRows - 1) / kStageRows);
    }
  } else if (wider) {
    // The largest 4:3 frame inside the frame, to the nearest pixel.
    s.playerWidth = Side((h * kStageColumns * 2 + kStageRows) / (kStageRows * 2));
  } else {
    s.playerHeight = Side((w * kStageRows * 2 + kStageColumns) / (kStageColumns * 2));
  }
  s.left = (s.playerWidth - s.frameWidth) / 2;
  s.top = (s.playerHeight - s.frameHeight) / 2;
  return s;
}

void FlipRows(const uint8_t* frame, uint8_t* flipped, int32_t width, int32_t height) {
  const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  for (int32_t row = 0; row < height; ++row) {
    std::memcpy(flipped + RowStart(row, width, height, false), frame + RowStart(row, width, height, true), rowBytes);
  }
}

void FrameToPlayer(const StageLayout& s, const uint8_t* frame, uint8_t* player, bool bottomUp) {
  const size_t playerRow = static_cast<size_t>(s.playerWidth) * kBytesPerPixel;
  // The columns of the player's frame that the host frame covers.
  const int32_t firstColumn = std::max(0, s.left);
  const int32_t endColumn = std::min(s.playerWidth, s.left + s.frameWidth);
  for (int32_t py = 0; py < s.playerHeight; ++py) {
    uint8_t* out = player + RowStart(py, s.playerWidth, s.playerHeight, bottomUp);
    const int32_t fy = py - s.top;
    if (fy < 0 || fy >= s.frameHeight || endColumn <= firstColumn) {
      std::memset(out, 0, playerRow);
      continue;
    }
    const uint8_t* in = frame + RowStart(fy, s.frameWidth, s.frameHeight, bottomUp);
    const size_t before = static_cast<size_t>(firstColumn) * kBytesPerPixel;
    const size_t covered = static_cast<size_t>(endColumn - firstColumn) * kBytesPerPixel;
    std::memset(out, 0, before);
    std::memcpy(out + before, in + static_cast<size_t>(firstColumn - s.left) * kBytesPerPixel, covered);
    std::memset(out + before + covered, 0, playerRow - before - covered);
  }
}

bool FrameInsidePlayer(const StageLayout& s) {
  return s.left >= 0 && s.top >= 0 && int64_t{s.left} + s.frameWidth <= s.playerWidth &&
         int64_t{s.top} + s.frameHeight <= s.playerHeight;
}

size_t FrameOffsetInPlayer(const StageLayout& s) {
  // The frame's bottom line is the player's line top + frameHeight - 1, the
  // first in memory of the rows below it counted from the bottom.
  const auto rowsBelow = static_cast<size_t>(s.playerHeight - s.top - s.frameHeight);
  return (rowsBelow * static_cast<size_t>(s.playerWidth) + static_cast<size_t>(s.left)) * kBytesPerPixel;
}

void PlayerToFrame(const StageLayout& s, const uint8_t* player, uint8_t* frame) {
  const int32_t firstColumn = std::max(0, -s.left);
  const int32_t endColumn = std::min(s.frameWidth, s.playerWidth - s.left);
  if (endColumn <= firstColumn) return;
  const size_t covered = static_cast<size_t>(endColumn - firstColumn) * kBytesPerPixel;
  for (int32_t fy = std::max(0, -s.top); fy < std::min(s.frameHeight, s.playerHeight - s.top); ++fy) {
    const uint8_t* in = player + RowStart(fy + s.top, s.playerWidth, s.playerHeight, false) +
                        static_cast<size_t>(firstColumn + s.left) * kBytesPerPixel;
    std::memcpy(frame + RowStart(fy, s.frameWidth, s.frameHeight, false) +
                    static_cast<size_t>(firstColumn) * kBytesPerPixel,
                in, covered);
  }
}

EyePoint FrameEyeToPlayer(const StageLayout& s, EyePoint eye) {
  if (eye.x < 0 || eye.y < 0 || IsIdentity(s)) return eye;
  const double x = (eye.x * s.frameWidth / kEyeWidth + s.left) * kEyeWidth / s.playerWidth;
  const double y = (eye.y * s.frameHeight / kEyeHeight + s.top) * kEyeHeight / s.playerHeight;
  // A point that falls off the player's frame (the margins of fit) is kept
  // just inside it: a negative coordinate would hide the eye.
  return EyePoint{static_cast<int32_t>(std::max(0.0, std::round(x))), static_cast<int32_t>(std::max(0.0, std::round(y)))};
}

}  // namespace tiko::host
