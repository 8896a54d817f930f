// Turns the eyes seen on each frame into the player's SetEyePosition calls,
// so that the first eye drives the "$eye1" actors and the second the "$eye2"
// actors, and both stay centred on their eyes.
//
// The player does not know which eye a report is. It keeps two slots, slot 0
// for "$eye1" and slot 1 for "$eye2", each with the last position that landed
// in it and a countdown of 16 renders. A report of a position that a slot
// holds (slot 0 tried first) only makes that slot fresh again and moves
// nothing, even when the slot has run out and its actors are hidden; any
// other position lands in the slot with the smaller countdown (slot 0 on a
// tie), moves and shows its actors, and makes it fresh. Every render counts
// both slots down and hides the actors of a slot that reaches 0. Sent
// carelessly, reports swap the two eyes' actors (an eye reported first
// lands in whichever slot is staler), feed the wrong slot (an eye now at the
// point the other slot holds), or leave an eye hidden (an eye back at the
// point its run-out slot still holds).
//
// So the reporter keeps a copy of the two slots, updated with every report
// it sends and counted down once per Next call, and for each frame it tries
// ways of reporting on that copy, the plainest first: the eyes in their own
// order or the other; an eye moved by one pixel; besides the eyes, a report
// of the point a slot holds, which keeps that slot fresh so that the other
// report goes past it, or a negative point, which hides a slot. It sends the
// first way that leaves each eye in its own slot, with its actors shown and
// centred on it (a pixel off at most).
//
// An eye that is not seen keeps its actors where they are for as long as the
// player would have kept them alone, 15 renders after its last report; when
// its slot had to be kept fresh to steer the other eye, the reporter hides
// it by itself when that time is up.
//
// An actor that appears is placed before its first step runs, with the size
// it had until then (the whole stage, for an actor just loaded); it takes
// its real size in that render. A detector that holds a still face
// still, or a file of fixed positions, would then only keep the slot fresh
// and leave the actor off-centre for good. So the report after the one that
// showed an eye must move its actors again: when the eye has not moved by
// itself it is reported one pixel off, which places the actor with its real
// size, and the report after that gives the true point back.
//
// A frame on which any seen coordinate is negative hides both eyes. One
// negative point hides only the slot it lands in, and the same point sent
// twice lands once and then only keeps that slot fresh; so two different
// negative points are sent, ordered so that one lands in each slot (one that
// matches a slot already holding it only keeps it fresh, and that slot's
// actors are hidden already). Both slots then hold points that no real eye
// can match, so the next real points land by the countdowns alone, and
// their order puts the first eye in slot 0 and the second in slot 1.
//
// The copy is right only while every report the player takes comes from
// this reporter and the player renders exactly once after each Next call,
// a frame without eyes included.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/eyes/eye_detector.h"

namespace tiko::host {

// The eyes seen on one frame by their place: the first drives the "$eye1"
// actors, the second the "$eye2" actors; either may be missing.
using SeenEyes = std::array<std::optional<EyePoint>, 2>;

// The player's slot as the reports sent so far have left it.
struct SlotCopy {
  // How the slot's actors stand to their size: placed with the size they
  // have, shown by a report whose render has not run yet, or placed before
  // that render gave them their size.
  enum Fit : uint8_t { kSized, kAppearing, kUnsized };

  EyePoint at;
  int32_t countdown = 0;
  bool shown = false;  // its actors stand on `at`
  Fit fit = kSized;
  // Renders its eye's own reports keep it: the countdown without the
  // reports that only kept it fresh to steer the other eye.
  int32_t lease = 0;
};

class EyeReporter {
 public:
  // The points to report, in order, before this frame's render, for the
  // eyes seen on it: at most two, the first one first (further ones are
  // ignored).
  std::vector<EyePoint> Next(const std::vector<EyePoint>& seen);
  // The same, for a frame on which the first eye may be missing and the
  // second seen.
  std::vector<EyePoint> Next(const SeenEyes& seen);

  // The player has changed its package (whether the new one loaded or not):
  // its slots stay, but the new eye actors stand where the loader put them,
  // with the loader's size, so the next report of each eye must place them.
  void PackageChanged();
  // A new player, whose slots start empty.
  void Reset();

 private:
  std::array<SlotCopy, 2> slots_{};
};

}  // namespace tiko::host
