// Sharing modes and byte-range locks between handles and processes, made of
// open-file-description locks (see internal.h for the layout).
#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

namespace posix {
namespace share {

namespace {

// One byte per access kind held and one per kind denied, from kReservedBase,
// in an order that gives the usual opens one run of bytes to ask and one to
// take: a writer that shares reading (held and denied writing, held and
// denied reading), a reader that shares reading and writing (denied delete,
// held reading; denied reading, held delete), the journal (all shared).
//   0 denied delete, 1 held read, 2 held write, 3 denied write, 4 denied read, 5 held delete
constexpr unsigned kKinds[] = {kRead, kWrite, kDelete};
unsigned HeldBit(unsigned kind) { return kind == kRead ? 1u << 1 : kind == kWrite ? 1u << 2 : 1u << 5; }
unsigned DeniedBit(unsigned kind) { return kind == kRead ? 1u << 4 : kind == kWrite ? 1u << 3 : 1u << 0; }
constexpr unsigned kAnyHeld = 1u << 1 | 1u << 2 | 1u << 5;
constexpr ULONGLONG kDeniedDelete = kReservedBase;  // bit 0

bool Lock(int fd, int command, short type, ULONGLONG offset, ULONGLONG length, struct flock* out = nullptr) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  int rc;
  do {
    rc = fcntl(fd, command, &fl);
  } while (rc != 0 && errno == EINTR);
  if (out) *out = fl;
  return rc == 0;
}

// True when another description holds any lock on a byte of the range. A file
// system without these locks answers "no": sharing is then not enforced.
bool HeldByOther(int fd, ULONGLONG offset, ULONGLONG length) {
  struct flock fl;
  if (!Lock(fd, F_OFD_GETLK, F_WRLCK, offset, length, &fl)) return false;
  return fl.l_type != F_UNLCK;
}

// Caller ranges are kept below the sharing bytes; beyond that they are the
// handle's own bookkeeping only.
bool Clip(ULONGLONG& offset, ULONGLONG& length) {
  if (offset >= kReservedBase || length == 0) return false;
  if (length > kReservedBase - offset) length = kReservedBase - offset;
  return true;
}

// The count of ranges held by all processes (see internal.h): a total, and
// one count per bucket of files. Its file also carries one shared lock for
// each living process that ever held a range, so that a process that can take
// the file's lock exclusively knows that no such process is alive and may set
// the counts right. Without shared memory here (no /dev/shm, or another user's
// file that we may not write), every read and write asks.
class Registry {
 public:
  static constexpr size_t kPage = 4096;
  static constexpr size_t kBuckets = kPage / sizeof(ULONGLONG) - 1;  // word 0 is the total

  static Registry& Get() {
    static Registry* r = new Registry;  // never destroyed: handles close late
    return *r;
  }

  bool HeldByOthers(unsigned bucket, long mine) const {
    if (!words_) return true;
    if (__atomic_load_n(&words_[0], __ATOMIC_SEQ_CST) == 0) return false;
    return __atomic_load_n(&words_[1 + bucket % kBuckets], __ATOMIC_SEQ_CST) != static_cast<ULONGLONG>(mine);
  }

  void Count(unsigned bucket, long n) {
    if (!words_ || n == 0) return;
    if (n > 0 && !joined_.load(std::memory_order_acquire)) {
      std::lock_guard<std::mutex> lock(mutex_);
      // Held until the process ends; it may wait for a repair in progress.
      if (!joined_.load(std::memory_order_relaxed)) {
        Lock(fd_, F_OFD_SETLKW, F_RDLCK, 0, 1);
        joined_.store(true, std::memory_order_release);
      }
    }
    // Up: the total first; down: the bucket first. The total is never 0 while
    // a bucket counts a range.
    ULONGLONG* const total = &words_[0];
    ULONGLONG* const own = &words_[1 + bucket % kBuckets];
    __atomic_add_fetch(n > 0 ? total : own, static_cast<ULONGLONG>(n), __ATOMIC_SEQ_CST);
    __atomic_add_fetch(n > 0 ? own : total, static_cast<ULONGLONG>(n), __ATOMIC_SEQ_CST);
  }

  // Sets counts left too high by processes that died holding ranges back to
  // 0, when no process that ever held a range is alive. Tried at most once a
  // second, and never by a process that holds ranges itself.
  void Repair() {
    if (!words_ || joined_.load(std::memory_order_acquire) || __atomic_load_n(&words_[0], __ATOMIC_SEQ_CST) == 0)
      return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const long long second = now.tv_sec;
    long long last = lastRepair_.load(std::memory_order_relaxed);
    if (last == second || !lastRepair_.compare_exchange_strong(last, second)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (joined_.load(std::memory_order_relaxed)) return;
    if (!Lock(fd_, F_OFD_SETLK, F_WRLCK, 0, 1)) return;  // a holder is alive
    for (size_t i = 1; i <= kBuckets; ++i) __atomic_store_n(&words_[i], 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&words_[0], 0, __ATOMIC_SEQ_CST);
    Lock(fd_, F_OFD_SETLK, F_UNLCK, 0, 1);
  }

 private:
  Registry() {
    // The layout's number is in the name: processes of another layout keep to their own file.
    static const char kName[] = "/dev/shm/qz-platform-ranges-2";
    int fd = open(kName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
      fchmod(fd, 0666);  // shared by the processes of every user
    else if (errno == EEXIST)
      fd = open(kName, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0) return;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_size >= static_cast<off_t>(kPage) || ftruncate(fd, kPage) == 0)) {
      void* p = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) {
        fd_ = fd;
        words_ = static_cast<ULONGLONG*>(p);
        return;
      }
    }
    close(fd);
  }

  int fd_ = -1;
  ULONGLONG* words_ = nullptr;
  std::mutex mutex_;
  std::atomic<bool> joined_{false};
  std::atomic<long long> lastRepair_{-1};
};

}  // namespace

unsigned RangeBucket(const struct stat& st) {
  const ULONGLONG key = (static_cast<ULONGLONG>(st.st_dev) * 0x9E3779B97F4A7C15ULL) ^ static_cast<ULONGLONG>(st.st_ino);
  return static_cast<unsigned>((key ^ (key >> 29)) % Registry::kBuckets);
}
bool RangesHeldByOthers(unsigned bucket, long mine) { return Registry::Get().HeldByOthers(bucket, mine); }
void CountRanges(unsigned bucket, long n) { Registry::Get().Count(bucket, n); }
void RepairRangeCount() { Registry::Get().Repair(); }

Gate::Gate(int fd) : fd_(fd), held_(false) {
  int rc;
  do {
    rc = flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  held_ = rc == 0;
}

Gate::~Gate() {
  if (held_) flock(fd_, LOCK_UN);
}

namespace {

// The sharing bytes an open asks about (`asked`) and those it takes (`taken`),
// as bits over the bytes from kReservedBase.
void SharingBytes(unsigned access, unsigned share, unsigned& asked, unsigned& taken) {
  asked = taken = 0;
  for (unsigned kind : kKinds) {
    if (access & kind) asked |= DeniedBit(kind), taken |= HeldBit(kind);
    if (!(share & kind)) asked |= HeldBit(kind), taken |= DeniedBit(kind);
  }
}

// Calls `each(offset, length)` for every run of set bits, until one returns true.
template <class Each>
bool ForRuns(unsigned bits, Each each) {
  for (unsigned i = 0; i < 8;) {
    if (!(bits >> i & 1)) {
      ++i;
      continue;
    }
    unsigned n = 1;
    while (i + n < 8 && (bits >> (i + n) & 1)) ++n;
    if (each(kReservedBase + i, ULONGLONG(n))) return true;
    i += n;
  }
  return false;
}

bool AnyHeldByOther(int fd, unsigned bits) {
  return ForRuns(bits, [&](ULONGLONG at, ULONGLONG n) { return HeldByOther(fd, at, n); });
}

}  // namespace

bool Conflicts(int fd, unsigned access, unsigned share) {
  unsigned asked, taken;
  SharingBytes(access, share, asked, taken);
  return AnyHeldByOther(fd, asked);
}

void Declare(int fd, unsigned access, unsigned share) {
  unsigned asked, taken;
  SharingBytes(access, share, asked, taken);
  ForRuns(taken, [&](ULONGLONG at, ULONGLONG n) {
    Lock(fd, F_OFD_SETLK, F_RDLCK, at, n);
    return false;
  });
}

bool RangeLockedByOther(int fd, ULONGLONG offset, ULONGLONG length) {
  return Clip(offset, length) && HeldByOther(fd, offset, length);
}

bool TakeRange(int fd, ULONGLONG offset, ULONGLONG length) {
  if (!Clip(offset, length)) return true;
  // Exclusion comes from the check under the gate, so a shared lock will do,
  // and it needs only read access: a handle opened for reading can lock.
  if (Lock(fd, F_OFD_SETLK, F_RDLCK, offset, length)) return true;
  return errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP;  // no locks here: bookkeeping only
}

int TakeRangeExclusive(int fd, ULONGLONG offset, ULONGLONG length) {
  if (!Clip(offset, length)) return 1;
  if (Lock(fd, F_OFD_SETLK, F_WRLCK, offset, length)) return 1;
  if (errno == EAGAIN || errno == EACCES) return 0;
  return errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP ? 1 : -1;
}

void ReleaseRange(int fd, ULONGLONG offset, ULONGLONG length) {
  if (Clip(offset, length)) Lock(fd, F_OFD_SETLK, F_UNLCK, offset, length);
}

Removal RemoveIfDeletable(const std::string& nativePath, const std::function<int()>& change) {
  int fd = open(nativePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return change() == 0 ? Removal::kDone : Removal::kFailed;  // nothing we can ask
  Removal result;
  {
    Gate gate(fd);
    if (HeldByOther(fd, kDeniedDelete, 1))
      result = Removal::kDenied;
    else
      result = change() == 0 ? Removal::kDone : Removal::kFailed;
  }
  int e = errno;
  close(fd);
  errno = e;
  return result;
}

Replace ReplaceIfFree(const std::string& source, const std::string& target, const std::function<int()>& change) {
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int from = open(source.c_str(), flags);
  int to = open(target.c_str(), flags);
  struct stat a, b;
  const bool same = from >= 0 && to >= 0 && fstat(from, &a) == 0 && fstat(to, &b) == 0 && a.st_dev == b.st_dev &&
                    a.st_ino == b.st_ino;
  if (from < 0 || to < 0 || same) {
    // Nothing to ask of a missing target, or of a name moved onto itself.
    if (from >= 0) close(from);
    if (to >= 0) close(to);
    const Removal r = RemoveIfDeletable(source, change);
    return r == Removal::kDone ? Replace::kDone : r == Removal::kDenied ? Replace::kSourceDenied : Replace::kFailed;
  }
  Replace result;
  {
    // Both gates, always in the order of the files' identities, so that two
    // renames between the same two files cannot wait on each other.
    const bool sourceFirst = a.st_dev < b.st_dev || (a.st_dev == b.st_dev && a.st_ino < b.st_ino);
    Gate first(sourceFirst ? from : to);
    Gate second(sourceFirst ? to : from);
    const bool busy = AnyHeldByOther(to, kAnyHeld);
    if (HeldByOther(from, kDeniedDelete, 1))
      result = Replace::kSourceDenied;
    else if (busy)
      result = Replace::kBusy;
    else
      result = change() == 0 ? Replace::kDone : Replace::kFailed;
  }
  int e = errno;
  close(from);
  close(to);
  errno = e;
  return result;
}

}  // namespace share
}  // namespace posix
