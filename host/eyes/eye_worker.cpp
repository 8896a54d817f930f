#include "host/eyes/eye_worker.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "host/frame_format.h"

namespace tiko::host {
namespace {

// The detector works on frames 320 pixels wide; twice that keeps its own
// scaling's quality while sparing it most of a large frame.
constexpr int32_t kDetectWidth = 640;
// Above this many pixels a frame the detector looks at every other frame
// only: at 30 frames a second eyes still move 15 times a second, smoothed,
// and a 1280x720 stream stays within a third of a core.
constexpr int64_t kEveryFramePixels = int64_t{640} * 480;

}  // namespace

void ShrinkBgr(const BgrView& frame, int32_t factor, std::vector<uint8_t>& out, int32_t* outWidth,
               int32_t* outHeight) {
  factor = std::max(factor, 1);
  const int32_t w = std::max(frame.width / factor, 1);
  const int32_t h = std::max(frame.height / factor, 1);
  out.resize(size_t(w) * size_t(h) * kBytesPerPixel);
  *outWidth = w;
  *outHeight = h;
  const int32_t cols = std::min(factor, frame.width);
  const int32_t rows = std::min(factor, frame.height);
  const uint32_t area = uint32_t(cols) * uint32_t(rows);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* o = out.data() + size_t(y) * size_t(w) * kBytesPerPixel;
    for (int32_t x = 0; x < w; ++x) {
      uint32_t sum[kBytesPerPixel] = {0, 0, 0};
      for (int32_t dy = 0; dy < rows; ++dy) {
        const uint8_t* p = frame.pixels + size_t(y * factor + dy) * size_t(frame.rowBytes) +
                           size_t(x) * size_t(factor) * kBytesPerPixel;
        for (int32_t dx = 0; dx < cols; ++dx, p += kBytesPerPixel) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
        }
      }
      for (uint32_t s : sum) *o++ = static_cast<uint8_t>((s + area / 2) / area);
    }
  }
}

EyeWorker::EyeWorker(std::unique_ptr<EyeDetector> detector, Warn warn)
    : warn_(std::move(warn)), detector_(std::move(detector)) {
  thread_ = std::thread([this] { Run(nullptr); });
}

EyeWorker::EyeWorker(Loader load, Warn warn) : warn_(std::move(warn)) {
  thread_ = std::thread([this, load = std::move(load)] { Run(load); });
}

EyeWorker::~EyeWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void EyeWorker::Offer(const BgrView& frame) {
  if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return;
  {
    std::lock_guard lock(mutex_);
    const bool skip = int64_t{frame.width} * frame.height > kEveryFramePixels && (offers_++ % 2) == 1;
    if (busy_ || stop_ || skip) return;
    // The worker is idle and does not touch pending_ until it is woken.
    const int32_t factor = std::max(frame.width / kDetectWidth, 1);
    if (factor == 1) {
      const size_t rowBytes = size_t(frame.width) * kBytesPerPixel;
      pending_.resize(rowBytes * size_t(frame.height));
      for (int32_t row = 0; row < frame.height; ++row) {
        std::memcpy(pending_.data() + rowBytes * size_t(row), frame.pixels + size_t(frame.rowBytes) * size_t(row),
                    rowBytes);
      }
      pendingWidth_ = frame.width;
      pendingHeight_ = frame.height;
    } else {
      ShrinkBgr(frame, factor, pending_, &pendingWidth_, &pendingHeight_);
    }
    pendingBottomUp_ = frame.bottomUp;
    busy_ = true;
  }
  wake_.notify_one();
}

FrameEyes EyeWorker::Latest() {
  std::lock_guard lock(mutex_);
  return latest_;
}

void EyeWorker::Reset() {
  std::lock_guard lock(mutex_);
  reset_ = true;
  latest_ = FrameEyes{};
}

int64_t EyeWorker::looked() {
  std::lock_guard lock(mutex_);
  return looked_;
}

void EyeWorker::Run(Loader load) {
  if (!detector_) {
    std::string why = "no detector";
    if (load) detector_ = load(&why);
    if (!detector_) {
      if (warn_) warn_("no eye detector, the eye actors stay hidden: " + why);
      std::lock_guard lock(mutex_);
      stop_ = true;  // later offers are not taken
      return;
    }
  }
  std::vector<uint8_t> frame;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || busy_; });
    if (stop_) return;
    frame.swap(pending_);
    const BgrView view{frame.data(), pendingWidth_, pendingHeight_, int64_t{pendingWidth_} * kBytesPerPixel,
                       pendingBottomUp_};
    const bool reset = reset_;
    reset_ = false;
    lock.unlock();
    if (reset) detector_->Reset();
    EyeResult result;
    try {
      result = detector_->Feed(view);
    } catch (const std::exception& e) {
      // OpenCV throws on what it cannot take: that frame shows no eyes.
      if (warn_) warn_(std::string("eye detection failed on a frame: ") + e.what());
    }
    lock.lock();
    // A reset asked for while this frame was looked at makes its eyes stale.
    if (!reset_) latest_.eyes.assign(result.eyes, result.eyes + result.count);
    ++looked_;
    busy_ = false;
  }
}

}  // namespace tiko::host
