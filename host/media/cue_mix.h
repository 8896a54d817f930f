// Sound cues mixed as they happen, for live hosts that hand their sound out
// in blocks (a pipeline's audio pad, a streaming program's audio source): a
// cue starts at a sample frame of the mix's own timeline, and any stretch of
// the timeline can be pulled as interleaved stereo 16-bit samples at kMixRate,
// silence where no cue plays. Not thread-safe: one thread starts and pulls,
// or the host locks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tiko::media {

class CueMix {
 public:
  // Starts the sound file at `path` at sample frame `at`. A file is decoded
  // the first time it is asked for and kept; one that cannot be read throws
  // MediaError naming it (and is not tried again: later starts of it throw
  // the same error at once).
  void Start(const std::string& path, int64_t at);
  // Writes sample frames [from, from + frames) of the mix into `out`
  // (frames * 2 samples), and forgets the cues that end before from + frames.
  // Pulls are expected in increasing order; a pull of the past only hears the
  // cues still kept.
  void Pull(int64_t from, int32_t frames, int16_t* out);
  // Stops every cue (a seek, a new package); decoded files stay kept.
  void Stop() { playing_.clear(); }
  // Whether any cue still sounds at or after sample frame `at`.
  bool SoundsAfter(int64_t at) const;

 private:
  struct Sound {
    std::vector<float> samples;  // interleaved stereo
    std::string error;           // why the file could not be read, or empty
  };
  struct Playing {
    std::shared_ptr<const Sound> sound;
    int64_t at;
  };
  static int64_t EndOf(const Playing& cue);  // the sample frame after its last
  std::map<std::string, std::shared_ptr<const Sound>> sounds_;
  std::vector<Playing> playing_;
};

// One float sample of the mix as a 16-bit sample, clipped.
int16_t ToS16(float sample);

}  // namespace tiko::media
