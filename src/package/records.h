// The records of a loaded package: pictures, actors and their script steps.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "package/format.h"
#include "platform/platform.h"

namespace tiko {

static_assert(std::endian::native == std::endian::little,
              "step records are used in memory exactly as the file stores them");

// Pixel layouts of a picture (the character codes of 'e', 'g', 'h').
inline constexpr uint8_t kFormatBgr24 = 101;
inline constexpr uint8_t kFormatYuv422 = 103;
inline constexpr uint8_t kFormatYuv420 = 104;

// Kinds of transparency plane; the value is the plane's bits per pixel.
inline constexpr uint8_t kMaskNone = 0;
inline constexpr uint8_t kMaskBit = 1;
inline constexpr uint8_t kMaskByte = 8;

// One step of an actor's script: 24 bytes, the same on disk and in memory.
struct ActorStep {
  uint32_t flags;
  int16_t x;
  int16_t y;
  int16_t width;
  int16_t height;
  int16_t pictureIndex;
  int16_t advanceParam;
  int16_t altAdvanceParam;
  int8_t opacity;
  uint8_t cueMarker;  // '$' plays the cue named by cueName
  char cueName[4];
};
static_assert(sizeof(ActorStep) == kStepSize);
static_assert(offsetof(ActorStep, x) == 4 && offsetof(ActorStep, y) == 6);
static_assert(offsetof(ActorStep, width) == 8 && offsetof(ActorStep, height) == 10);
static_assert(offsetof(ActorStep, pictureIndex) == 12 && offsetof(ActorStep, advanceParam) == 14);
static_assert(offsetof(ActorStep, altAdvanceParam) == 16 && offsetof(ActorStep, opacity) == 18);
static_assert(offsetof(ActorStep, cueMarker) == 19 && offsetof(ActorStep, cueName) == 20);

inline constexpr uint8_t kCueMarker = '$';

// Bit fields of ActorStep::flags.
struct StepField {
  uint32_t shift;
  uint32_t bits;
  constexpr uint32_t Get(uint32_t flags) const { return (flags >> shift) & ((1u << bits) - 1); }
  constexpr uint32_t Put(uint32_t flags, uint32_t value) const {
    const uint32_t mask = ((1u << bits) - 1) << shift;
    return (flags & ~mask) | ((value << shift) & mask);
  }
};
inline constexpr StepField kAdvanceModeField{0, 3};
inline constexpr StepField kPictureChangeField{3, 1};
inline constexpr StepField kWidthModeField{4, 2};
inline constexpr StepField kHeightModeField{6, 2};
inline constexpr StepField kXModeField{11, 3};
inline constexpr StepField kYModeField{14, 3};
inline constexpr StepField kOpacityModeField{17, 2};
inline constexpr StepField kAltAdvanceModeField{19, 3};

constexpr uint32_t AdvanceMode(const ActorStep& s) { return kAdvanceModeField.Get(s.flags); }
constexpr uint32_t PictureChange(const ActorStep& s) { return kPictureChangeField.Get(s.flags); }
constexpr uint32_t WidthMode(const ActorStep& s) { return kWidthModeField.Get(s.flags); }
constexpr uint32_t HeightMode(const ActorStep& s) { return kHeightModeField.Get(s.flags); }
constexpr uint32_t XMode(const ActorStep& s) { return kXModeField.Get(s.flags); }
constexpr uint32_t YMode(const ActorStep& s) { return kYModeField.Get(s.flags); }
constexpr uint32_t OpacityMode(const ActorStep& s) { return kOpacityModeField.Get(s.flags); }
constexpr uint32_t AltAdvanceMode(const ActorStep& s) { return kAltAdvanceModeField.Get(s.flags); }

// Advance modes; every value not named here advances to the next step.
inline constexpr uint32_t kAdvanceJump = 1;
inline constexpr uint32_t kAdvanceSkip = 2;
inline constexpr uint32_t kAdvanceRepeat = 3;
inline constexpr uint32_t kAdvanceHide = 6;
inline constexpr uint32_t kAltAdvanceNone = 7;

// Size modes (width and height).
inline constexpr uint32_t kSizeKeep = 0;
inline constexpr uint32_t kSizeProportional = 1;
inline constexpr uint32_t kSizeSet = 2;
inline constexpr uint32_t kSizeAdd = 3;

// Position modes (x and y); 6 and 7 keep.
inline constexpr uint32_t kPosKeep = 0;
inline constexpr uint32_t kPosSet = 1;
inline constexpr uint32_t kPosAdd = 2;
inline constexpr uint32_t kPosWrap = 3;
inline constexpr uint32_t kPosClamp = 4;
inline constexpr uint32_t kPosBounce = 5;

// Opacity modes; 3 keeps.
inline constexpr uint32_t kOpacityKeep = 0;
inline constexpr uint32_t kOpacitySet = 1;
inline constexpr uint32_t kOpacityAddClamp = 2;

// A picture entry of the package file, 52 bytes. In an Image's stored entry
// the data offset is absolute.
struct PictureEntry {
  uint8_t reserved[24];
  uint8_t pixelFormat;
  uint8_t maskKind;
  uint8_t reserved2[2];
  uint16_t width;
  uint16_t height;
  uint32_t pixelDataSize;
  uint32_t maskDataSize;
  uint32_t totalSize;
  uint32_t storedSize;  // bytes of the compressed block; 0: stored raw
  uint32_t dataOffset;
};
static_assert(sizeof(PictureEntry) == kPictureEntrySize);
static_assert(offsetof(PictureEntry, pixelFormat) == 24 && offsetof(PictureEntry, width) == 28);
static_assert(offsetof(PictureEntry, pixelDataSize) == 32 && offsetof(PictureEntry, dataOffset) == 48);

// One picture in memory: its present state, and the entry it was loaded from.
struct Image {
  int32_t width;
  int32_t height;
  uint8_t pixelFormat;
  uint8_t maskKind;
  int32_t totalSize;
  int32_t pixelDataSize;
  int32_t maskDataSize;
  uint8_t* data;  // pixel data, then the transparency plane; null while not loaded
  int32_t useCount;
  uint32_t pictureIndex;
  PictureEntry storedEntry;
};

// An actor: a picture placed on the stage (10000 x 7500 units, y upward).
struct Actor {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
  Image* picture;  // an entry of the package's picture table, not owned
  int32_t eyeKey;  // -1 "$eye1", 1 "$eye2", 0 any other actor
  int32_t opacity;
  int32_t stepIndex;  // -1: hidden
  int32_t stepCount;
  int32_t repeatCount;
  int32_t altRepeatCount;
  ActorStep* steps;
};

inline constexpr int32_t kHidden = -1;
inline constexpr int32_t kStageWidth = 10000;
inline constexpr int32_t kStageHeight = 7500;
inline constexpr int32_t kEyeKeyFirst = -1;
inline constexpr int32_t kEyeKeySecond = 1;

// A loaded package. The file stays open until FreePackage.
struct Package {
  char16_t path[kPathUnits];
  platform::FileHandle file;
  uint32_t pictureCount;
  Image* pictures;
  uint32_t actorCount;
  Actor* actors;
  int32_t defaultPicture;
};

}  // namespace tiko
