// Cccir601Planar: separate Y, Cb, Cr (and alpha) planes with rows padded to 64
// bytes, two fields. Negotiation (the conversions are in planar_convert.cpp).
#include "format.h"
#include "guard.h"

using namespace tarnel;

namespace {

const WCHAR kClass[] = TEXT("Cccir601Planar");

// The frame sizes the planar negotiation states: the decoder demands
// (Yrow + 2 Crow) per line, twice that for 32-bit frames; the encoder writes
// (Yrow + 2 Crow) per line plus 2 Yrow per line for 32-bit frames.
int64_t PlanarLine(LONG width) { return Yrow(width) + 2 * Crow(width); }

const Alternative kAlternatives[] = {kRgb32, kRgb24, kYuv444x32, kYuv444x24};

}  // namespace

Cccir601Planar::Cccir601Planar() = default;

TARNEL_SHARED_SLOTS(Cccir601Planar, TEXT("///TARQ YUV Compressor (Planar)"),
                    TEXT("///TARQ YUV Compressor (Planar768,2Fields)"))

LONG Cccir601Planar::DecompressQuery(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out) {
  return Guarded(this, kClass, TEXT("DecompressQuery"), OnFault::kReport, [&] {
    Require(in);
    if (in->biCompression != FOURCC_YUV || in->dwExtDataOffset == 0 || in->biSize < kYuvHeader) return CODEC_E_FORMAT;
    // The planar layout always holds two fields; another flag is only worth a warning.
    if (in->dwFormatFlag != 1)
      zelk::dbgPrintf(kCategory, 1, TEXT("!!!Cccir601Planar::DecompressQuery dwFormatFlag wrong in YUV!!!!\r\n"));
    bool ok = in->biPlanes == 3 && Rgb24or32(in->biBitCount) && in->dwColorSpace == 0 &&
              BitsPerSampleOk(in->dwBitsPerSample) && in->dwSubsampling == 0 &&
              (in->biSizeImage == 0 ||
               in->biSizeImage >= FrameBytes(in->biHeight, PlanarLine(in->biWidth) * (in->biBitCount == 32 ? 2 : 1)));
    if (ok && out)
      ok = RgbOut(out, in) && out->biPlanes == 1 && (out->biCompression == 0 || out->biCompression == FOURCC_YUV) &&
           out->biHeight == Abs(in->biHeight) && AttributesMatch(in, out) &&
           (out->biCompression != FOURCC_YUV || Yuv444(out, GetColorSpace()));
    return ok ? CODEC_OK : CODEC_E_FORMAT;
  });
}

LONG Cccir601Planar::DecompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                         IFrameAllocator* allocator, DWORD index) {
  return DecodeFormat(this, kClass, in, out, allocator, index, kAlternatives, {false, 488, true, 0});
}

LONG Cccir601Planar::DecompressBegin(const YUVBMINFOHEADER*, const YUVBMINFOHEADER*, DWORD* started) {
  return Begin(this, kClass, TEXT("DecompressBegin"), started);
}

LONG Cccir601Planar::CompressQuery(const YUVBMINFOHEADER* in, YUVBMINFOHEADER* out) {
  return Guarded(this, kClass, TEXT("CompressQuery"), OnFault::kReport, [&] {
    LONG status = CheckEncoderInput(Require(in), GetColorSpace(), kClass);
    if (status != CODEC_OK || !out) return status;
    const LONG h = out->biHeight;
    const bool ok = out->biCompression == FOURCC_YUV && out->dwExtDataOffset != 0 && out->biPlanes == 3 &&
                    out->biSize >= kYuvHeader && (h == 576 || h == 486 || h == 480) && out->dwColorSpace == 0 &&
                    BitsPerSampleOk(out->dwBitsPerSample) && out->dwSubsampling == 0 &&
                    out->dwVertSubsampling == 0 && Rgb24or32(out->biBitCount) && out->biWidth == in->biWidth &&
                    h == in->biHeight && AttributesMatch(in, out);
    const int64_t size =
        FrameBytes(h, PlanarLine(out->biWidth) + (out->biBitCount == 32 ? 2 * Yrow(out->biWidth) : 0));
    if (!ok || !Fits32(size)) return CODEC_E_FORMAT;
    out->biSizeImage = DWORD(size);
    return CODEC_OK;
  });
}

LONG Cccir601Planar::CompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                       IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("CompressGetFormat"), OnFault::kReport, [&] {
    LONG status = CompressQuery(in, nullptr);
    if (status != CODEC_OK) return status;
    YUVBMINFOHEADER h;
    StartEncoded(in, FOURCC_YUV, 24, 3, 0, 64, 0, h);
    h.dwFormatFlag = 1;
    const int64_t size = FrameBytes(h.biHeight, PlanarLine(h.biWidth));
    if (!Fits32(size)) return CODEC_E_FORMAT;
    h.biSizeImage = DWORD(size);
    return Deliver(h, kYuvHeader, out, allocator, kClass, TEXT("CompressGetFormat"));
  });
}

// The conversions are in planar_convert.cpp.
