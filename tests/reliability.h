// Shared by the reliability suites: a host window that fingerprints every
// frame it is shown, a background bitmap that can be copied any number of
// times, and how much work a suite may do in this build.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tiko/host.h"

namespace tiko::reliability {

// Sanitizer builds run the same checks on fewer cases: the exhaustive loops
// step through their case numbers TIKO_RELIABILITY_STRIDE at a time (every
// case by default, every 7th under a sanitizer), and the long runs are cut
// by the same factor.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr uint64_t kDefaultStride = 7;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
inline constexpr uint64_t kDefaultStride = 7;
#else
inline constexpr uint64_t kDefaultStride = 1;
#endif
#else
inline constexpr uint64_t kDefaultStride = 1;
#endif

inline uint64_t Stride() {
  const char* value = std::getenv("TIKO_RELIABILITY_STRIDE");
  if (value != nullptr) {
    const uint64_t stride = std::strtoull(value, nullptr, 10);
    if (stride > 0) return stride;
  }
  return kDefaultStride;
}

// Case numbers first .. last in steps of the stride; the last one always
// comes, so the end of a range is never skipped.
inline std::vector<uint64_t> Cases(uint64_t first, uint64_t last) {
  std::vector<uint64_t> cases;
  const uint64_t stride = Stride();
  for (uint64_t n = first; n <= last; n += stride) cases.push_back(n);
  if (!cases.empty() && cases.back() != last) cases.push_back(last);
  return cases;
}

// A 64-bit fingerprint of a block, eight bytes at a time.
inline uint64_t Fingerprint(const uint8_t* bytes, size_t size) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    h = (h ^ word) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  for (; i < size; ++i) h = (h ^ bytes[i]) * 0x100000001B3ull;
  return h ^ (h >> 32);
}

// A host window that keeps a fingerprint of every presented frame and the
// cues asked for.
class FingerprintWindow final : public HostWindow {
 public:
  FingerprintWindow(int32_t width, int32_t height) : width_(width), height_(height) {}

  bool GetRect(Rect* rect) override {
    *rect = Rect{0, 0, width_, height_};
    return true;
  }
  bool AcquireCanvas() override {
    ++canvases;
    return true;
  }
  void ReleaseCanvas() override { --canvases; }
  void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t, int32_t, int32_t, int32_t) override {
    prints.push_back(Fingerprint(frame, size_t(width) * size_t(height) * 3));
  }
  void PlayWave(const char* utf8Path) override { waves.emplace_back(utf8Path); }

  int32_t canvases = 0;
  std::vector<uint64_t> prints;
  std::vector<std::string> waves;

 private:
  int32_t width_;
  int32_t height_;
};

// A background of any size with a pattern in it. A host hands each open a
// bitmap of its own; this one can be copied again after it was deleted, so a
// test can reuse it for a retried open.
class PatternBitmap final : public HostBitmap {
 public:
  int32_t CopyPixels(uint8_t* dst, int32_t width, int32_t lines) override {
    const size_t bytes = size_t(width) * size_t(lines) * 3;
    for (size_t i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>((i * 13) ^ (i >> 7));
    return lines;
  }
  void Delete() override { ++deleted; }
  int32_t deleted = 0;
};

// The frame a player of width x height presents when nothing is on stage and
// no host frame is given: the pattern background.
inline uint64_t BackgroundPrint(int32_t width, int32_t height) {
  std::vector<uint8_t> frame(size_t(width) * size_t(height) * 3);
  PatternBitmap bitmap;
  bitmap.CopyPixels(frame.data(), width, height);
  return Fingerprint(frame.data(), frame.size());
}

}  // namespace tiko::reliability
