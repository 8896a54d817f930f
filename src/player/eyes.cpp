#include "player/eyes.h"

#include "anim/wrap.h"

namespace tiko {
namespace {

// The last row of the eye space: eye row 239 lands on stage y 0, so that the
// downward rows of the eye space turn into the upward stage y.
constexpr int32_t kEyeSpaceLastRow = kEyeSpaceHeight - 1;

}  // namespace

void PlaceEyeActors(Package* package, int32_t x, int32_t y, int32_t eyeKey) {
  if (package == nullptr) return;
  const bool hide = x < 0 || y < 0;
  for (uint32_t i = 0; i < package->actorCount; ++i) {
    Actor& actor = package->actors[i];
    if (actor.eyeKey != eyeKey) continue;
    if (hide) {
      actor.stepIndex = kHidden;
      continue;
    }
    // A hidden actor comes back with its script from the start; a visible one
    // goes on where it is. An actor without steps has no step to show, so it
    // is moved but stays hidden.
    if (actor.stepIndex == kHidden && actor.stepCount > 0) actor.stepIndex = 0;
    // Centre the actor on the point, with its size as it is now.
    actor.x = Wrap32(int64_t{MulDiv32(x, kStageWidth, kEyeSpaceWidth)} - actor.width / 2);
    actor.y = Wrap32(int64_t{MulDiv32(Wrap32(int64_t{kEyeSpaceLastRow} - y), kStageHeight, kEyeSpaceHeight)} -
                     actor.height / 2);
  }
}

void SetEyePosition(EyeSlots& slots, Package* package, int32_t x, int32_t y) {
  // The same position again means the same eye is still there: keep it fresh
  // without touching its actors (also when the slot had run out).
  for (EyeSlot& slot : slots) {
    if (slot.x == x && slot.y == y) {
      slot.countdown = kEyeFreshRenders;
      return;
    }
  }
  // A new position goes to the slot that was reported least recently.
  const int32_t chosen = slots[0].countdown > slots[1].countdown ? 1 : 0;
  PlaceEyeActors(package, x, y, EyeKeyOfSlot(chosen));
  slots[chosen] = EyeSlot{x, y, kEyeFreshRenders};
}

void TickEyeCountdowns(EyeSlots& slots, Package* package) {
  for (int32_t i = 0; i < kEyeSlotCount; ++i) {
    EyeSlot& slot = slots[i];
    if (slot.countdown <= 0) continue;
    --slot.countdown;
    // The slot keeps its position, so that a report of it later only
    // refreshes the slot.
    if (slot.countdown == 0) PlaceEyeActors(package, -1, -1, EyeKeyOfSlot(i));
  }
}

}  // namespace tiko
