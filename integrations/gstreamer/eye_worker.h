// The eye detector on a thread of its own, so that a slow detection never
// holds up a frame: the streaming thread offers frames and takes the latest
// eyes found, and a frame offered while the detector is still busy is simply
// not looked at.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_file.h"

namespace tiko::gst {

class EyeWorker {
 public:
  explicit EyeWorker(std::unique_ptr<host::EyeDetector> detector);
  ~EyeWorker();
  EyeWorker(const EyeWorker&) = delete;
  EyeWorker& operator=(const EyeWorker&) = delete;

  // Hands over a bottom-up BGR24 frame unless the detector is busy (or, for
  // frames larger than 640x480, every other frame); returns at once either
  // way. Frames wider than the detector needs are scaled down here, which
  // costs less than the detector's own scaling of the whole frame.
  void Offer(const uint8_t* bottomUp, int32_t width, int32_t height);
  // The eyes of the last frame the detector finished, in the eye space over
  // the frame.
  host::FrameEyes Latest();
  // A new stream (a seek, a new size): the detector forgets what it saw.
  void Reset();
  // Frames looked at so far.
  int64_t looked();

 private:
  void Run();

  std::unique_ptr<host::EyeDetector> detector_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<uint8_t> pending_;
  int32_t pendingWidth_ = 0;
  int32_t pendingHeight_ = 0;
  bool busy_ = false;  // a frame is waiting or being looked at
  bool reset_ = false;
  bool stop_ = false;
  host::FrameEyes latest_;
  int64_t looked_ = 0;
  int64_t offers_ = 0;
  std::thread thread_;
};

// A bottom-up BGR24 frame box-averaged by `factor` in each direction (the
// last partial row and column dropped), into `out`; its size in *outWidth x
// *outHeight.
void ShrinkBgr(const uint8_t* frame, int32_t width, int32_t height, int32_t factor, std::vector<uint8_t>& out,
               int32_t* outWidth, int32_t* outHeight);

}  // namespace tiko::gst
