// Open files: CreateFileW with its creation modes and sharing, contents,
// the file pointer, times, and byte-range locks (mandatory, as on Windows).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "handles.h"
#include "hooks.h"
#include "internal.h"

namespace {

using posix::share::kDelete;
using posix::share::kRead;
using posix::share::kWrite;

struct Range {
  ULONGLONG offset, length;
};

struct File : posix::Object {
  int fd = -1;
  bool owned = true;     // standard handles stay open when closed
  bool regular = false;  // sharing, locks and sizes apply to regular files
  bool randomAccess = false;  // opened with FILE_FLAG_RANDOM_ACCESS
  unsigned access = 0;   // kRead | kWrite | kDelete
  std::atomic<bool> archiveMarked{false};
  std::string deleteOnClose;  // the name to remove when the handle goes
  std::string created;        // the name this handle created, until a flush made it durable
  std::mutex mutex;           // the file pointer and the lock list
  // The file pointer of a regular file, kept here: reads and writes at it
  // are one positioned call each, and moving it costs no call at all. (A
  // handle is never shared by processes or duplicated, so nobody else moves
  // the description's offset.) Other files use the description's offset.
  ULONGLONG pos = 0;
  std::vector<Range> locks;
  std::atomic<long> ranges{0};  // of the locks, those taken in the kernel and counted
  unsigned bucket = 0;          // where the file's ranges are counted (RangeBucket)

  ~File() override {
    if (!owned) return;
    if (!deleteOnClose.empty()) unlink(deleteOnClose.c_str());
    close(fd);  // the description's locks go with it
    if (ranges) posix::share::CountRanges(bucket, -ranges);
  }

  // Whether a read or write must ask the kernel for other handles' ranges.
  bool MustAsk() const { return regular && posix::share::RangesHeldByOthers(bucket, ranges.load()); }
};

// True when another handle holds a range over the next n bytes from the file
// pointer. The caller holds the file's mutex.
bool LockedByOther(File& f, DWORD n) { return posix::share::RangeLockedByOther(f.fd, f.pos, n); }

std::shared_ptr<File> GetFile(HANDLE h) {
  auto f = posix::GetHandle<File>(h);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

unsigned AccessKinds(DWORD access) {
  unsigned kinds = 0;
  if (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE)) kinds |= kRead;
  if (access & (GENERIC_WRITE | GENERIC_ALL)) kinds |= kWrite;
  if (access & (DELETE | GENERIC_ALL)) kinds |= kDelete;
  return kinds;
}

// ---- the test hook: a disk that fills up ----
constexpr ULONGLONG kUnlimited = ~0ULL;
std::atomic<ULONGLONG> g_writeBudget{kUnlimited};

// Takes up to `wanted` bytes from the budget; returns how many may be written.
ULONGLONG TakeBudget(ULONGLONG wanted, bool all) {
  ULONGLONG budget = g_writeBudget.load();
  for (;;) {
    if (budget == kUnlimited) return wanted;
    ULONGLONG take = std::min(budget, wanted);
    if (all && take < wanted) return 0;
    if (g_writeBudget.compare_exchange_weak(budget, budget - take)) return take;
  }
}

// A write or growth changes the file: Windows sets its archive bit again.
void MarkArchive(File& f) {
  if (f.archiveMarked.load(std::memory_order_relaxed) || f.archiveMarked.exchange(true)) return;
  DWORD stored;
  if (posix::StoredAttributes(f.fd, std::string(), stored) && !(stored & FILE_ATTRIBUTE_ARCHIVE))
    posix::StoreAttributes(f.fd, std::string(), stored | FILE_ATTRIBUTE_ARCHIVE);
}

bool EndsWithSeparator(LPCWSTR name) {
  size_t n = plat::WLen(name);
  return n > 0 && (name[n - 1] == '\\' || name[n - 1] == '/');
}

// The error for a failed open(2) of `path`, as CreateFileW reports it.
DWORD OpenError(int e, const std::string& path, bool trailingSeparator) {
  if (e == ENOTDIR && trailingSeparator) {
    std::string bare = path.substr(0, path.find_last_not_of('/') + 1);
    struct stat st;
    if (stat(bare.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return ERROR_INVALID_NAME;
  }
  if (e == ENOENT) return posix::ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  return posix::ErrorFromErrno(e);
}

// Reads leave the last-access time alone, as Windows does by default (and
// as a file system then need not write the file's inode at every read).
// Only the file's owner may ask that: for others the open is made without.
int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path, flags | O_NOATIME, mode);
    if (fd < 0 && errno == EPERM) fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// ---- the test hook: a process that dies part-way ----
std::atomic<ULONGLONG> g_changingCalls{0};
std::atomic<ULONGLONG> g_crashAt{0};  // the count at which to die; 0: never
std::atomic<DWORD> g_crashKeep{0};
std::atomic<int> g_crashCode{0};

}  // namespace

namespace posix {
bool CrashHere(DWORD& keep) {
  const ULONGLONG n = ++g_changingCalls;
  if (g_crashAt.load() != n) return false;
  keep = g_crashKeep;
  return true;
}
void Die() { _exit(g_crashCode); }
}  // namespace posix

namespace posix {
bool FileOfHandle(HANDLE h, int& fd, unsigned& access, bool* randomAccess) {
  auto f = GetFile(h);
  if (!f) return false;
  if (!f->regular) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  fd = f->fd;
  access = f->access;
  if (randomAccess) *randomAccess = f->randomAccess;
  return true;
}
bool TakeGrowth(ULONGLONG bytes) { return TakeBudget(bytes, true) == bytes; }
}  // namespace posix

namespace plat_hooks {
void FailWritesAfter(ULONGLONG bytes) { g_writeBudget = bytes; }
void CrashAtCall(ULONGLONG n, DWORD keepBytes, int code) {
  g_crashKeep = keepBytes;
  g_crashCode = code;
  g_crashAt = n ? g_changingCalls.load() + n : 0;
}
ULONGLONG FileChangingCalls() { return g_changingCalls; }
}  // namespace plat_hooks

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD creation,
                          DWORD flags, HANDLE) {
  std::string path;
  if (!posix::ToNative(name, path)) return INVALID_HANDLE_VALUE;
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING || (flags & FILE_FLAG_OVERLAPPED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (creation != OPEN_EXISTING) posix::CrashPoint();
  posix::share::RepairRangeCount();
  unsigned kinds = AccessKinds(access);
  bool trailing = EndsWithSeparator(name);
  // The descriptor always reads: the locks that carry sharing and LockFile need it.
  // O_NONBLOCK keeps a FIFO from stalling the open; it is cleared at once
  // where it would matter (regular files ignore it).
  int oflags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((kinds & kWrite) ? O_RDWR : O_RDONLY);
  if (flags & FILE_FLAG_WRITE_THROUGH) oflags |= O_DSYNC;
  mode_t perm = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

  auto fail = [](DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
  };
  std::shared_ptr<File> file;
  bool existed = false;
  bool truncate = false;
  struct stat st;
  // A file deleted by another handle between our open and the sharing check is
  // gone on Windows before anyone can open it: open the name again (a file to
  // create is then made anew, a file to open is missing).
  for (int round = 0;; ++round) {
    // Create or open. "Existed" decides truncation, the stored attributes and
    // the ERROR_ALREADY_EXISTS of a successful open.
    int fd = -1;
    existed = false;
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
      if (creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) {
        fd = OpenRetrying(path.c_str(), oflags | O_CREAT | O_EXCL, perm);
        if (fd >= 0 || errno != EEXIST) break;
        if (creation == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
        fd = OpenRetrying(path.c_str(), oflags, 0);
        existed = fd >= 0;
        if (fd < 0 && errno == ENOENT) continue;  // removed in between: create it after all
      } else {
        fd = OpenRetrying(path.c_str(), oflags, 0);
        existed = true;
      }
      break;
    }
    if (fd < 0) return fail(OpenError(errno, path, trailing));
    // From here the handle's object owns the descriptor.
    file = std::make_shared<File>();
    file->fd = fd;

    // The file is looked at under its gate, which deletion takes too: a name
    // linked now stays linked until our sharing is declared, so that later
    // deletions see it. (Files that are not regular take part in no sharing;
    // the gate costs them nothing.)
    posix::share::Gate gate(fd);
    if (fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0))
      return fail(posix::ErrorFromErrno(errno));
    if (S_ISDIR(st.st_mode) && (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || creation != OPEN_EXISTING))
      return fail(ERROR_ACCESS_DENIED);
    truncate = existed && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING);
    // Root may write anything; the read-only attribute must hold all the same.
    if (existed && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR) && ((kinds & kWrite) || truncate))
      return fail(ERROR_ACCESS_DENIED);

    file->regular = S_ISREG(st.st_mode);
    file->access = kinds;
    file->bucket = posix::share::RangeBucket(st);
    if (file->regular && kinds) {
      if (round < 8 && st.st_nlink == 0) continue;
      // The sharing check comes before truncation, so a refused open changes nothing.
      if (posix::share::Conflicts(fd, kinds, share)) return fail(ERROR_SHARING_VIOLATION);
      posix::share::Declare(fd, kinds, share);
    }
    break;
  }
  const int fd = file->fd;
  if (truncate && ftruncate(fd, 0) != 0) return fail(posix::ErrorFromErrno(errno));
  if (truncate) MarkArchive(*file);

  // Attributes: a new file is ARCHIVE plus what the caller asked for; a
  // replaced one gains ARCHIVE and the hidden and system bits asked for.
  const DWORD extra = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY |
                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (file->regular && !existed && (flags & extra)) {
    posix::StoreAttributes(fd, path, FILE_ATTRIBUTE_ARCHIVE | (flags & extra));
  } else if (file->regular && creation == CREATE_ALWAYS && existed) {
    DWORD stored;
    if (posix::StoredAttributes(fd, path, stored))
      posix::StoreAttributes(
          fd, path, stored | FILE_ATTRIBUTE_ARCHIVE | (flags & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)));
  }
  if (!existed) file->archiveMarked = true;

  if (file->regular) {
    if (flags & FILE_FLAG_SEQUENTIAL_SCAN) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (flags & FILE_FLAG_RANDOM_ACCESS) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    file->randomAccess = (flags & FILE_FLAG_RANDOM_ACCESS) != 0;
    if (flags & FILE_FLAG_DELETE_ON_CLOSE) file->deleteOnClose = path;
    if (!existed) file->created = path;
  }
  HANDLE h = posix::InsertHandle(file);
  SetLastError(existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                   : ERROR_SUCCESS);
  return h;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  if (read) *read = 0;
  if (ov) return Fail(ERROR_INVALID_PARAMETER);  // only synchronous handles exist here
  if (!buffer && toRead) return Fail(ERROR_NOACCESS);
  if (!(f->access & kRead)) return Fail(ERROR_ACCESS_DENIED);
  // Only while another handle may hold a range of the file is there anything
  // to ask.
  std::unique_lock<std::mutex> lock;
  if (f->regular) {
    lock = std::unique_lock<std::mutex>(f->mutex);
    if (toRead && f->MustAsk() && LockedByOther(*f, toRead)) return Fail(ERROR_LOCK_VIOLATION);
  }
  DWORD done = 0;
  int error = 0;
  while (done < toRead) {
    char* at = static_cast<char*>(buffer) + done;
    ssize_t n = f->regular ? ::pread(f->fd, at, toRead - done, static_cast<off_t>(f->pos + done))
                           : ::read(f->fd, at, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;  // 0: end of file, a short count and success
    done += static_cast<DWORD>(n);
    if (!f->regular) break;  // pipes and terminals give what they have
  }
  if (f->regular) f->pos += done;
  if (read) *read = done;
  return error ? Fail(posix::ErrorFromErrno(error)) : TRUE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  if (written) *written = 0;
  if (ov) return Fail(ERROR_INVALID_PARAMETER);
  if (!buffer && toWrite) return Fail(ERROR_NOACCESS);
  if (!(f->access & kWrite)) return Fail(ERROR_ACCESS_DENIED);
  std::unique_lock<std::mutex> lock;
  DWORD allowed = toWrite;
  if (f->regular) {
    lock = std::unique_lock<std::mutex>(f->mutex);
    if (toWrite) {
      if (f->MustAsk() && LockedByOther(*f, toWrite)) return Fail(ERROR_LOCK_VIOLATION);
      allowed = static_cast<DWORD>(TakeBudget(toWrite, false));
      MarkArchive(*f);
    }
  }
  DWORD keep = 0;
  const bool crash = f->regular && posix::CrashHere(keep);
  if (crash) allowed = std::min(allowed, keep);
  DWORD done = 0;
  int error = 0;
  while (done < allowed) {
    const char* from = static_cast<const char*>(buffer) + done;
    ssize_t n = f->regular ? ::pwrite(f->fd, from, allowed - done, static_cast<off_t>(f->pos + done))
                           : ::write(f->fd, from, allowed - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      break;
    }
    done += static_cast<DWORD>(n);
  }
  if (f->regular) f->pos += done;
  if (written) *written = done;
  if (error) return Fail(posix::ErrorFromErrno(error));
  if (crash) posix::Die();
  if (written) *written = done;
  if (done < toWrite) return Fail(ERROR_DISK_FULL);
  return TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER newPos, DWORD method) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  if (method > FILE_END) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(f->mutex);
  off_t base = 0;
  if (method == FILE_CURRENT) {
    base = f->regular ? static_cast<off_t>(f->pos) : lseek(f->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    base = fstat(f->fd, &st) == 0 ? st.st_size : -1;
  }
  if (base < 0) return posix::FailErrno();
  LONGLONG target;
  if (__builtin_add_overflow(static_cast<LONGLONG>(base), distance.QuadPart, &target))
    return Fail(ERROR_INVALID_PARAMETER);
  if (target < 0) return Fail(ERROR_NEGATIVE_SEEK);
  off_t pos = static_cast<off_t>(target);
  if (f->regular)
    f->pos = static_cast<ULONGLONG>(target);
  else if ((pos = lseek(f->fd, pos, SEEK_SET)) < 0)
    return posix::FailErrno();
  if (newPos) newPos->QuadPart = pos;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method) {
  LARGE_INTEGER d;
  // Without the high part the distance is a signed 32-bit value.
  d.QuadPart = distanceHigh ? static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                                    static_cast<DWORD>(distance))
                            : distance;
  LARGE_INTEGER pos;
  if (!SetFilePointerEx(h, d, &pos, method)) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = pos.HighPart;
  // A position whose low part reads as the failure value is told apart by the last error.
  if (pos.LowPart == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return pos.LowPart;
}

BOOL WINAPI GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (fstat(f->fd, &st) != 0) return posix::FailErrno();
  size->QuadPart = f->regular ? st.st_size : 0;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE h, LPDWORD sizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size)) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size.HighPart);
  if (size.LowPart == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
  return size.LowPart;
}

// The end of the file moves to the file pointer. Growth reserves the space
// for real, so that a full disk fails here, as it does on Windows.
BOOL WINAPI SetEndOfFile(HANDLE h) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  if (!(f->access & kWrite)) return Fail(ERROR_ACCESS_DENIED);
  if (!f->regular) return Fail(ERROR_INVALID_FUNCTION);
  posix::CrashPoint();
  std::lock_guard<std::mutex> lock(f->mutex);
  const off_t pos = static_cast<off_t>(f->pos);
  struct stat st;
  if (pos < 0 || fstat(f->fd, &st) != 0) return posix::FailErrno();
  if (pos > st.st_size) {
    ULONGLONG growth = static_cast<ULONGLONG>(pos - st.st_size);
    if (TakeBudget(growth, true) != growth) return Fail(ERROR_DISK_FULL);
    int rc = posix_fallocate(f->fd, st.st_size, pos - st.st_size);
    if (rc == EOPNOTSUPP || rc == EINVAL || rc == ENOSYS) rc = ftruncate(f->fd, pos) == 0 ? 0 : errno;
    if (rc != 0) return Fail(posix::ErrorFromErrno(rc));
  } else if (pos < st.st_size && ftruncate(f->fd, pos) != 0) {
    return posix::FailErrno();
  }
  MarkArchive(*f);
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE h) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  if (!(f->access & kWrite)) return Fail(ERROR_ACCESS_DENIED);
  if (f->regular) posix::CrashPoint();
  if (f->regular && fsync(f->fd) != 0) return posix::FailErrno();
  // On Windows the flush of a file just created makes its name durable too;
  // here that is the directory's flush.
  std::lock_guard<std::mutex> lock(f->mutex);
  if (!f->created.empty()) {
    const size_t slash = f->created.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : f->created.substr(0, slash);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
    f->created.clear();
  }
  return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE h, LPFILETIME creation, LPFILETIME access, LPFILETIME write) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  posix::FileInfo info;
  if (!posix::QueryFd(f->fd, info, creation != nullptr)) return posix::FailErrno();
  if (creation) posix::SetFileTime64(creation, info.creation);
  if (access) posix::SetFileTime64(access, info.access);
  if (write) posix::SetFileTime64(write, info.write);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* access, const FILETIME* write) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  // A null time, a zero one and the all-ones one leave that time as it is.
  auto given = [](const FILETIME* ft) {
    if (!ft) return false;
    ULONGLONG t = posix::FileTime64(ft);
    return t != 0 && t != ~0ULL;
  };
  auto toSpec = [](const FILETIME* ft) {
    ULONGLONG t = posix::FileTime64(ft);
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(static_cast<LONGLONG>(t / 10000000ULL) - 11644473600LL);
    ts.tv_nsec = static_cast<long>(t % 10000000ULL) * 100;
    return ts;
  };
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (given(access)) times[0] = toSpec(access);
  if (given(write)) times[1] = toSpec(write);
  if ((given(access) || given(write)) && futimens(f->fd, times) != 0) return posix::FailErrno();
  if (given(creation) && !posix::StoreCreationTime(f->fd, posix::FileTime64(creation))) return posix::FailErrno();
  return TRUE;
}

// Exclusive, non-blocking byte-range locks. A range may not overlap one the
// same handle holds (as on Windows); ranges of other handles are found through
// the descriptors' locks, asked and taken under the gate.
BOOL WINAPI LockFile(HANDLE h, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
  ULONGLONG length = (static_cast<ULONGLONG>(bytesHigh) << 32) | bytesLow;
  if (length && offset + (length - 1) < offset) return Fail(ERROR_INVALID_PARAMETER);  // beyond 2^64
  std::lock_guard<std::mutex> lock(f->mutex);
  for (const Range& r : f->locks) {
    bool overlap = length && r.length ? offset < r.offset + r.length && r.offset < offset + length
                                      : offset == r.offset && length == r.length;
    if (overlap) return Fail(ERROR_LOCK_VIOLATION);
  }
  if (f->regular && length) {
    // Counted before it is taken, so that nobody skips the question meanwhile.
    posix::share::CountRanges(f->bucket, 1);
    auto undo = [&](DWORD code) {
      posix::share::CountRanges(f->bucket, -1);
      return Fail(code);
    };
    if (f->access & kWrite) {
      // A descriptor that writes takes an exclusive lock: the kernel refuses
      // it, in one step, where any other handle holds a byte of the range.
      const int taken = posix::share::TakeRangeExclusive(f->fd, offset, length);
      if (taken <= 0) return undo(taken == 0 ? ERROR_LOCK_VIOLATION : posix::ErrorFromErrno(errno));
    } else {
      // One that only reads can hold shared locks alone: the question and the
      // taking happen under the gate.
      posix::share::Gate gate(f->fd);
      if (posix::share::RangeLockedByOther(f->fd, offset, length)) return undo(ERROR_LOCK_VIOLATION);
      if (!posix::share::TakeRange(f->fd, offset, length)) return undo(posix::ErrorFromErrno(errno));
    }
    ++f->ranges;
  }
  f->locks.push_back({offset, length});
  return TRUE;
}

BOOL WINAPI UnlockFile(HANDLE h, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh) {
  auto f = GetFile(h);
  if (!f) return FALSE;
  ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
  ULONGLONG length = (static_cast<ULONGLONG>(bytesHigh) << 32) | bytesLow;
  std::lock_guard<std::mutex> lock(f->mutex);
  auto it = std::find_if(f->locks.begin(), f->locks.end(),
                         [&](const Range& r) { return r.offset == offset && r.length == length; });
  if (it == f->locks.end()) return Fail(ERROR_NOT_LOCKED);
  f->locks.erase(it);
  if (f->regular && length) {
    posix::share::ReleaseRange(f->fd, offset, length);
    --f->ranges;
    posix::share::CountRanges(f->bucket, -1);
  }
  return TRUE;
}

// The process's standard streams, one handle each for the life of the process.
HANDLE WINAPI GetStdHandle(DWORD which) {
  static std::mutex mutex;
  static HANDLE handles[3] = {};
  int fd = which == STD_INPUT_HANDLE ? 0 : which == STD_OUTPUT_HANDLE ? 1 : which == STD_ERROR_HANDLE ? 2 : -1;
  if (fd < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (!handles[fd] || !posix::GetHandle<File>(handles[fd])) {
    auto file = std::make_shared<File>();
    file->fd = fd;
    file->owned = false;
    file->access = fd == 0 ? kRead : kWrite;
    handles[fd] = posix::InsertHandle(file);
  }
  return handles[fd];
}

}  // extern "C"
