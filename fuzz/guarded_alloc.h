// The allocator function the fuzz targets hand to Ferrow: guard bytes on both
// sides of each block, checked when it comes back; every live block on the
// books; refusals on request (g_allowed) so that every way out is taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "ferrow.h"

namespace fuzz {

constexpr ULONG kLargest = 8u << 20;  // larger blocks are refused, as a host's allocator would
constexpr size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xB7;

inline std::map<void*, ULONG> g_live;
inline size_t g_allowed = SIZE_MAX;  // allocations still granted
inline size_t g_made = 0;            // allocations granted so far

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz target: %s\n", what);
  std::abort();
}

inline bool Intact(const unsigned char* raw, ULONG size) {
  for (size_t i = 0; i < kGuard; ++i)
    if (raw[i] != kGuardByte || raw[kGuard + size + i] != kGuardByte) return false;
  return true;
}

inline void* WINAPI Alloc(void* block, ULONG size) {
  if (!block && size) {
    if (size > kLargest || g_allowed == 0) return nullptr;
    auto* raw = static_cast<unsigned char*>(std::malloc(size + 2 * kGuard));
    if (!raw) return nullptr;
    if (g_allowed != SIZE_MAX) --g_allowed;
    ++g_made;
    std::memset(raw, kGuardByte, size + 2 * kGuard);
    g_live[raw + kGuard] = size;
    return raw + kGuard;
  }
  if (block && !size) {
    auto it = g_live.find(block);
    if (it == g_live.end()) Fail("freed a block it was not given");
    unsigned char* raw = static_cast<unsigned char*>(block) - kGuard;
    if (!Intact(raw, it->second)) Fail("wrote outside a block");
    g_live.erase(it);
    std::free(raw);
  }
  return nullptr;
}

}  // namespace fuzz
