// The eye detector on a thread of its own, so that a host's video thread
// never waits for it: the video thread offers frames, the worker looks at the
// newest one whenever it is free (a frame offered while it is busy is simply
// not looked at), and the video thread uses whatever it found last.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_file.h"

namespace tiko::host {

class EyeWorker {
 public:
  // Makes the detector; null with the reason set when it cannot.
  using Loader = std::function<std::unique_ptr<EyeDetector>(std::string* why)>;
  // Hears why the worker stopped looking, or why a frame gave no eyes.
  using Warn = std::function<void(const std::string& message)>;

  // A detector the host made itself (to refuse to start without one).
  EyeWorker(std::unique_ptr<EyeDetector> detector, Warn warn);
  // A detector made on the worker's thread: the cascades take a while to
  // load, and the video thread goes on meanwhile. Without one, the worker
  // warns once and takes no frames.
  EyeWorker(Loader load, Warn warn);
  ~EyeWorker();  // stops the thread and waits for it
  EyeWorker(const EyeWorker&) = delete;
  EyeWorker& operator=(const EyeWorker&) = delete;

  // Takes the frame (a copy) unless the worker is busy or, for frames larger
  // than 640 x 480, every other frame; returns at once either way. Frames
  // wider than the detector needs are scaled down here, which costs less
  // than the detector's own scaling of the whole frame.
  void Offer(const BgrView& frame);
  // The eyes of the last frame looked at, in the eye space over the frame;
  // none before the first look ends, or after a reset.
  FrameEyes Latest();
  // A new stream (a seek, a new size): the detector forgets what it saw.
  void Reset();
  // Frames looked at so far.
  int64_t looked();

 private:
  void Run(Loader load);

  Warn warn_;
  std::unique_ptr<EyeDetector> detector_;  // the worker's own once it runs
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<uint8_t> pending_;  // rows of pendingWidth_ * 3 bytes
  int32_t pendingWidth_ = 0;
  int32_t pendingHeight_ = 0;
  bool pendingBottomUp_ = false;
  bool busy_ = false;  // a frame is waiting or being looked at
  bool reset_ = false;
  bool stop_ = false;
  FrameEyes latest_;
  int64_t looked_ = 0;
  int64_t offers_ = 0;
  std::thread thread_;
};

// A BGR24 picture box-averaged by `factor` in each direction (the last
// partial row and column dropped), into `out` with rows in the same order;
// its size in *outWidth x *outHeight.
void ShrinkBgr(const BgrView& frame, int32_t factor, std::vector<uint8_t>& out, int32_t* outWidth,
               int32_t* outHeight);

}  // namespace tiko::host
