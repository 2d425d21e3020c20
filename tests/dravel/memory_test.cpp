// The memory figures in pages, beside the platform's own figures in bytes.
#include <cstring>

#include "dravel_test.h"

namespace {

TEST(MemDemandInfo, FillsItsFieldsInPagesAndClearsTheOthers) {
  MemDemandInfo info;
  std::memset(&info, 0xAB, sizeof info);
  GetMemDemandInfo(&info);
  MEMORYSTATUSEX ms;
  ms.dwLength = sizeof ms;
  ASSERT_TRUE(GlobalMemoryStatusEx(&ms));
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const DWORDLONG page = si.dwPageSize;

  const DWORD* field = reinterpret_cast<const DWORD*>(&info);
  for (int i : {3, 4, 6, 7, 8, 9, 10, 13, 14, 15}) EXPECT_EQ(field[i], 0u) << "field " << i;
  EXPECT_EQ(info.dwTotalVirtualTwice, static_cast<DWORD>(ms.ullTotalVirtual * 2));
  EXPECT_EQ(info.dwTotalPhysPages, ms.ullTotalPhys / page);
  EXPECT_EQ(info.dwTotalPageFilePages, ms.ullTotalPageFile / page);
  // Figures that move while the test runs: near the platform's.
  EXPECT_NEAR(double(info.dwAvailPhysPages), double(ms.ullAvailPhys / page), 0.05 * double(info.dwTotalPhysPages));
  EXPECT_NEAR(double(info.dwUsedPageFilePages), double((ms.ullTotalPageFile - ms.ullAvailPageFile) / page),
              0.05 * double(info.dwTotalPageFilePages));
  const DWORDLONG avail = ms.ullAvailVirtual / page;
  EXPECT_NEAR(double(info.dwAvailVirtualPages), double(avail > 0xFFFFFFFFull ? 0xFFFFFFFFull : avail), 65536.0);
  GetMemDemandInfo(nullptr);  // nothing to fill, no fault
}

}  // namespace
