// A package from untrusted bytes, played the way a host plays it: a player
// from TikoGetInterface opened on a small window with the bytes as its package
// file, 30 frames rendered with eye reports in between, package changes (the
// same file again, a missing file, and back), and Release.
//
// Whatever the bytes, nothing may crash or read outside a buffer (the sanitizers
// watch every build of this target), every render presents exactly one frame of
// the player's size, and once the player is gone no block, file or draw handle
// is left behind. The target runs on the counting test backend, which also
// reports the largest single allocation: it must stay within what the file's
// size can justify, so a size field cannot make the player ask for gigabytes.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "codec/decoder.h"
#include "platform/testing/hooks.h"
#include "tiko/host.h"
#include "tiko/tiko.h"

namespace {

constexpr int32_t kFrameWidth = 64;
constexpr int32_t kFrameHeight = 48;
constexpr size_t kFrameBytes = size_t{kFrameWidth} * kFrameHeight * 3;
constexpr int32_t kFrames = 30;
// Beyond what the file holds, the player may ask for its frame and background
// and for pictures rescaled to at most four times the frame's sides (three
// colour bytes and at most one plane byte per pixel).
constexpr uint64_t kRescaleLimit = uint64_t{4 * kFrameWidth} * (4 * kFrameHeight) * 4;
constexpr uint64_t kRecordSlack = 4096;  // the player object, the package record, small tables

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "package_play_fuzz: %s\n", what);
    std::abort();
  }
}

// Reads every byte it is shown, so that a frame shorter than its size is seen
// by AddressSanitizer, and counts what it is asked to do.
class CheckingWindow final : public tiko::HostWindow {
 public:
  bool GetRect(tiko::Rect* rect) override {
    *rect = tiko::Rect{0, 0, kFrameWidth * 2, kFrameHeight * 2};
    return true;
  }
  bool AcquireCanvas() override {
    ++canvases;
    return true;
  }
  void ReleaseCanvas() override { --canvases; }
  void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t, int32_t, int32_t dstWidth,
               int32_t dstHeight) override {
    Require(width == kFrameWidth && height == kFrameHeight, "presented frame has another size");
    Require(dstWidth == kFrameWidth * 2 && dstHeight == kFrameHeight * 2, "presented to another window size");
    uint32_t sum = 0;
    for (size_t i = 0; i < kFrameBytes; ++i) sum = sum * 31 + frame[i];
    checksum ^= sum;
    ++presents;
  }
  void PlayWave(const char* utf8Path) override {
    Require(utf8Path != nullptr && utf8Path[0] != 0, "empty cue path");
    ++waves;
  }

  int32_t canvases = 0;
  int32_t presents = 0;
  int32_t waves = 0;
  uint32_t checksum = 0;
};

// A background of the frame's size; the player copies it and deletes it.
class PatternBitmap final : public tiko::HostBitmap {
 public:
  int32_t CopyPixels(uint8_t* dst, int32_t width, int32_t lines) override {
    if (width != kFrameWidth || lines != kFrameHeight) return 0;
    for (size_t i = 0; i < kFrameBytes; ++i) dst[i] = static_cast<uint8_t>(i * 7);
    return lines;
  }
  void Delete() override { ++deleted; }
  int32_t deleted = 0;
};

// The package file: an in-memory file reached through its /proc path, so that
// a run touches no disk. Made once per process and rewritten for each input.
struct PackageFile {
  int fd = -1;
  std::u16string path;
  std::u16string missing;
};

const PackageFile& File() {
  static const PackageFile file = [] {
    PackageFile f;
    f.fd = memfd_create("tiko-package", MFD_CLOEXEC);
    Require(f.fd >= 0, "memfd_create failed");
    const std::string path = "/proc/self/fd/" + std::to_string(f.fd);
    f.path.assign(path.begin(), path.end());
    f.missing = f.path + u"-missing";
    return f;
  }();
  return file;
}

void Store(const uint8_t* data, size_t size) {
  const int fd = File().fd;
  Require(ftruncate(fd, 0) == 0, "ftruncate failed");
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    Require(n > 0, "pwrite failed");
    done += static_cast<size_t>(n);
  }
}

// The input's last bytes steer the eye reports, so the fuzzer can move them
// without touching the tables at the file's start.
int32_t Steer(const uint8_t* data, size_t size, size_t back, int32_t range) {
  if (size < back) return static_cast<int32_t>(back * 37) % range;
  return static_cast<int32_t>(data[size - back]) % range - range / 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Larger inputs only slow the search; the tables and small pictures fit.
  if (size > 256 * 1024) return 0;
  Store(data, size);

  tiko::counting::ResetHeap();
  tiko::counting::ResetFiles();
  tiko::counting::ResetDrawing();
  const int64_t liveBefore = tiko::counting::LiveBlocks();
  const int64_t filesBefore = tiko::counting::OpenFiles();

  CheckingWindow window;
  PatternBitmap bitmap;
  // The host frame is a heap block of exactly the frame's size.
  std::unique_ptr<uint8_t[]> hostFrame(new uint8_t[kFrameBytes]);
  for (size_t i = 0; i < kFrameBytes; ++i) hostFrame[i] = static_cast<uint8_t>(i ^ (i >> 8));

  CTikoPlayer* player = TikoGetInterface();
  Require(player != nullptr, "no player");
  const bool opened =
      player->OpenSized(&window, File().path.c_str(), &bitmap, kFrameWidth, kFrameHeight) == 1;
  Require(bitmap.deleted == 1, "background not taken");
  if (!opened) Require(TikoGetLastError() == TIKO_STATUS_UNSUCCESSFUL, "refused load without its status");

  int32_t renders = 0;
  for (int32_t n = 0; n < kFrames; ++n) {
    switch (n) {
      case 2:
      case 9:
      case 17:
        player->SetEyePosition(Steer(data, size, 1 + n % 4, 360), Steer(data, size, 5 + n % 4, 280));
        player->SetEyePosition(Steer(data, size, 3 + n % 4, 360), Steer(data, size, 7 + n % 4, 280));
        break;
      case 10:
        // The same file again: everything freed, everything loaded afresh.
        Require(player->ChangePackage(File().path.c_str()) == (opened ? 1 : 0), "reload differs from the open");
        break;
      case 20:
        Require(player->ChangePackage(File().missing.c_str()) == 0, "a missing package loaded");
        break;
      case 22:
        player->ChangePackage(File().path.c_str());
        player->SetEyePosition(-1, 40);
        break;
      default:
        break;
    }
    int32_t onStage;
    if (n % 3 == 0) {
      onStage = player->RenderBackground();
    } else if (n % 3 == 1) {
      onStage = player->Render(hostFrame.get(), n % 2);
    } else {
      onStage = player->RenderAt(hostFrame.get(), n - 15, 15 - n, 0);
    }
    Require(onStage == 0 || onStage == 1, "render result");
    Require(opened || onStage == 0, "an unopened player rendered actors");
    ++renders;
  }
  Require(window.presents == (opened ? renders : 0), "one present per render");
  player->Release();

  Require(window.canvases == 0, "canvas kept after Release");
  Require(tiko::counting::LiveBlocks() == liveBefore, "blocks left after Release");
  Require(tiko::counting::OpenFiles() == filesBefore, "package file left open");
  Require(tiko::counting::OpenDrawHandles() == 0, "draw handle left open");
  const uint64_t fileLimit = 2 * tiko::DecodeBlockMaxOutput(static_cast<uint32_t>(size)) + kRecordSlack;
  Require(tiko::counting::LargestAllocation() <= std::max(fileLimit, kRescaleLimit + kRecordSlack),
          "an allocation larger than the file can justify");
  return 0;
}
