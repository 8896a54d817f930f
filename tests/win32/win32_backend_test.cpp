// The Windows backend on the system itself: package files of any name, reads
// that come back short or fail, the process heap, and drawing into and
// copying from real windows and bitmaps, read back byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "package/file.h"
#include "platform/win32/win32.h"
#include "support/package_files.h"
#include "win32_support.h"

namespace tiko {
namespace {

using wintest::Widen;

const char16_t* Units(const std::wstring& path) { return reinterpret_cast<const char16_t*>(path.c_str()); }

class Win32Files : public ::testing::Test {
 protected:
  std::wstring Path(const std::wstring& name) const { return Widen(dir_.path()) + L"\\" + name; }
  test::TempDir dir_;
};

TEST_F(Win32Files, ReadsFilesOfAnyName) {
  const std::wstring names[] = {
      L"plain.tiko",
      L"\u043f\u0430\u043a\u0435\u0442.tiko",  // Cyrillic
      L"\u52d5\u753b \u2713.tiko",              // CJK, a space and a symbol
      L"\U0001F3AC scene.tiko",                 // outside the basic plane: a surrogate pair
      L"e\u0301te\u0301.tiko",                  // combining accents
  };
  const std::vector<uint8_t> bytes = wintest::NoiseFrame(10, 10, 3);  // 300 bytes
  for (size_t i = 0; i < std::size(names); ++i) {
    SCOPED_TRACE("name " + std::to_string(i));
    wintest::WriteFileWide(Path(names[i]), bytes);
    const platform::FileHandle file = win32::FileOpenExisting(Units(Path(names[i])));
    ASSERT_NE(file, 0);
    std::vector<uint8_t> got(100);
    const auto expect = [&](int64_t n, size_t from) {
      return std::equal(got.begin(), got.begin() + n, bytes.begin() + ptrdiff_t(from));
    };
    ASSERT_EQ(win32::FileRead(file, got.data(), 100, 0), 100);
    EXPECT_TRUE(expect(100, 0));
    // Asking for the size leaves the position where the last read ended.
    EXPECT_EQ(win32::FileLength(file), 300);
    ASSERT_EQ(win32::FileRead(file, got.data(), 100, -1), 100);
    EXPECT_TRUE(expect(100, 100));
    ASSERT_EQ(win32::FileRead(file, got.data(), 100, 250), 50);
    EXPECT_TRUE(expect(50, 250));
    EXPECT_EQ(win32::FileRead(file, got.data(), 100, 300), 0);
    EXPECT_EQ(win32::FileRead(file, got.data(), 100, 1 << 20), 0);
    EXPECT_EQ(win32::FileRead(file, got.data(), 100, int64_t{1} << 31), -1);
    // The package reader takes whole reads only.
    EXPECT_EQ(FileReadAt(file, got.data(), 100, 200), STATUS_SUCCESS);
    EXPECT_EQ(FileReadAt(file, got.data(), 100, 250), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(FileReadAt(file, got.data(), 1, 300), STATUS_UNSUCCESSFUL);
    win32::FileCloseHandle(file);
  }
}

TEST_F(Win32Files, OpensNothingButExistingFilesOnDisk) {
  ASSERT_TRUE(CreateDirectoryW(Path(L"folder.tiko").c_str(), nullptr));
  // Two instances of a pipe: one for the system's own open, one for ours.
  const std::wstring pipeName = L"\\\\.\\pipe\\tiko-test-" + std::to_wstring(GetCurrentProcessId());
  HANDLE pipes[2];
  for (auto& pipe : pipes) {
    pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  }
  wintest::WriteFileWide(Path(L"held.tiko"), std::vector<uint8_t>(700, 1));
  const HANDLE held = CreateFileW(Path(L"held.tiko").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  const struct {
    const char* what;
    std::wstring path;
    bool systemOpensIt;  // so the refusal is the backend's own
  } cases[] = {
      {"a missing file", Path(L"missing.tiko"), false},
      {"a directory", Path(L"folder.tiko"), false},
      {"a pipe", pipeName, true},
      {"a device", L"NUL", true},
      {"a file another program holds", Path(L"held.tiko"), false},
      {"an empty path", L"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.systemOpensIt) {
      const HANDLE raw = CreateFileW(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_RANDOM_ACCESS, nullptr);
      ASSERT_NE(raw, INVALID_HANDLE_VALUE);
      CloseHandle(raw);
    }
    const platform::FileHandle file = win32::FileOpenExisting(Units(c.path));
    EXPECT_EQ(file, 0);
    if (file != 0) win32::FileCloseHandle(file);
  }
  // Nothing was created on the way.
  EXPECT_FALSE(wintest::FileExists(Path(L"missing.tiko")));
  EXPECT_EQ(win32::FileOpenExisting(nullptr), 0);
  uint8_t byte = 0;
  EXPECT_EQ(win32::FileRead(0, &byte, 1, 0), -1);
  EXPECT_EQ(win32::FileLength(0), -1);

  CloseHandle(held);
  for (const HANDLE pipe : pipes) CloseHandle(pipe);
}

TEST(Win32Heap, BlocksComeFromTheProcessHeapZeroFilledOnRequest) {
  const HANDLE heap = GetProcessHeap();
  for (const size_t bytes : {size_t{0}, size_t{1}, size_t{24}, size_t{4096}, size_t{1} << 20}) {
    SCOPED_TRACE(bytes);
    // Dirty a block, give it back, and ask for a cleared one of the same
    // size: the heap hands the same memory out again.
    auto* dirty = static_cast<uint8_t*>(win32::HeapAllocate(bytes, false));
    ASSERT_NE(dirty, nullptr);
    EXPECT_TRUE(HeapValidate(heap, 0, dirty));
    EXPECT_GE(HeapSize(heap, 0, dirty), bytes);
    std::fill(dirty, dirty + bytes, uint8_t{0xA5});
    win32::HeapRelease(dirty);
    auto* clean = static_cast<uint8_t*>(win32::HeapAllocate(bytes, true));
    auto* other = static_cast<uint8_t*>(win32::HeapAllocate(bytes, true));
    ASSERT_NE(clean, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(clean, other);  // also for 0 bytes
    EXPECT_TRUE(std::all_of(clean, clean + bytes, [](uint8_t b) { return b == 0; }));
    win32::HeapRelease(clean);
    win32::HeapRelease(other);
  }
  EXPECT_EQ(win32::HeapAllocate(SIZE_MAX, false), nullptr);
  EXPECT_EQ(win32::HeapAllocate(SIZE_MAX / 2, true), nullptr);
  win32::HeapRelease(nullptr);
}

TEST(Win32Drawing, NoWindowGivesNoCanvas) {
  // GetDC of no window would be the whole screen's context.
  EXPECT_EQ(win32::AcquireCanvas(nullptr), nullptr);
  Rect rect{};
  EXPECT_FALSE(win32::GetWindowRect(nullptr, &rect));
}

// A frame drawn into a real window and read back: every pixel of the
// rectangle it was stretched to is the nearest pixel of the frame.
TEST(Win32Drawing, PresentsEveryByteOfTheFrame) {
  const struct {
    const char* what;
    int32_t frameWidth, frameHeight, dstWidth, dstHeight, x, y;
  } cases[] = {
      {"as it is", 320, 240, 320, 240, 0, 0},
      {"stretched to twice", 320, 240, 640, 480, 0, 0},
      {"moved", 320, 240, 320, 240, 10, 20},
      {"rows not a multiple of 4 bytes", 33, 17, 33, 17, 0, 0},
      {"such rows, stretched and moved", 33, 17, 99, 51, 5, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t width = c.x + c.dstWidth;
    const int32_t height = c.y + c.dstHeight;
    wintest::TestWindow window(width, height);
    const std::vector<uint8_t> frame = wintest::NoiseFrame(c.frameWidth, c.frameHeight, uint32_t(width));
    const platform::FrameHeader header = platform::MakeFrameHeader(c.frameWidth, c.frameHeight);

    const platform::CanvasHandle canvas = win32::AcquireCanvas(window.get());
    ASSERT_NE(canvas, nullptr);
    Rect rect{};
    ASSERT_TRUE(win32::GetWindowRect(window.get(), &rect));
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
    const platform::DrawHandle draw = win32::DrawOpen();
    ASSERT_NE(draw, nullptr);
    ASSERT_TRUE(win32::DrawBegin(draw, canvas, c.dstWidth, c.dstHeight, &header, c.frameWidth, c.frameHeight));
    win32::DrawFrame(draw, canvas, c.x, c.y, c.dstWidth, c.dstHeight, &header, frame.data(), c.frameWidth,
                     c.frameHeight);
    const std::vector<uint8_t> shown = wintest::ReadBack(window.get(), width, height);
    const std::vector<uint8_t> drawn = wintest::Crop(shown, width, height, c.x, c.y, c.dstWidth, c.dstHeight);
    EXPECT_TRUE(wintest::Unstretch(drawn, c.dstWidth, c.dstHeight, c.dstWidth / c.frameWidth) == frame);
    win32::DrawClose(draw);
    win32::ReleaseCanvas(window.get(), canvas);
  }
}

// The background copy: rows as the player keeps them (no padding), and not
// one byte past the buffer, whatever the width.
TEST(Win32Drawing, CopiesBitmapsIntoUnpaddedRows) {
  constexpr size_t kCanary = 16;
  const HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  const struct {
    int32_t width, height;
  } sizes[] = {{320, 240}, {33, 17}, {1, 1}, {2, 5}, {7, 3}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    const std::vector<uint8_t> pixels = wintest::NoiseFrame(size.width, size.height, uint32_t(size.width));
    HBITMAP bitmap = wintest::MakeBitmap(size.width, size.height, pixels);
    ASSERT_NE(bitmap, nullptr);
    const platform::FrameHeader header = platform::MakeFrameHeader(size.width, size.height);
    // More lines asked for than the frame has: only the frame's are copied.
    for (const uint32_t lines : {uint32_t(size.height), uint32_t(size.height) + 10}) {
      std::vector<uint8_t> dst(pixels.size() + kCanary, 0xCD);
      EXPECT_EQ(win32::CopyBitmapBits(screen, bitmap, lines, dst.data(), &header), size.height);
      EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), dst.begin()));
      EXPECT_TRUE(std::all_of(dst.end() - kCanary, dst.end(), [](uint8_t b) { return b == 0xCD; }));
    }
    win32::DeleteBitmap(bitmap);
    EXPECT_FALSE(wintest::BitmapExists(bitmap));
    // A bitmap that is gone copies nothing.
    std::vector<uint8_t> dst(pixels.size());
    EXPECT_EQ(win32::CopyBitmapBits(screen, bitmap, uint32_t(size.height), dst.data(), &header), 0);
  }
  ReleaseDC(nullptr, screen);
}

}  // namespace
}  // namespace tiko
