// Comparing paths: without regard to case, "\" and "/" alike, and nothing
// more. A trailing separator, "." and ".." components, blanks or a drive
// against its network name all make paths different; callers rely on that
// being cheap and predictable.
#include "path_internal.h"

namespace {

inline int Folded(WCHAR c) { return plat::WUpper(c == '\\' ? WCHAR('/') : c); }

}  // namespace

FERROW_API int WINAPI FU_PathCompare(const WCHAR* a, const WCHAR* b) {
  if (a == b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  if (!*a) return -static_cast<int>(*b);
  for (; *a && *b; ++a, ++b) {
    if (*a == *b) continue;  // the common case needs no folding
    const int ca = Folded(*a);
    const int cb = Folded(*b);
    if (ca != cb) return ca - cb;
  }
  // One of them ended: the difference of the characters as they stand.
  return static_cast<int>(*a) - static_cast<int>(*b);
}

FERROW_API BOOL WINAPI FU_IsPathContained(const WCHAR* path, const WCHAR* container) {
  if (path == container) return 1;
  if (!path || !container) return 0;
  for (; *container; ++path, ++container) {
    if (!*path) return 0;
    if (Folded(*path) != Folded(*container)) return 0;
  }
  return 1;
}
