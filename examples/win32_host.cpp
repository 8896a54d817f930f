// A complete Windows host for Tiko.dll. It loads the library as any program
// does, opens a player on a window of its own with a background picture, and
// renders frames until the window closes (or for a given number of frames).
// The eye actors follow the mouse; Space loads the next package (the same one
// again when only one is given), Escape closes the window.
//
//   tiko_win32_host PACKAGE [OTHER_PACKAGE] [--frames N]
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "tiko/tiko.h"

namespace {

constexpr int kFrameWidth = 320;
constexpr int kFrameHeight = 240;
// The player stretches every frame to the window: here, twice the frame.
constexpr int kWindowWidth = 2 * kFrameWidth;
constexpr int kWindowHeight = 2 * kFrameHeight;
// Eye reports are positions in a 320 x 240 image, row 0 at the top; the two
// eyes sit this far left and right of the mouse.
constexpr int kEyeSpacing = 12;

bool gClosed = false;
bool gNextPackage = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) gNextPackage = true;
      if (wParam == VK_ESCAPE) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      gClosed = true;
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// The background: a gradient of the frame's size, handed to the player, which
// copies and deletes it.
HBITMAP MakeBackground() {
  BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), kFrameWidth, kFrameHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  auto* pixel = static_cast<unsigned char*>(bits);
  for (int y = 0; y < kFrameHeight; ++y) {
    for (int x = 0; x < kFrameWidth; ++x, pixel += 3) {
      pixel[0] = static_cast<unsigned char>(x * 255 / kFrameWidth);
      pixel[1] = static_cast<unsigned char>(y * 255 / kFrameHeight);
      pixel[2] = 96;
    }
  }
  return bitmap;
}

// Reports both eyes around the mouse while it is over the window.
void ReportEyes(HWND window, CTikoPlayer* player) {
  POINT mouse;
  if (!GetCursorPos(&mouse) || !ScreenToClient(window, &mouse)) return;
  if (mouse.x < 0 || mouse.y < 0 || mouse.x >= kWindowWidth || mouse.y >= kWindowHeight) return;
  const int x = mouse.x * kFrameWidth / kWindowWidth;
  const int y = mouse.y * kFrameHeight / kWindowHeight;
  player->SetEyePosition(x - kEyeSpacing, y);
  player->SetEyePosition(x + kEyeSpacing, y);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* packages[2] = {nullptr, nullptr};
  int packageCount = 0;
  long frames = -1;  // until the window closes
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--frames") == 0 && i + 1 < argc) frames = std::wcstol(argv[++i], nullptr, 10);
    else if (packageCount < 2) packages[packageCount++] = argv[i];
  }
  if (packageCount == 0 || frames == 0) {
    std::fwprintf(stderr, L"usage: tiko_win32_host PACKAGE [OTHER_PACKAGE] [--frames N]\n");
    return 2;
  }

  // The library's one export, taken by ordinal as a host of any compiler can.
  HMODULE library = LoadLibraryW(L"Tiko.dll");
  if (library == nullptr) {
    std::fwprintf(stderr, L"cannot load Tiko.dll (error %lu)\n", GetLastError());
    return 1;
  }
  using GetInterface = CTikoPlayer* (*)();
  const auto getInterface =
      reinterpret_cast<GetInterface>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
  CTikoPlayer* player = getInterface != nullptr ? getInterface() : nullptr;
  if (player == nullptr) {
    std::fwprintf(stderr, L"Tiko.dll gave no player\n");
    FreeLibrary(library);
    return 1;
  }

  const WNDCLASSW windowClass = {0, WindowProc, 0, 0, GetModuleHandleW(nullptr), nullptr,
                                 LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)), nullptr, nullptr,
                                 L"TikoHost"};
  RegisterClassW(&windowClass);
  // Borderless, so that the window's rectangle, which the player measures,
  // is the client area it draws into.
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"tiko", WS_POPUP | WS_VISIBLE, 100, 100, kWindowWidth,
                                kWindowHeight, nullptr, nullptr, windowClass.hInstance, nullptr);

  HBITMAP background = MakeBackground();
  if (window == nullptr || !player->OpenSized(window, packages[0], background, kFrameWidth, kFrameHeight)) {
    std::fwprintf(stderr, L"cannot open the player on %ls (error 0x%08lX)\n", packages[0], GetLastError());
    // A failed open may have left the bitmap to the host.
    if (background != nullptr && GetObjectType(background) == OBJ_BITMAP) DeleteObject(background);
    player->Release();
    if (window != nullptr) DestroyWindow(window);
    FreeLibrary(library);
    return 1;
  }

  int current = 0;
  long rendered = 0, onStage = 0;
  while (!gClosed && (frames < 0 || rendered < frames)) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (gClosed) break;
    if (gNextPackage) {
      gNextPackage = false;
      current = (current + 1) % packageCount;
      if (!player->ChangePackage(packages[current])) std::fwprintf(stderr, L"cannot load %ls\n", packages[current]);
    }
    ReportEyes(window, player);
    onStage += player->RenderBackground();
    ++rendered;
    Sleep(33);  // about 30 frames a second
  }
  std::wprintf(L"%ld frames rendered, %ld with actors on stage\n", rendered, onStage);

  // The player draws into the window until it goes: release it first.
  player->Release();
  if (!gClosed) DestroyWindow(window);
  FreeLibrary(library);
  return 0;
}
