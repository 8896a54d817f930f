// Eye positions from video frames, for hosts that feed the player's eye
// actors: a face cascade, an eye cascade inside the face, and positions from
// the face box's proportions where the eye cascade finds nothing; smoothed
// over frames so the actors neither jitter nor blink.
//
// It needs OpenCV (objdetect and imgproc) and the cascade files of Debian's
// opencv-data package. The player never detects: it only takes positions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tiko::host {

// A point in the 320 x 240 eye space, row 0 at the top.
struct EyePoint {
  int32_t x = 0;
  int32_t y = 0;
};

// What a frame gave: up to two eyes, the one on the picture's left first.
struct EyeResult {
  int32_t count = 0;
  EyePoint eyes[2];
  // What this frame itself showed, before smoothing and holding: a face, and
  // how many of the two eyes the eye cascade found in it.
  bool faceFound = false;
  int32_t eyesFromCascade = 0;
};

// A BGR24 picture the detector looks at; rows of `rowBytes` bytes, the first
// row in memory the top line unless `bottomUp`.
struct BgrView {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int64_t rowBytes = 0;
  bool bottomUp = false;
};

class EyeDetector {
 public:
  // Loads the cascades from `cascadeDir` (the folder that holds haarcascades/
  // and lbpcascades/), or from the first of $TIKO_CASCADE_DIR and the usual
  // install folders that has them. Null with `error` set when they cannot be
  // loaded.
  static std::unique_ptr<EyeDetector> Create(std::string* error, const std::string& cascadeDir = "");
  ~EyeDetector();
  EyeDetector(const EyeDetector&) = delete;
  EyeDetector& operator=(const EyeDetector&) = delete;

  // Looks at the next frame of the stream and gives the eyes to report. A
  // frame without a face keeps the last eyes for a few frames, then none.
  EyeResult Feed(const BgrView& frame);
  // Forgets the history, as for a new stream.
  void Reset();

 private:
  struct State;
  explicit EyeDetector(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace tiko::host
