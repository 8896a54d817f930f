// What the render suites share: reading what the tool wrote back with
// FFmpeg's libraries (never with the tool's own code), pixel tests, and the
// small packages and inputs they render.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/image_bitmap.h"
#include "support/run_tool.h"

namespace tiko::test {

namespace fs = std::filesystem;

inline constexpr double kRate = 25;
inline constexpr int kProbeRate = 48000;
// A sample louder than this is sound; the cue's tone peaks at kToneLevel.
inline constexpr float kSilence = 0.02f;
inline constexpr double kToneLevel = 0.5;
inline constexpr double kToneSeconds = 0.1;

// ---- reading media back ---------------------------------------------------

struct Media {
  bool opened = false;
  int64_t videoFrames = 0;
  int width = 0;
  int height = 0;
  double rate = 0;  // the video's average frames a second
  bool hasSound = false;
  std::vector<float> sound;                  // mono, at kProbeRate
  std::vector<std::vector<uint8_t>> frames;  // top-down BGR24, when asked for
};

inline void ReceiveVideo(AVCodecContext* decoder, AVFrame* frame, Media& media, bool keep) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    ++media.videoFrames;
    if (keep) {
      SwsContext* scaler =
          sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                         frame->height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
      std::vector<uint8_t> bgr(static_cast<size_t>(frame->width) * frame->height * 3);
      uint8_t* out[4] = {bgr.data()};
      const int stride[4] = {frame->width * 3};
      sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, out, stride);
      sws_freeContext(scaler);
      media.frames.push_back(std::move(bgr));
    }
    av_frame_unref(frame);
  }
}

inline void ReceiveSound(AVCodecContext* decoder, AVFrame* frame, SwrContext** resampler, Media& media) {
  while (avcodec_receive_frame(decoder, frame) == 0) {
    if (*resampler == nullptr) {
      AVChannelLayout mono;
      av_channel_layout_default(&mono, 1);
      swr_alloc_set_opts2(resampler, &mono, AV_SAMPLE_FMT_FLT, kProbeRate, &frame->ch_layout,
                          static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
      swr_init(*resampler);
    }
    const int room = swr_get_out_samples(*resampler, frame->nb_samples);
    const size_t at = media.sound.size();
    media.sound.resize(at + static_cast<size_t>(room));
    auto* out = reinterpret_cast<uint8_t*>(media.sound.data() + at);
    const int made =
        swr_convert(*resampler, &out, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    media.sound.resize(at + static_cast<size_t>(std::max(made, 0)));
    av_frame_unref(frame);
  }
}

// Opens `path` with libavformat and decodes every stream of it.
inline Media ReadMedia(const std::string& path, bool keepFrames = false) {
  Media media;
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return media;
  if (avformat_find_stream_info(format, nullptr) < 0) {
    avformat_close_input(&format);
    return media;
  }
  media.opened = true;
  const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  media.hasSound = audio >= 0;
  AVCodecContext* decoders[2] = {nullptr, nullptr};
  const int streams[2] = {video, audio};
  for (int i = 0; i < 2; ++i) {
    if (streams[i] < 0) continue;
    const AVCodecParameters* parameters = format->streams[streams[i]]->codecpar;
    decoders[i] = avcodec_alloc_context3(avcodec_find_decoder(parameters->codec_id));
    avcodec_parameters_to_context(decoders[i], parameters);
    avcodec_open2(decoders[i], nullptr, nullptr);
  }
  if (video >= 0) {
    media.width = format->streams[video]->codecpar->width;
    media.height = format->streams[video]->codecpar->height;
    media.rate = av_q2d(format->streams[video]->avg_frame_rate);
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwrContext* resampler = nullptr;
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == video) {
      avcodec_send_packet(decoders[0], packet);
      ReceiveVideo(decoders[0], frame, media, keepFrames);
    } else if (packet->stream_index == audio) {
      avcodec_send_packet(decoders[1], packet);
      ReceiveSound(decoders[1], frame, &resampler, media);
    }
    av_packet_unref(packet);
  }
  if (decoders[0] != nullptr) {
    avcodec_send_packet(decoders[0], nullptr);
    ReceiveVideo(decoders[0], frame, media, keepFrames);
  }
  if (decoders[1] != nullptr) {
    avcodec_send_packet(decoders[1], nullptr);
    ReceiveSound(decoders[1], frame, &resampler, media);
  }
  swr_free(&resampler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  for (AVCodecContext*& decoder : decoders) avcodec_free_context(&decoder);
  avformat_close_input(&format);
  return media;
}

// The first sample time (seconds) from `from` on where the sound is louder
// than silence, or -1.
inline double SoundStartsAt(const std::vector<float>& sound, double from = 0) {
  for (size_t i = static_cast<size_t>(from * kProbeRate); i < sound.size(); ++i) {
    if (std::fabs(sound[i]) > kSilence) return static_cast<double>(i) / kProbeRate;
  }
  return -1;
}

inline float Loudest(const std::vector<float>& sound, double from, double to) {
  float loudest = 0;
  for (size_t i = static_cast<size_t>(from * kProbeRate); i < sound.size() && i < to * kProbeRate; ++i) {
    loudest = std::max(loudest, std::fabs(sound[i]));
  }
  return loudest;
}

struct Bgr {
  uint8_t b, g, r;
};

inline Bgr PixelAt(const std::vector<uint8_t>& topDown, int width, int x, int y) {
  const uint8_t* p = topDown.data() + (static_cast<size_t>(y) * width + x) * 3;
  return Bgr{p[0], p[1], p[2]};
}

inline bool IsRed(Bgr p) { return p.r > 160 && p.g < 90 && p.b < 90; }
inline bool IsGreen(Bgr p) { return p.g > 160 && p.r < 90 && p.b < 90; }
inline bool IsBlue(Bgr p) { return p.b > 160 && p.r < 90 && p.g < 90; }
inline bool IsBlack(Bgr p) { return p.r < 40 && p.g < 40 && p.b < 40; }

// ---- inputs -------------------------------------------------------------------

// A one-colour opaque picture for an actor.
inline authoring::PictureDesc Solid(uint8_t b, uint8_t g, uint8_t r) {
  constexpr uint16_t kSide = 8;
  std::vector<uint8_t> data;
  for (int i = 0; i < kSide * kSide; ++i) data.insert(data.end(), {b, g, r});
  return authoring::MakePicture(kFormatBgr24, kMaskNone, kSide, kSide, std::move(data), false);
}

inline ActorStep Step(const authoring::StepModes& modes) {
  ActorStep s{};
  s.flags = authoring::MakeStepFlags(modes);
  return s;
}

// A red flash over the whole stage after `waitRenders` renders, in the same
// render that plays cue `cue`; then it hides.
inline authoring::PackageDesc FlashPackage(int16_t waitRenders, const char* cue) {
  authoring::PackageDesc desc;
  desc.pictures = {Solid(0, 0, 255)};
  const ActorStep wait = authoring::MakeStep(
      {.advance = kAdvanceRepeat, .pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet,
       .y = kPosSet, .opacity = kOpacitySet, .altAdvance = kAltAdvanceNone},
      {.width = kStageWidth, .height = kStageHeight, .opacity = 0, .advanceParam = waitRenders});
  ActorStep flash = Step({.advance = kAdvanceHide, .opacity = kOpacitySet, .altAdvance = kAltAdvanceNone});
  flash.opacity = 100;
  flash.cueMarker = kCueMarker;
  std::memcpy(flash.cueName, cue, std::min<size_t>(std::strlen(cue), 3));
  desc.actors = {{u"flash", 0, {wait, flash}}};
  return desc;
}

// Green squares follow the first eye, blue ones the second; each is a tenth
// of the stage wide (32 pixels at 320 x 240).
inline authoring::PackageDesc EyePackage() {
  authoring::PackageDesc desc;
  desc.pictures = {Solid(0, 255, 0), Solid(255, 0, 0)};
  ActorStep look =
      Step({.pictureChange = 1, .width = kSizeSet, .height = kSizeProportional, .altAdvance = kAltAdvanceNone});
  look.width = kStageWidth / 10;
  ActorStep second = look;
  second.pictureIndex = 1;
  desc.actors = {{u"$eye1", -1, {look}}, {u"$eye2", -1, {second}}};
  return desc;
}

inline std::string WritePackage(const TempDir& dir, const std::string& name, const authoring::PackageDesc& desc) {
  return dir.Write(name, authoring::WritePackage(desc));
}

// A short tone as a mono 16-bit wave file at 22050 Hz, so that the render
// has to convert it to its own rate and layout.
inline void WriteTone(const std::string& path) {
  constexpr int kWaveRate = 22050;
  constexpr double kPitch = 880;
  const auto count = static_cast<uint32_t>(kToneSeconds * kWaveRate);
  std::vector<int16_t> samples(count);
  for (uint32_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(32767 * kToneLevel * std::sin(2 * M_PI * kPitch * i / kWaveRate));
  }
  const auto u32 = [](std::ofstream& out, uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [](std::ofstream& out, uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  u32(out, 36 + count * 2);
  out.write("WAVEfmt ", 8);
  u32(out, 16);
  u16(out, 1);
  u16(out, 1);
  u32(out, kWaveRate);
  u32(out, kWaveRate * 2);
  u16(out, 2);
  u16(out, 16);
  out.write("data", 4);
  u32(out, count * 2);
  out.write(reinterpret_cast<const char*>(samples.data()), count * 2);
}

// A picture whose top half is red and bottom half blue.
inline std::string WriteSplitPicture(const TempDir& dir, int width, int height) {
  std::vector<uint8_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (y < height / 2) {
        pixels.insert(pixels.end(), {0, 0, 255});
      } else {
        pixels.insert(pixels.end(), {255, 0, 0});
      }
    }
  }
  const std::string path = dir.path() + "/split.png";
  EXPECT_TRUE(host::WritePngFile(path, pixels.data(), width, height));
  return path;
}

// Files in `dir` whose names start with a dot: temporary files left behind.
inline std::vector<std::string> HiddenFiles(const std::string& dir) {
  std::vector<std::string> hidden;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] == '.') hidden.push_back(name);
  }
  return hidden;
}

inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace tiko::test
