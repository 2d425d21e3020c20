// Helpers of the file-system tests of the platform door.
#pragma once

#include <string>

#include "support/support.h"

namespace fstest {

using plat::wstring;

// True when the win32 build runs under Wine. Wine answers differently from
// Windows in a few places; each use says which.
inline bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A handle closed when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};

inline HANDLE Open(const wstring& path, DWORD access, DWORD share, DWORD creation = OPEN_EXISTING, DWORD flags = 0) {
  return CreateFileW(path.c_str(), access, share, nullptr, creation, flags, nullptr);
}

// The last error of an open: 0 when it succeeded (the handle is closed again).
inline DWORD OpenError(const wstring& path, DWORD access, DWORD share, DWORD creation = OPEN_EXISTING) {
  HANDLE h = Open(path, access, share, creation);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return 0;
}

inline bool Write(HANDLE h, const std::string& bytes) {
  DWORD n = 0;
  return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
}

// Reads up to `count` bytes from the file pointer on; empty on failure.
inline std::string Read(HANDLE h, DWORD count) {
  std::string bytes(count, '\0');
  DWORD n = 0;
  if (!ReadFile(h, &bytes[0], count, &n, nullptr)) return std::string();
  bytes.resize(n);
  return bytes;
}

inline ULONGLONG Ft64(const FILETIME& ft) { return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
inline FILETIME MakeFt(ULONGLONG t) { return FILETIME{DWORD(t), DWORD(t >> 32)}; }

}  // namespace fstest
