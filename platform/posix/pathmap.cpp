// Windows paths to native ones, and errno to Win32 error codes.
#include <cerrno>
#include <unistd.h>

#include "internal.h"

namespace posix {

namespace {
bool IsSep(WCHAR c) { return c == '\\' || c == '/'; }
bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

bool ToNative(LPCWSTR path, std::string& out) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const WCHAR* p = path;
  if (IsSep(p[0]) && IsSep(p[1]) && p[2] == '?' && IsSep(p[3])) {
    p += 4;
    if (plat::WUpper(p[0]) == 'U' && plat::WUpper(p[1]) == 'N' && plat::WUpper(p[2]) == 'C' && IsSep(p[3])) {
      SetLastError(ERROR_BAD_NETPATH);
      return false;
    }
  } else if (IsSep(p[0]) && IsSep(p[1])) {
    // \\server\share and \\.\device name nothing on this system.
    SetLastError(p[2] == '.' && IsSep(p[3]) ? ERROR_FILE_NOT_FOUND : ERROR_BAD_NETPATH);
    return false;
  }
  std::string rest;
  if (IsLetter(p[0]) && p[1] == ':') {
    if (plat::WUpper(p[0]) != 'C') {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    p += 2;
    if (!*p) {
      out = ".";  // "C:" is the current directory of drive C, which is the process's
      return true;
    }
  }
  plat::wstring w;
  for (; *p; ++p) w += IsSep(*p) ? WCHAR('/') : *p;
  out = plat::Utf8(w);
  return true;
}

plat::wstring FromNative(const std::string& path) { return plat::Wide(path); }

DWORD ErrorFromErrno(int e, bool missingDirectory) {
  switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return missingDirectory ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY: return ERROR_BUSY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EIO: return ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

BOOL FailErrno(bool missingDirectory) {
  SetLastError(ErrorFromErrno(errno, missingDirectory));
  return FALSE;
}

bool ParentExists(const std::string& nativePath) {
  std::string parent = nativePath;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  size_t slash = parent.rfind('/');
  if (slash == std::string::npos) return true;  // relative to the current directory
  parent.resize(slash == 0 ? 1 : slash);
  struct stat st;
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SetLookupError(const std::string& nativePath) {
  int e = errno;
  SetLastError(ErrorFromErrno(e, e == ENOENT && !ParentExists(nativePath)));
}

}  // namespace posix
