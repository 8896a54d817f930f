#include "integrations/gstreamer/eye_worker.h"

#include <algorithm>

namespace tiko::gst {
namespace {

constexpr int32_t kBytesPerPixel = 3;
// The detector works on frames 320 pixels wide; twice that keeps its own
// scaling's quality while sparing it most of a large frame.
constexpr int32_t kDetectWidth = 640;
// Above this many pixels a frame the detector looks at every other frame
// only: at 30 frames a second eyes still move 15 times a second, smoothed,
// and a 1280x720 stream stays within a third of a core.
constexpr int64_t kEveryFramePixels = int64_t{640} * 480;

}  // namespace

void ShrinkBgr(const uint8_t* frame, int32_t width, int32_t height, int32_t factor, std::vector<uint8_t>& out,
               int32_t* outWidth, int32_t* outHeight) {
  factor = std::max(factor, 1);
  const int32_t w = std::max(width / factor, 1);
  const int32_t h = std::max(height / factor, 1);
  out.resize(size_t(w) * size_t(h) * kBytesPerPixel);
  *outWidth = w;
  *outHeight = h;
  const size_t rowBytes = size_t(width) * kBytesPerPixel;
  const int32_t cols = std::min(factor, width);
  const int32_t rows = std::min(factor, height);
  const uint32_t area = uint32_t(cols) * uint32_t(rows);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* o = out.data() + size_t(y) * size_t(w) * kBytesPerPixel;
    for (int32_t x = 0; x < w; ++x) {
      uint32_t sum[kBytesPerPixel] = {0, 0, 0};
      for (int32_t dy = 0; dy < rows; ++dy) {
        const uint8_t* p = frame + size_t(y * factor + dy) * rowBytes + size_t(x) * factor * kBytesPerPixel;
        for (int32_t dx = 0; dx < cols; ++dx, p += kBytesPerPixel) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
        }
      }
      for (int32_t c = 0; c < kBytesPerPixel; ++c) *o++ = static_cast<uint8_t>((sum[c] + area / 2) / area);
    }
  }
}

EyeWorker::EyeWorker(std::unique_ptr<host::EyeDetector> detector)
    : detector_(std::move(detector)), thread_([this] { Run(); }) {}

EyeWorker::~EyeWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void EyeWorker::Offer(const uint8_t* bottomUp, int32_t width, int32_t height) {
  {
    std::lock_guard lock(mutex_);
    const bool skip = int64_t{width} * height > kEveryFramePixels && (offers_++ % 2) == 1;
    if (busy_ || stop_ || skip) return;
    // The worker is idle and does not touch pending_ until it is woken.
    const int32_t factor = std::max(width / kDetectWidth, 1);
    if (factor == 1) {
      pending_.assign(bottomUp, bottomUp + size_t(width) * size_t(height) * kBytesPerPixel);
      pendingWidth_ = width;
      pendingHeight_ = height;
    } else {
      ShrinkBgr(bottomUp, width, height, factor, pending_, &pendingWidth_, &pendingHeight_);
    }
    busy_ = true;
  }
  wake_.notify_one();
}

host::FrameEyes EyeWorker::Latest() {
  std::lock_guard lock(mutex_);
  return latest_;
}

void EyeWorker::Reset() {
  std::lock_guard lock(mutex_);
  reset_ = true;
  latest_ = host::FrameEyes{};
}

int64_t EyeWorker::looked() {
  std::lock_guard lock(mutex_);
  return looked_;
}

void EyeWorker::Run() {
  std::vector<uint8_t> frame;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || busy_; });
    if (stop_) return;
    frame.swap(pending_);
    const host::BgrView view{frame.data(), pendingWidth_, pendingHeight_, int64_t{pendingWidth_} * kBytesPerPixel,
                             true};
    const bool reset = reset_;
    reset_ = false;
    lock.unlock();
    if (reset) detector_->Reset();
    const host::EyeResult result = detector_->Feed(view);
    lock.lock();
    // A reset asked for while this frame was looked at makes its eyes stale.
    if (!reset_) latest_.eyes.assign(result.eyes, result.eyes + result.count);
    ++looked_;
    busy_ = false;
  }
}

}  // namespace tiko::gst
