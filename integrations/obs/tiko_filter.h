// The "tiko effects" filter: a package's effects laid over the frames of an
// asynchronous video source (a camera, a media file), through the player's
// public interface with a memory window of its own, so that what OBS shows is
// the player's presented frame.
#pragma once

namespace tiko::obs {

inline constexpr const char* kFilterId = "tiko_filter";

// Registers the filter with OBS (at module load).
void RegisterFilter();

}  // namespace tiko::obs
