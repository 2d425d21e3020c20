// The entry heap and the library's load and unload work.
#include "heap.h"

namespace omrick {
namespace {

constexpr SIZE_T kInitialSize = 0x400000;  // 4 MiB, growable without limit

CRITICAL_SECTION g_heapLock;
HANDLE g_heap;

bool OnLoad() {
  InitializeCriticalSection(&g_heapLock);
  return true;
}

// Every entry and record lives in the heap, so they must all have been
// released by now: the heap goes with everything it still holds.
void OnUnload() {
  EnterCriticalSection(&g_heapLock);
  if (g_heap) HeapDestroy(g_heap);
  g_heap = nullptr;
  LeaveCriticalSection(&g_heapLock);
  DeleteCriticalSection(&g_heapLock);
}

}  // namespace

HANDLE EntryHeap() {
  EnterCriticalSection(&g_heapLock);
  if (!g_heap) g_heap = HeapCreate(0, kInitialSize, 0);
  HANDLE heap = g_heap;
  LeaveCriticalSection(&g_heapLock);
  return heap;
}

}  // namespace omrick

PLATFORM_LIBRARY_MAIN(omrick::OnLoad, omrick::OnUnload)
