// The player object: the one implementation of the public interface. It opens
// on a host window with a package, takes one frame per render, runs the scene
// over it and presents the result in the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "package/records.h"
#include "platform/platform.h"
#include "player/eyes.h"
#include "tiko/tiko.h"

namespace tiko {

// The frame of Open, and the only size that the halving of 640 x 480 host
// frames serves.
inline constexpr int32_t kDefaultFrameWidth = 320;
inline constexpr int32_t kDefaultFrameHeight = 240;
// The scene takes the frame size packed into 16 bits each.
inline constexpr int32_t kMaxFrameSide = 65535;
inline constexpr int32_t kFrameBytesPerPixel = 3;
// The halving reads a 640 x 480 host frame: one pixel taken, one skipped, and
// one row taken, one skipped.
inline constexpr int32_t kHalvingSourceRowBytes = 2 * kDefaultFrameWidth * kFrameBytesPerPixel;

// Plain fields, freed by the destructor; the virtual operations forward to the
// free functions below.
class CVyrWindow final : public ::CTikoPlayer {
 public:
  CVyrWindow();

  int32_t OpenSized(TikoWindowHandle window, const TikoPathChar* packagePath, TikoBitmapHandle backgroundBitmap,
                    int32_t frameWidth, int32_t frameHeight) override;
  int32_t Open(TikoWindowHandle window, const TikoPathChar* packagePath, TikoBitmapHandle backgroundBitmap) override;
  int32_t ChangePackage(const TikoPathChar* packagePath) override;
  int32_t RenderAt(const uint8_t* hostFrame, int32_t x, int32_t y, int32_t decimate) override;
  int32_t Render(const uint8_t* hostFrame, int32_t decimate) override;
  int32_t RenderBackground() override;
  void SetEyePosition(int32_t x, int32_t y) override;
  void Release() override;

  // The object lives on the same heap as every buffer, so that it is counted
  // and can fail like them; a plain delete on it goes back there too.
  static void* operator new(size_t bytes, const std::nothrow_t&) noexcept;
  static void* operator new(size_t bytes) = delete;
  static void operator delete(void* block) noexcept;
  static void operator delete(void* block, const std::nothrow_t&) noexcept;

  Package* package;
  EyeSlots eyeSlots;
  uint8_t* frame;
  uint8_t* background;
  platform::CanvasHandle windowDC;
  int32_t opened;
  // The frame's width and height live here and nowhere else.
  platform::FrameHeader frameHeader;
  platform::DrawHandle drawDib;
  int32_t windowWidth;
  int32_t windowHeight;
  // The window the canvas belongs to: the canvas goes back to it, and sound
  // cues of this player's renders play through it.
  platform::WindowHandle window;

 private:
  ~CVyrWindow() override;
};

// A new player, or null when it cannot be allocated.
CVyrWindow* CreatePlayer();

// Gives back everything the player holds (draw handle, canvas, frame,
// background, package, in this order) and marks it not opened.
void ReleasePlayerResources(CVyrWindow& player);

// Opens the player; see the interface for the arguments and results.
int32_t OpenPlayer(CVyrWindow& player, platform::WindowHandle window, const char16_t* packagePath,
                   platform::BitmapHandle backgroundBitmap, int32_t frameWidth, int32_t frameHeight);

// Frees the package and loads another; 1 when it loaded.
int32_t ChangePlayerPackage(CVyrWindow& player, const char16_t* packagePath);

// Renders and presents one frame; 1 when an actor was on stage.
int32_t RenderPlayerFrame(CVyrWindow& player, const uint8_t* hostFrame, int32_t x, int32_t y, bool halve);

// Fills the working frame from the host frame, the halved 640 x 480 host
// frame, the background, or black.
void TakeFrame(const CVyrWindow& player, const uint8_t* hostFrame, bool halve);

}  // namespace tiko
