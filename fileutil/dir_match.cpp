// The first match of a path with pattern, by the system's own wildcard rules.
#include <algorithm>

#include "dir_internal.h"

using namespace ferrow;

namespace {

// Finds the first entry whose name does not begin with "." and writes its name
// over the pattern in the caller's buffer. The buffer is taken to hold at least
// MAX_PATH units, or the path as given when that is longer: a name that would
// end beyond both is refused and the buffer stays as it was.
bool FirstMatch(WCHAR* path, WIN32_FIND_DATAW& found) {
  FU_PathParts parts;
  if (!ParsePath(path, parts, 1) || !parts.filename) return false;  // also reads the whole string, guarded
  HANDLE search = timed::FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  while (found.cFileName[0] == '.') {
    if (!timed::FindNextFileW(search, &found)) {
      timed::FindClose(search);
      return false;
    }
  }
  size_t name = 0;
  while (name < MAX_PATH && found.cFileName[name]) ++name;
  const size_t offset = static_cast<size_t>(parts.filename - path);
  const size_t room = std::max<size_t>(MAX_PATH, offset + plat::WLen(parts.filename) + 1);
  bool written = false;
  if (name < MAX_PATH && offset + name + 1 <= room) {
    written = plat::Guarded([&] {
      for (size_t i = 0; i <= name; ++i) parts.filename[i] = found.cFileName[i];
    });
  }
  timed::FindClose(search);
  return written;
}

}  // namespace

FERROW_API BOOL WINAPI FU_GetFirstMatch(WCHAR* path, FILETIME* lastWrite, DWORD* attributes) {
  WIN32_FIND_DATAW found;
  if (!FirstMatch(path, found)) return 0;
  if (lastWrite) *lastWrite = found.ftLastWriteTime;
  if (attributes) *attributes = found.dwFileAttributes;
  return 1;
}

FERROW_API BOOL WINAPI FU_GetFirstMatchInfo(WCHAR* path, WIN32_FIND_DATAW* record) {
  if (!record) return 0;
  WIN32_FIND_DATAW found;
  if (!FirstMatch(path, found)) return 0;
  *record = found;
  return 1;
}
