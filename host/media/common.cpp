#include "host/media/common.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>

namespace tiko::media {

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  // For a code it has no words for, FFmpeg would print the number itself,
  // which tells a user nothing.
  if (av_strerror(code, text, sizeof text) < 0) return "an error the media libraries do not describe";
  return text;
}

FramePtr NewFrame() {
  FramePtr frame(av_frame_alloc());
  if (!frame) throw std::bad_alloc();
  return frame;
}

PacketPtr NewPacket() {
  PacketPtr packet(av_packet_alloc());
  if (!packet) throw std::bad_alloc();
  return packet;
}

CodecContextPtr OpenDecoder(const AVStream* stream, const std::string& what) {
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) {
    throw MediaError("unsupported input " + what + ": no decoder for its " +
                     avcodec_get_name(stream->codecpar->codec_id) + " stream");
  }
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) throw std::bad_alloc();
  int status = avcodec_parameters_to_context(context.get(), stream->codecpar);
  if (status >= 0) {
    context->pkt_timebase = stream->time_base;
    // Decoders may use threads of their own (0: as many as they find useful).
    context->thread_count = 0;
    status = avcodec_open2(context.get(), codec, nullptr);
  }
  if (status < 0) throw MediaError("cannot decode " + what + ": " + AvErrorText(status));
  return context;
}

ResamplerPtr MixResampler(const AVFrame& frame) {
  AVChannelLayout mixLayout;
  av_channel_layout_default(&mixLayout, kMixChannels);
  AVChannelLayout inLayout;
  // Some files leave the layout unspecified: take the usual one for the count.
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&inLayout, frame.ch_layout.nb_channels);
  } else if (av_channel_layout_copy(&inLayout, &frame.ch_layout) < 0) {
    throw std::bad_alloc();
  }
  SwrContext* raw = nullptr;
  int status = swr_alloc_set_opts2(&raw, &mixLayout, AV_SAMPLE_FMT_FLT, kMixRate, &inLayout,
                                   static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  ResamplerPtr resampler(raw);
  if (status >= 0) status = swr_init(resampler.get());
  if (status < 0) throw MediaError("cannot convert sound: " + AvErrorText(status));
  return resampler;
}

void AppendResampled(SwrContext* resampler, const AVFrame* frame, std::vector<float>& samples) {
  const int inCount = frame != nullptr ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(resampler, inCount);
  if (room <= 0) return;
  const size_t at = samples.size();
  samples.resize(at + static_cast<size_t>(room) * kMixChannels);
  auto* out = reinterpret_cast<uint8_t*>(samples.data() + at);
  const int made = swr_convert(resampler, &out, room,
                               frame != nullptr ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inCount);
  samples.resize(at + static_cast<size_t>(std::max(made, 0)) * kMixChannels);
  if (made < 0) throw MediaError("cannot convert sound: " + AvErrorText(made));
}

void QuietLibraryLogs(bool verbose) { av_log_set_level(verbose ? AV_LOG_WARNING : AV_LOG_QUIET); }

}  // namespace tiko::media
