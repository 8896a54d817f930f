#include "host/media/output.h"

#include <unistd.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <future>
#include <optional>
#include <mutex>
#include <thread>
#include <utility>

#include "host/channel.h"
#include "host/files.h"
#include "host/image_bitmap.h"
#include "host/media/common.h"

namespace tiko::media {
namespace {

// The video files a render writes, by their names' endings; the message that
// lists them is made from this list.
constexpr const char* kVideoEndings[] = {".mp4", ".mov", ".mkv", ".webm", ".avi"};

// Encoder settings: good-looking files at several times real time on a
// small machine.
constexpr const char* kX264Preset = "fast";
constexpr const char* kX264Quality = "20";
constexpr const char* kVp9Quality = "32";
constexpr const char* kVp9Speed = "5";
// Bits a second per pixel a second for codecs without a quality setting.
constexpr double kFallbackBitsPerPixel = 0.1;
constexpr int64_t kAudioBitRate = 128000;
// Audio frames for encoders that take any length.
constexpr int kDefaultAudioFrame = 1024;
// Sound is encoded this far ahead of the video it goes with, so the two
// interleave closely in the file.
constexpr double kAudioLeadSeconds = 0.5;
// Converted pictures kept for reuse: as many as a pipeline has in flight.
constexpr size_t kSpareFrames = 8;

// The GIF palette: 6 levels of blue, 7 of green (the eye is most sensitive
// to it) and 6 of red, 252 colours, with ordered dithering between them.
constexpr int kBlueLevels = 6;
constexpr int kGreenLevels = 7;
constexpr int kRedLevels = 6;
constexpr int kDitherSize = 4;
constexpr int kDither[kDitherSize][kDitherSize] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
constexpr int kPaletteEntries = 256;

struct MuxerDeleter {
  void operator()(AVFormatContext* context) const {
    if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using MuxerPtr = std::unique_ptr<AVFormatContext, MuxerDeleter>;

bool EndsWith(const std::string& name, const char* extension) {
  const size_t length = std::strlen(extension);
  if (name.size() < length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[name.size() - length + i])) != extension[i]) return false;
  }
  return true;
}

MuxerPtr NewMuxer(const AVOutputFormat* format, const std::string& path, const std::string& shownName) {
  AVFormatContext* raw = nullptr;
  const int status = avformat_alloc_output_context2(&raw, format, nullptr, path.c_str());
  if (status < 0 || raw == nullptr) throw MediaError("cannot write " + shownName + ": " + AvErrorText(status));
  MuxerPtr muxer(raw);
  if ((format->flags & AVFMT_NOFILE) == 0) {
    const int opened = avio_open(&muxer->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (opened < 0) throw MediaError("cannot write " + shownName + ": " + AvErrorText(opened));
  }
  return muxer;
}

const AVCodec* PreferredEncoder(AVCodecID id) {
  const std::pair<AVCodecID, const char*> preferred[] = {
      {AV_CODEC_ID_H264, "libx264"},     {AV_CODEC_ID_VP9, "libvpx-vp9"}, {AV_CODEC_ID_VP8, "libvpx"},
      {AV_CODEC_ID_VORBIS, "libvorbis"}, {AV_CODEC_ID_OPUS, "libopus"},   {AV_CODEC_ID_MP3, "libmp3lame"},
  };
  for (const auto& [codec, name] : preferred) {
    if (codec == id) {
      if (const AVCodec* found = avcodec_find_encoder_by_name(name)) return found;
    }
  }
  return avcodec_find_encoder(id);
}

AVPixelFormat PixelFormatFor(const AVCodec* codec) {
  if (codec->pix_fmts == nullptr) return AV_PIX_FMT_YUV420P;
  for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
    if (*f == AV_PIX_FMT_YUV420P) return *f;
  }
  return codec->pix_fmts[0];
}

void SetQuality(AVCodecContext* encoder, const AVCodec* codec, int32_t width, int32_t height, double rate) {
  const std::string name = codec->name;
  if (name == "libx264") {
    av_opt_set(encoder->priv_data, "preset", kX264Preset, 0);
    av_opt_set(encoder->priv_data, "crf", kX264Quality, 0);
  } else if (name == "libvpx-vp9" || name == "libvpx") {
    encoder->bit_rate = 0;
    av_opt_set(encoder->priv_data, "crf", kVp9Quality, 0);
    av_opt_set(encoder->priv_data, "deadline", "good", 0);
    av_opt_set(encoder->priv_data, "cpu-used", kVp9Speed, 0);
    av_opt_set(encoder->priv_data, "row-mt", "1", 0);
  } else {
    encoder->bit_rate = static_cast<int64_t>(kFallbackBitsPerPixel * width * height * rate);
  }
}

// Each channel's palette level for a value at each dither position.
struct DitherTables {
  uint8_t level[3][kDitherSize * kDitherSize][256];
};

const DitherTables& GifDither() {
  static const DitherTables tables = [] {
    DitherTables t{};
    const int levels[3] = {kBlueLevels, kGreenLevels, kRedLevels};
    for (int channel = 0; channel < 3; ++channel) {
      const int steps = levels[channel] - 1;
      for (int d = 0; d < kDitherSize * kDitherSize; ++d) {
        const int threshold = kDither[d / kDitherSize][d % kDitherSize];
        for (int value = 0; value < 256; ++value) {
          // Rounds up where the scaled value's fraction passes the threshold.
          const int scaled = value * steps * kDitherSize * kDitherSize / 255;
          int level = scaled / (kDitherSize * kDitherSize);
          if (scaled % (kDitherSize * kDitherSize) > threshold && level < steps) ++level;
          t.level[channel][d][value] = static_cast<uint8_t>(level);
        }
      }
    }
    return t;
  }();
  return tables;
}

void FillGifPalette(uint32_t* palette) {
  for (int i = 0; i < kPaletteEntries; ++i) palette[i] = 0xFF000000u;
  for (int r = 0; r < kRedLevels; ++r) {
    for (int g = 0; g < kGreenLevels; ++g) {
      for (int b = 0; b < kBlueLevels; ++b) {
        const int index = (r * kGreenLevels + g) * kBlueLevels + b;
        const auto level = [](int v, int levels) { return static_cast<uint32_t>(v * 255 / (levels - 1)); };
        palette[index] = 0xFF000000u | level(r, kRedLevels) << 16 | level(g, kGreenLevels) << 8 | level(b, kBlueLevels);
      }
    }
  }
}

void QuantizeForGif(const uint8_t* topRow, ptrdiff_t rowStride, int32_t width, int32_t height, AVFrame* frame) {
  const DitherTables& t = GifDither();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = topRow + static_cast<ptrdiff_t>(y) * rowStride;
    uint8_t* out = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    for (int32_t x = 0; x < width; ++x, in += kBytesPerPixel) {
      const int d = (y % kDitherSize) * kDitherSize + x % kDitherSize;
      const int b = t.level[0][d][in[0]];
      const int g = t.level[1][d][in[1]];
      const int r = t.level[2][d][in[2]];
      out[x] = static_cast<uint8_t>((r * kGreenLevels + g) * kBlueLevels + b);
    }
  }
  FillGifPalette(reinterpret_cast<uint32_t*>(frame->data[1]));
}

// Hands every packet the encoder has ready to the muxer.
void DrainEncoder(AVCodecContext* encoder, AVFormatContext* muxer, AVStream* stream, AVPacket* packet,
                  const std::string& shownName) {
  while (true) {
    const int status = avcodec_receive_packet(encoder, packet);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
    if (status < 0) throw MediaError("cannot encode " + shownName + ": " + AvErrorText(status));
    av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    const int written = av_interleaved_write_frame(muxer, packet);
    if (written < 0) throw MediaError("cannot write " + shownName + ": " + AvErrorText(written));
  }
}

void Encode(AVCodecContext* encoder, const AVFrame* frame, AVFormatContext* muxer, AVStream* stream, AVPacket* packet,
            const std::string& shownName) {
  const int status = avcodec_send_frame(encoder, frame);
  if (status < 0 && status != AVERROR_EOF) throw MediaError("cannot encode " + shownName + ": " + AvErrorText(status));
  DrainEncoder(encoder, muxer, stream, packet, shownName);
}

// The sound track encoded by itself, into packets in the encoder's time
// base (one sample frame a tick): it runs beside the video encoder's last
// frames, and the packets are laid in with the video afterwards.
struct EncodedSound {
  CodecContextPtr encoder;
  std::vector<PacketPtr> packets;
};

CodecContextPtr OpenSoundEncoder(const AVOutputFormat* format, int channels, const std::string& shownName) {
  const AVCodec* codec = PreferredEncoder(format->audio_codec);
  if (codec == nullptr) throw MediaError("cannot write " + shownName + ": no encoder for its sound");
  CodecContextPtr encoder(avcodec_alloc_context3(codec));
  if (!encoder) throw std::bad_alloc();
  AVCodecContext* e = encoder.get();
  e->sample_rate = kMixRate;
  av_channel_layout_default(&e->ch_layout, channels);
  e->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  e->bit_rate = kAudioBitRate;
  e->time_base = AVRational{1, kMixRate};
  if ((format->flags & AVFMT_GLOBALHEADER) != 0) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int status = avcodec_open2(e, codec, nullptr);
  if (status < 0) throw MediaError("cannot write " + shownName + ": cannot encode its sound: " + AvErrorText(status));
  return encoder;
}

// Keeps every packet the sound encoder has ready.
void TakeSoundPackets(EncodedSound& sound, const std::string& shownName) {
  while (true) {
    PacketPtr packet = NewPacket();
    const int status = avcodec_receive_packet(sound.encoder.get(), packet.get());
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
    if (status < 0) throw MediaError("cannot encode " + shownName + ": " + AvErrorText(status));
    sound.packets.push_back(std::move(packet));
  }
}

// Encodes the whole mix, in whole encoder frames (the last one padded with
// silence).
// Whether both channels of the mix carry the same sound everywhere: a mono
// input with mono cues, the usual case, is written as the mono track it is,
// which also takes half the encoding.
bool IsMono(const std::vector<float>& mix) {
  for (size_t i = 0; i + 1 < mix.size(); i += kMixChannels) {
    if (mix[i] != mix[i + 1]) return false;
  }
  return true;
}

EncodedSound EncodeSoundTrack(const AVOutputFormat* format, const std::vector<float>& mix,
                              const std::string& shownName) {
  const int channels = IsMono(mix) ? 1 : kMixChannels;
  EncodedSound sound{OpenSoundEncoder(format, channels, shownName), {}};
  AVCodecContext* e = sound.encoder.get();
  SwrContext* raw = nullptr;
  int status = swr_alloc_set_opts2(&raw, &e->ch_layout, e->sample_fmt, kMixRate, &e->ch_layout, AV_SAMPLE_FMT_FLT,
                                   kMixRate, 0, nullptr);
  const ResamplerPtr convert(raw);
  if (status >= 0) status = swr_init(raw);
  if (status < 0) throw MediaError("cannot write " + shownName + ": " + AvErrorText(status));

  const int frameSize = e->frame_size > 0 ? e->frame_size : kDefaultAudioFrame;
  const auto total = static_cast<int64_t>(mix.size() / kMixChannels);
  std::vector<float> chunk(static_cast<size_t>(frameSize) * channels);
  FramePtr frame = NewFrame();
  for (int64_t next = 0; next < total; next += frameSize) {
    AVFrame* f = frame.get();
    av_frame_unref(f);
    f->nb_samples = frameSize;
    f->format = e->sample_fmt;
    f->sample_rate = kMixRate;
    av_channel_layout_copy(&f->ch_layout, &e->ch_layout);
    if (av_frame_get_buffer(f, 0) < 0) throw std::bad_alloc();
    const int64_t count = std::min<int64_t>(frameSize, total - next);
    std::fill(chunk.begin(), chunk.end(), 0.0f);
    const float* from = mix.data() + next * kMixChannels;
    for (int64_t i = 0; i < count; ++i, from += kMixChannels) {
      if (channels == 1) {
        // A mono sound reached both channels 3 dB down: the mono track
        // gives it back its own level, as a mono playback of the stereo
        // track would.
        chunk[size_t(i)] = (from[0] + from[1]) * static_cast<float>(M_SQRT1_2);
      } else {
        chunk[size_t(i) * 2] = from[0];
        chunk[size_t(i) * 2 + 1] = from[1];
      }
    }
    const auto* in = reinterpret_cast<const uint8_t*>(chunk.data());
    swr_convert(convert.get(), f->data, frameSize, &in, frameSize);
    f->pts = next;
    status = avcodec_send_frame(e, f);
    if (status < 0) throw MediaError("cannot encode " + shownName + ": " + AvErrorText(status));
    TakeSoundPackets(sound, shownName);
  }
  status = avcodec_send_frame(e, nullptr);
  if (status < 0 && status != AVERROR_EOF) throw MediaError("cannot encode " + shownName + ": " + AvErrorText(status));
  TakeSoundPackets(sound, shownName);
  return sound;
}

// Writes the sound packets, from `next` on, that start before sample frame
// `until`.
void WriteSoundPackets(EncodedSound& sound, size_t& next, int64_t until, AVFormatContext* muxer, AVStream* stream,
                       const std::string& shownName) {
  for (; next < sound.packets.size(); ++next) {
    AVPacket* packet = sound.packets[next].get();
    if (packet->pts != AV_NOPTS_VALUE && packet->pts >= until) return;
    av_packet_rescale_ts(packet, sound.encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    const int written = av_interleaved_write_frame(muxer, packet);
    if (written < 0) throw MediaError("cannot write " + shownName + ": " + AvErrorText(written));
  }
}

}  // namespace

std::string KnownOutputs() {
  std::string list;
  for (const char* ending : kVideoEndings) list += std::string(ending) + ", ";
  return list + ".gif or numbered .png files such as frame_%04d.png";
}

OutputKind ClassifyOutput(const std::string& path) {
  if (EndsWith(path, ".gif")) return OutputKind::kGif;
  if (EndsWith(path, ".png")) return OutputKind::kPictures;
  return OutputKind::kVideo;
}

// Numbered pictures are compressed on threads of their own: PNG compression
// is nearly all the cost of writing them, and each picture is a file of its
// own that takes its name when it is done.
class PictureWriters {
 public:
  PictureWriters(int32_t width, int32_t height) : width_(width), height_(height) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < std::min(cores, kMaxPictureThreads); ++i) threads_.emplace_back([this] { Work(); });
  }
  ~PictureWriters() { Stop(); }
  PictureWriters(const PictureWriters&) = delete;
  PictureWriters& operator=(const PictureWriters&) = delete;

  // Hands the picture, top-down, to a thread; waits while they all have
  // one waiting. Throws the first failure of any thread so far.
  void Write(const std::string& name, std::vector<uint8_t> topDownBgr) {
    Rethrow();
    if (!jobs_.Push(Job{name, std::move(topDownBgr)})) Rethrow();
  }
  // Waits for every picture. Throws the first failure.
  void Finish() {
    Stop();
    Rethrow();
  }
  // Removes every picture written: the render failed.
  void RemoveAll() {
    Stop();
    for (const std::string& path : written_) ::unlink(path.c_str());
  }

 private:
  struct Job {
    std::string name;
    std::vector<uint8_t> pixels;
  };
  static constexpr unsigned kMaxPictureThreads = 4;

  void Work() {
    while (std::optional<Job> job = jobs_.Pop()) {
      try {
        host::PendingFile picture = host::PendingFile::Create(job->name);
        std::string why;
        if (!host::WritePngFile(picture.writePath(), job->pixels.data(), width_, height_, &why)) {
          throw MediaError("cannot write " + job->name + ": " + why);
        }
        picture.Commit();
        std::lock_guard lock(mutex_);
        written_.push_back(job->name);
      } catch (...) {
        std::lock_guard lock(mutex_);
        if (!failure_) failure_ = std::current_exception();
        jobs_.Close();
      }
    }
  }
  void Stop() {
    jobs_.Close();
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  void Rethrow() {
    std::lock_guard lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
  }

  const int32_t width_;
  const int32_t height_;
  host::Channel<Job> jobs_{kMaxPictureThreads};
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::exception_ptr failure_;
  std::vector<std::string> written_;
};

struct VideoOutput::State {
  OutputKind kind = OutputKind::kVideo;
  std::string path;
  int32_t width = 0;
  int32_t height = 0;
  AVRational frameRate{25, 1};
  bool finished = false;

  // Video and GIF: the file written now, and the format the output ends in.
  // A video is written first without sound, then copied with its sound
  // track into the file that takes the output's name.
  const AVOutputFormat* format = nullptr;
  std::optional<host::PendingFile> writing;
  std::optional<host::PendingFile> final;
  MuxerPtr muxer;
  AVStream* stream = nullptr;
  CodecContextPtr encoder;
  AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
  ScalerPtr scaler;
  PacketPtr packet;
  // Pictures the encoder is done with, for the next conversions.
  std::mutex spareMutex;
  std::vector<FramePtr> spareFrames;
  int64_t frameCount = 0;

  // Numbered pictures take their names as they are done; a render that
  // fails takes them away again.
  std::unique_ptr<PictureWriters> pictures;
};

namespace {

void OpenVideoEncoder(VideoOutput::State& s, AVCodecID id) {
  const AVCodec* codec = PreferredEncoder(id);
  if (codec == nullptr) {
    throw MediaError("unsupported output " + s.path + ": no " + avcodec_get_name(id) + " encoder in this FFmpeg");
  }
  const AVPixelFormat pixelFormat = s.kind == OutputKind::kGif ? AV_PIX_FMT_PAL8 : PixelFormatFor(codec);
  const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(pixelFormat);
  const bool halvesChroma = layout != nullptr && (layout->log2_chroma_w > 0 || layout->log2_chroma_h > 0);
  if (halvesChroma && (s.width % 2 != 0 || s.height % 2 != 0)) {
    throw MediaError("cannot write " + s.path + ": " + codec->name + " needs an even width and height, not " +
                     std::to_string(s.width) + "x" + std::to_string(s.height));
  }
  s.encoder.reset(avcodec_alloc_context3(codec));
  if (!s.encoder) throw std::bad_alloc();
  AVCodecContext* e = s.encoder.get();
  e->width = s.width;
  e->height = s.height;
  e->pix_fmt = pixelFormat;
  e->time_base = av_inv_q(s.frameRate);
  e->framerate = s.frameRate;
  e->sample_aspect_ratio = AVRational{1, 1};
  if (pixelFormat != AV_PIX_FMT_PAL8) {
    // Our frames are converted with BT.601 coefficients to limited range.
    e->colorspace = AVCOL_SPC_SMPTE170M;
    e->color_range = AVCOL_RANGE_MPEG;
  }
  if ((s.format->flags & AVFMT_GLOBALHEADER) != 0) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  SetQuality(e, codec, s.width, s.height, av_q2d(s.frameRate));
  // The encoder's own threads (0: as many as it finds useful): the render
  // runs beside it on other threads of its own.
  e->thread_count = 0;
  const int status = avcodec_open2(e, codec, nullptr);
  if (status < 0) throw MediaError("cannot write " + s.path + ": " + codec->name + ": " + AvErrorText(status));

  s.pixelFormat = pixelFormat;
  if (pixelFormat != AV_PIX_FMT_PAL8) {
    s.scaler.reset(sws_getContext(s.width, s.height, AV_PIX_FMT_BGR24, s.width, s.height, pixelFormat, SWS_BILINEAR,
                                  nullptr, nullptr, nullptr));
    if (!s.scaler) throw MediaError("unsupported output " + s.path + ": cannot convert pictures for it");
  }
}

void StartContainer(VideoOutput::State& s) {
  s.writing = host::PendingFile::Create(s.path);
  s.muxer = NewMuxer(s.format, s.writing->writePath(), s.path);
  OpenVideoEncoder(s, s.format->video_codec);
  s.stream = avformat_new_stream(s.muxer.get(), nullptr);
  if (s.stream == nullptr) throw std::bad_alloc();
  s.stream->time_base = s.encoder->time_base;
  s.stream->avg_frame_rate = s.frameRate;
  avcodec_parameters_from_context(s.stream->codecpar, s.encoder.get());
  const int status = avformat_write_header(s.muxer.get(), nullptr);
  if (status < 0) throw MediaError("cannot write " + s.path + ": " + AvErrorText(status));
  s.packet = NewPacket();
}

void EndContainer(VideoOutput::State& s) {
  Encode(s.encoder.get(), nullptr, s.muxer.get(), s.stream, s.packet.get(), s.path);
  const int status = av_write_trailer(s.muxer.get());
  if (status < 0) throw MediaError("cannot write " + s.path + ": " + AvErrorText(status));
  s.muxer.reset();
}

// Copies the video written so far into the output's final file, adding the
// sound track.
void AddSound(VideoOutput::State& s, EncodedSound* sound) {
  AVFormatContext* raw = nullptr;
  int status = avformat_open_input(&raw, s.writing->writePath().c_str(), nullptr, nullptr);
  if (status < 0) throw MediaError("cannot read back the video of " + s.path + ": " + AvErrorText(status));
  FormatInputPtr video(raw);
  status = avformat_find_stream_info(video.get(), nullptr);
  if (status < 0 || video->nb_streams != 1) throw MediaError("cannot read back the video of " + s.path);
  const AVStream* from = video->streams[0];

  s.final = host::PendingFile::Create(s.path);
  MuxerPtr muxer = NewMuxer(s.format, s.final->writePath(), s.path);
  AVStream* to = avformat_new_stream(muxer.get(), nullptr);
  if (to == nullptr || avcodec_parameters_copy(to->codecpar, from->codecpar) < 0) throw std::bad_alloc();
  to->codecpar->codec_tag = 0;
  to->time_base = from->time_base;
  to->avg_frame_rate = s.frameRate;
  AVStream* track = nullptr;
  if (sound != nullptr) {
    track = avformat_new_stream(muxer.get(), nullptr);
    if (track == nullptr) throw std::bad_alloc();
    track->time_base = sound->encoder->time_base;
    if (avcodec_parameters_from_context(track->codecpar, sound->encoder.get()) < 0) throw std::bad_alloc();
  }

  AVDictionary* options = nullptr;
  // MP4 and MOV players can start before the whole file is there.
  av_dict_set(&options, "movflags", "+faststart", 0);
  status = avformat_write_header(muxer.get(), &options);
  av_dict_free(&options);
  if (status < 0) throw MediaError("cannot write " + s.path + ": " + AvErrorText(status));

  PacketPtr packet = NewPacket();
  size_t nextSound = 0;
  while (av_read_frame(video.get(), packet.get()) >= 0) {
    if (track != nullptr) {
      const int64_t when = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
      const double seconds = when == AV_NOPTS_VALUE ? 0.0 : when * av_q2d(from->time_base);
      const auto until = static_cast<int64_t>((seconds + kAudioLeadSeconds) * kMixRate);
      WriteSoundPackets(*sound, nextSound, until, muxer.get(), track, s.path);
    }
    av_packet_rescale_ts(packet.get(), from->time_base, to->time_base);
    packet->stream_index = to->index;
    status = av_interleaved_write_frame(muxer.get(), packet.get());
    if (status < 0) throw MediaError("cannot write " + s.path + ": " + AvErrorText(status));
  }
  if (track != nullptr) WriteSoundPackets(*sound, nextSound, INT64_MAX, muxer.get(), track, s.path);
  status = av_write_trailer(muxer.get());
  if (status < 0) throw MediaError("cannot write " + s.path + ": " + AvErrorText(status));
}

}  // namespace

VideoOutput::VideoOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
VideoOutput::VideoOutput(VideoOutput&&) noexcept = default;
VideoOutput& VideoOutput::operator=(VideoOutput&&) noexcept = default;

VideoOutput::~VideoOutput() {
  if (!state_ || state_->finished) return;
  state_->muxer.reset();
  if (state_->pictures) state_->pictures->RemoveAll();
}

VideoOutput VideoOutput::Open(const std::string& path, int32_t width, int32_t height, double rate) {
  auto state = std::make_unique<State>();
  State& s = *state;
  s.kind = ClassifyOutput(path);
  s.path = path;
  s.width = width;
  s.height = height;
  s.frameRate = av_d2q(rate, 100000);
  // From here on, a failure takes the temporary files made so far with it.
  VideoOutput output(std::move(state));
  if (s.kind != OutputKind::kPictures) host::CheckWritable(path);

  switch (s.kind) {
    case OutputKind::kPictures:
      if (!host::IsNumberedName(path)) {
        throw MediaError("unsupported output " + path +
                         ": numbered PNG files need one %d in the name (frame_%04d.png)");
      }
      s.pictures = std::make_unique<PictureWriters>(width, height);
      break;
    case OutputKind::kGif:
      s.format = av_guess_format("gif", nullptr, nullptr);
      if (s.format == nullptr) throw MediaError("unsupported output " + path + ": this FFmpeg cannot write GIF");
      StartContainer(s);
      break;
    case OutputKind::kVideo: {
      const bool known = std::any_of(std::begin(kVideoEndings), std::end(kVideoEndings),
                                     [&path](const char* ending) { return EndsWith(path, ending); });
      s.format = known ? av_guess_format(nullptr, path.c_str(), nullptr) : nullptr;
      if (s.format == nullptr) throw MediaError("unsupported output " + path + ": use " + KnownOutputs());
      StartContainer(s);
      break;
    }
  }
  return output;
}

OutputKind VideoOutput::kind() const { return state_->kind; }

bool VideoOutput::takesSound() const {
  return state_->kind == OutputKind::kVideo && state_->format->audio_codec != AV_CODEC_ID_NONE;
}

OutputFrame::OutputFrame() = default;
OutputFrame::OutputFrame(OutputFrame&&) noexcept = default;
OutputFrame& OutputFrame::operator=(OutputFrame&&) noexcept = default;
OutputFrame::~OutputFrame() = default;
void OutputFrame::FreeFrame::operator()(AVFrame* frame) const { av_frame_free(&frame); }

OutputFrame VideoOutput::Convert(const uint8_t* topRow, ptrdiff_t rowStride) {
  State& s = *state_;
  OutputFrame out;
  if (s.kind == OutputKind::kPictures) {
    const size_t rowBytes = size_t(s.width) * kBytesPerPixel;
    out.pixels_.resize(rowBytes * size_t(s.height));
    for (int32_t y = 0; y < s.height; ++y) {
      std::memcpy(out.pixels_.data() + rowBytes * size_t(y), topRow + static_cast<ptrdiff_t>(y) * rowStride, rowBytes);
    }
    return out;
  }
  {
    std::lock_guard lock(s.spareMutex);
    if (!s.spareFrames.empty()) {
      out.picture_.reset(s.spareFrames.back().release());
      s.spareFrames.pop_back();
    }
  }
  if (!out.picture_) {
    out.picture_.reset(av_frame_alloc());
    if (!out.picture_) throw std::bad_alloc();
    out.picture_->format = s.pixelFormat;
    out.picture_->width = s.width;
    out.picture_->height = s.height;
    if (av_frame_get_buffer(out.picture_.get(), 0) < 0) throw std::bad_alloc();
  }
  AVFrame* f = out.picture_.get();
  // The encoder may still hold on to a picture it was given: then this one
  // gets buffers of its own.
  if (av_frame_make_writable(f) < 0) throw std::bad_alloc();
  if (s.kind == OutputKind::kGif) {
    QuantizeForGif(topRow, rowStride, s.width, s.height, f);
  } else {
    const uint8_t* planes[4] = {topRow};
    const int strides[4] = {static_cast<int>(rowStride)};
    sws_scale(s.scaler.get(), planes, strides, 0, s.height, f->data, f->linesize);
  }
  return out;
}

void VideoOutput::Write(OutputFrame frame) {
  State& s = *state_;
  if (s.kind == OutputKind::kPictures) {
    s.pictures->Write(host::NumberedName(s.path, s.frameCount++), std::move(frame.pixels_));
    return;
  }
  AVFrame* f = frame.picture_.get();
  f->pts = s.frameCount++;
  Encode(s.encoder.get(), f, s.muxer.get(), s.stream, s.packet.get(), s.path);
  std::lock_guard lock(s.spareMutex);
  if (s.spareFrames.size() < kSpareFrames) s.spareFrames.emplace_back(frame.picture_.release());
}

void VideoOutput::Write(const uint8_t* topDownBgr) {
  Write(Convert(topDownBgr, static_cast<ptrdiff_t>(state_->width) * kBytesPerPixel));
}

void VideoOutput::Finish(const std::vector<float>& sound) {
  State& s = *state_;
  if (s.kind == OutputKind::kPictures) s.pictures->Finish();
  if (s.kind != OutputKind::kPictures) {
    // The sound is encoded while the video encoder works off the frames it
    // still holds.
    std::future<EncodedSound> encoding;
    if (s.kind == OutputKind::kVideo && takesSound() && !sound.empty()) {
      encoding = std::async(std::launch::async, [&] { return EncodeSoundTrack(s.format, sound, s.path); });
    }
    EndContainer(s);
    std::optional<EncodedSound> encoded;
    if (encoding.valid()) encoded = encoding.get();
    if (s.kind == OutputKind::kVideo) {
      AddSound(s, encoded ? &*encoded : nullptr);
      s.final->Commit();
    } else {
      s.writing->Commit();
    }
  }
  s.finished = true;
}

}  // namespace tiko::media
