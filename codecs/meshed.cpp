// Cccir601Meshed: interleaved 4:4:4, the stored frame in bitmap row order.
// Negotiation (the conversions are in meshed_convert.cpp).
#include "format.h"
#include "guard.h"

using namespace tarnel;

namespace {
const WCHAR kClass[] = TEXT("Cccir601Meshed");
const Alternative kAlternatives[] = {kRgb32};  // whatever the index
}

Cccir601Meshed::Cccir601Meshed() = default;

TARNEL_SHARED_SLOTS(Cccir601Meshed, TEXT("///TARQ YUV Compressor (Meshed)"),
                    TEXT("///TARQ YUV Compressor (YUV444(4) interleaved)"))

LONG Cccir601Meshed::DecompressQuery(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out) {
  return Guarded(this, kClass, TEXT("DecompressQuery"), OnFault::kReport, [&] {
    Require(in);
    bool ok = in->biCompression == FOURCC_YUV && in->dwExtDataOffset != 0 && in->biSize >= kYuvHeader &&
              in->dwFormatFlag != 1 && in->biPlanes == 1 && Rgb24or32(in->biBitCount) && in->dwColorSpace == 0 &&
              BitsPerSampleOk(in->dwBitsPerSample) && (in->dwSubsampling == 16 || in->dwSubsampling == 128) &&
              in->dwVertSubsampling == 0 &&
              (in->biSizeImage == 0 ||
               in->biSizeImage >= FrameBytes(in->biHeight, Stride(in->biWidth, in->biBitCount)));
    if (ok && out) ok = RgbOut(out, in) && out->biCompression == 0 && out->biHeight == Abs(in->biHeight);
    return ok ? CODEC_OK : CODEC_E_FORMAT;
  });
}

LONG Cccir601Meshed::DecompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                         IFrameAllocator* allocator, DWORD) {
  return DecodeFormat(this, kClass, in, out, allocator, 0, kAlternatives, {false, 488, false, 0});
}

LONG Cccir601Meshed::DecompressBegin(const YUVBMINFOHEADER*, const YUVBMINFOHEADER*, DWORD* started) {
  return Begin(this, kClass, TEXT("DecompressBegin"), started);
}

LONG Cccir601Meshed::CompressQuery(const YUVBMINFOHEADER* in, YUVBMINFOHEADER* out) {
  return Guarded(this, kClass, TEXT("CompressQuery"), OnFault::kReport, [&] {
    Require(in);
    if (in->biCompression != 0 || !Rgb24or32(in->biBitCount) || in->biHeight < 0 || (in->dwFormatFlag & 1))
      return CODEC_E_FORMAT;
    if (!out) return CODEC_OK;
    const bool ok = out->biCompression == FOURCC_YUV && out->biPlanes == 1 && out->dwExtDataOffset != 0 &&
                    out->biSize >= kYuvHeader && out->dwColorSpace == 0 && BitsPerSampleOk(out->dwBitsPerSample) &&
                    (out->dwSubsampling == 16 || out->dwSubsampling == 128) && out->dwVertSubsampling == 0 &&
                    Rgb24or32(out->biBitCount) && out->biWidth == in->biWidth &&
                    Abs(out->biHeight) == in->biHeight && AttributesMatch(in, out);
    const int64_t size = FrameBytes(out->biHeight, Stride(out->biWidth, out->biBitCount));
    if (!ok || !Fits32(size)) return CODEC_E_FORMAT;
    out->biSizeImage = DWORD(size);
    return CODEC_OK;
  });
}

LONG Cccir601Meshed::CompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                       IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("CompressGetFormat"), OnFault::kReport, [&] {
    LONG status = CompressQuery(in, nullptr);
    if (status != CODEC_OK) return status;
    YUVBMINFOHEADER h;
    StartEncoded(in, FOURCC_YUV, 32, 1, 16, 4, 0, h);  // dwFormatFlag stays the input's
    const int64_t size = FrameBytes(h.biHeight, int64_t(h.biWidth) * 4);
    if (!Fits32(size)) return CODEC_E_FORMAT;
    h.biSizeImage = DWORD(size);
    return Deliver(h, kYuvHeader, out, allocator, kClass, TEXT("CompressGetFormat"));
  });
}

// The conversions are in meshed_convert.cpp.
