// Where a render goes: a video file (.mp4, .mov, .mkv, .webm, .avi) with a
// sound track, an animated GIF, or numbered PNG files. Every file is written
// unnamed in the output's folder and takes its name only once complete, so a
// failed or stopped render never leaves a file that looks finished.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVFrame;

namespace tiko::media {

enum class OutputKind {
  kVideo,     // a container with a video codec, and a sound track if there is sound
  kGif,       // an animated GIF, without sound
  kPictures,  // numbered PNG files: a pattern with one %d (or %0Nd), numbered from 0
};

// What kind of output `path` asks for, from its name alone.
OutputKind ClassifyOutput(const std::string& path);
// The names a render writes, for messages: ".mp4, .mov, ... or numbered .png files".
std::string KnownOutputs();

// A frame converted for its output, on the thread that has the picture, to
// be written on another. Its buffers go back to the output for later frames.
class OutputFrame {
 public:
  OutputFrame();
  OutputFrame(OutputFrame&&) noexcept;
  OutputFrame& operator=(OutputFrame&&) noexcept;
  ~OutputFrame();

 private:
  friend class VideoOutput;
  struct FreeFrame {
    void operator()(AVFrame* frame) const;
  };
  std::unique_ptr<AVFrame, FreeFrame> picture_;  // video and GIF
  std::vector<uint8_t> pixels_;                  // numbered pictures: top-down BGR24
};

class VideoOutput {
 public:
  // Sets the output up for frames of width x height at `rate` frames a
  // second and starts writing. Throws MediaError when the format is not
  // supported or the file cannot be written.
  static VideoOutput Open(const std::string& path, int32_t width, int32_t height, double rate);

  VideoOutput(VideoOutput&&) noexcept;
  VideoOutput& operator=(VideoOutput&&) noexcept;
  // An output never finished takes its temporary files with it.
  ~VideoOutput();

  OutputKind kind() const;
  // Whether the output can carry sound.
  bool takesSound() const;
  // Encodes the next frame: top-down BGR24 rows of width * 3 bytes.
  void Write(const uint8_t* topDownBgr);
  // The same in two steps, which may run on two threads: the next frame
  // converted from BGR24 rows `rowStride` bytes apart starting with the top
  // line (a negative stride reads a bottom-up frame), then written. Frames
  // are written in the order they were converted; conversions are made one
  // at a time.
  OutputFrame Convert(const uint8_t* topRow, ptrdiff_t rowStride);
  void Write(OutputFrame frame);
  // Ends the output, with `sound` (the mix format, from the first frame's
  // time on) as its sound track when it takes sound and `sound` is not
  // empty, and gives it its name. Throws MediaError.
  void Finish(const std::vector<float>& sound);

  // The encoding state, which only media_output.cpp sees inside.
  struct State;

 private:
  explicit VideoOutput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace tiko::media
