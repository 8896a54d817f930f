// The actor step interpreter: one step of an actor's script per frame.
#pragma once

#include <cstdint>

#include "package/records.h"

namespace tiko {

// Runs the step at actor->stepIndex: its sound cue, picture change, size,
// position and opacity changes, the rescale of the picture to the actor's
// size in pixels, and the choice of the next step. An actor whose step index
// lies outside its script is hidden instead.
void RunActorStep(Package* package, Actor* actor, uint8_t format, int32_t frameWidth, int32_t frameHeight);

// Limit on an actor's size in pixels, as a multiple of the frame's: beyond it
// the actor goes without a picture, so a runaway script cannot ask for
// gigabytes.
inline constexpr int32_t kMaxPictureToFrame = 4;

}  // namespace tiko
