// Names the system accepts whatever their length. Windows refuses paths of
// MAX_PATH units or more unless they are full paths behind the \\?\ prefix;
// a file named beside another (a journal, a file written before it replaces
// its target) may need that form where the other's name did not.
#pragma once

#include "platform/win32.h"

namespace plat {

// A path as it is when it is shorter than MAX_PATH; else its full form behind
// \\?\ (\\?\UNC\ for a network name). get() is null when there is no memory
// for that form or it cannot be had. No standard string is involved, so that
// no library exports one.
class PLAT_API LongPath {
 public:
  explicit LongPath(const WCHAR* path) noexcept;
  ~LongPath();
  LongPath(const LongPath&) = delete;
  LongPath& operator=(const LongPath&) = delete;

  const WCHAR* get() const { return long_ ? long_ : short_[0] ? short_ : nullptr; }

 private:
  WCHAR short_[MAX_PATH];
  WCHAR* long_ = nullptr;
};

}  // namespace plat
