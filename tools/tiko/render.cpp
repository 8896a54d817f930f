// tiko render: lays a package's effects over a video, a picture, a camera or
// a test source and writes the result as a video file with sound, a GIF or
// numbered PNG files. The player is driven through its public interface
// with a headless window, exactly as a host program would drive it.
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>

#include "commands.h"
#include "eyes_csv.h"
#include "host/eyes/eye_detector.h"
#include "host/eyes/eye_reports.h"
#include "host/image_bitmap.h"
#include "host/memory_window.h"
#include "host/paths.h"
#include "media_audio.h"
#include "media_common.h"
#include "media_input.h"
#include "media_output.h"
#include "render_progress.h"
#include "tiko/tiko.h"

namespace tiko::tool {
namespace {

constexpr int32_t kDefaultWidth = 320;
constexpr int32_t kDefaultHeight = 240;
constexpr int32_t kLargestSide = 65535;
constexpr double kDefaultRate = 25;
constexpr double kLowestRate = 0.1;
constexpr double kHighestRate = 1000;
// Inputs without an end (pictures, cameras, test sources) render this long
// unless told how many frames to make.
constexpr double kEndlessSeconds = 10;
// The player's last error after a package it could not load.
constexpr uint32_t kPackageNotLoaded = 0xC0000001u;
// Shows FFmpeg's own warnings, for finding out why a file does not open.
constexpr const char* kMediaLogVariable = "TIKO_MEDIA_LOG";

struct RenderOptions {
  std::string package;
  std::string input;
  std::string output;
  std::string size = std::to_string(kDefaultWidth) + "x" + std::to_string(kDefaultHeight);
  int64_t frames = 0;  // 0: as long as the input lasts
  double rate = 0;     // 0: the input's own rate
  std::string background;
  std::string eyes = "auto";
  std::string eyesOut;
  std::string at = "0,0";
  bool quiet = false;
  bool stats = false;
};

struct Size {
  int32_t width;
  int32_t height;
};

struct Point {
  int32_t x;
  int32_t y;
};

// Two integers with `separator` between them and nothing else.
std::optional<std::pair<int32_t, int32_t>> ParsePair(const std::string& text, char separator) {
  const size_t split = text.find(separator);
  if (split == std::string::npos) return std::nullopt;
  const auto parse = [](const char* begin, const char* end) -> std::optional<int32_t> {
    int32_t value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end) return std::nullopt;
    return value;
  };
  const std::optional<int32_t> first = parse(text.data(), text.data() + split);
  const std::optional<int32_t> second = parse(text.data() + split + 1, text.data() + text.size());
  if (!first || !second) return std::nullopt;
  return std::pair{*first, *second};
}

Size ParseSize(const std::string& text) {
  const auto pair = ParsePair(text, 'x').value_or(std::pair{kDefaultWidth, kDefaultHeight});
  return Size{pair.first, pair.second};
}

Point ParsePoint(const std::string& text) {
  const auto pair = ParsePair(text, ',').value_or(std::pair{0, 0});
  return Point{pair.first, pair.second};
}

std::string CheckSize(const std::string& text) {
  const auto pair = ParsePair(text, 'x');
  if (!pair) return "expected WIDTHxHEIGHT, such as 640x480";
  if (pair->first < 1 || pair->second < 1 || pair->first > kLargestSide || pair->second > kLargestSide) {
    return "each side must be from 1 to " + std::to_string(kLargestSide);
  }
  return "";
}

std::string CheckPoint(const std::string& text) {
  return ParsePair(text, ',') ? "" : "expected X,Y in pixels, such as 16,-8";
}

// Ctrl-C ends the input early and the output is finished with what was
// rendered, as video tools do; a second one stops at once.
volatile std::sig_atomic_t gStopRequested = 0;

void OnInterrupt(int) {
  gStopRequested = 1;
  std::signal(SIGINT, SIG_DFL);
}

// Catches Ctrl-C while it lives.
class InterruptScope {
 public:
  InterruptScope() : previous_(std::signal(SIGINT, OnInterrupt)) { gStopRequested = 0; }
  ~InterruptScope() { std::signal(SIGINT, previous_); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  void (*previous_)(int);
};

struct PlayerDeleter {
  void operator()(CTikoPlayer* player) const { player->Release(); }
};
using PlayerPtr = std::unique_ptr<CTikoPlayer, PlayerDeleter>;

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
};

constexpr const char* kStageDecode = "decoding";
constexpr const char* kStageDetect = "eye detection";
constexpr const char* kStagePlayer = "player";
constexpr const char* kStageEncode = "encoding";
constexpr const char* kStageFinish = "sound and finishing";

// How the eyes are found: by the detector, from a file, or not at all.
struct EyeSource {
  std::unique_ptr<host::EyeDetector> detector;
  std::optional<EyeTable> table;
  host::EyeReporter reporter;
  EyeTable used;  // what was seen, for --eyes-out
};

EyeSource OpenEyes(const std::string& mode) {
  EyeSource source;
  if (mode == "none") return source;
  if (mode == "auto") {
    std::string why;
    source.detector = host::EyeDetector::Create(&why);
    if (!source.detector) throw MediaError(why + " (or use --eyes none)");
    return source;
  }
  try {
    source.table = ReadEyeFile(mode);
  } catch (const std::runtime_error& e) {
    throw MediaError(e.what());
  }
  return source;
}

// The eyes for frame `index` of the render, showing `bottomUp` (null for a
// black frame).
FrameEyes EyesFor(EyeSource& source, int64_t index, const uint8_t* bottomUp, Size size) {
  FrameEyes eyes;
  if (source.table) {
    if (const auto found = source.table->find(index); found != source.table->end()) eyes = found->second;
  } else if (source.detector && bottomUp != nullptr) {
    const host::BgrView view{bottomUp, size.width, size.height, int64_t{size.width} * kBytesPerPixel, true};
    const host::EyeResult result = source.detector->Feed(view);
    eyes.eyes.assign(result.eyes, result.eyes + result.count);
  }
  if (!eyes.eyes.empty()) source.used[index] = eyes;
  return eyes;
}

std::vector<uint8_t> TopDown(const std::vector<uint8_t>& bottomUp, Size size) {
  const size_t rowBytes = static_cast<size_t>(size.width) * kBytesPerPixel;
  std::vector<uint8_t> out(bottomUp.size());
  for (int32_t row = 0; row < size.height; ++row) {
    std::memcpy(out.data() + rowBytes * static_cast<size_t>(row),
                bottomUp.data() + rowBytes * static_cast<size_t>(size.height - 1 - row), rowBytes);
  }
  return out;
}

PlayerPtr OpenPlayer(const RenderOptions& o, host::MemoryWindow& window, Size size,
                     const std::vector<uint8_t>& backgroundBottomUp) {
  {
    std::ifstream probe(o.package, std::ios::binary);
    if (!probe) throw MediaError("cannot open package " + o.package + ": " + std::strerror(errno));
  }
  const std::optional<std::u16string> path = host::Utf8ToUtf16(o.package);
  if (!path) throw MediaError("cannot open package " + o.package + ": the name is not UTF-8");
  PlayerPtr player(TikoGetInterface());
  if (!player) throw std::bad_alloc();
  std::optional<host::ImageBitmap> bitmap;
  if (!backgroundBottomUp.empty()) bitmap.emplace(TopDown(backgroundBottomUp, size).data(), size.width, size.height);
  if (player->OpenSized(&window, path->c_str(), bitmap ? &*bitmap : nullptr, size.width, size.height) == 0) {
    if (TikoGetLastError() == kPackageNotLoaded) {
      throw MediaError("cannot load package " + o.package + ": not a valid package file");
    }
    throw MediaError("cannot start the player for " + o.package);
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
      if (sound != nullptr) tool::MixInto(mix, *sound, SampleOfFrame(frame, rate));
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
        std::fprintf(stderr, "tiko: warning: %s\n", e.what());
      }
      found = sounds_.emplace(path, std::move(sound)).first;
    }
    return found->second ? &*found->second : nullptr;
  }

  std::vector<std::pair<std::string, int64_t>> cues_;
  std::map<std::string, std::optional<std::vector<float>>> sounds_;
};

struct Render {
  const RenderOptions& options;
  Size size;
  double rate;
  std::optional<VideoInput> input;
  std::vector<uint8_t> background;  // bottom-up, empty without one
  EyeSource eyes;
  StageClock clock;
  int64_t frames = 0;
};

std::optional<int64_t> FrameLimit(const Render& r) {
  if (r.options.frames > 0) return r.options.frames;
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

// The frame the player gets for render `index`: bottom-up, or null for the
// player's background. Null with `ended` once the input has no more.
const uint8_t* NextFrame(Render& r, int64_t index, bool* ended) {
  *ended = false;
  if (!r.input) return r.background.empty() ? nullptr : r.background.data();
  const std::vector<uint8_t>* frame =
      r.clock.Time(kStageDecode, [&] { return r.input->FrameAt(static_cast<double>(index) / r.rate, r.rate); });
  *ended = frame == nullptr;
  return frame == nullptr ? nullptr : frame->data();
}

void RenderFrames(Render& r, CTikoPlayer& player, host::MemoryWindow& window, VideoOutput& output, CueSounds& cues) {
  const Point at = ParsePoint(r.options.at);
  const std::optional<int64_t> limit = FrameLimit(r);
  ProgressBar progress(!r.options.quiet && ErrorsGoToTerminal(), ExpectedFrames(r));
  size_t wavesSeen = 0;
  for (int64_t index = 0; (!limit || index < *limit) && gStopRequested == 0; ++index) {
    bool ended = false;
    const uint8_t* frame = NextFrame(r, index, &ended);
    if (ended) break;
    const FrameEyes eyes = r.clock.Time(kStageDetect, [&] { return EyesFor(r.eyes, index, frame, r.size); });
    r.clock.Time(kStagePlayer, [&] {
      for (const host::EyePoint& eye : r.eyes.reporter.Next(eyes.eyes)) player.SetEyePosition(eye.x, eye.y);
      return player.RenderAt(frame, at.x, at.y, 0);
    });
    for (; wavesSeen < window.waves().size(); ++wavesSeen) cues.Add(window.waves()[wavesSeen].path, index);
    r.clock.Time(kStageEncode, [&] {
      output.Write(window.pixels().data());
      return 0;
    });
    r.frames = index + 1;
    progress.Update(r.frames);
  }
  progress.Clear();
}

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

void OpenSources(Render& r) {
  const RenderOptions& o = r.options;
  if (!o.background.empty()) {
    r.background = *VideoInput::OpenPicture(o.background, r.size.width, r.size.height).FrameAt(0, kDefaultRate);
  }
  if (!o.input.empty()) {
    r.input.emplace(VideoInput::Open(o.input, r.size.width, r.size.height, o.rate > 0 ? o.rate : kDefaultRate));
    if (o.rate <= 0) r.rate = r.input->rate().value_or(kDefaultRate);
  }
  r.eyes = OpenEyes(o.eyes);
}

int RunRender(const RenderOptions& o) {
  const auto started = std::chrono::steady_clock::now();
  QuietLibraryLogs(std::getenv(kMediaLogVariable) != nullptr);
  Render r{o, ParseSize(o.size), o.rate > 0 ? o.rate : kDefaultRate, std::nullopt, {}, {}, {}, 0};
  const InterruptScope interrupts;
  try {
    OpenSources(r);
    host::MemoryWindow window(r.size.width, r.size.height);
    PlayerPtr player = OpenPlayer(o, window, r.size, r.background);
    VideoOutput output = VideoOutput::Open(o.output, r.size.width, r.size.height, r.rate);
    CueSounds cues;

    RenderFrames(r, *player, window, output, cues);
    if (r.frames == 0) {
      throw MediaError(gStopRequested != 0 ? "stopped before the first frame" : "input " + o.input + " has no frames");
    }
    if (gStopRequested != 0) {
      std::fprintf(stderr, "tiko: stopped after %lld frames\n", static_cast<long long>(r.frames));
    }

    r.clock.Time(kStageFinish, [&] {
      output.Finish(MixSound(r, cues, output.takesSound()));
      return 0;
    });
    std::string why;
    if (!o.eyesOut.empty() && !WriteEyeFile(o.eyesOut, r.eyes.used, &why)) throw MediaError(why);
  } catch (const MediaError& e) {
    PrintError(e.what());
    return kExitFailure;
  }
  if (o.stats) PrintStats(r, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  return 0;
}

}  // namespace

Runner AddRender(CLI::App& app) {
  auto* cmd = app.add_subcommand("render", "Lay a package's effects over a video and write the result");
  auto o = std::make_shared<RenderOptions>();
  cmd->add_option("PACKAGE", o->package, "Package file")->required();
  cmd->add_option("-i,--input", o->input,
                  "Video file, PNG or JPEG picture, camera (/dev/video0) or test source (testsrc, "
                  "smptebars=size=640x480, lavfi:GRAPH); without one, the background or black");
  cmd->add_option("-o,--output", o->output,
                  "Video file (.mp4, .mkv, .webm, .mov), animated .gif, or numbered PNG files (frame_%04d.png)")
      ->required();
  cmd->add_option("--size", o->size, "Frame size WIDTHxHEIGHT")
      ->capture_default_str()
      ->check(CLI::Validator(CheckSize, "WxH"));
  cmd->add_option("--frames", o->frames,
                  "Frames to render (default: the whole input, or 10 seconds of a picture, camera or test source)")
      ->check(CLI::PositiveNumber);
  cmd->add_option("--fps", o->rate, "Frames a second (default: the input's own, else 25)")
      ->check(CLI::Range(kLowestRate, kHighestRate));
  cmd->add_option("--background", o->background, "PNG or JPEG picture behind the effects when there is no input");
  cmd->add_option("--eyes", o->eyes, "Eye positions: auto (detected), a CSV file (frame,x1,y1,x2,y2), or none")
      ->capture_default_str();
  cmd->add_option("--eyes-out", o->eyesOut, "Write the eye positions used on each frame to this CSV file");
  cmd->add_option("--at", o->at, "Where the player draws its frame in the output, X,Y in pixels")
      ->capture_default_str()
      ->check(CLI::Validator(CheckPoint, "X,Y"));
  cmd->add_flag("-q,--quiet", o->quiet, "No progress bar");
  cmd->add_flag("--stats", o->stats, "Print where the time went: decoding, eye detection, player, encoding");
  return [o]() { return RunRender(*o); };
}

}  // namespace tiko::tool
