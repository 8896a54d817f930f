// Test support for the player suites: a host window and a background bitmap
// that record every call, small packages with known pictures, and the shared
// library opened the way a host opens it.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "authoring/writer.h"
#include "support/package_files.h"
#include "tiko/host.h"
#include "tiko/tiko.h"

namespace tiko::playertest {

// Frame sizes the suites use most.
inline constexpr int32_t kWidth = 320;
inline constexpr int32_t kHeight = 240;
inline constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3;
inline constexpr size_t kDoubleFrameBytes = size_t{640} * 480 * 3;

// One Present call as the window saw it.
struct Presented {
  std::vector<uint8_t> frame;  // bottom-up BGR24, width * height * 3 bytes
  int32_t width = 0;
  int32_t height = 0;
  int32_t x = 0;
  int32_t y = 0;
  int32_t dstWidth = 0;
  int32_t dstHeight = 0;
};

// A host window that records what the player does with it, and fails on
// request.
class RecordingWindow final : public HostWindow {
 public:
  explicit RecordingWindow(Rect rect = Rect{0, 0, kWidth, kHeight}) : rect_(rect) {}

  bool GetRect(Rect* rect) override {
    ++rectCalls;
    if (failRect) return false;
    *rect = rect_;
    return true;
  }
  bool AcquireCanvas() override {
    if (failCanvas) return false;
    ++canvasHeld;
    return true;
  }
  void ReleaseCanvas() override { --canvasHeld; }
  void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight) override {
    presents.push_back(Presented{std::vector<uint8_t>(frame, frame + size_t(width) * size_t(height) * 3), width,
                                 height, x, y, dstWidth, dstHeight});
  }
  void PlayWave(const char* utf8Path) override { waves.emplace_back(utf8Path); }

  void SetRect(Rect rect) { rect_ = rect; }
  const Presented& Last() const { return presents.back(); }

  bool failRect = false;
  bool failCanvas = false;
  int32_t rectCalls = 0;
  int32_t canvasHeld = 0;  // acquisitions not yet given back
  std::vector<Presented> presents;
  std::vector<std::string> waves;

 private:
  Rect rect_;
};

// A background bitmap of one colour (or a pattern), bottom-up, that records
// whether it was copied and deleted.
class RecordingBitmap final : public HostBitmap {
 public:
  RecordingBitmap(int32_t width, int32_t height) : width_(width), height_(height) {
    pixels_.resize(size_t(width) * size_t(height) * 3);
    for (size_t i = 0; i < pixels_.size(); ++i) pixels_[i] = static_cast<uint8_t>(i * 7 + 3);
  }

  int32_t CopyPixels(uint8_t* dst, int32_t width, int32_t lines) override {
    ++copies;
    if (failCopy || deleted || width != width_) return 0;
    const int32_t rows = lines < height_ ? lines : height_;
    std::memcpy(dst, pixels_.data(), size_t(rows) * size_t(width) * 3);
    return rows;
  }
  void Delete() override { ++deleted; }

  const std::vector<uint8_t>& pixels() const { return pixels_; }

  bool failCopy = false;
  int32_t copies = 0;
  int32_t deleted = 0;

 private:
  int32_t width_;
  int32_t height_;
  std::vector<uint8_t> pixels_;
};

// A raw BGR24 picture of one colour, without transparency plane.
inline authoring::PictureDesc SolidPicture(uint16_t width, uint16_t height, uint8_t blue, uint8_t green,
                                           uint8_t red) {
  authoring::PictureDesc p = test::RawBgrPicture(width, height, kMaskNone, 0);
  for (size_t i = 0; i + 2 < p.stored.size(); i += 3) {
    p.stored[i] = blue;
    p.stored[i + 1] = green;
    p.stored[i + 2] = red;
  }
  return p;
}

// A step that shows picture `picture` opaque at width x height stage units,
// and, with `place`, puts it at (x, y). Its script stays on it.
inline ActorStep ShowStep(int16_t picture, int16_t width, int16_t height, bool place = false, int16_t x = 0,
                          int16_t y = 0) {
  const uint32_t position = place ? kPosSet : kPosKeep;
  return authoring::MakeStep(
      {.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = position, .y = position, .opacity = kOpacitySet},
      {.picture = picture, .x = x, .y = y, .width = width, .height = height, .opacity = 100});
}

// Stage units of a 16 x 12 pixel picture on a 320 x 240 frame.
inline constexpr int16_t kBoxWidth = 500;
inline constexpr int16_t kBoxHeight = 375;

// One actor showing a 16 x 12 picture of the given colour at stage (x, y).
inline authoring::PackageDesc BoxPackage(int16_t x, int16_t y, uint8_t blue, uint8_t green, uint8_t red) {
  authoring::PackageDesc desc;
  desc.pictures = {SolidPicture(16, 12, blue, green, red)};
  desc.actors = {{u"box", 0, {ShowStep(0, kBoxWidth, kBoxHeight, true, x, y)}}};
  return desc;
}

// The two eye actors, hidden until a report shows them: "$eye1" shows a red
// and "$eye2" a blue 16 x 12 picture.
inline authoring::PackageDesc EyePackage() {
  authoring::PackageDesc desc;
  desc.pictures = {SolidPicture(16, 12, 0, 0, 255), SolidPicture(16, 12, 255, 0, 0)};
  desc.actors = {{u"$eye1", -1, {ShowStep(0, kBoxWidth, kBoxHeight)}},
                 {u"$eye2", -1, {ShowStep(1, kBoxWidth, kBoxHeight)}}};
  return desc;
}

// A package without actors: every render presents the bare frame.
inline authoring::PackageDesc EmptyPackage() {
  authoring::PackageDesc desc;
  desc.pictures = {SolidPicture(1, 1, 0, 0, 0)};
  return desc;
}

inline std::string WriteDesc(const test::TempDir& dir, const std::string& name, const authoring::PackageDesc& desc) {
  return dir.Write(name, authoring::WritePackage(desc));
}

// The pixel at column x, row y (row 0 the bottom line) of a bottom-up frame.
inline std::vector<uint8_t> PixelAt(const std::vector<uint8_t>& frame, int32_t width, int32_t x, int32_t y) {
  const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
  return {frame[at], frame[at + 1], frame[at + 2]};
}

// The shared library, opened as a host opens it, with its two exports.
struct PlayerLibrary {
  void* handle = nullptr;
  CTikoPlayer* (*getInterface)() = nullptr;
  uint32_t (*lastError)() = nullptr;
  std::string path;
  std::string error;
};

// Where the build put libtiko.so: named by the build, or beside the test
// programs' directory.
inline std::string LibraryPath() {
#ifdef TIKO_LIBRARY_PATH
  return TIKO_LIBRARY_PATH;
#else
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "libtiko.so";
  std::string exe(self, size_t(n));
  const std::string dir = exe.substr(0, exe.rfind('/'));
  return dir + "/../src/libtiko.so";
#endif
}

inline const PlayerLibrary& Library() {
  static const PlayerLibrary library = [] {
    PlayerLibrary l;
    l.path = LibraryPath();
    l.handle = dlopen(l.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (l.handle == nullptr) {
      l.error = dlerror();
      return l;
    }
    l.getInterface = reinterpret_cast<CTikoPlayer* (*)()>(dlsym(l.handle, "TikoGetInterface"));
    l.lastError = reinterpret_cast<uint32_t (*)()>(dlsym(l.handle, "TikoGetLastError"));
    return l;
  }();
  return library;
}

}  // namespace tiko::playertest
