// The allocator of codec objects, with its books: live blocks and calls, and a
// failure on request, so that tests can see that nothing is left behind.
#include <atomic>
#include <cstdlib>

#include "zelku.h"

namespace {
std::atomic<LONG> g_live{0};
std::atomic<LONG> g_calls{0};
std::atomic<LONG> g_failAt{0};  // the call number that fails; 0: none
}  // namespace

namespace zelk {

void* NewAlloc(unsigned int size) {
  const LONG call = ++g_calls;
  LONG failAt = g_failAt.load();
  if (failAt && call == failAt && g_failAt.compare_exchange_strong(failAt, 0)) return nullptr;
  void* block = std::malloc(size ? size : 1);
  if (block) ++g_live;
  return block;
}

void NewFree(void* block) {
  if (!block) return;
  --g_live;
  std::free(block);
}

}  // namespace zelk

ZELKU_API void WINAPI ZelkuFailAllocation(DWORD n) { g_failAt = n ? g_calls.load() + LONG(n) : 0; }
ZELKU_API LONG WINAPI ZelkuLiveBlocks(void) { return g_live.load(); }
ZELKU_API LONG WINAPI ZelkuAllocations(void) { return g_calls.load(); }
