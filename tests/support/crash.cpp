// The crash hook of the tests: natively the platform's own; on win32 a wrapper
// of the file calls that the suite's DLLs import, put into their import
// address tables in this process.
#include <atomic>
#include <cstring>

#include "support.h"

#ifndef _WIN32
#include "platform/posix/hooks.h"

namespace testsupport {
void CrashAtCall(ULONGLONG n, DWORD keep) { plat_hooks::CrashAtCall(n, keep, kCrashed); }
ULONGLONG FileChangingCalls() { return plat_hooks::FileChangingCalls(); }
}  // namespace testsupport

#else

namespace testsupport {
namespace {

std::atomic<ULONGLONG> g_calls{0};
std::atomic<ULONGLONG> g_crashAt{0};
std::atomic<DWORD> g_keep{0};

// The real functions, as the import tables held them.
decltype(&::WriteFile) g_WriteFile;
decltype(&::SetEndOfFile) g_SetEndOfFile;
decltype(&::FlushFileBuffers) g_FlushFileBuffers;
decltype(&::CreateFileW) g_CreateFileW;
decltype(&::DeleteFileW) g_DeleteFileW;
decltype(&::MoveFileW) g_MoveFileW;
decltype(&::MoveFileExW) g_MoveFileExW;

// True when this call is the one to die at; `keep` is what a write may still make.
bool CrashHere(DWORD& keep) {
  const ULONGLONG n = ++g_calls;
  keep = g_keep;
  return g_crashAt.load() == n;
}

[[noreturn]] void Die() {
  TerminateProcess(GetCurrentProcess(), kCrashed);
  for (;;) Sleep(INFINITE);
}

void CrashPoint() {
  DWORD keep;
  if (CrashHere(keep)) Die();
}

BOOL WINAPI WrapWriteFile(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED ov) {
  DWORD keep;
  if (!CrashHere(keep)) return g_WriteFile(h, data, size, written, ov);
  DWORD put = 0;
  if (keep) g_WriteFile(h, data, keep < size ? keep : size, &put, ov);
  Die();
}
BOOL WINAPI WrapSetEndOfFile(HANDLE h) {
  CrashPoint();
  return g_SetEndOfFile(h);
}
BOOL WINAPI WrapFlushFileBuffers(HANDLE h) {
  CrashPoint();
  return g_FlushFileBuffers(h);
}
HANDLE WINAPI WrapCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD creation,
                              DWORD flags, HANDLE templ) {
  if (creation != OPEN_EXISTING) CrashPoint();
  return g_CreateFileW(name, access, share, sa, creation, flags, templ);
}
BOOL WINAPI WrapDeleteFileW(LPCWSTR name) {
  CrashPoint();
  return g_DeleteFileW(name);
}
BOOL WINAPI WrapMoveFileW(LPCWSTR from, LPCWSTR to) {
  CrashPoint();
  return g_MoveFileW(from, to);
}
BOOL WINAPI WrapMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  CrashPoint();
  return g_MoveFileExW(from, to, flags);
}

struct Wrap {
  const char* name;
  void* wrapper;
  void** real;
};

// Points the module's imports of `name` from kernel32 at the wrapper.
void Patch(HMODULE module, const Wrap& w) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), "kernel32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk
                                                                                       : imp->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), w.name) != 0) continue;
      DWORD was;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was);
      if (!*w.real) *w.real = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(w.wrapper);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
    }
  }
}

void Install() {
  static bool done = false;
  if (done) return;
  done = true;
  const Wrap wraps[] = {
      {"WriteFile", reinterpret_cast<void*>(WrapWriteFile), reinterpret_cast<void**>(&g_WriteFile)},
      {"SetEndOfFile", reinterpret_cast<void*>(WrapSetEndOfFile), reinterpret_cast<void**>(&g_SetEndOfFile)},
      {"FlushFileBuffers", reinterpret_cast<void*>(WrapFlushFileBuffers),
       reinterpret_cast<void**>(&g_FlushFileBuffers)},
      {"CreateFileW", reinterpret_cast<void*>(WrapCreateFileW), reinterpret_cast<void**>(&g_CreateFileW)},
      {"DeleteFileW", reinterpret_cast<void*>(WrapDeleteFileW), reinterpret_cast<void**>(&g_DeleteFileW)},
      {"MoveFileW", reinterpret_cast<void*>(WrapMoveFileW), reinterpret_cast<void**>(&g_MoveFileW)},
      {"MoveFileExW", reinterpret_cast<void*>(WrapMoveFileExW), reinterpret_cast<void**>(&g_MoveFileExW)},
  };
  for (const WCHAR* dll : {TEXT("pellam.dll"), TEXT("ferrow.dll")})
    if (HMODULE m = GetModuleHandleW(dll))
      for (const Wrap& w : wraps) Patch(m, w);
}

}  // namespace

void CrashAtCall(ULONGLONG n, DWORD keep) {
  Install();
  g_keep = keep;
  g_crashAt = n ? g_calls.load() + n : 0;
}

ULONGLONG FileChangingCalls() {
  Install();
  return g_calls;
}

}  // namespace testsupport
#endif
