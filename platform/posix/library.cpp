// Libraries loaded at run time, over dlopen. As on Windows a module handle is
// the address the module is loaded at (GetModuleFileNameW takes it too), loads
// are counted until the last FreeLibrary, a bare name is looked for beside the
// program first, and GetProcAddress finds only what the module itself exports,
// not what the libraries it uses do.
#include <dlfcn.h>
#include <link.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "internal.h"

namespace {

struct Loaded {
  void* base;
  void* handle;
  unsigned count;
};

std::mutex g_mutex;
std::vector<Loaded> g_loaded;

void* BaseOf(void* handle) {
  struct link_map* map = nullptr;
  Dl_info info;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(map->l_ld, &info)) return nullptr;
  return info.dli_fbase;
}

std::string ProgramDirectory() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return std::string();
  std::string path(exe, size_t(n));
  return path.substr(0, path.rfind('/') + 1);
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string path;
  bool bare = true;
  for (const WCHAR* p = name; *p; ++p) bare = bare && *p != '\\' && *p != '/' && *p != ':';
  if (bare) {
    path = plat::Utf8(name);
    const std::string beside = ProgramDirectory() + path;
    if (Exists(beside)) path = beside;  // else the system's search, as Windows goes on to its own
  } else if (!posix::ToNative(name, path)) {
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* base = handle ? BaseOf(handle) : nullptr;
  if (!base) {
    if (handle) dlclose(handle);
    SetLastError(Exists(path) ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  for (Loaded& l : g_loaded)
    if (l.base == base) {
      ++l.count;  // dlopen counted it too: each load has its dlclose
      return static_cast<HMODULE>(base);
    }
  g_loaded.push_back({base, handle, 1});
  return static_cast<HMODULE>(base);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (reinterpret_cast<uintptr_t>(name) < 0x10000) {  // null, or an ordinal: there are none here
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (!module) module = GetModuleHandleW(nullptr);
  Dl_info info;
  if (!dladdr(module, &info) || info.dli_fbase != module) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // A handle of our own for the lookup, whoever loaded the module.
  void* handle = module == GetModuleHandleW(nullptr) ? dlopen(nullptr, RTLD_NOW)
                                                     : dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  void* symbol = handle ? dlsym(handle, name) : nullptr;
  if (handle) dlclose(handle);
  Dl_info owner;
  if (!symbol || !dladdr(symbol, &owner) || owner.dli_fbase != module) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  void* handle = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (size_t i = 0; i < g_loaded.size(); ++i)
      if (g_loaded[i].base == module) {
        handle = g_loaded[i].handle;
        if (--g_loaded[i].count == 0) g_loaded.erase(g_loaded.begin() + std::ptrdiff_t(i));
        break;
      }
  }
  if (!handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  dlclose(handle);  // outside the lock: the module's unload work may load or free others
  return TRUE;
}

}  // extern "C"
