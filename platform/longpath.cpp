#include "platform/longpath.h"

namespace plat {

LongPath::LongPath(const WCHAR* p) noexcept {
  short_[0] = 0;
  if (!p || !*p) return;
  if (WCopy(short_, MAX_PATH, p)) return;
  short_[0] = 0;
  auto sep = [](WCHAR c) { return c == '\\' || c == '/'; };
  const WCHAR* prefix = TEXT("\\\\?\\");
  const WCHAR* from = p;
  if (sep(p[0]) && sep(p[1]) && (p[2] == '?' || p[2] == '.') && sep(p[3])) {
    prefix = TEXT("");  // already in that form
  } else {
    const DWORD need = GetFullPathNameW(p, 0, nullptr, nullptr);
    if (need == 0) return;
    long_ = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (need + 8) * sizeof(WCHAR)));
    if (!long_) return;
    const DWORD got = GetFullPathNameW(p, need, long_ + 8, nullptr);
    if (got == 0 || got >= need) {
      HeapFree(GetProcessHeap(), 0, long_);
      long_ = nullptr;
      return;
    }
    from = long_ + 8;
    // Behind the prefix the system takes the name as it stands: one separator.
    for (WCHAR* c = long_ + 8; *c; ++c)
      if (*c == '/') *c = '\\';
    if (from[0] == '\\' && from[1] == '\\') {
      prefix = TEXT("\\\\?\\UNC\\");
      from += 2;
    }
  }
  const size_t n = WLen(prefix), rest = WLen(from);
  WCHAR* out = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (n + rest + 1) * sizeof(WCHAR)));
  if (out) {
    for (size_t i = 0; i < n; ++i) out[i] = prefix[i];
    for (size_t i = 0; i <= rest; ++i) out[n + i] = from[i];
  }
  if (long_) HeapFree(GetProcessHeap(), 0, long_);
  long_ = out;
}

LongPath::~LongPath() {
  if (long_) HeapFree(GetProcessHeap(), 0, long_);
}

}  // namespace plat
