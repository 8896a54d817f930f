// The library's exports: the factory and, on POSIX, the thread's last error.
#include "platform/platform.h"
#include "player/player.h"
#include "tiko/tiko.h"

extern "C" TIKO_EXPORT CTikoPlayer* TikoGetInterface() { return tiko::CreatePlayer(); }

// Windows hosts read the thread's last error with GetLastError() itself.
#if !defined(_WIN32)
extern "C" TIKO_EXPORT uint32_t TikoGetLastError() { return tiko::platform::LastErrorValue(); }
#endif
