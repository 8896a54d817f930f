// Where a command's eyes come from: the detector looking at each frame, an
// eye file, or nowhere; and the reports that carry them to the player, in the
// player's eye space, through the one reporter every host uses.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/eyes/eye_file.h"
#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_reports.h"
#include "host/stage.h"

namespace tiko::tool {

inline constexpr const char* kEyesAuto = "auto";
inline constexpr const char* kEyesNone = "none";

// Whether `mode` (an --eyes value) names an eye file.
inline bool IsEyeFile(const std::string& mode) { return mode != kEyesAuto && mode != kEyesNone; }

class EyeSource {
 public:
  // "auto", "none" or an eye file, whose doubtful lines are warned about
  // here. Throws ToolError when the detector or the file cannot be had.
  static EyeSource Open(const std::string& mode);

  // The eyes on frame `index` (from 0), which shows `bottomUp` (null for a
  // frame without a picture of its own) with rows rowBytes apart, in the eye
  // space over the frame.
  host::FrameEyes See(int64_t index, const uint8_t* bottomUp, int32_t width, int32_t height, size_t rowBytes);
  // The reports for the player for those eyes, in its eye space; the player
  // renders once after each such call.
  std::vector<host::EyePoint> Reports(const host::FrameEyes& eyes, const host::StageLayout& stage);
  // A new stream on the same player (a file starting over): the detector
  // forgets what it saw.
  void Restart();
  // The player has changed packages, whether the new one loaded or not.
  void PackageChanged() { reporter_.PackageChanged(); }
  // What was seen on each frame so far, for --eyes-out.
  const host::EyeTable& seen() const { return seen_; }

 private:
  std::unique_ptr<host::EyeDetector> detector_;
  std::optional<host::EyeTable> table_;
  host::EyeReporter reporter_;
  host::EyeTable seen_;
};

}  // namespace tiko::tool
