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
#include "zelku.h"

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

// ---- the codec interface ----
//
// Binary shape, the same for every host: interfaces are objects whose first
// member points to a table of virtual operations, called with the platform's
// member calling convention (__thiscall on win32). Slot 0 of ICodec is the
// deleting destructor (one slot, as the host expects it): it destroys the
// object and, when bit 0 of `flags` is set, returns its memory. No ICodec is
// ever deleted with the delete operator.
//
// Headers: the frame header of every operation is a YUVBMINFOHEADER or, for
// RGB frames, its first 144 bytes alone (tagQZBMINFOHEADER with biSize 144).
// Every header has at least those 144 bytes; the YUV block is read only when
// biSize is 160 or more (a YUV header with less is refused), so that no header
// is read beyond the size it states.
//
// Sizes: the frame sizes the negotiation derives compare as the true numbers
// (no wrap-around). A frame whose size biSizeImage cannot hold (negative, or
// more than 0xFFFFFFFF bytes) is refused with CODEC_E_FORMAT, silently, by the
// query that would write its size and by the GetFormat that would derive it,
// before anything is allocated. Likewise a decoder whose result takes the
// absolute value of the stored height refuses a height of -2^31, which no
// bottom-up header can hold.

#ifdef _WIN32
#define CODEC_CALL __thiscall
#else
#define CODEC_CALL
#endif

// Status codes of codec operations (negative: failure).
constexpr LONG CODEC_OK = 0;
constexpr LONG CODEC_E_FORMAT = static_cast<LONG>(0x80000001u);      // format not accepted
constexpr LONG CODEC_E_NOHEADER = static_cast<LONG>(0x80000002u);    // a header could not be allocated
constexpr LONG CODEC_E_NOTIMPL = static_cast<LONG>(0x80004001u);     // not implemented
constexpr LONG CODEC_E_NOFRAME = static_cast<LONG>(0x80004005u);     // decoding: no output frame
constexpr LONG CODEC_E_UNEXPECTED = static_cast<LONG>(0x8000FFFFu);  // a fault was caught; encoding: no output frame

// The interface version EnumerateCodecs demands and GetVersion answers.
constexpr DWORD CODEC_INTERFACE_VERSION = 0x10002;
// GetCapabilities of every codec here.
constexpr LONG CODEC_CAPABILITIES = 0x29;

// Information ids of GetInfo.
enum : DWORD {
  CODEC_INFO_DESCRIPTION = 0,  // const WCHAR* through `value` (a pointer-sized cell)
  CODEC_INFO_DESCRIPTION2 = 1, // const WCHAR* through `value`
  CODEC_INFO_2 = 2,            // DWORD 0x10000 through `value`
  CODEC_INFO_3 = 3,            // DWORD 0 through `value`
  CODEC_INFO_6 = 6,            // DWORD 0 through `aux`; `value` untouched
};

// Processing flags of Decompress and Compress (a null flag pointer: all clear).
enum : DWORD {
  CODEC_FLAG_PREMULTIPLY = 0x8,  // encoders: premultiply 32-bit input by its alpha
  CODEC_FLAG_HALF = 0x80,        // packed decoding to RGB: half width and height
  CODEC_FLAG_NOLIMIT = 0x100,    // encoders: full range instead of studio-range limiting
  CODEC_FLAG_HALF2 = 0x200,      // the same as CODEC_FLAG_HALF
};

// The host's frame allocator (slot 1 is all that codecs call).
class IFrameAllocator {
 public:
  virtual void CODEC_CALL HostSlot0() {}  // the host's own
  // At least `size` writable bytes, or null; `flags` is 0. What a codec gets
  // here goes to the caller and is never freed by the codec.
  virtual void* CODEC_CALL Alloc(DWORD size, DWORD flags) = 0;

 protected:
  ~IFrameAllocator() = default;
};

class ICodec;

// The host's codec registry (slot 18 is all that EnumerateCodecs calls).
class ICodecRegistry {
 public:
  // Slots 0 to 17 are the host's own.
  virtual void CODEC_CALL HostSlot0() {}
  virtual void CODEC_CALL HostSlot1() {}
  virtual void CODEC_CALL HostSlot2() {}
  virtual void CODEC_CALL HostSlot3() {}
  virtual void CODEC_CALL HostSlot4() {}
  virtual void CODEC_CALL HostSlot5() {}
  virtual void CODEC_CALL HostSlot6() {}
  virtual void CODEC_CALL HostSlot7() {}
  virtual void CODEC_CALL HostSlot8() {}
  virtual void CODEC_CALL HostSlot9() {}
  virtual void CODEC_CALL HostSlot10() {}
  virtual void CODEC_CALL HostSlot11() {}
  virtual void CODEC_CALL HostSlot12() {}
  virtual void CODEC_CALL HostSlot13() {}
  virtual void CODEC_CALL HostSlot14() {}
  virtual void CODEC_CALL HostSlot15() {}
  virtual void CODEC_CALL HostSlot16() {}
  virtual void CODEC_CALL HostSlot17() {}
  // Offers a codec (possibly null). Negative: refused, and the caller keeps
  // (and deletes) the codec; zero or positive: the registry owns it now.
  virtual LONG CODEC_CALL RegisterCodec(DWORD fourcc, ICodec* codec) = 0;

 protected:
  ~ICodecRegistry() = default;
};

class ICodec {
 public:
  virtual void* CODEC_CALL DeletingDestructor(UINT flags) = 0;  // 0
  virtual LONG CODEC_CALL Destroy() = 0;                        // 1: deletes the object
  virtual LONG CODEC_CALL GetVersion() = 0;                     // 2: CODEC_INTERFACE_VERSION
  virtual LONG CODEC_CALL GetCapabilities() = 0;                // 3: CODEC_CAPABILITIES
  virtual LONG CODEC_CALL OnBegin() = 0;                        // 4: 0, ends every Begin
  virtual LONG CODEC_CALL OnEnd() = 0;                          // 5: 0, ends every End
  virtual LONG CODEC_CALL GetInfo(DWORD id, DWORD* aux, void* value) = 0;  // 6
  virtual LONG CODEC_CALL SetInfo(DWORD a, DWORD b, DWORD c) = 0;          // 7: CODEC_E_NOTIMPL
  // 8: a new header (from `allocator`) for output alternative `index` of `input`.
  virtual LONG CODEC_CALL DecompressGetFormat(const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,
                                              IFrameAllocator* allocator, DWORD index) = 0;
  // 9: 0 when the codec decodes `input` (into `output`, when given).
  virtual LONG CODEC_CALL DecompressQuery(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output) = 0;
  // 10: stores 1 in `started`.
  virtual LONG CODEC_CALL DecompressBegin(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output,
                                          DWORD* started) = 0;
  // 11: decodes one frame into a new frame from `allocator`.
  virtual LONG CODEC_CALL Decompress(const YUVBMINFOHEADER* input, const void* inputFrame, YUVBMINFOHEADER* output,
                                     void** outputFrame, const DWORD* flags, IFrameAllocator* allocator,
                                     DWORD reserved) = 0;
  virtual LONG CODEC_CALL DecompressEnd(DWORD reserved) = 0;  // 12
  // 13: a new stored-format header for the host's frame `input`.
  virtual LONG CODEC_CALL CompressGetFormat(const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,
                                            IFrameAllocator* allocator) = 0;
  // 14: 0 when the codec encodes `input` (into `output`, when given; some
  // codecs then write its biSizeImage).
  virtual LONG CODEC_CALL CompressQuery(const YUVBMINFOHEADER* input, YUVBMINFOHEADER* output) = 0;
  // 15: stores 1 in `started`.
  virtual LONG CODEC_CALL CompressBegin(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output,
                                        DWORD* started) = 0;
  // 16: encodes one frame into a new frame from `allocator`.
  virtual LONG CODEC_CALL Compress(const YUVBMINFOHEADER* input, const void* inputFrame, YUVBMINFOHEADER* output,
                                   void** outputFrame, const DWORD* flags, IFrameAllocator* allocator,
                                   DWORD reserved) = 0;
  virtual LONG CODEC_CALL CompressEnd(DWORD reserved) = 0;  // 17

 protected:
  ~ICodec() = default;
};

// The conversion slots of the packed and planar codecs take the first six
// arguments of Decompress.
#define TARNEL_CONVERSION(name)                                                                   \
  virtual LONG CODEC_CALL name(const YUVBMINFOHEADER* input, const void* inputFrame, YUVBMINFOHEADER* output, \
                               void** outputFrame, const DWORD* flags, IFrameAllocator* allocator)

// ---- the codec classes ----
//
// Each object is one allocation from zelk::NewAlloc: the ICodec part first,
// then the converter base (its table pointer and nine table pointers), then
// the class's own members. The converter is set up for colour space 0
// (BT.601) for every codec. Objects are made by EnumerateCodecs only.

// The common base: slots 0 to 5 and slot 18. Subclasses add only members
// without destructors.
class Cccir601Codec : public ICodec, public zelk::CQZCsc {
 public:
  static void* operator new(size_t size) noexcept;
  static void operator delete(void* block) noexcept;

  void* CODEC_CALL DeletingDestructor(UINT flags) override;
  LONG CODEC_CALL Destroy() override;
  LONG CODEC_CALL GetVersion() override;
  LONG CODEC_CALL GetCapabilities() override;
  LONG CODEC_CALL OnBegin() override;
  LONG CODEC_CALL OnEnd() override;
  // 18: the colour-space code the codec writes into headers and demands of them.
  virtual DWORD CODEC_CALL GetColorSpace();

 protected:
  Cccir601Codec();
  ~Cccir601Codec();
};

// Declares slots 6 to 17 of a codec class.
#define TARNEL_CODEC_SLOTS                                                                                  \
  LONG CODEC_CALL GetInfo(DWORD id, DWORD* aux, void* value) override;                                     \
  LONG CODEC_CALL SetInfo(DWORD a, DWORD b, DWORD c) override;                                             \
  LONG CODEC_CALL DecompressGetFormat(const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,              \
                                      IFrameAllocator* allocator, DWORD index) override;                   \
  LONG CODEC_CALL DecompressQuery(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output) override;   \
  LONG CODEC_CALL DecompressBegin(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output,             \
                                  DWORD* started) override;                                                \
  LONG CODEC_CALL Decompress(const YUVBMINFOHEADER* input, const void* inputFrame, YUVBMINFOHEADER* output, \
                             void** outputFrame, const DWORD* flags, IFrameAllocator* allocator,           \
                             DWORD reserved) override;                                                     \
  LONG CODEC_CALL DecompressEnd(DWORD reserved) override;                                                  \
  LONG CODEC_CALL CompressGetFormat(const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,                \
                                    IFrameAllocator* allocator) override;                                  \
  LONG CODEC_CALL CompressQuery(const YUVBMINFOHEADER* input, YUVBMINFOHEADER* output) override;           \
  LONG CODEC_CALL CompressBegin(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output,               \
                                DWORD* started) override;                                                  \
  LONG CODEC_CALL Compress(const YUVBMINFOHEADER* input, const void* inputFrame, YUVBMINFOHEADER* output,   \
                           void** outputFrame, const DWORD* flags, IFrameAllocator* allocator,             \
                           DWORD reserved) override;                                                       \
  LONG CODEC_CALL CompressEnd(DWORD reserved) override;

// Planar 4:2:2 ("Planar768"): separate Y, Cb, Cr (and alpha) planes, two fields.
class Cccir601Planar : public Cccir601Codec {
 public:
  Cccir601Planar();
  TARNEL_CODEC_SLOTS
  TARNEL_CONVERSION(DecompressToBGR);  // 19
  TARNEL_CONVERSION(DecompressToYUV);  // 20
  TARNEL_CONVERSION(CompressFromBGR);  // 21
  TARNEL_CONVERSION(CompressFromYUV);  // 22
};

// Meshed 4:4:4: Y, Cb, Cr (and alpha) per pixel, in bitmap row order.
class Cccir601Meshed : public Cccir601Codec {
 public:
  Cccir601Meshed();
  TARNEL_CODEC_SLOTS
};

// Packed 4:2:2 (Cb, Y0, Cr, Y1), normally two fields one after the other.
class Cccir601Packed : public Cccir601Codec {
 public:
  Cccir601Packed();
  TARNEL_CODEC_SLOTS
  TARNEL_CONVERSION(DecompressToBGR);      // 19
  TARNEL_CONVERSION(DecompressToBGRHalf);  // 20
  TARNEL_CONVERSION(DecompressToYUV);      // 21
  TARNEL_CONVERSION(CompressFromBGR);      // 22
  TARNEL_CONVERSION(CompressFromYUV);      // 23

  WCHAR szDesc0[64];  // the answers to information ids 0 and 1
  WCHAR szDesc1[64];

 protected:
  Cccir601Packed(const WCHAR* desc0, const WCHAR* desc1);
  // The three packed classes share one implementation; the extended one
  // stores 720-wide frames with blank rows (512 rows for 486, 608 for 576).
  LONG QueryDecode(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output, bool extended);
  LONG QueryEncode(const YUVBMINFOHEADER* input, YUVBMINFOHEADER* output, bool extended);
  LONG FormatEncode(const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output, IFrameAllocator* allocator,
                    bool extended);
};

// Packed with extended frame heights.
class Cccir601PackedExtd : public Cccir601Packed {
 public:
  Cccir601PackedExtd();
  LONG CODEC_CALL DecompressQuery(const YUVBMINFOHEADER* input, const YUVBMINFOHEADER* output) override;
  LONG CODEC_CALL CompressGetFormat(const YUVBMINFOHEADER* input, YUVBMINFOHEADER** output,
                                    IFrameAllocator* allocator) override;
  LONG CODEC_CALL CompressQuery(const YUVBMINFOHEADER* input, YUVBMINFOHEADER* output) override;
};

// Packed, labelled ITU 709 (colour space 2); it converts with the BT.601 tables.
class Cccir601Packed709 : public Cccir601Packed {
 public:
  Cccir601Packed709();
  DWORD CODEC_CALL GetColorSpace() override;
};

// Interleaved 4:2:2 under the FourCC UYVY, progressive, chroma filtered when encoding.
class CTarnelYVY : public Cccir601Codec {
 public:
  CTarnelYVY();
  TARNEL_CODEC_SLOTS

  WCHAR szDesc0[64];
  WCHAR szDesc1[64];
};

#undef TARNEL_CODEC_SLOTS
#undef TARNEL_CONVERSION

// ---- the entry point ----

#ifdef _WIN32
#define TARNEL_ENTRY extern "C"  // exported as _EnumerateCodecs@8 through tarnel.def
#else
#define TARNEL_ENTRY extern "C" __attribute__((visibility("default")))
#endif

// Registers the six codecs, in this order and under these FourCCs: planar
// (@YUV), meshed (@YUV), packed (@YUV), packed with extended heights (@YUV),
// UYVY (UYVY), packed ITU 709 (UYVY). Does nothing unless `version` is
// CODEC_INTERFACE_VERSION. A codec the registry refuses is deleted at once;
// one that cannot be allocated is reported and offered as null.
TARNEL_ENTRY void WINAPI EnumerateCodecs(ICodecRegistry* registry, DWORD version);

// What a host looks up after loading the plug-in.
typedef void(WINAPI* EnumerateCodecsProc)(ICodecRegistry* registry, DWORD version);
#ifdef _WIN32
#define TARNEL_ENTRY_NAME "_EnumerateCodecs@8"
#else
#define TARNEL_ENTRY_NAME "EnumerateCodecs"
#endif
