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

// Whether n rows of rowBytes bytes, the first at byte `first` of a frame and
// each next one `step` bytes on (step may be negative), all lie inside the
// frame's `size` bytes. No rows, or rows of no bytes, touch nothing.
inline bool RowsInside(int64_t first, int64_t step, int64_t n, int64_t rowBytes, int64_t size) {
  if (n <= 0 || rowBytes <= 0) return true;
  int64_t span, last;
  if (__builtin_mul_overflow(n - 1, step, &span) || __builtin_add_overflow(first, span, &last)) return false;
  const int64_t low = first < last ? first : last, high = first < last ? last : first;
  return low >= 0 && high <= size - rowBytes;
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
