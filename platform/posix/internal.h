// Shared pieces of the native platform: Windows paths to native ones, errno to
// Win32 error codes, FILETIME arithmetic, and what a name in the file system
// looks like to Windows (attributes, three times, size).
#pragma once

#include <functional>
#include <string>
#include <sys/stat.h>

#include "../win32.h"

namespace posix {

// Turns a Windows path into a native one: "\" and "/" are both separators; a
// rooted path without a drive is a POSIX absolute path; "C:" names "/" (other
// drive letters have no root here); "\\?\" is dropped; names are UTF-8.
// UNC names (\\server\share) and devices (\\.\) have no native meaning.
// On failure returns false with the last error set.
bool ToNative(LPCWSTR path, std::string& out);

// The native path back in Windows form (the separators stay "/").
plat::wstring FromNative(const std::string& path);

// The Win32 code for an errno value; `missingDirectory` tells ENOENT apart as
// "path not found" (a directory on the way is missing) from "file not found".
DWORD ErrorFromErrno(int e, bool missingDirectory = false);

// Sets the last error from errno and returns FALSE, for one-line failure paths.
BOOL FailErrno(bool missingDirectory = false);

// True when the directory that would hold `nativePath` exists, to choose
// between ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND as Windows does.
bool ParentExists(const std::string& nativePath);

// Sets the last error for a failed lookup of `nativePath` (errno as it stands):
// 2 when only the last name is missing, 3 when a directory on the way is.
void SetLookupError(const std::string& nativePath);

inline ULONGLONG ToFileTime(long long seconds, long nanoseconds) {
  return static_cast<ULONGLONG>(seconds + 11644473600LL) * 10000000ULL + static_cast<ULONGLONG>(nanoseconds) / 100;
}
inline ULONGLONG FileTime64(const FILETIME* ft) {
  return (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
}
inline void SetFileTime64(FILETIME* ft, ULONGLONG t) {
  ft->dwLowDateTime = static_cast<DWORD>(t);
  ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// ---- procfs.cpp ----
// The region of the process's map that holds the page at `a` (VirtualQuery's
// answer for memory that VirtualAlloc did not make); false with the last error set.
bool QueryProcessMap(uintptr_t a, PMEMORY_BASIC_INFORMATION info);
// ---- file.cpp: the crash hook (hooks.h) ----

// Counts a call that changes a file. When it is the call the crash hook names,
// returns true with the bytes a write may still make (`keep`): the caller
// writes them, if any, and then calls Die().
bool CrashHere(DWORD& keep);
[[noreturn]] void Die();
// CrashHere and Die in one, for calls that have nothing to write.
inline void CrashPoint() {
  DWORD keep;
  if (CrashHere(keep)) Die();
}

// ---- file.cpp: what other handles need of a file's handle ----

// The descriptor and access kinds (share::kRead | kWrite) of a handle of a
// regular file; false with ERROR_INVALID_HANDLE for anything else. The
// descriptor stays the handle's: the caller duplicates it to keep it.
bool FileOfHandle(HANDLE h, int& fd, unsigned& access, bool* randomAccess = nullptr);
// Takes `bytes` of growth from the test hook's budget of a disk that fills up.
bool TakeGrowth(ULONGLONG bytes);

// ---- attributes.cpp: a file as Windows sees it ----
//
// Read-only of a file is the owner's write permission, so that other programs
// see it too. What POSIX has no place for (hidden, system, archive, temporary,
// the read-only of a directory, a creation time set by SetFileTime) is kept in
// one extended attribute, where the file system has them. Without a stored
// value a file reads as ARCHIVE and a directory as DIRECTORY; the creation time
// is the birth time the file system records, else the earlier of the last-write
// and status-change times.

struct FileInfo {
  mode_t mode = 0;
  DWORD attributes = 0;
  ULONGLONG size = 0;  // 0 for directories
  ULONGLONG creation = 0, access = 0, write = 0;
  dev_t device = 0;
  ino_t inode = 0;
  bool IsDirectory() const { return S_ISDIR(mode); }
  bool IsRegular() const { return S_ISREG(mode); }
};

// Attribute bits SetFileAttributesW keeps.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Status of a name (following links) or of an open descriptor; false with errno set.
bool QueryPath(const std::string& nativePath, FileInfo& info);
// Without `stored`, the stored record is not read: the attributes and the
// creation time are then what the file system alone tells.
bool QueryFd(int fd, FileInfo& info, bool stored = true);
// The status of an entry of an open directory (`dirPath`, ending in "/"), by
// its name there: what a listing asks of every entry, without resolving the
// directory's path again.
bool QueryAt(int dirfd, const std::string& dirPath, const char* name, FileInfo& info);
// QueryPath with the Win32 lookup error set on failure.
bool QueryPathOrFail(const std::string& nativePath, FileInfo& info);

// The stored attribute bits of a file or directory, if any (fd < 0: by name).
bool StoredAttributes(int fd, const std::string& nativePath, DWORD& attributes);
// Replaces the stored attribute bits; `keepDefault` removes them, so that the
// name reads with its default again. Quietly does nothing where the file system
// keeps no extended attributes. False with errno set on another failure.
bool StoreAttributes(int fd, const std::string& nativePath, DWORD attributes, bool keepDefault = false);
// Keeps a creation time set through SetFileTime.
bool StoreCreationTime(int fd, ULONGLONG creation);

// ---- sharing.cpp: sharing modes and byte-range locks between handles ----
//
// Every handle is an open file description of its own, and declares itself with
// open-file-description locks (shared ones, which never conflict with each other)
// on reserved bytes at the top of the offset range: one byte per access kind it
// holds and one per access kind it denies. A new open asks whether anybody holds
// what it would deny or denies what it would take, then takes its own bytes; the
// question and the taking happen under the file's gate, an exclusive flock on
// the description, so that two opens cannot both pass. Such locks belong to the
// description, so they conflict between handles of one process as between
// processes, and they go when the handle is closed or the process ends.

namespace share {

// Access kinds; they have the values of the FILE_SHARE_* bits that permit them.
constexpr unsigned kRead = FILE_SHARE_READ, kWrite = FILE_SHARE_WRITE, kDelete = FILE_SHARE_DELETE;

// Byte-range locks of callers live below this offset; sharing bytes above it.
constexpr ULONGLONG kReservedBase = 0x7FFFFFFFFFFFFF00ULL;

// Holds the gate of a file while it lives.
class Gate {
 public:
  explicit Gate(int fd);
  ~Gate();
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

 private:
  int fd_;
  bool held_;
};

// Under the gate: true when another handle's sharing forbids an open with
// `access` (kinds) and `share` (FILE_SHARE_* bits), or the open would deny what
// another handle holds.
bool Conflicts(int fd, unsigned access, unsigned share);
// Under the gate: declares the handle's access and denials. The descriptor
// must be open for reading (shared locks need that); every file handle is.
void Declare(int fd, unsigned access, unsigned share);

// True when a handle other than the one of `fd` holds a lock on a byte of the range.
bool RangeLockedByOther(int fd, ULONGLONG offset, ULONGLONG length);
// Takes or releases a byte-range lock for the handle of `fd` (no check of
// others: the caller holds the gate and asked RangeLockedByOther).
bool TakeRange(int fd, ULONGLONG offset, ULONGLONG length);
// A descriptor open for writing takes its range exclusively instead, without
// the gate: 1 taken, 0 held by another handle, -1 failed (errno).
int TakeRangeExclusive(int fd, ULONGLONG offset, ULONGLONG length);
void ReleaseRange(int fd, ULONGLONG offset, ULONGLONG length);

// Reads and writes must respect other handles' ranges, but asking the kernel
// costs a system call per read or write. So every process of the suite counts
// the ranges it holds in shared memory, in all and per bucket of files (by
// device and inode): while the count of a file's bucket is what its handle
// holds itself, no other handle anywhere holds a range on that file and a read
// or write need not ask. A holder adds to the counts before it takes a range
// and subtracts after it let go, so no count is low while a range is held. A
// process that dies holding ranges leaves counts too high, which costs only
// the question, until no process that ever held a range is left and the counts
// are set right again.
unsigned RangeBucket(const struct stat& st);
// True unless the bucket counts no ranges beyond the `mine` of the handle asking.
bool RangesHeldByOthers(unsigned bucket, long mine);
// Counts ranges taken (n > 0) or let go (n < 0) by this process on a file of the bucket.
void CountRanges(unsigned bucket, long n);
// Sets the counts right when left too high and no holder is alive; cheap
// enough for every open (it tries at most once a second).
void RepairRangeCount();

// Runs `change` (a call that removes or renames the name; 0 or -1 with errno)
// unless a handle open on `nativePath` denies deletion. The check and the call
// happen under the gate, so that no open slips in between.
enum class Removal { kDone, kDenied, kFailed };
Removal RemoveIfDeletable(const std::string& nativePath, const std::function<int()>& change);

// RemoveIfDeletable for a rename that replaces `target`: the change runs only
// when, besides, no handle is open on the target (kBusy), under the gates of
// both, so that nobody opens the target in between.
enum class Replace { kDone, kSourceDenied, kBusy, kFailed };
Replace ReplaceIfFree(const std::string& source, const std::string& target, const std::function<int()>& change);

}  // namespace share

}  // namespace posix
