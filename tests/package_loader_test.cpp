#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "package/format.h"
#include "package/loader.h"
#include "platform/testing/hooks.h"
#include "support/counted_backend.h"
#include "support/package_files.h"

namespace tiko {
namespace {

using authoring::PackageDesc;
using authoring::PackageLayout;
using authoring::WriteOptions;
using authoring::WritePackage;
using test::Load;
using test::TempDir;

// Every test ends with nothing allocated and no file open.
class LoaderTest : public test::CountedBackendTest {
 protected:

  // Loads `bytes` from a file; expects a refusal that leaves nothing behind.
  void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& what) {
    const std::string path = dir_.Write("refused.tiko", bytes);
    Package* package = reinterpret_cast<Package*>(uintptr_t{1});
    EXPECT_EQ(Load(path, &package), STATUS_UNSUCCESSFUL) << what;
    EXPECT_EQ(package, nullptr) << what;
    ExpectNothingHeld(what);
  }

  Package* LoadOk(const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.Write("ok.tiko", bytes);
    Package* package = nullptr;
    EXPECT_EQ(Load(path, &package), STATUS_SUCCESS);
    return package;
  }

  TempDir dir_;
};

void Patch32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) { WriteU32(bytes.data() + at, value); }

TEST_F(LoaderTest, RefusesBadHeadersAndTags) {
  const PackageDesc desc = test::RichPackage();
  struct Case {
    const char* what;
    WriteOptions options;
  };
  std::vector<Case> cases(9);
  cases[0] = {"version 0x00010005", {}};
  cases[0].options.version = 0x00010005;
  cases[1] = {"version 0x00010007", {}};
  cases[1].options.version = 0x00010007;
  cases[2] = {"header size 627", {}};
  cases[2].options.headerSize = 627;
  cases[3] = {"header size 629", {}};
  cases[3].options.headerSize = 629;
  cases[4] = {"magic byte-swapped", {}};
  cases[4].options.magic = FourCC('F', 'R', 'Y', 'V');
  cases[5] = {"actor list tag", {}};
  cases[5].options.actorListTag = FourCC('A', 'C', 'T', 'X');
  cases[6] = {"actor tag", {}};
  cases[6].options.actorTag = FourCC('R', 'T', 'C', 'A');
  cases[7] = {"picture list tag", {}};
  cases[7].options.pictureListTag = FourCC('B', 'M', 'P', 'X');
  cases[8] = {"picture count beyond the file", {}};
  cases[8].options.pictureCount = 1000;
  for (const Case& c : cases) ExpectRefused(WritePackage(desc, c.options), c.what);

  // One bad actor tag in the middle refuses the whole package too.
  PackageLayout layout;
  std::vector<uint8_t> bytes = WritePackage(desc, {}, &layout);
  Patch32(bytes, layout.actorRecords[2] + kActorFieldTag, 0);
  ExpectRefused(bytes, "third actor tag");
}

TEST_F(LoaderTest, EmptyPackageLoads) {
  PackageDesc desc;
  desc.defaultPicture = 0;
  Package* package = LoadOk(WritePackage(desc));
  ASSERT_NE(package, nullptr);
  EXPECT_EQ(package->actorCount, 0u);
  EXPECT_EQ(package->actors, nullptr);
  EXPECT_EQ(package->pictureCount, 0u);
  EXPECT_EQ(package->defaultPicture, -1);
  EXPECT_NE(package->file, 0);
  FreePackage(package);
}

TEST_F(LoaderTest, EyeNamesIgnoreAsciiCaseOnly) {
  const struct {
    std::u16string name;
    int32_t eyeKey;
  } cases[] = {
      {u"$eye1", -1},       {u"$EYE1", -1},       {u"$Eye2", 1},        {u"$eYe2", 1},
      {u"$eye1x", 0},       {u"$eye", 0},         {u"$eye3", 0},        {u"eye1", 0},
      {u"$eye1 ", 0},       {u"", 0},             {u"\u0130eye1", 0},   {u"$eye2\u0000x", 0},
      {u"$eye1234567", 0},
  };
  PackageDesc desc;
  for (const auto& c : cases) desc.actors.push_back({c.name, 0, {ActorStep{}}});
  // A name cut at the first zero unit still counts ("$eye2" then junk after the end).
  desc.actors[11].name = std::u16string(u"$eye2\0x", 7);
  Package* package = LoadOk(WritePackage(desc));
  ASSERT_NE(package, nullptr);
  ASSERT_EQ(package->actorCount, std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Actor& a = package->actors[i];
    const int32_t expected = i == 11 ? 1 : cases[i].eyeKey;
    EXPECT_EQ(a.eyeKey, expected) << "actor " << i;
    EXPECT_EQ(a.x, expected != 0 ? -1000 : 0) << "actor " << i;
    EXPECT_EQ(a.y, expected != 0 ? -1000 : 0) << "actor " << i;
  }
  FreePackage(package);
}

TEST_F(LoaderTest, DefaultPictureOutsideTheTableIsMinusOne) {
  const struct {
    uint32_t field;
    int32_t expected;
  } cases[] = {{0, 0}, {2, 2}, {3, -1}, {4, -1}, {0x7FFFFFFF, -1}, {0x80000000, -1}, {0xFFFFFFFF, -1}};
  for (const auto& c : cases) {
    PackageDesc desc = test::RichPackage();
    desc.defaultPicture = c.field;
    Package* package = LoadOk(WritePackage(desc));
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(package->defaultPicture, c.expected) << c.field;
    FreePackage(package);
  }
}

TEST_F(LoaderTest, ZeroTotalSizeRefusesTheWholePackage) {
  PackageDesc desc = test::RichPackage();
  desc.pictures[2].entry.totalSize = 0;  // no actor needs to use it
  ExpectRefused(WritePackage(desc), "total size 0");
}

TEST_F(LoaderTest, EveryFieldHasItsLoadTimeValue) {
  const PackageDesc desc = test::RichPackage();
  PackageLayout layout;
  const std::vector<uint8_t> bytes = WritePackage(desc, {}, &layout);
  Package* package = LoadOk(bytes);
  ASSERT_NE(package, nullptr);
  ASSERT_EQ(package->actorCount, desc.actors.size());
  for (size_t i = 0; i < desc.actors.size(); ++i) {
    const Actor& a = package->actors[i];
    const auto& d = desc.actors[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(a.width, 10000);
    EXPECT_EQ(a.height, 7500);
    EXPECT_EQ(a.picture, nullptr);
    EXPECT_EQ(a.opacity, 100);
    EXPECT_EQ(a.stepCount, static_cast<int32_t>(d.steps.size()));
    EXPECT_EQ(a.repeatCount, 0);
    EXPECT_EQ(a.altRepeatCount, 0);
    const bool inRange = d.initialStep >= 0 && d.initialStep < static_cast<int32_t>(d.steps.size());
    EXPECT_EQ(a.stepIndex, inRange ? d.initialStep : -1);
    if (d.steps.empty()) {
      EXPECT_EQ(a.steps, nullptr);
    } else {
      ASSERT_NE(a.steps, nullptr);
      // The steps are the file's bytes, unchanged.
      EXPECT_EQ(std::memcmp(a.steps, bytes.data() + layout.actorRecords[i] + kActorRecordSize,
                            d.steps.size() * kStepSize),
                0);
    }
  }
  ASSERT_EQ(package->pictureCount, desc.pictures.size());
  for (uint32_t i = 0; i < package->pictureCount; ++i) {
    const Image& p = package->pictures[i];
    const PictureEntry& e = desc.pictures[i].entry;
    SCOPED_TRACE(i);
    EXPECT_EQ(p.width, e.width);
    EXPECT_EQ(p.height, e.height);
    EXPECT_EQ(p.pixelFormat, e.pixelFormat);
    EXPECT_EQ(p.maskKind, e.maskKind);
    EXPECT_EQ(p.totalSize, static_cast<int32_t>(e.totalSize));
    EXPECT_EQ(p.pixelDataSize, static_cast<int32_t>(e.pixelDataSize));
    EXPECT_EQ(p.maskDataSize, static_cast<int32_t>(e.maskDataSize));
    EXPECT_EQ(p.data, nullptr);
    EXPECT_EQ(p.useCount, 0);
    EXPECT_EQ(p.pictureIndex, i);
    // The stored entry is the file's entry with an absolute data offset.
    EXPECT_EQ(p.storedEntry.dataOffset, layout.pictureData[i]);
    EXPECT_EQ(std::memcmp(&p.storedEntry, bytes.data() + layout.pictureEntries + i * kPictureEntrySize, 48), 0);
  }
  const std::u16string wide = test::Wide(dir_.path() + "/ok.tiko");
  EXPECT_EQ(std::u16string(package->path), wide);
  FreePackage(package);
}

TEST_F(LoaderTest, PictureOffsetsAddHeaderFieldDataBaseAndEntry) {
  const PackageDesc desc = test::RichPackage();
  PackageLayout layout;
  std::vector<uint8_t> bytes = WritePackage(desc, {}, &layout);
  // Move the data base up by 100 and every entry's offset down by 100: the
  // absolute offsets stay.
  Patch32(bytes, layout.pictureList + kPictureListFieldDataBase, 100);
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    const size_t field = layout.pictureEntries + i * kPictureEntrySize + 48;
    Patch32(bytes, field, ReadU32(bytes.data() + field) - 100);
  }
  Package* package = LoadOk(bytes);
  ASSERT_NE(package, nullptr);
  for (uint32_t i = 0; i < package->pictureCount; ++i) {
    EXPECT_EQ(package->pictures[i].storedEntry.dataOffset, layout.pictureData[i]);
  }
  FreePackage(package);

  // Sums at 2^31 and beyond are refused instead of wrapping.
  for (const uint32_t base : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Patch32(bytes, layout.pictureList + kPictureListFieldDataBase, base);
    ExpectRefused(bytes, "data base " + std::to_string(base));
  }
}

TEST_F(LoaderTest, InitialStepIndexOutsideTheScriptHides) {
  const struct {
    int32_t initial;
    size_t steps;
    int32_t expected;
  } cases[] = {{0, 3, 0}, {2, 3, 2}, {3, 3, -1}, {-1, 3, -1}, {-5, 3, -1}, {1000, 3, -1}, {0, 0, -1}, {-1, 0, -1}};
  PackageDesc desc;
  for (const auto& c : cases) desc.actors.push_back({u"a", c.initial, std::vector<ActorStep>(c.steps)});
  Package* package = LoadOk(WritePackage(desc));
  ASSERT_NE(package, nullptr);
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(package->actors[i].stepIndex, cases[i].expected) << i;
  FreePackage(package);
}

TEST_F(LoaderTest, CutInTheTablesIsRefusedAtEveryByte) {
  const PackageDesc desc = test::RichPackage();
  PackageLayout layout;
  const std::vector<uint8_t> bytes = WritePackage(desc, {}, &layout);
  const size_t tablesEnd = layout.pictureData[0];
  for (size_t cut = 0; cut < tablesEnd; ++cut) {
    ExpectRefused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut), "cut at " + std::to_string(cut));
  }
  // Picture data are looked at only when fetched: a cut there still loads.
  Package* package = LoadOk(std::vector<uint8_t>(bytes.begin(), bytes.begin() + tablesEnd));
  ASSERT_NE(package, nullptr);
  FreePackage(package);
}

TEST_F(LoaderTest, CountsTheFileCannotHoldAreRefusedBeforeAllocating) {
  const PackageDesc desc = test::RichPackage();
  PackageLayout layout;
  const std::vector<uint8_t> good = WritePackage(desc, {}, &layout);
  const test::FieldPatch cases[] = {
      {"actor count", layout.actorList + kActorListFieldCount, 0xFFFFFFFF},
      {"actor count", layout.actorList + kActorListFieldCount, 0x7FFFFFFF},
      {"step count", layout.actorRecords[0] + kActorFieldStepCount, 0x40000000},
      {"step count", layout.actorRecords[4] + kActorFieldStepCount, 0xFFFFFFFF},
      {"picture count", layout.pictureList + kPictureListFieldCount, 1000},
      {"picture count", layout.pictureList + kPictureListFieldCount, 0xFFFFFFFF},
      {"actor list offset", kHeaderFieldActorList, 0x80000000},
      {"picture list offset", kHeaderFieldPictureList, 0xFFFFFFF0},
  };
  for (const test::FieldPatch& c : cases) {
    const std::vector<uint8_t> bytes = test::Patched(good, c);
    counting::ResetHeap();
    ExpectRefused(bytes, c.what);
    // The package record and complete actors' steps only: never a table sized
    // by the bad count.
    EXPECT_LE(counting::AllocationCount(), 1u + desc.actors.size() + 1) << c.what;
  }
}

TEST_F(LoaderTest, AllocationFailureAtEveryAllocationRefusesAndFreesAll) {
  const std::string path = dir_.Write("rich.tiko", WritePackage(test::RichPackage()));
  Package* package = nullptr;
  counting::ResetHeap();
  ASSERT_EQ(Load(path, &package), STATUS_SUCCESS);
  const uint64_t allocations = counting::AllocationCount();
  FreePackage(package);
  ASSERT_GT(allocations, 5u);
  for (const bool forever : {false, true}) {
    for (uint64_t n = 1; n <= allocations; ++n) {
      counting::ResetHeap();
      counting::FailAllocation(n, forever);
      package = reinterpret_cast<Package*>(uintptr_t{1});
      EXPECT_EQ(Load(path, &package), STATUS_UNSUCCESSFUL) << n;
      EXPECT_EQ(package, nullptr);
      ExpectNothingHeld("allocation " + std::to_string(n) + (forever ? " and on" : ""));
    }
  }
  counting::FailAllocation(0);
}

TEST_F(LoaderTest, FailingAndShortReadsRefuseAndFreeAll) {
  const std::string path = dir_.Write("rich.tiko", WritePackage(test::RichPackage()));
  Package* package = nullptr;
  counting::ResetFiles();
  ASSERT_EQ(Load(path, &package), STATUS_SUCCESS);
  const uint64_t reads = counting::ReadCount();
  FreePackage(package);
  for (const auto fault : {counting::ReadFault::kFail, counting::ReadFault::kShort}) {
    for (uint64_t n = 1; n <= reads; ++n) {
      counting::ResetFiles();
      counting::FailRead(n, fault);
      EXPECT_EQ(Load(path, &package), STATUS_UNSUCCESSFUL) << n;
      ExpectNothingHeld("read " + std::to_string(n));
    }
  }
}

TEST_F(LoaderTest, MissingFileIsNotCreatedAndLeavesTheSlot) {
  const std::string path = dir_.path() + "/missing.tiko";
  Package* sentinel = reinterpret_cast<Package*>(uintptr_t{16});
  Package* package = sentinel;
  EXPECT_EQ(Load(path, &package), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(package, sentinel);
  EXPECT_FALSE(std::filesystem::exists(path));
  // A directory is not a package either.
  EXPECT_EQ(Load(dir_.path(), &package), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(LoadPackage(nullptr, &package), STATUS_UNSUCCESSFUL);
}

TEST_F(LoaderTest, PathsOf256UnitsOrMoreAreRefused) {
  const std::vector<uint8_t> bytes = WritePackage(test::RichPackage());
  // A directory level keeps every file name below the file system's limit.
  const std::string sub = std::string(120, 'd');
  std::filesystem::create_directory(dir_.path() + "/" + sub);
  const std::string base = dir_.path() + "/" + sub + "/";
  ASSERT_LT(base.size(), 200u);
  for (const size_t length : {255u, 256u, 300u}) {
    const std::string path = base + std::string(length - base.size(), 'p');
    authoring::WriteFileBytes(path, bytes);
    Package* package = nullptr;
    const Status status = Load(path, &package);
    EXPECT_EQ(status, length < 256 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL) << length;
    if (package != nullptr) {
      EXPECT_EQ(std::u16string(package->path).size(), length);
      FreePackage(package);
    }
  }
}

// Package paths come as UTF-16 and reach the file system as UTF-8: every
// width of character and surrogate pairs load the file of that name; a lone
// surrogate is no path at all and creates nothing.
TEST_F(LoaderTest, NonAsciiPathsReachTheirFiles) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows names files in UTF-16 itself: win32_backend_test opens them";
#endif
  const std::vector<uint8_t> bytes = WritePackage(test::RichPackage());
  const std::u16string base = test::Wide(dir_.path() + "/");
  struct Case {
    const char16_t* name;
    const char* utf8;  // the file's name on disk; null for a refused path
  };
  const Case cases[] = {
      {u"caf\u00e9.tiko", "caf\xc3\xa9.tiko"},
      {u"\u65e5\u672c.tiko", "\xe6\x97\xa5\xe6\x9c\xac.tiko"},
      {u"\U0001F600-\U0010FFFF.tiko", "\xf0\x9f\x98\x80-\xf4\x8f\xbf\xbf.tiko"},
      {u"\u007f\u0080\u07ff\u0800\uffff.tiko", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf.tiko"},
      {u"high\xd83d.tiko", nullptr},
      {u"low\xde00.tiko", nullptr},
      {u"end\xd83d", nullptr},
  };
  for (const Case& c : cases) {
    const std::u16string path = base + c.name;
    if (c.utf8 != nullptr) authoring::WriteFileBytes(dir_.path() + "/" + c.utf8, bytes);
    const size_t before = static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_.path()),
                                                            std::filesystem::directory_iterator()));
    Package* package = nullptr;
    EXPECT_EQ(LoadPackage(path.c_str(), &package), c.utf8 != nullptr ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL)
        << (c.utf8 != nullptr ? c.utf8 : "lone surrogate");
    if (package != nullptr) {
      EXPECT_EQ(std::u16string(package->path), path);
      FreePackage(package);
    }
    EXPECT_EQ(static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_.path()),
                                                std::filesystem::directory_iterator())),
              before);
  }
}

TEST(StepFlags, AccessorsReadTheirBitsOnly) {
  const struct {
    uint32_t flags;
    uint32_t advance, pictureChange, width, height, x, y, opacity, altAdvance;
  } cases[] = {
      {0x00000000, 0, 0, 0, 0, 0, 0, 0, 0},
      {0x00003800, 0, 0, 0, 0, 7, 0, 0, 0},  // bits 11-13: XMode 7 only
      {0x00380000, 0, 0, 0, 0, 0, 0, 0, 7},  // bits 19-21: no alternate
      {0x0001C000, 0, 0, 0, 0, 0, 7, 0, 0},
      {0x00060000, 0, 0, 0, 0, 0, 0, 3, 0},
      {0x00000007, 7, 0, 0, 0, 0, 0, 0, 0},
      {0x00000008, 0, 1, 0, 0, 0, 0, 0, 0},
      {0x00000030, 0, 0, 3, 0, 0, 0, 0, 0},
      {0x000000C0, 0, 0, 0, 3, 0, 0, 0, 0},
      {0x00000700, 0, 0, 0, 0, 0, 0, 0, 0},  // unused bits 8-10
      {0xFFC00000, 0, 0, 0, 0, 0, 0, 0, 0},  // unused bits 22-31
      {0xFFFFFFFF, 7, 1, 3, 3, 7, 7, 3, 7},
      {0x0012A85B, 3, 1, 1, 1, 5, 2, 1, 2},
  };
  for (const auto& c : cases) {
    ActorStep s{};
    s.flags = c.flags;
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(AdvanceMode(s), c.advance);
    EXPECT_EQ(PictureChange(s), c.pictureChange);
    EXPECT_EQ(WidthMode(s), c.width);
    EXPECT_EQ(HeightMode(s), c.height);
    EXPECT_EQ(XMode(s), c.x);
    EXPECT_EQ(YMode(s), c.y);
    EXPECT_EQ(OpacityMode(s), c.opacity);
    EXPECT_EQ(AltAdvanceMode(s), c.altAdvance);
    const uint32_t rebuilt = authoring::MakeStepFlags({c.advance, c.pictureChange, c.width, c.height, c.x, c.y,
                                                       c.opacity, c.altAdvance});
    EXPECT_EQ(rebuilt, c.flags & 0x003FF8FFu);
  }
}

TEST(StepFlags, StepRecordIsTheFileLayout) {
  // flags 0x0012A85B, x -2, y 300, width 1, height -1, picture 2, advance 5,
  // alt -3, opacity -100, cue "$ab".
  const uint8_t file[24] = {0x5B, 0xA8, 0x12, 0x00, 0xFE, 0xFF, 0x2C, 0x01, 0x01, 0x00, 0xFF, 0xFF,
                            0x02, 0x00, 0x05, 0x00, 0xFD, 0xFF, 0x9C, '$',  'a',  'b',  0,    0};
  ActorStep s;
  std::memcpy(&s, file, sizeof s);
  EXPECT_EQ(s.flags, 0x0012A85Bu);
  EXPECT_EQ(s.x, -2);
  EXPECT_EQ(s.y, 300);
  EXPECT_EQ(s.width, 1);
  EXPECT_EQ(s.height, -1);
  EXPECT_EQ(s.pictureIndex, 2);
  EXPECT_EQ(s.advanceParam, 5);
  EXPECT_EQ(s.altAdvanceParam, -3);
  EXPECT_EQ(s.opacity, -100);
  EXPECT_EQ(s.cueMarker, '$');
  EXPECT_STREQ(s.cueName, "ab");
}

}  // namespace
}  // namespace tiko
