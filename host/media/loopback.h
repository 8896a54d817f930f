// Where `tiko cam` sends its frames: a v4l2loopback device, which video-call
// programs and browsers see as a camera, fed YUY2 (the format they all
// accept) through libavdevice's video4linux2 output; or, for pipes and
// files, the same YUY2 frames one after another with nothing around them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tiko::media {

enum class LoopbackKind {
  kDevice,  // /dev/videoN of the v4l2loopback module
  kRaw,     // a file or a pipe ("-": standard output) of raw YUY2 frames
};

class LoopbackOutput {
 public:
  // Opens `path` for frames of width x height at `rate` frames a second.
  // A device must be a video device: anything else (a regular file, a
  // folder, a name that does not exist) is refused with the reason. Throws
  // MediaError.
  static LoopbackOutput Open(const std::string& path, LoopbackKind kind, int32_t width, int32_t height, double rate);

  LoopbackOutput(LoopbackOutput&&) noexcept;
  LoopbackOutput& operator=(LoopbackOutput&&) noexcept;
  ~LoopbackOutput();

  // Sends the next frame: top-down BGR24 rows of width * 3 bytes. Throws
  // MediaError when the device or pipe cannot take it.
  void Write(const uint8_t* topDownBgr);
  // Flushes what is left; throws MediaError.
  void Finish();

  struct State;

 private:
  explicit LoopbackOutput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// The v4l2loopback devices there are (/dev/videoN whose driver is
// v4l2loopback), by their names in order; none on a machine without the
// module loaded.
std::vector<std::string> FindLoopbackDevices();

// Bytes of one YUY2 frame as LoopbackOutput writes it: rows of two bytes a
// pixel, an odd width rounded up to a whole pair.
int64_t Yuy2FrameBytes(int32_t width, int32_t height);

}  // namespace tiko::media
