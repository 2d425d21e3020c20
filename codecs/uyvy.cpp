// CTarnelYVY: progressive interleaved 4:2:2 under the FourCC UYVY, for 486-
// and 576-line frames. Negotiation; the conversions are in uyvy_convert.cpp.
#include "format.h"
#include "guard.h"

using namespace tarnel;

namespace {
const WCHAR kClass[] = TEXT("CTarnelYVY");
const Alternative kAlternatives[] = {kRgb32, kRgb24, kYuv444x32, kYuv444x24, kRgb32};
}  // namespace

CTarnelYVY::CTarnelYVY() {
  plat::WCopy(szDesc0, 64, TEXT("AVI UYVY Compressor"));
  plat::WCopy(szDesc1, 64, TEXT("YUV Compressor UYVY interleaved "));
}

TARNEL_SHARED_SLOTS(CTarnelYVY, szDesc0, szDesc1)

LONG CTarnelYVY::DecompressQuery(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out) {
  return Guarded(this, kClass, TEXT("DecompressQuery"), OnFault::kReport, [&] {
    Require(in);
    bool ok = in->biCompression == FOURCC_UYVY && in->dwExtDataOffset != 0 && in->biSize >= kYuvHeader &&
              in->dwFormatFlag != 1 && in->biPlanes == 1 && in->biBitCount == 16 && in->dwColorSpace == 0 &&
              BitsPerSampleOk(in->dwBitsPerSample) && in->dwSubsampling == 512 && in->dwVertSubsampling == 0 &&
              (in->biSizeImage == 0 || in->biSizeImage >= FrameBytes(in->biHeight, Stride(in->biWidth, 16)));
    if (ok && out)
      ok = RgbOut(out, in) && (out->biCompression == 0 || out->biCompression == FOURCC_YUV) &&
           out->biHeight == Abs(in->biHeight) && (out->biCompression != FOURCC_YUV || Yuv444(out, 0));
    return ok && HeightsMatch(kDecodeStandard, in->biHeight, out) ? CODEC_OK : CODEC_E_FORMAT;
  });
}

LONG CTarnelYVY::DecompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out, IFrameAllocator* allocator,
                                     DWORD index) {
  return DecodeFormat(this, kClass, in, out, allocator, index, kAlternatives, {true, 512, true, 0});
}

LONG CTarnelYVY::DecompressBegin(const YUVBMINFOHEADER*, const YUVBMINFOHEADER*, DWORD* started) {
  return Begin(this, kClass, TEXT("DecompressBegin"), started);
}

LONG CTarnelYVY::CompressQuery(const YUVBMINFOHEADER* in, YUVBMINFOHEADER* out) {
  return Guarded(this, kClass, TEXT("CompressQuery"), OnFault::kReport, [&] {
    Require(in);
    if ((in->biCompression != 0 && in->biCompression != FOURCC_YUV) || !Rgb24or32(in->biBitCount) ||
        in->biHeight < 0 || (in->dwFormatFlag & 1))
      return CODEC_E_FORMAT;
    if (in->biCompression == FOURCC_YUV && !Yuv444(in, 0)) {
      TARNEL_REJECT(TEXT("CTarnelYVY::CompressQuery() - Invalid YUVBMINFOHEADER\n"));
      return CODEC_E_FORMAT;
    }
    if (out) {
      const bool ok = out->biCompression == FOURCC_UYVY && out->biPlanes == 1 && out->biBitCount == 16 &&
                      out->dwExtDataOffset != 0 && out->biSize >= kYuvHeader && out->dwColorSpace == 0 &&
                      BitsPerSampleOk(out->dwBitsPerSample) && out->dwSubsampling == 512 &&
                      out->dwVertSubsampling == 0 && out->biWidth == in->biWidth &&
                      Abs(out->biHeight) == in->biHeight && AttributesMatch(in, out);
      if (!ok) return CODEC_E_FORMAT;
    }
    if (!HeightsMatch(kEncodeStandard, in->biHeight, out)) return CODEC_E_FORMAT;
    if (out) {
      const int64_t size = FrameBytes(out->biHeight, Stride(out->biWidth, out->biBitCount));
      if (!Fits32(size)) return CODEC_E_FORMAT;
      out->biSizeImage = DWORD(size);
    }
    return CODEC_OK;
  });
}

LONG CTarnelYVY::CompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out, IFrameAllocator* allocator) {
  return Guarded(this, kClass, TEXT("CompressGetFormat"), OnFault::kReport, [&] {
    LONG status = CompressQuery(in, nullptr);
    if (status != CODEC_OK) return status;
    YUVBMINFOHEADER h;
    StartEncoded(in, FOURCC_UYVY, 16, 1, 512, 4, 0, h);
    h.dwFormatFlag = Abs(h.biHeight) < 525 ? 0x20 : 0;
    const int64_t size = FrameBytes(h.biHeight, Stride(h.biWidth, 16));
    if (!Fits32(size)) return CODEC_E_FORMAT;
    h.biSizeImage = DWORD(size);
    return Deliver(h, kYuvHeader, out, allocator, kClass, TEXT("CompressGetFormat"));
  });
}
