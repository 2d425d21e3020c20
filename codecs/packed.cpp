// The packed codecs: 4:2:2 as Cb, Y0, Cr, Y1, normally two fields. One
// implementation serves the three classes (their messages all carry the name
// Cccir601Packed); the extended one stores 720-wide pictures of 486 and 576
// lines in frames of 512 and 608 rows, the ITU 709 one labels its frames with
// colour space 2. Negotiation; the conversions are in packed_convert.cpp.
#include "format.h"
#include "guard.h"

using namespace tarnel;

namespace {

const WCHAR kClass[] = TEXT("Cccir601Packed");

const Alternative kAlternatives[] = {kRgb32, kRgb24, kYuv444x32, kYuv444x24, kRgb32, kYuv422Uyvy, kYuv422};

#define PACKED_REJECT(text) TARNEL_REJECT(TEXT("Cccir601Packed::DecompressQuery() - ") TEXT(text))

}  // namespace

Cccir601Packed::Cccir601Packed()
    : Cccir601Packed(TEXT("///TARQ YUV Compressor (Packed)"), TEXT("///TARQ YUV Compressor (Packed 2VUY,2 fields)")) {}

Cccir601Packed::Cccir601Packed(const WCHAR* desc0, const WCHAR* desc1) {
  plat::WCopy(szDesc0, 64, desc0);
  plat::WCopy(szDesc1, 64, desc1);
}

Cccir601PackedExtd::Cccir601PackedExtd()
    : Cccir601Packed(TEXT("///TARQ YUV Compressor (Packed,Extd)"),
                     TEXT("///TARQ YUV Compressor (Packed 2VUY,2 fields,Extd)")) {}

Cccir601Packed709::Cccir601Packed709()
    : Cccir601Packed(TEXT("ITU709 Compressor (Packed)"), TEXT("ITU709 Compressor (Packed 2VUY,2 fields)")) {}

DWORD Cccir601Packed709::GetColorSpace() { return 2; }

TARNEL_SHARED_SLOTS(Cccir601Packed, szDesc0, szDesc1)

LONG Cccir601Packed::QueryDecode(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out, bool extended) {
  return Guarded(this, kClass, TEXT("DecompressQuery"), OnFault::kReport, [&] {
    Require(in);
    if (in->biCompression != FOURCC_YUV) return CODEC_E_FORMAT;
    const DWORD colorSpace = GetColorSpace();
    bool passed = false;
    if (in->dwExtDataOffset == 0) {
      PACKED_REJECT("dwExtDataOffset == 0 \n");
    } else if (in->biSize < kYuvHeader) {
      PACKED_REJECT("Header size  < sizeof(YUVBMINFOHEADER)\n");
    } else if (!(in->dwFormatFlag & 1) && in->dwInterlace == 0) {
      PACKED_REJECT("Interlaced format not supported\n");
    } else if (in->biPlanes != 1) {
      PACKED_REJECT("Planar format not supported\n");
    } else if (in->biBitCount != 16 && in->biBitCount != 24) {
      PACKED_REJECT("Bitcount not 16\n");
    } else if (in->dwColorSpace != colorSpace) {
      PACKED_REJECT("Wrong Color space\n");
    } else if (!BitsPerSampleOk(in->dwBitsPerSample)) {
      TARNEL_REJECT(TEXT("Cccir601Packed::DecompressQuery() - Unsupported bits per sample (%d)\n"),
                    int(in->dwBitsPerSample));
    } else if (in->dwSubsampling != 512) {
      PACKED_REJECT("Horizontal subsampling not 422_UYVY\n");
    } else if (in->dwVertSubsampling != 0) {
      PACKED_REJECT("Vertical subsampling not 422\n");
    } else {
      passed = true;
    }
    if (!passed) return CODEC_E_FORMAT;
    if (in->biSizeImage != 0 && in->biSizeImage < FrameBytes(in->biHeight, Stride(in->biWidth, 16)))
      return CODEC_E_FORMAT;
    if (out) {
      const bool yuv = out->biCompression == FOURCC_YUV;
      const bool ok = Rgb24or32(out->biBitCount) && out->biHeight >= 0 && !(out->dwFormatFlag & 1) &&
                      (out->biCompression == 0 || yuv) && out->biWidth == in->biWidth &&
                      (!yuv || (HasYuvBlock(out) && out->dwColorSpace == colorSpace &&
                                (out->dwSubsampling == 16 || out->dwSubsampling == 256 || out->dwSubsampling == 512) &&
                                out->dwVertSubsampling == 0));
      if (!ok) return CODEC_E_FORMAT;
    }
    const bool heights = extended ? in->biWidth == 720 && HeightsMatch(kDecodeExtended, in->biHeight, out)
                                  : in->biWidth != 720 || HeightsMatch(kDecodeStandard, in->biHeight, out);
    return heights ? CODEC_OK : CODEC_E_FORMAT;
  });
}

LONG Cccir601Packed::QueryEncode(const YUVBMINFOHEADER* in, YUVBMINFOHEADER* out, bool extended) {
  return Guarded(this, kClass, TEXT("CompressQuery"), OnFault::kReport, [&] {
    const DWORD colorSpace = GetColorSpace();
    LONG status = CheckEncoderInput(Require(in), colorSpace, kClass);
    if (status != CODEC_OK) return status;
    if (out) {
      if (out->biCompression != FOURCC_YUV) {
        TARNEL_REJECT(TEXT("Cccir601Packed::CompressQuery() - Only YUV output supported\n"));
        return CODEC_E_FORMAT;
      }
      const bool ok = out->biPlanes == 1 && out->dwExtDataOffset != 0 && (out->dwFormatFlag & 1) &&
                      out->biSize >= kYuvHeader && out->dwColorSpace == colorSpace &&
                      BitsPerSampleOk(out->dwBitsPerSample) && out->dwSubsampling == 512 &&
                      out->dwVertSubsampling == 0 && (out->biBitCount == 16 || out->biBitCount == 24) &&
                      out->biWidth == in->biWidth;
      if (!ok) return CODEC_E_FORMAT;
    }
    const bool heights = extended ? in->biWidth == 720 && HeightsMatch(kEncodeExtended, in->biHeight, out)
                                  : in->biWidth != 720 || HeightsMatch(kEncodeStandard, in->biHeight, out);
    if (!heights) return CODEC_E_FORMAT;
    if (out) {
      const int64_t size = FrameBytes(out->biHeight, int64_t(out->biWidth) * 2);
      if (!Fits32(size)) return CODEC_E_FORMAT;
      out->biSizeImage = DWORD(size);
    }
    return CODEC_OK;
  });
}

LONG Cccir601Packed::FormatEncode(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out, IFrameAllocator* allocator,
                                  bool extended) {
  return Guarded(this, kClass, TEXT("CompressGetFormat"), OnFault::kReport, [&] {
    LONG status = CompressQuery(in, nullptr);  // the codec's own rules
    if (status != CODEC_OK) return status;
    YUVBMINFOHEADER h;
    StartEncoded(in, FOURCC_YUV, 16, 1, 512, 4, GetColorSpace(), h);
    if (in->dwInterlace == 0 || in->biWidth == 720) h.dwFormatFlag = 1;
    if (extended && h.biHeight == 486) h.biHeight = 512;
    if (extended && h.biHeight == 576) h.biHeight = 608;
    const int64_t size = FrameBytes(h.biHeight, Stride(h.biWidth, 16));
    if (!Fits32(size)) return CODEC_E_FORMAT;
    h.biSizeImage = DWORD(size);
    return Deliver(h, kYuvHeader, out, allocator, kClass, TEXT("CompressGetFormat"));
  });
}

LONG Cccir601Packed::DecompressQuery(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out) {
  return QueryDecode(in, out, false);
}
LONG Cccir601Packed::CompressQuery(const YUVBMINFOHEADER* in, YUVBMINFOHEADER* out) {
  return QueryEncode(in, out, false);
}
LONG Cccir601Packed::CompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                       IFrameAllocator* allocator) {
  return FormatEncode(in, out, allocator, false);
}
LONG Cccir601PackedExtd::DecompressQuery(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out) {
  return QueryDecode(in, out, true);
}
LONG Cccir601PackedExtd::CompressQuery(const YUVBMINFOHEADER* in, YUVBMINFOHEADER* out) {
  return QueryEncode(in, out, true);
}
LONG Cccir601PackedExtd::CompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                           IFrameAllocator* allocator) {
  return FormatEncode(in, out, allocator, true);
}

LONG Cccir601Packed::DecompressGetFormat(const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                                         IFrameAllocator* allocator, DWORD index) {
  // The codec's own query first: the extended rules for the extended class.
  return DecodeFormat(this, kClass, in, out, allocator, index, kAlternatives,
                      {true, 512, true, GetColorSpace()});
}

LONG Cccir601Packed::DecompressBegin(const YUVBMINFOHEADER* in, const YUVBMINFOHEADER* out, DWORD* started) {
  return Guarded(this, kClass, TEXT("DecompressBegin"), OnFault::kReportAndEnd, [&] {
    LONG status = DecompressQuery(in, out);
    if (status < 0) return status;
    *Require(started) = 1;
    return OnBegin();
  });
}
