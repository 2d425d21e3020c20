// Creating an empty file together with its missing directories.
#include "fs_internal.h"

using namespace ferrow;

namespace {

bool CreateEmpty(const WCHAR* path) {
  HANDLE file = timed::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  timed::CloseHandle(file);
  return true;
}

}  // namespace

FERROW_API BOOL WINAPI FU_CreateDirectoryEntry(const WCHAR* path) {
  if (!path) return 0;
  if (CreateEmpty(path)) return 1;
  // Only a missing directory is mended; any other cause of the failure stays.
  WCHAR dir[MAX_PATH];
  if (!CopyPathGuarded(dir, path)) return 0;
  WCHAR* name = FU_FindFilename(dir);
  if (!name) return 0;
  *name = 0;
  if (FU_TestDirExists(dir) || !FU_CreatePath(dir)) return 0;
  return CreateEmpty(path) ? 1 : 0;
}
