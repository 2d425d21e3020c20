// File times.
#include "fs_internal.h"

using namespace ferrow;

FERROW_API BOOL WINAPI FU_GetLastModifyTime(const WCHAR* path, FILETIME* time) {
  if (!path || !time) return 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!timed::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
  *time = data.ftLastWriteTime;
  return 1;
}
