// qz mem: the machine's memory figures as Dravel reports them, in pages and MiB.
#include "dravel.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz mem\n"
    "\n"
    "Shows the memory figures of GetMemDemandInfo: physical memory, the user-mode\n"
    "address space, and the commit limit (what memory and the paging file can\n"
    "back) with the part of it in use; each in pages and in MiB. Field 0 of the\n"
    "record, twice the address space in bytes cut to 32 bits, is shown as it is.\n";

int Run(const qz::Args& args) {
  if (!args.empty()) return qz::Fail("mem", "no arguments expected (qz mem --help)");
  MemDemandInfo info;
  GetMemDemandInfo(&info);
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const double page = si.dwPageSize;
  // A count of 0xFFFFFFFF is where 32 bits end: there may be more (64-bit address spaces).
  auto Row = [&](const char* label, DWORD pages) {
    qz::Out("  %-26s %12u pages %12.1f MiB%s\n", label, pages, pages * page / (1024.0 * 1024.0),
            pages == 0xFFFFFFFFu ? " or more" : "");
  };
  qz::Out("page size %u bytes\n", si.dwPageSize);
  Row("physical memory", info.dwTotalPhysPages);
  Row("  available", info.dwAvailPhysPages);
  Row("address space free", info.dwAvailVirtualPages);
  Row("commit limit", info.dwTotalPageFilePages);
  Row("  in use", info.dwUsedPageFilePages);
  qz::Out("  %-26s   0x%08X\n", "2 x address space (32-bit)", info.dwTotalVirtualTwice);
  return 0;
}

const qz::Register reg({"mem", "show the memory figures in pages and MiB", kUsage, Run});

}  // namespace
