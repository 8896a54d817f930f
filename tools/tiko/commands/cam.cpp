// tiko cam: a virtual camera. Frames from a camera go through the player,
// with the eyes found on them, and out to a v4l2loopback device in YUY2,
// where a video-call program or a browser takes them as a camera's; the
// cues are heard through the default sound output. No GStreamer needed.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "eye_source.h"
#include "file_guard.h"
#include "host/media/common.h"
#include "host/media/cue_mix.h"
#include "host/media/input.h"
#include "host/media/loopback.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/player_ptr.h"
#include "host/sdl/sound_output.h"
#include "host/stage.h"
#include "options.h"
#include "tiko/tiko.h"

namespace tiko::tool {
namespace {

namespace fs = std::filesystem;
using media::LoopbackKind;
using media::LoopbackOutput;
using media::MediaError;
using media::VideoInput;

constexpr char kDefaultCamera[] = "/dev/video0";
constexpr char kMediaLogVariable[] = "TIKO_MEDIA_LOG";
constexpr int kSoundChannels = media::kMixChannels;
static_assert(host::kSoundOutputRate == media::kMixRate && host::kSoundOutputChannels == kSoundChannels);
// A short device buffer keeps a cue close to the frame that plays it.
constexpr uint16_t kSoundBlockFrames = 1024;

struct CamOptions {
  std::string package;
  std::string input;
  std::string output;
  std::string raw;
  std::string size;
  std::string stage = "cover";
  std::string fps;
  std::string eyes = kEyesAuto;
  std::string frames;
  bool mute = false;
};

using host::PlayerPtr;

// The cues, mixed as they start and pulled by the sound device's thread.
class CueSpeaker {
 public:
  // Null with `error` set when there is no sound output.
  static std::unique_ptr<CueSpeaker> Open(std::string* error) {
    std::unique_ptr<CueSpeaker> speaker(new CueSpeaker);
    speaker->output_ = host::SoundOutput::Open(kSoundBlockFrames, &CueSpeaker::Fill, speaker.get(), error);
    if (speaker->output_ == nullptr) return nullptr;
    return speaker;
  }

  // Starts the cue where the device plays now. Throws MediaError for a wave
  // that cannot be read.
  void Start(const std::string& path) {
    std::lock_guard lock(lock_);
    mix_.Start(path, played_);
  }

 private:
  CueSpeaker() = default;
  static void Fill(void* self, uint8_t* stream, int bytes) {
    auto* speaker = static_cast<CueSpeaker*>(self);
    const int32_t frames = bytes / (kSoundChannels * 2);
    std::lock_guard lock(speaker->lock_);
    speaker->mix_.Pull(speaker->played_, frames, reinterpret_cast<int16_t*>(stream));
    speaker->played_ += frames;
  }

  std::mutex lock_;
  media::CueMix mix_;
  int64_t played_ = 0;
  // Last, so that it stops calling Fill before the mix goes.
  std::unique_ptr<host::SoundOutput> output_;
};

// Where the frames go: the device named, the first loopback device there
// is, or raw frames to a file or pipe.
std::string OutputOf(const CamOptions& o) {
  if (!o.raw.empty()) return o.raw;
  if (!o.output.empty()) return o.output;
  const std::vector<std::string> devices = media::FindLoopbackDevices();
  if (devices.empty()) {
    throw ToolError("no v4l2loopback device: load the module (sudo modprobe v4l2loopback video_nr=10 "
                    "card_label=\"tiko\" exclusive_caps=1; see docs/virtual-camera.md) or name a device with -o");
  }
  return devices.front();
}

class Camera {
 public:
  Camera(const CamOptions& o, VideoInput input, host::StageFit fit, double fps, std::optional<int64_t> limit)
      : options_(o),
        input_(std::move(input)),
        fps_(fps),
        limit_(limit),
        stage_(host::LayOutStage(input_.width(), input_.height(), fit)),
        canvas_(stage_.playerWidth, stage_.playerHeight),
        eyes_(EyeSource::Open(o.eyes)) {}

  void OpenPlayer() {
    player_.reset(TikoGetInterface());
    if (player_ == nullptr) throw std::bad_alloc();
    const std::optional<std::u16string> wide = host::Utf8ToUtf16(options_.package);
    if (!wide ||
        player_->OpenSized(&canvas_, wide->c_str(), nullptr, stage_.playerWidth, stage_.playerHeight) != 1) {
      throw ToolError(options_.package + ": not a package the player can load");
    }
  }

  void OpenSound() {
    if (options_.mute) return;
    std::string why;
    speaker_ = CueSpeaker::Open(&why);
    if (speaker_ == nullptr) PrintWarning("no sound: " + why);
  }

  // Sends frames until the input ends, --frames are sent or a signal
  // comes; the number sent.
  int64_t Run(LoopbackOutput& out) {
    const bool live = input_.kind() == media::InputKind::kCamera;
    const auto start = std::chrono::steady_clock::now();
    const size_t frameBytes = size_t(input_.width()) * input_.height() * 3;
    std::vector<uint8_t> topDown(frameBytes);
    std::vector<uint8_t> playerFrame;
    int64_t sent = 0;
    for (; (!limit_ || sent < *limit_) && StopSignals::Received() == 0; ++sent) {
      // A camera is taken as it is now; anything else at the frame rate, as
      // a camera would give it.
      const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const std::vector<uint8_t>* frame = input_.FrameAt(live ? now : static_cast<double>(sent) / fps_, fps_);
      if (frame == nullptr) break;
      const host::FrameEyes seen = eyes_.See(sent, frame->data(), input_.width(), input_.height(), size_t(input_.width()) * 3);
      for (const host::EyePoint& eye : eyes_.Reports(seen, stage_)) player_->SetEyePosition(eye.x, eye.y);
      const uint8_t* given = frame->data();
      if (!host::IsIdentity(stage_)) {
        playerFrame.resize(size_t(stage_.playerWidth) * stage_.playerHeight * 3);
        host::FrameToPlayer(stage_, frame->data(), playerFrame.data(), true);
        given = playerFrame.data();
      }
      player_->Render(given, 0);
      PlayCues();
      out.Write(Cut(frame->data(), topDown));
      // Frames go out on a fixed clock at the frame rate: a slow frame is
      // made up by the next ones, and a camera is never asked faster.
      std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(sent + 1) / fps_));
    }
    return sent;
  }

 private:
  // The output frame, top-down: the player's frame cropped back to the
  // input's, or laid over it for fit.
  const uint8_t* Cut(const uint8_t* bottomUp, std::vector<uint8_t>& topDown) const {
    if (host::IsIdentity(stage_)) return canvas_.pixels().data();
    if (stage_.fit == host::StageFit::kFit) host::FlipRows(bottomUp, topDown.data(), input_.width(), input_.height());
    host::PlayerToFrame(stage_, canvas_.pixels().data(), topDown.data());
    return topDown.data();
  }

  void PlayCues() {
    for (; wavesPlayed_ < canvas_.waves().size(); ++wavesPlayed_) {
      const std::string& path = canvas_.waves()[wavesPlayed_].path;
      if (speaker_ == nullptr) continue;
      try {
        speaker_->Start(path);
      } catch (const MediaError& e) {
        if (silent_.insert(path).second) PrintWarning(e.what());
      }
    }
  }

  const CamOptions& options_;
  VideoInput input_;
  double fps_;
  std::optional<int64_t> limit_;
  host::StageLayout stage_;
  // The window outlives the player, which draws into it until released.
  host::MemoryWindow canvas_;
  PlayerPtr player_;
  EyeSource eyes_;
  std::unique_ptr<CueSpeaker> speaker_;
  size_t wavesPlayed_ = 0;
  std::set<std::string> silent_;
};

int RunCam(const CamOptions& o) {
  const FrameSize asked = o.size.empty() ? FrameSize{} : ParseFrameSize("--size", o.size);
  const double askedRate = o.fps.empty() ? 0 : ParseRate("--fps", o.fps);
  const std::optional<int64_t> limit =
      o.frames.empty() ? std::nullopt : std::optional<int64_t>(ParseCount("--frames", o.frames));
  const host::StageFit fit = ParseStage("--stage", o.stage);
  if (o.eyes != kEyesAuto && o.eyes != kEyesNone) throw UsageError("--eyes: expected auto or none");
  if (!o.raw.empty() && !o.output.empty()) throw UsageError("-o and --raw: give one of them");
  FileRoles roles;
  roles.Reads("PACKAGE", o.package);
  if (!o.raw.empty() && o.raw != "-") roles.Writes("--raw", o.raw);
  roles.Check();
  std::error_code failed;
  if (!fs::is_regular_file(o.package, failed)) throw ToolError(o.package + ": no such package file");
  const std::string device = OutputOf(o);
  const std::string input = o.input.empty() ? kDefaultCamera : o.input;
  if (o.raw.empty() && fs::equivalent(input, device, failed)) {
    throw UsageError(device + " is both the camera and the output: name the real camera with -i");
  }
  media::QuietLibraryLogs(std::getenv(kMediaLogVariable) != nullptr);
  const StopSignals signals;
  VideoInput camera = VideoInput::Open(input, asked.width, asked.height, askedRate > 0 ? askedRate : kDefaultRate);
  const double fps = askedRate > 0 ? askedRate : camera.rate().value_or(kDefaultRate);
  const int32_t width = camera.width();
  const int32_t height = camera.height();
  Camera cam(o, std::move(camera), fit, fps, limit);
  cam.OpenPlayer();
  LoopbackOutput out =
      LoopbackOutput::Open(device, o.raw.empty() ? LoopbackKind::kDevice : LoopbackKind::kRaw, width, height, fps);
  cam.OpenSound();
  const int64_t sent = cam.Run(out);
  out.Finish();
  if (sent == 0 && StopSignals::Received() == 0) throw MediaError("input " + input + " has no frames");
  return StopSignals::ExitStatus();
}

}  // namespace

Runner AddCam(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "cam", "Be a virtual camera: a camera's frames with a package's effects, out to a v4l2loopback device");
  auto o = std::make_shared<CamOptions>();
  cmd->add_option("PACKAGE", o->package, "Package file")->required();
  cmd->add_option("-i,--input", o->input,
                  "Camera (/dev/videoN); also a video file or test source (testsrc) to try it out")
      ->default_str(kDefaultCamera);
  cmd->add_option("-o,--output", o->output,
                  "v4l2loopback device to write YUY2 frames to (default: the first one there is)");
  cmd->add_option("--raw", o->raw, "Write the YUY2 frames to this file or pipe instead (- for standard output)");
  AddFrameOptions(*cmd, &o->size, &o->stage, &o->fps);
  cmd->add_option("--eyes", o->eyes, "Eye positions: auto (detected) or none")->capture_default_str();
  cmd->add_option("--frames", o->frames, "Stop after this many frames (default: until Ctrl-C)");
  cmd->add_flag("--mute", o->mute, "Play no sound cues");
  cmd->footer("See docs/virtual-camera.md for the v4l2loopback module and its options.");
  return [o]() { return RunCam(*o); };
}

}  // namespace tiko::tool
