// Picture fetch: read on first use, decode, convert, count; every refusal and
// failure leaves the picture so that a later fetch starts again from the file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "image/convert.h"
#include "package/fetch.h"
#include "package/heap.h"
#include "platform/testing/hooks.h"
#include "support/heap_picture.h"
#include "support/counted_backend.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using authoring::PictureDesc;
using Bytes = std::vector<uint8_t>;

using test::RandomBytes;

// The 11-byte block of three literals and a match of 9: 12 bytes "abc" x 4.
const Bytes kSmallBlock = {0x0B, 0x00, 0x00, 0x00, 0x08, 0x00, 0x61, 0x62, 0x63, 0x07, 0x03};
const Bytes kSmallBlockOutput = {0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63, 0x61, 0x62, 0x63};

PictureDesc Described(uint8_t format, uint8_t maskKind, uint16_t width, uint16_t height, uint32_t pixelSize,
                      uint32_t maskSize) {
  PictureDesc p;
  p.entry.pixelFormat = format;
  p.entry.maskKind = maskKind;
  p.entry.width = width;
  p.entry.height = height;
  p.entry.pixelDataSize = pixelSize;
  p.entry.maskDataSize = maskSize;
  p.entry.totalSize = pixelSize + maskSize;
  return p;
}

PictureDesc Raw(uint8_t format, uint8_t maskKind, uint16_t width, uint16_t height, uint32_t pixelSize,
                uint32_t maskSize, uint32_t seed = 1) {
  PictureDesc p = Described(format, maskKind, width, height, pixelSize, maskSize);
  p.stored = RandomBytes(p.entry.totalSize, seed);
  return p;
}

// The same picture stored as one compressed block of its bytes (the bytes are
// made into runs of six so that they shrink; the encoder leaves the last hundred
// or so bytes as literals, so the pictures must be larger than that).
PictureDesc Compressed(PictureDesc p) {
  for (size_t i = 0; i < p.stored.size(); ++i) p.stored[i] = static_cast<uint8_t>(p.stored[i - i % 6] % 4);
  Bytes block(EncodeBlockOutputCapacity(static_cast<uint32_t>(p.stored.size())));
  const uint32_t size = EncodeBlock(p.stored.data(), static_cast<uint32_t>(p.stored.size()), block.data());
  EXPECT_NE(size, 0u);
  block.resize(size);
  p.stored.swap(block);  // p.stored: the block; block: the picture's bytes
  p.compressed = true;
  return p;
}
Bytes Decoded(const PictureDesc& compressed) {
  Bytes out(compressed.entry.totalSize);
  Bytes block = compressed.stored;
  EXPECT_EQ(DecodeBlock(block.data(), uint32_t(block.size()), out.data(), uint32_t(out.size())), out.size());
  return out;
}

Bytes AllOf(const Image& image) { return Bytes(image.data, image.data + image.totalSize); }

class PackageFetchTest : public test::CountedBackendTest {
 protected:
  void TearDown() override {
    FreePackage(package_);
    CountedBackendTest::TearDown();
  }

  // Writes and loads a package of these pictures; `cut` bytes are taken off
  // the end of the file. Counting starts afresh after the load.
  void Open(const std::vector<PictureDesc>& pictures, size_t cut = 0) {
    authoring::PackageDesc desc;
    desc.pictures = pictures;
    Bytes bytes = authoring::WritePackage(desc, {}, &layout_);
    bytes.resize(bytes.size() - cut);
    path_ = dir_.Write("fetch.tiko", bytes);
    ASSERT_EQ(test::Load(path_, &package_), STATUS_SUCCESS);
    counting::ResetHeap();
    counting::ResetFiles();
  }

  // Overwrites bytes of the open package file in place.
  void Patch(uint32_t offset, const Bytes& bytes) {
    std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ASSERT_TRUE(file.good());
  }

  test::TempDir dir_;
  std::string path_;
  authoring::PackageLayout layout_;
  Package* package_ = nullptr;
};

TEST_F(PackageFetchTest, PackageWithoutPictures) {
  Open({});
  for (uint32_t index : {0u, 1u, 0xFFFFFFFFu}) EXPECT_EQ(FetchPicture(package_, index, kFormatBgr24), nullptr);
  EXPECT_EQ(FetchPicture(nullptr, 0, kFormatBgr24), nullptr);
  EXPECT_EQ(counting::ReadCount(), 0u);
}

TEST_F(PackageFetchTest, IndexOutOfRangeNeverTouchesTheFile) {
  Open({Raw(kFormatBgr24, kMaskNone, 2, 2, 12, 0), Raw(kFormatBgr24, kMaskNone, 1, 1, 3, 0)});
  for (uint32_t index : {2u, 3u, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FetchPicture(package_, index, kFormatBgr24), nullptr) << index;
  }
  EXPECT_EQ(counting::ReadCount(), 0u);
  EXPECT_EQ(counting::AllocationCount(), 0u);
}

TEST_F(PackageFetchTest, ReadOnceThenConvertOnEveryFetch) {
  const PictureDesc stored = Raw(kFormatBgr24, kMaskByte, 3, 2, 18, 6);
  Open({stored});
  Image* picture = FetchPicture(package_, 0, kFormatBgr24);
  ASSERT_EQ(picture, &package_->pictures[0]);
  EXPECT_EQ(AllOf(*picture), stored.stored);
  EXPECT_EQ(picture->useCount, 1);
  EXPECT_EQ(counting::ReadCount(), 1u);
  EXPECT_EQ(counting::AllocationCount(), 1u);  // raw: read straight into the picture's block

  uint8_t* const data = picture->data;
  ASSERT_EQ(FetchPicture(package_, 0, kFormatBgr24), picture);
  EXPECT_EQ(picture->useCount, 2);
  EXPECT_EQ(picture->data, data);
  EXPECT_EQ(counting::ReadCount(), 1u);
  EXPECT_EQ(counting::AllocationCount(), 1u);

  // Another layout: converted in place, still not read again.
  ASSERT_EQ(FetchPicture(package_, 0, kFormatYuv420), picture);
  EXPECT_EQ(picture->pixelFormat, kFormatYuv420);
  EXPECT_EQ(picture->pixelDataSize, 6 + 2 * 2);
  EXPECT_EQ(picture->useCount, 3);
  EXPECT_EQ(counting::ReadCount(), 1u);
}

// Every stored layout and mask kind, raw and compressed, fetched in every
// layout: the bytes are those of the stored picture converted.
TEST_F(PackageFetchTest, EveryStoredFormInEveryLayout) {
  const std::vector<PictureDesc> pictures = {
      Raw(kFormatBgr24, kMaskNone, 5, 3, 45, 0),          Raw(kFormatYuv422, kMaskBit, 5, 3, 36, 2),
      Raw(kFormatYuv420, kMaskByte, 5, 3, 15 + 12, 15),   Compressed(Raw(kFormatBgr24, kMaskByte, 20, 12, 720, 240)),
      Compressed(Raw(kFormatYuv422, kMaskNone, 24, 16, 768, 0)),
      Compressed(Raw(kFormatYuv420, kMaskBit, 33, 17, 867, 71)),
  };
  for (uint8_t format : {kFormatBgr24, kFormatYuv422, kFormatYuv420}) {
    Open(pictures);
    for (uint32_t i = 0; i < pictures.size(); ++i) {
      SCOPED_TRACE(::testing::Message() << "picture " << i << " as " << int(format));
      const PictureDesc& p = pictures[i];
      Image expected{};
      expected.width = p.entry.width;
      expected.height = p.entry.height;
      expected.pixelFormat = p.entry.pixelFormat;
      expected.maskKind = p.entry.maskKind;
      expected.pixelDataSize = int32_t(p.entry.pixelDataSize);
      expected.maskDataSize = int32_t(p.entry.maskDataSize);
      expected.totalSize = int32_t(p.entry.totalSize);
      const Bytes bytes = p.compressed ? Decoded(p) : p.stored;
      expected.data = static_cast<uint8_t*>(MemAlloc(bytes.size(), 0));
      std::copy(bytes.begin(), bytes.end(), expected.data);
      ASSERT_EQ(ConvertImage(&expected, format), 1);

      const uint64_t reads = counting::ReadCount();
      Image* picture = FetchPicture(package_, i, format);
      ASSERT_NE(picture, nullptr);
      EXPECT_EQ(counting::ReadCount(), reads + 1);
      EXPECT_EQ(picture->pixelFormat, format);
      EXPECT_EQ(picture->maskKind, p.entry.maskKind);
      EXPECT_EQ(picture->pixelDataSize, expected.pixelDataSize);
      EXPECT_EQ(picture->totalSize, expected.totalSize);
      EXPECT_EQ(AllOf(*picture), AllOf(expected));
      MemFree(expected.data);
    }
    FreePackage(package_);
    package_ = nullptr;
  }
}

// Stored raw, the bytes are taken as they are, even when they look like a
// block; compressed, they are decoded.
TEST_F(PackageFetchTest, RawPicturesAreNotDecoded) {
  PictureDesc raw = Described(kFormatBgr24, kMaskNone, 11, 1, 33, 0);
  raw.stored = kSmallBlock;
  raw.stored.resize(33, 0x11);
  PictureDesc compressed = Described(kFormatBgr24, kMaskNone, 2, 2, 12, 0);
  compressed.stored = kSmallBlock;
  compressed.compressed = true;
  Open({raw, compressed});
  Image* picture = FetchPicture(package_, 0, kFormatBgr24);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(AllOf(*picture), raw.stored);
  EXPECT_EQ(counting::AllocationCount(), 1u);
  picture = FetchPicture(package_, 1, kFormatBgr24);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(AllOf(*picture), kSmallBlockOutput);
  EXPECT_EQ(counting::AllocationCount(), 3u);  // the block, then the picture's bytes
  EXPECT_EQ(package_->pictures[1].storedEntry.storedSize, kSmallBlock.size());
}

TEST_F(PackageFetchTest, ShortDecodeIsAcceptedAndCleared) {
  // 111 x 3 BGR24 = 999 bytes, of which the block makes 12. Up to 11 x 91 =
  // 1001 bytes are possible from 11 bytes of block, so it is not refused.
  PictureDesc p = Described(kFormatBgr24, kMaskNone, 111, 3, 999, 0);
  p.stored = kSmallBlock;
  p.compressed = true;
  Open({p});
  // Leave garbage where the output block is likely to come from.
  void* dirty = MemAlloc(999, 0);
  std::memset(dirty, 0xA5, 999);
  MemFree(dirty);
  Image* picture = FetchPicture(package_, 0, kFormatBgr24);
  ASSERT_NE(picture, nullptr);
  Bytes expected = kSmallBlockOutput;
  expected.resize(999, 0);
  EXPECT_EQ(AllOf(*picture), expected);
  EXPECT_EQ(picture->useCount, 1);
}

// A block that fails to decode (its own length says it is longer than the
// stored size) leaves the picture not loaded; once the file holds a good
// block, the next fetch reads it again and succeeds.
TEST_F(PackageFetchTest, FailedDecodeLeavesThePictureNotLoaded) {
  PictureDesc p = Described(kFormatBgr24, kMaskNone, 2, 2, 12, 0);
  p.stored = kSmallBlock;
  p.stored[0] = 0x0C;
  p.compressed = true;
  Open({p});
  const int64_t live = counting::LiveBlocks();
  EXPECT_EQ(FetchPicture(package_, 0, kFormatBgr24), nullptr);
  EXPECT_EQ(package_->pictures[0].data, nullptr);
  EXPECT_EQ(package_->pictures[0].useCount, 0);
  EXPECT_EQ(counting::LiveBlocks(), live);
  EXPECT_EQ(counting::ReadCount(), 1u);

#if defined(_WIN32)
  // Windows shares an open package for reading only, so nobody can mend the
  // file meanwhile: the next fetch reads it again and fails again.
  std::fstream writer(path_, std::ios::in | std::ios::out | std::ios::binary);
  EXPECT_FALSE(writer.is_open());
  EXPECT_EQ(FetchPicture(package_, 0, kFormatBgr24), nullptr);
  EXPECT_EQ(counting::ReadCount(), 2u);
  EXPECT_EQ(counting::LiveBlocks(), live);
  return;
#endif
  Patch(layout_.pictureData[0], {0x0B});
  Image* picture = FetchPicture(package_, 0, kFormatBgr24);
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(counting::ReadCount(), 2u);
  EXPECT_EQ(AllOf(*picture), kSmallBlockOutput);
  EXPECT_EQ(picture->useCount, 1);
}

TEST_F(PackageFetchTest, FailedReadLeavesThePictureNotLoaded) {
  for (counting::ReadFault fault : {counting::ReadFault::kFail, counting::ReadFault::kShort}) {
    for (bool compressed : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "fault " << int(fault) << " compressed " << compressed);
      PictureDesc p = Raw(kFormatYuv420, kMaskBit, 32, 32, 1536, 128);
      if (compressed) p = Compressed(p);
      Open({p});
      const int64_t live = counting::LiveBlocks();
      counting::FailRead(1, fault);
      EXPECT_EQ(FetchPicture(package_, 0, kFormatBgr24), nullptr);
      EXPECT_EQ(package_->pictures[0].data, nullptr);
      EXPECT_EQ(package_->pictures[0].useCount, 0);
      EXPECT_EQ(counting::LiveBlocks(), live);
      ASSERT_NE(FetchPicture(package_, 0, kFormatBgr24), nullptr);
      EXPECT_EQ(counting::ReadCount(), 2u);
      FreePackage(package_);
      package_ = nullptr;
    }
  }
}

// The fields describe the stored picture again after a load, whatever a
// rescale had made of them before its data were released.
TEST_F(PackageFetchTest, LoadResetsTheCurrentFields) {
  Open({Raw(kFormatYuv422, kMaskByte, 3, 2, 16, 6)});
  Image* slot = &package_->pictures[0];
  slot->width = 1;
  slot->height = 0;
  slot->pixelFormat = kFormatBgr24;
  slot->totalSize = slot->pixelDataSize = slot->maskDataSize = 0;
  Image* picture = FetchPicture(package_, 0, kFormatYuv422);
  ASSERT_EQ(picture, slot);
  EXPECT_EQ(picture->width, 3);
  EXPECT_EQ(picture->height, 2);
  EXPECT_EQ(picture->pixelFormat, kFormatYuv422);
  EXPECT_EQ(picture->pixelDataSize, 16);
  EXPECT_EQ(picture->maskDataSize, 6);
  EXPECT_EQ(picture->totalSize, 22);
}

struct BadEntry {
  const char* what;
  PictureDesc picture;
  size_t cut;  // bytes taken off the end of the file
};

// Entries the player cannot trust are refused before anything is read or
// allocated; the picture stays not loaded and the package usable.
TEST_F(PackageFetchTest, UntrustworthyEntriesAreRefused) {
  auto raw = [](uint8_t format, uint8_t kind, uint16_t w, uint16_t h, uint32_t pixels, uint32_t mask) {
    return Raw(format, kind, w, h, pixels, mask);
  };
  PictureDesc totalTooLarge = raw(kFormatBgr24, kMaskNone, 2, 2, 12, 0);
  totalTooLarge.entry.totalSize = 13;
  totalTooLarge.stored.resize(13);
  PictureDesc beyondBlock = Described(kFormatBgr24, kMaskNone, 334, 1, 1002, 0);  // 11 x 91 = 1001
  beyondBlock.stored = kSmallBlock;
  beyondBlock.compressed = true;
  // 65535 x 65535 x 3 taken modulo 2^32 as the stored sizes.
  const uint32_t wrapped = static_cast<uint32_t>(uint64_t{65535} * 65535 * 3);
  PictureDesc huge = Described(kFormatBgr24, kMaskNone, 65535, 65535, wrapped, 0);
  huge.stored = {0};
  const BadEntry cases[] = {
      {"pixel size one short", raw(kFormatBgr24, kMaskNone, 3, 3, 26, 1), 0},
      {"4:2:2 pixel size of an even width", raw(kFormatYuv422, kMaskNone, 3, 2, 12, 0), 0},
      {"4:2:0 without the chroma's odd edge", raw(kFormatYuv420, kMaskNone, 3, 3, 9 + 2, 0), 0},
      {"bit mask one byte long", raw(kFormatBgr24, kMaskBit, 3, 3, 27, 3), 0},
      {"byte mask sized as bits", raw(kFormatBgr24, kMaskByte, 3, 3, 27, 2), 0},
      {"mask without a kind", raw(kFormatBgr24, kMaskNone, 3, 3, 27, 9), 0},
      {"total not pixel + mask", totalTooLarge, 0},
      {"unknown layout", raw(102, kMaskNone, 2, 2, 12, 0), 0},
      {"unknown mask kind", raw(kFormatBgr24, 2, 2, 2, 12, 1), 0},
      {"raw data past the end of the file", raw(kFormatBgr24, kMaskNone, 2, 2, 12, 0), 1},
      {"block past the end of the file", Compressed(raw(kFormatYuv420, kMaskNone, 64, 16, 1536, 0)), 1},
      {"more than the block can expand to", beyondBlock, 0},
      {"sizes beyond 32 bits", huge, 0},
  };
  for (const BadEntry& c : cases) {
    SCOPED_TRACE(c.what);
    Open({c.picture}, c.cut);
    const int64_t live = counting::LiveBlocks();
    EXPECT_EQ(FetchPicture(package_, 0, kFormatBgr24), nullptr);
    EXPECT_EQ(package_->pictures[0].data, nullptr);
    EXPECT_EQ(package_->pictures[0].useCount, 0);
    EXPECT_EQ(counting::ReadCount(), 0u);
    EXPECT_EQ(counting::AllocationCount(), 0u);
    EXPECT_EQ(counting::LiveBlocks(), live);
    FreePackage(package_);
    package_ = nullptr;
  }
}

// An offset that a read cannot address is refused even when the record was
// set up by someone other than the loader.
TEST_F(PackageFetchTest, OffsetBeyondTheSignedRangeIsRefused) {
  Open({Raw(kFormatBgr24, kMaskNone, 2, 2, 12, 0)});
  package_->pictures[0].storedEntry.dataOffset = 0x80000000u;
  EXPECT_EQ(FetchPicture(package_, 0, kFormatBgr24), nullptr);
  EXPECT_EQ(counting::ReadCount(), 0u);
  EXPECT_EQ(counting::AllocationCount(), 0u);
}

// Exactly 91 bytes out per byte of block is still possible, so it is not
// refused: 333 x 1 in 4:2:2 with a byte mask is 668 + 333 = 1001 = 11 x 91.
TEST_F(PackageFetchTest, FullExpansionIsAccepted) {
  PictureDesc p = Described(kFormatYuv422, kMaskByte, 333, 1, 668, 333);
  p.stored = kSmallBlock;
  p.compressed = true;
  Open({p});
  Image* picture = FetchPicture(package_, 0, kFormatYuv422);
  ASSERT_NE(picture, nullptr);
  Bytes expected = kSmallBlockOutput;
  expected.resize(1001, 0);
  EXPECT_EQ(AllOf(*picture), expected);
}

// Fails each allocation of a first fetch of a compressed 4:2:2 picture as
// BGR24 in turn: the block and the output leave the picture not loaded, the
// conversion leaves it loaded as stored; the next fetch completes either way.
TEST_F(PackageFetchTest, AllocationFailureAtEachStep) {
  const PictureDesc p = Compressed(Raw(kFormatYuv422, kMaskBit, 41, 15, 1260, 77));
  const Bytes stored = Decoded(p);
  enum { kBlock = 1, kOutput, kConvert, kAllocations = kConvert };
  for (uint64_t n = 1; n <= kAllocations; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n);
    Open({p});
    const int64_t live = counting::LiveBlocks();
    counting::FailAllocation(n);
    EXPECT_EQ(FetchPicture(package_, 0, kFormatBgr24), nullptr);
    counting::FailAllocation(0);
    Image* slot = &package_->pictures[0];
    EXPECT_EQ(slot->useCount, 0);
    if (n == kConvert) {
      ASSERT_NE(slot->data, nullptr);
      EXPECT_EQ(slot->pixelFormat, kFormatYuv422);
      EXPECT_EQ(AllOf(*slot), stored);
      EXPECT_EQ(counting::LiveBlocks(), live + 1);
    } else {
      EXPECT_EQ(slot->data, nullptr);
      EXPECT_EQ(counting::LiveBlocks(), live);
    }
    const uint64_t reads = counting::ReadCount();
    ASSERT_EQ(FetchPicture(package_, 0, kFormatBgr24), slot);
    EXPECT_EQ(counting::ReadCount(), reads + (n == kConvert ? 0 : 1));
    EXPECT_EQ(slot->pixelFormat, kFormatBgr24);
    EXPECT_EQ(slot->useCount, 1);
    FreePackage(package_);
    package_ = nullptr;
  }
  // And with nothing failing, exactly those three.
  Open({p});
  ASSERT_NE(FetchPicture(package_, 0, kFormatBgr24), nullptr);
  EXPECT_EQ(counting::AllocationCount(), uint64_t{kAllocations});
}

}  // namespace
}  // namespace tiko
