// The Query operations of every codec: each rule, the order of the checks
// (the first failing one decides and prints its message, if it has one), the
// frame-height rules, and the biSizeImage a successful encoder query writes.
#include "host.h"

namespace tarneltest {
namespace {

enum Op { kDecode, kEncode };

struct QueryCase {
  const char* name;
  Codec codec;
  Op op;
  LONG width, height;  // of the pair the edit starts from
  void (*edit)(Header& in, Header& out);
  bool output;  // with the output header, or null
  LONG status;
  const WCHAR* message;  // the one message expected; null: none
  DWORD written;         // successful encoder queries with an output: its biSizeImage
};

#define EDIT(...) [](Header & in, Header & out) { (void)in, (void)out; __VA_ARGS__; }
constexpr LONG OK = CODEC_OK, NO = CODEC_E_FORMAT;
const WCHAR* const none = nullptr;
constexpr DWORD kSentinel = 0x5EED5EEDu;

// The pair the case starts from: a header of the codec's stored layout and an
// RGB frame of the size the codec's rules pair with it.
void Base(const QueryCase& q, Header& in, Header& out) {
  LONG stored = q.height, picture = q.height < 0 ? -q.height : q.height;
  if (q.codec == kExtd && q.op == kDecode) picture = q.height == 512 ? 486 : q.height == 608 ? 576 : picture;
  if (q.codec == kExtd && q.op == kEncode) stored = q.height == 486 ? 512 : q.height == 576 ? 608 : q.height;
  if (q.op == kDecode) {
    in = Stored(q.codec, q.width, stored);
    out = Rgb(q.width, picture);
  } else {
    in = Rgb(q.width, q.height);
    out = Stored(q.codec, q.width, stored);
  }
  out.biSizeImage = kSentinel;
}

#define PACKED_D(text) TEXT("Cccir601Packed::DecompressQuery() - ") TEXT(text)
#define PACKED_E(text) TEXT("Cccir601Packed::CompressQuery() - ") TEXT(text)
#define PLANAR_E(text) TEXT("Cccir601Planar::CompressQuery() - ") TEXT(text)
const WCHAR kPlanarWarning[] = TEXT("!!!Cccir601Planar::DecompressQuery dwFormatFlag wrong in YUV!!!!\r\n");

const QueryCase kCases[] = {
    // ---- packed decoding: the ordered checks and their messages ----
    {"valid", kPacked, kDecode, 720, 486, EDIT(), true, OK, none, 0},
    {"valid_alone", kPacked, kDecode, 720, 486, EDIT(), false, OK, none, 0},
    {"not_yuv", kPacked, kDecode, 720, 486, EDIT(in.biCompression = FOURCC_UYVY), true, NO, none, 0},
    {"no_offset", kPacked, kDecode, 720, 486, EDIT(in.dwExtDataOffset = 0), true, NO,
     PACKED_D("dwExtDataOffset == 0 \n"), 0},
    {"short_header", kPacked, kDecode, 720, 486, EDIT(in.biSize = 159), true, NO,
     PACKED_D("Header size  < sizeof(YUVBMINFOHEADER)\n"), 0},
    {"offset_before_size", kPacked, kDecode, 720, 486, EDIT(in.biSize = 159; in.dwExtDataOffset = 0), true, NO,
     PACKED_D("dwExtDataOffset == 0 \n"), 0},
    {"one_field", kPacked, kDecode, 720, 486, EDIT(in.dwFormatFlag = 0), true, NO,
     PACKED_D("Interlaced format not supported\n"), 0},
    {"one_field_interlaced", kPacked, kDecode, 720, 486, EDIT(in.dwFormatFlag = 0; in.dwInterlace = 1), true, OK,
     none, 0},
    {"planes", kPacked, kDecode, 720, 486, EDIT(in.biPlanes = 3), true, NO, PACKED_D("Planar format not supported\n"),
     0},
    {"bits32", kPacked, kDecode, 720, 486, EDIT(in.biBitCount = 32), true, NO, PACKED_D("Bitcount not 16\n"), 0},
    {"bits24", kPacked, kDecode, 720, 486, EDIT(in.biBitCount = 24), true, OK, none, 0},
    {"colour_space", kPacked, kDecode, 720, 486, EDIT(in.dwColorSpace = 2), true, NO, PACKED_D("Wrong Color space\n"),
     0},
    {"bits_per_sample", kPacked, kDecode, 720, 486, EDIT(in.dwBitsPerSample = 10), true, NO,
     PACKED_D("Unsupported bits per sample (10)\n"), 0},
    {"bits_per_sample_0", kPacked, kDecode, 720, 486, EDIT(in.dwBitsPerSample = 0), true, OK, none, 0},
    {"subsampling", kPacked, kDecode, 720, 486, EDIT(in.dwSubsampling = 256), true, NO,
     PACKED_D("Horizontal subsampling not 422_UYVY\n"), 0},
    {"vertical", kPacked, kDecode, 720, 486, EDIT(in.dwVertSubsampling = 1), true, NO,
     PACKED_D("Vertical subsampling not 422\n"), 0},
    {"size_short", kPacked, kDecode, 720, 486, EDIT(in.biSizeImage = 699839), true, NO, none, 0},
    {"size_exact", kPacked, kDecode, 720, 486, EDIT(in.biSizeImage = 699840), true, OK, none, 0},
    {"size_after_messages", kPacked, kDecode, 720, 486, EDIT(in.biSizeImage = 1; in.dwVertSubsampling = 1), true, NO,
     PACKED_D("Vertical subsampling not 422\n"), 0},
    // An odd width: rows of ((2 w + 3) rounded down to 4) bytes; the encoder's w * 2 is refused.
    {"odd_width_size", kPacked, kDecode, 703, 480, EDIT(in.biSizeImage = 703 * 2 * 480), true, NO, none, 0},
    {"odd_width_rows", kPacked, kDecode, 703, 480, EDIT(in.biSizeImage = 1408 * 480), true, OK, none, 0},
    {"out_16bit", kPacked, kDecode, 720, 486, EDIT(out.biBitCount = 16), true, NO, none, 0},
    {"out_top_down", kPacked, kDecode, 720, 486, EDIT(out.biHeight = -486), true, NO, none, 0},
    {"out_two_fields", kPacked, kDecode, 720, 486, EDIT(out.dwFormatFlag = 1), true, NO, none, 0},
    {"out_uyvy", kPacked, kDecode, 720, 486, EDIT(out.biCompression = FOURCC_UYVY), true, NO, none, 0},
    {"out_width", kPacked, kDecode, 720, 486, EDIT(out.biWidth = 704), true, NO, none, 0},
    {"out_yuv444", kPacked, kDecode, 720, 486, EDIT(out = Yuv444(720, 486)), true, OK, none, 0},
    {"out_yuv422", kPacked, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.dwSubsampling = 256), true, OK, none,
     0},
    {"out_yuv_reversed", kPacked, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.dwSubsampling = 128), true, NO,
     none, 0},
    {"out_yuv_colour", kPacked, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.dwColorSpace = 2), true, NO,
     none, 0},
    {"out_yuv_offset", kPacked, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.dwExtDataOffset = 160), true, NO,
     none, 0},
    // A YUV header with less than 160 bytes has no YUV block to read: refused.
    {"out_yuv_short", kPacked, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.biSize = 144), true, NO, none, 0},
    // The frame-height rules: at width 720 only 486 and 576 lines, kept as they are.
    {"height_576", kPacked, kDecode, 720, 576, EDIT(), true, OK, none, 0},
    {"height_480", kPacked, kDecode, 720, 480, EDIT(), true, NO, none, 0},
    {"height_480_alone", kPacked, kDecode, 720, 480, EDIT(), false, NO, none, 0},
    {"height_512", kPacked, kDecode, 720, 512, EDIT(out.biHeight = 486), true, NO, none, 0},
    {"height_mismatch", kPacked, kDecode, 720, 486, EDIT(out.biHeight = 576), true, NO, none, 0},
    {"height_free_off_720", kPacked, kDecode, 704, 480, EDIT(), true, OK, none, 0},
    {"top_down_at_720", kPacked, kDecode, 720, -486, EDIT(), true, NO, none, 0},
    {"top_down_off_720", kPacked, kDecode, 704, -480, EDIT(), true, OK, none, 0},
    // The extended heights: 720 wide, 512 gives 486 and 608 gives 576, nothing else.
    {"extd_512", kExtd, kDecode, 720, 512, EDIT(), true, OK, none, 0},
    {"extd_608", kExtd, kDecode, 720, 608, EDIT(), true, OK, none, 0},
    {"extd_486", kExtd, kDecode, 720, 486, EDIT(), true, NO, none, 0},
    {"extd_width", kExtd, kDecode, 704, 512, EDIT(out.biHeight = 486), true, NO, none, 0},
    {"extd_out_512", kExtd, kDecode, 720, 512, EDIT(out.biHeight = 512), true, NO, none, 0},
    {"extd_messages", kExtd, kDecode, 720, 512, EDIT(in.biPlanes = 2), true, NO,
     PACKED_D("Planar format not supported\n"), 0},
    // ITU 709: colour space 2 in and out.
    {"709_colour_0", k709, kDecode, 720, 486, EDIT(in.dwColorSpace = 0), true, NO, PACKED_D("Wrong Color space\n"), 0},
    {"709_out_yuv", k709, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.dwColorSpace = 2), true, OK, none, 0},
    {"709_out_yuv_601", k709, kDecode, 720, 486, EDIT(out = Yuv444(720, 486)), true, NO, none, 0},

    // ---- meshed decoding (no messages) ----
    {"meshed", kMeshed, kDecode, 640, 480, EDIT(), true, OK, none, 0},
    {"meshed_alone", kMeshed, kDecode, 640, 480, EDIT(), false, OK, none, 0},
    {"meshed_flag_1", kMeshed, kDecode, 640, 480, EDIT(in.dwFormatFlag = 1), true, NO, none, 0},
    {"meshed_flag_21", kMeshed, kDecode, 640, 480, EDIT(in.dwFormatFlag = 0x21), true, OK, none, 0},
    {"meshed_rgb", kMeshed, kDecode, 640, 480, EDIT(in.biCompression = 0), true, NO, none, 0},
    {"meshed_no_offset", kMeshed, kDecode, 640, 480, EDIT(in.dwExtDataOffset = 0), true, NO, none, 0},
    {"meshed_short_header", kMeshed, kDecode, 640, 480, EDIT(in.biSize = 159), true, NO, none, 0},
    {"meshed_planes", kMeshed, kDecode, 640, 480, EDIT(in.biPlanes = 3), true, NO, none, 0},
    {"meshed_bits16", kMeshed, kDecode, 640, 480, EDIT(in.biBitCount = 16), true, NO, none, 0},
    {"meshed_bits24", kMeshed, kDecode, 640, 480, EDIT(in.biBitCount = 24), true, OK, none, 0},
    {"meshed_colour", kMeshed, kDecode, 640, 480, EDIT(in.dwColorSpace = 2), true, NO, none, 0},
    {"meshed_bits_per_sample", kMeshed, kDecode, 640, 480, EDIT(in.dwBitsPerSample = 16), true, NO, none, 0},
    {"meshed_reversed", kMeshed, kDecode, 640, 480, EDIT(in.dwSubsampling = 128), true, OK, none, 0},
    {"meshed_subsampling", kMeshed, kDecode, 640, 480, EDIT(in.dwSubsampling = 512), true, NO, none, 0},
    {"meshed_vertical", kMeshed, kDecode, 640, 480, EDIT(in.dwVertSubsampling = 1), true, NO, none, 0},
    {"meshed_size_short", kMeshed, kDecode, 640, 480, EDIT(in.biSizeImage = 480 * 2560 - 1), true, NO, none, 0},
    {"meshed_size", kMeshed, kDecode, 641, 480, EDIT(in.biSizeImage = 480 * 2564), true, OK, none, 0},
    // Frames far larger than any biSizeImage: the products stay exact (no wrap-around).
    {"meshed_huge", kMeshed, kDecode, 640, 480,
     EDIT(in.biWidth = 0x7FFFFFFF; in.biHeight = -1903106573; in.biBitCount = 24; in.biSizeImage = 0x1004A0), false,
     NO, none, 0},
    {"meshed_huge_32", kMeshed, kDecode, 640, 480,
     EDIT(in.biWidth = 0x55555556; in.biHeight = 0x7FFFFFFF; in.biSizeImage = 1), false, NO, none, 0},
    {"meshed_negative_width", kMeshed, kDecode, 640, 480,
     EDIT(in.biWidth = -0x7FFFFFFF; in.biHeight = 0x7FFFFFFF; in.biBitCount = 24; in.biSizeImage = 1), false, OK,
     none, 0},
    {"planar_huge", kPlanar, kDecode, 720, 486,
     EDIT(in.biWidth = 0x7FFFFFFF; in.biHeight = 0x7FFFFFFF; in.biBitCount = 32; in.biSizeImage = 1), false, NO, none,
     0},
    {"packed_huge", kPacked, kDecode, 720, 486,
     EDIT(in.biWidth = 0x7FFFFFFF; in.biHeight = -0x7FFFFFFF - 1; in.biSizeImage = 1), false, NO, none, 0},
    {"meshed_out_yuv", kMeshed, kDecode, 640, 480, EDIT(out = Yuv444(640, 480)), true, NO, none, 0},
    {"meshed_out_height", kMeshed, kDecode, 640, 480, EDIT(out.biHeight = 479), true, NO, none, 0},
    {"meshed_top_down", kMeshed, kDecode, 640, -480, EDIT(), true, OK, none, 0},
    {"meshed_attributes", kMeshed, kDecode, 640, 480, EDIT(out.dwAttributes = 1), true, OK, none, 0},

    // ---- planar decoding ----
    {"planar", kPlanar, kDecode, 720, 486, EDIT(), true, OK, none, 0},
    {"planar_flag_warns", kPlanar, kDecode, 720, 486, EDIT(in.dwFormatFlag = 0), true, OK, kPlanarWarning, 0},
    {"planar_warns_then_refuses", kPlanar, kDecode, 720, 486, EDIT(in.dwFormatFlag = 0; in.biPlanes = 1), true, NO,
     kPlanarWarning, 0},
    {"planar_refused_before_warning", kPlanar, kDecode, 720, 486, EDIT(in.biSize = 144; in.dwFormatFlag = 0), true,
     NO, none, 0},
    {"planar_vertical_unchecked", kPlanar, kDecode, 720, 486, EDIT(in.dwVertSubsampling = 1), true, OK, none, 0},
    {"planar_subsampling", kPlanar, kDecode, 720, 486, EDIT(in.dwSubsampling = 16), true, NO, none, 0},
    {"planar_bits16", kPlanar, kDecode, 720, 486, EDIT(in.biBitCount = 16), true, NO, none, 0},
    {"planar_size", kPlanar, kDecode, 720, 486, EDIT(in.biSizeImage = 486 * 1536), true, OK, none, 0},
    {"planar_size_short", kPlanar, kDecode, 720, 486, EDIT(in.biSizeImage = 486 * 1536 - 1), true, NO, none, 0},
    {"planar_size_32_short", kPlanar, kDecode, 720, 486, EDIT(in.biBitCount = 32; in.biSizeImage = 486 * 3072 - 1),
     true, NO, none, 0},
    {"planar_size_32", kPlanar, kDecode, 720, 486, EDIT(in.biBitCount = 32; in.biSizeImage = 486 * 3072), true, OK,
     none, 0},
    // 130 wide: Yrow 192, Crow 128; the decoder wants 2 (192 + 256) per line of a 32-bit frame.
    {"planar_size_32_odd", kPlanar, kDecode, 130, 480, EDIT(in.biBitCount = 32; in.biSizeImage = 480 * 832), true, NO,
     none, 0},
    {"planar_out_planes", kPlanar, kDecode, 720, 486, EDIT(out.biPlanes = 3), true, NO, none, 0},
    {"planar_out_attributes_bit3", kPlanar, kDecode, 720, 486, EDIT(out.dwAttributes = 8), true, OK, none, 0},
    {"planar_out_attributes", kPlanar, kDecode, 720, 486, EDIT(out.dwAttributes = 1), true, NO, none, 0},
    {"planar_out_yuv444", kPlanar, kDecode, 720, 486, EDIT(out = Yuv444(720, 486, 24)), true, OK, none, 0},
    {"planar_out_yuv_reversed", kPlanar, kDecode, 720, 486, EDIT(out = Yuv444(720, 486); out.dwSubsampling = 128),
     true, NO, none, 0},
    {"planar_out_height", kPlanar, kDecode, 720, 486, EDIT(out.biHeight = 243), true, NO, none, 0},

    // ---- UYVY decoding: 486 and 576 lines at every width ----
    {"uyvy", kUyvy, kDecode, 720, 486, EDIT(), true, OK, none, 0},
    {"uyvy_576", kUyvy, kDecode, 720, 576, EDIT(), true, OK, none, 0},
    {"uyvy_640x486", kUyvy, kDecode, 640, 486, EDIT(), true, OK, none, 0},
    {"uyvy_480", kUyvy, kDecode, 720, 480, EDIT(), true, NO, none, 0},
    {"uyvy_480_alone", kUyvy, kDecode, 640, 480, EDIT(), false, NO, none, 0},
    {"uyvy_top_down", kUyvy, kDecode, 720, -486, EDIT(), true, NO, none, 0},
    {"uyvy_flag_1", kUyvy, kDecode, 720, 486, EDIT(in.dwFormatFlag = 1), true, NO, none, 0},
    {"uyvy_flag_21", kUyvy, kDecode, 720, 486, EDIT(in.dwFormatFlag = 0x21), true, OK, none, 0},
    {"uyvy_bits24", kUyvy, kDecode, 720, 486, EDIT(in.biBitCount = 24), true, NO, none, 0},
    {"uyvy_yuv_fourcc", kUyvy, kDecode, 720, 486, EDIT(in.biCompression = FOURCC_YUV), true, NO, none, 0},
    {"uyvy_out_yuv444", kUyvy, kDecode, 720, 486, EDIT(out = Yuv444(720, 486)), true, OK, none, 0},
    {"uyvy_out_height", kUyvy, kDecode, 720, 486, EDIT(out.biHeight = 576), true, NO, none, 0},
    {"uyvy_attributes", kUyvy, kDecode, 720, 486, EDIT(out.dwAttributes = 1), true, OK, none, 0},

    // ---- packed encoding ----
    {"enc", kPacked, kEncode, 720, 486, EDIT(), true, OK, none, 699840},
    {"enc_alone", kPacked, kEncode, 720, 486, EDIT(), false, OK, none, 0},
    {"enc_compression", kPacked, kEncode, 720, 486, EDIT(in.biCompression = FOURCC_UYVY), true, NO,
     PACKED_E("Unsupported compression format 0x59565955 \n"), 0},
    {"enc_bitcount", kPacked, kEncode, 720, 486, EDIT(in.biBitCount = 16), true, NO,
     PACKED_E("Unsupported biBitCount 16 != (24|32)\n"), 0},
    {"enc_planes", kPacked, kEncode, 720, 486, EDIT(in.biPlanes = 2), true, NO,
     PACKED_E("Unsupported biPlanes 2 != 1\n"), 0},
    {"enc_top_down", kPacked, kEncode, 720, 486, EDIT(in.biHeight = -486), true, NO,
     PACKED_E("Top down only supported for interlaced flags:00000000\n"), 0},
    {"enc_two_fields", kPacked, kEncode, 720, 486, EDIT(in.dwFormatFlag = 0x21), true, NO,
     PACKED_E("Top down only supported for interlaced flags:00000021\n"), 0},
    {"enc_field_order", kPacked, kEncode, 720, 486, EDIT(in.dwFormatFlag = 0x10), true, NO,
     PACKED_E("Top down only supported for interlaced flags:00000010\n"), 0},
    {"enc_order", kPacked, kEncode, 720, 486, EDIT(in.biCompression = 7; in.biBitCount = 8), true, NO,
     PACKED_E("Unsupported compression format 0x00000007 \n"), 0},
    {"enc_yuv_input", kPacked, kEncode, 720, 486, EDIT(in = Yuv444(720, 486)), true, OK, none, 699840},
    {"enc_yuv_input_422", kPacked, kEncode, 720, 486, EDIT(in = Yuv444(720, 486); in.dwSubsampling = 512), true, NO,
     PACKED_E("Invalid YUVBMINFOHEADER\n"), 0},
    {"enc_yuv_input_colour", kPacked, kEncode, 720, 486, EDIT(in = Yuv444(720, 486); in.dwColorSpace = 2), true, NO,
     PACKED_E("Invalid YUVBMINFOHEADER\n"), 0},
    {"enc_yuv_input_short", kPacked, kEncode, 720, 486, EDIT(in = Yuv444(720, 486); in.biSize = 144), true, NO,
     PACKED_E("Invalid YUVBMINFOHEADER\n"), 0},
    {"enc_out_rgb", kPacked, kEncode, 720, 486, EDIT(out.biCompression = 0), true, NO,
     PACKED_E("Only YUV output supported\n"), 0},
    {"enc_out_one_field", kPacked, kEncode, 720, 486, EDIT(out.dwFormatFlag = 0), true, NO, none, 0},
    {"enc_out_bits24", kPacked, kEncode, 720, 486, EDIT(out.biBitCount = 24), true, OK, none, 699840},
    {"enc_out_bits32", kPacked, kEncode, 720, 486, EDIT(out.biBitCount = 32), true, NO, none, 0},
    {"enc_out_planes", kPacked, kEncode, 720, 486, EDIT(out.biPlanes = 3), true, NO, none, 0},
    {"enc_out_short", kPacked, kEncode, 720, 486, EDIT(out.biSize = 159), true, NO, none, 0},
    {"enc_out_colour", kPacked, kEncode, 720, 486, EDIT(out.dwColorSpace = 2), true, NO, none, 0},
    {"enc_out_subsampling", kPacked, kEncode, 720, 486, EDIT(out.dwSubsampling = 16), true, NO, none, 0},
    {"enc_out_width", kPacked, kEncode, 720, 486, EDIT(out.biWidth = 704), true, NO, none, 0},
    {"enc_out_attributes", kPacked, kEncode, 720, 486, EDIT(out.dwAttributes = 1), true, OK, none, 699840},
    {"enc_height_480", kPacked, kEncode, 720, 480, EDIT(), true, NO, none, 0},
    {"enc_height_576", kPacked, kEncode, 720, 576, EDIT(), true, OK, none, 829440},
    {"enc_height_mismatch", kPacked, kEncode, 720, 486, EDIT(out.biHeight = 576), true, NO, none, 0},
    {"enc_off_720", kPacked, kEncode, 704, 480, EDIT(), true, OK, none, 675840},
    {"enc_odd_width", kPacked, kEncode, 703, 480, EDIT(), true, OK, none, 674880},
    {"enc_out_top_down", kPacked, kEncode, 704, 480, EDIT(out.biHeight = -480), true, OK, none, 675840},
    // A frame size beyond what biSizeImage holds describes no frame.
    {"enc_size_beyond_32_bits", kPacked, kEncode, 704, 480, EDIT(in.biWidth = out.biWidth = 0x7FFFFFFF), true, NO,
     none, 0},
    {"enc_extd", kExtd, kEncode, 720, 486, EDIT(), true, OK, none, 737280},
    {"enc_extd_576", kExtd, kEncode, 720, 576, EDIT(), true, OK, none, 875520},
    {"enc_extd_out_486", kExtd, kEncode, 720, 486, EDIT(out.biHeight = 486), true, NO, none, 0},
    {"enc_extd_width", kExtd, kEncode, 704, 480, EDIT(), true, NO, none, 0},
    {"enc_extd_480", kExtd, kEncode, 720, 480, EDIT(), false, NO, none, 0},
    {"enc_extd_messages", kExtd, kEncode, 720, 486, EDIT(in.biPlanes = 4), true, NO,
     PACKED_E("Unsupported biPlanes 4 != 1\n"), 0},
    {"enc_709", k709, kEncode, 720, 486, EDIT(), true, OK, none, 699840},
    {"enc_709_out_601", k709, kEncode, 720, 486, EDIT(out.dwColorSpace = 0), true, NO, none, 0},
    {"enc_709_yuv_input", k709, kEncode, 720, 486, EDIT(in = Yuv444(720, 486); in.dwColorSpace = 2), true, OK, none,
     699840},
    {"enc_709_yuv_input_601", k709, kEncode, 720, 486, EDIT(in = Yuv444(720, 486)), true, NO,
     PACKED_E("Invalid YUVBMINFOHEADER\n"), 0},

    // ---- planar encoding: the packed input checks with its own name ----
    {"enc_planar", kPlanar, kEncode, 720, 486, EDIT(), true, OK, none, 746496},
    {"enc_planar_32", kPlanar, kEncode, 720, 486, EDIT(out.biBitCount = 32), true, OK, none, 1492992},
    {"enc_planar_32_odd", kPlanar, kEncode, 130, 480, EDIT(out.biBitCount = 32), true, OK, none, 399360},
    {"enc_planar_480", kPlanar, kEncode, 720, 480, EDIT(), true, OK, none, 737280},
    {"enc_planar_500", kPlanar, kEncode, 720, 500, EDIT(), true, NO, none, 0},
    {"enc_planar_alone_any_height", kPlanar, kEncode, 720, 500, EDIT(), false, OK, none, 0},
    {"enc_planar_bitcount", kPlanar, kEncode, 720, 486, EDIT(in.biBitCount = 16), true, NO,
     PLANAR_E("Unsupported biBitCount 16 != (24|32)\n"), 0},
    {"enc_planar_top_down", kPlanar, kEncode, 720, 486, EDIT(in.biHeight = -486), true, NO,
     PLANAR_E("Top down only supported for interlaced flags:00000000\n"), 0},
    {"enc_planar_yuv_input", kPlanar, kEncode, 720, 486, EDIT(in = Yuv444(720, 486); in.dwVertSubsampling = 1), true,
     NO, PLANAR_E("Invalid YUVBMINFOHEADER\n"), 0},
    {"enc_planar_out_rgb", kPlanar, kEncode, 720, 486, EDIT(out.biCompression = 0), true, NO, none, 0},
    {"enc_planar_out_planes", kPlanar, kEncode, 720, 486, EDIT(out.biPlanes = 1), true, NO, none, 0},
    {"enc_planar_out_height", kPlanar, kEncode, 720, 486, EDIT(out.biHeight = 576), true, NO, none, 0},
    {"enc_planar_attributes_bit3", kPlanar, kEncode, 720, 486, EDIT(out.dwAttributes = 8), true, OK, none, 746496},
    {"enc_planar_attributes", kPlanar, kEncode, 720, 486, EDIT(out.dwAttributes = 2), true, NO, none, 0},
    {"enc_planar_out_subsampling", kPlanar, kEncode, 720, 486, EDIT(out.dwSubsampling = 16), true, NO, none, 0},

    // ---- meshed encoding (no messages) ----
    {"enc_meshed", kMeshed, kEncode, 640, 480, EDIT(), true, OK, none, 1228800},
    {"enc_meshed_24", kMeshed, kEncode, 641, 480, EDIT(out.biBitCount = 24), true, OK, none, 923520},
    {"enc_meshed_huge", kMeshed, kEncode, 640, 480,
     EDIT(in.biWidth = out.biWidth = 0x7FFFFFFF; in.biHeight = out.biHeight = 0x7FFFFFFF; in.biBitCount = 24), true,
     NO, none, 0},
    {"enc_meshed_yuv_input", kMeshed, kEncode, 640, 480, EDIT(in = Yuv444(640, 480)), true, NO, none, 0},
    {"enc_meshed_top_down", kMeshed, kEncode, 640, 480, EDIT(in.biHeight = -480), true, NO, none, 0},
    {"enc_meshed_two_fields", kMeshed, kEncode, 640, 480, EDIT(in.dwFormatFlag = 1), true, NO, none, 0},
    {"enc_meshed_field_order", kMeshed, kEncode, 640, 480, EDIT(in.dwFormatFlag = 0x10), true, OK, none, 1228800},
    {"enc_meshed_reversed", kMeshed, kEncode, 640, 480, EDIT(out.dwSubsampling = 128), true, OK, none, 1228800},
    {"enc_meshed_out_subsampling", kMeshed, kEncode, 640, 480, EDIT(out.dwSubsampling = 512), true, NO, none, 0},
    {"enc_meshed_out_planes", kMeshed, kEncode, 640, 480, EDIT(out.biPlanes = 3), true, NO, none, 0},
    {"enc_meshed_attributes", kMeshed, kEncode, 640, 480, EDIT(out.dwAttributes = 1), true, NO, none, 0},
    {"enc_meshed_attributes_bit3", kMeshed, kEncode, 640, 480, EDIT(in.dwAttributes = 8), true, OK, none, 1228800},
    {"enc_meshed_out_height", kMeshed, kEncode, 640, 480, EDIT(out.biHeight = 479), true, NO, none, 0},

    // ---- UYVY encoding ----
    {"enc_uyvy", kUyvy, kEncode, 720, 486, EDIT(), true, OK, none, 699840},
    {"enc_uyvy_576", kUyvy, kEncode, 720, 576, EDIT(), true, OK, none, 829440},
    {"enc_uyvy_640x486", kUyvy, kEncode, 640, 486, EDIT(), true, OK, none, 622080},
    {"enc_uyvy_480", kUyvy, kEncode, 640, 480, EDIT(), false, NO, none, 0},
    {"enc_uyvy_yuv_input", kUyvy, kEncode, 720, 486, EDIT(in = Yuv444(720, 486)), true, OK, none, 699840},
    {"enc_uyvy_yuv_input_colour", kUyvy, kEncode, 720, 486, EDIT(in = Yuv444(720, 486); in.dwColorSpace = 2), true,
     NO, TEXT("CTarnelYVY::CompressQuery() - Invalid YUVBMINFOHEADER\n"), 0},
    {"enc_uyvy_yuv_silent_first", kUyvy, kEncode, 720, 486,
     EDIT(in = Yuv444(720, 486); in.dwColorSpace = 2; in.dwFormatFlag = 1), true, NO, none, 0},
    {"enc_uyvy_bits16", kUyvy, kEncode, 720, 486, EDIT(in.biBitCount = 16), true, NO, none, 0},
    {"enc_uyvy_out_bits24", kUyvy, kEncode, 720, 486, EDIT(out.biBitCount = 24), true, NO, none, 0},
    {"enc_uyvy_out_fourcc", kUyvy, kEncode, 720, 486, EDIT(out.biCompression = FOURCC_YUV), true, NO, none, 0},
    {"enc_uyvy_attributes", kUyvy, kEncode, 720, 486, EDIT(out.dwAttributes = 4), true, NO, none, 0},
    // abs(output height) equals the input's, but the height rule compares the signed height.
    {"enc_uyvy_out_top_down", kUyvy, kEncode, 720, 486, EDIT(out.biHeight = -486), true, NO, none, 0},
};

class Query : public CodecTest, public testing::WithParamInterface<QueryCase> {};

TEST_P(Query, DecidesAsItsRulesSay) {
  const QueryCase& q = GetParam();
  Header in, out;
  Base(q, in, out);
  q.edit(in, out);
  const Header inBefore = in, outBefore = out;
  Messages messages;
  ICodec* c = codec(q.codec);
  const LONG status = q.op == kDecode ? c->DecompressQuery(&in, q.output ? &out : nullptr)
                                      : c->CompressQuery(&in, q.output ? &out : nullptr);
  EXPECT_EQ(status, q.status);
  std::vector<wstring> expected;
  if (q.message) expected.push_back(q.message);
  EXPECT_EQ(messages.Texts(), expected);
  for (const Message& m : messages.all) {
    EXPECT_EQ(m.category, 8);
    EXPECT_EQ(m.level, m.text == kPlanarWarning ? 1 : 3);
  }
  EXPECT_EQ(std::memcmp(&in, &inBefore, sizeof in), 0) << "the input header changed";
  Header want = outBefore;
  if (q.op == kEncode && q.status == CODEC_OK && q.output) want.biSizeImage = q.written;
  EXPECT_EQ(out.biSizeImage, want.biSizeImage);
  EXPECT_EQ(std::memcmp(&out, &want, sizeof out), 0) << "the output header changed beyond biSizeImage";
}

INSTANTIATE_TEST_SUITE_P(Rules, Query, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<QueryCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace tarneltest
