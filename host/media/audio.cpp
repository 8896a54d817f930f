#include "host/media/audio.h"

#include <cmath>

#include "host/media/common.h"

namespace tiko::media {

std::vector<float> ReadSoundFile(const std::string& path) {
  AVFormatContext* raw = nullptr;
  int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (status < 0) throw MediaError("cannot open sound " + path + ": " + AvErrorText(status));
  FormatInputPtr format(raw);
  status = avformat_find_stream_info(format.get(), nullptr);
  const int index = status < 0 ? status : av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) throw MediaError("unsupported sound " + path + ": no sound in it");
  CodecContextPtr decoder = OpenDecoder(format->streams[index], "sound " + path);

  std::vector<float> samples;
  ResamplerPtr resampler;
  PacketPtr packet = NewPacket();
  FramePtr frame = NewFrame();
  const auto drain = [&] {
    while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      if (!resampler) resampler = MixResampler(*frame);
      AppendResampled(resampler.get(), frame.get(), samples);
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(format.get(), packet.get()) >= 0) {
    if (packet->stream_index == index) {
      // A damaged packet is skipped; the rest of the sound still plays.
      avcodec_send_packet(decoder.get(), packet.get());
      drain();
    }
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(decoder.get(), nullptr);
  drain();
  if (resampler) AppendResampled(resampler.get(), nullptr, samples);
  return samples;
}

void MixInto(std::vector<float>& mix, const std::vector<float>& sound, int64_t at) {
  if (at < 0) return;
  const auto start = static_cast<size_t>(at) * kMixChannels;
  for (size_t i = 0; i < sound.size() && start + i < mix.size(); ++i) mix[start + i] += sound[i];
}

int64_t SampleOfFrame(int64_t frame, double rate) { return std::llround(static_cast<double>(frame) * kMixRate / rate); }

}  // namespace tiko::media
