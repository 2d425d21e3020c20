// A fault no guard catches reaches the unhandled-exception filter with its
// code, parameters and registers (the frame pointer among them, for stack
// traces); the filter ends the process with the exception's code, or repairs
// the cause and lets the faulting instruction run again. Built with frame
// pointers (see CMakeLists.txt).
#include <string>

#include "support/support.h"

namespace {

BYTE* g_page;
void* g_frame;
WCHAR g_result[MAX_PATH];
bool g_repair;

__attribute__((noinline)) void WriteTo(volatile BYTE* p) {
  g_frame = __builtin_frame_address(0);
  asm volatile("" ::: "memory");  // the frame is set up before the write
  *p = 7;
  asm volatile("" ::: "memory");
}
__attribute__((noinline)) void AfterWriteTo() { asm volatile(""); }

LONG WINAPI Filter(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* r = info->ExceptionRecord;
#if defined(_WIN64) || defined(__x86_64__)
  const ULONG_PTR fp = info->ContextRecord->Rbp, ip = info->ContextRecord->Rip;
#else
  const ULONG_PTR fp = info->ContextRecord->Ebp, ip = info->ContextRecord->Eip;
#endif
  const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(&WriteTo);
  std::string facts = plat::FormatAS(
      "code=%08X write=%d target=%d ip=%d fp=%d", static_cast<unsigned>(r->ExceptionCode),
      r->NumberParameters >= 2 && r->ExceptionInformation[0] == 1,
      r->NumberParameters >= 2 && r->ExceptionInformation[1] == reinterpret_cast<ULONG_PTR>(g_page + 5),
      reinterpret_cast<ULONG_PTR>(r->ExceptionAddress) == ip && ip > start && ip < start + 256,
      fp == reinterpret_cast<ULONG_PTR>(g_frame));
  HANDLE h = CreateFileW(g_result, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(h, facts.data(), static_cast<DWORD>(facts.size()), &written, nullptr);
  CloseHandle(h);
  if (!g_repair) return EXCEPTION_EXECUTE_HANDLER;
  DWORD old;
  VirtualProtect(g_page, 4096, PAGE_READWRITE, &old);
  return EXCEPTION_CONTINUE_EXECUTION;
}

int g_filterCalls;
LONG WINAPI CountingFilter(EXCEPTION_POINTERS*) {
  ++g_filterCalls;
  return EXCEPTION_CONTINUE_SEARCH;
}

// args: the file for the filter's findings, "end" or "repair".
QZ_CHILD_ROLE(fault_to_filter) {
  plat::WCopy(g_result, MAX_PATH, args[0].c_str());
  g_repair = args[1] == TEXT("repair");
  g_page = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY));
  SetUnhandledExceptionFilter(Filter);
  WriteTo(g_page + 5);
  AfterWriteTo();
  return g_page[5] == 7 ? 0 : 3;
}

std::string Findings(const testsupport::TempDir& dir, const char* mode, long& exitCode) {
  exitCode = testsupport::RunChild("fault_to_filter", {dir.Wide("facts.txt"), plat::Wide(mode)});
  return testsupport::ReadBytes(dir.path() / "facts.txt");
}

TEST(ExceptionFilter, SeesTheFaultAndEndsTheProcessWithItsCode) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  testsupport::TempDir dir;
  long exitCode = 0;
  EXPECT_EQ(Findings(dir, "end", exitCode), "code=C0000005 write=1 target=1 ip=1 fp=1");
  EXPECT_EQ(static_cast<DWORD>(exitCode), EXCEPTION_ACCESS_VIOLATION);
}

TEST(ExceptionFilter, RepairedFaultRunsAgainAndTheProgramGoesOn) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  testsupport::TempDir dir;
  long exitCode = -1;
  EXPECT_EQ(Findings(dir, "repair", exitCode), "code=C0000005 write=1 target=1 ip=1 fp=1");
  EXPECT_EQ(exitCode, 0);
}

TEST(ExceptionFilter, GuardedFaultsDoNotReachIt) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(CountingFilter);
  BYTE* page = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_NOACCESS));
  EXPECT_FALSE(plat::Guarded([&] { WriteTo(page); }));
  VirtualFree(page, 0, MEM_RELEASE);
  SetUnhandledExceptionFilter(before);
  EXPECT_EQ(g_filterCalls, 0);
}

}  // namespace
