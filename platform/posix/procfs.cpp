// What the kernel tells through /proc: the regions of the process's map for
// VirtualQuery, the memory figures of GlobalMemoryStatus(Ex), and the system
// facts of GetSystemInfo. The files are read through a fixed buffer, without
// allocating, because stack walkers and fault handlers ask for regions too.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "internal.h"

namespace {

// The address space of x86-64 user mode: the first 64 KiB stay unused as on
// Windows, and user mode ends below 2^47 minus one page.
constexpr uintptr_t kLowest = 0x10000;
constexpr uintptr_t kTop = 0x7ffffffff000;

size_t PageSize() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// The lines of a /proc file: each line's first characters, the rest skipped.
class ProcLines {
 public:
  explicit ProcLines(const char* path) : fd_(open(path, O_RDONLY | O_CLOEXEC)) {}
  ~ProcLines() {
    if (fd_ >= 0) close(fd_);
  }
  ProcLines(const ProcLines&) = delete;
  ProcLines& operator=(const ProcLines&) = delete;

  bool ok() const { return fd_ >= 0; }
  // The next line cut to cap - 1 characters and terminated; false at the end.
  bool Next(char* out, size_t cap) {
    size_t n = 0;
    bool any = false;
    for (;;) {
      if (pos_ == len_ && !Fill()) break;
      any = true;
      char c = buf_[pos_++];
      if (c == '\n') break;
      if (n + 1 < cap) out[n++] = c;
    }
    out[n] = 0;
    return any;
  }

 private:
  bool Fill() {
    ssize_t r;
    do {
      r = read(fd_, buf_, sizeof buf_);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    pos_ = 0;
    len_ = static_cast<size_t>(r);
    return true;
  }

  int fd_;
  char buf_[4096];
  size_t pos_ = 0, len_ = 0;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint64_t Hex(const char*& p) {
  uint64_t v = 0;
  for (int d; (d = HexDigit(*p)) >= 0; ++p) v = v * 16 + static_cast<unsigned>(d);
  return v;
}

uint64_t Decimal(const char*& p) {
  uint64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
  return v;
}

// One line of /proc/self/maps: "start-end perms offset major:minor inode [path]".
struct Mapping {
  uintptr_t start = 0, end = 0;
  bool r = false, w = false, x = false;
  uint64_t device = 0, inode = 0;  // inode 0: anonymous, or a pseudo file such as [stack]
};

bool Parse(const char* p, Mapping& m) {
  m.start = Hex(p);
  if (*p++ != '-') return false;
  m.end = Hex(p);
  if (*p++ != ' ' || std::strlen(p) < 4) return false;
  m.r = p[0] == 'r';
  m.w = p[1] == 'w';
  m.x = p[2] == 'x';
  p += 4;
  while (*p == ' ') ++p;
  Hex(p);  // offset
  while (*p == ' ') ++p;
  m.device = Hex(p) << 32;
  if (*p++ != ':') return false;
  m.device |= Hex(p);
  while (*p == ' ') ++p;
  m.inode = Decimal(p);
  return m.end > m.start;
}

DWORD Protection(const Mapping& m) {
  if (m.x) return m.w ? PAGE_EXECUTE_READWRITE : m.r ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  return m.w ? PAGE_READWRITE : m.r ? PAGE_READONLY : PAGE_NOACCESS;
}

// Calls f(mapping) for each mapping of the process below the top of user mode;
// false when the map cannot be read.
template <class F>
bool EachMapping(F&& f) {
  ProcLines maps("/proc/self/maps");
  if (!maps.ok()) return false;
  char line[128];  // the fields before the path fit; the path is not needed
  Mapping m;
  while (maps.Next(line, sizeof line))
    if (Parse(line, m) && m.start < kTop && !f(m)) break;
  return true;
}

// A figure of /proc/meminfo in bytes ("Name:   1234 kB"); false when it is missing.
bool MemInfo(const char* name, uint64_t& bytes) {
  ProcLines info("/proc/meminfo");
  char line[128];
  const size_t n = std::strlen(name);
  while (info.ok() && info.Next(line, sizeof line)) {
    if (std::strncmp(line, name, n) != 0 || line[n] != ':') continue;
    const char* p = line + n + 1;
    while (*p == ' ') ++p;
    bytes = Decimal(p) * 1024;
    return true;
  }
  return false;
}

}  // namespace

namespace posix {

bool QueryProcessMap(uintptr_t a, PMEMORY_BASIC_INFORMATION info) {
  if (a >= kTop) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // A file's mappings follow each other; its allocation base is the start of
  // the first one, where a module's image (and its headers) begins.
  bool found = false;
  uintptr_t fileStart = 0;
  Mapping prev;
  bool ok = EachMapping([&](const Mapping& m) {
    if (m.inode == 0 || m.inode != prev.inode || m.device != prev.device) fileStart = m.start;
    prev = m;
    if (a < m.start) {  // a hole: free address space
      info->BaseAddress = reinterpret_cast<void*>(a);
      info->RegionSize = m.start - a;
      info->State = MEM_FREE;
      info->Protect = PAGE_NOACCESS;
      found = true;
      return false;
    }
    if (a < m.end) {
      info->BaseAddress = reinterpret_cast<void*>(a);
      info->AllocationBase = reinterpret_cast<void*>(fileStart);
      info->RegionSize = m.end - a;
      info->State = MEM_COMMIT;
      info->Protect = info->AllocationProtect = Protection(m);
      info->Type = m.inode ? MEM_IMAGE : MEM_PRIVATE;
      found = true;
      return false;
    }
    return true;
  });
  if (!ok) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!found) {  // above the last mapping
    info->BaseAddress = reinterpret_cast<void*>(a);
    info->RegionSize = kTop - a;
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
  }
  return true;
}

}  // namespace posix

extern "C" {

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
  std::memset(info, 0, sizeof *info);
  info->wProcessorArchitecture = 9;  // PROCESSOR_ARCHITECTURE_AMD64
  info->dwPageSize = static_cast<DWORD>(PageSize());
  info->lpMinimumApplicationAddress = reinterpret_cast<void*>(kLowest);
  info->lpMaximumApplicationAddress = reinterpret_cast<void*>(kTop - 1);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  info->dwActiveProcessorMask = (info->dwNumberOfProcessors >= 64) ? ~DWORD_PTR(0)
                                                                   : (DWORD_PTR(1) << info->dwNumberOfProcessors) - 1;
  info->dwAllocationGranularity = 65536;
  info->dwProcessorType = 8664;
}

// Physical memory from the kernel's figures; the paging file is the commit
// limit, of which what the system has committed is in use (Linux may commit
// beyond it: nothing is left then); virtual space is user mode's, less what
// the process has mapped.
BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX status) {
  if (!status || status->dwLength != sizeof *status) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t total = 0, avail = 0, limit = 0, committed = 0;
  if (!MemInfo("MemTotal", total)) total = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * PageSize();
  if (!MemInfo("MemAvailable", avail) && !MemInfo("MemFree", avail))
    avail = static_cast<uint64_t>(sysconf(_SC_AVPHYS_PAGES)) * PageSize();
  if (avail > total) avail = total;
  if (!MemInfo("CommitLimit", limit)) limit = total;
  if (!MemInfo("Committed_AS", committed)) committed = total - avail;
  uint64_t mapped = 0;
  EachMapping([&](const Mapping& m) {
    uintptr_t start = m.start < kLowest ? kLowest : m.start, end = m.end > kTop ? kTop : m.end;
    if (end > start) mapped += end - start;
    return true;
  });
  std::memset(reinterpret_cast<BYTE*>(status) + 4, 0, sizeof *status - 4);
  status->ullTotalPhys = total;
  status->ullAvailPhys = avail;
  status->dwMemoryLoad = total ? static_cast<DWORD>((total - avail) * 100 / total) : 0;
  status->ullTotalPageFile = limit;
  status->ullAvailPageFile = committed < limit ? limit - committed : 0;
  status->ullTotalVirtual = kTop - kLowest;
  status->ullAvailVirtual = mapped < kTop - kLowest ? kTop - kLowest - mapped : 0;
  return TRUE;
}

void WINAPI GlobalMemoryStatus(LPMEMORYSTATUS status) {
  MEMORYSTATUSEX ex;
  ex.dwLength = sizeof ex;
  std::memset(status, 0, sizeof *status);
  status->dwLength = sizeof *status;
  if (!GlobalMemoryStatusEx(&ex)) return;
  status->dwMemoryLoad = ex.dwMemoryLoad;
  status->dwTotalPhys = ex.ullTotalPhys;
  status->dwAvailPhys = ex.ullAvailPhys;
  status->dwTotalPageFile = ex.ullTotalPageFile;
  status->dwAvailPageFile = ex.ullAvailPageFile;
  status->dwTotalVirtual = ex.ullTotalVirtual;
  status->dwAvailVirtual = ex.ullAvailVirtual;
}

}  // extern "C"
