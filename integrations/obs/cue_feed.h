// The sound cues of a filter's player as the sound of a "tiko cue sounds"
// source, so that they are heard in OBS's mixer, where they can be muted,
// turned down and routed like any source's. A cue starts at the time OBS
// shows the video frame whose render asked for it: OBS's video clock, on
// which audio timestamps are placed too. (A frame's own timestamp is on its
// source's clock, which OBS shifts to its own before showing the frame.)
#pragma once

#include <obs.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "host/media/cue_mix.h"

namespace tiko::obs {

// The id of the audio source the cues are heard through.
inline constexpr const char* kCueSourceId = "tiko_cue_source";

// Registers the cue source with OBS (at module load).
void RegisterCueSource();

class CueFeed {
 public:
  CueFeed() = default;
  ~CueFeed();
  CueFeed(const CueFeed&) = delete;
  CueFeed& operator=(const CueFeed&) = delete;

  // The cue source to feed, by its name; looked for again now and then, so
  // that one added later is found.
  void SetTarget(const std::string& name);
  // A video frame shown at `shownAt` is being rendered, and no frame is
  // shown sooner than `interval` after it (OBS's frame interval): its cues
  // follow.
  void Frame(uint64_t shownAt, uint64_t interval);
  // The render of that frame asked for the wave file at `path`.
  void Cue(const std::string& path);
  // Hands the source the sound up to the next frame's earliest time, so
  // that it reaches OBS ahead of its time.
  void Flush();
  // Stops every cue (a new package, a restart).
  void Stop() { mix_.Stop(); }

 private:
  int64_t SampleOf(uint64_t timestamp) const;
  uint64_t TimeOf(int64_t sample) const;
  void Look(uint64_t now);
  void Output(int64_t from, int32_t frames);

  media::CueMix mix_;
  std::string targetName_;
  obs_weak_source_t* target_ = nullptr;
  uint64_t nextLook_ = 0;
  bool started_ = false;
  uint64_t anchorTime_ = 0;  // a timestamp, and the sample frame it is
  int64_t anchorSample_ = 0;
  uint64_t frameTime_ = 0;   // the frame being rendered
  uint64_t interval_ = 0;
  int64_t next_ = 0;         // the first sample frame not handed out
  std::set<std::string> warned_;
  std::vector<int16_t> buffer_;
};

}  // namespace tiko::obs
