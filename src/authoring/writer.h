// Package authoring: building package files from actors, steps and stored
// picture bytes, and reading them back into the same description. Used by the
// tools and the tests, never by the player. Malformed files can be made on
// purpose through WriteOptions and the offsets that WritePackage reports.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/records.h"

namespace tiko::authoring {

// Bad input to the writer or a file the reader cannot take.
class PackageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ActorDesc {
  std::u16string name;  // at most 12 UTF-16 units
  int32_t initialStep = 0;
  std::vector<ActorStep> steps;
};

struct PictureDesc {
  // Layout, mask kind, size and data sizes of the stored picture. The writer
  // fills storedSize and dataOffset; the reader reports the entry as stored,
  // with a relative data offset.
  PictureEntry entry{};
  // The bytes in the file: total-size raw bytes, or one compressed block.
  std::vector<uint8_t> stored;
  bool compressed = false;
  // Set by the reader when the data lie beyond the end of the file (the
  // player still loads such a package; only that picture is missing).
  bool missing = false;
};

// A picture entry for `data` (pixel data then the transparency plane of a
// width x height picture in `format` with `maskKind`), stored compressed when
// `compress` is set and the block comes out smaller. Throws PackageError when
// the data size disagrees with the layout's size rules.
PictureDesc MakePicture(uint8_t format, uint8_t maskKind, uint16_t width, uint16_t height,
                        std::vector<uint8_t> data, bool compress);

struct PackageDesc {
  uint32_t defaultPicture = 0;
  std::vector<ActorDesc> actors;
  std::vector<PictureDesc> pictures;
};

// Overrides for writing files the loader must refuse.
struct WriteOptions {
  uint32_t headerSize = kHeaderSize;
  uint32_t version = kFormatVersion;
  uint32_t magic = kPackageMagic;
  uint32_t actorListTag = kActorListTag;
  uint32_t actorTag = kActorTag;
  uint32_t pictureListTag = kPictureListTag;
  std::optional<uint32_t> actorCount;    // written instead of the real count
  std::optional<uint32_t> pictureCount;  // written instead of the real count
};

// Where the parts of a written file lie.
struct PackageLayout {
  uint32_t actorList = 0;
  std::vector<uint32_t> actorRecords;
  uint32_t pictureList = 0;
  uint32_t pictureEntries = 0;
  std::vector<uint32_t> pictureData;  // absolute offsets
  uint32_t size = 0;
};

// Lays out the file as header, actor list, picture table, picture data.
// Throws PackageError on a description that cannot be written.
std::vector<uint8_t> WritePackage(const PackageDesc& desc, const WriteOptions& options = {},
                                  PackageLayout* layout = nullptr);

// What the reader found besides the description.
struct PackageHeaderInfo {
  uint32_t headerSize = 0;
  uint32_t version = 0;
  uint32_t magic = 0;
  uint32_t actorList = 0;
  uint32_t pictureList = 0;
  uint32_t defaultPicture = 0;
  uint32_t dataBase = 0;
  std::vector<uint64_t> pictureOffsets;  // absolute, one per picture
};

// Reads a whole package file. Throws PackageError naming what is wrong.
PackageDesc ReadPackage(const std::vector<uint8_t>& bytes, PackageHeaderInfo* info = nullptr);

// Step flags from their fields (each value cut to its field's width).
struct StepModes {
  uint32_t advance = 0;
  uint32_t pictureChange = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t opacity = 0;
  uint32_t altAdvance = kAltAdvanceNone;
};
uint32_t MakeStepFlags(const StepModes& modes);

// A step's numbers besides its flags, for steps written in code.
struct StepValues {
  int16_t picture = 0, x = 0, y = 0, width = 0, height = 0;
  int8_t opacity = 0;
  int16_t advanceParam = 0, altAdvanceParam = 0;
};
ActorStep MakeStep(const StepModes& modes, const StepValues& values = {});

// Reads a whole file; throws PackageError naming the file on failure.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace tiko::authoring
