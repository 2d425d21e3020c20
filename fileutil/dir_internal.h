// What the directory functions share inside Ferrow: the wildcard walk and the
// recursive directory walk behind FU_EnumDirectory.
#pragma once

#include "fs_internal.h"

namespace ferrow {

// The matcher behind FU_wildcard_icmp (ignoreCase) and FU_wildcard_cmp, without
// the guard: for strings the caller knows to be readable.
bool WildcardMatch(const WCHAR* pattern, const WCHAR* name, bool ignoreCase);

// Entry paths are built in one buffer of this many units; the pattern has MAX_PATH.
constexpr size_t kWalkPathUnits = 2 * MAX_PATH;

// One walk of FU_EnumDirectory. skipped counts the entries passed over because
// their path (or, for a directory, its search pattern) would not fit the
// working buffer: the callback never saw them, so a caller that must account
// for every entry (the deletions) treats them as failures.
struct WalkResult {
  bool started = false;    // the path and mask were accepted
  bool completed = false;  // ran to its end: no callback stopped it
  DWORD skipped = 0;
};
WalkResult Walk(FU_EnumCallback callback, const WCHAR* path, DWORD mask, DWORD flags, void* context);

}  // namespace ferrow
