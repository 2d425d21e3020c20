// The two wildcard matchers. They walk pattern and name once, side by side:
// a "*" takes the first occurrence of the character behind it and never looks
// back, so the cost is linear and the results are what callers have long seen.
#include "dir_internal.h"

namespace ferrow {

namespace {

inline bool Same(WCHAR a, WCHAR b, bool ignoreCase) {
  return ignoreCase ? plat::WUpper(a) == plat::WUpper(b) : a == b;
}

// True when `rest` (not empty) occurs within the text ".*": ".", "*" or ".*".
// A name that ended while a "*" looked for such a rest matches anyway, so that
// "*.*" and "*." take names without a dot.
bool WithinDotStar(const WCHAR* rest) {
  if (rest[0] == '.') return !rest[1] || (rest[1] == '*' && !rest[2]);
  return rest[0] == '*' && !rest[1];
}

}  // namespace

bool WildcardMatch(const WCHAR* p, const WCHAR* n, bool ignoreCase) {
  if (!p || !n) return false;
  for (;;) {
    if (!*p) return !*n;
    if (*p == '?') {
      if (!*n) return false;
      ++p, ++n;
    } else if (*p == '*') {
      const WCHAR want = p[1];
      if (!want) return true;  // a final "*" takes the rest, also an empty one
      while (*n && !Same(*n, want, ignoreCase)) ++n;
      if (!*n) return ignoreCase && WithinDotStar(p + 1);
      p += 2, ++n;  // the character behind "*" is literal, even "*" or "?"
    } else {
      if (!Same(*p, *n, ignoreCase)) return false;  // also when the name has ended
      ++p, ++n;
    }
  }
}

}  // namespace ferrow

namespace {

BOOL GuardedMatch(const WCHAR* pattern, const WCHAR* name, bool ignoreCase) {
  bool match = false;
  if (!plat::Guarded([&] { match = ferrow::WildcardMatch(pattern, name, ignoreCase); })) return 0;
  return match ? 1 : 0;
}

}  // namespace

FERROW_API BOOL WINAPI FU_wildcard_icmp(const WCHAR* pattern, const WCHAR* name) {
  return GuardedMatch(pattern, name, true);
}

FERROW_API BOOL WINAPI FU_wildcard_cmp(const WCHAR* pattern, const WCHAR* name) {
  return GuardedMatch(pattern, name, false);
}
