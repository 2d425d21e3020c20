// The packed codecs' conversions: the walkers that map the stored fields and
// rows onto the host's frame, on the row kernels of rows422.h.
//
// Each conversion first works out every row it will read and write and
// refuses the frame (CODEC_E_FORMAT, the output pointer null, nothing
// allocated, the headers untouched) when one of them would leave the input
// frame or the output frame it allocates (convert.h). Odd widths convert
// biWidth / 2 whole groups; the last column is neither read nor written.
#include "convert.h"
#include "format.h"
#include "kernels.h"
#include "rows422.h"

using namespace tarnel;

namespace {

const WCHAR kClass[] = TEXT("Cccir601Packed");

// Rows of one stored field: blank rows first, then picture rows.
struct Field {
  int64_t blank, rows;
};
Field FieldOf(LONG height, int fields, int f) {
  if (height == 512) return {26 / fields + (f == 0 ? 1 : 0), f == 0 ? 242 : 243};
  if (height == 608) return {32 / fields, 288};
  return {0, Abs(height) / fields};
}

// A stored frame in a buffer of `size` bytes: its fields, their bases (field 1
// at half the buffer) and the bytes of the groups of a row.
struct Stored {
  int fields;
  int64_t pairs, groupBytes, pitch, size;
  int64_t base[2];
  Field field[2];
};
Stored StoredOf(const YUVBMINFOHEADER* h, DWORD rowAlign, int64_t size) {
  Stored s;
  s.fields = (h->dwFormatFlag & 1) ? 2 : 1;
  s.pairs = h->biWidth > 0 ? h->biWidth / 2 : 0;
  s.groupBytes = s.pairs * 4;
  s.pitch = AlignedPitch(int64_t(h->biWidth) * 2, rowAlign);
  s.size = size;
  s.base[0] = 0;
  s.base[1] = size / 2;
  for (int f = 0; f < 2; ++f) s.field[f] = FieldOf(h->biHeight, s.fields, f);
  return s;
}
// The frame the layout needs when its header gives no size: every row at the pitch.
int64_t LayoutBytes(const YUVBMINFOHEADER* h) {
  return FrameBytes(h->biHeight, AlignedPitch(int64_t(h->biWidth) * 2, h->dwRowAlign));
}

// The picture line a field's first row holds: fields swap (odd lines first)
// when there are two of them and the stored height is at most 512.
int FirstLine(const Stored& s, int f, bool swap) { return s.fields == 2 && swap ? 1 - f : f; }

int BytesPerPixel(WORD bits) { return bits == 24 ? 3 : bits == 32 ? 4 : 0; }

// The host frame's rows for one field: the row that holds the field's first
// line and the step to the next. A bottom-up frame (`bottomUp`) keeps line 0
// in its last memory row.
struct HostRows {
  int64_t first, step;
};
HostRows HostRowsOf(bool bottomUp, LONG memoryRows, int line, int fields) {
  if (bottomUp) return {int64_t(memoryRows) - 1 - line, -fields};
  return {line, fields};
}

LONG Refuse(void** frame) {
  *Require(frame) = nullptr;
  return CODEC_E_FORMAT;
}

void Timing(const WCHAR* format, LONG width, LONG height, DWORD start) {
  zelk::dbgPrintf(kCategory, 4, format, int(width), int(height), int(GetTickCount() - start));
}

enum class Target { kBgr, kYuv };

}  // namespace

// ---- decoding ----

namespace {

LONG DecodeFull(Cccir601Packed* codec, const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                void** outFrame, IFrameAllocator* allocator, Target target) {
  const DWORD start = GetTickCount();
  Require(in);
  Require(out);
  const int bpp = BytesPerPixel(out->biBitCount);
  if (bpp == 0) return Refuse(outFrame);
  const Stored s = StoredOf(in, in->dwRowAlign, Readable(in, LayoutBytes(in)));
  const int64_t stride = Stride(out->biWidth, out->biBitCount);
  const int64_t outBytes = out->biSizeImage;
  const int64_t pixelBytes = s.pairs * 2 * bpp;
  // DecompressToBGR swaps only 720-wide frames, DecompressToYUV any.
  const bool swap = in->biHeight <= 512 && (target == Target::kYuv || in->biWidth == 720);
  HostRows host[2];
  for (int f = 0; f < s.fields; ++f) {
    const Field& field = s.field[f];
    host[f] = HostRowsOf(in->biHeight > 0, out->biHeight, FirstLine(s, f, swap), s.fields);
    if (!RowsInside(s.base[f], field.blank, 1, field.rows, s.pitch, s.groupBytes, s.size) ||
        !RowsInside(0, host[f].first, host[f].step, field.rows, stride, pixelBytes, outBytes))
      return Refuse(outFrame);
  }
  // The 486-line picture of a 512-row frame lacks its bottom line: black.
  int64_t fillBytes = 0;
  if (target == Target::kBgr && in->biWidth == 720 && in->biHeight == 512) fillBytes = int64_t(bpp) * 720;
  if (target == Target::kYuv && in->biHeight == 512 && in->biWidth > 0) fillBytes = int64_t(bpp) * in->biWidth;
  if (fillBytes > outBytes) return Refuse(outFrame);
  if (s.pairs > 0) Require(inFrame);

  BYTE* dst = AllocateFrame(allocator, out, outFrame);
  if (!dst) return CODEC_E_NOFRAME;
  const BYTE* src = static_cast<const BYTE*>(inFrame);
  const Kernels k(*codec);
  const FastRows fast = target == Target::kBgr ? FastRowsFor(k) : FastRows();
  if (s.pairs > 0) {
    for (int f = 0; f < s.fields; ++f) {
      const Field& field = s.field[f];
      for (int64_t i = 0; i < field.rows; ++i) {
        const BYTE* row = src + (s.base[f] + (field.blank + i) * s.pitch);
        BYTE* to = dst + (host[f].first + i * host[f].step) * stride;
        if (target == Target::kBgr) Row422ToBgr(k, fast, row, to, s.pairs, bpp);
        else Row422To444_Ref(row, to, s.pairs, bpp);
      }
    }
  }
  if (fillBytes > 0) {
    if (target == Target::kBgr) {
      for (int64_t i = 0; i < fillBytes; ++i) dst[i] = 0;
    } else {
      for (int64_t i = 0; i < fillBytes; i += bpp) {
        dst[i] = 16;
        dst[i + 1] = 128;
        dst[i + 2] = 128;
        if (bpp == 4) dst[i + 3] = 255;
      }
    }
  }
  Timing(target == Target::kBgr ? TEXT("Cccir601Packed::Time for Decoding (-> BGR(%dx%d))= %4d ms\n")
                                : TEXT("Cccir601Packed::Time for Decoding (-> YUV(%dx%d))= %4d ms\n"),
         out->biWidth, out->biHeight, start);
  return CODEC_OK;
}

// The half-size preview: the first field's rows, one pixel per group. A frame
// of one field holds its lines in order: every second one is taken, so that
// the preview shows the whole picture as with two fields.
LONG DecodeHalf(Cccir601Packed* codec, const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                void** outFrame, IFrameAllocator* allocator) {
  const DWORD start = GetTickCount();
  Require(in);
  Require(out);
  const int bpp = BytesPerPixel(out->biBitCount);
  if (bpp == 0) return Refuse(outFrame);
  const LONG width = out->biWidth / 2, height = out->biHeight / 2;
  const DWORD sizeImage = out->biSizeImage / 4;
  const Stored s = StoredOf(in, in->dwRowAlign, Readable(in, LayoutBytes(in)));
  Field field = s.field[0];
  if (in->biHeight != 512 && in->biHeight != 608) field.rows = Abs(in->biHeight) / 2;
  const int64_t rowStep = s.fields == 2 ? 1 : 2;
  const int64_t stride = Stride(width, out->biBitCount);
  const HostRows host = HostRowsOf(in->biHeight > 0, height, 0, 1);
  if (!RowsInside(0, field.blank, rowStep, field.rows, s.pitch, s.groupBytes, s.size) ||
      !RowsInside(0, host.first, host.step, field.rows, stride, s.pairs * bpp, sizeImage))
    return Refuse(outFrame);
  if (s.pairs > 0) Require(inFrame);

  out->biWidth = width;
  out->biHeight = height;
  out->biSizeImage = sizeImage;
  BYTE* dst = AllocateFrame(allocator, out, outFrame);
  if (!dst) return CODEC_E_NOFRAME;
  const BYTE* src = static_cast<const BYTE*>(inFrame);
  const Kernels k(*codec);
  if (s.pairs > 0) {
    for (int64_t i = 0; i < field.rows; ++i)
      Row422ToBgrHalf_Ref(k, src + (field.blank + i * rowStep) * s.pitch, dst + (host.first + i * host.step) * stride,
                          s.pairs, bpp);
  }
  Timing(TEXT("Cccir601Packed::Time for Decoding (-> BGR(%dx%d))= %4d ms\n"), width, height, start);
  return CODEC_OK;
}

}  // namespace

LONG Cccir601Packed::Decompress(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                                void** outFrame, const DWORD* flags, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd, [&] {
    if (Require(out)->biCompression != 0) return DecompressToYUV(in, inFrame, out, outFrame, flags, allocator);
    if (FlagsOf(flags) & kFlagHalf) return DecompressToBGRHalf(in, inFrame, out, outFrame, flags, allocator);
    return DecompressToBGR(in, inFrame, out, outFrame, flags, allocator);
  });
}

LONG Cccir601Packed::DecompressToBGR(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                                     void** outFrame, const DWORD*, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd,
                 [&] { return DecodeFull(this, in, inFrame, out, outFrame, allocator, Target::kBgr); });
}

LONG Cccir601Packed::DecompressToBGRHalf(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                                         void** outFrame, const DWORD*, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd,
                 [&] { return DecodeHalf(this, in, inFrame, out, outFrame, allocator); });
}

LONG Cccir601Packed::DecompressToYUV(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                                     void** outFrame, const DWORD*, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Decompress"), OnFault::kReportAndEnd,
                 [&] { return DecodeFull(this, in, inFrame, out, outFrame, allocator, Target::kYuv); });
}

// ---- encoding ----

namespace {

LONG Encode(Cccir601Packed* codec, const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
            void** outFrame, const DWORD* flags, IFrameAllocator* allocator, Target source) {
  const DWORD start = GetTickCount();
  Require(in);
  Require(out);
  const int bpp = BytesPerPixel(in->biBitCount);
  if (bpp == 0) return Refuse(outFrame);
  // RGB input: premultiplied unless dwAlphaMode says it has no alpha; 4:4:4
  // input: unless bit 0 of it does.
  const DWORD noAlpha = source == Target::kBgr ? in->dwAlphaMode : in->dwAlphaMode & 1;
  const bool premultiply = (FlagsOf(flags) & kFlagPremultiply) && bpp == 4 && noAlpha == 0;
  const DWORD rowAlign = out->dwRowAlign ? out->dwRowAlign : 4;
  const Stored s = StoredOf(out, rowAlign, out->biSizeImage);
  const int64_t inStride = Stride(in->biWidth, in->biBitCount);
  const int64_t readable = Readable(in, FrameBytes(in->biHeight, inStride));
  const int64_t pixelBytes = s.pairs * 2 * bpp;
  HostRows host[2];
  for (int f = 0; f < s.fields; ++f) {
    const Field& field = s.field[f];
    host[f] = HostRowsOf(out->biHeight > 0, in->biHeight, FirstLine(s, f, out->biHeight <= 512), s.fields);
    if (!RowsInside(s.base[f], 0, 1, field.blank + field.rows, s.pitch, s.groupBytes, s.size) ||
        !RowsInside(0, host[f].first, host[f].step, field.rows, inStride, pixelBytes, readable))
      return Refuse(outFrame);
  }
  if (s.pairs > 0) Require(inFrame);

  BYTE* dst = AllocateFrame(allocator, out, outFrame);
  if (!dst) return CODEC_E_UNEXPECTED;
  out->dwRowAlign = rowAlign;
  const BYTE* src = static_cast<const BYTE*>(inFrame);
  const Kernels k(*codec);
  const FastRows fast = source == Target::kBgr ? FastRowsFor(k) : FastRows();
  if (s.pairs > 0) {
    for (int f = 0; f < s.fields; ++f) {
      const Field& field = s.field[f];
      BYTE* to = dst + s.base[f];
      for (int64_t i = 0; i < field.blank; ++i, to += s.pitch) RowBlank422(to, s.pairs);
      for (int64_t i = 0; i < field.rows; ++i, to += s.pitch) {
        const BYTE* row = src + (host[f].first + i * host[f].step) * inStride;
        if (source == Target::kBgr) RowBgrTo422(k, fast, row, to, s.pairs, bpp, premultiply);
        else Row444To422_Ref(row, to, s.pairs, bpp, premultiply);
      }
    }
  }
  Timing(source == Target::kBgr ? TEXT("Cccir601Packed::Time for Encoding (<- BGR(%dx%d))= %4d ms\n")
                                : TEXT("Cccir601Packed::Time for Encoding (<- YUV(%dx%d))= %4d ms\n"),
         in->biWidth, in->biHeight, start);
  return CODEC_OK;
}

}  // namespace

LONG Cccir601Packed::Compress(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out, void** outFrame,
                              const DWORD* flags, IFrameAllocator* allocator, DWORD) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd, [&] {
    LimitFor(*this, flags);
    if (Require(in)->biCompression == 0) return CompressFromBGR(in, inFrame, out, outFrame, flags, allocator);
    return CompressFromYUV(in, inFrame, out, outFrame, flags, allocator);
  });
}

LONG Cccir601Packed::CompressFromBGR(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                                     void** outFrame, const DWORD* flags, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd,
                 [&] { return Encode(this, in, inFrame, out, outFrame, flags, allocator, Target::kBgr); });
}

LONG Cccir601Packed::CompressFromYUV(const YUVBMINFOHEADER* in, const void* inFrame, YUVBMINFOHEADER* out,
                                     void** outFrame, const DWORD* flags, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("Compress"), OnFault::kReportAndEnd,
                 [&] { return Encode(this, in, inFrame, out, outFrame, flags, allocator, Target::kYuv); });
}
