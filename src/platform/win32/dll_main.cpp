// The library's entry routine. The player sets nothing up per process or per
// thread (every player is made by TikoGetInterface and lives on the heap), so
// every load and unload notification succeeds.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }
