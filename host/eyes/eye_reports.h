// Turns the eyes seen on each frame into the player's SetEyePosition calls.
//
// The player centres an eye actor on a reported point with the size the
// actor has at that moment, and a report of the position a slot already holds
// only keeps it fresh. An actor that appears for the first time still has the
// size of the whole stage when it is placed, and takes its real size only in
// the render that follows; a detector that holds a still face still (or a
// file of fixed positions) would leave it off-centre for good. So the second
// report after an eye appears is moved by one pixel when it has not moved by
// itself, which places the actor again with its real size, and the third
// gives the true point back.
#pragma once

#include <vector>

#include "host/eyes/eye_detector.h"

namespace tiko::host {

class EyeReporter {
 public:
  // The points to report, in order, for this frame's eyes (at most two, the
  // first one first); no eyes for a frame where none are seen.
  std::vector<EyePoint> Next(const std::vector<EyePoint>& seen);

 private:
  struct Track {
    int frames = 0;  // frames in a row this eye has been reported
    EyePoint last;
  };
  Track tracks_[2];
};

}  // namespace tiko::host
