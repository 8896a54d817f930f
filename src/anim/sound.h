// Sound cues: wave files beside the package, started by script steps.
#pragma once

#include "package/records.h"

namespace tiko {

// Room for a cue's path, the terminating zero included.
inline constexpr uint32_t kSoundPathUnits = 260;

// Builds "<package directory>/<first 1 to 3 cue characters>.wav" and starts
// playing it without waiting. A package path without a directory plays the cue
// from the current directory; a path that would not fit is skipped.
void PlaySoundCue(const Package* package, const char cueName[4]);

// The path PlaySoundCue plays, written to `out`; false when it does not fit.
bool BuildSoundCuePath(const char16_t* packagePath, const char cueName[4], char16_t out[kSoundPathUnits]);

}  // namespace tiko
