// The player on Windows. Tiko.dll as a host sees it: loaded by path, its one
// export taken by ordinal, opened on a real window with a background bitmap,
// and what it presents read back from the window. Then the same player built
// in over the counting backend, for what only that backend can see: the
// paths of the sound cues, and every allocation failing in turn.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "authoring/writer.h"
#include "platform/testing/hooks.h"
#include "player/player.h"
#include "support/counted_backend.h"
#include "support/package_files.h"
#include "win32_support.h"

namespace tiko {
namespace {

using wintest::Widen;

constexpr uint32_t kLoadFailed = 0xC0000001u;

using GetInterface = CTikoPlayer* (*)();

HMODULE Library() {
  static const HMODULE library = LoadLibraryW(TIKO_DLL_PATH);
  return library;
}

GetInterface Factory() {
  return reinterpret_cast<GetInterface>(reinterpret_cast<void*>(GetProcAddress(Library(), MAKEINTRESOURCEA(1))));
}

// A step that shows picture 0 at stage (x, y), width x height units, opaque;
// the script stays on it.
ActorStep StillStep(int16_t x, int16_t y, int16_t width, int16_t height) {
  return authoring::MakeStep(
      {.pictureChange = 1, .width = kSizeSet, .height = kSizeSet, .x = kPosSet, .y = kPosSet, .opacity = kOpacitySet},
      {.x = x, .y = y, .width = width, .height = height, .opacity = 100});
}

// One actor: a 16 x 12 box of one colour, standing still on a 320 x 240 frame.
constexpr uint8_t kBoxColour[3] = {20, 200, 120};

authoring::PackageDesc BoxPackage() {
  std::vector<uint8_t> pixels(16 * 12 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = kBoxColour[i % 3];
  authoring::PackageDesc desc;
  desc.pictures = {authoring::MakePicture(kFormatBgr24, kMaskNone, 16, 12, pixels, false)};
  desc.actors = {{u"box", 0, {StillStep(2000, 3000, 500, 375)}}};
  return desc;
}

// No actors: every render presents the bare frame.
authoring::PackageDesc EmptyPackage() {
  authoring::PackageDesc desc;
  desc.pictures = {authoring::MakePicture(kFormatBgr24, kMaskNone, 1, 1, {0, 0, 0}, false)};
  return desc;
}

class Win32Player : public ::testing::Test {
 protected:
  std::wstring Write(const std::wstring& name, const authoring::PackageDesc& desc) const {
    const std::wstring path = Dir() + L"\\" + name;
    wintest::WriteFileWide(path, authoring::WritePackage(desc));
    return path;
  }
  std::wstring Dir() const { return Widen(dir_.path()); }
  test::TempDir dir_;
};

TEST_F(Win32Player, LibraryExportsTheFactoryAloneAtOrdinalOne) {
  const HMODULE library = Library();
  ASSERT_NE(library, nullptr) << "cannot load Tiko.dll, error " << GetLastError();
  const FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(1));
  ASSERT_NE(byOrdinal, nullptr);
  EXPECT_EQ(GetProcAddress(library, "TikoGetInterface"), byOrdinal);
  EXPECT_EQ(GetProcAddress(library, MAKEINTRESOURCEA(2)), nullptr);
  EXPECT_EQ(GetProcAddress(library, "TikoGetLastError"), nullptr);
  EXPECT_EQ(GetProcAddress(library, "DllMain"), nullptr);

  // The export directory itself: one function, one name, from ordinal 1.
  const auto* base = reinterpret_cast<const uint8_t*>(library);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& exportEntry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(exportEntry.VirtualAddress, 0u);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exportEntry.VirtualAddress);
  EXPECT_EQ(exports->Base, 1u);
  EXPECT_EQ(exports->NumberOfFunctions, 1u);
  ASSERT_EQ(exports->NumberOfNames, 1u);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + names[0]), "TikoGetInterface");

  // Every call makes a player of its own.
  CTikoPlayer* first = Factory()();
  CTikoPlayer* second = Factory()();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  first->Release();
  second->Release();
}

// The show, opened from a path with characters of every plane, over a
// background bitmap: the window shows the recorded frames, as they are and
// stretched to twice the size.
TEST_F(Win32Player, WindowShowsTheRecordedFrames) {
  const std::wstring subdir = Dir() + L"\\\u043f\u0430\u043a\u0435\u0442\u044b \U0001F3AC";
  ASSERT_TRUE(CreateDirectoryW(subdir.c_str(), nullptr));
  const std::wstring path = subdir + L"\\\u0448\u043e\u0443 \u2713.tiko";
  wintest::WriteFileWide(path, authoring::WritePackage(test::ShowPackage()));
  const std::vector<uint64_t> recorded = wintest::RecordedShowHashes();
  ASSERT_EQ(recorded.size(), size_t(wintest::kShowFrames));

  for (const int32_t factor : {1, 2}) {
    SCOPED_TRACE("stretched " + std::to_string(factor) + " times");
    const int32_t width = wintest::kShowWidth * factor;
    const int32_t height = wintest::kShowHeight * factor;
    wintest::TestWindow window(width, height);
    HBITMAP background = wintest::MakeBitmap(wintest::kShowWidth, wintest::kShowHeight, wintest::ShowBackground());
    CTikoPlayer* player = Factory()();
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->Open(window.get(), path.c_str(), background), 1);
    EXPECT_FALSE(wintest::BitmapExists(background));  // copied, then deleted
    for (int32_t n = 0; n < wintest::kShowFrames; ++n) {
      ASSERT_EQ(player->RenderBackground(), 1) << "frame " << n;
      const std::vector<uint8_t> shown = wintest::ReadBack(window.get(), width, height);
      const std::vector<uint8_t> frame = wintest::Unstretch(shown, width, height, factor);
      ASSERT_FALSE(frame.empty()) << "frame " << n << " is not the frame stretched";
      ASSERT_EQ(wintest::FrameHash(frame), recorded[size_t(n)]) << "frame " << n;
    }
    player->Release();
  }
}

TEST_F(Win32Player, FailedOpenLeavesItsStatusInGetLastError) {
  const std::wstring garbage = Dir() + L"\\garbage.tiko";
  wintest::WriteFileWide(garbage, std::vector<uint8_t>(1000, 0x5A));
  const std::wstring box = Write(L"box.tiko", BoxPackage());
  const std::wstring missing = Dir() + L"\\missing.tiko";
  wintest::TestWindow window(wintest::kShowWidth, wintest::kShowHeight);
  const struct {
    const char* what;
    HWND window;
    std::wstring path;
    bool loadFailed;  // the package load was reached: the bitmap is gone, the status set
  } cases[] = {
      {"no window", nullptr, box, false},
      {"a missing package", window.get(), missing, true},
      {"a file that is no package", window.get(), garbage, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HBITMAP background = wintest::MakeBitmap(wintest::kShowWidth, wintest::kShowHeight, wintest::ShowBackground());
    CTikoPlayer* player = Factory()();
    ASSERT_NE(player, nullptr);
    SetLastError(0);
    EXPECT_EQ(player->Open(c.window, c.path.c_str(), background), 0);
    if (c.loadFailed) {
      EXPECT_EQ(GetLastError(), kLoadFailed);
      EXPECT_FALSE(wintest::BitmapExists(background));
    } else {
      EXPECT_NE(GetLastError(), kLoadFailed);
      EXPECT_TRUE(wintest::BitmapExists(background));  // still the host's
      DeleteObject(background);
    }
    EXPECT_EQ(player->RenderBackground(), 0);
    player->Release();
  }
  EXPECT_FALSE(wintest::FileExists(missing));
}

// Host frames, the background, the corner a frame is drawn at, and a player
// without a package, all read back from the window.
TEST_F(Win32Player, PresentsHostFramesWhereTheHostSays) {
  constexpr int32_t kWidth = wintest::kShowWidth, kHeight = wintest::kShowHeight;
  const std::wstring box = Write(L"box.tiko", BoxPackage());
  wintest::TestWindow window(kWidth, kHeight);
  const std::vector<uint8_t> background = wintest::NoiseFrame(kWidth, kHeight, 1);
  CTikoPlayer* player = Factory()();
  ASSERT_NE(player, nullptr);
  ASSERT_EQ(player->Open(window.get(), box.c_str(), wintest::MakeBitmap(kWidth, kHeight, background)), 1);

  // What the box changed: every other pixel is the frame handed over.
  const auto expectFrameWithBox = [&](const std::vector<uint8_t>& under) {
    const std::vector<uint8_t> shown = wintest::ReadBack(window.get(), kWidth, kHeight);
    int32_t boxPixels = 0;
    for (size_t at = 0; at < shown.size(); at += 3) {
      if (std::equal(shown.begin() + ptrdiff_t(at), shown.begin() + ptrdiff_t(at) + 3, under.begin() + ptrdiff_t(at))) {
        continue;
      }
      ASSERT_TRUE(std::equal(kBoxColour, kBoxColour + 3, shown.begin() + ptrdiff_t(at))) << "pixel " << at / 3;
      ++boxPixels;
    }
    EXPECT_EQ(boxPixels, 16 * 12);
  };
  const std::vector<uint8_t> hostFrame = wintest::NoiseFrame(kWidth, kHeight, 2);
  EXPECT_EQ(player->Render(hostFrame.data(), 0), 1);
  expectFrameWithBox(hostFrame);
  EXPECT_EQ(player->RenderBackground(), 1);
  expectFrameWithBox(background);

  // At (10, 20) the same frame moves down and right, cut off by the window.
  const std::vector<uint8_t> atOrigin = wintest::ReadBack(window.get(), kWidth, kHeight);
  EXPECT_EQ(player->RenderAt(nullptr, 10, 20, 0), 1);
  const std::vector<uint8_t> moved = wintest::ReadBack(window.get(), kWidth, kHeight);
  EXPECT_TRUE(wintest::Crop(moved, kWidth, kHeight, 10, 20, kWidth - 10, kHeight - 20) ==
              wintest::Crop(atOrigin, kWidth, kHeight, 0, 0, kWidth - 10, kHeight - 20));

  // Without a package the bare background is presented.
  EXPECT_EQ(player->ChangePackage((Dir() + L"\\missing.tiko").c_str()), 0);
  EXPECT_EQ(player->RenderBackground(), 0);
  EXPECT_TRUE(wintest::ReadBack(window.get(), kWidth, kHeight) == background);
  EXPECT_EQ(player->ChangePackage(box.c_str()), 1);
  EXPECT_EQ(player->RenderBackground(), 1);
  player->Release();
}

// Frames whose rows are not a multiple of 4 bytes travel through the padded
// rows of the system's bitmaps both ways, and arrive unchanged.
TEST_F(Win32Player, OddFrameWidthsArriveUnchanged) {
  const std::wstring empty = Write(L"empty.tiko", EmptyPackage());
  for (const int32_t width : {33, 34, 35, 1}) {
    SCOPED_TRACE(width);
    constexpr int32_t kHeight = 17;
    wintest::TestWindow window(width, kHeight);
    const std::vector<uint8_t> background = wintest::NoiseFrame(width, kHeight, uint32_t(width));
    CTikoPlayer* player = Factory()();
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->OpenSized(window.get(), empty.c_str(), wintest::MakeBitmap(width, kHeight, background), width,
                                kHeight),
              1);
    EXPECT_EQ(player->RenderBackground(), 0);  // no actors
    EXPECT_TRUE(wintest::ReadBack(window.get(), width, kHeight) == background);
    const std::vector<uint8_t> hostFrame = wintest::NoiseFrame(width, kHeight, 99);
    player->Render(hostFrame.data(), 0);
    EXPECT_TRUE(wintest::ReadBack(window.get(), width, kHeight) == hostFrame);
    player->Release();
  }
}

// The player built into the test over the counting backend, on real windows.
class Win32PlayerInProcess : public test::CountedBackendTest {
 protected:
  test::TempDir dir_;
};

// Cues are wave files beside the package, after its last backslash, in a
// path of at most 260 units with its terminating zero; one that would not
// fit is skipped, and the show goes on.
TEST_F(Win32PlayerInProcess, CuesPlayBesideThePackage) {
  const std::wstring temp = Widen(dir_.path());
  const struct {
    size_t dirUnits;  // 0: the temporary directory itself
    int32_t hi;       // plays of "hi.wav" in 200 frames
    bool bop;         // whether "bop.wav" plays
  } cases[] = {
      {0, 61, true},
      {252, 61, false},  // 252 + 1 + "hi.wav" + zero = 260; "bop" would need 261
      {253, 0, false},
  };
  wintest::TestWindow window(wintest::kShowWidth, wintest::kShowHeight);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dirUnits);
    std::wstring dir = temp;
    if (c.dirUnits != 0) {
      ASSERT_GT(c.dirUnits, temp.size() + 1);
      dir = temp + L"\\" + std::wstring(c.dirUnits - temp.size() - 1, L'd');
      // Long directory names need the prefix that lifts the length limit.
      ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir).c_str(), nullptr));
    }
    const std::wstring path = dir + L"\\p";  // at most 255 units: the loader's limit
    wintest::WriteFileWide(path, authoring::WritePackage(test::ShowPackage()));
    CTikoPlayer* player = CreatePlayer();
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->Open(window.get(), path.c_str(), nullptr), 1);
    counting::ResetSounds();
    for (int32_t n = 0; n < wintest::kShowFrames; ++n) ASSERT_EQ(player->RenderBackground(), 1);
    player->Release();
    const auto& waves = counting::PlayedWaves();
    const std::u16string beside = std::u16string(dir.begin(), dir.end()) + u"\\";
    EXPECT_EQ(std::count(waves.begin(), waves.end(), beside + u"hi.wav"), c.hi);
    EXPECT_EQ(std::count(waves.begin(), waves.end(), beside + u"bop.wav") > 0, c.bop);
    for (const auto& wave : waves) EXPECT_LE(wave.size() + 1, size_t{260});
    DeleteFileW(path.c_str());
  }
}

// Every allocation of an open and its first renders fails in turn: the open
// fails or goes on without the picture, and Release gives back everything,
// the system's handles included.
TEST_F(Win32PlayerInProcess, EveryAllocationFailureLeavesNothingBehind) {
  const std::wstring path = Widen(dir_.path()) + L"\\show.tiko";
  wintest::WriteFileWide(path, authoring::WritePackage(test::ShowPackage()));
  wintest::TestWindow window(wintest::kShowWidth, wintest::kShowHeight);
  int32_t rounds = 0;
  for (uint64_t n = 1;; ++n, ++rounds) {
    ASSERT_LT(n, 10000u);
    counting::ResetHeap();
    counting::FailAllocation(n);
    HBITMAP background = wintest::MakeBitmap(wintest::kShowWidth, wintest::kShowHeight, wintest::ShowBackground());
    CTikoPlayer* player = CreatePlayer();
    if (player != nullptr) {
      if (player->Open(window.get(), path.c_str(), background) == 1) {
        for (int frame = 0; frame < 8; ++frame) player->RenderBackground();
      }
      player->Release();
    }
    if (wintest::BitmapExists(background)) DeleteObject(background);
    ExpectNothingHeld("allocation " + std::to_string(n) + " failing");
    if (counting::FailedAllocations() == 0) break;
  }
  EXPECT_GT(rounds, 5);
}

}  // namespace
}  // namespace tiko
