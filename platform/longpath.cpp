#include "platform/longpath.h"

#include <new>

namespace plat {

wstring LongPath(const WCHAR* p) noexcept {
  try {
    const wstring path(p);
    if (path.size() < MAX_PATH) return path;
    auto sep = [](WCHAR c) { return c == '\\' || c == '/'; };
    if (sep(p[0]) && sep(p[1]) && (p[2] == '?' || p[2] == '.') && sep(p[3])) return path;  // already in that form
    const DWORD need = GetFullPathNameW(p, 0, nullptr, nullptr);
    if (need == 0) return wstring();
    wstring full(need, 0);
    const DWORD got = GetFullPathNameW(p, need, &full[0], nullptr);
    if (got == 0 || got >= need) return wstring();
    full.resize(got);
    // Behind the prefix the system takes the name as it stands: one separator.
    for (WCHAR& c : full)
      if (c == '/') c = '\\';
    if (full.size() > 2 && full[0] == '\\' && full[1] == '\\') return TEXT("\\\\?\\UNC\\") + full.substr(2);
    return TEXT("\\\\?\\") + full;
  } catch (const std::bad_alloc&) {
    return wstring();
  }
}

}  // namespace plat
