// What the codecs' negotiation reads in frame headers: derived sizes, the
// checks every codec shares, the frame-height rules, and the building of
// derived headers. Sizes compare as the true numbers they stand for; a size
// that the 32-bit biSizeImage cannot hold describes no frame.
#pragma once

#include <cstdint>

#include "tarnel.h"

namespace tarnel {

constexpr DWORD kRgbHeader = 144;  // the extended bitmap header alone
constexpr DWORD kYuvHeader = 160;  // with the YUV block
constexpr int kCategory = 8;       // the codecs' debug category
constexpr int kLevelAllocation = 2, kLevelRejection = 3;

inline int64_t Abs(LONG v) { return v < 0 ? -int64_t(v) : int64_t(v); }
inline int64_t RoundDown(int64_t v, int64_t multiple) { return v & ~(multiple - 1); }  // floor
// Bytes of an interleaved row: (width * bits / 8 + 3) rounded down to a multiple of 4.
inline int64_t Stride(LONG width, DWORD bits) { return RoundDown(int64_t(width) * bits / 8 + 3, 4); }
// Planar rows: luma and chroma rows rounded up to a multiple of 64 bytes.
inline int64_t Yrow(LONG width) { return RoundDown(int64_t(width) + 63, 64); }
inline int64_t Crow(LONG width) { return RoundDown(int64_t(width) / 2 + 63, 64); }
inline bool Fits32(int64_t v) { return v >= 0 && v <= int64_t(0xFFFFFFFFu); }
// The bytes of abs(height) rows of rowBytes each. Rows and heights of any
// header stay far inside 64 bits, their product need not: it saturates, which
// keeps every comparison with a 32-bit size and every Fits32 exact.
inline int64_t FrameBytes(LONG height, int64_t rowBytes) {
  int64_t bytes;
  if (__builtin_mul_overflow(Abs(height), rowBytes, &bytes)) return rowBytes < 0 ? INT64_MIN : INT64_MAX;
  return bytes;
}

inline bool BitsPerSampleOk(DWORD bits) { return bits == 8 || bits == 0; }
inline bool Rgb24or32(DWORD bits) { return bits == 24 || bits == 32; }
// dwAttributes equal apart from bit 3.
inline bool AttributesMatch(const YUVBMINFOHEADER* a, const YUVBMINFOHEADER* b) {
  return ((a->dwAttributes ^ b->dwAttributes) & ~DWORD(8)) == 0;
}
// A decoder's output: 24 or 32 bits, bottom-up, one field, the input's width.
inline bool RgbOut(const YUVBMINFOHEADER* out, const YUVBMINFOHEADER* in) {
  return Rgb24or32(out->biBitCount) && out->biHeight >= 0 && !(out->dwFormatFlag & 1) && out->biWidth == in->biWidth;
}
// A header that has the YUV block: its offset, and a size that holds it (a
// YUV header of less than 160 bytes is refused). Checked before any field of
// the block is read, so that no header is read beyond the size it states.
inline bool HasYuvBlock(const YUVBMINFOHEADER* h) {
  return h->dwExtDataOffset == kRgbHeader && h->biSize >= kYuvHeader;
}
// A 4:4:4 YUV header (a decoder's output or an encoder's input).
inline bool Yuv444(const YUVBMINFOHEADER* h, DWORD colorSpace) {
  return HasYuvBlock(h) && h->dwColorSpace == colorSpace && h->dwSubsampling == 16 && h->dwVertSubsampling == 0;
}

// A frame-height rule: input height from[i] requires output height to[i];
// without an output header the expected height is to[0] when the input height
// is below the limit (or at it, when atLimit), else to[1].
struct HeightRule {
  LONG from[2], to[2];
  LONG limit;
  bool atLimit;
};
inline bool HeightsMatch(const HeightRule& rule, LONG inputHeight, const YUVBMINFOHEADER* output) {
  LONG required;
  if (inputHeight == rule.from[0]) required = rule.to[0];
  else if (inputHeight == rule.from[1]) required = rule.to[1];
  else return false;
  const bool small = rule.atLimit ? inputHeight <= rule.limit : inputHeight < rule.limit;
  const LONG expected = output ? output->biHeight : small ? rule.to[0] : rule.to[1];
  return expected == required;
}
constexpr HeightRule kDecodeStandard = {{486, 576}, {486, 576}, 512, false};
constexpr HeightRule kDecodeExtended = {{512, 608}, {486, 576}, 512, true};
constexpr HeightRule kEncodeStandard = {{486, 576}, {486, 576}, 512, true};
constexpr HeightRule kEncodeExtended = {{486, 576}, {512, 608}, 512, false};

// Messages of the Query operations (category 8, level 3).
#define TARNEL_REJECT(...) zelk::dbgPrintf(::tarnel::kCategory, ::tarnel::kLevelRejection, __VA_ARGS__)

// The input checks that the packed and planar encoders share, in their order,
// with the class's messages; CODEC_OK when they pass.
LONG CheckEncoderInput(const YUVBMINFOHEADER* input, DWORD colorSpace, const WCHAR* cls);

// ---- derived headers ----

// The kinds of output alternatives a decoder offers.
struct Alternative {
  bool yuv;
  WORD bits;
  DWORD subsampling;  // YUV results only
};
constexpr Alternative kRgb32 = {false, 32, 0}, kRgb24 = {false, 24, 0};
constexpr Alternative kYuv444x32 = {true, 32, 16}, kYuv444x24 = {true, 24, 16};
constexpr Alternative kYuv422Uyvy = {true, 16, 512}, kYuv422 = {true, 16, 256};

// How a decoder derives its alternatives from the stored header.
struct DecodeStyle {
  bool heightRuleA;  // 486 and 512 give 486, 576 and 608 give 576; else the absolute height
  LONG ntscLimit;    // dwFormatFlag is 0x20 when the stored height is at most this, else 0
  bool marker;       // dwMarker "KRAL"
  DWORD colorSpace;  // of YUV results
};

// The header of one decoder alternative, built in `out` (160 bytes) from the
// stored header. False when its frame size does not fit biSizeImage.
bool DeriveDecoded(const YUVBMINFOHEADER* input, const Alternative& alt, const DecodeStyle& style,
                   YUVBMINFOHEADER& out);

// A decoder's DecompressGetFormat: the codec's own DecompressQuery(input,
// null) first, then alternative `index` of the list, derived in `style`.
LONG DecodeFormat(ICodec* codec, const WCHAR* cls, const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,
                  IFrameAllocator* allocator, DWORD index, const Alternative* alternatives, size_t count,
                  const DecodeStyle& style);
template <size_t N>
LONG DecodeFormat(ICodec* codec, const WCHAR* cls, const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,
                  IFrameAllocator* allocator, DWORD index, const Alternative (&alternatives)[N],
                  const DecodeStyle& style) {
  return DecodeFormat(codec, cls, input, output, allocator, index, alternatives, N, style);
}

// The start of an encoder's stored header: the input's first 144 bytes and the
// YUV block, biSize 160.
void StartEncoded(const YUVBMINFOHEADER* input, DWORD compression, WORD bits, WORD planes, DWORD subsampling,
                  DWORD rowAlign, DWORD colorSpace, YUVBMINFOHEADER& out);

// Hands a derived header (its first `size` bytes) to the caller in a new block
// of the allocator; on a null block prints "CLS::OP: Allocation of N bytes
// Failed!" and returns CODEC_E_NOHEADER.
LONG Deliver(const YUVBMINFOHEADER& header, DWORD size, YUVBMINFOHEADER** output, IFrameAllocator* allocator,
             const WCHAR* cls, const WCHAR* op);

// What the shared slots do: the information query, Begin and End.
LONG Info(ICodec* codec, const WCHAR* cls, DWORD id, DWORD* aux, void* value, const WCHAR* desc0,
          const WCHAR* desc1);
LONG Begin(ICodec* codec, const WCHAR* cls, const WCHAR* op, DWORD* started);
LONG End(ICodec* codec, const WCHAR* cls, const WCHAR* op);

}  // namespace tarnel

// The slots every codec class implements alike: the information query (with
// the class's two description strings), SetInfo, CompressBegin and the End
// operations. `kClass` is the class name its messages carry.
#define TARNEL_SHARED_SLOTS(Class, desc0, desc1)                                                                \
  LONG Class::GetInfo(DWORD id, DWORD* aux, void* value) {                                                     \
    return ::tarnel::Info(this, kClass, id, aux, value, desc0, desc1);                                         \
  }                                                                                                            \
  LONG Class::SetInfo(DWORD, DWORD, DWORD) { return CODEC_E_NOTIMPL; }                                         \
  LONG Class::CompressBegin(const YUVBMINFOHEADER*, const YUVBMINFOHEADER*, DWORD* started) {                  \
    return ::tarnel::Begin(this, kClass, TEXT("CompressBegin"), started);                                      \
  }                                                                                                            \
  LONG Class::DecompressEnd(DWORD) { return ::tarnel::End(this, kClass, TEXT("DecompressEnd")); }              \
  LONG Class::CompressEnd(DWORD) { return ::tarnel::End(this, kClass, TEXT("CompressEnd")); }
