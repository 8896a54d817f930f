// Test support for the Windows suites: real windows to draw into and read
// back, bitmaps made from frame bytes, files with any name, and the recorded
// frames of the show.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "authoring/writer.h"

namespace tiko::wintest {

// An ASCII path as UTF-16.
inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline void WriteFileWide(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create a test file";
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok && written == bytes.size());
}

inline bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Bytes of one row of a 24-bit bitmap as the system lays it out.
inline size_t DibStride(int32_t width) { return (size_t(width) * 3 + 3) / 4 * 4; }

// A borderless window of width x height at the screen's top-left corner, so
// that its rectangle is its client area. It is shown and its first messages
// handled before the test draws into it.
class TestWindow {
 public:
  TestWindow(int32_t width, int32_t height, DWORD style = WS_POPUP) {
    static const wchar_t* const windowClass = [] {
      WNDCLASSW wc = {};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = L"TikoTestWindow";
      RegisterClassW(&wc);
      return wc.lpszClassName;
    }();
    window_ = CreateWindowExW(0, windowClass, L"tiko test", style, 0, 0, width, height, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    // Shown without taking the focus: Wine hands an activated window to the
    // window manager, and with none (as under Xvfb) waits seconds for it when
    // the window goes.
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    Pump(50);
  }
  ~TestWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND get() const { return window_; }

  static void Pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(10);
    } while (GetTickCount() - start < milliseconds);
  }

 private:
  HWND window_ = nullptr;
};

// How a bottom-up 24-bit bitmap of width x height is described.
inline BITMAPINFO BitmapInfo(int32_t width, int32_t height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

// A 24-bit bottom-up DIB section of width x height with the given pixels
// (bottom-up BGR24 rows of width * 3 bytes, no padding).
inline HBITMAP MakeBitmap(int32_t width, int32_t height, const std::vector<uint8_t>& pixels) {
  const BITMAPINFO info = BitmapInfo(width, height);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  const size_t rowBytes = size_t(width) * 3;
  for (int32_t row = 0; row < height; ++row) {
    std::memcpy(static_cast<uint8_t*>(bits) + row * DibStride(width), pixels.data() + row * rowBytes, rowBytes);
  }
  GdiFlush();
  return bitmap;
}

inline bool BitmapExists(HBITMAP bitmap) { return GetObjectType(bitmap) == OBJ_BITMAP; }

// What the window shows in its top-left width x height pixels, as the player
// hands frames over: bottom-up BGR24 rows without padding.
inline std::vector<uint8_t> ReadBack(HWND window, int32_t width, int32_t height) {
  std::vector<uint8_t> out(size_t(width) * height * 3);
  const BITMAPINFO info = BitmapInfo(width, height);
  void* bits = nullptr;
  HDC windowDC = GetDC(window);
  HDC memoryDC = CreateCompatibleDC(windowDC);
  HBITMAP target = CreateDIBSection(memoryDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (windowDC != nullptr && memoryDC != nullptr && target != nullptr) {
    HGDIOBJ old = SelectObject(memoryDC, target);
    BitBlt(memoryDC, 0, 0, width, height, windowDC, 0, 0, SRCCOPY);
    GdiFlush();
    for (int32_t row = 0; row < height; ++row) {
      std::memcpy(out.data() + size_t(row) * width * 3, static_cast<uint8_t*>(bits) + row * DibStride(width),
                  size_t(width) * 3);
    }
    SelectObject(memoryDC, old);
  } else {
    ADD_FAILURE() << "cannot read the window back";
  }
  if (target != nullptr) DeleteObject(target);
  if (memoryDC != nullptr) DeleteDC(memoryDC);
  if (windowDC != nullptr) ReleaseDC(window, windowDC);
  return out;
}

// The columns x rows pixels of a bottom-up frame whose top-left corner is
// (x, y), counted from the frame's top-left as on screen; bottom-up again.
inline std::vector<uint8_t> Crop(const std::vector<uint8_t>& frame, int32_t width, int32_t height, int32_t x,
                                 int32_t y, int32_t columns, int32_t rows) {
  std::vector<uint8_t> out;
  for (int32_t r = 0; r < rows; ++r) {
    const int32_t sourceRow = height - 1 - (y + (rows - 1 - r));  // bottom-up index of that screen line
    const uint8_t* line = frame.data() + (size_t(sourceRow) * width + x) * 3;
    out.insert(out.end(), line, line + size_t(columns) * 3);
  }
  return out;
}

// A bottom-up frame shrunk by a whole factor, after checking that every
// factor x factor block is one colour (as a nearest-neighbour stretch by that
// factor draws it). Empty when a block is not.
inline std::vector<uint8_t> Unstretch(const std::vector<uint8_t>& big, int32_t width, int32_t height, int32_t factor) {
  const int32_t w = width / factor;
  const int32_t h = height / factor;
  std::vector<uint8_t> small(size_t(w) * h * 3);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* pixel = big.data() + (size_t(y) * width + x) * 3;
      uint8_t* target = small.data() + (size_t(y / factor) * w + x / factor) * 3;
      if (x % factor == 0 && y % factor == 0) {
        std::memcpy(target, pixel, 3);
      } else if (std::memcmp(target, pixel, 3) != 0) {
        return {};
      }
    }
  }
  return small;
}

inline uint64_t FrameHash(const std::vector<uint8_t>& frame) {
  uint64_t h = 1469598103934665603ull;
  for (const uint8_t b : frame) h = (h ^ b) * 1099511628211ull;
  return h;
}

// The show of the recorded frames: 320 x 240, 200 frames, over this
// background.
inline constexpr int32_t kShowWidth = 320;
inline constexpr int32_t kShowHeight = 240;
inline constexpr int32_t kShowFrames = 200;

inline std::vector<uint8_t> ShowBackground() {
  std::vector<uint8_t> background(size_t(kShowWidth) * kShowHeight * 3);
  for (size_t i = 0; i < background.size(); ++i) {
    background[i] = static_cast<uint8_t>((i / 3) % kShowWidth + (i % 3) * 40);
  }
  return background;
}

// The whole-frame hash of each recorded frame.
inline std::vector<uint64_t> RecordedShowHashes() {
  const std::vector<uint8_t> recorded =
      authoring::ReadFileBytes(std::string(TIKO_TEST_DATA_DIR) + "/golden/show_320x240.bin");
  const size_t recordBytes = 8 + 2 * size_t(kShowWidth + kShowHeight);
  std::vector<uint64_t> hashes;
  for (size_t at = 0; at + recordBytes <= recorded.size(); at += recordBytes) {
    uint64_t h = 0;
    for (int k = 7; k >= 0; --k) h = h << 8 | recorded[at + size_t(k)];
    hashes.push_back(h);
  }
  return hashes;
}

// Frame bytes that differ from pixel to pixel and from row to row.
inline std::vector<uint8_t> NoiseFrame(int32_t width, int32_t height, uint32_t seed) {
  std::vector<uint8_t> frame(size_t(width) * height * 3);
  uint32_t state = seed * 2654435761u + 7;
  for (auto& byte : frame) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return frame;
}

}  // namespace tiko::wintest
