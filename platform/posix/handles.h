// The handle table: a HANDLE names a kernel object of this process (an open
// file, a search, a child process). Handles are small multiples of four, as on
// Windows, never null and never INVALID_HANDLE_VALUE.
#pragma once

#include <memory>

#include "../win32.h"

namespace posix {

struct Object {
  virtual ~Object() = default;
};

HANDLE InsertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> LookupHandle(HANDLE h);
// Takes the handle out of the table; the object goes when its last user lets go.
std::shared_ptr<Object> RemoveHandle(HANDLE h);

template <class T>
std::shared_ptr<T> GetHandle(HANDLE h) {
  return std::dynamic_pointer_cast<T>(LookupHandle(h));
}

}  // namespace posix
