#include "player/player.h"

#include <cstring>

#include "anim/scene.h"
#include "anim/wrap.h"
#include "image/intake.h"
#include "package/heap.h"
#include "package/loader.h"

namespace tiko {
namespace {

int32_t FrameWidth(const CVyrWindow& player) { return player.frameHeader.width; }
int32_t FrameHeight(const CVyrWindow& player) { return player.frameHeader.height; }

// Bytes of a frame of the player's size. The sides are checked at open, so on
// a 64-bit host this cannot overflow; on a 32-bit one a size that does not fit
// is reported as 0, which no allocation is asked for.
size_t FrameBytes(int32_t width, int32_t height) {
  const uint64_t bytes = uint64_t(uint32_t(width)) * uint32_t(height) * kFrameBytesPerPixel;
  if constexpr (sizeof(size_t) < sizeof(uint64_t)) {
    if (bytes > SIZE_MAX) return 0;
  }
  return static_cast<size_t>(bytes);
}

size_t FrameBytes(const CVyrWindow& player) { return FrameBytes(FrameWidth(player), FrameHeight(player)); }

bool IsFrameSide(int32_t side) { return side > 0 && side <= kMaxFrameSide; }

// Hosts hand their paths over as the platform spells UTF-16 (wchar_t on
// Windows, char16_t elsewhere); the core reads the same code units.
static_assert(sizeof(TikoPathChar) == sizeof(char16_t));
const char16_t* CorePath(const TikoPathChar* path) { return reinterpret_cast<const char16_t*>(path); }

// Copies the host's background bitmap into the player's own buffer, then
// deletes the bitmap; without a bitmap the renders start from black.
bool CopyBackground(CVyrWindow& player, platform::BitmapHandle bitmap) {
  if (bitmap == nullptr) return true;
  const size_t bytes = FrameBytes(player);
  if (bytes == 0) return false;
  player.background = static_cast<uint8_t*>(MemAlloc(bytes, 0));
  if (player.background == nullptr) return false;
  const platform::FrameHeader header = platform::MakeFrameHeader(FrameWidth(player), FrameHeight(player));
  const int32_t height = FrameHeight(player);
  const int32_t copied =
      platform::CopyBitmapBits(player.windowDC, bitmap, static_cast<uint32_t>(height), player.background, &header);
  // On failure the bitmap stays the host's and the buffer stays ours until
  // the player goes.
  if (copied <= 0) return false;
  // A bitmap shorter than the frame fills the bottom rows; the rows above are
  // black rather than whatever the heap held.
  if (copied < height) {
    const size_t rowBytes = static_cast<size_t>(FrameWidth(player)) * kFrameBytesPerPixel;
    std::memset(player.background + rowBytes * static_cast<size_t>(copied), 0,
                rowBytes * static_cast<size_t>(height - copied));
  }
  platform::DeleteBitmap(bitmap);
  return true;
}

}  // namespace

CVyrWindow::CVyrWindow()
    : package(nullptr),
      eyeSlots{},
      frame(nullptr),
      background(nullptr),
      windowDC(nullptr),
      opened(0),
      frameHeader(platform::MakeFrameHeader(0, 0)),
      drawDib(nullptr),
      windowWidth(0),
      windowHeight(0),
      window(nullptr) {}

CVyrWindow::~CVyrWindow() { ReleasePlayerResources(*this); }

void* CVyrWindow::operator new(size_t bytes, const std::nothrow_t&) noexcept { return MemAlloc(bytes, 1); }

void CVyrWindow::operator delete(void* block) noexcept { MemFree(block); }

void CVyrWindow::operator delete(void* block, const std::nothrow_t&) noexcept { MemFree(block); }

int32_t CVyrWindow::OpenSized(TikoWindowHandle window, const TikoPathChar* packagePath,
                              TikoBitmapHandle backgroundBitmap, int32_t frameWidth, int32_t frameHeight) {
  return OpenPlayer(*this, window, CorePath(packagePath), backgroundBitmap, frameWidth, frameHeight);
}

int32_t CVyrWindow::Open(TikoWindowHandle window, const TikoPathChar* packagePath,
                         TikoBitmapHandle backgroundBitmap) {
  return OpenPlayer(*this, window, CorePath(packagePath), backgroundBitmap, kDefaultFrameWidth, kDefaultFrameHeight);
}

int32_t CVyrWindow::ChangePackage(const TikoPathChar* packagePath) {
  return ChangePlayerPackage(*this, CorePath(packagePath));
}

int32_t CVyrWindow::RenderAt(const uint8_t* hostFrame, int32_t x, int32_t y, int32_t decimate) {
  return RenderPlayerFrame(*this, hostFrame, x, y, decimate != 0);
}

int32_t CVyrWindow::Render(const uint8_t* hostFrame, int32_t decimate) {
  return RenderPlayerFrame(*this, hostFrame, 0, 0, decimate != 0);
}

int32_t CVyrWindow::RenderBackground() { return RenderPlayerFrame(*this, nullptr, 0, 0, false); }

void CVyrWindow::SetEyePosition(int32_t x, int32_t y) { tiko::SetEyePosition(eyeSlots, package, x, y); }

void CVyrWindow::Release() { delete this; }

CVyrWindow* CreatePlayer() { return new (std::nothrow) CVyrWindow(); }

void ReleasePlayerResources(CVyrWindow& player) {
  player.opened = 0;
  if (player.drawDib != nullptr) {
    platform::DrawClose(player.drawDib);
    player.drawDib = nullptr;
  }
  if (player.windowDC != nullptr) {
    platform::ReleaseCanvas(player.window, player.windowDC);
    player.windowDC = nullptr;
  }
  if (player.frame != nullptr) {
    MemFree(player.frame);
    player.frame = nullptr;
  }
  if (player.background != nullptr) {
    MemFree(player.background);
    player.background = nullptr;
  }
  if (player.package != nullptr) {
    FreePackage(player.package);
    player.package = nullptr;
  }
  player.window = nullptr;
}

int32_t OpenPlayer(CVyrWindow& player, platform::WindowHandle window, const char16_t* packagePath,
                   platform::BitmapHandle backgroundBitmap, int32_t frameWidth, int32_t frameHeight) {
  // The scene takes each side in 16 bits, and an empty frame has nothing to
  // draw: such a call changes nothing at all, not even what an earlier open
  // left in place.
  if (!IsFrameSide(frameWidth) || !IsFrameSide(frameHeight)) return 0;

  // Opening again starts from nothing, so that nothing of the earlier open
  // is overwritten and lost.
  ReleasePlayerResources(player);

  // From here on, a failing step returns at once and leaves what it acquired
  // so far to the destructor (or to the next open).
  player.drawDib = platform::DrawOpen();
  if (player.drawDib == nullptr) return 0;

  player.window = window;
  player.windowDC = platform::AcquireCanvas(window);
  if (player.windowDC == nullptr) return 0;

  // Measured once: frames keep being stretched to this size also when the
  // window changes later.
  Rect rect{};
  if (!platform::GetWindowRect(window, &rect)) return 0;
  player.windowWidth = Wrap32(int64_t{rect.right} - rect.left);
  player.windowHeight = Wrap32(int64_t{rect.bottom} - rect.top);

  player.frameHeader.width = frameWidth;
  player.frameHeader.height = frameHeight;

  const size_t bytes = FrameBytes(player);
  if (bytes == 0) return 0;
  player.frame = static_cast<uint8_t*>(MemAlloc(bytes, 0));
  if (player.frame == nullptr) return 0;

  if (!CopyBackground(player, backgroundBitmap)) return 0;

  // Set up once for every frame to come: same format, same sizes.
  if (!platform::DrawBegin(player.drawDib, player.windowDC, player.windowWidth, player.windowHeight,
                           &player.frameHeader, frameWidth, frameHeight)) {
    return 0;
  }

  const Status status = LoadPackage(packagePath, &player.package);
  if (status != STATUS_SUCCESS) {
    player.package = nullptr;
    platform::SetLastErrorValue(status);
    return 0;
  }

  player.opened = 1;
  return 1;
}

int32_t ChangePlayerPackage(CVyrWindow& player, const char16_t* packagePath) {
  if (player.package != nullptr) {
    FreePackage(player.package);
    player.package = nullptr;
  }
  const Status status = LoadPackage(packagePath, &player.package);
  if (status != STATUS_SUCCESS) {
    player.package = nullptr;
    return 0;
  }
  return 1;
}

void TakeFrame(const CVyrWindow& player, const uint8_t* hostFrame, bool halve) {
  const size_t bytes = FrameBytes(player);
  if (hostFrame == nullptr) {
    if (player.background != nullptr) {
      std::memcpy(player.frame, player.background, bytes);
    } else {
      std::memset(player.frame, 0, bytes);
    }
    return;
  }
  // The halving writes exactly a 320 x 240 frame; a player of any other size
  // takes the host frame at its own size instead.
  if (halve && FrameWidth(player) == kDefaultFrameWidth && FrameHeight(player) == kDefaultFrameHeight) {
    HalveBgrFrame(hostFrame, kHalvingSourceRowBytes, kDefaultFrameWidth, kDefaultFrameHeight, player.frame);
    return;
  }
  std::memcpy(player.frame, hostFrame, bytes);
}

int32_t RenderPlayerFrame(CVyrWindow& player, const uint8_t* hostFrame, int32_t x, int32_t y, bool halve) {
  if (player.opened == 0) return 0;
  // Cues started by this render's scene play through this player's window.
  platform::SetSoundWindow(player.window);
  TakeFrame(player, hostFrame, halve);
  TickEyeCountdowns(player.eyeSlots, player.package);
  // Without a package (after a failed change) the bare frame is presented.
  Status status = STATUS_UNSUCCESSFUL;
  if (player.package != nullptr) {
    status = RenderScene(player.package, kFormatBgr24,
                         PackFrameSize(static_cast<uint32_t>(FrameWidth(player)),
                                       static_cast<uint32_t>(FrameHeight(player))),
                         player.frame);
  }
  platform::DrawFrame(player.drawDib, player.windowDC, x, y, player.windowWidth, player.windowHeight,
                      &player.frameHeader, player.frame, FrameWidth(player), FrameHeight(player));
  platform::SetSoundWindow(nullptr);
  return status == STATUS_SUCCESS ? 1 : 0;
}

}  // namespace tiko
