// The directory walk: FU_EnumDirectory and the counting built on it.
#include "dir_internal.h"

namespace ferrow {

namespace {

// One system search, closed on every way out of the walk of its directory,
// also when a callback stops the walk or throws through it.
class Search {
 public:
  Search(const WCHAR* pattern, WIN32_FIND_DATAW& entry) : handle_(timed::FindFirstFileW(pattern, &entry)) {}
  ~Search() {
    if (open()) timed::FindClose(handle_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAW& entry) { return timed::FindNextFileW(handle_, &entry) != 0; }

 private:
  HANDLE handle_;
};

// The length of a find record's name, or MAX_PATH when it is not terminated.
size_t NameLength(const WIN32_FIND_DATAW& entry) {
  size_t n = 0;
  while (n < MAX_PATH && entry.cFileName[n]) ++n;
  return n;
}

class Walker {
 public:
  Walker(FU_EnumCallback callback, DWORD mask, DWORD flags, void* context)
      : callback_(callback), mask_(mask), flags_(flags), context_(context) {}

  WCHAR path[kWalkPathUnits];
  WCHAR pattern[MAX_PATH];
  DWORD skipped = 0;

  // Walks the directory whose part (empty, or ending in its separator) fills
  // path[0, length). False when a callback stopped the walk.
  bool WalkDirectory(size_t length) {
    static const WCHAR kEverything[] = {'*', '.', '*', 0};
    if (length + 4 > kWalkPathUnits) {  // no room for the search pattern
      ++skipped;
      return true;
    }
    plat::WCopy(path + length, kWalkPathUnits - length, kEverything);
    WIN32_FIND_DATAW entry;
    Search search(path, entry);
    path[length] = 0;
    if (!search.open()) return true;  // missing or unreadable: nothing to report
    do {
      if (entry.cFileName[0] == '.') continue;  // ".", ".." and every hidden-by-dot name
      const size_t n = NameLength(entry);
      // An entry whose full path would not fit the buffer is passed over (and
      // counted), never cut: a cut path would name another entry.
      if (length + n + 1 > kWalkPathUnits) {
        ++skipped;
        continue;
      }
      for (size_t i = 0; i < n; ++i) path[length + i] = entry.cFileName[i];
      path[length + n] = 0;
      const bool chosen = Chosen(entry.dwFileAttributes) && WildcardMatch(pattern, path + length, true);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (chosen && !(flags_ & FU_ENUM_DIRS_LAST) && !Report(entry)) return false;
        if (flags_ & FU_ENUM_RECURSIVE) {
          if (length + n + 1 + 4 > kWalkPathUnits) {
            ++skipped;  // no room for "/*.*" behind it: its contents are passed over
          } else {
            path[length + n] = '/';
            path[length + n + 1] = 0;
            const bool go = WalkDirectory(length + n + 1);
            path[length + n] = 0;  // the directory's own path again
            if (!go) return false;
          }
        }
        if (chosen && (flags_ & FU_ENUM_DIRS_LAST) && !Report(entry)) return false;
      } else if (chosen && !Report(entry)) {
        return false;
      }
    } while (search.Next(entry));
    return true;
  }

 private:
  bool Chosen(DWORD attributes) const {
    const bool shared = (attributes & mask_) != 0;
    return (flags_ & FU_ENUM_EXCLUDE_ATTRIBUTES) ? !shared : shared;
  }
  bool Report(const WIN32_FIND_DATAW& entry) { return callback_(&entry, path, mask_, context_) != 0; }

  FU_EnumCallback callback_;
  DWORD mask_;
  DWORD flags_;
  void* context_;
};

}  // namespace

WalkResult Walk(FU_EnumCallback callback, const WCHAR* path, DWORD mask, DWORD flags, void* context) {
  WalkResult result;
  const bool exclude = (flags & FU_ENUM_EXCLUDE_ATTRIBUTES) != 0;
  if (!callback || (!exclude && mask == 0) || (exclude && mask == 0xFFFFFFFFu)) return result;
  Walker walker(callback, mask, flags, context);
  FU_PathParts parts;
  if (!CopyPathGuarded(walker.path, path) || !ParsePath(walker.path, parts, 1) || !parts.filename) return result;
  if (!plat::WCopy(walker.pattern, MAX_PATH, parts.filename)) return result;
  // The directory part runs to the last separator (or drive colon), inclusive.
  const WCHAR* cut = FU_FindLastSeparatorC(walker.path);
  const size_t length = cut ? static_cast<size_t>(cut - walker.path) + 1 : 0;
  walker.path[length] = 0;
  result.started = true;
  result.completed = walker.WalkDirectory(length);
  result.skipped = walker.skipped;
  return result;
}

}  // namespace ferrow

using namespace ferrow;

FERROW_API BOOL WINAPI FU_EnumDirectory(FU_EnumCallback callback, const WCHAR* path, DWORD mask, DWORD flags,
                                        void* context) {
  WalkResult walk = Walk(callback, path, mask, flags, context);
  return walk.started && walk.completed ? 1 : 0;
}

namespace {

int WINAPI Count(const WIN32_FIND_DATAW* entry, const WCHAR*, DWORD, void* context) {
  auto* totals = static_cast<FU_ScanTotals*>(context);
  if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ++totals->dirCount;
  } else {
    ++totals->fileCount;
    totals->totalBytes += (static_cast<ULONGLONG>(entry->nFileSizeHigh) << 32) | entry->nFileSizeLow;
  }
  return 1;
}

}  // namespace

FERROW_API BOOL WINAPI FU_ScanDir(const WCHAR* path, FU_ScanTotals* totals, DWORD mask, DWORD flags) {
  const bool exclude = (flags & FU_ENUM_EXCLUDE_ATTRIBUTES) != 0;
  if (!path || !totals || (!exclude && mask == 0) || (exclude && mask == 0xFFFFFFFFu)) return 0;
  *totals = FU_ScanTotals{};
  // Counted on the stack, stored at the end.
  FU_ScanTotals counted = {};
  BOOL result = FU_EnumDirectory(Count, path, mask, flags, &counted);
  *totals = counted;
  return result;
}
