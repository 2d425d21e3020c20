// Library start-up that fails: the process cannot go on, as on Windows when a
// library linked at load time refuses to load.
#include <cstdio>
#include <unistd.h>

#include "../win32.h"

namespace plat {
void RefuseLoad(const char* library) {
  std::fprintf(stderr, "a library of the suite could not start (%s); the process ends\n", library);
  _exit(127);
}
}  // namespace plat

extern "C" BOOL WINAPI DisableThreadLibraryCalls(HMODULE) { return TRUE; }
