// The frames a render lays its effects over: from a video file, a picture, a
// camera or a generated test source, decoded with FFmpeg's libraries and
// scaled to the render's size as bottom-up BGR24, the player's layout.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tiko::tool {

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
  // Opens `spec` for frames of width x height. A generated source makes its
  // frames at `rate` unless its options say otherwise. Throws MediaError.
  static VideoInput Open(const std::string& spec, int32_t width, int32_t height, double rate);
  // A picture file shown for every frame. Throws MediaError.
  static VideoInput OpenPicture(const std::string& path, int32_t width, int32_t height);

  VideoInput(VideoInput&&) noexcept;
  VideoInput& operator=(VideoInput&&) noexcept;
  ~VideoInput();

  InputKind kind() const;
  // Whether the input goes on until stopped (pictures, cameras, generated
  // sources), so that a render needs its own frame count.
  bool endless() const;
  // The input's own frame rate, when it has one.
  std::optional<double> rate() const;
  // How many frames of the given rate the input lasts, when its length is known.
  std::optional<int64_t> FrameCount(double rate) const;
  bool hasAudio() const;

  // The picture the input shows at `time` seconds from its first frame, for
  // an output of `rate` frames a second: bottom-up BGR24 of the size asked
  // for at open, valid until the next call; null once the input has ended.
  const std::vector<uint8_t>* FrameAt(double time, double rate);

  // The input's sound from its first frame's time to `endTime` seconds, in
  // the mix format (reading on as far as needed); empty when it has none.
  std::vector<float> TakeAudio(double endTime);

  // The decoding state, which only media_input.cpp sees inside.
  struct State;

 private:
  explicit VideoInput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace tiko::tool
