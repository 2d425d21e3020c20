// What the file-system functions share inside Ferrow.
#pragma once

#include "path_internal.h"
#include "timed.h"

namespace ferrow {

// Copies a caller's path into a working buffer of N units. False for a NULL or
// empty path and for one that does not fit: a longer path is refused, never cut
// (a cut path would name another file).
template <size_t N>
bool CopyPath(WCHAR (&out)[N], const WCHAR* path) {
  return path && *path && plat::WCopy(out, N, path);
}

// The same, reading the caller's string under the fault guard.
template <size_t N>
bool CopyPathGuarded(WCHAR (&out)[N], const WCHAR* path) {
  bool ok = false;
  return plat::Guarded([&] { ok = CopyPath(out, path); }) && ok;
}

// True when the attributes are valid and name a directory.
inline bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Bytes as whole mebibytes (2^20 bytes), rounded down.
constexpr ULONGLONG ToMegabytes(ULONGLONG bytes) { return bytes >> 20; }

}  // namespace ferrow
