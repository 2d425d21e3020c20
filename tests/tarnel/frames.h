// Frames for the conversion tests: reproducible pixel bytes, frames and
// headers placed against an unreadable page, one call of a conversion with its
// result, and the table arithmetic of the BT.601 converter to compute expected
// pixels with.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host.h"
#include "convert.h"
#include "kernels.h"

namespace tarneltest {

// A small reproducible generator (xorshift).
class Rng {
 public:
  explicit Rng(uint32_t seed) : s_(seed ? seed : 1) {}
  uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return s_;
  }
  BYTE Byte() { return BYTE(Next() >> 24); }
  void Fill(BYTE* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = Byte();
  }

 private:
  uint32_t s_;
};

// Bytes that end at an unreadable page and cannot be written: an input frame.
inline std::unique_ptr<GuardedBlock> InputFrame(const std::vector<BYTE>& bytes) {
  auto block = std::make_unique<GuardedBlock>(bytes.size());
  if (!bytes.empty()) std::memcpy(block->data(), bytes.data(), bytes.size());
  block->ReadOnly();
  return block;
}

// A header of `size` bytes (144 for RGB, 160 for YUV) at the end of a guarded
// block, so that a read of the YUV block of an RGB header faults; read-only
// for input headers.
// `bytes` 0 places as many bytes as the header's biSize says it has.
class PlacedHeader {
 public:
  explicit PlacedHeader(const Header& h, bool readOnly = true, size_t bytes = 0)
      : block_(bytes ? bytes : h.biSize >= 160 ? 160 : 144) {
    std::memcpy(block_.data(), &h, block_.size());
    if (readOnly) block_.ReadOnly();
  }
  Header* get() const { return reinterpret_cast<Header*>(block_.data()); }
  Header* operator->() const { return get(); }

 private:
  GuardedBlock block_;
};

// The BT.601 tables with limiting on (limit) or off.
inline const tarnel::Kernels& Bt601Kernels(bool limit = true) {
  static zelk::CQZCsc* full = [] {
    auto* c = new zelk::CQZCsc;
    c->Init(zelk::CS_BT601);
    c->ColorLimit(0);
    return c;
  }();
  static const tarnel::Kernels limited(Bt601()), unlimited(*full);
  return limit ? limited : unlimited;
}

// A stored frame's rows: the pitch of a row of `width` pixels.
inline int64_t PackedPitch(LONG width, DWORD rowAlign) { return tarnel::AlignedPitch(int64_t(width) * 2, rowAlign); }

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
  auto in = InputFrame(input);
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
