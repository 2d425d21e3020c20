// Directories: creating and removing them, the current directory, the
// temporary directory, and full path names.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "internal.h"

namespace {

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

bool IsSep(WCHAR c) { return c == '\\' || c == '/'; }
bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The Windows convention of the calls that fill a caller's buffer: the length
// without the terminator when it fits, else the size needed with it.
DWORD CopyOut(const plat::wstring& text, DWORD size, LPWSTR buffer) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(text.size());
}

bool CurrentDirectory(std::string& out) {
  std::vector<char> buffer(4096);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size())) {
      out = buffer.data();
      return true;
    }
    if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// Appends the components of `text` to `parts`, dropping empty ones and ".",
// and letting ".." take one back (never above the root).
void Walk(const plat::wstring& text, std::vector<plat::wstring>& parts) {
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && !IsSep(text[j])) ++j;
    plat::wstring part = text.substr(i, j - i);
    if (part == TEXT("..")) {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != TEXT(".")) {
      parts.push_back(part);
    }
    i = j + 1;
  }
}

}  // namespace

extern "C" {

BOOL WINAPI CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
  std::string native;
  if (!posix::ToNative(name, native)) return FALSE;
  if (mkdir(native.c_str(), 0777) == 0) return TRUE;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  if (errno == ENOENT || errno == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
  return posix::FailErrno();
}

// As on Windows: a read-only directory stays, and so does the process's current
// directory or one that a handle holds open without FILE_SHARE_DELETE.
BOOL WINAPI RemoveDirectoryW(LPCWSTR name) {
  std::string native;
  if (!posix::ToNative(name, native)) return FALSE;
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) {
    posix::SetLookupError(native);
    return FALSE;
  }
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  DWORD stored;
  if (posix::StoredAttributes(-1, native, stored) && (stored & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  struct stat cwd;
  if (stat(".", &cwd) == 0 && cwd.st_dev == st.st_dev && cwd.st_ino == st.st_ino)
    return Fail(ERROR_SHARING_VIOLATION);
  switch (posix::share::RemoveIfDeletable(native, [&] { return rmdir(native.c_str()); })) {
    case posix::share::Removal::kDone: return TRUE;
    case posix::share::Removal::kDenied: return Fail(ERROR_SHARING_VIOLATION);
    default: break;
  }
  if (errno == ENOTEMPTY || errno == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
  if (errno == EBUSY) return Fail(ERROR_SHARING_VIOLATION);  // a mount point, in use
  return posix::FailErrno();
}

// Natively the current directory reads in POSIX form (/tmp/x): a rooted path
// without a drive, which every call here accepts.
DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
  std::string cwd;
  if (!CurrentDirectory(cwd)) {
    posix::FailErrno();
    return 0;
  }
  return CopyOut(posix::FromNative(cwd), size, buffer);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR name) {
  std::string native;
  posix::FileInfo info;
  if (!posix::ToNative(name, native) || !posix::QueryPathOrFail(native, info)) return FALSE;
  if (!info.IsDirectory()) return Fail(ERROR_DIRECTORY);
  if (chdir(native.c_str()) != 0) return posix::FailErrno();
  return TRUE;
}

// TMPDIR, TMP or TEMP, else /tmp; always with a final separator.
DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
  std::string dir;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    const char* value = getenv(name);
    if (value && *value) {
      dir = value;
      break;
    }
  }
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return CopyOut(posix::FromNative(dir), size, buffer);
}

// The absolute form of a name, with "." and ".." resolved and repeated
// separators folded. Names with a drive or a server keep the Windows form
// ("C:\a\b", "\\srv\share\a"); rooted and relative names take the POSIX form
// of the current directory ("/tmp/x/a"). A final separator is kept.
DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
  if (filePart) *filePart = nullptr;
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  plat::wstring in(name);
  if (in.size() >= 4 && IsSep(in[0]) && IsSep(in[1]) && in[2] == '?' && IsSep(in[3])) return CopyOut(in, size, buffer);

  plat::wstring root;
  WCHAR sep = '/';
  std::vector<plat::wstring> parts;
  plat::wstring rest;
  auto fromCurrent = [&]() -> bool {
    std::string cwd;
    if (!CurrentDirectory(cwd)) return false;
    Walk(posix::FromNative(cwd), parts);
    return true;
  };
  if (in.size() >= 2 && IsSep(in[0]) && IsSep(in[1])) {
    // \\server\share: both names belong to the root.
    size_t server = 2;
    while (server < in.size() && !IsSep(in[server])) ++server;
    size_t share = server + 1;
    while (share < in.size() && !IsSep(in[share])) ++share;
    root = TEXT("\\\\") + in.substr(2, server - 2);
    if (server < in.size()) root += TEXT("\\") + in.substr(server + 1, share - server - 1);
    root += '\\';
    sep = '\\';
    if (share < in.size()) rest = in.substr(share + 1);
  } else if (in.size() >= 2 && IsLetter(in[0]) && in[1] == ':') {
    // C: is the root of this system: its names come out in the same POSIX form
    // as rooted names, so that both spellings of one file read the same.
    bool c = plat::WUpper(in[0]) == 'C';
    root = c ? plat::wstring(TEXT("/")) : plat::wstring{in[0], ':', '\\'};
    sep = c ? '/' : '\\';
    rest = in.substr(2);
    // "C:name" is relative to the drive's current directory: the process's own
    // for C:, which is the only drive here; the root for the others.
    if ((rest.empty() || !IsSep(rest[0])) && plat::WUpper(root[0]) == 'C' && !fromCurrent()) return posix::FailErrno();
  } else {
    root = TEXT("/");
    rest = in;
    if (!IsSep(in[0]) && !fromCurrent()) return posix::FailErrno();
  }
  Walk(rest, parts);
  plat::wstring out = root;
  size_t last = plat::wstring::npos;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    last = out.size();
    out += parts[i];
  }
  bool trailing = IsSep(in.back()) && !parts.empty();
  if (trailing) out += sep;
  DWORD n = CopyOut(out, size, buffer);
  if (filePart && n == out.size() && last != plat::wstring::npos && !trailing) *filePart = buffer + last;
  return n;
}

}  // extern "C"
