// Creating directory chains.
#include "fs_internal.h"

using namespace ferrow;

namespace {

// Creates the directory when it is missing; true when it exists afterwards. A
// directory that another process creates between the test and the creation
// counts as a failure, as the creation itself reports it.
bool Ensure(const WCHAR* dir) { return FU_TestDirExists(dir) || timed::CreateDirectoryW(dir, nullptr); }

}  // namespace

// Creates every missing directory of an absolute path, parents first.
FERROW_API BOOL WINAPI FU_CreatePath(const WCHAR* path) {
  WCHAR copy[MAX_PATH];
  if (!CopyPath(copy, path)) return 0;
  FU_FormatPath(copy, 0);
  FU_PathParts parts;
  if (!ParsePath(copy, parts, 0)) return 0;
  // Local information must be rooted and name more than the root: not a
  // relative path, not a bare drive.
  if (!parts.localInfo || !IsSeparator(parts.localInfo[0]) || parts.localInfoEnd - parts.localInfo < 2) return 0;
  WCHAR* sep = FU_FindNextSlash(parts.localInfo + 1);
  // On a UNC path the first level is the share, which must have a directory below it.
  if (parts.host && !parts.protocol && !sep) return 0;
  for (; sep; sep = FU_FindNextSlash(sep + 1)) {
    WCHAR kept = *sep;
    *sep = 0;
    bool ok = Ensure(copy);
    *sep = kept;
    if (!ok) return 0;
  }
  return Ensure(copy);
}
