// What the system says about itself: memory figures, system facts, thread
// identities, the regions of code, stack and data, and the file of a module
// from its handle, on both targets alike.
#include <thread>

#include "files.h"

namespace {

int g_data = 1;
__attribute__((noinline)) int CodeHere(int x) { return x * 3 + g_data; }

TEST(SystemInfo, DescribesPagesAndTheUserAddressSpace) {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(si.dwPageSize, 4096u);
  EXPECT_EQ(si.dwAllocationGranularity, 65536u);
  EXPECT_GE(si.dwNumberOfProcessors, 1u);
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(si.lpMinimumApplicationAddress), 0x10000u);
  EXPECT_EQ((reinterpret_cast<ULONG_PTR>(si.lpMaximumApplicationAddress) + 1) % si.dwPageSize, 0u);
}

TEST(MemoryStatus, FiguresAreConsistentAndFollowReservations) {
  MEMORYSTATUSEX ms = {};
  ms.dwLength = sizeof ms - 1;
  EXPECT_FALSE(GlobalMemoryStatusEx(&ms));
  ms.dwLength = sizeof ms;
  ASSERT_TRUE(GlobalMemoryStatusEx(&ms));
  EXPECT_GT(ms.ullTotalPhys, 64ull << 20);
  EXPECT_LE(ms.ullAvailPhys, ms.ullTotalPhys);
  EXPECT_GT(ms.ullTotalPageFile, 0u);
  EXPECT_LE(ms.ullAvailPageFile, ms.ullTotalPageFile);
  EXPECT_LE(ms.dwMemoryLoad, 100u);
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(ms.ullTotalVirtual, reinterpret_cast<ULONG_PTR>(si.lpMaximumApplicationAddress) -
                                    reinterpret_cast<ULONG_PTR>(si.lpMinimumApplicationAddress) + 1);
  EXPECT_LT(ms.ullAvailVirtual, ms.ullTotalVirtual);

  // Reserved address space is no longer available (Wine leaves the figure as it is).
  const SIZE_T size = 256u << 20;
  void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(block, nullptr);
  MEMORYSTATUSEX after = {};
  after.dwLength = sizeof after;
  ASSERT_TRUE(GlobalMemoryStatusEx(&after));
  VirtualFree(block, 0, MEM_RELEASE);
  if (!fstest::UnderWine()) {
    EXPECT_LE(after.ullAvailVirtual + size - (16u << 20), ms.ullAvailVirtual);
  }

  MEMORYSTATUS old;
  GlobalMemoryStatus(&old);
  EXPECT_EQ(old.dwLength, sizeof old);
  EXPECT_GT(old.dwTotalPhys, 0u);
}

TEST(Threads, IdentifiersAreStablePerThreadAndDistinct) {
  const DWORD mine = GetCurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(GetCurrentThreadId(), mine);
  DWORD other = 0;
  std::thread([&] { other = GetCurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(Regions, CodeStackAndDataHaveTheirKinds) {
  MEMORY_BASIC_INFORMATION code, stack, data;
  int local = CodeHere(1);
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&CodeHere), &code, sizeof code), sizeof code);
  ASSERT_EQ(VirtualQuery(&local, &stack, sizeof stack), sizeof stack);
  ASSERT_EQ(VirtualQuery(&g_data, &data, sizeof data), sizeof data);
  EXPECT_EQ(code.State, MEM_COMMIT);
  EXPECT_EQ(code.Protect, PAGE_EXECUTE_READ);
  EXPECT_EQ(code.Type, MEM_IMAGE);
  EXPECT_EQ(code.AllocationBase, reinterpret_cast<void*>(GetModuleHandleW(nullptr)));
  EXPECT_EQ(data.AllocationBase, code.AllocationBase);
  EXPECT_EQ(stack.State, MEM_COMMIT);
  EXPECT_EQ(stack.Protect, PAGE_READWRITE);
  // The region runs from the page of the address to the end of pages alike.
  EXPECT_EQ(reinterpret_cast<ULONG_PTR>(stack.BaseAddress), reinterpret_cast<ULONG_PTR>(&local) & ~ULONG_PTR(4095));
  EXPECT_GT(reinterpret_cast<ULONG_PTR>(stack.BaseAddress) + stack.RegionSize, reinterpret_cast<ULONG_PTR>(&local));

  MEMORY_BASIC_INFORMATION low, high;
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(0x100), &low, sizeof low), sizeof low);
  EXPECT_EQ(low.State, MEM_FREE);
  EXPECT_EQ(low.AllocationBase, nullptr);
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const BYTE* beyond = static_cast<const BYTE*>(si.lpMaximumApplicationAddress) + 1;
  EXPECT_EQ(VirtualQuery(beyond, &high, sizeof high), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

plat::wstring FileName(const WCHAR* path) {
  plat::wstring s(path);
  size_t cut = s.find_last_of(TEXT("\\/"));
  s = cut == plat::wstring::npos ? s : s.substr(cut + 1);
  for (WCHAR& c : s) c = c >= 'A' && c <= 'Z' ? WCHAR(c - 'A' + 'a') : c;
  return s;
}

TEST(Modules, FileNameComesFromTheHandleAtTheStartOfTheImage) {
  // The system library of each target, found by the address of one of its functions.
#ifdef _WIN32
  const plat::wstring expected = TEXT("kernel32.dll");
#else
  const plat::wstring expected = TEXT("libqzplatform.so.1");  // the loader opens the versioned name
#endif
  MEMORY_BASIC_INFORMATION mi;
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&GetTickCount), &mi, sizeof mi), sizeof mi);
  WCHAR name[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(static_cast<HMODULE>(mi.AllocationBase), name, MAX_PATH), 0u);
  EXPECT_EQ(FileName(name), expected);
  EXPECT_NE(GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);

  // The program's own image: its handle is the allocation base of its code.
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&CodeHere), &mi, sizeof mi), sizeof mi);
  WCHAR self[MAX_PATH], byHandle[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  ASSERT_GT(GetModuleFileNameW(static_cast<HMODULE>(mi.AllocationBase), byHandle, MAX_PATH), 0u);
  EXPECT_EQ(plat::wstring(byHandle), plat::wstring(self));

  // An address inside an image, or memory of no module, is no handle.
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<BYTE*>(mi.AllocationBase) + 4096), name, MAX_PATH),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  void* block = VirtualAlloc(nullptr, 65536, MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GetModuleFileNameW(static_cast<HMODULE>(block), name, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace
