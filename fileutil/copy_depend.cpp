// Whether a derived file must be made again from its source, by last-write times.
#include "fs_internal.h"

namespace {

ULONGLONG Count(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace

// A source from the future gives 0 (it cannot be trusted to be newer), a target
// from the future gives 1 (it cannot be trusted to be up to date).
FERROW_API BOOL WINAPI FU_TestDependencyUpdate(const WCHAR* source, const WCHAR* target) {
  if (!source || !target) return 0;
  FILETIME sourceTime, targetTime, nowTime;
  if (!FU_GetLastModifyTime(source, &sourceTime)) return 0;
  if (!FU_GetLastModifyTime(target, &targetTime)) return 1;
  GetSystemTimeAsFileTime(&nowTime);
  const ULONGLONG now = Count(nowTime);
  if (Count(sourceTime) > now) return 0;
  if (Count(targetTime) > now) return 1;
  return Count(targetTime) < Count(sourceTime);
}
