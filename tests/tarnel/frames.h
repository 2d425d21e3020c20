// Frames for the conversion tests: deterministic pictures, input frames that
// end at an unreadable page, and one call of a conversion with its result.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host.h"

namespace tarneltest {

using Bytes = std::vector<BYTE>;

// n bytes from a small linear congruential generator.
inline Bytes Noise(size_t n, uint32_t seed) {
  Bytes b(n);
  for (BYTE& v : b) {
    seed = seed * 1664525u + 1013904223u;
    v = BYTE(seed >> 24);
  }
  return b;
}

// The bytes, read-only, ending where an unreadable page begins: a conversion
// that reads one byte past them (or writes into them) faults.
inline std::unique_ptr<GuardedBlock> Place(const Bytes& bytes) {
  auto block = std::make_unique<GuardedBlock>(bytes.size());
  if (!bytes.empty()) std::memcpy(block->data(), bytes.data(), bytes.size());
  block->ReadOnly();
  return block;
}

// A header placed read-only at the end of a page: the conversion may read
// its `bytes` bytes and nothing else.
struct PlacedHeader {
  std::unique_ptr<GuardedBlock> block;
  explicit PlacedHeader(const Header& h, size_t bytes = 144) : block(std::make_unique<GuardedBlock>(bytes)) {
    std::memcpy(block->data(), &h, bytes);
    block->ReadOnly();
  }
  Header* get() const { return reinterpret_cast<Header*>(block->data()); }
};

// The output of one conversion: its status and a copy of the frame it made.
struct Converted {
  LONG status;
  bool framed;  // the output-frame pointer was set
  Bytes frame;
};

// Runs `run(input frame, result pointer)` with the input placed against an
// unreadable page (the output comes from the caller's guarded allocator).
template <class Run>
Converted Convert(const Bytes& input, DWORD outputSize, Run&& run) {
  auto in = Place(input);
  void* result = reinterpret_cast<void*>(uintptr_t(1));  // must become null or the frame
  const LONG status = run(static_cast<const void*>(in->data()), &result);
  Converted c{status, result != nullptr, {}};
  if (result) c.frame.assign(static_cast<BYTE*>(result), static_cast<BYTE*>(result) + outputSize);
  return c;
}

// A conversion slot of its own (the planar codec's 19 to 22, the packed
// codec's 19 to 23), called through the table as a host calls it.
inline LONG ConversionSlot(ICodec* codec, int slot, const Header* in, const void* frame, Header* out, void** result,
                           const DWORD* flags, IFrameAllocator* allocator) {
  typedef LONG(CODEC_CALL * Fn)(ICodec*, const Header*, const void*, Header*, void**, const DWORD*, IFrameAllocator*);
  void* const* table = *reinterpret_cast<void* const* const*>(codec);
  return reinterpret_cast<Fn>(table[slot])(codec, in, frame, out, result, flags, allocator);
}
enum PlanarSlot { kDecompressToBGR = 19, kDecompressToYUV, kCompressFromBGR, kCompressFromYUV };

inline int Stride(LONG width, int bits) { return (width * bits / 8 + 3) & ~3; }

}  // namespace tarneltest
