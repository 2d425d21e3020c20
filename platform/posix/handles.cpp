#include "handles.h"

#include <mutex>
#include <unordered_map>

namespace posix {

namespace {
std::mutex g_mutex;
std::unordered_map<uintptr_t, std::shared_ptr<Object>> g_table;
uintptr_t g_next = 0x40;
}  // namespace

HANDLE InsertHandle(std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> lock(g_mutex);
  while (g_table.count(g_next)) g_next += 4;
  uintptr_t h = g_next;
  g_next += 4;
  if (g_next >= 0x7FFFFFF0u) g_next = 0x40;
  g_table.emplace(h, std::move(object));
  return reinterpret_cast<HANDLE>(h);
}

std::shared_ptr<Object> LookupHandle(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_table.find(reinterpret_cast<uintptr_t>(h));
  return it == g_table.end() ? nullptr : it->second;
}

std::shared_ptr<Object> RemoveHandle(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_table.find(reinterpret_cast<uintptr_t>(h));
  if (it == g_table.end()) return nullptr;
  std::shared_ptr<Object> object = std::move(it->second);
  g_table.erase(it);
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
