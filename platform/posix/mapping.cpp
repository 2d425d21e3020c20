// File mappings: CreateFileMappingW makes a mapping object of an open file (or
// of fresh memory, for INVALID_HANDLE_VALUE), MapViewOfFile maps a part of it
// with mmap, UnmapViewOfFile lets a view go. As on Windows, a mapping keeps its
// file open after the file's handle is closed, and a view keeps working after
// the mapping's handle is closed. Named mappings are not supported.
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handles.h"
#include "internal.h"

namespace {

// Views start at multiples of the allocation granularity, as on Windows.
constexpr ULONGLONG kGranularity = 65536;

struct Mapping : posix::Object {
  int fd = -1;  // a descriptor of its own, so that the file's handle may close
  ULONGLONG size = 0;
  DWORD protect = 0;  // PAGE_READONLY, PAGE_READWRITE or PAGE_WRITECOPY
  // The file was opened for random access: its views read no page ahead and
  // map only the pages touched (the system otherwise maps a file's cached
  // pages in blocks of up to 2 MiB around the one touched).
  bool random = false;
  ~Mapping() override {
    if (fd >= 0) close(fd);
  }
};

HANDLE FailMapping(DWORD code) {
  SetLastError(code);
  return nullptr;
}

// The views made, by base address, with their lengths.
std::mutex g_viewsMutex;
std::map<uintptr_t, size_t>& Views() {
  static auto* views = new std::map<uintptr_t, size_t>;  // outlives late unmaps
  return *views;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                                 LPCWSTR name) {
  if (name) return FailMapping(ERROR_NOT_SUPPORTED);
  protect &= 0xFF;
  if (protect != PAGE_READONLY && protect != PAGE_READWRITE && protect != PAGE_WRITECOPY)
    return FailMapping(ERROR_INVALID_PARAMETER);
  const ULONGLONG wanted = (static_cast<ULONGLONG>(sizeHigh) << 32) | sizeLow;
  if (wanted > static_cast<ULONGLONG>(INT64_MAX)) return FailMapping(ERROR_INVALID_PARAMETER);
  auto mapping = std::make_shared<Mapping>();
  mapping->protect = protect;

  if (file == INVALID_HANDLE_VALUE) {
    // Memory of its own, shared by the mapping's views.
    if (wanted == 0) return FailMapping(ERROR_INVALID_PARAMETER);
    mapping->fd = memfd_create("qz-mapping", MFD_CLOEXEC);
    if (mapping->fd < 0 || ftruncate(mapping->fd, static_cast<off_t>(wanted)) != 0)
      return FailMapping(errno == EFBIG || errno == EINVAL ? ERROR_NOT_ENOUGH_MEMORY : posix::ErrorFromErrno(errno));
    mapping->size = wanted;
  } else {
    int fd;
    unsigned access;
    if (!posix::FileOfHandle(file, fd, access, &mapping->random)) return nullptr;
    if (!(access & posix::share::kRead) || (protect == PAGE_READWRITE && !(access & posix::share::kWrite)))
      return FailMapping(ERROR_ACCESS_DENIED);
    struct stat st;
    if (fstat(fd, &st) != 0) return FailMapping(posix::ErrorFromErrno(errno));
    const ULONGLONG current = static_cast<ULONGLONG>(st.st_size);
    ULONGLONG size = wanted ? wanted : current;
    if (size == 0) return FailMapping(ERROR_FILE_INVALID);  // an empty file cannot be mapped whole
    if (size > current) {
      // Only a writable mapping may grow its file, and it does so for real,
      // so that a full disk fails here rather than at a write to the view.
      if (protect != PAGE_READWRITE) return FailMapping(ERROR_NOT_ENOUGH_MEMORY);
      posix::CrashPoint();
      if (!posix::TakeGrowth(size - current)) return FailMapping(ERROR_DISK_FULL);
      int rc = posix_fallocate(fd, static_cast<off_t>(current), static_cast<off_t>(size - current));
      if (rc == EOPNOTSUPP || rc == EINVAL || rc == ENOSYS) rc = ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
      if (rc != 0) return FailMapping(posix::ErrorFromErrno(rc));
    }
    mapping->fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (mapping->fd < 0) return FailMapping(posix::ErrorFromErrno(errno));
    mapping->size = size;
  }
  HANDLE h = posix::InsertHandle(mapping);
  SetLastError(ERROR_SUCCESS);
  return h;
}

LPVOID WINAPI MapViewOfFile(HANDLE h, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  auto mapping = posix::GetHandle<Mapping>(h);
  if (!mapping) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
  if (offset % kGranularity) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  int prot, flags;
  if (access == FILE_MAP_COPY) {
    prot = PROT_READ | PROT_WRITE;
    flags = MAP_PRIVATE;
  } else if (access & FILE_MAP_WRITE) {
    prot = PROT_READ | PROT_WRITE;
    flags = MAP_SHARED;
  } else if (access & FILE_MAP_READ) {
    prot = PROT_READ;
    flags = MAP_SHARED;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Writing through to the file needs a writable mapping; any mapping can be copied.
  if (flags == MAP_SHARED && (prot & PROT_WRITE) && mapping->protect != PAGE_READWRITE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (offset >= mapping->size || (bytes && bytes > mapping->size - offset)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const ULONGLONG length = bytes ? bytes : mapping->size - offset;
  if (length > SIZE_MAX) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* p = mmap(nullptr, static_cast<size_t>(length), prot, flags, mapping->fd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (mapping->random) madvise(p, static_cast<size_t>(length), MADV_RANDOM);
  std::lock_guard<std::mutex> lock(g_viewsMutex);
  Views()[reinterpret_cast<uintptr_t>(p)] = static_cast<size_t>(length);
  return p;
}

// Any address inside a view names it, as on Windows.
BOOL WINAPI UnmapViewOfFile(LPCVOID address) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(address);
  std::lock_guard<std::mutex> lock(g_viewsMutex);
  auto& views = Views();
  auto it = views.upper_bound(a);
  if (it == views.begin() || a >= std::prev(it)->first + std::prev(it)->second) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  --it;
  munmap(reinterpret_cast<void*>(it->first), it->second);
  views.erase(it);
  return TRUE;
}

}  // extern "C"
