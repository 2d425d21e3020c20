// Virtual memory and heaps. Regions come from mmap with the Windows rules the
// suite relies on: reserve and commit, release of a whole region by its base,
// protections as PAGE_* values. Heap blocks carry their requested size, and a
// private heap frees everything it still holds when it is destroyed.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

#include "internal.h"

namespace {

size_t PageSize() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

int ToProt(DWORD protect) {
  switch (protect & 0xFF) {
    case PAGE_NOACCESS: return PROT_NONE;
    case PAGE_READONLY: return PROT_READ;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY: return PROT_READ | PROT_WRITE;
    case PAGE_EXECUTE: return PROT_EXEC;
    case PAGE_EXECUTE_READ: return PROT_READ | PROT_EXEC;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return -1;
  }
}

// The regions VirtualAlloc made, each with its pages' states kept as runs of
// pages in one state and protection (a region committed whole is one run).
struct Run {
  uintptr_t end;
  DWORD state;    // MEM_RESERVE or MEM_COMMIT
  DWORD protect;  // 0 for reserved pages
};
struct Region {
  size_t size;
  DWORD allocationProtect;
  std::map<uintptr_t, Run> runs;  // start -> run; the runs cover the region

  // Gives [start, end) one state, splitting and merging runs as needed.
  void Set(uintptr_t start, uintptr_t end, DWORD state, DWORD protect) {
    Split(start);
    Split(end);
    runs.erase(runs.lower_bound(start), runs.lower_bound(end));
    auto it = runs.emplace(start, Run{end, state, protect}).first;
    auto next = std::next(it);
    if (next != runs.end() && next->second.state == state && next->second.protect == protect) {
      it->second.end = next->second.end;
      runs.erase(next);
    }
    if (it != runs.begin()) {
      auto prev = std::prev(it);
      if (prev->second.state == state && prev->second.protect == protect) {
        prev->second.end = it->second.end;
        runs.erase(it);
      }
    }
  }
  // The run that holds `address`.
  std::map<uintptr_t, Run>::iterator At(uintptr_t address) { return std::prev(runs.upper_bound(address)); }

 private:
  void Split(uintptr_t at) {
    auto it = runs.upper_bound(at);
    if (it == runs.begin()) return;
    --it;
    if (it->first == at || it->second.end <= at) return;
    runs.emplace(at, Run{it->second.end, it->second.state, it->second.protect});
    it->second.end = at;
  }
};
std::mutex g_regionsMutex;
std::map<uintptr_t, Region> g_regions;

std::map<uintptr_t, Region>::iterator FindRegion(uintptr_t address) {
  auto it = g_regions.upper_bound(address);
  if (it == g_regions.begin()) return g_regions.end();
  --it;
  return address < it->first + it->second.size ? it : g_regions.end();
}

// ---- heaps ----
constexpr uint32_t kHeapMagic = 0x48504145;  // "EAPH"
struct Heap;
struct alignas(16) BlockHeader {
  size_t size;
  Heap* heap;
  BlockHeader* prev;
  BlockHeader* next;
  uint32_t magic;
};
struct Heap {
  std::mutex mutex;
  BlockHeader* blocks = nullptr;  // private heaps only: every live block
};
Heap g_processHeap;

BlockHeader* HeaderOf(LPCVOID block) {
  return const_cast<BlockHeader*>(static_cast<const BlockHeader*>(block) - 1);
}

}  // namespace

extern "C" {

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  int prot = ToProt(protect);
  if (size == 0 || prot < 0 || !(type & (MEM_COMMIT | MEM_RESERVE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const size_t page = PageSize();
  // Committing without an address reserves the region as well, as on Windows.
  if (!address && (type & MEM_COMMIT)) type |= MEM_RESERVE;
  std::lock_guard<std::mutex> lock(g_regionsMutex);
  if (!(type & MEM_RESERVE)) {
    // Commit pages of a region reserved before.
    uintptr_t start = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size + page - 1) & ~(page - 1);
    auto it = FindRegion(start);
    if (!address || it == g_regions.end() || end > it->first + it->second.size) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    if (mprotect(reinterpret_cast<void*>(start), end - start, prot) != 0) {
      posix::FailErrno();
      return nullptr;
    }
    it->second.Set(start, end, MEM_COMMIT, protect & 0xFF);
    return reinterpret_cast<void*>(start);
  }
  if (address) {  // reserving at a chosen address is not needed by the suite
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  size_t length = (size + page - 1) & ~(page - 1);
  void* base = mmap(nullptr, length, (type & MEM_COMMIT) ? prot : PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  uintptr_t start = reinterpret_cast<uintptr_t>(base);
  Region& r = g_regions[start];
  r.size = length;
  r.allocationProtect = protect & 0xFF;
  if (type & MEM_COMMIT)
    r.runs.emplace(start, Run{start + length, MEM_COMMIT, protect & 0xFF});
  else
    r.runs.emplace(start, Run{start + length, MEM_RESERVE, 0});
  return base;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  const size_t page = PageSize();
  std::lock_guard<std::mutex> lock(g_regionsMutex);
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  auto it = FindRegion(a);
  if (!address || it == g_regions.end()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  if (type == MEM_RELEASE) {
    if (size != 0 || a != it->first) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    munmap(address, it->second.size);
    g_regions.erase(it);
    return TRUE;
  }
  if (type == MEM_DECOMMIT) {
    uintptr_t start = a & ~(page - 1);
    uintptr_t end = size == 0 ? it->first + it->second.size : (a + size + page - 1) & ~(page - 1);
    if (end > it->first + it->second.size) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    mmap(reinterpret_cast<void*>(start), end - start, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    it->second.Set(start, end, MEM_RESERVE, 0);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

BOOL WINAPI VirtualProtect(LPVOID address, SIZE_T size, DWORD protect, LPDWORD oldProtect) {
  int prot = ToProt(protect);
  const size_t page = PageSize();
  uintptr_t start = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size + page - 1) & ~(page - 1);
  if (prot < 0 || !oldProtect || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  MEMORY_BASIC_INFORMATION info;
  if (!VirtualQuery(reinterpret_cast<void*>(start), &info, sizeof info) || info.State != MEM_COMMIT) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  if (mprotect(reinterpret_cast<void*>(start), end - start, prot) != 0) return posix::FailErrno();
  *oldProtect = info.Protect;
  std::lock_guard<std::mutex> lock(g_regionsMutex);
  auto it = FindRegion(start);
  if (it != g_regions.end()) it->second.Set(start, end, MEM_COMMIT, protect & 0xFF);
  return TRUE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
  if (!info || length < sizeof(MEMORY_BASIC_INFORMATION)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const size_t page = PageSize();
  uintptr_t a = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
  std::memset(info, 0, sizeof *info);
  {
    std::lock_guard<std::mutex> lock(g_regionsMutex);
    auto it = FindRegion(a);
    if (it != g_regions.end()) {
      // The run of pages in one state and protection that holds this page.
      auto run = it->second.At(a);
      const Region& r = it->second;
      uintptr_t end = run->second.end;
      info->BaseAddress = reinterpret_cast<void*>(a);
      info->AllocationBase = reinterpret_cast<void*>(it->first);
      info->AllocationProtect = r.allocationProtect;
      info->RegionSize = end - a;
      info->State = run->second.state;
      info->Protect = run->second.protect;
      info->Type = MEM_PRIVATE;
      return sizeof *info;
    }
  }
  // Anything else: the process's own map.
  return posix::QueryProcessMap(a, info) ? sizeof *info : 0;
}

HANDLE WINAPI GetProcessHeap(void) { return &g_processHeap; }

HANDLE WINAPI HeapCreate(DWORD, SIZE_T, SIZE_T) { return new (std::nothrow) Heap; }

BOOL WINAPI HeapDestroy(HANDLE heap) {
  Heap* h = static_cast<Heap*>(heap);
  if (!h || h == &g_processHeap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  for (BlockHeader* b = h->blocks; b;) {
    BlockHeader* next = b->next;
    b->magic = 0;
    std::free(b);
    b = next;
  }
  delete h;
  return TRUE;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  Heap* h = static_cast<Heap*>(heap);
  if (!h || bytes > SIZE_MAX - sizeof(BlockHeader)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* raw = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                         : std::malloc(sizeof(BlockHeader) + bytes);
  if (!raw) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  BlockHeader* b = static_cast<BlockHeader*>(raw);
  b->size = bytes;
  b->heap = h;
  b->magic = kHeapMagic;
  b->prev = nullptr;
  b->next = nullptr;
  if (h != &g_processHeap) {
    std::lock_guard<std::mutex> lock(h->mutex);
    b->next = h->blocks;
    if (h->blocks) h->blocks->prev = b;
    h->blocks = b;
  }
  return b + 1;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (!block) return TRUE;
  Heap* h = static_cast<Heap*>(heap);
  BlockHeader* b = HeaderOf(block);
  if (!h || b->magic != kHeapMagic || b->heap != h) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (h != &g_processHeap) {
    std::lock_guard<std::mutex> lock(h->mutex);
    if (b->prev) b->prev->next = b->next;
    else h->blocks = b->next;
    if (b->next) b->next->prev = b->prev;
  }
  b->magic = 0;
  std::free(b);
  return TRUE;
}

LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
  if (!block) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SIZE_T old = HeapSize(heap, 0, block);
  if (old == static_cast<SIZE_T>(-1)) return nullptr;
  void* fresh = HeapAlloc(heap, flags, bytes);
  if (!fresh) return nullptr;
  std::memcpy(fresh, block, old < bytes ? old : bytes);
  HeapFree(heap, 0, block);
  return fresh;
}

SIZE_T WINAPI HeapSize(HANDLE heap, DWORD, LPCVOID block) {
  BlockHeader* b = block ? HeaderOf(block) : nullptr;
  if (!b || b->magic != kHeapMagic || b->heap != heap) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return static_cast<SIZE_T>(-1);
  }
  return b->size;
}

}  // extern "C"
