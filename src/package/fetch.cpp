#include "package/fetch.h"

#include <cstring>

#include "codec/decoder.h"
#include "image/convert.h"
#include "image/layout.h"
#include "package/format.h"
#include "package/file.h"
#include "package/heap.h"

namespace tiko {
namespace {

// True when the stored entry describes a picture that the rest of the player
// can walk without ever leaving its block: a known layout and mask kind, data
// sizes exactly those of the size rules, and data that lie inside the file
// and, when compressed, a block that can expand to the total size at all.
bool EntryIsSound(const PictureEntry& entry, platform::FileHandle file) {
  if (!IsPixelFormat(entry.pixelFormat) || !IsMaskKind(entry.maskKind)) return false;
  const int64_t pixels = PixelDataSize(entry.pixelFormat, entry.width, entry.height);
  const int64_t mask = MaskDataSize(entry.maskKind, entry.width, entry.height);
  if (pixels == kNoSize || mask == kNoSize) return false;
  if (entry.pixelDataSize != uint64_t(pixels) || entry.maskDataSize != uint64_t(mask)) return false;
  if (uint64_t{entry.totalSize} != uint64_t(pixels + mask) || entry.totalSize > uint64_t(kMaxDataSize)) return false;
  if (entry.storedSize != 0 && entry.totalSize > DecodeBlockMaxOutput(entry.storedSize)) return false;
  // The loader makes the offset absolute and keeps it within what a read can
  // address; a record patched by anyone else is held to the same rule.
  if (entry.dataOffset > kMaxFileOffset) return false;
  const uint64_t bytes = entry.storedSize != 0 ? entry.storedSize : entry.totalSize;
  const int64_t fileSize = FileSize(file);
  return fileSize >= 0 && uint64_t{entry.dataOffset} + bytes <= uint64_t(fileSize);
}

// Reads (and decodes) the stored picture; the picture takes the block and the
// stored entry's layout and sizes only when everything has succeeded.
bool LoadPicture(Package* package, Image* picture) {
  const PictureEntry& entry = picture->storedEntry;
  if (!EntryIsSound(entry, package->file)) return false;
  const uint32_t bytes = entry.storedSize != 0 ? entry.storedSize : entry.totalSize;
  uint8_t* stored = static_cast<uint8_t*>(MemAlloc(bytes, 0));
  if (stored == nullptr) return false;
  if (FileReadAt(package->file, stored, bytes, static_cast<int32_t>(entry.dataOffset)) != STATUS_SUCCESS) {
    MemFree(stored);
    return false;
  }
  uint8_t* data = stored;
  if (entry.storedSize != 0) {
    data = static_cast<uint8_t*>(MemAlloc(entry.totalSize, 0));
    const uint32_t produced = data == nullptr ? 0 : DecodeBlock(stored, entry.storedSize, data, entry.totalSize);
    MemFree(stored);
    if (produced == 0) {
      MemFree(data);
      return false;
    }
    // A block that decodes short is accepted; what it did not produce reads
    // as zero rather than as whatever the heap held.
    std::memset(data + produced, 0, entry.totalSize - produced);
  }
  picture->data = data;
  picture->pixelFormat = entry.pixelFormat;
  picture->width = entry.width;
  picture->height = entry.height;
  picture->totalSize = static_cast<int32_t>(entry.totalSize);
  picture->pixelDataSize = static_cast<int32_t>(entry.pixelDataSize);
  picture->maskDataSize = static_cast<int32_t>(entry.maskDataSize);
  return true;
}

}  // namespace

Image* FetchPicture(Package* package, uint32_t index, uint8_t format) {
  if (package == nullptr || index >= package->pictureCount) return nullptr;
  Image* picture = &package->pictures[index];
  if (picture->data == nullptr && !LoadPicture(package, picture)) return nullptr;
  if (ConvertImage(picture, format) == 0) return nullptr;
  // The count is never read; it wraps rather than overflow.
  picture->useCount = static_cast<int32_t>(static_cast<uint32_t>(picture->useCount) + 1u);
  return picture;
}

}  // namespace tiko
