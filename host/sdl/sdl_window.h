// A real window for the player: SDL2 draws the presented frames with the GPU
// (or SDL's software renderer where there is none) and plays the sound cues
// through the default audio device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tiko/host.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace tiko::host {

class SdlMixer;

struct SdlWindowOptions {
  std::string title = "tiko";
  // The canvas the player draws into; the window starts at this size and,
  // when the user resizes it, shows the canvas scaled to fit.
  int32_t width = 640;
  int32_t height = 480;
  // Smooth (linear) stretching looks better for a live picture; nearest
  // keeps every pixel exact, which tests rely on.
  bool smooth = true;
  // Created hidden, a window can be shown only once the player has opened,
  // so a package that fails to load never flashes a window on screen.
  bool hidden = false;
  bool resizable = true;
  // Without sound the window still works; a host that wants no audio device
  // at all (tests, machines without one) says so here.
  bool audio = true;
};

class SdlWindow final : public HostWindow {
 public:
  // Null when SDL cannot open a window; `error` then says why. Audio that
  // cannot be opened leaves the window silent, with the reason in
  // audioError().
  static std::unique_ptr<SdlWindow> Create(const SdlWindowOptions& options, std::string* error);
  ~SdlWindow();
  SdlWindow(const SdlWindow&) = delete;
  SdlWindow& operator=(const SdlWindow&) = delete;

  bool GetRect(Rect* rect) override;
  bool AcquireCanvas() override;
  void ReleaseCanvas() override;
  void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight) override;
  void PlayWave(const char* utf8Path) override;

  // Shows the canvas again, as after the window was uncovered or resized.
  void Refresh();
  void Show();
  void SetTitle(const std::string& title);

  // What the canvas shows: top-down BGR24 rows of width() * 3 bytes; empty
  // when the renderer cannot read back.
  std::vector<uint8_t> ReadPixels();
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // Sound: whether a device is open, why not, and how many cues are playing
  // or were refused (a missing or unreadable wave file).
  bool hasAudio() const { return mixer_ != nullptr; }
  const std::string& audioError() const { return audioError_; }
  int32_t playingSounds() const;
  int64_t failedSounds() const { return failedSounds_; }

 private:
  SdlWindow() = default;
  bool Open(const SdlWindowOptions& options, std::string* error);
  bool EnsureFrameTexture(int32_t width, int32_t height);
  bool UploadBottomUp(const uint8_t* frame, int32_t width, int32_t height);
  void ShowCanvas();

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  // Everything presented is drawn into the canvas, which keeps it between
  // presents the way a window's surface does; the screen shows the canvas.
  SDL_Texture* canvas_ = nullptr;
  SDL_Texture* frameTexture_ = nullptr;
  int32_t frameWidth_ = 0;
  int32_t frameHeight_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool smooth_ = true;
  bool videoStarted_ = false;
  std::unique_ptr<SdlMixer> mixer_;
  std::string audioError_;
  int64_t failedSounds_ = 0;
};

}  // namespace tiko::host
