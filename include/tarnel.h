// Tarnel: the codec plug-in. Its one entry point registers six uncompressed
// YUV codecs with the host's codec registry; each negotiates frame formats
// described by the extended bitmap header below and converts single frames.
//
// The frame header is shared with the host and with Omrick's index helpers,
// which describe video formats with its first 144 bytes: every field lies at
// its documented offset on both targets (checked below).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// Four characters in memory order, read as one little-endian 32-bit value.
constexpr DWORD QzFourCC(char a, char b, char c, char d) {
  return DWORD(uint8_t(a)) | DWORD(uint8_t(b)) << 8 | DWORD(uint8_t(c)) << 16 | DWORD(uint8_t(d)) << 24;
}

constexpr DWORD FOURCC_YUV = QzFourCC('@', 'Y', 'U', 'V');   // 0x56555940: this suite's YUV layouts
constexpr DWORD FOURCC_UYVY = QzFourCC('U', 'Y', 'V', 'Y');  // 0x59565955: interleaved 4:2:2
constexpr DWORD FOURCC_KRAL = QzFourCC('K', 'R', 'A', 'L');  // 0x4C41524B: dwMarker of derived headers
static_assert(FOURCC_YUV == 0x56555940 && FOURCC_UYVY == 0x59565955 && FOURCC_KRAL == 0x4C41524B, "FourCC");

// The extended bitmap header: a BITMAPINFOHEADER extended to 144 bytes. It
// stands alone as the header of RGB frames (biSize 144, dwExtDataOffset 0).
// The reserved areas are carried from input to derived headers unchanged.
// Both records spell the 144 bytes out through one list, so that each is a
// plain standard-layout record whose offsets can be checked, and a YUV header
// can be handed on as an extended bitmap header.
#define QZ_BMINFOHEADER_FIELDS                                                    \
  DWORD biSize;          /* 144 for RGB frames, 160 for YUV frames */             \
  LONG biWidth;          /* pixels */                                             \
  LONG biHeight;         /* rows; negative: top-down RGB */                       \
  WORD biPlanes;         /* 1; 3 for the planar layout */                         \
  WORD biBitCount;       /* 16, 24 or 32 */                                       \
  DWORD biCompression;   /* 0 (RGB), FOURCC_YUV or FOURCC_UYVY */                 \
  DWORD biSizeImage;     /* bytes of the frame; 0 on input: no size given */      \
  LONG biXPelsPerMeter;                                                           \
  LONG biYPelsPerMeter;                                                           \
  DWORD biClrUsed;                                                                \
  DWORD biClrImportant;                                                           \
  DWORD dwExtDataOffset; /* offset of the YUV block: 144, or 0 for RGB */         \
  DWORD dwMarker;        /* FOURCC_KRAL in headers the decoders derive */         \
  DWORD dwAttributes;                                                             \
  DWORD dwAlphaMode;     /* 32-bit RGB input: 0 = the fourth byte is alpha */     \
  DWORD dwFormatFlag;    /* bit 0 two fields, bit 4 field order, bit 5 short */   \
  BYTE reserved60[24];                                                            \
  DWORD dwInterlace;     /* packed layout: interlaced content */                  \
  BYTE reserved88[20];                                                            \
  DWORD dwRowAlign;      /* row alignment in bytes; 0 means 4 */                  \
  BYTE reserved112[32];

#pragma pack(push, 1)
typedef struct tagQZBMINFOHEADER {
  QZ_BMINFOHEADER_FIELDS
} QZBMINFOHEADER;

// The header of YUV frames: the extended bitmap header and the YUV block.
typedef struct YUVBMINFOHEADER {
  QZ_BMINFOHEADER_FIELDS
  DWORD dwColorSpace;       // 0 CCIR 601, 2 ITU 709
  DWORD dwBitsPerSample;    // 8, or 0 meaning 8
  DWORD dwSubsampling;      // 0 planar, 16 / 128 4:4:4, 256 / 512 4:2:2
  DWORD dwVertSubsampling;  // only 0

  tagQZBMINFOHEADER& Bitmap() { return *reinterpret_cast<tagQZBMINFOHEADER*>(this); }
  const tagQZBMINFOHEADER& Bitmap() const { return *reinterpret_cast<const tagQZBMINFOHEADER*>(this); }
} YUVBMINFOHEADER;
#pragma pack(pop)

static_assert(sizeof(tagQZBMINFOHEADER) == 144 && sizeof(YUVBMINFOHEADER) == 160, "header sizes");
static_assert(offsetof(tagQZBMINFOHEADER, biWidth) == 4 && offsetof(tagQZBMINFOHEADER, biHeight) == 8 &&
                  offsetof(tagQZBMINFOHEADER, biPlanes) == 12 && offsetof(tagQZBMINFOHEADER, biBitCount) == 14 &&
                  offsetof(tagQZBMINFOHEADER, biCompression) == 16 &&
                  offsetof(tagQZBMINFOHEADER, biSizeImage) == 20 &&
                  offsetof(tagQZBMINFOHEADER, biXPelsPerMeter) == 24 &&
                  offsetof(tagQZBMINFOHEADER, biClrImportant) == 36,
              "the bitmap header");
static_assert(offsetof(tagQZBMINFOHEADER, dwExtDataOffset) == 40 && offsetof(tagQZBMINFOHEADER, dwMarker) == 44 &&
                  offsetof(tagQZBMINFOHEADER, dwAttributes) == 48 &&
                  offsetof(tagQZBMINFOHEADER, dwAlphaMode) == 52 &&
                  offsetof(tagQZBMINFOHEADER, dwFormatFlag) == 56 &&
                  offsetof(tagQZBMINFOHEADER, dwInterlace) == 84 &&
                  offsetof(tagQZBMINFOHEADER, dwRowAlign) == 108,
              "the extension");
static_assert(offsetof(YUVBMINFOHEADER, dwColorSpace) == 144 && offsetof(YUVBMINFOHEADER, dwBitsPerSample) == 148 &&
                  offsetof(YUVBMINFOHEADER, dwSubsampling) == 152 &&
                  offsetof(YUVBMINFOHEADER, dwVertSubsampling) == 156,
              "the YUV block");
