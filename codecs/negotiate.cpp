// The pieces of negotiation every codec shares: derived headers, the encoders'
// common input checks, the information query, Begin and End, fault reports.
#include <cstring>

#include "format.h"
#include "guard.h"

namespace tarnel {

void ReportFault(ICodec* codec, const WCHAR* cls, const WCHAR* op, OnFault what) {
  WCHAR where[96];
  plat::FormatW(where, 96, TEXT("%s::%s"), cls, op);
  zelk::dbgEx(where, nullptr, kCategory);
  if (what == OnFault::kReportAndEnd) codec->OnEnd();
}

LONG CheckEncoderInput(const YUVBMINFOHEADER* in, DWORD colorSpace, const WCHAR* cls) {
  if (in->biCompression != 0 && in->biCompression != FOURCC_YUV) {
    TARNEL_REJECT(TEXT("%s::CompressQuery() - Unsupported compression format 0x%08x \n"), cls, in->biCompression);
    return CODEC_E_FORMAT;
  }
  if (!Rgb24or32(in->biBitCount)) {
    TARNEL_REJECT(TEXT("%s::CompressQuery() - Unsupported biBitCount %d != (24|32)\n"), cls, int(in->biBitCount));
    return CODEC_E_FORMAT;
  }
  if (in->biPlanes != 1) {
    TARNEL_REJECT(TEXT("%s::CompressQuery() - Unsupported biPlanes %d != 1\n"), cls, int(in->biPlanes));
    return CODEC_E_FORMAT;
  }
  if (in->biHeight < 0 || (in->dwFormatFlag & 0x11)) {
    TARNEL_REJECT(TEXT("%s::CompressQuery() - Top down only supported for interlaced flags:%08x\n"), cls,
                  in->dwFormatFlag);
    return CODEC_E_FORMAT;
  }
  if (in->biCompression == FOURCC_YUV && !Yuv444(in, colorSpace)) {
    TARNEL_REJECT(TEXT("%s::CompressQuery() - Invalid YUVBMINFOHEADER\n"), cls);
    return CODEC_E_FORMAT;
  }
  return CODEC_OK;
}

namespace {
void SetYuvBlock(YUVBMINFOHEADER& h, DWORD colorSpace, DWORD subsampling) {
  h.dwExtDataOffset = kRgbHeader;
  h.dwColorSpace = colorSpace;
  h.dwBitsPerSample = 8;
  h.dwSubsampling = subsampling;
  h.dwVertSubsampling = 0;
}
}  // namespace

bool DeriveDecoded(const YUVBMINFOHEADER* in, const Alternative& alt, const DecodeStyle& style,
                   YUVBMINFOHEADER& out) {
  std::memset(&out, 0, sizeof out);
  std::memcpy(&out, in, kRgbHeader);
  LONG height = in->biHeight;
  if (!style.heightRuleA) {
    if (Abs(height) > 0x7FFFFFFF) return false;  // no positive height of that size
    height = LONG(Abs(height));
  } else if (height == 486 || height == 512) {
    height = 486;
  } else if (height == 576 || height == 608) {
    height = 576;
  }
  out.biSize = alt.yuv ? kYuvHeader : kRgbHeader;
  out.biCompression = alt.yuv ? FOURCC_YUV : 0;
  out.biBitCount = alt.bits;
  out.biPlanes = 1;
  out.biHeight = height;
  if (style.marker) out.dwMarker = FOURCC_KRAL;
  out.dwFormatFlag = in->biHeight <= style.ntscLimit ? 0x20 : 0;
  int64_t size;
  if (alt.bits == 16) {
    size = FrameBytes(height, int64_t(in->biWidth) * 2);
    out.dwRowAlign = DWORD(in->biWidth) * 2;
  } else {
    size = FrameBytes(height, Stride(in->biWidth, alt.bits));
  }
  if (!Fits32(size)) return false;
  out.biSizeImage = DWORD(size);
  if (alt.yuv) SetYuvBlock(out, style.colorSpace, alt.subsampling);
  else out.dwExtDataOffset = 0;
  return true;
}

LONG DecodeFormat(ICodec* codec, const WCHAR* cls, const YUVBMINFOHEADER* in, YUVBMINFOHEADER** out,
                  IFrameAllocator* allocator, DWORD index, const Alternative* alternatives, size_t count,
                  const DecodeStyle& style) {
  return Guarded(codec, cls, TEXT("DecompressGetFormat"), OnFault::kReport, [&] {
    LONG status = codec->DecompressQuery(in, nullptr);
    if (status != CODEC_OK) return status;
    if (index >= count) return CODEC_E_FORMAT;
    const Alternative& alt = alternatives[index];
    YUVBMINFOHEADER h;
    if (!DeriveDecoded(in, alt, style, h)) return CODEC_E_FORMAT;
    return Deliver(h, alt.yuv ? kYuvHeader : kRgbHeader, out, allocator, cls, TEXT("DecompressGetFormat"));
  });
}

void StartEncoded(const YUVBMINFOHEADER* in, DWORD compression, WORD bits, WORD planes, DWORD subsampling,
                  DWORD rowAlign, DWORD colorSpace, YUVBMINFOHEADER& out) {
  std::memset(&out, 0, sizeof out);
  std::memcpy(&out, in, kRgbHeader);
  out.biSize = kYuvHeader;
  out.biCompression = compression;
  out.biBitCount = bits;
  out.biPlanes = planes;
  out.dwRowAlign = rowAlign;
  SetYuvBlock(out, colorSpace, subsampling);
}

LONG Deliver(const YUVBMINFOHEADER& header, DWORD size, YUVBMINFOHEADER** output, IFrameAllocator* allocator,
             const WCHAR* cls, const WCHAR* op) {
  Require(output);
  void* block = Require(allocator)->Alloc(size, 0);
  if (!block) {
    zelk::dbgPrintf(kCategory, kLevelAllocation, TEXT("%s::%s: Allocation of %d bytes Failed!\r\n"), cls, op,
                    int(size));
    return CODEC_E_NOHEADER;
  }
  std::memcpy(block, &header, size);
  *output = static_cast<YUVBMINFOHEADER*>(block);
  return CODEC_OK;
}

LONG Info(ICodec* codec, const WCHAR* cls, DWORD id, DWORD* aux, void* value, const WCHAR* desc0,
          const WCHAR* desc1) {
  return Guarded(codec, cls, TEXT("GetInfo"), OnFault::kReport, [&] {
    switch (id) {
      case CODEC_INFO_DESCRIPTION:
      case CODEC_INFO_DESCRIPTION2:
        *static_cast<const WCHAR**>(Require(value)) = id == 0 ? desc0 : desc1;
        return CODEC_OK;
      case CODEC_INFO_2:
      case CODEC_INFO_3:
        *static_cast<DWORD*>(Require(value)) = id == 2 ? 0x10000 : 0;
        return CODEC_OK;
      case CODEC_INFO_6:
        *Require(aux) = 0;
        return CODEC_OK;
      default:
        return CODEC_E_NOTIMPL;
    }
  });
}

LONG Begin(ICodec* codec, const WCHAR* cls, const WCHAR* op, DWORD* started) {
  return Guarded(codec, cls, op, OnFault::kReportAndEnd, [&] {
    *Require(started) = 1;
    return codec->OnBegin();
  });
}

LONG End(ICodec* codec, const WCHAR* cls, const WCHAR* op) {
  return Guarded(codec, cls, op, OnFault::kReportAndEnd, [&] { return codec->OnEnd(); });
}

}  // namespace tarnel
