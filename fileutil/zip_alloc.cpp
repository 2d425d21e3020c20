// The two allocator functions callers hand to the compression functions.
#include "ferrow.h"

FERROW_API void* WINAPI FU_AllocVirtual(void* block, ULONG size) {
  if (!block && size) return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (block && !size) VirtualFree(block, 0, MEM_RELEASE);
  return nullptr;
}

FERROW_API void* WINAPI FU_AllocProcHeap(void* block, ULONG size) {
  if (!block && size) return HeapAlloc(GetProcessHeap(), 0, size);
  if (block && !size) HeapFree(GetProcessHeap(), 0, block);
  return nullptr;
}
