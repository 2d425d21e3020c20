// Cccir601Meshed's conversions: the frame walkers, on the rows of
// rows_meshed.h. The stored rows are the host frame's rows in the same memory
// order when the stored height is positive, reversed when it is negative;
// each stored row is padded to a multiple of dwRowAlign (4 when 0).
//
// The decoder reads one progressive frame. The encoder writes two fields, the
// second from half the frame on, when bit 0 of the stored dwFormatFlag is
// set, and exchanges them when bit 4 differs between the two headers.
//
// Before anything is allocated, each conversion checks that every row it
// would read lies inside the input frame (its biSizeImage, or what the layout
// needs when none is given) and every row it would write inside the frame it
// allocates; a frame that would take it outside is refused with
// CODEC_E_FORMAT.
#include "convert.h"
#include "kernels.h"
#include "rows_meshed.h"

using namespace tarnel;

namespace {

const WCHAR kClass[] = TEXT("Cccir601Meshed");

int BytesPerPixel(const YUVBMINFOHEADER* h) { return Rgb24or32(h->biBitCount) ? h->biBitCount / 8 : 0; }
MeshedOrder OrderOf(const YUVBMINFOHEADER* h) { return {BytesPerPixel(h), h->dwSubsampling == 128}; }

}  // namespace

LONG Cccir601Meshed::Decompress(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                                const DWORD*, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd, [&] {
    *Require(result) = nullptr;
    Require(in);
    Require(out);
    const MeshedOrder order = OrderOf(in);
    const int bpp = BytesPerPixel(out);
    if (!order.bpp || !bpp) return CODEC_E_FORMAT;
    const int64_t rows = Abs(in->biHeight), pixels = in->biWidth > 0 ? in->biWidth : 0;
    const int64_t pitch = PaddedRow(pixels * order.bpp, in->dwRowAlign);
    const int64_t stride = Stride(out->biWidth, out->biBitCount);
    const bool reversed = in->biHeight < 0;  // the first stored row is the last memory row
    const int64_t first = reversed ? (rows - 1) * stride : 0, step = reversed ? -stride : stride;
    if (!RowsInside(0, pitch, rows, pixels * order.bpp, Readable(in, FrameBytes(in->biHeight, pitch))) ||
        !RowsInside(first, step, rows, pixels * bpp, out->biSizeImage))
      return CODEC_E_FORMAT;
    const BYTE* src = static_cast<const BYTE*>(Require(frame));
    BYTE* dst = AllocateFrame(allocator, out, result);
    if (!dst) return CODEC_E_NOFRAME;
    const Kernels k(*this);
    FastTables fast;  // once per frame: ColorLimit may have changed the limiting
    PrepareFast(k, &fast);
    for (int64_t r = 0; r < rows; ++r)
      MeshedToBgrRow(k, fast, src + r * pitch, order, dst + first + r * step, bpp, int(pixels));
    return CODEC_OK;
  });
}

LONG Cccir601Meshed::Compress(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                              const DWORD* flags, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd, [&] {
    LimitFor(*this, flags);
    *Require(result) = nullptr;
    Require(in);
    Require(out);
    const MeshedOrder order = OrderOf(out);
    const int bpp = BytesPerPixel(in);
    if (!order.bpp || !bpp) return CODEC_E_FORMAT;
    const int fields = out->dwFormatFlag & 1 ? 2 : 1;
    const bool exchange = fields == 2 && ((in->dwFormatFlag ^ out->dwFormatFlag) & 0x10);
    const AlphaUse alpha = {bpp == 4 && in->dwAlphaMode == 0, bpp == 4 && (FlagsOf(flags) & kFlagPremultiply)};
    const int64_t rows = Abs(out->biHeight) / fields, pixels = out->biWidth > 0 ? out->biWidth : 0;
    const int64_t pitch = PaddedRow(pixels * order.bpp, out->dwRowAlign);
    const int64_t stride = Stride(in->biWidth, in->biBitCount);
    const int64_t readable = Readable(in, FrameBytes(in->biHeight, stride)), size = out->biSizeImage;
    int64_t from[2], to[2];
    const int64_t step = (out->biHeight >= 0 ? fields : -fields) * stride;
    for (int f = 0; f < fields; ++f) {
      const int source = exchange ? 1 - f : f;
      from[f] = (out->biHeight >= 0 ? source : rows * fields - 1 - source) * stride;
      to[f] = size * f / 2;
      if (!RowsInside(from[f], step, rows, pixels * bpp, readable) ||
          !RowsInside(to[f], pitch, rows, pixels * order.bpp, size))
        return CODEC_E_FORMAT;
    }
    const BYTE* src = static_cast<const BYTE*>(Require(frame));
    BYTE* dst = AllocateFrame(allocator, out, result);
    if (!dst) return CODEC_E_UNEXPECTED;
    if (out->dwRowAlign == 0) out->dwRowAlign = 4;
    const Kernels k(*this);
    FastTables fast;  // once per frame: ColorLimit may have changed the limiting
    PrepareFast(k, &fast);
    for (int f = 0; f < fields; ++f)
      for (int64_t r = 0; r < rows; ++r)
        BgrToMeshedRow(k, fast, src + from[f] + r * step, bpp, alpha, dst + to[f] + r * pitch, order, int(pixels));
    return CODEC_OK;
  });
}
