// CTarnelYVY's conversions: one field, the top line first in a bottom-up
// header's frame, rows padded to dwRowAlign. The encoder filters the chroma
// of a 4:4:4 scratch row before it subsamples.
//
// As with the packed codecs, a frame whose headers would take a conversion
// outside its input frame or the output frame it allocates is refused with
// CODEC_E_FORMAT before anything is allocated; odd widths convert whole
// groups only; a frame narrower than two pixels has no group to convert.
#include "convert.h"
#include "format.h"
#include "kernels.h"
#include "rows422.h"

using namespace tarnel;

namespace {

const WCHAR kClass[] = TEXT("CTarnelYVY");

int BytesPerPixel(WORD bits) { return bits == 24 ? 3 : bits == 32 ? 4 : 0; }

LONG Refuse(void** frame) {
  *Require(frame) = nullptr;
  return CODEC_E_FORMAT;
}

// The host frame's row that goes with stored row 0, and the step: a bottom-up
// frame of memoryRows rows keeps the top line last.
struct HostRows {
  int64_t first, step;
};
HostRows HostRowsOf(bool bottomUp, LONG memoryRows) {
  if (bottomUp) return {int64_t(memoryRows) - 1, -1};
  return {0, 1};
}

}  // namespace

LONG CTarnelYVY::Decompress(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out, void** outFrame,
                            const DWORD*, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd, [&]() -> LONG {
    Require(in);
    Require(out);
    const int bpp = BytesPerPixel(out->biBitCount);
    if (bpp == 0) return Refuse(outFrame);
    const int64_t rows = Abs(in->biHeight);
    const int64_t pairs = in->biWidth > 0 ? in->biWidth / 2 : 0;
    const int64_t inRow = PaddedRow(int64_t(in->biWidth) * 2, in->dwRowAlign);
    const int64_t readable = Readable(in, FrameBytes(in->biHeight, inRow));
    const int64_t stride = Stride(out->biWidth, out->biBitCount);
    const HostRows host = HostRowsOf(in->biHeight > 0, out->biHeight);
    if (!RowsInside(0, 0, 1, rows, inRow, pairs * 4, readable) ||
        !RowsInside(0, host.first, host.step, rows, stride, pairs * 2 * bpp, out->biSizeImage))
      return Refuse(outFrame);
    if (pairs > 0) Require(inFrame);

    BYTE* dst = AllocateFrame(allocator, out, outFrame);
    if (!dst) return CODEC_E_NOFRAME;
    if (pairs == 0) return CODEC_OK;
    const BYTE* src = static_cast<const BYTE*>(inFrame);
    const Kernels k(*this);
    const bool rgb = out->biCompression == 0;
    const FastRows fast = rgb ? FastRowsFor(k) : FastRows();
    for (int64_t i = 0; i < rows; ++i, src += inRow) {
      BYTE* to = dst + (host.first + i * host.step) * stride;
      if (rgb) Row422ToBgr(k, fast, src, to, pairs, bpp);
      else Row422To444_Ref(src, to, pairs, bpp);
    }
    return CODEC_OK;
  });
}

// The scratch row comes from Zelku before the output frame; when it cannot be
// had, Compress returns CODEC_E_UNEXPECTED with no output frame (the pointer
// null). It goes back to Zelku on every path, a caught fault included.
LONG CTarnelYVY::Compress(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out, void** outFrame,
                          const DWORD* flags, IFrameAllocator* allocator, DWORD) {
  BYTE* scratch = nullptr;
  const LONG status = Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd, [&]() -> LONG {
    LimitFor(*this, flags);
    Require(in);
    Require(out);
    const int bpp = BytesPerPixel(in->biBitCount);
    if (bpp == 0) return Refuse(outFrame);
    const bool yuv = in->biCompression != 0;
    const bool premultiply = (FlagsOf(flags) & kFlagPremultiply) && bpp == 4 && in->dwAlphaMode == 0;
    const DWORD rowAlign = out->dwRowAlign ? out->dwRowAlign : 4;
    const int64_t rows = Abs(out->biHeight);
    const int64_t pairs = out->biWidth > 0 ? out->biWidth / 2 : 0;
    const int64_t pixels = 2 * pairs;
    const int64_t outRow = PaddedRow(int64_t(out->biWidth) * 2, rowAlign);
    const int64_t inStride = Stride(in->biWidth, in->biBitCount);
    const int64_t readable = Readable(in, FrameBytes(in->biHeight, inStride));
    const HostRows host = HostRowsOf(out->biHeight > 0, in->biHeight);
    if (!RowsInside(0, 0, 1, rows, outRow, pairs * 4, out->biSizeImage) ||
        !RowsInside(0, host.first, host.step, rows, inStride, pixels * bpp, readable))
      return Refuse(outFrame);
    if (pairs > 0) Require(inFrame);
    *Require(outFrame) = nullptr;

    // A row of biWidth pixels, of which the groups' 2 * pairs are converted.
    const int64_t scratchBytes = out->biWidth > 0 ? int64_t(out->biWidth) * 4 : 0;
    if (scratchBytes > 0xFFFFFFFF) return CODEC_E_UNEXPECTED;
    scratch = static_cast<BYTE*>(zelk::NewAlloc(unsigned(scratchBytes)));
    if (!scratch) return CODEC_E_UNEXPECTED;
    BYTE* dst = AllocateFrame(allocator, out, outFrame);
    if (!dst) return CODEC_E_UNEXPECTED;
    out->dwRowAlign = rowAlign;
    if (pairs == 0) return CODEC_OK;
    const BYTE* src = static_cast<const BYTE*>(inFrame);
    const Kernels k(*this);
    const FastRows fast = FastRowsFor(k);
    for (int64_t i = 0; i < rows; ++i, dst += outRow) {
      const BYTE* row = src + (host.first + i * host.step) * inStride;
      const BYTE* filtered = scratch;
      if (!yuv) RowBgrToScratch(k, fast, row, scratch, pixels, bpp, premultiply);
      else if (bpp == 4 && !premultiply) filtered = row;  // already Y, Cb, Cr, alpha
      else Row444ToScratch_Ref(row, scratch, pixels, bpp, premultiply);
      RowFilterTo422(k, fast, filtered, dst, pairs);
    }
    return CODEC_OK;
  });
  zelk::NewFree(scratch);
  return status;
}
