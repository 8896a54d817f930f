#include "package/loader.h"

#include <cstring>

#include "package/file.h"
#include "package/heap.h"

namespace tiko {
namespace {

// Where the reads stand in the file, so that every count read from it can be
// checked against the bytes that are left before anything is allocated for it.
struct Cursor {
  uint64_t position;
  uint64_t limit;  // file size, capped at the largest offset a read can use

  // True when `count` records of `size` bytes lie between here and the limit.
  bool Fits(uint64_t count, uint64_t size) const {
    return position <= limit && count <= (limit - position) / size;
  }
};

size_t PathLength(const char16_t* path) {
  size_t n = 0;
  while (n < kPathUnits && path[n] != 0) ++n;
  return n;
}

// The caller guarantees that the record lies inside the file; the read fails
// only on an I/O error, or when the file shrank under us.
Status ReadAt(platform::FileHandle file, void* buffer, uint64_t count, uint64_t offset) {
  return FileReadAt(file, buffer, static_cast<uint32_t>(count), static_cast<int32_t>(offset));
}

void FillActor(Actor* actor, const uint8_t* record, ActorStep* steps, uint32_t stepCount) {
  char16_t name[kActorNameUnits];
  std::memcpy(name, record + kActorFieldName, sizeof name);
  if (ActorNameEquals(name, "$eye1")) {
    actor->eyeKey = kEyeKeyFirst;
  } else if (ActorNameEquals(name, "$eye2")) {
    actor->eyeKey = kEyeKeySecond;
  } else {
    actor->eyeKey = 0;
  }
  const bool eye = actor->eyeKey != 0;
  actor->x = eye ? -1000 : 0;
  actor->y = eye ? -1000 : 0;
  actor->width = kStageWidth;
  actor->height = kStageHeight;
  actor->picture = nullptr;
  actor->opacity = 100;
  actor->stepCount = static_cast<int32_t>(stepCount);
  // A step index is never used outside the script: an actor that would start
  // outside it (every actor without steps included) starts hidden.
  const int32_t initial = static_cast<int32_t>(ReadU32(record + kActorFieldStepIndex));
  actor->stepIndex = (initial >= 0 && initial < actor->stepCount) ? initial : kHidden;
  actor->repeatCount = 0;
  actor->altRepeatCount = 0;
  actor->steps = steps;
}

void ReleaseContents(Package* package) {
  if (package->actors != nullptr) {
    for (uint32_t i = 0; i < package->actorCount; ++i) MemFree(package->actors[i].steps);
    MemFree(package->actors);
  }
  if (package->pictures != nullptr) {
    for (uint32_t i = 0; i < package->pictureCount; ++i) MemFree(package->pictures[i].data);
    MemFree(package->pictures);
  }
}

// Reads the actor list into package->actors; on failure the complete actors
// read so far stay counted so that the caller frees exactly them.
bool LoadActors(Package* package, platform::FileHandle file, Cursor* cursor, uint32_t listOffset) {
  uint8_t head[kActorListHeadSize];
  if (listOffset > kMaxFileOffset) return false;
  cursor->position = listOffset;
  if (!cursor->Fits(1, kActorListHeadSize)) return false;
  if (ReadAt(file, head, kActorListHeadSize, listOffset) != STATUS_SUCCESS) return false;
  if (ReadU32(head + kActorListFieldTag) != kActorListTag) return false;
  cursor->position += kActorListHeadSize;

  const uint32_t count = ReadU32(head + kActorListFieldCount);
  if (count == 0) return true;
  // Every actor takes at least its record, so a count the file cannot hold is
  // refused before the table is allocated.
  if (!cursor->Fits(count, kActorRecordSize)) return false;
  package->actors = static_cast<Actor*>(MemAlloc(size_t{count} * sizeof(Actor), 1));
  if (package->actors == nullptr) return false;

  for (uint32_t i = 0; i < count; ++i) {
    uint8_t record[kActorRecordSize];
    if (!cursor->Fits(1, kActorRecordSize)) return false;
    if (FileReadAt(file, record, kActorRecordSize, -1) != STATUS_SUCCESS) return false;
    if (ReadU32(record + kActorFieldTag) != kActorTag) return false;
    cursor->position += kActorRecordSize;

    const uint32_t stepCount = ReadU32(record + kActorFieldStepCount);
    ActorStep* steps = nullptr;
    if (stepCount != 0) {
      if (!cursor->Fits(stepCount, kStepSize)) return false;
      const uint64_t bytes = uint64_t{stepCount} * kStepSize;
      steps = static_cast<ActorStep*>(MemAlloc(bytes, 0));
      if (steps == nullptr) return false;
      if (FileReadAt(file, steps, static_cast<uint32_t>(bytes), -1) != STATUS_SUCCESS) {
        MemFree(steps);
        return false;
      }
      cursor->position += bytes;
    }
    FillActor(&package->actors[i], record, steps, stepCount);
    ++package->actorCount;
  }
  return true;
}

// Reads the picture table into package->pictures.
bool LoadPictures(Package* package, platform::FileHandle file, Cursor* cursor, uint32_t listOffset) {
  uint8_t head[kPictureListHeadSize];
  if (listOffset > kMaxFileOffset) return false;
  cursor->position = listOffset;
  if (!cursor->Fits(1, kPictureListHeadSize)) return false;
  if (ReadAt(file, head, kPictureListHeadSize, listOffset) != STATUS_SUCCESS) return false;
  if (ReadU32(head + kPictureListFieldTag) != kPictureListTag) return false;
  cursor->position += kPictureListHeadSize;

  const uint32_t count = ReadU32(head + kPictureListFieldCount);
  if (!cursor->Fits(count, kPictureEntrySize)) return false;
  uint8_t* entries = nullptr;
  if (count != 0) {
    entries = static_cast<uint8_t*>(MemAlloc(size_t{count} * kPictureEntrySize, 1));
    if (entries == nullptr) return false;
    if (FileReadAt(file, entries, count * kPictureEntrySize, -1) != STATUS_SUCCESS) {
      MemFree(entries);
      return false;
    }
  }

  bool ok = true;
  package->pictures = static_cast<Image*>(MemAlloc(size_t{count} * sizeof(Image), 1));
  if (package->pictures == nullptr) ok = false;
  const uint64_t dataBase = uint64_t{listOffset} + ReadU32(head + kPictureListFieldDataBase);
  for (uint32_t i = 0; ok && i < count; ++i) {
    PictureEntry entry;
    std::memcpy(&entry, entries + size_t{i} * kPictureEntrySize, sizeof entry);
    if (entry.totalSize == 0) {
      ok = false;
      break;
    }
    // The absolute offset is summed without wrapping; the file reads take a
    // signed 32-bit offset, so anything beyond that cannot be a picture of ours.
    const uint64_t absolute = dataBase + entry.dataOffset;
    if (absolute > kMaxFileOffset) {
      ok = false;
      break;
    }
    entry.dataOffset = static_cast<uint32_t>(absolute);
    Image* image = &package->pictures[i];
    image->width = entry.width;
    image->height = entry.height;
    image->pixelFormat = entry.pixelFormat;
    image->maskKind = entry.maskKind;
    image->totalSize = static_cast<int32_t>(entry.totalSize);
    image->pixelDataSize = static_cast<int32_t>(entry.pixelDataSize);
    image->maskDataSize = static_cast<int32_t>(entry.maskDataSize);
    image->data = nullptr;
    image->useCount = 0;
    image->pictureIndex = i;
    image->storedEntry = entry;
    ++package->pictureCount;
  }
  MemFree(entries);
  return ok;
}

}  // namespace

bool ActorNameEquals(const char16_t name[kActorNameUnits], const char* target) {
  size_t i = 0;
  for (; target[i] != 0; ++i) {
    if (i >= kActorNameUnits) return false;
    char16_t c = name[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<unsigned char>(target[i])) return false;
  }
  // The name must end where the target does (or fill the field exactly).
  return i == kActorNameUnits || name[i] == 0;
}

Status LoadPackage(const char16_t* path, Package** slot) {
  // The path is kept in a 256-unit field with its terminating zero; a longer
  // one is refused rather than cut, so that no other file is ever opened.
  if (path == nullptr || PathLength(path) >= kPathUnits) return STATUS_UNSUCCESSFUL;
  const platform::FileHandle file = FileOpenForRead(path);
  if (file == 0) return STATUS_UNSUCCESSFUL;

  Package* package = nullptr;
  uint8_t header[kHeaderSize];
  const int64_t size = FileSize(file);
  Cursor cursor{0, size < 0 ? 0 : static_cast<uint64_t>(size)};
  if (cursor.limit > kMaxFileOffset + 1) cursor.limit = kMaxFileOffset + 1;

  bool ok = cursor.Fits(1, kHeaderSize) && FileReadAt(file, header, kHeaderSize, 0) == STATUS_SUCCESS &&
            ReadU32(header + kHeaderFieldSize) == kHeaderSize &&
            ReadU32(header + kHeaderFieldMagic) == kPackageMagic &&
            ReadU32(header + kHeaderFieldVersion) == kFormatVersion;
  if (ok) {
    package = static_cast<Package*>(MemAlloc(sizeof(Package), 1));
    ok = package != nullptr;
  }
  if (ok) {
    std::memcpy(package->path, path, (PathLength(path) + 1) * sizeof(char16_t));
    ok = LoadActors(package, file, &cursor, ReadU32(header + kHeaderFieldActorList)) &&
         LoadPictures(package, file, &cursor, ReadU32(header + kHeaderFieldPictureList));
  }
  if (!ok) {
    if (package != nullptr) {
      ReleaseContents(package);
      MemFree(package);
    }
    *slot = nullptr;
    FileClose(file);
    return STATUS_UNSUCCESSFUL;
  }

  const uint32_t defaultPicture = ReadU32(header + kHeaderFieldDefaultPicture);
  package->defaultPicture = defaultPicture < package->pictureCount ? static_cast<int32_t>(defaultPicture) : -1;
  package->file = file;
  *slot = package;
  return STATUS_SUCCESS;
}

void FreePackage(Package* package) {
  if (package == nullptr) return;
  if (package->file != 0) FileClose(package->file);
  ReleaseContents(package);
  MemFree(package);
}

}  // namespace tiko
