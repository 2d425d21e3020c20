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

// A listing keeps each entry's facts and its name in shared buffers, and
// fills the caller's record (592 bytes) only when it is handed out: sorting
// moves small records, and no entry costs an allocation of its own.
struct Found {
  uint32_t nameAt = 0, nameLength = 0;
  uint32_t rank = 0;  // "." 1, ".." 2, every other name 3: they come first
  posix::FileInfo info;
};

struct Search : posix::Object {
  plat::wstring names;  // every name, each followed by its terminating zero
  plat::wstring keys;   // the same names upper-cased (a..z), for sorting
  std::vector<Found> entries;
  std::vector<uint32_t> order;  // indices into entries, sorted
  size_t next = 0;

  // The next name, UTF-8 as the file system has it, put at the end of the
  // buffers (most names are ASCII and are widened in place); Keep() makes it an
  // entry, anything else leaves it to be written over.
  const WCHAR* Stage(const char* utf8) {
    staged = names.size();
    const char* c = utf8;
    while (*c && static_cast<unsigned char>(*c) < 0x80) ++c;
    if (*c) {
      names.append(plat::Wide(utf8));
      for (size_t i = staged; i < names.size(); ++i) keys.push_back(plat::WUpper(names[i]));
    } else {
      for (c = utf8; *c; ++c) {
        names.push_back(WCHAR(*c));
        keys.push_back(WCHAR(plat::AUpper(*c)));
      }
    }
    names.push_back(0);
    keys.push_back(0);
    return names.data() + staged;
  }

  // False when the name does not fit a record.
  bool Keep(const posix::FileInfo& info) {
    const size_t length = names.size() - 1 - staged;
    if (length >= MAX_PATH) return Drop();
    Found f;
    f.nameAt = uint32_t(staged);
    f.nameLength = uint32_t(length);
    const WCHAR* n = names.data() + staged;
    f.rank = n[0] == '.' && (length == 1 || (length == 2 && n[1] == '.')) ? uint32_t(length) : 3;
    f.info = info;
    entries.push_back(f);
    return true;
  }

  bool Drop() {
    names.resize(staged);
    keys.resize(staged);
    return false;
  }

  // The order in which the entries are handed out.
  void Sort() {
    order.resize(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) { return Before(entries[a], entries[b]); });
  }

  // "." and ".." first, then by name without regard to the case of a..z.
  bool Before(const Found& a, const Found& b) const {
    if (a.rank != b.rank) return a.rank < b.rank;
    const WCHAR *x = keys.data() + a.nameAt, *y = keys.data() + b.nameAt;
    while (*x && *x == *y) ++x, ++y;
    if (*x != *y) return *x < *y;
    return plat::WCmp(names.data() + a.nameAt, names.data() + b.nameAt) < 0;
  }

  void Fill(const Found& f, WIN32_FIND_DATAW& data) const {
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = f.info.attributes;
    posix::SetFileTime64(&data.ftCreationTime, f.info.creation);
    posix::SetFileTime64(&data.ftLastAccessTime, f.info.access);
    posix::SetFileTime64(&data.ftLastWriteTime, f.info.write);
    data.nFileSizeHigh = static_cast<DWORD>(f.info.size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(f.info.size);
    std::memcpy(data.cFileName, names.data() + f.nameAt, (f.nameLength + 1) * sizeof(WCHAR));
  }

 private:
  size_t staged = 0;
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
  posix::FileInfo info;
  const std::string literal = HasWildcards(last) ? std::string() : plat::Utf8(last);
  if (!literal.empty() && posix::QueryPath(nativeDir + literal, info) && (search->Stage(literal.c_str()), search->Keep(info))) {
    // the name as it stands
  } else {
    DIR* d = opendir(nativeDir.c_str());
    if (!d) {
      SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : posix::ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    // An entry gone meanwhile, or a dangling link, is left out.
    const bool every = last == u"*" || last == u"*.*";
    while (struct dirent* e = readdir(d)) {
      const WCHAR* name = search->Stage(e->d_name);
      if ((every || Match(last.c_str(), name)) && posix::QueryAt(dirfd(d), nativeDir, e->d_name, info))
        search->Keep(info);
      else
        search->Drop();
    }
    closedir(d);
    if (search->entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
  }
  search->Sort();
  search->Fill(search->entries[search->order[0]], *data);
  search->next = 1;
  return posix::InsertHandle(search);
}

BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  auto search = posix::GetHandle<Search>(find);
  if (!search || !data) {
    SetLastError(search ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (search->next >= search->order.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  search->Fill(search->entries[search->order[search->next++]], *data);
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
