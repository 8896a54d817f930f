#include "eye_worker.h"

#include <obs-module.h>

#include <memory>
#include <string>

namespace tiko::obs {

EyeWorker::EyeWorker() : thread_([this] { Run(); }) {}

EyeWorker::~EyeWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void EyeWorker::Offer(const std::vector<uint8_t>& topDown, int32_t width, int32_t height) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_ || stop_) return;
    frame_.assign(topDown.begin(), topDown.end());
    width_ = width;
    height_ = height;
    busy_ = true;
  }
  wake_.notify_one();
}

std::optional<host::EyeResult> EyeWorker::Latest() {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

void EyeWorker::Run() {
  // The cascades take a while to load: here, not on the video thread.
  std::string why;
  std::unique_ptr<host::EyeDetector> detector = host::EyeDetector::Create(&why);
  if (!detector) {
    blog(LOG_WARNING, "[tiko-obs] no eye detector, the eye actors stay hidden: %s", why.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;  // later offers are not taken
    return;
  }
  std::vector<uint8_t> frame;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || busy_; });
    if (stop_) return;
    frame.swap(frame_);
    const int32_t width = width_;
    const int32_t height = height_;
    lock.unlock();
    const host::BgrView view{frame.data(), width, height, int64_t{width} * 3, false};
    std::optional<host::EyeResult> result;
    try {
      result = detector->Feed(view);
    } catch (const std::exception& e) {
      // OpenCV throws on what it cannot take: that frame shows no eyes.
      blog(LOG_WARNING, "[tiko-obs] eye detection failed on a frame: %s", e.what());
    }
    lock.lock();
    if (result) latest_ = result;
    busy_ = false;
  }
}

}  // namespace tiko::obs
