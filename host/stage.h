// The player's stage is 4:3. A host whose frames have another shape opens the
// player at a 4:3 size that covers its frame and crops the result back
// (cover), or at one that fits inside its frame (fit), or at the frame's own
// size, stretching the stage (stretch). Every host offers the same three.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/eyes/eye_detector.h"

namespace tiko::host {

enum class StageFit { kCover, kFit, kStretch };

// Where the player's frame lies over the host's frame, both top-down: the
// player's pixel (px, py) is the frame's (px - left, py - top).
struct StageLayout {
  StageFit fit = StageFit::kStretch;
  int32_t frameWidth = 0;
  int32_t frameHeight = 0;
  int32_t playerWidth = 0;
  int32_t playerHeight = 0;
  int32_t left = 0;  // cover: 0 or more; fit: 0 or less
  int32_t top = 0;
};

// The layout for frames of frameWidth x frameHeight (1 to 65535 a side).
StageLayout LayOutStage(int32_t frameWidth, int32_t frameHeight, StageFit fit);

// Whether the player's frame is the host's frame itself.
inline bool IsIdentity(const StageLayout& s) {
  return s.playerWidth == s.frameWidth && s.playerHeight == s.frameHeight && s.left == 0 && s.top == 0;
}

// Copies a BGR24 frame of width x height turning its rows over: bottom-up to
// top-down, or back.
void FlipRows(const uint8_t* frame, uint8_t* flipped, int32_t width, int32_t height);

// Copies a BGR24 frame of the host's size into a player frame of the
// layout's size (rows without padding, both bottom-up or both top-down as
// `bottomUp` says); what the frame does not cover is black.
void FrameToPlayer(const StageLayout& stage, const uint8_t* frame, uint8_t* player, bool bottomUp);

// Whether the host's frame lies wholly inside the player's (cover, and a
// player of the frame's own size): then a bottom-up host frame can be
// written straight into a bottom-up player frame, with the player's rows
// apart, from the byte FrameOffsetInPlayer gives, and FrameToPlayer's copy
// is saved (what lies outside it stays as the buffer holds it).
bool FrameInsidePlayer(const StageLayout& stage);
size_t FrameOffsetInPlayer(const StageLayout& stage);

// Lays the top-down BGR24 player frame over the top-down host frame: the
// host frame's pixels under the player's frame are replaced, the rest (the
// margins of `fit`) are left as they are.
void PlayerToFrame(const StageLayout& stage, const uint8_t* player, uint8_t* frame);

// A point of the 320 x 240 eye space laid over the host's frame, in the eye
// space of the player's frame. A point with a negative coordinate (a hide)
// stays as it is.
EyePoint FrameEyeToPlayer(const StageLayout& stage, EyePoint eye);

}  // namespace tiko::host
