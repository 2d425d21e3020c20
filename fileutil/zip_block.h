// The compressed block's header: "@ZIP", the uncompressed size, 16 zero bytes,
// "@ZIP" again; one LZO1X stream follows. All fields are little-endian.
#pragma once

#include <cstring>

#include "ferrow.h"

namespace ferrow {
namespace zip {

constexpr ULONG kHeaderSize = 28;
constexpr unsigned char kMagic[4] = {'@', 'Z', 'I', 'P'};
constexpr ULONG kSizeOffset = 4;
constexpr ULONG kSecondMagicOffset = 24;
// Data this short, or a limit this low, is never compressed.
constexpr ULONG kNeverCompressed = 44;

inline void WriteHeader(unsigned char* p, ULONG uncompressed) {
  std::memset(p, 0, kHeaderSize);
  std::memcpy(p, kMagic, 4);
  for (int i = 0; i < 4; ++i) p[kSizeOffset + i] = static_cast<unsigned char>(uncompressed >> (8 * i));
  std::memcpy(p + kSecondMagicOffset, kMagic, 4);
}

// The uncompressed size when the size bytes at p form a block, else 0 (plain data).
inline ULONG StoredSize(const unsigned char* p, ULONG size) {
  if (size <= kHeaderSize || std::memcmp(p, kMagic, 4) != 0 ||
      std::memcmp(p + kSecondMagicOffset, kMagic, 4) != 0)
    return 0;
  ULONG n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | p[kSizeOffset + i];
  return n;
}

// The largest stream LZO1X makes from n bytes, as the LZO library documents it.
constexpr unsigned long long WorstCaseStream(ULONG n) { return static_cast<unsigned long long>(n) + n / 16 + 64 + 3; }

// Writes the block of `size` bytes of data (header and stream) to `out`, which
// has room for kHeaderSize + WorstCaseStream(size) bytes; returns its size.
// Reads and writes memory as it stands: the caller guards against faults.
ULONG CompressInto(const unsigned char* data, ULONG size, unsigned char* out);

// Restores the stream of a block of `size` bytes whose header says `stored`
// into `out` (room for `stored` bytes), with the bounds-checking decompressor;
// true with the bytes made in `produced`. Unguarded, as CompressInto.
bool RestoreInto(const unsigned char* block, ULONG size, unsigned char* out, ULONG stored, ULONG& produced);

// A block from an allocator function, given back when it goes unless released.
class Block {
 public:
  Block(FU_AllocFunc alloc, void* block) : alloc_(alloc), p_(static_cast<unsigned char*>(block)) {}
  Block(FU_AllocFunc alloc, ULONG size) : Block(alloc, alloc(nullptr, size)) {}
  ~Block() { reset(); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  Block(Block&& other) noexcept : alloc_(other.alloc_), p_(other.p_) { other.p_ = nullptr; }
  Block& operator=(Block&& other) noexcept {
    if (this != &other) {
      reset();
      alloc_ = other.alloc_;
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }

  explicit operator bool() const { return p_ != nullptr; }
  unsigned char* get() const { return p_; }
  void* release() {
    void* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset() {
    if (p_) alloc_(p_, 0);
    p_ = nullptr;
  }

 private:
  FU_AllocFunc alloc_;
  unsigned char* p_;
};

}  // namespace zip
}  // namespace ferrow
