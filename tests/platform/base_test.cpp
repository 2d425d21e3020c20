// The native half must behave as Windows does: these pass natively and under Wine.
#include <atomic>
#include <thread>

#include "support/support.h"
#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

using plat::wstring;
using testsupport::TempDir;

ULONGLONG Ft64(const FILETIME& ft) { return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

TEST(LastError, IsKeptPerThread) {
  // No system call between the two threads' steps: thread start and join may set the code.
  std::atomic<int> step{0};
  DWORD seenByOther = 0, seenHere = 0;
  std::thread other([&] {
    SetLastError(77);
    step = 1;
    while (step != 2) {
    }
    seenByOther = GetLastError();
  });
  while (step != 1) {
  }
  SetLastError(1234);
  step = 2;
  seenHere = GetLastError();
  other.join();
  EXPECT_EQ(seenByOther, 77u);
  EXPECT_EQ(seenHere, 1234u);
}

TEST(Ticks, CountMillisecondsAndSleepWaits) {
  DWORD before = GetTickCount();
  Sleep(200);
  DWORD elapsed = GetTickCount() - before;
  EXPECT_GE(elapsed, 150u);  // the tick counter may advance in steps of about 16 ms
  EXPECT_LT(elapsed, 5000u);
}

TEST(SystemTime, ConvertsBothWaysAtKnownPoints) {
  SYSTEMTIME st = {};
  st.wYear = 2004, st.wMonth = 10, st.wDay = 7, st.wHour = 14, st.wMinute = 5, st.wSecond = 8, st.wMilliseconds = 9;
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  // 2004-10-07 14:05:08.009 UTC = 1097157908 s after 1970.
  EXPECT_EQ(Ft64(ft), (1097157908ULL + 11644473600ULL) * 10000000ULL + 90000ULL);
  SYSTEMTIME back = {};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 2004);
  EXPECT_EQ(back.wMonth, 10);
  EXPECT_EQ(back.wDay, 7);
  EXPECT_EQ(back.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(back.wHour, 14);
  EXPECT_EQ(back.wSecond, 8);
  EXPECT_EQ(back.wMilliseconds, 9);

  st = {};
  st.wYear = 2000, st.wMonth = 2, st.wDay = 30;
  EXPECT_FALSE(SystemTimeToFileTime(&st, &ft));
  st.wDay = 29;
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
}

TEST(SystemTime, NowAgreesInBothForms) {
  FILETIME a;
  GetSystemTimeAsFileTime(&a);
  SYSTEMTIME st;
  GetSystemTime(&st);
  FILETIME b;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &b));
  ULONGLONG diff = Ft64(b) > Ft64(a) ? Ft64(b) - Ft64(a) : Ft64(a) - Ft64(b);
  EXPECT_LT(diff, 20000000ULL);  // two seconds
  EXPECT_GE(st.wYear, 2024);
}

TEST(SystemTime, DosDateTimeCoversTheYears1980To2107) {
  SYSTEMTIME st = {};
  st.wYear = 1980, st.wMonth = 1, st.wDay = 1, st.wSecond = 1;
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  WORD date = 0xFFFF, time = 0xFFFF;
  ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(time, 0);  // odd seconds round down to the two-second count
  st.wYear = 2107, st.wMonth = 12, st.wDay = 31, st.wHour = 23, st.wMinute = 59, st.wSecond = 59;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
  st.wYear = 1970, st.wMonth = 1, st.wDay = 1, st.wHour = 0, st.wMinute = 0, st.wSecond = 0;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
}

TEST(CodePage, AnsiIsWindows1252) {
  EXPECT_EQ(GetACP(), 1252u);
  const char text[] = "a\x80\xE9\x9F";
  WCHAR wide[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8), 5);
  EXPECT_EQ(wstring(wide), (wstring{'a', 0x20AC, 0xE9, 0x178}));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), 5);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

  char back[8] = {};
  BOOL usedDefault = FALSE;
  const WCHAR w[] = {'a', 0x20AC, 0x4E2D, 0};
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, w, -1, back, 8, nullptr, &usedDefault), 4);
  EXPECT_STREQ(back, "a\x80?");
  EXPECT_TRUE(usedDefault);
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, w, -1, back, 8, nullptr, nullptr), 8);
  EXPECT_STREQ(back, "a\xE2\x82\xAC\xE4\xB8\xAD");
}

TEST(Attributes, TellFilesFromDirectoriesAndMissingNames) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "f.txt", "abc");
  DWORD a = GetFileAttributesW(dir.Wide().c_str());
  ASSERT_NE(a, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);
  a = GetFileAttributesW(dir.Wide("f.txt").c_str());
  ASSERT_NE(a, INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(a & FILE_ATTRIBUTE_DIRECTORY);

  EXPECT_EQ(GetFileAttributesW(dir.Wide("missing.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(dir.Wide(TEXT("no\\such.txt")).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW(dir.Wide("f.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_LT(Ft64(now) - Ft64(data.ftLastWriteTime), 600000000ULL);  // written within a minute
}

TEST(Attributes, BothSeparatorsWork) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "sub");
  testsupport::WriteBytes(dir.path() / "sub" / "f", "x");
  wstring mixed = dir.Wide() + TEXT("/sub\\f");
  EXPECT_NE(GetFileAttributesW(mixed.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DriveType, NoNetworkNameForALocalDrive) {
  WCHAR buffer[260];
  DWORD size = sizeof buffer;
  EXPECT_NE(WNetGetUniversalNameW(TEXT("C:\\"), UNIVERSAL_NAME_INFO_LEVEL, buffer, &size), DWORD(NO_ERROR));
  EXPECT_EQ(GetDriveTypeW(TEXT("C:\\")), UINT(DRIVE_FIXED));
}

TEST(Memory, ReservedPagesCommitOnRequestAndReleaseWhole) {
  const SIZE_T size = 3 * 65536;
  BYTE* base = static_cast<BYTE*>(VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(base, nullptr);
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_EQ(VirtualQuery(base, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, DWORD(MEM_RESERVE));
  EXPECT_EQ(info.AllocationBase, base);
  ASSERT_EQ(VirtualAlloc(base + 65536, 4096, MEM_COMMIT, PAGE_READWRITE), base + 65536);
  base[65536] = 42;
  ASSERT_EQ(VirtualQuery(base + 65536, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, DWORD(MEM_COMMIT));
  EXPECT_EQ(info.Protect, DWORD(PAGE_READWRITE));
  EXPECT_EQ(info.AllocationBase, base);
  // The reserved pages on either side form regions of their own.
  ASSERT_EQ(VirtualQuery(base, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, DWORD(MEM_RESERVE));
  EXPECT_EQ(info.RegionSize, SIZE_T(65536));
  ASSERT_EQ(VirtualQuery(base + 65536 + 4096, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, DWORD(MEM_RESERVE));
  EXPECT_EQ(info.RegionSize, size - 65536 - 4096);
  // Decommitted again, the page is reserved once more.
  EXPECT_TRUE(VirtualFree(base + 65536, 4096, MEM_DECOMMIT));
  ASSERT_EQ(VirtualQuery(base + 65536, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, DWORD(MEM_RESERVE));
  EXPECT_FALSE(VirtualFree(base + 65536, 0, MEM_RELEASE));  // only the base releases
  EXPECT_FALSE(VirtualFree(base, size, MEM_RELEASE));       // and only with size 0
  EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(Memory, CommitWithoutAnAddressReservesToo) {
  BYTE* p = static_cast<BYTE*>(VirtualAlloc(nullptr, 10000, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(p, nullptr);
  p[9999] = 1;
  EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
}

TEST(Memory, HeapsAllocateAndPrivateHeapsFreeEverything) {
  HANDLE heap = GetProcessHeap();
  BYTE* p = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 100));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[99], 0);
  EXPECT_EQ(HeapSize(heap, 0, p), SIZE_T(100));
  EXPECT_TRUE(HeapFree(heap, 0, p));
  HANDLE own = HeapCreate(0, 0, 0);
  ASSERT_NE(own, nullptr);
  for (int i = 0; i < 10; ++i) ASSERT_NE(HeapAlloc(own, 0, 1000), nullptr);
  EXPECT_TRUE(HeapDestroy(own));  // nothing leaks (the sanitized build checks)
}

TEST(Sync, CriticalSectionsAreRecursiveAndExclusive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  std::atomic<int> gotIt{-1};
  std::thread other([&] { gotIt = TryEnterCriticalSection(&cs) ? 1 : 0; });
  other.join();
  EXPECT_EQ(gotIt, 0);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread again([&] {
    gotIt = TryEnterCriticalSection(&cs) ? 1 : 0;
    if (gotIt) LeaveCriticalSection(&cs);
  });
  again.join();
  EXPECT_EQ(gotIt, 1);
  DeleteCriticalSection(&cs);

  LONG volatile n = 0;
  std::thread t1([&] { for (int i = 0; i < 10000; ++i) InterlockedIncrement(&n); });
  std::thread t2([&] { for (int i = 0; i < 10000; ++i) InterlockedIncrement(&n); });
  t1.join();
  t2.join();
  EXPECT_EQ(n, 20000);
  EXPECT_EQ(InterlockedDecrement(&n), 19999);
  EXPECT_EQ(InterlockedCompareExchange(&n, 5, 19999), 19999);
  EXPECT_EQ(n, 5);
}

TEST(Tls, SlotsArePerThread) {
  DWORD slot = TlsAlloc();
  ASSERT_NE(slot, DWORD(TLS_OUT_OF_INDEXES));
  int mine = 1, theirs = 2;
  TlsSetValue(slot, &mine);
  void* seen = &mine;
  std::thread other([&] {
    seen = TlsGetValue(slot);
    TlsSetValue(slot, &theirs);
  });
  other.join();
  EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(TlsGetValue(slot), &mine);
  TlsFree(slot);
}

#ifndef _WIN32
TEST(NativeHooks, TickSourceAndDebugSinkSteerTheSystem) {
  static DWORD fake = 1000;
  plat_hooks::SetTickSource([](void*) { return fake; }, nullptr);
  EXPECT_EQ(GetTickCount(), 1000u);
  fake = 0xFFFFFFF0u;
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  plat_hooks::SetTickSource(nullptr, nullptr);
  EXPECT_NE(GetTickCount(), 0xFFFFFFF0u);

  wstring seen;
  plat_hooks::SetDebugSink([](const WCHAR* t, void* c) { *static_cast<wstring*>(c) += t; }, &seen);
  OutputDebugStringW(TEXT("one\r\n"));
  OutputDebugStringA("two\x80");
  plat_hooks::SetDebugSink(nullptr, nullptr);
  OutputDebugStringW(TEXT("lost"));
  EXPECT_EQ(seen, (wstring{'o', 'n', 'e', '\r', '\n', 't', 'w', 'o', 0x20AC}));
}
#endif

}  // namespace
