// What every frame conversion shares: the buffers it may touch, and the
// allocation of the output frame.
//
// A conversion never reads outside its input frame nor writes outside the
// frame it allocated. The input frame is biSizeImage bytes long when the
// header gives a size, else the size its layout needs; the output frame is
// the output header's biSizeImage. A conversion whose headers would take it
// outside either is refused with CODEC_E_FORMAT before anything is
// allocated (the queries' size rules do not look at dwRowAlign or the
// extended layouts, so an accepted header can still describe such a frame).
#pragma once

#include <cstdint>

#include "format.h"
#include "guard.h"

namespace tarnel {

// The bytes of an input frame that a conversion may read.
inline int64_t Readable(const YUVBMINFOHEADER* in, int64_t layoutNeeds) {
  return in->biSizeImage ? int64_t(in->biSizeImage) : layoutNeeds;
}
// Where field 1 of a two-field frame starts: half its size, or half of what
// its layout needs when no size is given (not at byte 0, over field 0).
inline int64_t SecondField(const YUVBMINFOHEADER* h, int64_t layoutNeeds) { return Readable(h, layoutNeeds) / 2; }

// The row pitch of a packed stored row of rowBytes: dwRowAlign itself
// when it holds a row, else rowBytes rounded up to a multiple of dwRowAlign
// (of 4 when it is 0).
inline int64_t AlignedPitch(int64_t rowBytes, DWORD rowAlign) {
  if (rowAlign == 0) rowAlign = 4;
  if (int64_t(rowAlign) >= rowBytes) return rowAlign;
  return (rowBytes + rowAlign - 1) / rowAlign * rowAlign;
}

// The length of a stored row of rowBytes padded up to a multiple of
// dwRowAlign (of 4 when it is 0): the meshed and UYVY layouts.
inline int64_t PaddedRow(int64_t rowBytes, DWORD rowAlign) {
  if (rowAlign == 0) rowAlign = 4;
  return (rowBytes + rowAlign - 1) / rowAlign * rowAlign;
}

// Whether `count` rows of `bytes` bytes each lie inside a buffer of `size`
// bytes: row i begins at byte base + i * pitch, for i = first, first + step,
// ... (step may be negative). Rows of no bytes touch nothing and always fit.
inline bool RowsInside(int64_t base, int64_t first, int64_t step, int64_t count, int64_t pitch, int64_t bytes,
                       int64_t size) {
  if (count <= 0 || bytes <= 0) return true;
  int64_t last, at0, at1, span0, span1, end;
  if (__builtin_mul_overflow(step, count - 1, &last) || __builtin_add_overflow(first, last, &last)) return false;
  if (__builtin_mul_overflow(first, pitch, &span0) || __builtin_mul_overflow(last, pitch, &span1)) return false;
  if (__builtin_add_overflow(base, span0, &at0) || __builtin_add_overflow(base, span1, &at1)) return false;
  const int64_t low = at0 < at1 ? at0 : at1, high = at0 < at1 ? at1 : at0;
  return low >= 0 && !__builtin_add_overflow(high, bytes, &end) && end <= size;
}

// The same for n rows, the first at byte `first` and each next one `step`
// bytes on.
inline bool RowsInside(int64_t first, int64_t step, int64_t n, int64_t rowBytes, int64_t size) {
  return RowsInside(first, 0, 1, n, step, rowBytes, size);
}

// Sets the output-frame pointer to null, allocates output->biSizeImage bytes
// from the host and stores the block through the pointer; null when the host
// has none.
inline BYTE* AllocateFrame(IFrameAllocator* allocator, const YUVBMINFOHEADER* output, void** frame) {
  *Require(frame) = nullptr;
  void* block = Require(allocator)->Alloc(output->biSizeImage, 0);
  *frame = block;
  return static_cast<BYTE*>(block);
}

}  // namespace tarnel
