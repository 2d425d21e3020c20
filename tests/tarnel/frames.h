// Frames for the conversion tests: reproducible pixel bytes, frames and
// headers placed against an unreadable page, and the table arithmetic of the
// BT.601 converter to compute expected pixels with.
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
class PlacedHeader {
 public:
  PlacedHeader(const Header& h, bool readOnly) : block_(h.biSize >= 160 ? 160 : 144) {
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

}  // namespace tarneltest
