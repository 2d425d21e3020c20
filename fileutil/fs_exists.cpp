// Existence tests: one attribute query each.
#include "fs_internal.h"

using namespace ferrow;

FERROW_API BOOL WINAPI FU_TestFileExists(const WCHAR* path) {
  if (!path || !*path) return 0;
  return timed::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

FERROW_API BOOL WINAPI FU_TestDirExists(const WCHAR* path) {
  WCHAR copy[MAX_PATH];
  if (!CopyPathGuarded(copy, path)) return 0;
  FU_FormatPath(copy, 0);
  return IsDirectory(timed::GetFileAttributesW(copy));
}

// For a drive path the root is the bare drive ("C:"), which the system answers
// with the drive's current directory; a bare host (\\server) has no attributes.
FERROW_API BOOL WINAPI FU_TestDriveExists(const WCHAR* path) {
  WCHAR copy[MAX_PATH];
  if (!CopyPathGuarded(copy, path)) return 0;
  if (!FU_StripToRootPathName(copy, 0)) return 0;
  return IsDirectory(timed::GetFileAttributesW(copy));
}
