// The package file layout: sizes, magic values and field offsets. All integers
// in the file are little-endian.
#pragma once

#include <cstdint>

namespace tiko {

// A four-character code is a 32-bit value with the first character in the most
// significant byte, so its characters appear reversed in the file.
constexpr uint32_t FourCC(char a, char b, char c, char d) {
  return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) | (uint32_t(uint8_t(c)) << 8) |
         uint32_t(uint8_t(d));
}

inline constexpr uint32_t kPackageMagic = FourCC('V', 'Y', 'R', 'F');
inline constexpr uint32_t kActorListTag = FourCC('A', 'C', 'T', 'L');
inline constexpr uint32_t kActorTag = FourCC('A', 'C', 'T', 'R');
inline constexpr uint32_t kPictureListTag = FourCC('B', 'M', 'P', 'L');
inline constexpr uint32_t kFormatVersion = 0x00010006u;

inline constexpr uint32_t kHeaderSize = 628;
inline constexpr uint32_t kActorListHeadSize = 16;
inline constexpr uint32_t kActorRecordSize = 52;
inline constexpr uint32_t kStepSize = 24;
inline constexpr uint32_t kPictureListHeadSize = 20;
inline constexpr uint32_t kPictureEntrySize = 52;

// Header fields.
inline constexpr uint32_t kHeaderFieldSize = 0;
inline constexpr uint32_t kHeaderFieldVersion = 4;
inline constexpr uint32_t kHeaderFieldMagic = 8;
inline constexpr uint32_t kHeaderFieldActorList = 12;
inline constexpr uint32_t kHeaderFieldPictureList = 20;
inline constexpr uint32_t kHeaderFieldDefaultPicture = 28;

// Actor list head fields.
inline constexpr uint32_t kActorListFieldTag = 4;
inline constexpr uint32_t kActorListFieldCount = 8;

// Actor record fields.
inline constexpr uint32_t kActorFieldTag = 4;
inline constexpr uint32_t kActorFieldName = 8;
inline constexpr uint32_t kActorNameUnits = 12;
inline constexpr uint32_t kActorFieldStepIndex = 32;
inline constexpr uint32_t kActorFieldStepCount = 40;

// Picture list head fields.
inline constexpr uint32_t kPictureListFieldDataBase = 0;
inline constexpr uint32_t kPictureListFieldTag = 8;
inline constexpr uint32_t kPictureListFieldCount = 12;

// Every offset the player reads at is a signed 32-bit file position.
inline constexpr uint64_t kMaxFileOffset = 0x7FFFFFFFu;

// Path buffers hold this many UTF-16 units, the terminating zero included.
inline constexpr uint32_t kPathUnits = 256;

inline uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void WriteU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace tiko
