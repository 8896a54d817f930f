#include "host/media/loopback.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/imgutils.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "host/media/common.h"

namespace tiko::media {
namespace {

constexpr const char* kDeviceMuxer = "video4linux2";
constexpr const char* kRawMuxer = "rawvideo";
constexpr const char* kStandardOutput = "-";
constexpr const char* kLoopbackDriver = "v4l2 loopback";
constexpr AVPixelFormat kWireFormat = AV_PIX_FMT_YUYV422;

struct MuxerDeleter {
  void operator()(AVFormatContext* context) const {
    if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using MuxerPtr = std::unique_ptr<AVFormatContext, MuxerDeleter>;

// A device is checked before libavdevice sees it: its own messages for a
// file that is no device ("Inappropriate ioctl for device") tell a person
// little.
void CheckDevice(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    throw MediaError("cannot open " + path + ": " + std::strerror(errno) +
                     " (load the v4l2loopback module for a virtual camera: see docs/virtual-camera.md)");
  }
  if (!S_ISCHR(info.st_mode)) {
    throw MediaError(path + " is not a video device: the virtual camera is a v4l2loopback device such as "
                            "/dev/video10 (see docs/virtual-camera.md); --raw writes the frames to a file or pipe");
  }
}

bool IsLoopbackDevice(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  v4l2_capability caps{};
  const bool loopback = ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0 &&
                        std::strncmp(reinterpret_cast<const char*>(caps.driver), kLoopbackDriver,
                                     sizeof caps.driver) == 0;
  close(fd);
  return loopback;
}

}  // namespace

struct LoopbackOutput::State {
  std::string name;
  int32_t width = 0;
  int32_t height = 0;
  MuxerPtr muxer;
  ScalerPtr scaler;
  FramePtr frame;
  PacketPtr packet;
  int64_t index = 0;
  bool finished = false;
};

int64_t Yuy2FrameBytes(int32_t width, int32_t height) {
  return int64_t{(width + 1) & ~1} * 2 * height;
}

LoopbackOutput LoopbackOutput::Open(const std::string& path, LoopbackKind kind, int32_t width, int32_t height,
                                    double rate) {
  static std::once_flag once;
  std::call_once(once, [] { avdevice_register_all(); });
  if (kind == LoopbackKind::kDevice) CheckDevice(path);
  auto state = std::make_unique<State>();
  state->name = kind == LoopbackKind::kRaw && path == kStandardOutput ? "standard output" : path;
  state->width = width;
  state->height = height;
  const std::string url = kind == LoopbackKind::kRaw && path == kStandardOutput ? "pipe:1" : path;
  const AVOutputFormat* format = av_guess_format(kind == LoopbackKind::kDevice ? kDeviceMuxer : kRawMuxer, nullptr,
                                                 nullptr);
  if (format == nullptr) throw MediaError("cannot write " + state->name + ": FFmpeg has no output for it");
  AVFormatContext* raw = nullptr;
  int status = avformat_alloc_output_context2(&raw, format, nullptr, url.c_str());
  if (status < 0 || raw == nullptr) throw MediaError("cannot write " + state->name + ": " + AvErrorText(status));
  state->muxer.reset(raw);
  if ((format->flags & AVFMT_NOFILE) == 0) {
    status = avio_open(&state->muxer->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) throw MediaError("cannot write " + state->name + ": " + AvErrorText(status));
  }
  AVStream* stream = avformat_new_stream(state->muxer.get(), nullptr);
  if (stream == nullptr) throw std::bad_alloc();
  stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  stream->codecpar->format = kWireFormat;
  stream->codecpar->width = width;
  stream->codecpar->height = height;
  stream->time_base = av_inv_q(av_d2q(rate, 100000));
  status = avformat_write_header(state->muxer.get(), nullptr);
  if (status < 0) throw MediaError("cannot start " + state->name + ": " + AvErrorText(status));
  state->scaler.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, kWireFormat, SWS_POINT, nullptr,
                                     nullptr, nullptr));
  state->frame = NewFrame();
  state->packet = NewPacket();
  state->frame->format = kWireFormat;
  state->frame->width = width;
  state->frame->height = height;
  if (state->scaler == nullptr || av_frame_get_buffer(state->frame.get(), 0) < 0) throw std::bad_alloc();
  return LoopbackOutput(std::move(state));
}

LoopbackOutput::LoopbackOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
LoopbackOutput::LoopbackOutput(LoopbackOutput&&) noexcept = default;
LoopbackOutput& LoopbackOutput::operator=(LoopbackOutput&&) noexcept = default;
LoopbackOutput::~LoopbackOutput() = default;

void LoopbackOutput::Write(const uint8_t* topDownBgr) {
  State& s = *state_;
  const uint8_t* source[1] = {topDownBgr};
  const int sourceStride[1] = {s.width * 3};
  sws_scale(s.scaler.get(), source, sourceStride, 0, s.height, s.frame->data, s.frame->linesize);
  const int64_t bytes = Yuy2FrameBytes(s.width, s.height);
  if (av_new_packet(s.packet.get(), static_cast<int>(bytes)) < 0) throw std::bad_alloc();
  const size_t rowBytes = static_cast<size_t>(bytes / s.height);
  for (int32_t y = 0; y < s.height; ++y) {
    std::memcpy(s.packet->data + y * rowBytes, s.frame->data[0] + int64_t{y} * s.frame->linesize[0], rowBytes);
  }
  s.packet->stream_index = 0;
  s.packet->pts = s.packet->dts = s.index++;
  s.packet->duration = 1;
  const int status = av_write_frame(s.muxer.get(), s.packet.get());
  av_packet_unref(s.packet.get());
  if (status < 0) throw MediaError("cannot write to " + s.name + ": " + AvErrorText(status));
}

void LoopbackOutput::Finish() {
  State& s = *state_;
  if (s.finished) return;
  s.finished = true;
  const int status = av_write_trailer(s.muxer.get());
  if (s.muxer->pb != nullptr) avio_flush(s.muxer->pb);
  if (status < 0) throw MediaError("cannot finish " + s.name + ": " + AvErrorText(status));
}

std::vector<std::string> FindLoopbackDevices() {
  std::vector<std::pair<long, std::string>> found;
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", failed)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("video", 0) != 0 || name.size() == 5 ||
        !std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    if (IsLoopbackDevice(entry.path().string())) found.emplace_back(std::stol(name.substr(5)), entry.path().string());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> devices;
  for (auto& [number, path] : found) devices.push_back(std::move(path));
  return devices;
}

}  // namespace tiko::media
