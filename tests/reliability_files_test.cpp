// File faults under a playing player: the show's package cut at every byte,
// cut under the player between the load and the first fetch, every read
// failing or coming back short in turn, and picture data offsets beyond the
// end of the file or at 2^31. The outcome is always a refused load or an
// actor without a picture, never a crash (the sanitizer builds watch every
// read), and nothing is left allocated or open.
//
// "Only that picture is missing" is checked against a second way of losing
// exactly the same pictures: the whole file with those pictures' data offsets
// moved past its end. Both must give the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "package/format.h"
#include "platform/testing/hooks.h"
#include "player/player.h"
#include "reliability.h"
#include "support/counted_backend.h"
#include "support/package_files.h"
#include "tiko/tiko.h"

namespace tiko {
namespace {

using Bytes = std::vector<uint8_t>;
using reliability::FingerprintWindow;

constexpr int32_t kWidth = 80;
constexpr int32_t kHeight = 60;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 3;
// Enough frames for every picture of the show to be fetched: the stripe's
// second look comes at frame 14.
constexpr int32_t kFrames = 40;
constexpr uint32_t kEntryFieldDataOffset = 48;

// What a player made of a package file.
struct Playback {
  int32_t opened = 0;
  uint32_t lastError = 0;
  std::vector<uint64_t> prints;
  uint32_t loaded = 0;  // pictures in memory at the end, one bit each
};

uint32_t LoadedPictures(const CTikoPlayer* player) {
  const Package* package = static_cast<const CVyrWindow*>(player)->package;
  uint32_t bits = 0;
  for (uint32_t i = 0; package != nullptr && i < package->pictureCount && i < 32; ++i) {
    if (package->pictures[i].data != nullptr) bits |= 1u << i;
  }
  return bits;
}

class ReliabilityFiles : public test::CountedBackendTest {
 protected:
  void SetUp() override {
    CountedBackendTest::SetUp();
    show_ = authoring::WritePackage(test::ShowPackage(), {}, &layout_);
    pictures_ = static_cast<uint32_t>(layout_.pictureData.size());
    for (uint32_t i = 0; i < pictures_; ++i) stored_.push_back(test::ShowPackage().pictures[i].stored.size());
    tablesEnd_ = layout_.pictureEntries + pictures_ * kPictureEntrySize;
    hostFrame_.resize(kFrameBytes);
    for (size_t i = 0; i < kFrameBytes; ++i) hostFrame_[i] = static_cast<uint8_t>(i * 5 + (i >> 8));
  }
  // Plays the package at `path` for kFrames frames with eye reports;
  // `between` runs after the open, before the first render.
  template <typename Between>
  Playback Play(const std::string& path, Between between) {
    Playback p;
    FingerprintWindow window(kWidth, kHeight);
    CTikoPlayer* player = TikoGetInterface();
    EXPECT_NE(player, nullptr);
    if (player == nullptr) return p;
    const std::u16string wide = test::Wide(path);
    p.opened = player->OpenSized(&window, wide.c_str(), nullptr, kWidth, kHeight);
    if (p.opened == 0) p.lastError = TikoGetLastError();
    between();
    for (int32_t n = 0; n < kFrames; ++n) {
      if (n % 10 == 1) {
        player->SetEyePosition(90 + n, 70);
        player->SetEyePosition(200, 150 - n);
      }
      if (n % 2 == 0) {
        player->RenderBackground();
      } else {
        player->Render(hostFrame_.data(), 0);
      }
    }
    p.loaded = LoadedPictures(player);
    player->Release();
    EXPECT_EQ(window.canvases, 0);
    p.prints = window.prints;
    return p;
  }
  Playback Play(const std::string& path) {
    return Play(path, [] {});
  }

  // The pictures whose stored bytes lie wholly within the first `size` bytes.
  uint32_t CompletePictures(uint64_t size) const {
    uint32_t bits = 0;
    for (uint32_t i = 0; i < pictures_; ++i) {
      if (layout_.pictureData[i] + stored_[i] <= size) bits |= 1u << i;
    }
    return bits;
  }

  // The frames of the whole show with the pictures not in `present` moved
  // past the end of the file.
  const Playback& Reference(uint32_t present) {
    auto found = references_.find(present);
    if (found != references_.end()) return found->second;
    Bytes bytes = show_;
    for (uint32_t i = 0; i < pictures_; ++i) {
      if (present & (1u << i)) continue;
      const size_t field = layout_.pictureEntries + i * kPictureEntrySize + kEntryFieldDataOffset;
      // Offsets are relative to the picture list's data base, which the
      // writer leaves at 0 (the list's own offset is added).
      WriteU32(bytes.data() + field, static_cast<uint32_t>(bytes.size() + 1 - layout_.pictureList));
    }
    const Playback p = Play(dir_.Write("reference.tiko", bytes));
    EXPECT_EQ(p.opened, 1);
    EXPECT_EQ(p.loaded & ~present, 0u) << "a picture past the end was loaded";
    return references_.emplace(present, p).first->second;
  }

  test::TempDir dir_;
  Bytes show_;
  authoring::PackageLayout layout_;
  uint32_t pictures_ = 0;
  std::vector<size_t> stored_;
  uint32_t tablesEnd_ = 0;
  Bytes hostFrame_;
  std::map<uint32_t, Playback> references_;
};

TEST_F(ReliabilityFiles, WholeShowUsesEveryPicture) {
  const uint32_t all = (1u << pictures_) - 1;
  const Playback& whole = Reference(all);
  EXPECT_EQ(whole.loaded, all);
  ASSERT_EQ(whole.prints.size(), size_t{kFrames});
  // Losing any one picture changes what is seen, so the comparisons below
  // can tell which pictures are there.
  for (uint32_t i = 0; i < pictures_; ++i) {
    EXPECT_NE(Reference(all & ~(1u << i)).prints, whole.prints) << "picture " << i;
  }
  EXPECT_EQ(Play(dir_.Write("show.tiko", show_)).prints, whole.prints);
}

TEST_F(ReliabilityFiles, CutAtEveryByte) {
  ASSERT_LE(tablesEnd_, layout_.pictureData[0]);
  uint64_t refused = 0, played = 0;
  for (const uint64_t cut : reliability::Cases(0, show_.size())) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string path = dir_.Write("cut.tiko", Bytes(show_.begin(), show_.begin() + cut));
    const Playback p = Play(path);
    ExpectNothingHeld("cut at " + std::to_string(cut));
    if (cut < tablesEnd_) {
      // A cut in the tables refuses the whole package.
      EXPECT_EQ(p.opened, 0);
      EXPECT_EQ(p.lastError, TIKO_STATUS_UNSUCCESSFUL);
      EXPECT_TRUE(p.prints.empty());
      ++refused;
      continue;
    }
    // A cut in the picture data takes exactly the cut pictures away.
    const uint32_t complete = CompletePictures(cut);
    EXPECT_EQ(p.opened, 1);
    EXPECT_EQ(p.loaded & ~complete, 0u);
    EXPECT_EQ(p.prints, Reference(complete).prints);
    ++played;
  }
  std::printf("cuts: %llu refused in the tables, %llu played without the cut pictures\n",
              static_cast<unsigned long long>(refused), static_cast<unsigned long long>(played));
}

TEST_F(ReliabilityFiles, FileShortenedBetweenLoadAndFirstFetch) {
  std::vector<uint64_t> sizes = {0, 1, kHeaderSize, tablesEnd_, show_.size() - 1};
  for (uint32_t i = 0; i < pictures_; ++i) {
    sizes.push_back(layout_.pictureData[i]);
    sizes.push_back(layout_.pictureData[i] + stored_[i] / 2);
    sizes.push_back(layout_.pictureData[i] + stored_[i]);
  }
  for (const uint64_t size : sizes) {
    SCOPED_TRACE("shortened to " + std::to_string(size));
    const std::string path = dir_.Write("shrinking.tiko", show_);
    // The tables are read at the open; the pictures only when first shown.
    const Playback p = Play(path, [&] { std::filesystem::resize_file(path, size); });
    ExpectNothingHeld("shortened to " + std::to_string(size));
    EXPECT_EQ(p.opened, 1);
    EXPECT_EQ(p.prints, Reference(CompletePictures(size)).prints);
  }
}

TEST_F(ReliabilityFiles, FileShortenedWhilePlaying) {
  // Pictures already in memory stay; a picture that has to be read again (a
  // rescale back up reloads the stored picture) goes missing, and the show
  // goes on.
  for (const int32_t frames : {1, 5, 17}) {
    const std::string path = dir_.Write("playing.tiko", show_);
    FingerprintWindow window(kWidth, kHeight);
    CTikoPlayer* player = TikoGetInterface();
    ASSERT_NE(player, nullptr);
    const std::u16string wide = test::Wide(path);
    ASSERT_EQ(player->OpenSized(&window, wide.c_str(), nullptr, kWidth, kHeight), 1);
    for (int32_t n = 0; n < frames; ++n) player->RenderBackground();
    const uint32_t before = LoadedPictures(player);
    std::filesystem::resize_file(path, tablesEnd_);
    player->SetEyePosition(100, 100);
    for (int32_t n = 0; n < 200; ++n) player->Render(hostFrame_.data(), 0);
    // Nothing new was read: whatever is loaded now was loaded before.
    EXPECT_EQ(LoadedPictures(player) & ~before, 0u) << frames;
    player->Release();
    EXPECT_EQ(window.prints.size(), size_t(frames) + 200);
    ExpectNothingHeld("shortened after " + std::to_string(frames) + " frames");
  }
}

// A session with a package change: the show for 60 frames, then the rich
// package for 10. Every read of it fails, or comes back one byte short, in turn.
TEST_F(ReliabilityFiles, FailingAndShortReadsAtEveryRead) {
  const std::string show = dir_.Write("show.tiko", show_);
  const std::u16string rich = test::Wide(dir_.Write("rich.tiko", authoring::WritePackage(test::RichPackage())));
  constexpr int32_t kShowFrames = 60, kAllFrames = 70;
  struct Session {
    int32_t opened = 0;
    uint32_t lastError = 0;
    int32_t changed = 0;
    uint64_t afterOpen = 0, beforeChange = 0, afterChange = 0;
    std::vector<uint64_t> readsBefore;
    std::vector<uint64_t> prints;
    std::vector<uint32_t> loaded;
  };
  const auto session = [&] {
    Session s;
    FingerprintWindow window(kWidth, kHeight);
    CTikoPlayer* player = TikoGetInterface();
    const std::u16string wide = test::Wide(show);
    s.opened = player->OpenSized(&window, wide.c_str(), nullptr, kWidth, kHeight);
    if (s.opened == 0) s.lastError = TikoGetLastError();
    s.afterOpen = counting::ReadCount();
    for (int32_t n = 0; n < kAllFrames; ++n) {
      if (n == kShowFrames) {
        s.beforeChange = counting::ReadCount();
        s.changed = player->ChangePackage(rich.c_str());
        s.afterChange = counting::ReadCount();
      }
      if (n % 10 == 1) player->SetEyePosition(90 + n, 70);
      s.readsBefore.push_back(counting::ReadCount());
      player->RenderBackground();
      s.loaded.push_back(LoadedPictures(player));
    }
    player->Release();
    s.prints = window.prints;
    return s;
  };
  counting::ResetFiles();
  const Session clean = session();
  ASSERT_EQ(clean.opened, 1);
  ASSERT_EQ(clean.changed, 1);
  const uint64_t reads = counting::ReadCount();
  ASSERT_GT(clean.beforeChange, clean.afterOpen + 5);  // the show's pictures are read while it plays

  const uint64_t bare = reliability::Fingerprint(Bytes(kFrameBytes, 0).data(), kFrameBytes);
  uint64_t sessions = 0;
  for (const auto fault : {counting::ReadFault::kFail, counting::ReadFault::kShort}) {
    for (const uint64_t n : reliability::Cases(1, reads)) {
      const std::string what =
          std::string(fault == counting::ReadFault::kFail ? "failing" : "short") + " read " + std::to_string(n);
      SCOPED_TRACE(what);
      counting::ResetFiles();
      counting::FailRead(n, fault);
      const Session s = session();
      counting::FailRead(0, counting::ReadFault::kNone);
      ++sessions;
      ExpectNothingHeld(what);
      if (n <= clean.afterOpen) {
        EXPECT_EQ(s.opened, 0);
        EXPECT_EQ(s.lastError, TIKO_STATUS_UNSUCCESSFUL);
        EXPECT_TRUE(s.prints.empty());
        continue;
      }
      EXPECT_EQ(s.opened, 1);
      if (n > clean.beforeChange && n <= clean.afterChange) {
        EXPECT_EQ(s.changed, 0);
        EXPECT_TRUE(std::equal(s.prints.begin(), s.prints.begin() + kShowFrames, clean.prints.begin()));
        for (int32_t f = kShowFrames; f < kAllFrames; ++f) EXPECT_EQ(s.prints[f], bare) << "frame " << f;
        continue;
      }
      // A picture's read in render f: the clean session up to f; in f the
      // picture is not loaded (a later fetch may read it again).
      int32_t f = 0;
      while (f + 1 < kAllFrames && s.readsBefore[f + 1] < n) ++f;
      ASSERT_LT(s.readsBefore[f], n);
      EXPECT_EQ(s.changed, 1);
      EXPECT_TRUE(std::equal(s.prints.begin(), s.prints.begin() + f, clean.prints.begin())) << "render " << f;
      EXPECT_EQ(s.loaded[f] & ~clean.loaded[f], 0u) << "render " << f;
      EXPECT_NE(s.loaded[f], clean.loaded[f]) << "render " << f << " read no picture";
    }
  }
  std::printf("read faults: %llu sessions, %llu reads each\n", static_cast<unsigned long long>(sessions),
              static_cast<unsigned long long>(reads));
}

TEST_F(ReliabilityFiles, DataOffsetsBeyondTheEndOrAt2To31) {
  const uint32_t all = (1u << pictures_) - 1;
  const uint32_t size = static_cast<uint32_t>(show_.size());
  const uint32_t base = layout_.pictureList;  // the data base field is 0
  const struct {
    const char* what;
    uint32_t relative;  // the entry's offset, added to the list's offset
    bool refused;       // the absolute offset is 2^31 or more
  } cases[] = {
      {"at the end", size - base, false},
      {"one byte before the end", size - 1 - base, false},
      {"past the end", size + 1000 - base, false},
      {"at 2^31 - 1", 0x7FFFFFFFu - base, false},
      {"at 2^31", 0x80000000u - base, true},
      {"at 2^32 - 1", 0xFFFFFFFFu - base, true},
      {"wrapping to the header", 0xFFFFFFFFu, true},
  };
  for (const auto& c : cases) {
    for (uint32_t i = 0; i < pictures_; ++i) {
      SCOPED_TRACE(std::string(c.what) + ", picture " + std::to_string(i));
      Bytes bytes = show_;
      WriteU32(bytes.data() + layout_.pictureEntries + i * kPictureEntrySize + kEntryFieldDataOffset, c.relative);
      const Playback p = Play(dir_.Write("offset.tiko", bytes));
      if (c.refused) {
        EXPECT_EQ(p.opened, 0);
        EXPECT_EQ(p.lastError, TIKO_STATUS_UNSUCCESSFUL);
        continue;
      }
      EXPECT_EQ(p.opened, 1);
      EXPECT_EQ(p.loaded & (1u << i), 0u);
      EXPECT_EQ(p.prints, Reference(all & ~(1u << i)).prints);
    }
  }
  // The data base summed with an entry's offset, without wrapping.
  for (const uint32_t dataBase : {0x7FFFFFFFu - base, 0x80000000u - base, 0xFFFFFFFFu}) {
    Bytes bytes = show_;
    WriteU32(bytes.data() + layout_.pictureList + kPictureListFieldDataBase, dataBase);
    const Playback p = Play(dir_.Write("base.tiko", bytes));
    EXPECT_EQ(p.opened, 0) << dataBase;
  }
}

}  // namespace
}  // namespace tiko
