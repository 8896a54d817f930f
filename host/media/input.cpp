#include "host/media/input.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>
#include <tuple>
#include <utility>

#include "host/image_bitmap.h"
#include "host/media/common.h"

namespace tiko::media {
namespace {

constexpr const char* kCameraPrefix = "/dev/video";
constexpr const char* kCameraScheme = "v4l2:";
constexpr const char* kGraphScheme = "lavfi:";
// The generated sources a name alone may ask for; anything else goes through
// "lavfi:" with a whole filter graph.
constexpr const char* kGeneratedNames[] = {"testsrc",    "testsrc2",  "smptebars",  "smptehdbars", "rgbtestsrc",
                                           "yuvtestsrc", "pal75bars", "pal100bars", "color",       "mandelbrot",
                                           "life",       "cellauto",  "gradients",  "sierpinski"};
// Frame rates outside this range are taken for damaged headers.
constexpr double kLowestRate = 0.1;
constexpr double kHighestRate = 1000;
// The size of frames from a source that has none of its own.
constexpr int32_t kDefaultWidth = host::kPlayerFrameWidth;
constexpr int32_t kDefaultHeight = host::kPlayerFrameHeight;
// Rates an output of a variable-rate stream is rounded to, as players and
// editors expect one of them.
constexpr AVRational kCommonRates[] = {{10, 1}, {12, 1}, {15, 1},   {24000, 1001}, {24, 1},      {25, 1},
                                       {30000, 1001}, {30, 1},  {48, 1},   {50, 1},       {60000, 1001}, {60, 1},
                                       {72, 1}, {90, 1},  {100, 1},  {120, 1},      {144, 1},     {240, 1}};
// Average and nominal rates further apart than this mark a variable rate.
constexpr double kRateTolerance = 0.001;
// A decoder that fails this many packets in a row is taken for one that
// cannot go on: the input ends there.
constexpr int64_t kMaxFailuresInARow = 1000;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "testsrc", or "testsrc" with options after '=' or ':'.
bool IsGeneratedName(const std::string& spec) {
  const std::string name = spec.substr(0, spec.find_first_of("=:"));
  return std::find_if(std::begin(kGeneratedNames), std::end(kGeneratedNames),
                      [&name](const char* known) { return name == known; }) != std::end(kGeneratedNames);
}

// The option keys of "key=value:key=value".
std::vector<std::string> OptionKeys(const std::string& options) {
  std::vector<std::string> keys;
  size_t start = 0;
  while (start <= options.size()) {
    const size_t end = std::min(options.find(':', start), options.size());
    const std::string option = options.substr(start, end - start);
    keys.push_back(option.substr(0, option.find('=')));
    start = end + 1;
  }
  return keys;
}

bool IsPictureFile(const std::string& path) {
  static constexpr uint8_t kPng[] = {0x89, 'P', 'N', 'G'};
  static constexpr uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
  std::ifstream in(path, std::ios::binary);
  uint8_t head[4] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
  return std::memcmp(head, kPng, sizeof kPng) == 0 || std::memcmp(head, kJpeg, sizeof kJpeg) == 0;
}

void RegisterDevices() {
  static std::once_flag once;
  std::call_once(once, [] { avdevice_register_all(); });
}

// "testsrc:size=640x480" or "testsrc=size=640x480" becomes the graph
// "testsrc=size=640x480", with the render's size and rate where the options
// name none.
std::string GeneratedGraph(const std::string& spec, int32_t width, int32_t height, double rate) {
  if (StartsWith(spec, kGraphScheme)) return spec.substr(std::strlen(kGraphScheme));
  const size_t split = spec.find_first_of("=:");
  const std::string name = spec.substr(0, split);
  std::string options = split == std::string::npos ? "" : spec.substr(split + 1);
  bool hasSize = false;
  bool hasRate = false;
  for (const std::string& key : OptionKeys(options)) {
    if (key == "size" || key == "s") hasSize = true;
    if (key == "rate" || key == "r") hasRate = true;
  }
  const auto add = [&options](const std::string& option) { options += (options.empty() ? "" : ":") + option; };
  if (!hasSize && width == 0) add("size=" + std::to_string(kDefaultWidth) + "x" + std::to_string(kDefaultHeight));
  if (!hasSize && width > 0) add("size=" + std::to_string(width) + "x" + std::to_string(height));
  if (!hasRate) {
    const AVRational q = av_d2q(rate, 1000000);
    add("rate=" + std::to_string(q.num) + "/" + std::to_string(q.den));
  }
  return name + "=" + options;
}

struct DecodedFrame {
  FramePtr frame;
  double time = 0;  // seconds from the first frame
};

}  // namespace

InputKind ClassifyInput(const std::string& spec) {
  if (StartsWith(spec, kCameraPrefix) || StartsWith(spec, kCameraScheme)) return InputKind::kCamera;
  if (StartsWith(spec, kGraphScheme) || IsGeneratedName(spec)) return InputKind::kGenerated;
  if (IsPictureFile(spec)) return InputKind::kPicture;
  return InputKind::kFile;
}

struct VideoInput::State {
  InputKind kind = InputKind::kFile;
  int64_t skippedVideo = 0;
  int64_t skippedSound = 0;
  int64_t failuresInARow = 0;
  std::string name;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;  // the picture last handed out

  FormatInputPtr format;
  int videoIndex = -1;
  int audioIndex = -1;
  CodecContextPtr video;
  CodecContextPtr audio;
  PacketPtr packet;
  ScalerPtr scaler;
  std::optional<double> rate;
  bool demuxEnded = false;
  bool videoEnded = false;
  bool audioEnded = false;
  std::optional<double> firstTime;  // the first frame's time in the stream
  double lastTime = 0;
  std::optional<DecodedFrame> current;
  std::optional<DecodedFrame> pending;
  bool currentConverted = false;

  ResamplerPtr resampler;
  std::vector<float> audioSamples;
  std::optional<double> audioStart;  // the first sample's time in the stream
};

namespace {

// Converts a decoded picture into `bottomUp`, the player's row order, whose
// rows lie rowBytes apart.
void ScaleToBottomUp(VideoInput::State& s, const uint8_t* const planes[], const int strides[], int width, int height,
                     AVPixelFormat format, uint8_t* bottomUp, size_t rowBytes) {
  SwsContext* scaler = sws_getCachedContext(s.scaler.release(), width, height, format, s.width, s.height,
                                            AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  s.scaler.reset(scaler);
  if (scaler == nullptr) throw MediaError("unsupported input " + s.name + ": cannot convert its pictures");
  // Written from the last row up.
  uint8_t* lastRow[4] = {bottomUp + rowBytes * static_cast<size_t>(s.height - 1)};
  const int upward[4] = {-static_cast<int>(rowBytes)};
  sws_scale(scaler, planes, strides, 0, height, lastRow, upward);
}

// The same into the input's own picture buffer.
void ScaleToBottomUp(VideoInput::State& s, const uint8_t* const planes[], const int strides[], int width, int height,
                     AVPixelFormat format) {
  const size_t rowBytes = static_cast<size_t>(s.width) * kBytesPerPixel;
  s.pixels.resize(rowBytes * static_cast<size_t>(s.height));
  ScaleToBottomUp(s, planes, strides, width, height, format, s.pixels.data(), rowBytes);
}

// A damaged sound packet is skipped and counted; the sound goes on with the
// next one.
void DecodeAudioPacket(VideoInput::State& s, const AVPacket* packet) {
  int status = avcodec_send_packet(s.audio.get(), packet);
  if (status == AVERROR(ENOMEM)) throw std::bad_alloc();
  if (status < 0 && status != AVERROR_EOF && status != AVERROR(EAGAIN)) {
    ++s.skippedSound;
    return;
  }
  FramePtr frame = NewFrame();
  while ((status = avcodec_receive_frame(s.audio.get(), frame.get())) == 0) {
    if (!s.resampler) s.resampler = MixResampler(*frame);
    if (!s.audioStart) {
      const int64_t ts = frame->best_effort_timestamp;
      s.audioStart = ts == AV_NOPTS_VALUE ? 0.0 : ts * av_q2d(s.format->streams[s.audioIndex]->time_base);
    }
    AppendResampled(s.resampler.get(), frame.get(), s.audioSamples);
    av_frame_unref(frame.get());
  }
  if (status == AVERROR_EOF) s.audioEnded = true;
  if (status < 0 && status != AVERROR_EOF && status != AVERROR(EAGAIN)) ++s.skippedSound;
}

// Reads the next packet and hands it to its decoder; at the end of the input
// the decoders are told to give out what they hold.
void ReadPacket(VideoInput::State& s, bool forVideo) {
  if (s.demuxEnded) return;
  AVPacket* packet = s.packet.get();
  const int status = av_read_frame(s.format.get(), packet);
  if (status == AVERROR(EAGAIN)) return;
  if (status < 0) {
    // A read error ends the input like its end would: what came so far is
    // rendered.
    s.demuxEnded = true;
    avcodec_send_packet(s.video.get(), nullptr);
    if (s.audio) DecodeAudioPacket(s, nullptr);
    return;
  }
  if (packet->stream_index == s.videoIndex && forVideo) {
    const int sent = avcodec_send_packet(s.video.get(), packet);
    // A damaged packet is skipped and counted, as players do.
    if (sent == AVERROR(ENOMEM)) {
      av_packet_unref(packet);
      throw std::bad_alloc();
    }
    if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) {
      ++s.skippedVideo;
      ++s.failuresInARow;
    }
  } else if (packet->stream_index == s.audioIndex && s.audio) {
    DecodeAudioPacket(s, packet);
  }
  av_packet_unref(packet);
}

std::optional<DecodedFrame> NextVideoFrame(VideoInput::State& s) {
  FramePtr frame = NewFrame();
  while (true) {
    if (s.failuresInARow > kMaxFailuresInARow) return std::nullopt;
    const int status = avcodec_receive_frame(s.video.get(), frame.get());
    if (status == 0) break;
    if (status == AVERROR_EOF) return std::nullopt;
    if (status == AVERROR(ENOMEM)) throw std::bad_alloc();
    if (status != AVERROR(EAGAIN)) {
      // The decoder could not make a picture of what it was given: that
      // packet is lost, the next ones may decode.
      ++s.skippedVideo;
      ++s.failuresInARow;
      if (s.demuxEnded) continue;
    }
    ReadPacket(s, true);
  }
  s.failuresInARow = 0;
  const int64_t ts = frame->best_effort_timestamp;
  const double frameSeconds = 1.0 / s.rate.value_or(25.0);
  double time =
      ts == AV_NOPTS_VALUE ? s.lastTime + frameSeconds : ts * av_q2d(s.format->streams[s.videoIndex]->time_base);
  if (!s.firstTime) s.firstTime = time;
  s.lastTime = time;
  return DecodedFrame{std::move(frame), time - *s.firstTime};
}

bool Usable(AVRational q) {
  if (q.num <= 0 || q.den <= 0) return false;
  const double rate = av_q2d(q);
  return rate >= kLowestRate && rate <= kHighestRate;
}

double NearestCommonRate(double rate) {
  double best = rate;
  double bestDistance = HUGE_VAL;
  for (const AVRational q : kCommonRates) {
    const double distance = std::fabs(std::log(av_q2d(q) / rate));
    if (distance < bestDistance) {
      best = av_q2d(q);
      bestDistance = distance;
    }
  }
  return best;
}

// The stream's average rate; when its frames come at varying times (the
// average is not the nominal rate), the nearest common rate.
std::optional<double> StreamRate(const AVStream* stream) {
  const AVRational average = stream->avg_frame_rate;
  const AVRational nominal = stream->r_frame_rate;
  if (Usable(average)) {
    const bool variable = Usable(nominal) && std::fabs(av_q2d(average) / av_q2d(nominal) - 1) > kRateTolerance;
    return variable ? NearestCommonRate(av_q2d(average)) : av_q2d(average);
  }
  if (Usable(nominal)) return av_q2d(nominal);
  return std::nullopt;
}

// The size a stream's pictures are shown at: their stored size, widened or
// narrowed by a sample aspect ratio other than square.
std::pair<int32_t, int32_t> ShownSize(const AVStream* stream) {
  const AVCodecParameters* p = stream->codecpar;
  int64_t width = p->width;
  const AVRational aspect = p->sample_aspect_ratio.num > 0 ? p->sample_aspect_ratio : stream->sample_aspect_ratio;
  if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
    width = std::llround(static_cast<double>(width) * aspect.num / aspect.den);
  }
  return {static_cast<int32_t>(std::clamp<int64_t>(width, 0, host::kLargestSide)), p->height};
}

FormatInputPtr OpenFormat(const std::string& spec, InputKind kind, int32_t width, int32_t height, double rate,
                          std::string* name) {
  RegisterDevices();
  const AVInputFormat* device = nullptr;
  std::string url = spec;
  if (kind == InputKind::kCamera) {
    device = av_find_input_format("v4l2");
    if (StartsWith(spec, kCameraScheme)) url = spec.substr(std::strlen(kCameraScheme));
    *name = "camera " + url;
    if (device == nullptr) throw MediaError("cannot open " + *name + ": this FFmpeg has no camera support");
  } else if (kind == InputKind::kGenerated) {
    device = av_find_input_format("lavfi");
    url = GeneratedGraph(spec, width, height, rate);
    *name = "test source " + spec;
    if (device == nullptr) throw MediaError("cannot open " + *name + ": this FFmpeg has no generated sources");
  } else {
    *name = spec;
  }
  AVFormatContext* raw = nullptr;
  int status = avformat_open_input(&raw, url.c_str(), device, nullptr);
  if (status < 0) {
    if (status == AVERROR_INVALIDDATA) throw MediaError("unsupported input " + *name + ": not a video file");
    const std::string what = kind == InputKind::kFile ? "input " + *name : *name;
    throw MediaError("cannot open " + what + ": " + AvErrorText(status));
  }
  FormatInputPtr format(raw);
  status = avformat_find_stream_info(format.get(), nullptr);
  if (status < 0) throw MediaError("cannot read " + *name + ": " + AvErrorText(status));
  return format;
}

}  // namespace

VideoInput::VideoInput(std::unique_ptr<State> state) : state_(std::move(state)) {}
VideoInput::VideoInput(VideoInput&&) noexcept = default;
VideoInput& VideoInput::operator=(VideoInput&&) noexcept = default;
VideoInput::~VideoInput() = default;

VideoInput VideoInput::Open(const std::string& spec, int32_t width, int32_t height, double rate) {
  const InputKind kind = ClassifyInput(spec);
  if (kind == InputKind::kPicture) return OpenPicture(spec, width, height);
  auto s = std::make_unique<State>();
  s->kind = kind;
  s->format = OpenFormat(spec, kind, width, height, rate, &s->name);
  s->videoIndex = av_find_best_stream(s->format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (s->videoIndex < 0) throw MediaError("unsupported input " + s->name + ": it has no video");
  const AVStream* video = s->format->streams[s->videoIndex];
  std::tie(s->width, s->height) = width > 0 && height > 0 ? std::pair{width, height} : ShownSize(video);
  if (s->width <= 0 || s->height <= 0) {
    // A stream that does not say its size until it is decoded.
    s->width = kDefaultWidth;
    s->height = kDefaultHeight;
  }
  s->video = OpenDecoder(video, s->name);
  s->rate = StreamRate(video);
  s->audioIndex = av_find_best_stream(s->format.get(), AVMEDIA_TYPE_AUDIO, -1, s->videoIndex, nullptr, 0);
  if (s->audioIndex >= 0) {
    try {
      s->audio = OpenDecoder(s->format->streams[s->audioIndex], s->name);
    } catch (const MediaError&) {
      // A sound stream no decoder takes is left out; the pictures still play.
      s->audioIndex = -1;
    }
  }
  // Every other stream is skipped by the demuxer itself.
  for (unsigned i = 0; i < s->format->nb_streams; ++i) {
    if (static_cast<int>(i) != s->videoIndex && static_cast<int>(i) != s->audioIndex) {
      s->format->streams[i]->discard = AVDISCARD_ALL;
    }
  }
  s->packet = NewPacket();
  return VideoInput(std::move(s));
}

VideoInput VideoInput::OpenPicture(const std::string& path, int32_t width, int32_t height) {
  std::string why;
  const std::optional<host::BgrImage> image = host::ReadImageFile(path, &why);
  if (!image) throw MediaError("cannot read picture " + path + ": " + why);
  auto s = std::make_unique<State>();
  s->kind = InputKind::kPicture;
  s->name = path;
  s->width = width > 0 && height > 0 ? width : image->width;
  s->height = width > 0 && height > 0 ? height : image->height;
  const uint8_t* planes[4] = {image->pixels.data()};
  const int strides[4] = {image->width * kBytesPerPixel};
  ScaleToBottomUp(*s, planes, strides, image->width, image->height, AV_PIX_FMT_BGR24);
  s->scaler.reset();
  return VideoInput(std::move(s));
}

InputKind VideoInput::kind() const { return state_->kind; }

bool VideoInput::endless() const { return state_->kind != InputKind::kFile; }

int32_t VideoInput::width() const { return state_->width; }

int32_t VideoInput::height() const { return state_->height; }

const std::string& VideoInput::name() const { return state_->name; }

std::optional<double> VideoInput::rate() const { return state_->rate; }

std::optional<double> VideoInput::statedSeconds() const {
  const State& s = *state_;
  if (s.format == nullptr || endless()) return std::nullopt;
  // The video's own length when the file gives it: a longer sound track
  // does not make the pictures last longer.
  const AVStream* video = s.format->streams[s.videoIndex];
  if (video->duration > 0 && video->duration != AV_NOPTS_VALUE) return video->duration * av_q2d(video->time_base);
  if (s.format->duration > 0) return static_cast<double>(s.format->duration) / AV_TIME_BASE;
  return std::nullopt;
}

std::optional<int64_t> VideoInput::FrameCount(double rate) const {
  const std::optional<double> seconds = statedSeconds();
  if (!seconds) return std::nullopt;
  // Frames start at 0, rate, 2 x rate, ... and there is one for every start
  // before the end: a 3 s input at 0.5 frames a second has two.
  constexpr double kRounding = 1e-6;
  return static_cast<int64_t>(std::ceil(*seconds * rate - kRounding));
}

int64_t VideoInput::skippedVideoPackets() const { return state_->skippedVideo; }

int64_t VideoInput::skippedSoundPackets() const { return state_->skippedSound; }

bool VideoInput::hasAudio() const { return state_->audio != nullptr; }

namespace {

// Moves the input on to the frame it shows at `time`; false once it has
// ended. See FrameAt.
bool AdvanceTo(VideoInput::State& s, double time, double rate) {
  // An input frame stands for the output frames whose times lie within half
  // a frame of it or after it, until the next input frame: half an output
  // frame when the output is faster, half an input frame when slower (so a
  // slow output shows the input frame nearest to each of its times).
  const double inputRate = s.rate.value_or(rate);
  const double slack = 0.5 / std::max(rate, inputRate);
  if (!s.current) {
    s.current = NextVideoFrame(s);
    if (!s.current) return false;
    s.currentConverted = false;
  }
  while (true) {
    if (!s.pending && !s.videoEnded) {
      s.pending = NextVideoFrame(s);
      s.videoEnded = !s.pending;
    }
    if (!s.pending || s.pending->time > time + slack) break;
    s.current = std::move(s.pending);
    s.pending.reset();
    s.currentConverted = false;
  }
  if (s.videoEnded) {
    const double lastEnds = s.current->time + 1.0 / inputRate;
    if (time + slack >= lastEnds) return false;
  }
  return true;
}

}  // namespace

const std::vector<uint8_t>* VideoInput::FrameAt(double time, double rate) {
  State& s = *state_;
  if (s.kind == InputKind::kPicture) return &s.pixels;
  if (!AdvanceTo(s, time, rate)) return nullptr;
  if (!s.currentConverted) {
    const AVFrame& f = *s.current->frame;
    ScaleToBottomUp(s, f.data, f.linesize, f.width, f.height, static_cast<AVPixelFormat>(f.format));
    s.currentConverted = true;
  }
  return &s.pixels;
}

bool VideoInput::FrameInto(double time, double rate, uint8_t* bottomUp, size_t rowBytes) {
  State& s = *state_;
  const size_t pictureRow = static_cast<size_t>(s.width) * kBytesPerPixel;
  if (s.kind == InputKind::kPicture || s.currentConverted) {
    // A picture, or a frame shown once more: its converted copy is at hand.
    const std::vector<uint8_t>* frame = FrameAt(time, rate);
    if (frame == nullptr) return false;
    for (int32_t row = 0; row < s.height; ++row) {
      std::memcpy(bottomUp + rowBytes * static_cast<size_t>(row), frame->data() + pictureRow * static_cast<size_t>(row),
                  pictureRow);
    }
    return true;
  }
  if (!AdvanceTo(s, time, rate)) return false;
  const AVFrame& f = *s.current->frame;
  ScaleToBottomUp(s, f.data, f.linesize, f.width, f.height, static_cast<AVPixelFormat>(f.format), bottomUp, rowBytes);
  return true;
}

std::vector<float> VideoInput::TakeAudio(double endTime) {
  State& s = *state_;
  if (!s.audio) return {};
  const double origin = s.firstTime.value_or(0.0);
  const auto covered = [&s, origin] {
    if (!s.audioStart) return -1.0;
    return *s.audioStart - origin + static_cast<double>(s.audioSamples.size() / kMixChannels) / kMixRate;
  };
  while (!s.audioEnded && !s.demuxEnded && covered() < endTime) ReadPacket(s, false);
  if (s.resampler) AppendResampled(s.resampler.get(), nullptr, s.audioSamples);
  if (!s.audioStart) return {};

  // Place the sound on the video's clock: time 0 is the first frame.
  const int64_t offset = std::llround((*s.audioStart - origin) * kMixRate) * kMixChannels;
  const auto wanted = static_cast<size_t>(std::max<int64_t>(0, std::llround(endTime * kMixRate))) * kMixChannels;
  std::vector<float> placed(wanted, 0.0f);
  for (size_t i = 0; i < s.audioSamples.size(); ++i) {
    const int64_t at = offset + static_cast<int64_t>(i);
    if (at >= 0 && static_cast<size_t>(at) < wanted) placed[static_cast<size_t>(at)] = s.audioSamples[i];
  }
  s.audioSamples.clear();
  return placed;
}

}  // namespace tiko::media
