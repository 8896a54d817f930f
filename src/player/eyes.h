// Eye targets: the actors named "$eye1" and "$eye2" follow the eye positions
// that the host reports, and hide when the reports stop.
#pragma once

#include <cstdint>

#include "package/records.h"

namespace tiko {

// The last position reported to one eye key, and how many renders it stays
// fresh. Slot 0 serves eye key -1 ("$eye1"), slot 1 eye key 1 ("$eye2").
struct EyeSlot {
  int32_t x;
  int32_t y;
  int32_t countdown;
};

inline constexpr int32_t kEyeSlotCount = 2;
// Renders a report keeps its actors on stage, counting the one that hides them.
inline constexpr int32_t kEyeFreshRenders = 16;
// Eye positions are always given in this image, row 0 at the top, whatever
// the frame size; the stage units carry them to the frame.
inline constexpr int32_t kEyeSpaceWidth = 320;
inline constexpr int32_t kEyeSpaceHeight = 240;

using EyeSlots = EyeSlot[kEyeSlotCount];

// The eye key whose actors slot `slot` moves.
constexpr int32_t EyeKeyOfSlot(int32_t slot) { return slot == 0 ? kEyeKeyFirst : kEyeKeySecond; }

// Takes one eye report: a position that a slot already holds only refreshes
// that slot; any other lands in the slot with the smaller countdown (slot 0 on
// a tie) and places its actors. A null package (none loaded) changes only the
// slots.
void SetEyePosition(EyeSlots& slots, Package* package, int32_t x, int32_t y);

// Counts both slots down by one render; a slot that runs out hides its actors.
void TickEyeCountdowns(EyeSlots& slots, Package* package);

// Centres every actor of `eyeKey` on (x, y) of the eye space and shows it
// (its script starts over when it was hidden), or hides them all when x or y
// is negative. A null package is left alone.
void PlaceEyeActors(Package* package, int32_t x, int32_t y, int32_t eyeKey);

}  // namespace tiko
