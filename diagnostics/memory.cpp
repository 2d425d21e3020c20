// The machine's memory figures in pages of the size read at load.
#include <cstring>

#include "internal.h"

namespace {

// Saturates rather than wraps: 64-bit address spaces hold more pages than 32 bits count.
DWORD Pages(DWORDLONG bytes) {
  DWORDLONG pages = bytes / dravel::g_pageSize;
  return pages > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(pages);
}

}  // namespace

DRAVEL_API void WINAPI GetMemDemandInfo(MemDemandInfo* info) {
  MemDemandInfo figures;
  std::memset(&figures, 0, sizeof figures);
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) {
    figures.dwTotalVirtualTwice = static_cast<DWORD>(status.ullTotalVirtual * 2);
    figures.dwTotalPhysPages = Pages(status.ullTotalPhys);
    figures.dwAvailPhysPages = Pages(status.ullAvailPhys);
    figures.dwAvailVirtualPages = Pages(status.ullAvailVirtual);
    figures.dwTotalPageFilePages = Pages(status.ullTotalPageFile);
    figures.dwUsedPageFilePages = Pages(status.ullTotalPageFile - status.ullAvailPageFile);
  }
  if (info) plat::Guarded([&] { std::memcpy(info, &figures, sizeof figures); });
}
