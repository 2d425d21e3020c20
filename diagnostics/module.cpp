// The module of an address: the allocation base of its memory region, which
// for an image is the module's handle, and the module's file name without
// directory and extension.
#include <cstring>

#include "internal.h"

namespace dravel {

bool FindModule(DRAVEL_ADDRESS address, Module& module) {
  module = Module();
  MEMORY_BASIC_INFORMATION mi;
  if (VirtualQuery(reinterpret_cast<LPCVOID>(address), &mi, sizeof mi) != sizeof mi) return false;
  module.base = reinterpret_cast<DRAVEL_ADDRESS>(mi.AllocationBase);
  // Free memory belongs to nothing, and a null handle would name the program.
  if (mi.State == MEM_FREE || !module.base) return true;
  WCHAR path[1024];
  DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(mi.AllocationBase), path, 1024);
  if (n == 0 || n >= 1024) return true;  // no module, or a name too long to be sure of
  // The file name first, then its extension off: a directory with a dot in
  // its name must not cut the name of a file without one.
  const WCHAR* file = path;
  for (const WCHAR* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') file = p + 1;
  int length = static_cast<int>(plat::WLen(file));
#ifndef _WIN32
  // A shared object is loaded by its versioned name (libNAME.so.1): the
  // version goes before the extension does.
  for (int end = length; end > 0;) {
    int i = end;
    while (i > 0 && file[i - 1] >= '0' && file[i - 1] <= '9') --i;
    if (i == end || i == 0 || file[i - 1] != '.') break;
    const int dot = i - 1;
    if (dot >= 3 && file[dot - 3] == '.' && file[dot - 2] == 's' && file[dot - 1] == 'o') {
      length = dot;
      break;
    }
    end = dot;
  }
#endif
  for (int i = length - 1; i >= 0; --i)
    if (file[i] == '.') {
      length = i;
      break;
    }
  if (length == 0) return true;
  int bytes = WideCharToMultiByte(CP_ACP, 0, file, length, module.name, sizeof module.name - 1, nullptr, nullptr);
  module.name[bytes > 0 ? bytes : 0] = 0;
  return true;
}

bool SameName(const char* a, const char* b) {
  for (; *a && plat::AUpper(*a) == plat::AUpper(*b); ++a, ++b) {
  }
  return plat::AUpper(*a) == plat::AUpper(*b);
}

}  // namespace dravel
