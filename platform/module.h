// One place for a library's load and unload work: DllMain on Windows, a
// constructor and a destructor function natively. `onLoad` returns false to
// refuse the load; thread notifications are turned off after a good load.
#pragma once

#ifdef _WIN32
#define PLATFORM_LIBRARY_MAIN(onLoad, onUnload)                                  \
  extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {       \
    if (reason == DLL_PROCESS_ATTACH) {                                          \
      if (!(onLoad)()) return FALSE;                                             \
      DisableThreadLibraryCalls(module);                                         \
    } else if (reason == DLL_PROCESS_DETACH) {                                   \
      (onUnload)();                                                              \
    }                                                                            \
    return TRUE;                                                                 \
  }
#else
namespace plat {
// A library that cannot start ends the process, as a failed load-time link does on Windows.
[[noreturn]] PLAT_API void RefuseLoad(const char* library);
}  // namespace plat
#define PLATFORM_LIBRARY_MAIN(onLoad, onUnload)                                  \
  __attribute__((constructor)) static void PlatformLibraryLoad() {               \
    if (!(onLoad)()) ::plat::RefuseLoad(__FILE__);                               \
  }                                                                              \
  __attribute__((destructor)) static void PlatformLibraryUnload() { (onUnload)(); }
#endif
