// Cccir601Planar's conversions: the frame walkers over the planes of the two
// fields, on the rows of rows_planar.h.
//
// Field f holds the picture lines s, s + 2, ... with s = 1 - f when the
// deciding height (the stored height for decoders, the host frame's for
// encoders, signed) is at most 488, else s = f. Line 0 is the last memory row
// of the host frame when the stored height is positive, the first when it is
// negative. Field 1 starts at half the stored frame.
//
// Before anything is allocated, every conversion checks that each row it
// would read lies inside the input frame (its biSizeImage, or what the layout
// needs when none is given) and each row it would write inside the output
// frame it allocates; a frame that would take it outside is refused with
// CODEC_E_FORMAT. An odd width converts its whole pairs and leaves the last
// column alone; an odd height leaves the row that no field holds alone.
#include "convert.h"
#include "kernels.h"
#include "rows_planar.h"

using namespace tarnel;

namespace {

const WCHAR kClass[] = TEXT("Cccir601Planar");

// The stored frame's geometry.
struct Planes {
  int64_t rows;  // per field
  int64_t yrow, crow;
  bool alpha;  // a 32-bit frame has an alpha plane
  int pairs;   // per row: the whole pairs of the width

  explicit Planes(const YUVBMINFOHEADER* h)
      : rows(Abs(h->biHeight) / 2),
        yrow(Yrow(h->biWidth)),
        crow(Crow(h->biWidth)),
        alpha(h->biBitCount == 32),
        pairs(h->biWidth > 0 ? h->biWidth / 2 : 0) {}

  int64_t cbAt() const { return rows * yrow; }
  int64_t crAt() const { return rows * (yrow + crow); }
  int64_t aAt() const { return rows * (yrow + 2 * crow); }
  // The bytes of one picture line in all planes.
  int64_t line() const { return yrow + 2 * crow + (alpha ? yrow : 0); }

  // Whether the planes of the field at `base` that a conversion touches (the
  // alpha plane only when `withAlpha`) lie inside `size` bytes.
  bool Inside(int64_t base, bool withAlpha, int64_t size) const {
    return RowsInside(base, yrow, rows, 2 * int64_t(pairs), size) &&
           RowsInside(base + cbAt(), crow, rows, pairs, size) && RowsInside(base + crAt(), crow, rows, pairs, size) &&
           (!withAlpha || RowsInside(base + aAt(), yrow, rows, 2 * int64_t(pairs), size));
  }
  ConstPlaneRow Row(const BYTE* field, int64_t r) const {
    return {field + r * yrow, field + cbAt() + r * crow, field + crAt() + r * crow,
            alpha ? field + aAt() + r * yrow : nullptr};
  }
  PlaneRow Row(BYTE* field, int64_t r) const {
    return {field + r * yrow, field + cbAt() + r * crow, field + crAt() + r * crow,
            alpha ? field + aAt() + r * yrow : nullptr};
  }
};

// The host frame's side of the walk: which memory row holds row r of field f.
struct HostRows {
  int64_t rows;
  LONG deciding;  // signed height that decides which lines field 0 holds
  bool bottomUp;  // the stored height is not negative
  int64_t stride;

  int s(int f) const { return deciding <= 488 ? 1 - f : f; }
  int64_t first(int f) const { return bottomUp ? 2 * rows - 1 - s(f) : s(f); }
  int64_t step() const { return bottomUp ? -2 : 2; }
  int64_t At(int f, int64_t r) const { return (first(f) + r * step()) * stride; }
  // Whether both fields' rows of rowBytes lie inside `size` bytes.
  bool Inside(int64_t rowBytes, int64_t size) const {
    for (int f = 0; f < 2; ++f)
      if (!RowsInside(first(f) * stride, step() * stride, rows, rowBytes, size)) return false;
    return true;
  }
};

// Bytes per pixel of an interleaved host frame: 3 or 4, else 0 (no such frame).
int BytesPerPixel(const YUVBMINFOHEADER* h) { return Rgb24or32(h->biBitCount) ? h->biBitCount / 8 : 0; }

struct Decoding {
  Planes planes;
  HostRows host;
  int bpp;
  const BYTE* fields[2];
};

// Checks a decoder's headers and frames; CODEC_OK with the walk filled in.
LONG PrepareDecode(const YUVBMINFOHEADER* in, const void* frame, const YUVBMINFOHEADER* out, Decoding& d) {
  Require(in);
  Require(out);
  d.bpp = BytesPerPixel(out);
  if (!d.bpp) return CODEC_E_FORMAT;
  const Planes& p = d.planes;
  d.host = {p.rows, in->biHeight, in->biHeight >= 0, Stride(out->biWidth, out->biBitCount)};
  // Without a size the frame is what its layout needs: abs(height) lines.
  const int64_t layout = FrameBytes(in->biHeight, p.line());
  const int64_t readable = Readable(in, layout), second = SecondField(in, layout);
  const bool alpha = p.alpha && d.bpp == 4;
  if (!p.Inside(0, alpha, readable) || !p.Inside(second, alpha, readable) ||
      !d.host.Inside(2 * int64_t(p.pairs) * d.bpp, out->biSizeImage))
    return CODEC_E_FORMAT;
  const BYTE* base = static_cast<const BYTE*>(Require(frame));
  d.fields[0] = base;
  d.fields[1] = base + second;
  return CODEC_OK;
}

struct Encoding {
  Planes planes;
  HostRows host;
  int bpp;
  AlphaUse alpha;
};

LONG PrepareEncode(const YUVBMINFOHEADER* in, const void* frame, const YUVBMINFOHEADER* out, const DWORD* flags,
                   Encoding& e) {
  Require(in);
  Require(out);
  e.bpp = BytesPerPixel(in);
  if (!e.bpp || !Rgb24or32(out->biBitCount)) return CODEC_E_FORMAT;
  const Planes& p = e.planes;
  const int64_t stride = Stride(in->biWidth, in->biBitCount);
  e.host = {p.rows, in->biHeight, out->biHeight >= 0, stride};
  e.alpha = {e.bpp == 4 && !(in->dwAlphaMode & 1), (FlagsOf(flags) & kFlagPremultiply) != 0};
  const int64_t size = out->biSizeImage;
  if (!e.host.Inside(2 * int64_t(p.pairs) * e.bpp, Readable(in, FrameBytes(in->biHeight, stride))) ||
      !p.Inside(0, p.alpha, size) || !p.Inside(size / 2, p.alpha, size))
    return CODEC_E_FORMAT;
  Require(frame);
  return CODEC_OK;
}

}  // namespace

LONG Cccir601Planar::Decompress(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                                const DWORD* flags, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd, [&] {
    return Require(out)->biCompression == 0 ? DecompressToBGR(in, frame, out, result, flags, allocator)
                                            : DecompressToYUV(in, frame, out, result, flags, allocator);
  });
}

LONG Cccir601Planar::Compress(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                              const DWORD* flags, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd, [&] {
    LimitFor(*this, flags);
    return Require(in)->biCompression == 0 ? CompressFromBGR(in, frame, out, result, flags, allocator)
                                           : CompressFromYUV(in, frame, out, result, flags, allocator);
  });
}

LONG Cccir601Planar::DecompressToBGR(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                                     const DWORD*, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("DecompressToBGR"), OnFault::kReportAndEnd, [&] {
    *Require(result) = nullptr;
    Decoding d{Planes(Require(in)), {}, 0, {}};
    const LONG status = PrepareDecode(in, frame, out, d);
    if (status != CODEC_OK) return status;
    BYTE* dst = AllocateFrame(allocator, out, result);
    if (!dst) return CODEC_E_NOFRAME;
    const Kernels k(*this);
    FastTables fast;  // once per frame: ColorLimit may have changed the limiting
    PrepareFast(k, &fast);
    for (int f = 0; f < 2; ++f)
      for (int64_t r = 0; r < d.planes.rows; ++r)
        PlanesToBgrRow(k, fast, d.planes.Row(d.fields[f], r), dst + d.host.At(f, r), d.bpp, d.planes.pairs);
    return CODEC_OK;
  });
}

LONG Cccir601Planar::DecompressToYUV(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                                     const DWORD*, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("DecompressToYUV"), OnFault::kReportAndEnd, [&] {
    *Require(result) = nullptr;
    Decoding d{Planes(Require(in)), {}, 0, {}};
    const LONG status = PrepareDecode(in, frame, out, d);
    if (status != CODEC_OK) return status;
    BYTE* dst = AllocateFrame(allocator, out, result);
    if (!dst) return CODEC_E_NOFRAME;
    for (int f = 0; f < 2; ++f)
      for (int64_t r = 0; r < d.planes.rows; ++r)
        PlanesToYuvRow_C(d.planes.Row(d.fields[f], r), dst + d.host.At(f, r), d.bpp, d.planes.pairs);
    // The right-hand pixels' chroma, filled in place over exactly the rows
    // and whole pairs written above.
    if (d.planes.rows > 0 && d.planes.pairs > 0)
      YUV422MeshedToYUV444Meshed(dst, dst, 2 * d.planes.pairs, int(2 * d.planes.rows), ULONG(d.bpp),
                                 ULONG(d.host.stride), 0);
    return CODEC_OK;
  });
}

LONG Cccir601Planar::CompressFromBGR(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                                     const DWORD* flags, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd, [&] {
    *Require(result) = nullptr;
    Encoding e{Planes(Require(out)), {}, 0, {}};
    const LONG status = PrepareEncode(in, frame, out, flags, e);
    if (status != CODEC_OK) return status;
    BYTE* dst = AllocateFrame(allocator, out, result);
    if (!dst) return CODEC_E_UNEXPECTED;
    const Kernels k(*this);
    FastTables fast;  // once per frame: ColorLimit may have changed the limiting
    PrepareFast(k, &fast);
    const BYTE* src = static_cast<const BYTE*>(frame);
    BYTE* fields[2] = {dst, dst + out->biSizeImage / 2};
    for (int f = 0; f < 2; ++f)
      for (int64_t r = 0; r < e.planes.rows; ++r)
        BgrToPlanesRow(k, fast, src + e.host.At(f, r), e.bpp, e.alpha, e.planes.Row(fields[f], r), e.planes.pairs);
    return CODEC_OK;
  });
}

LONG Cccir601Planar::CompressFromYUV(const YUVBMINFOHEADER* in, const void* frame, YUVBMINFOHEADER* out, void** result,
                                     const DWORD* flags, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd, [&] {
    *Require(result) = nullptr;
    Encoding e{Planes(Require(out)), {}, 0, {}};
    const LONG status = PrepareEncode(in, frame, out, flags, e);
    if (status != CODEC_OK) return status;
    BYTE* dst = AllocateFrame(allocator, out, result);
    if (!dst) return CODEC_E_UNEXPECTED;
    const Kernels k(*this);
    const BYTE* src = static_cast<const BYTE*>(frame);
    BYTE* fields[2] = {dst, dst + out->biSizeImage / 2};
    for (int f = 0; f < 2; ++f)
      for (int64_t r = 0; r < e.planes.rows; ++r)
        YuvToPlanesRow_C(k, src + e.host.At(f, r), e.bpp, e.alpha, e.planes.Row(fields[f], r), e.planes.pairs);
    return CODEC_OK;
  });
}
