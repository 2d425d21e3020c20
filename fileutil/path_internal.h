// What the path functions share inside Ferrow.
#pragma once

#include "ferrow.h"

namespace ferrow {

inline bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

// FU_ParsePath without the trip through the export table: guarded, and the
// record is all NULL when it returns false (unless the record itself could
// not be written).
bool ParsePath(const WCHAR* path, FU_PathParts& parts, int fileFlag);

}  // namespace ferrow
