// Names in the file system: attributes, deleting and renaming, disk space,
// drive types, network names.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "internal.h"

namespace {

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// lstat with the Win32 lookup error set on failure.
bool LinkStatus(const std::string& path, struct stat& st) {
  if (lstat(path.c_str(), &st) == 0) return true;
  posix::SetLookupError(path);
  return false;
}

// Moves a file to another file system: a copy with its times, mode and stored
// attributes, then the original goes. The copy never replaces a file.
bool CopyAcross(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0) {
    close(in);
    return false;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    int e = errno;
    close(in);
    errno = e;
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t w = write(out, buffer.data() + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) ok = false;
      else done += w;
    }
    if (!ok) break;
  }
  if (ok) {
    DWORD stored;
    if (posix::StoredAttributes(in, std::string(), stored)) posix::StoreAttributes(out, std::string(), stored);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    fchmod(out, st.st_mode & 07777);
  }
  int e = errno;
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(to.c_str());
    errno = e;
    return false;
  }
  return unlink(from.c_str()) == 0;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
  std::string native;
  posix::FileInfo info;
  if (!posix::ToNative(name, native) || !posix::QueryPathOrFail(native, info)) return INVALID_FILE_ATTRIBUTES;
  return info.attributes;
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID out) {
  if (level != GetFileExInfoStandard || !out) return Fail(ERROR_INVALID_PARAMETER);
  std::string native;
  posix::FileInfo info;
  if (!posix::ToNative(name, native) || !posix::QueryPathOrFail(native, info)) return FALSE;
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(out);
  data->dwFileAttributes = info.attributes;
  posix::SetFileTime64(&data->ftCreationTime, info.creation);
  posix::SetFileTime64(&data->ftLastAccessTime, info.access);
  posix::SetFileTime64(&data->ftLastWriteTime, info.write);
  data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(info.size);
  return TRUE;
}

// Read-only of a file is its owner's write permission; everything else (and
// the read-only of a directory, which on Windows does not stop creating
// entries in it) is stored beside the name. FILE_ATTRIBUTE_NORMAL alone, or 0,
// clears every attribute.
BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  std::string native;
  posix::FileInfo info;
  if (!posix::ToNative(name, native) || !posix::QueryPathOrFail(native, info)) return FALSE;
  DWORD wanted = attributes & posix::kSettableAttributes;
  if (info.IsDirectory()) {
    if (!posix::StoreAttributes(-1, native, wanted, wanted == 0)) return posix::FailErrno();
    return TRUE;
  }
  bool readOnly = wanted & FILE_ATTRIBUTE_READONLY;
  DWORD rest = wanted & ~FILE_ATTRIBUTE_READONLY;
  mode_t mode = info.mode & 07777;
  mode_t newMode = readOnly ? mode & ~0222 : mode | S_IWUSR;
  // Lift read-only before storing, set it after: a non-root owner needs write
  // permission to change the stored attributes.
  if (!readOnly && newMode != mode && chmod(native.c_str(), newMode) != 0) return posix::FailErrno();
  if (!posix::StoreAttributes(-1, native, rest, rest == FILE_ATTRIBUTE_ARCHIVE)) return posix::FailErrno();
  if (readOnly && newMode != mode && chmod(native.c_str(), newMode) != 0) return posix::FailErrno();
  return TRUE;
}

// As on Windows: a read-only file and a directory cannot be deleted, nor a
// file that a handle holds open without FILE_SHARE_DELETE.
BOOL WINAPI DeleteFileW(LPCWSTR name) {
  std::string native;
  struct stat st;
  if (!posix::ToNative(name, native) || !LinkStatus(native, st)) return FALSE;
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return Fail(ERROR_ACCESS_DENIED);
  posix::CrashPoint();
  switch (posix::share::RemoveIfDeletable(native, [&] { return unlink(native.c_str()); })) {
    case posix::share::Removal::kDone: return TRUE;
    case posix::share::Removal::kDenied: return Fail(ERROR_SHARING_VIOLATION);
    default: return posix::FailErrno();
  }
}

// Renames a file or directory. An existing name is replaced only with
// MOVEFILE_REPLACE_EXISTING, and only a file that no handle holds open (as on
// Windows, ERROR_ACCESS_DENIED otherwise, and for a directory). A file moves
// to another file system by copying when MOVEFILE_COPY_ALLOWED says so; a
// directory never does. MOVEFILE_WRITE_THROUGH returns once the move is on disk.
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::string source, target;
  struct stat st;
  if (!posix::ToNative(from, source) || !posix::ToNative(to, target) || !LinkStatus(source, st)) return FALSE;
  posix::CrashPoint();
  const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  bool crossDevice = false;
  auto rename = [&]() -> int {
    int rc;
    if (replace) {
      struct stat existing;
      if (lstat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode) && !S_ISDIR(st.st_mode)) {
        errno = EACCES;
        return -1;
      }
      rc = ::rename(source.c_str(), target.c_str());
    } else {
      rc = renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
      if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without RENAME_NOREPLACE (EINVAL also means "a
        // directory into itself", which rename(2) reports again).
        struct stat existing;
        if (lstat(target.c_str(), &existing) == 0) {
          errno = EEXIST;
          return -1;
        }
        rc = ::rename(source.c_str(), target.c_str());
      }
    }
    if (rc != 0 && errno == EXDEV) crossDevice = true;
    return rc;
  };
  switch (posix::share::ReplaceIfFree(source, target, rename)) {
    case posix::share::Replace::kDone:
      if (flags & MOVEFILE_WRITE_THROUGH) {
        // The new name is on disk once its directory is.
        std::string dir = target.substr(0, target.find_last_of('/') + 1);
        int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
          fsync(fd);
          close(fd);
        }
      }
      return TRUE;
    case posix::share::Replace::kSourceDenied: return Fail(ERROR_SHARING_VIOLATION);
    case posix::share::Replace::kBusy: return Fail(ERROR_ACCESS_DENIED);
    default: break;
  }
  int e = errno;
  if (crossDevice) {
    if (!S_ISREG(st.st_mode) || !(flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE);
    if (replace) {
      // The copy never replaces: the old name goes first.
      struct stat existing;
      if (lstat(target.c_str(), &existing) == 0 && unlink(target.c_str()) != 0) return posix::FailErrno();
    }
    if (CopyAcross(source, target)) return TRUE;
    e = errno;
  }
  if (e == ENOENT || e == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);  // the source is there: the target's directory is not
  if (e == EEXIST || e == ENOTEMPTY) return Fail(ERROR_ALREADY_EXISTS);
  if (e == EISDIR || e == EACCES) return Fail(ERROR_ACCESS_DENIED);
  if (e == EINVAL) return Fail(ERROR_INVALID_PARAMETER);  // a directory into itself
  return Fail(posix::ErrorFromErrno(e));
}

// A file moves to another file system by copying, as on Windows; a directory does not.
BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to) { return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED); }

// The space of the volume that holds a directory (a file is refused, as on Windows).
BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR name, PULARGE_INTEGER availableToCaller, PULARGE_INTEGER total,
                                PULARGE_INTEGER totalFree) {
  std::string native = ".";
  if (name && !posix::ToNative(name, native)) return FALSE;
  posix::FileInfo info;
  if (!posix::QueryPathOrFail(native, info)) return FALSE;
  if (!info.IsDirectory()) return Fail(ERROR_DIRECTORY);
  struct statvfs vfs;
  if (statvfs(native.c_str(), &vfs) != 0) return posix::FailErrno();
  ULONGLONG unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  if (availableToCaller) availableToCaller->QuadPart = static_cast<ULONGLONG>(vfs.f_bavail) * unit;
  if (total) total->QuadPart = static_cast<ULONGLONG>(vfs.f_blocks) * unit;
  if (totalFree) totalFree->QuadPart = static_cast<ULONGLONG>(vfs.f_bfree) * unit;
  return TRUE;
}

// Every name this system knows lies on one fixed drive, C:, whose root is "/".
// As on Windows, only a root answers: any other directory, or a drive that is
// not there, is DRIVE_NO_ROOT_DIR.
UINT WINAPI GetDriveTypeW(LPCWSTR root) {
  if (!root) return DRIVE_FIXED;  // the current directory's drive
  auto sep = [](WCHAR c) { return c == '\\' || c == '/'; };
  const WCHAR* p = root;
  if (sep(p[0]) && sep(p[1]) && p[2] == '?' && sep(p[3])) p += 4;
  if (sep(p[0]) && !p[1]) return DRIVE_FIXED;  // the root of the current drive
  if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':' &&
      (!p[2] || (sep(p[2]) && !p[3])))
    return plat::WUpper(p[0]) == 'C' ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
  return DRIVE_NO_ROOT_DIR;
}

// No drive is mapped to a network share here.
DWORD WINAPI WNetGetUniversalNameW(LPCWSTR localPath, DWORD, LPVOID, LPDWORD) {
  return localPath ? ERROR_NOT_CONNECTED : ERROR_INVALID_PARAMETER;
}

}  // extern "C"
