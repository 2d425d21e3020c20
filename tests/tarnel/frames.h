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

inline int Stride(LONG width, int bits) { return (width * bits / 8 + 3) & ~3; }

}  // namespace tarneltest
