// Find records and sizes: one system query each.
#include <cstring>

#include "fs_internal.h"

using namespace ferrow;

namespace {

// Looks the path up with one search, closed at once. The caller's string and
// record are touched first under the guard (its length read, the record
// cleared), so that the system call itself never meets a bad pointer: a fault
// inside a system call would leave the system's own state half-changed.
// Returns the attributes of the first entry, or INVALID_FILE_ATTRIBUTES.
DWORD FirstEntry(const WCHAR* path, WIN32_FIND_DATAW* record) {
  bool usable = false;
  if (!plat::Guarded([&] {
        if (!path || !*path || !record) return;
        volatile size_t length = plat::WLen(path);
        (void)length;
        std::memset(record, 0, sizeof *record);
        usable = true;
      }) ||
      !usable)
    return INVALID_FILE_ATTRIBUTES;
  WIN32_FIND_DATAW found;
  HANDLE search = timed::FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return INVALID_FILE_ATTRIBUTES;
  timed::FindClose(search);
  *record = found;
  return found.dwFileAttributes;
}

}  // namespace

FERROW_API BOOL WINAPI FU_GetFileInfo(const WCHAR* path, WIN32_FIND_DATAW* record) {
  DWORD attributes = FirstEntry(path, record);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A path too long for the working copy is refused before any search, and the
// record is left as it was, as for a NULL or empty path.
FERROW_API BOOL WINAPI FU_GetDirInfo(const WCHAR* path, WIN32_FIND_DATAW* record) {
  WCHAR copy[MAX_PATH];
  if (!CopyPathGuarded(copy, path)) return 0;
  FU_FormatPath(copy, 0);
  return IsDirectory(FirstEntry(copy, record));
}

FERROW_API BOOL WINAPI FU_GetFileSize(const WCHAR* path, ULARGE_INTEGER* size) {
  if (!path || !size) return 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!timed::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  // A directory answers with size 0 on every system.
  const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Written as two DWORDs, so that a pair of DWORDs aligned to 4 serves too.
  DWORD* halves = reinterpret_cast<DWORD*>(size);
  halves[0] = directory ? 0 : data.nFileSizeLow;
  halves[1] = directory ? 0 : data.nFileSizeHigh;
  return 1;
}
