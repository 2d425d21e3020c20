// What the compression tests share: an allocator function that keeps account
// of every block, memory with pages that cannot be read or written, and
// generated data of the kinds callers compress.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <lzo/lzo1x.h>

#include "ferrow.h"

namespace ziptest {

using Bytes = std::vector<unsigned char>;

// An allocator function with books: the blocks alive, the frees of blocks it
// never gave, and guard bytes on both sides of each block, checked when it is
// freed. One instance at a time is current; it may be used from any thread.
class CountingAllocator {
 public:
  CountingAllocator() {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = this;
  }
  ~CountingAllocator() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& b : live_) std::free(static_cast<unsigned char*>(b.first) - kGuard);
    current_ = nullptr;
  }
  CountingAllocator(const CountingAllocator&) = delete;
  CountingAllocator& operator=(const CountingAllocator&) = delete;

  static FU_AllocFunc Func() { return &Alloc; }

  size_t live() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.size();
  }
  size_t allocations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return allocations_;
  }
  size_t badFrees() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badFrees_;
  }
  // Blocks written past either end: those freed so far and those still alive.
  size_t overruns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = overruns_;
    for (auto& b : live_) n += !Intact(static_cast<unsigned char*>(b.first) - kGuard, b.second);
    return n;
  }
  ULONG SizeOf(const void* block) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(const_cast<void*>(block));
    return it == live_.end() ? 0 : it->second;
  }
  // Allocations after the first `n` fail; sizes above `maxSize` always do.
  void FailAfter(size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    failAfter_ = n;
  }
  void Refuse(ULONG maxSize) {
    std::lock_guard<std::mutex> lock(mutex_);
    maxSize_ = maxSize;
  }
  // Frees a block through the allocator function, as a caller does.
  void Free(void* block) { Alloc(block, 0); }

 private:
  static constexpr size_t kGuard = 16;
  static constexpr unsigned char kFront = 0xA5, kBack = 0x5A;

  static bool Intact(const unsigned char* raw, ULONG size) {
    for (size_t i = 0; i < kGuard; ++i)
      if (raw[i] != kFront || raw[kGuard + size + i] != kBack) return false;
    return true;
  }

  static void* WINAPI Alloc(void* block, ULONG size) {
    std::lock_guard<std::mutex> lock(mutex_);
    CountingAllocator* self = current_;
    if (!self) return nullptr;
    if (!block && size) {
      if (self->allocations_ >= self->failAfter_ || size > self->maxSize_) return nullptr;
      unsigned char* raw = static_cast<unsigned char*>(std::malloc(size + 2 * kGuard));
      if (!raw) return nullptr;
      std::memset(raw, kFront, kGuard);
      std::memset(raw + kGuard, 0xCD, size);  // not zero: results must not rely on it
      std::memset(raw + kGuard + size, kBack, kGuard);
      ++self->allocations_;
      self->live_[raw + kGuard] = size;
      return raw + kGuard;
    }
    if (block && !size) {
      auto it = self->live_.find(block);
      if (it == self->live_.end()) {
        ++self->badFrees_;
        return nullptr;
      }
      unsigned char* raw = static_cast<unsigned char*>(block) - kGuard;
      if (!Intact(raw, it->second)) ++self->overruns_;
      self->live_.erase(it);
      std::free(raw);
    }
    return nullptr;
  }

  static inline std::mutex mutex_;
  static inline CountingAllocator* current_ = nullptr;
  std::map<void*, ULONG> live_;
  size_t allocations_ = 0, badFrees_ = 0, overruns_ = 0;
  size_t failAfter_ = SIZE_MAX;
  ULONG maxSize_ = 0xFFFFFFFF;
};

// Pages of virtual memory whose protection a test sets page by page, to put
// data next to memory that cannot be read or written.
class Pages {
 public:
  explicit Pages(size_t count) : size_(count * kPage) {
    base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  }
  ~Pages() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  Pages(const Pages&) = delete;
  Pages& operator=(const Pages&) = delete;

  static constexpr size_t kPage = 65536;  // a multiple of every page size in use
  unsigned char* page(size_t i) const { return base_ + i * kPage; }
  bool Protect(size_t i, DWORD protect) {
    DWORD old = 0;
    return VirtualProtect(page(i), kPage, protect, &old) != 0;
  }

 private:
  size_t size_;
  unsigned char* base_;
};

// ---- the block layout, straight from LZO ----
// What a block must hold, built without Ferrow: "@ZIP", the size (little-endian),
// 16 zero bytes, "@ZIP", the stream.
inline Bytes Frame(uint32_t uncompressed, const Bytes& stream) {
  Bytes b = {'@', 'Z', 'I', 'P', static_cast<unsigned char>(uncompressed), static_cast<unsigned char>(uncompressed >> 8),
             static_cast<unsigned char>(uncompressed >> 16), static_cast<unsigned char>(uncompressed >> 24)};
  b.resize(24, 0);
  b.insert(b.end(), {'@', 'Z', 'I', 'P'});
  b.insert(b.end(), stream.begin(), stream.end());
  return b;
}

// An LZO1X stream of data from LZO1X-1, or from LZO1X-999 when `best`.
inline Bytes RawCompress(const Bytes& data, bool best = false) {
  static thread_local std::vector<lzo_align_t> work((LZO1X_999_MEM_COMPRESS + sizeof(lzo_align_t) - 1) / sizeof(lzo_align_t));
  Bytes out(data.size() + data.size() / 16 + 64 + 3);
  lzo_uint n = out.size();
  int rc = best ? lzo1x_999_compress(data.data(), data.size(), out.data(), &n, work.data())
                : lzo1x_1_compress(data.data(), data.size(), out.data(), &n, work.data());
  out.resize(rc == LZO_E_OK ? n : 0);
  return out;
}

// ---- generated data ----
enum class Kind { Zeros, Text, Binary, Random, Runs };

inline const char* KindName(Kind k) {
  switch (k) {
    case Kind::Zeros: return "zeros";
    case Kind::Text: return "text";
    case Kind::Binary: return "binary";
    case Kind::Random: return "random";
    case Kind::Runs: return "runs";
  }
  return "?";
}

// Deterministic for a given kind, size and seed.
inline Bytes Generate(Kind kind, size_t size, uint32_t seed) {
  std::mt19937 rng(seed * 2654435761u + static_cast<uint32_t>(kind));
  Bytes b;
  b.reserve(size);
  switch (kind) {
    case Kind::Zeros:
      b.assign(size, 0);
      break;
    case Kind::Text: {
      static const char* const words[] = {"the",   "frame", "index", "of",    "a",     "clip",  "and",
                                          "video", "host",  "file",  "track", "audio", "time",  "code",
                                          "is",    "set",   "to",    "each",  "field", "line"};
      while (b.size() < size) {
        const char* w = words[rng() % 20];
        b.insert(b.end(), w, w + std::strlen(w));
        b.push_back(rng() % 9 == 0 ? '\n' : ' ');
      }
      b.resize(size);
      break;
    }
    case Kind::Binary:
      // Records as programs write them: a counter, small fields, an occasional odd value.
      for (uint32_t i = 0; b.size() < size; ++i) {
        uint32_t fields[4] = {i * 4096u, uint32_t(rng() % 16), 0x00010000u | (i & 0xFF), rng() % 50 == 0 ? uint32_t(rng()) : 0u};
        for (uint32_t f : fields)
          for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(f >> (8 * k)));
      }
      b.resize(size);
      break;
    case Kind::Random:
      for (size_t i = 0; i < size; ++i) b.push_back(static_cast<unsigned char>(rng()));
      break;
    case Kind::Runs:
      while (b.size() < size) b.insert(b.end(), 1 + rng() % 40, static_cast<unsigned char>(rng()));
      b.resize(size);
      break;
  }
  return b;
}

}  // namespace ziptest
