// Directory searches with the Windows wildcard rules: "*" any run of
// characters, "?" exactly one, letters a..z compared without case, "*.*" every
// name (also names without a dot), and a final "." or ".*" that may match the
// end of a name without an extension. A pattern without wildcards names one
// entry. The listing includes "." and ".."; it comes sorted, those two first.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "handles.h"
#include "internal.h"

namespace {

struct Search : posix::Object {
  std::vector<WIN32_FIND_DATAW> entries;
  size_t next = 0;
};

bool IsSep(WCHAR c) { return c == '\\' || c == '/'; }

// The rest of a pattern that may stand at the end of a name: stars, or a dot
// followed by stars.
bool MatchesEnd(const WCHAR* p) {
  if (*p == '.') ++p;
  while (*p == '*') ++p;
  return !*p;
}

bool Match(const WCHAR* pattern, const WCHAR* name) {
  const WCHAR* star = nullptr;  // the last "*" seen, and where its run in the name ends
  const WCHAR* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = ++pattern;
      resume = name;
    } else if (*pattern && (*pattern == '?' || plat::WUpper(*pattern) == plat::WUpper(*name))) {
      ++pattern, ++name;
    } else if (star) {
      pattern = star;
      name = ++resume;  // let the star take one more character
    } else {
      return false;
    }
  }
  return MatchesEnd(pattern);
}

bool HasWildcards(const plat::wstring& s) { return s.find_first_of(u"*?") != plat::wstring::npos; }

bool MakeEntry(const std::string& nativePath, const plat::wstring& name, WIN32_FIND_DATAW& data) {
  if (name.size() >= MAX_PATH) return false;  // no room in the record
  posix::FileInfo info;
  if (!posix::QueryPath(nativePath, info)) return false;  // gone meanwhile, or a dangling link
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = info.attributes;
  posix::SetFileTime64(&data.ftCreationTime, info.creation);
  posix::SetFileTime64(&data.ftLastAccessTime, info.access);
  posix::SetFileTime64(&data.ftLastWriteTime, info.write);
  data.nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(info.size);
  std::memcpy(data.cFileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  return true;
}

// "." and ".." first, then by name without regard to the case of a..z.
bool Before(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
  auto rank = [](const WCHAR* n) { return n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2])) ? plat::WLen(n) : 3; };
  size_t ra = rank(a.cFileName), rb = rank(b.cFileName);
  if (ra != rb) return ra < rb;
  const WCHAR *x = a.cFileName, *y = b.cFileName;
  while (*x && plat::WUpper(*x) == plat::WUpper(*y)) ++x, ++y;
  if (plat::WUpper(*x) != plat::WUpper(*y)) return plat::WUpper(*x) < plat::WUpper(*y);
  return plat::WCmp(a.cFileName, b.cFileName) < 0;
}

}  // namespace

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Split into the directory and the last component, the pattern proper.
  plat::wstring whole(pattern), dir, last;
  size_t cut = whole.size();
  while (cut > 0 && !IsSep(whole[cut - 1])) --cut;
  if (cut == 0 && whole.size() >= 2 && whole[1] == ':') cut = 2;  // "C:*.txt"
  dir = whole.substr(0, cut);
  last = whole.substr(cut);
  if (last.empty()) {  // "dir\" names no entry
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string nativeDir = ".";
  if (!dir.empty() && !posix::ToNative(dir.c_str(), nativeDir)) return INVALID_HANDLE_VALUE;
  if (nativeDir.empty() || nativeDir.back() != '/') nativeDir += '/';

  auto search = std::make_shared<Search>();
  WIN32_FIND_DATAW entry;
  if (!HasWildcards(last) && MakeEntry(nativeDir + plat::Utf8(last), last, entry)) {
    search->entries.push_back(entry);  // the name as it stands
  } else {
    DIR* d = opendir(nativeDir.c_str());
    if (!d) {
      SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : posix::ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    while (struct dirent* e = readdir(d)) {
      plat::wstring name = plat::Wide(e->d_name);
      if (Match(last.c_str(), name.c_str()) && MakeEntry(nativeDir + e->d_name, name, entry))
        search->entries.push_back(entry);
    }
    closedir(d);
    if (search->entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    std::sort(search->entries.begin(), search->entries.end(), Before);
  }
  *data = search->entries[0];
  search->next = 1;
  return posix::InsertHandle(search);
}

BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  auto search = posix::GetHandle<Search>(find);
  if (!search || !data) {
    SetLastError(search ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (search->next >= search->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *data = search->entries[search->next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) {
  if (!posix::GetHandle<Search>(find)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  posix::RemoveHandle(find);
  return TRUE;
}

}  // extern "C"
