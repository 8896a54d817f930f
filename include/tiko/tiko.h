/* The player interface: what a host program calls to lay animated pictures
 * over its video frames. C++11, needs nothing but <cstdint> and tiko/host.h.
 *
 * A host calls, on one thread: TikoGetInterface(); then Open or OpenSized
 * once; then one render call per video frame, with SetEyePosition and
 * ChangePackage calls between them; and last Release. Separate players share
 * nothing, so each may live on its own thread. */
#ifndef TIKO_TIKO_H_
#define TIKO_TIKO_H_

#include <cstdint>

#include "tiko/host.h"

#if defined(_WIN32)
/* The Windows build takes the platform's own handles. Declared here the way
 * <windows.h> declares them, so that both headers may be included. */
struct HWND__;
struct HBITMAP__;
typedef HWND__* TikoWindowHandle;
typedef HBITMAP__* TikoBitmapHandle;
typedef wchar_t TikoPathChar;
#else
typedef tiko::HostWindow* TikoWindowHandle;
typedef tiko::HostBitmap* TikoBitmapHandle;
typedef char16_t TikoPathChar; /* paths are NUL-terminated UTF-16 */
#endif

/* TikoGetLastError() (GetLastError() on Windows) after an open whose package
 * could not be loaded. A macro, so that C code and #if can use it too. */
#define TIKO_STATUS_UNSUCCESSFUL 0xC0000001u

#if defined(_WIN32)
#define TIKO_EXPORT
#elif defined(__GNUC__)
#define TIKO_EXPORT __attribute__((visibility("default")))
#else
#define TIKO_EXPORT
#endif

/* The player. Hosts call these through the table of virtual functions, so
 * their order is part of the library's binary interface: never reorder, never
 * insert. Every frame handed over or presented is BGR24, 3 bytes per pixel
 * (blue, green, red), rows of width * 3 bytes without padding, the first row
 * in memory being the bottom line on screen. */
class CTikoPlayer {
 public:
  /* Slot 0. Opens the player on `window` with the package at `packagePath`
   * and a frame of frameWidth x frameHeight pixels (1 .. 65535 each). A
   * non-null `backgroundBitmap` must have the frame's size; it is copied and
   * deleted (the host must not use it after a successful copy). Returns 1, or
   * 0 on failure; after a package that could not be loaded TikoGetLastError()
   * (GetLastError() on Windows) gives TIKO_STATUS_UNSUCCESSFUL. Opening again
   * gives back what the player held first. */
  virtual int32_t OpenSized(TikoWindowHandle window, const TikoPathChar* packagePath,
                            TikoBitmapHandle backgroundBitmap, int32_t frameWidth, int32_t frameHeight) = 0;
  /* Slot 1. OpenSized with a 320 x 240 frame. */
  virtual int32_t Open(TikoWindowHandle window, const TikoPathChar* packagePath,
                       TikoBitmapHandle backgroundBitmap) = 0;
  /* Slot 2. Frees the present package and loads another; the eye positions
   * stay. Returns 1, or 0 when the new one could not be loaded: the player
   * then holds no package and renders the bare frames. */
  virtual int32_t ChangePackage(const TikoPathChar* packagePath) = 0;
  /* Slot 3. Renders one frame and presents it in the window, stretched to the
   * window's size at open, with its top-left corner at (x, y). `hostFrame` has
   * the frame's size, or is null for the background (black without one). With
   * `decimate` nonzero on a 320 x 240 player, it is a 640 x 480 frame that is
   * halved. Returns 1 when an actor was on stage, else 0 (also before open). */
  virtual int32_t RenderAt(const uint8_t* hostFrame, int32_t x, int32_t y, int32_t decimate) = 0;
  /* Slot 4. RenderAt at (0, 0). */
  virtual int32_t Render(const uint8_t* hostFrame, int32_t decimate) = 0;
  /* Slot 5. RenderAt with no host frame, at (0, 0). */
  virtual int32_t RenderBackground() = 0;
  /* Slot 6. Reports one eye's position in a 320 x 240 image whose row 0 is the
   * top line, whatever the frame size. The actors that follow it stay for 16
   * renders; a negative coordinate hides them. */
  virtual void SetEyePosition(int32_t x, int32_t y) = 0;
  /* Slot 7. Destroys the player and gives back all it holds. */
  virtual void Release() = 0;

 protected:
  /* Slot 8. Only Release destroys a player. */
  virtual ~CTikoPlayer() {}
};

extern "C" {

/* A new, independent player, or null when it cannot be allocated. */
TIKO_EXPORT CTikoPlayer* TikoGetInterface();

#if !defined(_WIN32)
/* The calling thread's last-error value: TIKO_STATUS_UNSUCCESSFUL after an
 * open whose package could not be loaded. On Windows the thread's own last
 * error holds it: GetLastError(). */
TIKO_EXPORT uint32_t TikoGetLastError();
#endif

}  // extern "C"

#endif  // TIKO_TIKO_H_
