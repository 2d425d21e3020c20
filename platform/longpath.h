// Names the system accepts whatever their length. Windows refuses paths of
// MAX_PATH units or more unless they are full paths behind the \\?\ prefix;
// a file named beside another (a journal, a file written before it replaces
// its target) may need that form where the other's name did not.
#pragma once

#include "platform/win32.h"

namespace plat {

// `path` as it is when it is shorter than MAX_PATH; else its full form behind
// \\?\ (\\?\UNC\ for a network name). Empty when there is no memory or the
// full form cannot be had.
PLAT_API wstring LongPath(const WCHAR* path) noexcept;

}  // namespace plat
