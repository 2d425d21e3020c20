// Virtual memory and heaps. Regions come from mmap with the Windows rules the
// suite relies on: reserve and commit, release of a whole region by its base,
// protections as PAGE_* values. Heap blocks carry their requested size, and a
// private heap frees everything it still holds when it is destroyed.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sched.h>
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
// A heap block is a 16-byte header (its size, and its heap mixed with a magic
// number) followed by the caller's bytes. Small blocks come in classes of 16
// bytes, carved from 1 MiB arenas and kept on a free list of their class when
// freed, with no system allocation and no list work per block; larger ones
// come from malloc, linked so that a private heap can free them when it is
// destroyed. A heap's lock is a spin lock, held for a few instructions.
// Under AddressSanitizer every block comes from malloc, so that the
// sanitizer sees each one.
constexpr uintptr_t kHeapMagic = 0x48504145;  // "EAPH"
constexpr size_t kGrain = 16;
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kSmallMax = 0;
#else
constexpr size_t kSmallMax = 512;
#endif
constexpr size_t kClasses = kSmallMax / kGrain + 1;
constexpr size_t kArenaBytes = size_t(1) << 20;

struct Heap;
struct alignas(16) BlockHeader {
  size_t size;
  uintptr_t owner;  // the heap ^ kHeapMagic while the block is live, else 0
};
struct LargeLink {  // before the header of a large block
  LargeLink* prev;
  LargeLink* next;
};
static_assert(sizeof(BlockHeader) == 16 && sizeof(LargeLink) <= 16, "headers keep blocks 16-aligned");
struct FreeBlock {
  FreeBlock* next;
};

class SpinLock {
 public:
  void lock() {
    while (flag_.test_and_set(std::memory_order_acquire)) sched_yield();
  }
  void unlock() { flag_.clear(std::memory_order_release); }

 private:
  std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

struct Heap {
  SpinLock lock;
  FreeBlock* free[kClasses] = {};
  void* arenas = nullptr;  // each arena's first word links the next
  BYTE* bump = nullptr;     // the unused rest of the newest arena
  BYTE* bumpEnd = nullptr;
  alignas(16) LargeLink large = {&large, &large};  // private heaps: every large block

  uintptr_t Owner() const { return reinterpret_cast<uintptr_t>(this) ^ kHeapMagic; }
};
Heap g_processHeap;

size_t ClassOf(size_t bytes) { return bytes ? (bytes + kGrain - 1) / kGrain : 1; }

BlockHeader* HeaderOf(LPCVOID block) {
  return const_cast<BlockHeader*>(static_cast<const BlockHeader*>(block) - 1);
}
// The header of a live block of this heap, or null.
BlockHeader* LiveBlock(HANDLE heap, LPCVOID block) {
  if (!heap || !block) return nullptr;
  BlockHeader* b = HeaderOf(block);
  return b->owner == static_cast<Heap*>(heap)->Owner() ? b : nullptr;
}

// A small block of class c, under the heap's lock.
BlockHeader* TakeSmall(Heap* h, size_t c) {
  if (FreeBlock* f = h->free[c]) {
    h->free[c] = f->next;
    return reinterpret_cast<BlockHeader*>(f);
  }
  const size_t stride = sizeof(BlockHeader) + c * kGrain;
  if (size_t(h->bumpEnd - h->bump) < stride) {
    void* arena = std::malloc(kArenaBytes);
    if (!arena) return nullptr;
    *static_cast<void**>(arena) = h->arenas;
    h->arenas = arena;
    h->bump = static_cast<BYTE*>(arena) + 16;
    h->bumpEnd = static_cast<BYTE*>(arena) + kArenaBytes;
  }
  BlockHeader* b = reinterpret_cast<BlockHeader*>(h->bump);
  h->bump += stride;
  return b;
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
  for (LargeLink* l = h->large.next; l != &h->large;) {
    LargeLink* next = l->next;
    reinterpret_cast<BlockHeader*>(l + 1)->owner = 0;
    std::free(l);
    l = next;
  }
  for (void* a = h->arenas; a;) {
    void* next = *static_cast<void**>(a);
    std::free(a);
    a = next;
  }
  delete h;
  return TRUE;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  Heap* h = static_cast<Heap*>(heap);
  constexpr size_t kLargeHead = sizeof(LargeLink) + sizeof(BlockHeader);
  if (!h || bytes > SIZE_MAX - kLargeHead) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  BlockHeader* b;
  if (bytes <= kSmallMax) {
    std::lock_guard<SpinLock> lock(h->lock);
    b = TakeSmall(h, ClassOf(bytes));
  } else {
    LargeLink* l = static_cast<LargeLink*>(std::malloc(kLargeHead + bytes));
    b = l ? reinterpret_cast<BlockHeader*>(reinterpret_cast<BYTE*>(l) + sizeof(LargeLink)) : nullptr;
    if (l) {
      std::lock_guard<SpinLock> lock(h->lock);
      l->prev = &h->large;
      l->next = h->large.next;
      l->next->prev = l;
      h->large.next = l;
    }
  }
  if (!b) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  b->size = bytes;
  b->owner = h->Owner();
  if (flags & HEAP_ZERO_MEMORY) std::memset(b + 1, 0, bytes);
  return b + 1;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (!block) return TRUE;
  Heap* h = static_cast<Heap*>(heap);
  BlockHeader* b = LiveBlock(heap, block);
  if (!b) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  b->owner = 0;  // a second free of the block fails
  if (b->size <= kSmallMax) {
    std::lock_guard<SpinLock> lock(h->lock);
    FreeBlock* f = reinterpret_cast<FreeBlock*>(b);
    const size_t c = ClassOf(b->size);
    f->next = h->free[c];
    h->free[c] = f;
    return TRUE;
  }
  LargeLink* l = reinterpret_cast<LargeLink*>(reinterpret_cast<BYTE*>(b) - sizeof(LargeLink));
  {
    std::lock_guard<SpinLock> lock(h->lock);
    l->prev->next = l->next;
    l->next->prev = l->prev;
  }
  std::free(l);
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
  BlockHeader* b = LiveBlock(heap, block);
  if (!b) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return static_cast<SIZE_T>(-1);
  }
  return b->size;
}

}  // extern "C"
