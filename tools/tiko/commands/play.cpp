// tiko play: a live preview. Frames from a camera, a file or a test source
// go through the player into an SDL window, with the eyes found on them and
// the cues heard through SDL audio; keys switch, reload and pause packages
// while it runs.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "commands.h"
#include "eye_source.h"
#include "file_guard.h"
#include "host/files.h"
#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/sdl/sdl_window.h"
#include "host/player_ptr.h"
#include "host/stage.h"
#include "host/media/common.h"
#include "host/media/input.h"
#include "options.h"
#include "authoring/writer.h"
#include "tiko/tiko.h"

namespace tiko::tool {

using media::VideoInput;
using media::MediaError;
using media::InputKind;
using media::ClassifyInput;
using media::QuietLibraryLogs;
using media::kBytesPerPixel;
using host::PendingFile;
namespace {

namespace fs = std::filesystem;

// Small frames are shown twice their size, so a 320 x 240 preview is not a
// postage stamp on a modern screen.
constexpr int32_t kSmallFrameLines = 480;
constexpr int32_t kSmallFrameZoom = 2;
// The package file is looked at this often for --watch: quick enough to feel
// live, rare enough to cost nothing.
constexpr uint64_t kWatchIntervalMs = 1000;
// While paused nothing is drawn; events are still answered this often.
constexpr int kPausedWaitMs = 100;
constexpr char kTestSource[] = "testsrc";
constexpr char kDefaultCamera[] = "/dev/video0";
constexpr char kPackageExtension[] = ".tiko";
// Set to see FFmpeg's own warnings, as for render.
constexpr char kMediaLogVariable[] = "TIKO_MEDIA_LOG";

// What the command line said, as given; parsed by RunPlay.
struct PlayOptions {
  std::string package;
  std::string input;
  std::string size;  // empty: the input's own
  std::string windowSize;
  std::string stage = "cover";
  std::string eyes = kEyesAuto;
  std::string fps;
  bool watch = false;
  bool mute = false;
  std::string frames;
  std::string screenshot;
};

using Size = FrameSize;

// The camera when there is one, otherwise a generated test picture: the
// preview always shows something.
std::string DefaultInput() {
  std::error_code ignored;
  return fs::exists(kDefaultCamera, ignored) ? kDefaultCamera : kTestSource;
}

// Where the frames come from, and the clock they are asked for on. A file
// starts over at its end, so a short clip can be watched for as long as the
// package is being worked on.
class FrameFeed {
 public:
  // Opens the input at `size`, or at its own size when that is 0 x 0.
  // Throws MediaError when the input cannot be opened. A default camera that
  // will not open gives way to the test source, with a line saying so.
  FrameFeed(const std::string& spec, Size size, double fps, bool chosenByUser) : spec_(spec) {
    const double askedRate = fps > 0 ? fps : kDefaultRate;
    try {
      input_.emplace(VideoInput::Open(spec_, size.width, size.height, askedRate));
    } catch (const MediaError& e) {
      if (chosenByUser) throw;
      PrintWarning(std::string(e.what()) + "; showing a test picture instead");
      spec_ = kTestSource;
      input_.emplace(VideoInput::Open(spec_, size.width, size.height, askedRate));
    }
    size_ = Size{input_->width(), input_->height()};
    fps_ = fps > 0 ? fps : input_->rate().value_or(kDefaultRate);
    live_ = input_->kind() == InputKind::kCamera;
  }

  double fps() const { return fps_; }
  Size size() const { return size_; }
  const std::string& spec() const { return spec_; }
  // Frames since the input (re)started, which an eye file counts by.
  int64_t index() const { return index_; }

  // The next picture, bottom-up BGR24 of the player's size; null when the
  // input has nothing (left) to show. Throws MediaError on a broken input.
  const uint8_t* Next() {
    const std::vector<uint8_t>* frame = input_->FrameAt(Now(), fps_);
    if (frame == nullptr && !input_->endless() && index_ > 0) {
      input_.emplace(VideoInput::Open(spec_, size_.width, size_.height, fps_));
      index_ = 0;
      restarted_ = true;
      frame = input_->FrameAt(0, fps_);
    }
    if (frame == nullptr) return nullptr;
    ++index_;
    return frame->data();
  }
  // Whether the input started over since the last call.
  bool TakeRestart() { return std::exchange(restarted_, false); }

 private:
  // A camera is shown as it is now: its own clock runs on through pauses and
  // slow frames, and asking by frame count would fall behind it for good.
  // Everything else is shown frame by frame, so a pause loses nothing.
  double Now() {
    if (!live_) return static_cast<double>(index_) / fps_;
    const auto now = std::chrono::steady_clock::now();
    if (!liveStart_) liveStart_ = now;
    return std::chrono::duration<double>(now - *liveStart_).count();
  }

  std::string spec_;
  Size size_;
  std::optional<VideoInput> input_;
  double fps_ = kDefaultRate;
  int64_t index_ = 0;
  bool restarted_ = false;
  bool live_ = false;
  std::optional<std::chrono::steady_clock::time_point> liveStart_;
};

// Packages beside `current` in its folder, sorted by name, for n and p.
// Moving by `step` wraps around; a package that is not in the list (another
// extension) moves to the first or last one.
std::string NeighbourPackage(const std::string& current, int step) {
  const fs::path here(current);
  const fs::path folder = here.has_parent_path() ? here.parent_path() : fs::path(".");
  std::vector<fs::path> packages;
  std::error_code failed;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failed)) {
    if (entry.is_regular_file(failed) && entry.path().extension() == kPackageExtension) {
      packages.push_back(entry.path().filename());
    }
  }
  if (packages.empty()) return current;
  std::sort(packages.begin(), packages.end());
  const auto at = std::find(packages.begin(), packages.end(), here.filename());
  const auto count = static_cast<int64_t>(packages.size());
  int64_t index;
  if (at == packages.end()) {
    index = step > 0 ? 0 : count - 1;
  } else {
    index = ((at - packages.begin()) + step % count + count) % count;
  }
  return (here.has_parent_path() ? folder / packages[static_cast<size_t>(index)] : packages[static_cast<size_t>(index)])
      .string();
}

// Why a package did not load, in the words the other commands use: the
// reader's reason when it has one.
std::string LoadFailure(const std::string& path) {
  try {
    authoring::ReadPackage(authoring::ReadFileBytes(path));
  } catch (const authoring::PackageError& e) {
    const std::string what = e.what();
    return what.rfind(path, 0) == 0 ? what : path + ": " + what;
  }
  return path + ": the player refuses this package";
}

// The file's identity for --watch: a change of time or size is a new version.
struct FileStamp {
  fs::file_time_type modified{};
  uintmax_t bytes = 0;
  bool exists = false;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  std::error_code failed;
  stamp.modified = fs::last_write_time(path, failed);
  if (failed) return stamp;
  stamp.bytes = fs::file_size(path, failed);
  stamp.exists = !failed;
  return stamp;
}

using host::PlayerPtr;

// The player's own verdict on a package, asked in memory before any window,
// camera or sound device is opened for it.
bool PlayerAccepts(const std::string& path) {
  const std::optional<std::u16string> wide = host::Utf8ToUtf16(path);
  // The window outlives the player, which gives its canvas back on release.
  host::MemoryWindow probe(kDefaultWidth, kDefaultHeight);
  PlayerPtr player(TikoGetInterface());
  return wide && player != nullptr && player->Open(&probe, wide->c_str(), nullptr) == 1;
}

// One running preview: the window, the player in it and what it shows.
class Preview {
 public:
  Preview(const PlayOptions& options, host::StageLayout stage, int64_t frameLimit, FrameFeed frames, EyeSource eyes)
      : options_(options),
        frameSize_{stage.frameWidth, stage.frameHeight},
        stage_(stage),
        frameLimit_(frameLimit),
        frames_(std::move(frames)),
        eyes_(std::move(eyes)),
        package_(options.package),
        canvas_(stage.playerWidth, stage.playerHeight),
        top_down_(size_t(stage.frameWidth) * stage.frameHeight * kBytesPerPixel),
        shown_frame_(top_down_.size()) {}

  // Opens the window and the player; false (with the line printed) when
  // either fails.
  bool Open(Size window);
  // Shows frames until the user quits, the input ends or --frames are shown;
  // the exit status. Throws MediaError on a broken input.
  int Run();

 private:
  void HandleEvent(const SDL_Event& event);
  void HandleKey(SDL_Keycode key);
  void SwitchTo(const std::string& path);
  void WatchPackage(uint64_t now);
  bool ShowNextFrame();
  void UpdateTitle();
  void Show(const uint8_t* frame);
  bool SaveScreenshot();

  const PlayOptions& options_;
  Size frameSize_;
  host::StageLayout stage_;
  int64_t frameLimit_;  // 0: no limit
  FrameFeed frames_;
  EyeSource eyes_;
  std::string package_;
  bool packageLoaded_ = false;
  // The player draws into a window of its own frame's size; the part of it
  // that the stage lays over the input's frame is shown in the SDL window,
  // and the cues it asks for are played there. Both windows outlive the
  // player, which draws into its own until released.
  std::unique_ptr<host::SdlWindow> window_;
  host::MemoryWindow canvas_;
  std::vector<uint8_t> top_down_;     // the shown frame being cut, top-down
  std::vector<uint8_t> shown_frame_;  // bottom-up, of the input's frame size
  std::vector<uint8_t> player_frame_;
  size_t wavesPlayed_ = 0;
  PlayerPtr player_;
  bool paused_ = false;
  bool quit_ = false;
  int64_t shown_ = 0;
  FileStamp stamp_;
  uint64_t lastWatch_ = 0;
};

bool Preview::Open(Size window) {
  host::SdlWindowOptions opts;
  opts.title = "tiko";
  opts.width = window.width;
  opts.height = window.height;
  opts.hidden = true;
  opts.audio = !options_.mute;
  std::string error;
  window_ = host::SdlWindow::Create(opts, &error);
  if (window_ == nullptr) {
    PrintError("cannot open a window: " + error);
    return false;
  }
  if (opts.audio && !window_->hasAudio()) PrintWarning("no sound: " + window_->audioError());
  player_.reset(TikoGetInterface());
  if (player_ == nullptr) {
    PrintError("out of memory");
    return false;
  }
  const std::optional<std::u16string> wide = host::Utf8ToUtf16(package_);
  if (!wide || player_->OpenSized(&canvas_, wide->c_str(), nullptr, stage_.playerWidth, stage_.playerHeight) != 1) {
    PrintError(LoadFailure(package_));
    return false;
  }
  packageLoaded_ = true;
  stamp_ = StampOf(package_);
  UpdateTitle();
  window_->Show();
  return true;
}

void Preview::UpdateTitle() {
  std::string title = "tiko - " + fs::path(package_).filename().string();
  if (!packageLoaded_) title += " (not loaded)";
  if (paused_) title += " (paused)";
  window_->SetTitle(title);
}

// A package that fails to load leaves the player showing the bare video;
// the preview goes on, so the author can fix the file and press r.
void Preview::SwitchTo(const std::string& path) {
  package_ = path;
  const std::optional<std::u16string> wide = host::Utf8ToUtf16(path);
  packageLoaded_ = wide && player_->ChangePackage(wide->c_str()) == 1;
  // The new package's eye actors start hidden, even where the eyes stay.
  eyes_.PackageChanged();
  if (!packageLoaded_) PrintError(LoadFailure(path));
  stamp_ = StampOf(path);
  UpdateTitle();
}

void Preview::WatchPackage(uint64_t now) {
  if (!options_.watch || now - lastWatch_ < kWatchIntervalMs) return;
  lastWatch_ = now;
  const FileStamp stamp = StampOf(package_);
  // A file that is gone (mid-save by some editors) is waited for.
  if (stamp.exists && !(stamp == stamp_)) SwitchTo(package_);
}

void Preview::HandleKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_SPACE:
      paused_ = !paused_;
      UpdateTitle();
      break;
    case SDLK_n:
      SwitchTo(NeighbourPackage(package_, 1));
      break;
    case SDLK_p:
      SwitchTo(NeighbourPackage(package_, -1));
      break;
    case SDLK_r:
      SwitchTo(package_);
      break;
    case SDLK_q:
    case SDLK_ESCAPE:
      quit_ = true;
      break;
    default:
      break;
  }
}

void Preview::HandleEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      quit_ = true;
      break;
    case SDL_KEYDOWN:
      // Holding a key down must not flip pause or reload over and over.
      if (event.key.repeat == 0) HandleKey(event.key.keysym.sym);
      break;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_EXPOSED || event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        window_->Refresh();
      }
      break;
    default:
      break;
  }
}

bool Preview::ShowNextFrame() {
  const uint8_t* frame = frames_.Next();
  if (frame == nullptr && shown_ == 0) throw MediaError("input " + frames_.spec() + " has no frames");
  if (frame == nullptr) return false;
  // A file that starts over is a new stream for the detector's smoothing.
  if (frames_.TakeRestart()) eyes_.Restart();
  const host::FrameEyes seen = eyes_.See(frames_.index() - 1, frame, frameSize_.width, frameSize_.height,
                                            size_t(frameSize_.width) * kBytesPerPixel);
  for (const host::EyePoint& eye : eyes_.Reports(seen, stage_)) player_->SetEyePosition(eye.x, eye.y);
  const uint8_t* given = frame;
  if (!host::IsIdentity(stage_)) {
    player_frame_.resize(size_t(stage_.playerWidth) * stage_.playerHeight * kBytesPerPixel);
    host::FrameToPlayer(stage_, frame, player_frame_.data(), true);
    given = player_frame_.data();
  }
  player_->Render(given, 0);
  for (; wavesPlayed_ < canvas_.waves().size(); ++wavesPlayed_) window_->PlayWave(canvas_.waves()[wavesPlayed_].path.c_str());
  Show(frame);
  ++shown_;
  return true;
}

// The player's frame, cropped back to the input's (or laid over it, for
// fit), drawn stretched over the whole window.
void Preview::Show(const uint8_t* frame) {
  if (stage_.fit == host::StageFit::kFit) host::FlipRows(frame, top_down_.data(), frameSize_.width, frameSize_.height);
  host::PlayerToFrame(stage_, canvas_.pixels().data(), top_down_.data());
  host::FlipRows(top_down_.data(), shown_frame_.data(), frameSize_.width, frameSize_.height);
  if (!window_->AcquireCanvas()) return;
  window_->Present(shown_frame_.data(), frameSize_.width, frameSize_.height, 0, 0, window_->width(),
                   window_->height());
  window_->ReleaseCanvas();
}

bool Preview::SaveScreenshot() {
  const std::vector<uint8_t> pixels = window_->ReadPixels();
  if (pixels.empty()) {
    PrintError(options_.screenshot + ": cannot read the window's picture");
    return false;
  }
  PendingFile file = PendingFile::Create(options_.screenshot);
  std::string error;
  if (!host::WritePngFile(file.writePath(), pixels.data(), window_->width(), window_->height(), &error)) {
    PrintError("cannot write " + options_.screenshot + ": " + (error.empty() ? "cannot write the picture" : error));
    return false;
  }
  file.Commit();
  return true;
}

int Preview::Run() {
  const double frameMs = 1000.0 / frames_.fps();
  uint64_t start = SDL_GetTicks64();
  int64_t shownAtStart = 0;
  lastWatch_ = start;
  while (!quit_) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) HandleEvent(event);
    if (quit_) break;
    WatchPackage(SDL_GetTicks64());
    if (paused_) {
      if (SDL_WaitEventTimeout(&event, kPausedWaitMs)) HandleEvent(event);
      // The clock starts again from where the pause ends.
      start = SDL_GetTicks64();
      shownAtStart = shown_;
      continue;
    }
    if (!ShowNextFrame()) break;
    if (frameLimit_ > 0 && shown_ >= frameLimit_) break;
    if (StopSignals::Received() != 0) break;
    // Frames are shown on a fixed clock, so a slow frame is made up by the
    // next ones instead of slowing the whole preview down.
    const auto due = start + static_cast<uint64_t>(std::llround(static_cast<double>(shown_ - shownAtStart) * frameMs));
    const uint64_t now = SDL_GetTicks64();
    if (due > now) SDL_Delay(static_cast<Uint32>(due - now));
  }
  if (!options_.screenshot.empty() && !SaveScreenshot()) return kExitFailure;
  return 0;
}

// The window is twice a small frame, or the size asked for.
Size WindowSize(const PlayOptions& options, Size frame) {
  if (!options.windowSize.empty()) return ParseFrameSize("--window", options.windowSize);
  if (frame.height <= kSmallFrameLines / kSmallFrameZoom) {
    return Size{frame.width * kSmallFrameZoom, frame.height * kSmallFrameZoom};
  }
  return frame;
}

int RunPlay(const PlayOptions& options) {
  const Size asked = options.size.empty() ? Size{} : ParseFrameSize("--size", options.size);
  if (!options.windowSize.empty()) ParseFrameSize("--window", options.windowSize);
  const double fps = options.fps.empty() ? 0 : ParseRate("--fps", options.fps);
  const int64_t frameLimit = options.frames.empty() ? 0 : ParseCount("--frames", options.frames);
  const host::StageFit fit = ParseStage("--stage", options.stage);
  FileRoles roles;
  roles.Reads("PACKAGE", options.package);
  if (!options.input.empty() && ClassifyInput(options.input) == InputKind::kFile) roles.Reads("-i", options.input);
  if (!options.input.empty() && ClassifyInput(options.input) == InputKind::kPicture) roles.Reads("-i", options.input);
  if (IsEyeFile(options.eyes)) roles.Reads("--eyes", options.eyes);
  roles.Writes("--screenshot", options.screenshot);
  roles.Check();
  // Nothing is opened before the package is known to load: a typo in its
  // name should not flash a window or take the camera.
  std::error_code failed;
  if (!fs::is_regular_file(options.package, failed)) throw ToolError(options.package + ": no such package file");
  if (!PlayerAccepts(options.package)) throw ToolError(LoadFailure(options.package));
  QuietLibraryLogs(std::getenv(kMediaLogVariable) != nullptr);
  const StopSignals signals;
  FrameFeed frames(options.input.empty() ? DefaultInput() : options.input, asked, fps, !options.input.empty());
  const host::StageLayout stage = host::LayOutStage(frames.size().width, frames.size().height, fit);
  EyeSource eyes = EyeSource::Open(options.eyes);
  const Size window = WindowSize(options, frames.size());
  Preview preview(options, stage, frameLimit, std::move(frames), std::move(eyes));
  if (!preview.Open(window)) return kExitFailure;
  const int status = preview.Run();
  return StopSignals::Received() != 0 ? StopSignals::ExitStatus() : status;
}

}  // namespace

Runner AddPlay(CLI::App& app) {
  auto* cmd = app.add_subcommand("play", "Preview a package live in a window, over a camera, a file or a test source");
  auto options = std::make_shared<PlayOptions>();
  cmd->add_option("PACKAGE", options->package, "Package file")->required();
  cmd->add_option("-i,--input", options->input,
                  "Camera (/dev/videoN), video file, PNG or JPEG picture, or test source (testsrc, "
                  "smptebars, lavfi:GRAPH); default: /dev/video0 if present, else testsrc");
  AddFrameOptions(*cmd, &options->size, &options->stage, &options->fps);
  cmd->add_option("--window", options->windowSize, "Window size WIDTHxHEIGHT (default: twice a small frame)");
  AddEyesOption(*cmd, &options->eyes);
  cmd->add_flag("--watch", options->watch, "Reload the package whenever its file changes");
  cmd->add_flag("--mute", options->mute, "Play no sound");
  cmd->add_option("--frames", options->frames, "Quit after showing this many frames");
  cmd->add_option("--screenshot", options->screenshot,
                  "Save what the window shows as PNG on quitting, at the window's size");
  cmd->footer("Keys: space pause, n / p next / previous package in the folder, r reload the package, q or Esc quit.");
  return [options]() { return RunPlay(*options); };
}

}  // namespace tiko::tool
