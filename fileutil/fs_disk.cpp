// Disk space and drive types.
#include "fs_internal.h"

using namespace ferrow;

namespace {

enum class Space { kAvailable, kTotalAvailable, kFree };

// Asks for the volume that holds the path, its trailing separator dropped.
// 0 on failure (also for a path too long for the copy).
ULONGLONG DiskSpace(const WCHAR* path, Space which) {
  WCHAR copy[MAX_PATH];
  if (!CopyPathGuarded(copy, path)) return 0;
  FU_FormatPath(copy, 0);
  ULARGE_INTEGER available, total, free;
  if (!timed::GetDiskFreeSpaceExW(copy, &available, &total, &free)) return 0;
  switch (which) {
    case Space::kAvailable: return available.QuadPart;
    case Space::kTotalAvailable: return total.QuadPart;
    default: return free.QuadPart;
  }
}

}  // namespace

FERROW_API ULONGLONG WINAPI FU_GetDiskAvailable(const WCHAR* path) { return DiskSpace(path, Space::kAvailable); }

FERROW_API ULONGLONG WINAPI FU_GetDiskTotalAvailable(const WCHAR* path) {
  return DiskSpace(path, Space::kTotalAvailable);
}

FERROW_API ULONGLONG WINAPI FU_GetDiskFree(const WCHAR* path) { return DiskSpace(path, Space::kFree); }

FERROW_API ULONGLONG WINAPI FU_GetDiskFreeMB(const WCHAR* path) { return ToMegabytes(FU_GetDiskFree(path)); }

FERROW_API UINT WINAPI FU_GetDriveType(const WCHAR* path) {
  WCHAR copy[MAX_PATH];
  if (!CopyPathGuarded(copy, path)) return 0;
  FU_FormatPath(copy, 0);
  FU_PathParts parts;
  if (!ParsePath(copy, parts, 0)) return 0;
  if (parts.host) return DRIVE_REMOTE;
  if (!parts.protocol) return 0;
  // The root of the drive: "C:\" (or "\\?\C:\").
  WCHAR* root = parts.protocolEnd;
  if (root + 2 > copy + MAX_PATH) return 0;
  root[0] = '\\';
  root[1] = 0;
  UINT type = GetDriveTypeW(copy);
  // No root directory: a network drive that is not connected.
  return type == DRIVE_NO_ROOT_DIR ? DRIVE_REMOTE : type;
}
