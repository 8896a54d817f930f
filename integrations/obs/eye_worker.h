// The eye detector on a thread of its own, so that a filter's video thread
// never waits for it: the video thread offers frames, the worker looks at
// the newest one whenever it is free, and the video thread uses whatever it
// found last.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "host/eyes/eye_detector.h"

namespace tiko::obs {

class EyeWorker {
 public:
  EyeWorker();
  ~EyeWorker();  // stops the thread and waits for it
  EyeWorker(const EyeWorker&) = delete;
  EyeWorker& operator=(const EyeWorker&) = delete;

  // A top-down BGR24 frame to look at; taken (copied) only when the worker
  // is free, so this costs a copy at most.
  void Offer(const std::vector<uint8_t>& topDown, int32_t width, int32_t height);
  // What the last look found, in the eye space over the frame it looked at;
  // nothing before the first look ends.
  std::optional<host::EyeResult> Latest();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool busy_ = false;    // a frame is waiting or being looked at
  std::vector<uint8_t> frame_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  std::optional<host::EyeResult> latest_;
  std::thread thread_;
};

}  // namespace tiko::obs
