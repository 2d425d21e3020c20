// A name in the file system as Windows sees it: attributes, three FILETIMEs and
// a size. The parts POSIX has no place for live in one extended attribute.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>

#include "internal.h"

namespace posix {

namespace {

// The stored record: which parts are present, the attribute bits, the creation
// time. Native byte order; it never leaves the machine.
constexpr char kName[] = "user.qz.dos";
struct Record {
  uint32_t parts = 0;
  uint32_t attributes = 0;
  uint64_t creation = 0;
};
static_assert(sizeof(Record) == 16, "the stored record is 16 bytes");
constexpr uint32_t kHasAttributes = 1, kHasCreation = 2;

bool Unsupported(int e) { return e == ENOTSUP || e == ENOSYS; }

Record Load(int fd, const char* path) {
  Record r;
  ssize_t n = fd >= 0 ? fgetxattr(fd, kName, &r, sizeof r) : getxattr(path, kName, &r, sizeof r);
  if (n != static_cast<ssize_t>(sizeof r)) r = Record();
  return r;
}

// The record of an entry of an open directory. Kernels from 6.13 on read it
// relative to the directory (getxattrat); older ones resolve the whole path.
#if defined(__x86_64__) && !defined(SYS_getxattrat)
#define SYS_getxattrat 464
#endif
Record LoadAt(int dirfd, const std::string& dirPath, const char* name) {
  Record r;
#ifdef SYS_getxattrat
  static std::atomic<bool> missing{false};
  if (!missing.load(std::memory_order_relaxed)) {
    struct {
      uint64_t value;
      uint32_t size, flags;
    } args = {reinterpret_cast<uintptr_t>(&r), sizeof r, 0};
    long n = syscall(SYS_getxattrat, dirfd, name, 0, kName, &args, sizeof args);
    if (n == long(sizeof r)) return r;
    if (n >= 0 || errno != ENOSYS) return Record();
    missing.store(true, std::memory_order_relaxed);
  }
#else
  (void)dirfd;
  (void)name;
#endif
  return Load(-1, (dirPath + name).c_str());
}

bool Save(int fd, const char* path, const Record& r) {
  int rc;
  if (r.parts == 0) {
    rc = fd >= 0 ? fremovexattr(fd, kName) : removexattr(path, kName);
    if (rc != 0 && errno == ENODATA) rc = 0;
  } else {
    rc = fd >= 0 ? fsetxattr(fd, kName, &r, sizeof r, 0) : setxattr(path, kName, &r, sizeof r, 0);
  }
  return rc == 0 || Unsupported(errno);
}

ULONGLONG Ft(const struct statx_timestamp& t) { return ToFileTime(t.tv_sec, t.tv_nsec); }

void Fill(const struct statx& sx, const Record& r, FileInfo& info) {
  info.mode = sx.stx_mode;
  info.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  info.inode = sx.stx_ino;
  info.size = S_ISDIR(sx.stx_mode) ? 0 : sx.stx_size;
  info.access = Ft(sx.stx_atime);
  info.write = Ft(sx.stx_mtime);
  if (r.parts & kHasCreation) {
    info.creation = r.creation;
  } else if (sx.stx_mask & STATX_BTIME) {
    info.creation = Ft(sx.stx_btime);
  } else {
    ULONGLONG changed = Ft(sx.stx_ctime);
    info.creation = changed < info.write ? changed : info.write;
  }
  bool stored = r.parts & kHasAttributes;
  if (S_ISDIR(sx.stx_mode)) {
    info.attributes = FILE_ATTRIBUTE_DIRECTORY | (stored ? r.attributes & kSettableAttributes : 0);
  } else {
    // A file's read-only is its owner's write permission, whatever was stored.
    DWORD a = stored ? r.attributes & kSettableAttributes & ~FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(sx.stx_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
    info.attributes = a ? a : FILE_ATTRIBUTE_NORMAL;
  }
}

bool Stat(int dirfd, const char* path, int flags, struct statx& sx) {
  return statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0;
}

bool Query(int dirfd, const char* path, int flags, int fdForRecord, FileInfo& info, bool stored = true) {
  struct statx sx;
  if (!Stat(dirfd, path, flags, sx)) return false;
  Fill(sx, stored ? Load(fdForRecord, path) : Record(), info);
  return true;
}

}  // namespace

bool QueryAt(int dirfd, const std::string& dirPath, const char* name, FileInfo& info) {
  struct statx sx;
  if (!Stat(dirfd, name, 0, sx)) return false;
  Fill(sx, LoadAt(dirfd, dirPath, name), info);
  return true;
}

bool QueryPath(const std::string& nativePath, FileInfo& info) {
  return Query(AT_FDCWD, nativePath.c_str(), 0, -1, info);
}

bool QueryFd(int fd, FileInfo& info, bool stored) { return Query(fd, "", AT_EMPTY_PATH, fd, info, stored); }

bool QueryPathOrFail(const std::string& nativePath, FileInfo& info) {
  if (QueryPath(nativePath, info)) return true;
  SetLookupError(nativePath);
  return false;
}

bool StoredAttributes(int fd, const std::string& nativePath, DWORD& attributes) {
  Record r = Load(fd, nativePath.c_str());
  attributes = r.attributes;
  return r.parts & kHasAttributes;
}

bool StoreAttributes(int fd, const std::string& nativePath, DWORD attributes, bool keepDefault) {
  Record r = Load(fd, nativePath.c_str());
  if (keepDefault) {
    if (!(r.parts & kHasAttributes)) return true;
    r.parts &= ~kHasAttributes;
    r.attributes = 0;
  } else {
    r.parts |= kHasAttributes;
    r.attributes = attributes & kSettableAttributes;
  }
  return Save(fd, nativePath.c_str(), r);
}

bool StoreCreationTime(int fd, ULONGLONG creation) {
  Record r = Load(fd, nullptr);
  r.parts |= kHasCreation;
  r.creation = creation;
  return Save(fd, nullptr, r);
}

}  // namespace posix
