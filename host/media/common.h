// What the media library shares: FFmpeg's objects owned by smart pointers,
// its error texts in words, and MediaError, whose text names the file or
// device at fault.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/frame_format.h"

namespace tiko::media {

// Bad input, an unsupported format, or an output that cannot be written: its
// text is the whole message, naming the file or device at fault.
class MediaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using host::kBytesPerPixel;

// The sound of the output: interleaved stereo float samples at one rate.
inline constexpr int kMixRate = 48000;
inline constexpr int kMixChannels = 2;

std::string AvErrorText(int code);

struct FormatInputDeleter {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResamplerDeleter {
  void operator()(SwrContext* context) const { swr_free(&context); }
};

using FormatInputPtr = std::unique_ptr<AVFormatContext, FormatInputDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

FramePtr NewFrame();
PacketPtr NewPacket();

// A decoder for `stream`, opened; throws MediaError naming `what` when there
// is none or it cannot be opened.
CodecContextPtr OpenDecoder(const AVStream* stream, const std::string& what);

// A resampler from `frame`'s layout, rate and sample format to the mix format.
ResamplerPtr MixResampler(const AVFrame& frame);

// Converts `frame` through `resampler` (made by MixResampler) and appends the
// samples to `samples`; a null frame drains what the resampler holds.
void AppendResampled(SwrContext* resampler, const AVFrame* frame, std::vector<float>& samples);

// Library logging is off unless asked for: the tool reports what went wrong
// in its own words, and FFmpeg's warnings about ordinary files are noise.
void QuietLibraryLogs(bool verbose);

}  // namespace tiko::media
