#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "package/format.h"
#include "support/package_files.h"

namespace tiko::authoring {
namespace {

bool SameDesc(const PackageDesc& a, const PackageDesc& b) {
  if (a.defaultPicture != b.defaultPicture || a.actors.size() != b.actors.size() ||
      a.pictures.size() != b.pictures.size()) {
    return false;
  }
  for (size_t i = 0; i < a.actors.size(); ++i) {
    const ActorDesc& x = a.actors[i];
    const ActorDesc& y = b.actors[i];
    if (x.name != y.name || x.initialStep != y.initialStep || x.steps.size() != y.steps.size()) return false;
    if (!x.steps.empty() && std::memcmp(x.steps.data(), y.steps.data(), x.steps.size() * kStepSize) != 0) return false;
  }
  for (size_t i = 0; i < a.pictures.size(); ++i) {
    PictureEntry x = a.pictures[i].entry;
    PictureEntry y = b.pictures[i].entry;
    x.dataOffset = y.dataOffset = 0;  // placed by the writer
    x.storedSize = y.storedSize = 0;
    if (std::memcmp(&x, &y, sizeof x) != 0 || a.pictures[i].stored != b.pictures[i].stored ||
        a.pictures[i].compressed != b.pictures[i].compressed) {
      return false;
    }
  }
  return true;
}

TEST(PackageWriter, ReadBackGivesTheSameDescriptionAndBytes) {
  const PackageDesc desc = test::RichPackage();
  const std::vector<uint8_t> bytes = WritePackage(desc);
  PackageHeaderInfo info;
  const PackageDesc back = ReadPackage(bytes, &info);
  EXPECT_TRUE(SameDesc(desc, back));
  EXPECT_EQ(WritePackage(back), bytes);
  EXPECT_EQ(info.headerSize, kHeaderSize);
  EXPECT_EQ(info.version, kFormatVersion);
  EXPECT_EQ(info.magic, kPackageMagic);
  // The magic and the tags appear reversed in the file.
  EXPECT_EQ(std::memcmp(bytes.data() + kHeaderFieldMagic, "FRYV", 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + info.actorList + kActorListFieldTag, "LTCA", 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + info.pictureList + kPictureListFieldTag, "LPMB", 4), 0);
}

TEST(PackageWriter, ReaderNamesWhatIsWrong) {
  PackageLayout layout;
  const std::vector<uint8_t> good = WritePackage(test::RichPackage(), {}, &layout);
  // What is damaged, and the words the reader's message must hold.
  const std::pair<test::FieldPatch, const char*> cases[] = {
      {{"magic", kHeaderFieldMagic, 0}, "not a package"},
      {{"header size", kHeaderFieldSize, 627}, "header size 627"},
      {{"version", kHeaderFieldVersion, 0x00010005}, "version 0x00010005"},
      {{"actor tag", layout.actorRecords[1] + kActorFieldTag, 0}, "actor 1 has no ACTR tag"},
      {{"actor count", layout.actorList + kActorListFieldCount, 0x10000000}, "actor count"},
      {{"picture list", kHeaderFieldPictureList, 0x7FFFFFF0}, "picture list lies beyond"},
      {{"total size", layout.pictureEntries + 40, 0}, "picture 0 has a total size of 0"},
  };
  for (const auto& [patch, message] : cases) {
    try {
      ReadPackage(test::Patched(good, patch));
      ADD_FAILURE() << patch.what << " was accepted";
    } catch (const PackageError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(ReadPackage(std::vector<uint8_t>(good.begin(), good.begin() + 627)), PackageError);
}

TEST(PackageWriter, RefusesNamesLongerThanTheField) {
  PackageDesc desc;
  desc.actors.push_back({u"twelve-units", 0, {}});
  EXPECT_NO_THROW(WritePackage(desc));
  desc.actors.push_back({u"thirteen-unit", 0, {}});
  EXPECT_THROW(WritePackage(desc), PackageError);
}

}  // namespace
}  // namespace tiko::authoring
