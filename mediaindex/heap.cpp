// The entry heap and the library's load and unload work.
#include "heap.h"

#include <atomic>

namespace omrick {
namespace {

constexpr SIZE_T kInitialSize = 0x400000;  // 4 MiB, growable without limit

CRITICAL_SECTION g_heapLock;
std::atomic<HANDLE> g_heap{nullptr};  // made on first use; read without the lock once it is there

bool OnLoad() {
  InitializeCriticalSection(&g_heapLock);
  return true;
}

// Every entry and record lives in the heap, so they must all have been
// released by now: the heap goes with everything it still holds.
void OnUnload() {
  EnterCriticalSection(&g_heapLock);
  if (HANDLE heap = g_heap.exchange(nullptr)) HeapDestroy(heap);
  LeaveCriticalSection(&g_heapLock);
  DeleteCriticalSection(&g_heapLock);
}

}  // namespace

HANDLE EntryHeap() {
  HANDLE heap = g_heap.load(std::memory_order_acquire);
  if (heap) return heap;
  EnterCriticalSection(&g_heapLock);
  heap = g_heap.load(std::memory_order_relaxed);
  if (!heap) {
    heap = HeapCreate(0, kInitialSize, 0);
    g_heap.store(heap, std::memory_order_release);
  }
  LeaveCriticalSection(&g_heapLock);
  return heap;
}

}  // namespace omrick

PLATFORM_LIBRARY_MAIN(omrick::OnLoad, omrick::OnUnload)
