#include "handles.h"

#include <mutex>
#include <unordered_map>

namespace posix {

namespace {

// The table outlives every library's unload work, as the kernel's handles
// outlive DLL detach on Windows: it is never destroyed. (A library loaded at
// run time unloads after the exit handlers of the libraries it brought in,
// among them the destructors of their statics.)
struct Table {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
  uintptr_t next = 0x40;
};
Table& Handles() {
  static Table* table = new Table;
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<Object> object) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  while (t.objects.count(t.next)) t.next += 4;
  uintptr_t h = t.next;
  t.next += 4;
  if (t.next >= 0x7FFFFFF0u) t.next = 0x40;
  t.objects.emplace(h, std::move(object));
  return reinterpret_cast<HANDLE>(h);
}

std::shared_ptr<Object> LookupHandle(HANDLE h) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<Object> RemoveHandle(HANDLE h) {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  if (it == t.objects.end()) return nullptr;
  std::shared_ptr<Object> object = std::move(it->second);
  t.objects.erase(it);
  return object;
}

}  // namespace posix

extern "C" BOOL WINAPI CloseHandle(HANDLE h) {
  if (!posix::RemoveHandle(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
