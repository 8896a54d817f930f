// tiko render: lays a package's effects over a video, a picture, a camera or
// a test source and writes the result as a video file with sound, a GIF or
// numbered PNG files. The player is driven through its public interface
// with a headless window, exactly as a host program would drive it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "host/channel.h"
#include "commands.h"
#include "commands/render.h"
#include "eye_source.h"
#include "file_guard.h"
#include "host/files.h"
#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "host/player_ptr.h"
#include "host/stage.h"
#include "host/media/audio.h"
#include "host/media/common.h"
#include "host/media/input.h"
#include "host/media/output.h"
#include "options.h"
#include "render_progress.h"
#include "tiko/tiko.h"

namespace tiko::tool {

using media::VideoInput;
using media::VideoOutput;
using media::MediaError;
using media::InputKind;
using media::OutputKind;
using media::ClassifyInput;
using media::ClassifyOutput;
using media::KnownOutputs;
using media::ReadSoundFile;
using media::SampleOfFrame;
using media::QuietLibraryLogs;
using media::kMixChannels;
using media::kBytesPerPixel;
using host::PendingFile;
using host::IsNumberedName;
namespace {

// Inputs without an end (pictures, cameras, test sources) render this long
// unless told how many frames to make.
constexpr double kEndlessSeconds = 10;
// Shows FFmpeg's own warnings, for finding out why a file does not open.
constexpr const char* kMediaLogVariable = "TIKO_MEDIA_LOG";
// An input that ends this much before the length it states has lost
// something on the way (a cut download, a damaged end).
constexpr double kShortInputSeconds = 0.5;


using host::PlayerPtr;

// Where the time of a render goes, for --stats.
struct StageClock {
  using Clock = std::chrono::steady_clock;
  std::map<std::string, double> seconds;
  template <typename Work>
  auto Time(const char* stage, Work&& work) {
    const auto start = Clock::now();
    struct Add {
      StageClock* clock;
      const char* stage;
      Clock::time_point start;
      ~Add() { clock->seconds[stage] += std::chrono::duration<double>(Clock::now() - start).count(); }
    } add{this, stage, start};
    return work();
  }
  void Merge(const StageClock& other) {
    for (const auto& [stage, time] : other.seconds) seconds[stage] += time;
  }
};

constexpr const char* kStageDecode = "decoding";
constexpr const char* kStageDetect = "eye detection";
constexpr const char* kStagePlayer = "player";
constexpr const char* kStageEncode = "encoding";
constexpr const char* kStageFinish = "sound and finishing";

std::vector<uint8_t> Flipped(const std::vector<uint8_t>& frame, int32_t width, int32_t height) {
  std::vector<uint8_t> out(frame.size());
  host::FlipRows(frame.data(), out.data(), width, height);
  return out;
}

// The render's window. Where the output lies inside the player's frame (the
// same size, or cover's crop) and the frame is drawn at the window's corner,
// a present over the whole window is converted for the output straight from
// the player's picture, saving the two copies of drawing it into the window
// and cutting the output out again; anything else is drawn into the memory
// window, and the output cut from that.
class RenderWindow final : public HostWindow {
 public:
  RenderWindow(const host::StageLayout& stage, Offset at)
      : memory_(stage.playerWidth, stage.playerHeight),
        direct_(host::FrameInsidePlayer(stage) && at.x == 0 && at.y == 0),
        rowBytes_(static_cast<ptrdiff_t>(stage.playerWidth) * kBytesPerPixel),
        // The player's frame is bottom-up: the output's top line is the last
        // of its rows there.
        topRow_(static_cast<ptrdiff_t>(host::FrameOffsetInPlayer(stage)) + rowBytes_ * (stage.frameHeight - 1)) {}

  // Where whole-window presents are converted for from now on.
  void ConvertFor(VideoOutput& output) { output_ = &output; }

  bool GetRect(Rect* rect) override { return memory_.GetRect(rect); }
  bool AcquireCanvas() override { return memory_.AcquireCanvas(); }
  void ReleaseCanvas() override { memory_.ReleaseCanvas(); }
  void Present(const uint8_t* frame, int32_t width, int32_t height, int32_t x, int32_t y, int32_t dstWidth,
               int32_t dstHeight) override {
    if (direct_ && output_ != nullptr && memory_.FillsWindow(frame, width, height, x, y, dstWidth, dstHeight)) {
      converted_ = output_->Convert(frame + topRow_, -rowBytes_);
      return;
    }
    memory_.Present(frame, width, height, x, y, dstWidth, dstHeight);
  }
  void PlayWave(const char* utf8Path) override { memory_.PlayWave(utf8Path); }

  const host::MemoryWindow& memory() const { return memory_; }
  // The output frame converted at the last present, if it was converted there.
  std::optional<media::OutputFrame> TakeConverted() { return std::exchange(converted_, std::nullopt); }

 private:
  host::MemoryWindow memory_;
  const bool direct_;
  const ptrdiff_t rowBytes_;
  const ptrdiff_t topRow_;
  VideoOutput* output_ = nullptr;
  std::optional<media::OutputFrame> converted_;
};

PlayerPtr OpenPlayer(const std::string& package, HostWindow& window, const host::StageLayout& stage,
                     const std::vector<uint8_t>& backgroundBottomUp) {
  if (std::FILE* probe = std::fopen(package.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    throw MediaError("cannot open package " + package + ": " + std::strerror(errno));
  }
  const std::optional<std::u16string> path = host::Utf8ToUtf16(package);
  if (!path) throw MediaError("cannot open package " + package + ": the name is not UTF-8");
  PlayerPtr player(TikoGetInterface());
  if (!player) throw std::bad_alloc();
  std::optional<host::ImageBitmap> bitmap;
  if (!backgroundBottomUp.empty()) {
    bitmap.emplace(Flipped(backgroundBottomUp, stage.playerWidth, stage.playerHeight).data(), stage.playerWidth,
                   stage.playerHeight);
  }
  if (player->OpenSized(&window, path->c_str(), bitmap ? &*bitmap : nullptr, stage.playerWidth, stage.playerHeight) ==
      0) {
    if (TikoGetLastError() == TIKO_STATUS_UNSUCCESSFUL) {
      throw MediaError("cannot load package " + package + ": not a valid package file");
    }
    throw MediaError("cannot start the player for " + package);
  }
  return player;
}

// The sound cues the player asked for, and the frames that asked; each file
// is decoded once.
class CueSounds {
 public:
  void Add(const std::string& path, int64_t frame) { cues_.emplace_back(path, frame); }
  void MixInto(std::vector<float>& mix, double rate) {
    for (const auto& [path, frame] : cues_) {
      const std::vector<float>* sound = Sound(path);
      if (sound != nullptr) media::MixInto(mix, *sound, SampleOfFrame(frame, rate));
    }
  }
  bool anyPlayable() {
    for (const auto& cue : cues_) {
      if (Sound(cue.first) != nullptr) return true;
    }
    return false;
  }

 private:
  const std::vector<float>* Sound(const std::string& path) {
    auto found = sounds_.find(path);
    if (found == sounds_.end()) {
      std::optional<std::vector<float>> sound;
      try {
        sound = ReadSoundFile(path);
      } catch (const MediaError& e) {
        // A package may ask for sounds its author did not ship: the pictures
        // still render, and the cue stays silent.
        PrintWarning(e.what());
      }
      found = sounds_.emplace(path, std::move(sound)).first;
    }
    return found->second ? &*found->second : nullptr;
  }

  std::vector<std::pair<std::string, int64_t>> cues_;
  std::map<std::string, std::optional<std::vector<float>>> sounds_;
};

// A render as the options and the inputs settle it.
struct Render {
  explicit Render(const RenderOptions& o) : options(o) {}
  const RenderOptions& options;
  FrameSize askedSize;      // --size; 0 x 0: the input's own
  double askedRate = 0;     // --fps; 0: the input's own
  std::optional<int64_t> frameLimit;  // --frames
  Offset at;
  host::StageFit fit = host::StageFit::kCover;
  int32_t width = kDefaultWidth;  // the output's frames
  int32_t height = kDefaultHeight;
  double rate = kDefaultRate;
  host::StageLayout stage;
  std::optional<VideoInput> input;
  std::vector<uint8_t> background;        // bottom-up, of the output's size; empty without one
  std::vector<uint8_t> playerBackground;  // the same laid into the player's frame
  std::optional<EyeSource> eyes;
  StageClock clock;
  int64_t frames = 0;
};

std::optional<int64_t> FrameLimit(const Render& r) {
  if (r.frameLimit) return r.frameLimit;
  if (!r.input || r.input->endless()) return static_cast<int64_t>(std::llround(kEndlessSeconds * r.rate));
  return std::nullopt;
}

std::optional<int64_t> ExpectedFrames(const Render& r) {
  std::optional<int64_t> limit = FrameLimit(r);
  if (r.input && !r.input->endless()) {
    const std::optional<int64_t> length = r.input->FrameCount(r.rate);
    if (length && (!limit || *length < *limit)) limit = length;
  }
  return limit;
}

// A picture on its way from the decoder to the player: bottom-up, of the
// output's size; none for the background.
struct Decoded {
  int64_t index = 0;
  std::vector<uint8_t> pixels;
  bool none = true;
};

// Frames waiting between two stages: enough to ride out an uneven frame, few
// enough to keep memory small at large sizes.
constexpr size_t kPipelineDepth = 3;

// The three stages of a render run side by side: decoding on one thread,
// eyes and the player on the calling one (the player's own thread), and
// encoding on a third, with frame buffers handed round rather than made anew.
class RenderPipeline {
 public:
  RenderPipeline(Render& r, CTikoPlayer& player, RenderWindow& window, VideoOutput& output, CueSounds& cues)
      : r_(r), player_(player), window_(window), output_(output), cues_(cues) {}

  void Run() {
    std::thread decoder([this] { Guard(decodeError_, [this] { Decode(); }, decoded_); });
    std::thread encoder([this] { Guard(encodeError_, [this] { Encode(); }, toEncode_); });
    try {
      Play();
    } catch (...) {
      playError_ = std::current_exception();
    }
    decoded_.Close();
    toEncode_.Close();
    decoder.join();
    encoder.join();
    r_.clock.Merge(decodeClock_);
    r_.clock.Merge(encodeClock_);
    for (const std::exception_ptr& error : {playError_, decodeError_, encodeError_}) {
      if (error) std::rethrow_exception(error);
    }
  }

 private:
  // Runs a stage's work; a failure is kept for Run and closes the stage's
  // channel so that the others stop too.
  template <typename Work, typename Item>
  static void Guard(std::exception_ptr& error, Work work, host::Channel<Item>& channel) {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    channel.Close();
  }

  void Decode() {
    const std::optional<int64_t> limit = FrameLimit(r_);
    for (int64_t index = 0; (!limit || index < *limit) && StopSignals::Received() == 0; ++index) {
      Decoded item{index, {}, true};
      if (r_.input) {
        // Straight into the player's frame where the frame lies inside it,
        // else into one of its own; the margins, black, are never written.
        item.pixels = spareDecoded_.TryPop().value_or(std::vector<uint8_t>());
        item.pixels.resize(inPlayer_ ? PlayerBytes() : FrameBytes(), 0);
        const size_t offset = inPlayer_ ? host::FrameOffsetInPlayer(r_.stage) : 0;
        const size_t rowBytes = size_t(inPlayer_ ? r_.stage.playerWidth : r_.width) * kBytesPerPixel;
        const bool decoded = decodeClock_.Time(kStageDecode, [&] {
          return r_.input->FrameInto(static_cast<double>(index) / r_.rate, r_.rate, item.pixels.data() + offset,
                                     rowBytes);
        });
        if (!decoded) return;
        item.none = false;
      }
      if (!decoded_.Push(std::move(item))) return;
    }
  }

  void Encode() {
    while (std::optional<media::OutputFrame> frame = toEncode_.Pop()) {
      encodeClock_.Time(kStageEncode, [&] {
        output_.Write(std::move(*frame));
        return 0;
      });
    }
  }

  // The player's stage: the eyes, the render, and the output frame converted
  // from what the player presented.
  void Play() {
    ProgressBar progress(!r_.options.quiet && ErrorsGoToTerminal(), ExpectedFrames(r_));
    std::vector<uint8_t> playerFrame(inPlayer_ ? 0 : PlayerBytes());
    std::vector<uint8_t> out;  // the output frame, where it is cut from the window
    size_t wavesSeen = 0;
    while (std::optional<Decoded> item = decoded_.Pop()) {
      const bool laidIn = inPlayer_ && !item->none;
      const uint8_t* frame = item->none ? (r_.background.empty() ? nullptr : r_.background.data())
                                        : item->pixels.data() + (laidIn ? host::FrameOffsetInPlayer(r_.stage) : 0);
      const size_t rowBytes = size_t(laidIn ? r_.stage.playerWidth : r_.width) * kBytesPerPixel;
      const host::FrameEyes eyes = r_.clock.Time(
          kStageDetect, [&] { return r_.eyes->See(item->index, frame, r_.width, r_.height, rowBytes); });
      std::optional<media::OutputFrame> converted;
      r_.clock.Time(kStagePlayer, [&] {
        const uint8_t* shown = frame;
        if (laidIn) {
          shown = item->pixels.data();
        } else if (!host::IsIdentity(r_.stage) && frame != nullptr) {
          host::FrameToPlayer(r_.stage, frame, playerFrame.data(), true);
          shown = playerFrame.data();
        }
        for (const host::EyePoint& eye : r_.eyes->Reports(eyes, r_.stage)) player_.SetEyePosition(eye.x, eye.y);
        player_.RenderAt(shown, r_.at.x, r_.at.y, 0);
        converted = window_.TakeConverted();
        if (!converted) {
          out.resize(FrameBytes());
          CutOutput(frame, out.data());
          converted = output_.Convert(out.data(), static_cast<ptrdiff_t>(r_.width) * kBytesPerPixel);
        }
        return 0;
      });
      const std::vector<host::WaveRequest>& waves = window_.memory().waves();
      for (; wavesSeen < waves.size(); ++wavesSeen) cues_.Add(waves[wavesSeen].path, item->index);
      if (!item->none) spareDecoded_.TryPush(std::move(item->pixels));
      if (!toEncode_.Push(std::move(*converted))) return;  // the encoder has failed
      r_.frames = item->index + 1;
      progress.Update(r_.frames);
    }
    progress.Finish(r_.frames, StopSignals::Received() == 0);
  }

  // The output frame, top-down, from the window: the player's frame itself,
  // or the part of it over the output. What it leaves of the output (the
  // margins of fit) shows the input as it is.
  void CutOutput(const uint8_t* frame, uint8_t* out) const {
    const size_t rowBytes = size_t(r_.width) * kBytesPerPixel;
    const std::vector<uint8_t>& shown = window_.memory().pixels();
    if (host::IsIdentity(r_.stage)) {
      std::memcpy(out, shown.data(), rowBytes * r_.height);
      return;
    }
    if (r_.fit == host::StageFit::kFit && frame != nullptr) host::FlipRows(frame, out, r_.width, r_.height);
    if (r_.fit == host::StageFit::kFit && frame == nullptr) std::memset(out, 0, rowBytes * r_.height);
    host::PlayerToFrame(r_.stage, shown.data(), out);
  }

  size_t FrameBytes() const { return size_t(r_.width) * r_.height * kBytesPerPixel; }
  size_t PlayerBytes() const { return size_t(r_.stage.playerWidth) * r_.stage.playerHeight * kBytesPerPixel; }

  Render& r_;
  // Whether input frames are decoded straight into player frames.
  const bool inPlayer_ = host::FrameInsidePlayer(r_.stage);
  CTikoPlayer& player_;
  RenderWindow& window_;
  VideoOutput& output_;
  CueSounds& cues_;
  host::Channel<Decoded> decoded_{kPipelineDepth};
  host::Channel<media::OutputFrame> toEncode_{kPipelineDepth};
  // Buffers that went through, for the next frames: never more than the
  // frames in flight.
  host::Channel<std::vector<uint8_t>> spareDecoded_{kPipelineDepth + 2};
  StageClock decodeClock_;
  StageClock encodeClock_;
  std::exception_ptr playError_;
  std::exception_ptr decodeError_;
  std::exception_ptr encodeError_;
};

// The output's sound: the input's own, with the cues laid over it; empty
// when there is neither.
std::vector<float> MixSound(Render& r, CueSounds& cues, bool takesSound) {
  if (!takesSound) return {};
  const double seconds = static_cast<double>(r.frames) / r.rate;
  std::vector<float> mix;
  if (r.input && r.input->hasAudio()) mix = r.input->TakeAudio(seconds);
  if (cues.anyPlayable()) {
    mix.resize(static_cast<size_t>(SampleOfFrame(r.frames, r.rate)) * kMixChannels, 0.0f);
    cues.MixInto(mix, r.rate);
  }
  return mix;
}

void PrintStats(const Render& r, double totalSeconds) {
  std::fprintf(stderr, "rendered %lld frames (%.2f s of video) in %.2f s: %.1f frames/s\n",
               static_cast<long long>(r.frames), static_cast<double>(r.frames) / r.rate, totalSeconds,
               totalSeconds > 0 ? static_cast<double>(r.frames) / totalSeconds : 0.0);
  for (const char* stage : {kStageDecode, kStageDetect, kStagePlayer, kStageEncode, kStageFinish}) {
    const auto found = r.clock.seconds.find(stage);
    const double seconds = found == r.clock.seconds.end() ? 0.0 : found->second;
    std::fprintf(stderr, "  %-20s %7.3f s  %5.1f%%  %6.2f ms/frame\n", stage, seconds,
                 totalSeconds > 0 ? 100.0 * seconds / totalSeconds : 0.0,
                 r.frames > 0 ? 1000.0 * seconds / static_cast<double>(r.frames) : 0.0);
  }
}

// Every file the render reads and writes, checked before anything starts.
void CheckFiles(const RenderOptions& o) {
  FileRoles roles;
  roles.Reads("PACKAGE", o.package);
  if (!o.input.empty()) {
    const InputKind kind = ClassifyInput(o.input);
    if (kind == InputKind::kFile && IsNumberedName(o.input)) {
      roles.ReadsNumbered("-i", o.input);
    } else if (kind == InputKind::kFile || kind == InputKind::kPicture) {
      roles.Reads("-i", o.input);
    }
  }
  roles.Reads("--background", o.background);
  if (IsEyeFile(o.eyes)) roles.Reads("--eyes", o.eyes);
  if (ClassifyOutput(o.output) == OutputKind::kPictures && IsNumberedName(o.output)) {
    roles.WritesNumbered("-o", o.output);
  } else {
    roles.Writes("-o", o.output);
  }
  roles.Writes("--eyes-out", o.eyesOut);
  roles.Check();
}

// Settles the output's size and rate from the options and the input, and
// opens the input, the background and the eyes.
void OpenSources(Render& r) {
  const RenderOptions& o = r.options;
  const FrameSize asked = r.askedSize;
  const bool sized = asked.width > 0;
  if (r.askedRate > 0) r.rate = r.askedRate;
  const double sourceRate = r.askedRate > 0 ? r.askedRate : kDefaultRate;
  if (!o.input.empty()) {
    r.input.emplace(VideoInput::Open(o.input, asked.width, asked.height, sourceRate));
    if (r.askedRate <= 0) r.rate = r.input->rate().value_or(kDefaultRate);
  }
  std::optional<VideoInput> background;
  if (!o.background.empty()) background.emplace(VideoInput::OpenPicture(o.background, asked.width, asked.height));
  if (sized) {
    r.width = asked.width;
    r.height = asked.height;
  } else if (r.input || background) {
    // The input's own size; a video file takes even sides, as its 4:2:0
    // colour needs, at most one pixel less.
    const VideoInput& own = r.input ? *r.input : *background;
    const bool even = ClassifyOutput(o.output) == OutputKind::kVideo;
    r.width = even && own.width() > 1 ? own.width() & ~1 : own.width();
    r.height = even && own.height() > 1 ? own.height() & ~1 : own.height();
    if (r.input && (r.width != r.input->width() || r.height != r.input->height())) {
      r.input.emplace(VideoInput::Open(o.input, r.width, r.height, sourceRate));
    }
    if (background && (r.width != background->width() || r.height != background->height())) {
      background.emplace(VideoInput::OpenPicture(o.background, r.width, r.height));
    }
  }
  r.stage = host::LayOutStage(r.width, r.height, r.fit);
  if (background) {
    const std::vector<uint8_t>& frame = *background->FrameAt(0, r.rate);
    r.background = frame;
    r.playerBackground.resize(size_t(r.stage.playerWidth) * r.stage.playerHeight * kBytesPerPixel);
    host::FrameToPlayer(r.stage, frame.data(), r.playerBackground.data(), true);
  }
  r.eyes = EyeSource::Open(o.eyes);
}

// Lines about what the render could not take as it came.
void WarnAboutInput(const Render& r, bool stoppedEarly) {
  if (!r.input) return;
  const int64_t video = r.input->skippedVideoPackets();
  const int64_t sound = r.input->skippedSoundPackets();
  if (video > 0 || sound > 0) {
    std::string what;
    if (video > 0) what = std::to_string(video) + (video == 1 ? " video packet" : " video packets");
    if (sound > 0) {
      what += (what.empty() ? "" : " and ") + std::to_string(sound) + (sound == 1 ? " sound packet" : " sound packets");
    }
    PrintWarning("skipped " + what + " of " + r.input->name() + " that did not decode");
  }
  const std::optional<double> stated = r.input->statedSeconds();
  const double rendered = static_cast<double>(r.frames) / r.rate;
  if (!stoppedEarly && stated && rendered + std::max(kShortInputSeconds, 2 / r.rate) < *stated) {
    char text[160];
    std::snprintf(text, sizeof text, " ends at %.2f s, before the %.2f s it states: rendered %lld frames", rendered,
                  *stated, static_cast<long long>(r.frames));
    PrintWarning(r.input->name() + text);
  }
}

}  // namespace

int RunRender(const RenderOptions& o) {
  // First of all: a signal from here on finishes what has been done.
  const StopSignals signals;
  const auto started = std::chrono::steady_clock::now();
  QuietLibraryLogs(std::getenv(kMediaLogVariable) != nullptr);
  Render r(o);
  if (!o.size.empty()) r.askedSize = ParseFrameSize("--size", o.size);
  if (!o.rate.empty()) r.askedRate = ParseRate("--fps", o.rate);
  if (!o.frames.empty()) r.frameLimit = ParseCount("--frames", o.frames);
  r.at = ParseOffset("--at", o.at);
  r.fit = ParseStage("--stage", o.stage);
  CheckFiles(o);
  // The eye file is set up first: a render that could not write it at the
  // end would have wasted all its work.
  std::optional<PendingFile> eyesOut;
  if (!o.eyesOut.empty()) eyesOut = PendingFile::Create(o.eyesOut);

  OpenSources(r);
  RenderWindow window(r.stage, r.at);
  PlayerPtr player = OpenPlayer(o.package, window, r.stage, r.playerBackground);
  VideoOutput output = VideoOutput::Open(o.output, r.width, r.height, r.rate);
  window.ConvertFor(output);
  CueSounds cues;

  RenderPipeline(r, *player, window, output, cues).Run();
  const int stop = StopSignals::ExitStatus();
  if (r.frames == 0) {
    if (stop != 0) throw ToolError("stopped before the first frame", stop);
    throw MediaError("input " + o.input + " has no frames");
  }
  const bool stoppedEarly = stop != 0 || (r.frameLimit && r.frames == *r.frameLimit);
  WarnAboutInput(r, stoppedEarly);
  if (stop != 0) {
    PrintError(std::string("stopped by ") + StopSignals::Name() + " after " + std::to_string(r.frames) +
               " frames; the output holds them");
  }

  r.clock.Time(kStageFinish, [&] {
    output.Finish(MixSound(r, cues, output.takesSound()));
    return 0;
  });
  if (eyesOut) {
    std::string why;
    if (!host::WriteEyeFile(eyesOut->writePath(), r.eyes->seen(), &why)) {
      // The reason, without the name it was written under for now.
      throw ToolError("cannot write " + o.eyesOut + ": " + why.substr(why.rfind(": ") + 2));
    }
    eyesOut->Commit();
  }
  if (o.stats) PrintStats(r, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return stop;
}

Runner AddRender(CLI::App& app) {
  auto* cmd = app.add_subcommand("render", "Lay a package's effects over a video and write the result");
  auto o = std::make_shared<RenderOptions>();
  cmd->add_option("PACKAGE", o->package, "Package file")->required();
  cmd->add_option("-i,--input", o->input,
                  "Video file, numbered pictures (shot_%03d.png), PNG or JPEG picture, camera (/dev/video0) or "
                  "test source (testsrc, smptebars=size=640x480, lavfi:GRAPH); without one, the background or black");
  AddFrameOptions(*cmd, &o->size, &o->stage, &o->rate);
  cmd->add_option("-o,--output", o->output, "Output: " + KnownOutputs())->required();
  cmd->add_option("--frames", o->frames,
                  "Frames to render (default: the whole input, or 10 seconds of a picture, camera or test source)");
  cmd->add_option("--background", o->background, "PNG or JPEG picture behind the effects when there is no input");
  AddEyesOption(*cmd, &o->eyes);
  cmd->add_option("--eyes-out", o->eyesOut, "Write the eye positions used on each frame to this CSV file");
  cmd->add_option("--at", o->at, "Where the player draws its frame, X,Y in pixels")->capture_default_str();
  cmd->add_flag("-q,--quiet", o->quiet, "No progress bar");
  cmd->add_flag("--stats", o->stats, "Print where the time went: decoding, eye detection, player, encoding");
  return [o]() { return RunRender(*o); };
}

}  // namespace tiko::tool
