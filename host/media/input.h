// The frames a render lays its effects over: from a video file, a picture, a
// camera or a generated test source, decoded with FFmpeg's libraries and
// scaled to the render's size as bottom-up BGR24, the player's layout.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tiko::media {

enum class InputKind {
  kFile,       // a video file, or a numbered picture sequence ("shot_%03d.png")
  kPicture,    // one PNG or JPEG picture, shown for every frame
  kCamera,     // /dev/videoN
  kGenerated,  // a test source: "testsrc", "smptebars=size=640x480", "lavfi:GRAPH"
};

// What kind of input `spec` names, from its form alone.
InputKind ClassifyInput(const std::string& spec);

class VideoInput {
 public:
  // Opens `spec` for frames of width x height, or of the input's own size
  // when width and height are 0 (320 x 240 for a source without one). A
  // generated source makes its frames at `rate` unless its options say
  // otherwise. Throws MediaError.
  static VideoInput Open(const std::string& spec, int32_t width, int32_t height, double rate);
  // A picture file shown for every frame, at its own size when width and
  // height are 0. Throws MediaError.
  static VideoInput OpenPicture(const std::string& path, int32_t width, int32_t height);

  VideoInput(VideoInput&&) noexcept;
  VideoInput& operator=(VideoInput&&) noexcept;
  ~VideoInput();

  InputKind kind() const;
  // The size of the frames handed out.
  int32_t width() const;
  int32_t height() const;
  // What the input is called in messages: its file name, "camera /dev/video0", ...
  const std::string& name() const;
  // Whether the input goes on until stopped (pictures, cameras, generated
  // sources), so that a render needs its own frame count.
  bool endless() const;
  // The input's own frame rate, when it has one. A stream whose frames come
  // at varying times gives its average rate rounded to the nearest common
  // rate (24, 25, 30000/1001, 30, 50, 60, ...).
  std::optional<double> rate() const;
  // How long the input says it lasts, when it says.
  std::optional<double> statedSeconds() const;
  // How many frames of the given rate the input lasts, when its length is known.
  std::optional<int64_t> FrameCount(double rate) const;
  // Packets that failed to decode and were skipped, as players skip them.
  int64_t skippedVideoPackets() const;
  int64_t skippedSoundPackets() const;
  bool hasAudio() const;

  // The picture the input shows at `time` seconds from its first frame, for
  // an output of `rate` frames a second: bottom-up BGR24 of the size asked
  // for at open, valid until the next call; null once the input has ended.
  const std::vector<uint8_t>* FrameAt(double time, double rate);
  // The same picture converted straight into `bottomUp`, whose rows lie
  // `rowBytes` apart (at least the width's 3 bytes a pixel): a host that
  // lays the frame into a larger one saves a copy. False once the input has
  // ended.
  bool FrameInto(double time, double rate, uint8_t* bottomUp, size_t rowBytes);

  // The input's sound from its first frame's time to `endTime` seconds, in
  // the mix format (reading on as far as needed); empty when it has none.
  std::vector<float> TakeAudio(double endTime);

  // The decoding state, which only media_input.cpp sees inside.
  struct State;

 private:
  explicit VideoInput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace tiko::media
