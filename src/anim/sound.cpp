#include "anim/sound.h"

#include "platform/platform.h"

namespace tiko {

bool BuildSoundCuePath(const char16_t* packagePath, const char cueName[4], char16_t out[kSoundPathUnits]) {
  // The name goes where the package's file name begins: after the last
  // separator, or at the start when the path names no directory.
  uint32_t nameAt = 0;
  uint32_t length = 0;
  for (; length < kPathUnits && packagePath[length] != 0; ++length) {
    if (packagePath[length] == u'/' || packagePath[length] == u'\\') nameAt = length + 1;
  }
  if (length >= kPathUnits) return false;
  static constexpr char16_t kExtension[] = u".wav";
  uint32_t cueLength = 0;
  while (cueLength < 3 && cueName[cueLength] != 0) ++cueLength;
  const uint32_t total = nameAt + cueLength + 4 + 1;
  if (total > kSoundPathUnits) return false;
  for (uint32_t i = 0; i < nameAt; ++i) out[i] = packagePath[i];
  uint32_t at = nameAt;
  // Each cue byte becomes one code unit by sign extension, as packages have
  // always been played.
  for (uint32_t i = 0; i < cueLength; ++i) {
    out[at++] = static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(cueName[i])));
  }
  for (const char16_t c : kExtension) out[at++] = c;
  return true;
}

void PlaySoundCue(const Package* package, const char cueName[4]) {
  char16_t path[kSoundPathUnits];
  if (BuildSoundCuePath(package->path, cueName, path)) platform::PlayWave(path);
}

}  // namespace tiko
