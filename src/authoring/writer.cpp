#include "authoring/writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "codec/encoder.h"
#include "image/layout.h"
#include "package/format.h"

namespace tiko::authoring {
namespace {

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) { WriteU32(out.data() + at, v); }

uint32_t CheckedSize(size_t size) {
  if (size > kMaxFileOffset) throw PackageError("package would exceed 2 GiB");
  return static_cast<uint32_t>(size);
}

}  // namespace

uint32_t MakeStepFlags(const StepModes& m) {
  uint32_t f = 0;
  f = kAdvanceModeField.Put(f, m.advance);
  f = kPictureChangeField.Put(f, m.pictureChange);
  f = kWidthModeField.Put(f, m.width);
  f = kHeightModeField.Put(f, m.height);
  f = kXModeField.Put(f, m.x);
  f = kYModeField.Put(f, m.y);
  f = kOpacityModeField.Put(f, m.opacity);
  f = kAltAdvanceModeField.Put(f, m.altAdvance);
  return f;
}

ActorStep MakeStep(const StepModes& modes, const StepValues& v) {
  ActorStep s{};
  s.flags = MakeStepFlags(modes);
  s.pictureIndex = v.picture;
  s.x = v.x;
  s.y = v.y;
  s.width = v.width;
  s.height = v.height;
  s.opacity = v.opacity;
  s.advanceParam = v.advanceParam;
  s.altAdvanceParam = v.altAdvanceParam;
  return s;
}

PictureDesc MakePicture(uint8_t format, uint8_t maskKind, uint16_t width, uint16_t height,
                        std::vector<uint8_t> data, bool compress) {
  const int64_t pixelSize = PixelDataSize(format, width, height);
  const int64_t maskSize = MaskDataSize(maskKind, width, height);
  if (pixelSize < 0 || !IsMaskKind(maskKind)) throw PackageError("unknown picture layout or mask kind");
  if (static_cast<int64_t>(data.size()) != pixelSize + maskSize) {
    throw PackageError("picture data of " + std::to_string(data.size()) + " bytes, expected " +
                       std::to_string(pixelSize + maskSize));
  }
  if (data.empty()) throw PackageError("a picture needs at least one byte of data");
  PictureDesc p;
  p.entry.pixelFormat = format;
  p.entry.maskKind = maskKind;
  p.entry.width = width;
  p.entry.height = height;
  p.entry.pixelDataSize = static_cast<uint32_t>(pixelSize);
  p.entry.maskDataSize = static_cast<uint32_t>(maskSize);
  p.entry.totalSize = static_cast<uint32_t>(data.size());
  if (compress) {
    std::vector<uint8_t> block(EncodeBlockOutputCapacity(static_cast<uint32_t>(data.size())));
    const uint32_t size = EncodeBlock(data.data(), static_cast<uint32_t>(data.size()), block.data());
    if (size != 0) {
      block.resize(size);
      p.stored = std::move(block);
      p.compressed = true;
      return p;
    }
  }
  p.stored = std::move(data);
  return p;
}

std::vector<uint8_t> WritePackage(const PackageDesc& desc, const WriteOptions& options, PackageLayout* layout) {
  PackageLayout where;
  std::vector<uint8_t> out(kHeaderSize, 0);

  where.actorList = CheckedSize(out.size());
  out.resize(out.size() + kActorListHeadSize, 0);
  PutU32(out, where.actorList + kActorListFieldTag, options.actorListTag);
  PutU32(out, where.actorList + kActorListFieldCount,
         options.actorCount.value_or(static_cast<uint32_t>(desc.actors.size())));
  for (size_t i = 0; i < desc.actors.size(); ++i) {
    const ActorDesc& actor = desc.actors[i];
    if (actor.name.size() > kActorNameUnits) {
      throw PackageError("actor " + std::to_string(i) + ": name longer than 12 UTF-16 units");
    }
    const size_t at = out.size();
    where.actorRecords.push_back(CheckedSize(at));
    out.resize(at + kActorRecordSize, 0);
    PutU32(out, at + kActorFieldTag, options.actorTag);
    for (size_t k = 0; k < actor.name.size(); ++k) {
      WriteU16(out.data() + at + kActorFieldName + 2 * k, static_cast<uint16_t>(actor.name[k]));
    }
    PutU32(out, at + kActorFieldStepIndex, static_cast<uint32_t>(actor.initialStep));
    PutU32(out, at + kActorFieldStepCount, static_cast<uint32_t>(actor.steps.size()));
    const size_t stepsAt = out.size();
    out.resize(stepsAt + actor.steps.size() * kStepSize);
    if (!actor.steps.empty()) std::memcpy(out.data() + stepsAt, actor.steps.data(), actor.steps.size() * kStepSize);
  }

  where.pictureList = CheckedSize(out.size());
  out.resize(out.size() + kPictureListHeadSize, 0);
  PutU32(out, where.pictureList + kPictureListFieldTag, options.pictureListTag);
  PutU32(out, where.pictureList + kPictureListFieldCount,
         options.pictureCount.value_or(static_cast<uint32_t>(desc.pictures.size())));
  where.pictureEntries = CheckedSize(out.size());
  out.resize(out.size() + desc.pictures.size() * kPictureEntrySize, 0);

  // Data offsets are relative to the picture list head (the data base is 0).
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    const PictureDesc& picture = desc.pictures[i];
    PictureEntry entry = picture.entry;
    const size_t at = out.size();
    where.pictureData.push_back(CheckedSize(at));
    entry.storedSize = picture.compressed ? static_cast<uint32_t>(picture.stored.size()) : 0;
    entry.dataOffset = CheckedSize(at) - where.pictureList;
    std::memcpy(out.data() + where.pictureEntries + i * kPictureEntrySize, &entry, sizeof entry);
    out.insert(out.end(), picture.stored.begin(), picture.stored.end());
    CheckedSize(out.size());
  }

  PutU32(out, kHeaderFieldSize, options.headerSize);
  PutU32(out, kHeaderFieldVersion, options.version);
  PutU32(out, kHeaderFieldMagic, options.magic);
  PutU32(out, kHeaderFieldActorList, where.actorList);
  PutU32(out, kHeaderFieldPictureList, where.pictureList);
  PutU32(out, kHeaderFieldDefaultPicture, desc.defaultPicture);
  where.size = CheckedSize(out.size());
  if (layout != nullptr) *layout = std::move(where);
  return out;
}

namespace {

// Bounds-checked little-endian reads over the whole file.
struct Reader {
  const std::vector<uint8_t>& bytes;

  const uint8_t* At(uint64_t offset, uint64_t count, const std::string& what) const {
    if (offset > bytes.size() || count > bytes.size() - offset) {
      throw PackageError(what + " lies beyond the end of the file (offset " + std::to_string(offset) + ", " +
                         std::to_string(count) + " bytes, file " + std::to_string(bytes.size()) + " bytes)");
    }
    return bytes.data() + offset;
  }
  uint32_t U32(uint64_t offset, const std::string& what) const { return ReadU32(At(offset, 4, what)); }
};

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

}  // namespace

PackageDesc ReadPackage(const std::vector<uint8_t>& bytes, PackageHeaderInfo* info) {
  const Reader r{bytes};
  PackageHeaderInfo head;
  r.At(0, kHeaderSize, "header");
  head.headerSize = r.U32(kHeaderFieldSize, "header");
  head.version = r.U32(kHeaderFieldVersion, "header");
  head.magic = r.U32(kHeaderFieldMagic, "header");
  head.actorList = r.U32(kHeaderFieldActorList, "header");
  head.pictureList = r.U32(kHeaderFieldPictureList, "header");
  head.defaultPicture = r.U32(kHeaderFieldDefaultPicture, "header");
  if (head.magic != kPackageMagic) throw PackageError("not a package (no VYRF magic)");
  if (head.headerSize != kHeaderSize) throw PackageError("header size " + std::to_string(head.headerSize) + ", expected 628");
  if (head.version != kFormatVersion) throw PackageError("unsupported format version " + Hex(head.version));

  PackageDesc desc;
  desc.defaultPicture = head.defaultPicture;
  uint64_t at = head.actorList;
  if (r.U32(at + kActorListFieldTag, "actor list") != kActorListTag) throw PackageError("actor list has no ACTL tag");
  const uint32_t actorCount = r.U32(at + kActorListFieldCount, "actor list");
  at += kActorListHeadSize;
  if (actorCount > (bytes.size() - std::min<uint64_t>(at, bytes.size())) / kActorRecordSize) {
    throw PackageError("actor count " + std::to_string(actorCount) + " does not fit in the file");
  }
  for (uint32_t i = 0; i < actorCount; ++i) {
    const std::string what = "actor " + std::to_string(i);
    const uint8_t* record = r.At(at, kActorRecordSize, what);
    if (ReadU32(record + kActorFieldTag) != kActorTag) throw PackageError(what + " has no ACTR tag");
    ActorDesc actor;
    for (uint32_t k = 0; k < kActorNameUnits; ++k) {
      const char16_t c = static_cast<char16_t>(ReadU16(record + kActorFieldName + 2 * k));
      if (c == 0) break;
      actor.name.push_back(c);
    }
    actor.initialStep = static_cast<int32_t>(ReadU32(record + kActorFieldStepIndex));
    const uint32_t stepCount = ReadU32(record + kActorFieldStepCount);
    at += kActorRecordSize;
    const uint8_t* steps = r.At(at, uint64_t{stepCount} * kStepSize, what + " steps");
    actor.steps.resize(stepCount);
    if (stepCount != 0) std::memcpy(actor.steps.data(), steps, size_t{stepCount} * kStepSize);
    at += uint64_t{stepCount} * kStepSize;
    desc.actors.push_back(std::move(actor));
  }

  at = head.pictureList;
  head.dataBase = r.U32(at + kPictureListFieldDataBase, "picture list");
  if (r.U32(at + kPictureListFieldTag, "picture list") != kPictureListTag) {
    throw PackageError("picture list has no BMPL tag");
  }
  const uint32_t pictureCount = r.U32(at + kPictureListFieldCount, "picture list");
  const uint8_t* entries = r.At(at + kPictureListHeadSize, uint64_t{pictureCount} * kPictureEntrySize, "picture entries");
  for (uint32_t i = 0; i < pictureCount; ++i) {
    PictureDesc picture;
    std::memcpy(&picture.entry, entries + size_t{i} * kPictureEntrySize, kPictureEntrySize);
    const PictureEntry& e = picture.entry;
    if (e.totalSize == 0) throw PackageError("picture " + std::to_string(i) + " has a total size of 0");
    const uint64_t offset = uint64_t{head.pictureList} + head.dataBase + e.dataOffset;
    head.pictureOffsets.push_back(offset);
    picture.compressed = e.storedSize != 0;
    const uint64_t count = picture.compressed ? e.storedSize : e.totalSize;
    if (offset <= bytes.size() && count <= bytes.size() - offset) {
      picture.stored.assign(bytes.data() + offset, bytes.data() + offset + count);
    } else {
      picture.missing = true;
    }
    desc.pictures.push_back(std::move(picture));
  }
  if (info != nullptr) *info = std::move(head);
  return desc;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackageError(path + ": cannot open");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw PackageError(path + ": read error");
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw PackageError(path + ": cannot create");
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) throw PackageError(path + ": write error");
}

}  // namespace tiko::authoring
