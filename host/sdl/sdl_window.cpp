#include "host/sdl/sdl_window.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <new>
#include <system_error>

#include "host/sdl/sound_output.h"

namespace tiko::host {
namespace {

constexpr int32_t kBytesPerPixel = 3;

// The mix runs in one fixed format, so every cue is converted once, when it
// is loaded, and the audio thread only adds samples.
constexpr int kMixRate = kSoundOutputRate;
constexpr int kMixChannels = kSoundOutputChannels;
constexpr SDL_AudioFormat kMixFormat = AUDIO_S16SYS;
// About 21 ms a buffer: short enough that a cue starts with its frame, long
// enough that a busy render thread does not starve the device.
constexpr Uint16 kMixBufferFrames = 1024;
// Cues overlap, but a script that starts one every frame must not pile up
// sounds without end: past this many the oldest is cut off.
constexpr size_t kMaxVoices = 16;
// A cue is a short effect; a huge wave file is cut at this length rather than
// converted whole into memory.
constexpr int64_t kMaxSoundSeconds = 60;
constexpr size_t kMaxSoundSamples = size_t{kMixRate} * kMixChannels * kMaxSoundSeconds;
// Converted cues are kept for replay; a package uses few, so a full cache
// simply starts over.
constexpr size_t kMaxCachedSounds = 64;

// A wave file converted to the mix format: interleaved 16-bit samples.
struct Sound {
  std::vector<int16_t> samples;
};

struct Voice {
  std::shared_ptr<const Sound> sound;
  size_t position = 0;
};

struct CachedSound {
  std::filesystem::file_time_type modified;
  uintmax_t bytes = 0;
  std::shared_ptr<const Sound> sound;
};

// Converts a whole wave file to the mix format in one go; null when the file
// cannot be read or converted. (SDL's streaming converter drops the tail of a
// large single put when it resamples; the one-shot converter does not.)
std::shared_ptr<const Sound> ConvertWave(const std::string& path) {
  SDL_AudioSpec spec;
  Uint8* data = nullptr;
  Uint32 length = 0;
  if (SDL_LoadWAV(path.c_str(), &spec, &data, &length) == nullptr) return nullptr;
  std::shared_ptr<Sound> sound;
  SDL_AudioCVT cvt;
  const size_t frameBytes = static_cast<size_t>(SDL_AUDIO_BITSIZE(spec.format) / 8) * spec.channels;
  if (frameBytes > 0 && spec.freq > 0 &&
      SDL_BuildAudioCVT(&cvt, spec.format, spec.channels, spec.freq, kMixFormat, kMixChannels, kMixRate) >= 0) {
    // Whole frames only, and no more than the longest cue we keep.
    const size_t longest = frameBytes * static_cast<size_t>(spec.freq) * kMaxSoundSeconds;
    const size_t inBytes = std::min<size_t>(length, longest) / frameBytes * frameBytes;
    std::vector<uint8_t> work(inBytes * static_cast<size_t>(std::max(cvt.len_mult, 1)) + sizeof(int16_t));
    std::memcpy(work.data(), data, inBytes);
    cvt.buf = work.data();
    cvt.len = static_cast<int>(inBytes);
    if (SDL_ConvertAudio(&cvt) == 0) {
      sound = std::make_shared<Sound>();
      sound->samples.resize(std::min(static_cast<size_t>(cvt.len_cvt) / sizeof(int16_t), kMaxSoundSamples));
      std::memcpy(sound->samples.data(), work.data(), sound->samples.size() * sizeof(int16_t));
    }
  }
  SDL_FreeWAV(data);
  return sound;
}

}  // namespace

// The playing cues and the device that pulls them. The list is shared with
// SDL's audio thread, so it is only touched with the device locked; the audio
// thread never frees anything (finished voices are dropped here).
// The sound libraries under SDL describe a missing device in many lines of
// their own on stderr; SDL's error already says it in one, which the host
// reports. Their output is put aside while the device is looked for.
class QuietErrors {
 public:
  QuietErrors() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && nothing >= 0) ::dup2(nothing, STDERR_FILENO);
    if (nothing >= 0) ::close(nothing);
  }
  ~QuietErrors() {
    std::fflush(stderr);
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  int saved_ = -1;
};

class SdlMixer {
 public:
  static std::unique_ptr<SdlMixer> Open(std::string* error) {
    const QuietErrors quiet;
    std::unique_ptr<SdlMixer> mixer(new (std::nothrow) SdlMixer);
    if (mixer == nullptr) {
      *error = "out of memory";
      return nullptr;
    }
    // The cues stay in the one format they were converted to.
    mixer->output_ = SoundOutput::Open(kMixBufferFrames, &SdlMixer::Fill, mixer.get(), error);
    if (mixer->output_ == nullptr) return nullptr;
    return mixer;
  }

  bool Play(const std::string& path) {
    std::shared_ptr<const Sound> sound = Load(path);
    if (sound == nullptr) return false;
    output_->Lock();
    DropFinished();
    if (voices_.size() >= kMaxVoices) voices_.erase(voices_.begin());
    voices_.push_back(Voice{std::move(sound), 0});
    output_->Unlock();
    return true;
  }

  int32_t Playing() {
    output_->Lock();
    DropFinished();
    const auto count = static_cast<int32_t>(voices_.size());
    output_->Unlock();
    return count;
  }

 private:
  SdlMixer() = default;

  // A cue file changed on disk (the author re-recorded it) is loaded anew.
  std::shared_ptr<const Sound> Load(const std::string& path) {
    std::error_code failed;
    const auto modified = std::filesystem::last_write_time(path, failed);
    if (failed) return nullptr;
    const uintmax_t bytes = std::filesystem::file_size(path, failed);
    if (failed) return nullptr;
    const auto found = cache_.find(path);
    if (found != cache_.end() && found->second.modified == modified && found->second.bytes == bytes) {
      return found->second.sound;
    }
    std::shared_ptr<const Sound> sound = ConvertWave(path);
    if (sound == nullptr) return nullptr;
    if (cache_.size() >= kMaxCachedSounds) cache_.clear();
    cache_[path] = CachedSound{modified, bytes, sound};
    return sound;
  }

  void DropFinished() {
    std::erase_if(voices_, [](const Voice& v) { return v.position >= v.sound->samples.size(); });
  }

  static void Fill(void* self, uint8_t* stream, int length) {
    static_cast<SdlMixer*>(self)->Mix(reinterpret_cast<int16_t*>(stream),
                                      static_cast<size_t>(length) / sizeof(int16_t));
  }

  // Overlapping cues add up; the sum saturates rather than wrapping into a
  // loud click.
  void Mix(int16_t* out, size_t count) {
    std::fill(out, out + count, int16_t{0});
    for (Voice& voice : voices_) {
      const std::vector<int16_t>& samples = voice.sound->samples;
      const size_t n = std::min(count, samples.size() - std::min(voice.position, samples.size()));
      for (size_t i = 0; i < n; ++i) {
        const int32_t sum = int32_t{out[i]} + samples[voice.position + i];
        out[i] = static_cast<int16_t>(
            std::clamp<int32_t>(sum, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
      }
      voice.position += n;
    }
  }

  std::vector<Voice> voices_;
  std::map<std::string, CachedSound> cache_;
  // Last, so that it stops calling Fill before the voices go.
  std::unique_ptr<SoundOutput> output_;
};

std::unique_ptr<SdlWindow> SdlWindow::Create(const SdlWindowOptions& options, std::string* error) {
  std::unique_ptr<SdlWindow> window(new SdlWindow);
  std::string ignored;
  if (!window->Open(options, error != nullptr ? error : &ignored)) return nullptr;
  return window;
}

bool SdlWindow::Open(const SdlWindowOptions& options, std::string* error) {
  if (options.width <= 0 || options.height <= 0) {
    *error = "the window size must be positive";
    return false;
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    *error = SDL_GetError();
    return false;
  }
  videoStarted_ = true;
  width_ = options.width;
  height_ = options.height;
  smooth_ = options.smooth;
  Uint32 flags = 0;
  if (options.hidden) flags |= SDL_WINDOW_HIDDEN;
  if (options.resizable) flags |= SDL_WINDOW_RESIZABLE;
  window_ =
      SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_, height_, flags);
  if (window_ == nullptr) {
    *error = SDL_GetError();
    return false;
  }
  // The canvas is a render target; where no GPU renderer offers one, SDL's
  // software renderer does.
  renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_TARGETTEXTURE);
  if (renderer_ == nullptr) renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  if (renderer_ == nullptr || !SDL_RenderTargetSupported(renderer_)) {
    *error = renderer_ == nullptr ? SDL_GetError() : "the renderer cannot draw into textures";
    return false;
  }
  canvas_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET, width_, height_);
  if (canvas_ == nullptr) {
    *error = SDL_GetError();
    return false;
  }
  SDL_SetTextureScaleMode(canvas_, smooth_ ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
  // A window shows black until the first present, as a fresh one would.
  SDL_SetRenderTarget(renderer_, canvas_);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, SDL_ALPHA_OPAQUE);
  SDL_RenderClear(renderer_);
  SDL_SetRenderTarget(renderer_, nullptr);
  ShowCanvas();
  if (options.audio) mixer_ = SdlMixer::Open(&audioError_);
  return true;
}

SdlWindow::~SdlWindow() {
  mixer_.reset();
  if (frameTexture_ != nullptr) SDL_DestroyTexture(frameTexture_);
  if (canvas_ != nullptr) SDL_DestroyTexture(canvas_);
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  if (videoStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // The last user of SDL lets go of what SDL keeps beyond its subsystems.
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

bool SdlWindow::GetRect(Rect* rect) {
  if (rect == nullptr) return false;
  *rect = Rect{0, 0, width_, height_};
  return true;
}

bool SdlWindow::AcquireCanvas() { return renderer_ != nullptr; }

void SdlWindow::ReleaseCanvas() {}

bool SdlWindow::EnsureFrameTexture(int32_t width, int32_t height) {
  if (frameTexture_ != nullptr && width == frameWidth_ && height == frameHeight_) return true;
  if (frameTexture_ != nullptr) SDL_DestroyTexture(frameTexture_);
  frameTexture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_BGR24, SDL_TEXTUREACCESS_STREAMING, width, height);
  if (frameTexture_ == nullptr) {
    frameWidth_ = frameHeight_ = 0;
    return false;
  }
  SDL_SetTextureScaleMode(frameTexture_, smooth_ ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
  frameWidth_ = width;
  frameHeight_ = height;
  return true;
}

// Textures are top-down, the player's frames bottom-up: the rows are turned
// over while they are copied in, which costs nothing beyond the copy itself.
bool SdlWindow::UploadBottomUp(const uint8_t* frame, int32_t width, int32_t height) {
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(frameTexture_, nullptr, &pixels, &pitch) != 0) return false;
  const size_t rowBytes = static_cast<size_t>(width) * kBytesPerPixel;
  auto* out = static_cast<uint8_t*>(pixels);
  for (int32_t row = 0; row < height; ++row) {
    std::memcpy(out + static_cast<size_t>(row) * static_cast<size_t>(pitch),
                frame + static_cast<size_t>(height - 1 - row) * rowBytes, rowBytes);
  }
  SDL_UnlockTexture(frameTexture_);
  return true;
}

void SdlWindow::Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y, int32_t dstWidth,
                        int32_t dstHeight) {
  if (renderer_ == nullptr || frame == nullptr || width <= 0 || height <= 0 || dstWidth <= 0 || dstHeight <= 0) {
    return;
  }
  if (!EnsureFrameTexture(width, height) || !UploadBottomUp(frame, width, height)) return;
  const SDL_Rect where{x, y, dstWidth, dstHeight};
  SDL_SetRenderTarget(renderer_, canvas_);
  SDL_RenderCopy(renderer_, frameTexture_, nullptr, &where);
  SDL_SetRenderTarget(renderer_, nullptr);
  ShowCanvas();
}

// The canvas keeps its size; a window the user made larger or smaller shows
// it scaled to fit, centred, with black bars where the shapes differ.
void SdlWindow::ShowCanvas() {
  int outWidth = 0;
  int outHeight = 0;
  if (SDL_GetRendererOutputSize(renderer_, &outWidth, &outHeight) != 0 || outWidth <= 0 || outHeight <= 0) return;
  const int64_t byWidth = int64_t{outWidth} * height_;
  const int64_t byHeight = int64_t{outHeight} * width_;
  SDL_Rect fit{0, 0, outWidth, outHeight};
  if (byWidth > byHeight) {
    fit.w = static_cast<int>(byHeight / height_);
    fit.x = (outWidth - fit.w) / 2;
  } else if (byWidth < byHeight) {
    fit.h = static_cast<int>(byWidth / width_);
    fit.y = (outHeight - fit.h) / 2;
  }
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, SDL_ALPHA_OPAQUE);
  SDL_RenderClear(renderer_);
  SDL_RenderCopy(renderer_, canvas_, nullptr, &fit);
  SDL_RenderPresent(renderer_);
}

void SdlWindow::Refresh() {
  if (renderer_ != nullptr) ShowCanvas();
}

void SdlWindow::Show() {
  SDL_ShowWindow(window_);
  Refresh();
}

void SdlWindow::SetTitle(const std::string& title) { SDL_SetWindowTitle(window_, title.c_str()); }

std::vector<uint8_t> SdlWindow::ReadPixels() {
  std::vector<uint8_t> pixels(static_cast<size_t>(width_) * static_cast<size_t>(height_) * kBytesPerPixel);
  SDL_SetRenderTarget(renderer_, canvas_);
  const int read =
      SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_BGR24, pixels.data(), width_ * kBytesPerPixel);
  SDL_SetRenderTarget(renderer_, nullptr);
  if (read != 0) pixels.clear();
  return pixels;
}

void SdlWindow::PlayWave(const char* utf8Path) {
  if (mixer_ == nullptr || utf8Path == nullptr) return;
  if (!mixer_->Play(utf8Path)) ++failedSounds_;
}

int32_t SdlWindow::playingSounds() const { return mixer_ == nullptr ? 0 : mixer_->Playing(); }

}  // namespace tiko::host
