// Deleting what a walk finds: files (read-only ones too), and on request the
// directories, each after its contents, and the directory itself.
#include "dir_internal.h"

using namespace ferrow;

namespace {

struct Deletion {
  bool removeDirectories;
  bool failed;
};

// Clears read-only, hidden and system first, since any of them stops the deletion.
bool DeleteOneFile(const WCHAR* path, DWORD attributes) {
  bool ok = true;
  if (attributes != FILE_ATTRIBUTE_NORMAL && !timed::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) ok = false;
  if (!timed::DeleteFileW(path)) ok = false;
  return ok;
}

// Never stops the walk: a failure is remembered and the next entry is tried.
int WINAPI DeleteEntry(const WIN32_FIND_DATAW* entry, const WCHAR* path, DWORD, void* context) {
  auto* deletion = static_cast<Deletion*>(context);
  if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (deletion->removeDirectories && !timed::RemoveDirectoryW(path)) deletion->failed = true;
  } else if (!DeleteOneFile(path, entry->dwFileAttributes)) {
    deletion->failed = true;
  }
  return 1;
}

// Runs the deleting walk; true when it ran to its end and everything it met
// went. Entries the walk had to pass over (paths too long for it) were not
// deleted, so they count as failures.
bool DeleteWalk(const WCHAR* path, DWORD flags, bool removeDirectories) {
  Deletion deletion = {removeDirectories, false};
  WalkResult walk = Walk(DeleteEntry, path, 0, flags | FU_ENUM_EXCLUDE_ATTRIBUTES, &deletion);
  if (walk.skipped && !deletion.failed) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return walk.started && walk.completed && !deletion.failed && walk.skipped == 0;
}

// A root: nothing, "\" alone, a bare drive (what "C:\" becomes without its
// separator), a bare host or a share. A path that does not parse counts too:
// what it names is unclear, so it is left alone.
bool IsRoot(const WCHAR* dir) {
  if (!dir[0] || (IsSeparator(dir[0]) && !dir[1])) return true;
  FU_PathParts parts;
  if (!ParsePath(dir, parts, 0) || !parts.localInfo) return true;
  return parts.host && !parts.protocol && !FU_FindNextSlash(parts.localInfo + 1);
}

// The directory itself is removed unless it is a root or ".". A bare drive
// names that drive's current directory: removing it would remove some other
// directory than the caller named.
bool Removable(const WCHAR* dir) { return !IsRoot(dir) && !(dir[0] == '.' && !dir[1]); }

// The parent to step into when the current directory lies inside `dir`: dir
// cut at its last separator, keeping that separator when only a root would be
// left ("C:\", "\"), since a bare "C:" names the current directory again.
bool ParentOf(const WCHAR* dir, WCHAR (&parent)[kWalkPathUnits]) {
  if (!plat::WCopy(parent, kWalkPathUnits, dir)) return false;
  WCHAR* sep = FU_FindLastSeparator(parent);
  if (!sep) return false;
  if (*sep != ':') {
    *sep = 0;
    if (!IsRoot(parent)) return true;
    *sep = '\\';
  }
  sep[1] = 0;
  return true;
}

// Moves the current directory out of `dir` when it lies inside it, so that
// dir can be removed. A name that merely begins like dir ("C:\tmpx" for
// "C:\tmp") does not lie inside it.
void LeaveDirectory(const WCHAR* dir) {
  WCHAR current[kWalkPathUnits];
  DWORD length = GetCurrentDirectoryW(kWalkPathUnits, current);
  if (length == 0 || length >= kWalkPathUnits) return;
  FU_FormatPath(current, 0);
  const size_t dirLength = plat::WLen(dir);
  if (!FU_IsPathContained(current, dir)) return;
  if (current[dirLength] && !IsSeparator(current[dirLength])) return;
  WCHAR parent[kWalkPathUnits];
  if (ParentOf(dir, parent)) SetCurrentDirectoryW(parent);
}

}  // namespace

FERROW_API BOOL WINAPI FU_DeleteDirectory(const WCHAR* path, int recursive, int removeDirectories) {
  WCHAR copy[kWalkPathUnits];
  FU_PathParts parts;
  if (!CopyPathGuarded(copy, path) || !ParsePath(copy, parts, 1) || !parts.filename) return 0;
  if (removeDirectories) {
    static const WCHAR kAll[] = {'*', '.', '*', 0}, kStar[] = {'*', 0};
    if (plat::WCmp(parts.filename, kAll) != 0 && plat::WCmp(parts.filename, kStar) != 0) return 0;
  }
  // The directory itself: the path up to its last separator, without it.
  WCHAR dir[kWalkPathUnits];
  plat::WCopy(dir, kWalkPathUnits, copy);
  const WCHAR* sep = FU_FindLastSeparatorC(copy);
  dir[sep ? sep - copy + 1 : 0] = 0;
  FU_FormatPath(dir, 0);
  const bool removeSelf = removeDirectories && Removable(dir);
  if (removeSelf) LeaveDirectory(dir);

  const DWORD flags = FU_ENUM_DIRS_LAST | (recursive ? FU_ENUM_RECURSIVE : 0);
  if (!DeleteWalk(copy, flags, removeDirectories != 0)) return 0;
  if (!removeSelf) return 1;
  timed::SetFileAttributesW(dir, FILE_ATTRIBUTE_NORMAL);
  return timed::RemoveDirectoryW(dir) ? 1 : 0;
}

FERROW_API BOOL WINAPI FU_DeleteFiles(const WCHAR* path) {
  WCHAR copy[kWalkPathUnits];
  FU_PathParts parts;
  if (!CopyPathGuarded(copy, path) || !ParsePath(copy, parts, 1) || !parts.filename) return 0;
  return DeleteWalk(copy, 0, false) ? 1 : 0;
}
