// Copying the chosen entries of a directory tree, file by file.
#include "fs_internal.h"

using namespace ferrow;

namespace {

constexpr size_t kPath = 520;
constexpr int kAttempts = 5;
constexpr DWORD kPauseMs = 500;

struct Walk {
  size_t sourceDirLength;  // the source's directory part, as the walk repeats it
  WCHAR* destination;      // the destination directory, ending in "/"
  size_t destinationLength;
  bool failed;
};

// A file another process holds may be free a moment later: try a few times.
bool CopyWithRetries(const WCHAR* source, WCHAR* destination) {
  for (int attempt = 1;; ++attempt) {
    if (FU_CopyFile(source, destination)) return true;
    if (attempt == kAttempts) return false;
    Sleep(kPauseMs);
  }
}

int WINAPI CopyEntry(const WIN32_FIND_DATAW* entry, const WCHAR* path, DWORD, void* context) {
  Walk& w = *static_cast<Walk*>(context);
  const bool directory = (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // The entry's place below the source directory, appended to the destination.
  // One that would not fit the buffer is not copied.
  const size_t length = plat::WLen(path);
  const bool fits = length >= w.sourceDirLength &&
                    plat::WCopy(w.destination + w.destinationLength, kPath - w.destinationLength,
                                path + w.sourceDirLength);
  bool ok = fits && (directory ? FU_TestDirExists(w.destination) || FU_CreatePath(w.destination)
                               : CopyWithRetries(path, w.destination));
  w.destination[w.destinationLength] = 0;
  if (ok) return 1;
  w.failed = true;
  // A directory that cannot be made stops the walk; a file is skipped.
  return directory ? 0 : 1;
}

// Both the name as given and its absolute form ("." and ".." resolved, the
// current directory put before a relative name), so that a spelling does not
// slip past the checks.
struct Forms {
  const WCHAR* given;
  WCHAR full[kPath];
  bool hasFull;
  explicit Forms(const WCHAR* path) : given(path) {
    DWORD n = GetFullPathNameW(path, kPath, full, nullptr);
    hasFull = n && n < kPath;
  }
};

bool SamePath(const Forms& a, const Forms& b) {
  return FU_PathCompare(a.given, b.given) == 0 || (a.hasFull && b.hasFull && FU_PathCompare(a.full, b.full) == 0);
}

bool Inside(const Forms& path, const Forms& container) {
  return FU_IsPathContained(path.given, container.given) ||
         (path.hasFull && container.hasFull && FU_IsPathContained(path.full, container.full));
}

}  // namespace

FERROW_API BOOL WINAPI FU_CopyDirectory(const WCHAR* sourcePattern, const WCHAR* destinationDir, DWORD flags,
                                        DWORD attributeMask) {
  WCHAR source[kPath], destination[kPath];
  if (!CopyPathGuarded(source, sourcePattern) || !CopyPathGuarded(destination, destinationDir)) return 0;
  FU_PathParts sourceParts, destinationParts;
  if (!ParsePath(source, sourceParts, 1) || !sourceParts.filename) return 0;
  if (!ParsePath(destination, destinationParts, 0)) return 0;
  // Room for the separator FU_FormatPath may add.
  if (plat::WLen(destination) + 1 >= kPath) return 0;
  FU_FormatPath(destination, '/');

  // The source's directory part, with its separator ("C:\a\"; empty for a bare pattern).
  const size_t sourceDirLength = static_cast<size_t>(sourceParts.filename - source);
  WCHAR sourceDir[kPath];
  for (size_t i = 0; i < sourceDirLength; ++i) sourceDir[i] = source[i];
  sourceDir[sourceDirLength] = 0;

  const Forms from(sourceDir), to(destination);
  if (SamePath(from, to)) return 1;
  // The walk would find the copy inside what it copies, level after level.
  if ((flags & FU_ENUM_RECURSIVE) && Inside(to, from)) return 0;
  if (!FU_TestDirExists(destination) && !FU_CreatePath(destination)) return 0;

  Walk w{sourceDirLength, destination, plat::WLen(destination), false};
  const BOOL ran = FU_EnumDirectory(CopyEntry, source, attributeMask, flags, &w);
  return ran && !w.failed;
}
