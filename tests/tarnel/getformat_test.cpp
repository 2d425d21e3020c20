// The GetFormat operations: every alternative of every codec byte for byte
// (the input's first 144 bytes with the listed fields set), the refusals that
// allocate nothing, allocation failures, and the formats a codec offers that
// its own queries then refuse.
#include "host.h"

namespace tarneltest {
namespace {

enum Op { kDecode, kEncode };

// Distinct bytes in every field the codecs carry from input to output.
Header Carried(Header h) {
  h.biXPelsPerMeter = 0x11223344;
  h.biYPelsPerMeter = 0x55667788;
  h.biClrUsed = 0x99AABBCC;
  h.biClrImportant = 0xDDEEFF01;
  h.dwMarker = 0x0BADF00D;
  h.dwAttributes = 0x00C0FFEE;
  h.dwAlphaMode = 0x12;
  for (int i = 0; i < 24; ++i) h.reserved60[i] = BYTE(0x60 + i);
  h.dwInterlace = 0x3C;
  for (int i = 0; i < 20; ++i) h.reserved88[i] = BYTE(0x88 + i);
  h.dwRowAlign = 0x4D;
  for (int i = 0; i < 32; ++i) h.reserved112[i] = BYTE(0xA0 + i);
  return h;
}

void AsRgb(Header& h, WORD bits, LONG height, DWORD size, DWORD flag) {
  h.biSize = 144;
  h.biCompression = 0;
  h.biBitCount = bits;
  h.biPlanes = 1;
  h.biHeight = height;
  h.biSizeImage = size;
  h.dwFormatFlag = flag;
  h.dwExtDataOffset = 0;
}
void AsYuv(Header& h, DWORD compression, WORD bits, WORD planes, LONG height, DWORD size, DWORD flag,
           DWORD colorSpace, DWORD subsampling) {
  h.biSize = 160;
  h.biCompression = compression;
  h.biBitCount = bits;
  h.biPlanes = planes;
  h.biHeight = height;
  h.biSizeImage = size;
  h.dwFormatFlag = flag;
  h.dwExtDataOffset = 144;
  h.dwColorSpace = colorSpace;
  h.dwBitsPerSample = 8;
  h.dwSubsampling = subsampling;
  h.dwVertSubsampling = 0;
}
void Marked(Header& h) { h.dwMarker = FOURCC_KRAL; }

struct FormatCase {
  const char* name;
  Codec codec;
  Op op;
  Header (*input)();
  DWORD index;  // decoding only
  DWORD size;   // bytes of the result; 0: refused, nothing allocated
  void (*expect)(Header& h);
};

#define INPUT(...) []() { return Carried(__VA_ARGS__); }
#define EXPECT(...) [](Header & h) { (void)h; __VA_ARGS__; }
#define REFUSED nullptr

Header PackedInterlaced(LONG width, LONG height, DWORD interlace, DWORD flag) {
  Header h = Carried(Rgb(width, height));
  h.dwInterlace = interlace;
  h.dwFormatFlag = flag;
  return h;
}

const FormatCase kCases[] = {
    // ---- packed decoding: seven alternatives, height rule A, NTSC bit at 512 ----
    {"packed_0", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 0, 144,
     EXPECT(AsRgb(h, 32, 486, 1399680, 0x20); Marked(h))},
    {"packed_1", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 1, 144,
     EXPECT(AsRgb(h, 24, 486, 1049760, 0x20); Marked(h))},
    {"packed_2", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 2, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 32, 1, 486, 1399680, 0x20, 0, 16); Marked(h))},
    {"packed_3", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 3, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 24, 1, 486, 1049760, 0x20, 0, 16); Marked(h))},
    {"packed_4", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 4, 144,
     EXPECT(AsRgb(h, 32, 486, 1399680, 0x20); Marked(h))},
    {"packed_5", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 5, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 486, 699840, 0x20, 0, 512); Marked(h); h.dwRowAlign = 1440)},
    {"packed_6", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 6, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 486, 699840, 0x20, 0, 256); Marked(h); h.dwRowAlign = 1440)},
    {"packed_7", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 7, 0, REFUSED},
    {"packed_huge_index", kPacked, kDecode, INPUT(Stored(kPacked, 720, 486)), 0xFFFFFFFF, 0, REFUSED},
    {"packed_576", kPacked, kDecode, INPUT(Stored(kPacked, 720, 576)), 0, 144,
     EXPECT(AsRgb(h, 32, 576, 1658880, 0); Marked(h))},
    // Away from width 720 the query checks no height: rule A still maps 512 to 486
    // and keeps any other height as it is, sign and all.
    {"packed_704x512", kPacked, kDecode, INPUT(Stored(kPacked, 704, 512)), 0, 144,
     EXPECT(AsRgb(h, 32, 486, 1368576, 0x20); Marked(h))},
    {"packed_704x-480", kPacked, kDecode, INPUT(Stored(kPacked, 704, -480)), 1, 144,
     EXPECT(AsRgb(h, 24, -480, 1013760, 0x20); Marked(h))},
    {"extd_512", kExtd, kDecode, INPUT(Stored(kExtd, 720, 512)), 0, 144,
     EXPECT(AsRgb(h, 32, 486, 1399680, 0x20); Marked(h))},
    {"extd_608", kExtd, kDecode, INPUT(Stored(kExtd, 720, 608)), 0, 144,
     EXPECT(AsRgb(h, 32, 576, 1658880, 0); Marked(h))},
    {"extd_486_refused", kExtd, kDecode, INPUT(Stored(kExtd, 720, 486)), 0, 0, REFUSED},
    {"709_2", k709, kDecode, INPUT(Stored(k709, 720, 486)), 2, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 32, 1, 486, 1399680, 0x20, 2, 16); Marked(h))},

    // ---- planar decoding: four alternatives, absolute heights, NTSC bit at 488 ----
    {"planar_0", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 486)), 0, 144,
     EXPECT(AsRgb(h, 32, 486, 1399680, 0x20); Marked(h))},
    {"planar_1", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 486)), 1, 144,
     EXPECT(AsRgb(h, 24, 486, 1049760, 0x20); Marked(h))},
    {"planar_2", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 486)), 2, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 32, 1, 486, 1399680, 0x20, 0, 16); Marked(h))},
    {"planar_3", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 486)), 3, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 24, 1, 486, 1049760, 0x20, 0, 16); Marked(h))},
    {"planar_4", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 486)), 4, 0, REFUSED},
    {"planar_488", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 488)), 0, 144,
     EXPECT(AsRgb(h, 32, 488, 1405440, 0x20); Marked(h))},
    {"planar_489", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, 489)), 0, 144,
     EXPECT(AsRgb(h, 32, 489, 1408320, 0); Marked(h))},
    {"planar_top_down", kPlanar, kDecode, INPUT(Stored(kPlanar, 720, -576)), 1, 144,
     EXPECT(AsRgb(h, 24, 576, 1244160, 0x20); Marked(h))},

    // ---- meshed decoding: 32-bit RGB for every index, the marker carried ----
    {"meshed_0", kMeshed, kDecode, INPUT(Stored(kMeshed, 640, 480)), 0, 144, EXPECT(AsRgb(h, 32, 480, 1228800, 0x20))},
    {"meshed_9", kMeshed, kDecode, INPUT(Stored(kMeshed, 640, 480)), 9, 144, EXPECT(AsRgb(h, 32, 480, 1228800, 0x20))},
    {"meshed_top_down", kMeshed, kDecode, INPUT(Stored(kMeshed, 640, -480)), 1, 144,
     EXPECT(AsRgb(h, 32, 480, 1228800, 0x20))},
    {"meshed_489", kMeshed, kDecode, INPUT(Stored(kMeshed, 641, 489)), 0, 144, EXPECT(AsRgb(h, 32, 489, 1253796, 0))},

    // ---- UYVY decoding: five alternatives, height rule A, NTSC bit at 512 ----
    {"uyvy_0", kUyvy, kDecode, INPUT(Stored(kUyvy, 720, 486)), 0, 144,
     EXPECT(AsRgb(h, 32, 486, 1399680, 0x20); Marked(h))},
    {"uyvy_1", kUyvy, kDecode, INPUT(Stored(kUyvy, 720, 486)), 1, 144,
     EXPECT(AsRgb(h, 24, 486, 1049760, 0x20); Marked(h))},
    {"uyvy_2", kUyvy, kDecode, INPUT(Stored(kUyvy, 720, 486)), 2, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 32, 1, 486, 1399680, 0x20, 0, 16); Marked(h))},
    {"uyvy_3", kUyvy, kDecode, INPUT(Stored(kUyvy, 720, 576)), 3, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 24, 1, 576, 1244160, 0, 0, 16); Marked(h))},
    {"uyvy_4", kUyvy, kDecode, INPUT(Stored(kUyvy, 640, 486)), 4, 144,
     EXPECT(AsRgb(h, 32, 486, 1244160, 0x20); Marked(h))},
    {"uyvy_5", kUyvy, kDecode, INPUT(Stored(kUyvy, 720, 486)), 5, 0, REFUSED},
    {"uyvy_480_refused", kUyvy, kDecode, INPUT(Stored(kUyvy, 720, 480)), 0, 0, REFUSED},

    // ---- encoding: 160-byte stored headers ----
    {"enc_meshed", kMeshed, kEncode, [] { return PackedInterlaced(640, 480, 0x3C, 0x40); }, 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 32, 1, 480, 1228800, 0x40, 0, 16); h.dwRowAlign = 4)},
    {"enc_meshed_24bit_input", kMeshed, kEncode, INPUT(Rgb(641, 3, 24)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 32, 1, 3, 7692, 0, 0, 16); h.dwRowAlign = 4)},
    {"enc_packed", kPacked, kEncode, INPUT(Rgb(720, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 486, 699840, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_packed_not_interlaced", kPacked, kEncode, [] { return PackedInterlaced(704, 480, 0, 0x40); }, 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 480, 675840, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_packed_interlaced", kPacked, kEncode, [] { return PackedInterlaced(704, 480, 5, 0x40); }, 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 480, 675840, 0x40, 0, 512); h.dwRowAlign = 4)},
    {"enc_packed_interlaced_720", kPacked, kEncode, [] { return PackedInterlaced(720, 576, 5, 0x40); }, 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 576, 829440, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_packed_odd_width", kPacked, kEncode, [] { return PackedInterlaced(703, 480, 0, 0); }, 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 480, 675840, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_packed_yuv_input", kPacked, kEncode, INPUT(Yuv444(720, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 486, 699840, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_packed_480_refused", kPacked, kEncode, INPUT(Rgb(720, 480)), 0, 0, REFUSED},
    {"enc_extd_486", kExtd, kEncode, INPUT(Rgb(720, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 512, 737280, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_extd_576", kExtd, kEncode, INPUT(Rgb(720, 576, 24)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 608, 875520, 1, 0, 512); h.dwRowAlign = 4)},
    {"enc_extd_704_refused", kExtd, kEncode, INPUT(Rgb(704, 480)), 0, 0, REFUSED},
    {"enc_709", k709, kEncode, INPUT(Rgb(720, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 486, 699840, 1, 2, 512); h.dwRowAlign = 4)},
    {"enc_planar", kPlanar, kEncode, INPUT(Rgb(720, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 24, 3, 486, 746496, 1, 0, 0); h.dwRowAlign = 64)},
    {"enc_planar_130", kPlanar, kEncode, INPUT(Rgb(130, 480)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 24, 3, 480, 215040, 1, 0, 0); h.dwRowAlign = 64)},
    {"enc_uyvy", kUyvy, kEncode, INPUT(Rgb(720, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_UYVY, 16, 1, 486, 699840, 0x20, 0, 512); h.dwRowAlign = 4)},
    {"enc_uyvy_576", kUyvy, kEncode, INPUT(Rgb(720, 576)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_UYVY, 16, 1, 576, 829440, 0, 0, 512); h.dwRowAlign = 4)},
    {"enc_uyvy_640", kUyvy, kEncode, INPUT(Rgb(640, 486)), 0, 160,
     EXPECT(AsYuv(h, FOURCC_UYVY, 16, 1, 486, 622080, 0x20, 0, 512); h.dwRowAlign = 4)},
    {"enc_uyvy_480_refused", kUyvy, kEncode, INPUT(Rgb(640, 480)), 0, 0, REFUSED},
    // A size that biSizeImage cannot hold: refused before anything is allocated.
    {"enc_meshed_huge_refused", kMeshed, kEncode, INPUT(Rgb(0x7FFFFFFF, 0x7FFFFFFF, 24)), 0, 0, REFUSED},
    {"enc_meshed_negative_width_refused", kMeshed, kEncode, INPUT(Rgb(-1, 1)), 0, 0, REFUSED},
    {"meshed_height_min_refused", kMeshed, kDecode, INPUT(Stored(kMeshed, 0, -0x7FFFFFFF - 1)), 0, 0, REFUSED},
    {"packed_wide_0_refused", kPacked, kDecode, INPUT(Stored(kPacked, 0x7FFFFFFF, 1)), 0, 0, REFUSED},
    {"packed_wide_5", kPacked, kDecode, INPUT(Stored(kPacked, 0x7FFFFFFF, 1)), 5, 160,
     EXPECT(AsYuv(h, FOURCC_YUV, 16, 1, 1, 0xFFFFFFFEu, 0x20, 0, 512); Marked(h); h.dwRowAlign = 0xFFFFFFFEu)},
    {"enc_meshed_16bit_refused", kMeshed, kEncode, INPUT(Rgb(640, 480, 16)), 0, 0, REFUSED},
};

LONG GetFormat(ICodec* codec, const FormatCase& f, const Header& in, Header** out, IFrameAllocator* allocator) {
  return f.op == kDecode ? codec->DecompressGetFormat(&in, out, allocator, f.index)
                         : codec->CompressGetFormat(&in, out, allocator);
}

class Format : public CodecTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(Format, DerivesTheHeaderByteForByte) {
  const FormatCase& f = GetParam();
  const Header in = f.input(), before = in;
  Allocator allocator;
  Header sentinel;
  Header* out = &sentinel;
  const LONG status = GetFormat(codec(f.codec), f, in, &out, &allocator);
  EXPECT_EQ(std::memcmp(&in, &before, sizeof in), 0);
  if (!f.expect) {
    EXPECT_EQ(status, CODEC_E_FORMAT);
    EXPECT_TRUE(allocator.sizes.empty());
    EXPECT_EQ(out, &sentinel);
    return;
  }
  ASSERT_EQ(status, CODEC_OK);
  ASSERT_EQ(allocator.sizes, std::vector<DWORD>{f.size});
  EXPECT_EQ(allocator.flags, std::vector<DWORD>{0});
  Header want;
  std::memset(&want, 0, sizeof want);
  std::memcpy(&want, &in, 144);
  f.expect(want);
  for (DWORD i = 0; i < f.size; ++i)
    EXPECT_EQ(reinterpret_cast<const BYTE*>(out)[i], reinterpret_cast<const BYTE*>(&want)[i]) << "byte " << i;
}

class AllocationFailure : public CodecTest {
 protected:
  void CheckAllocationFailure(const FormatCase& f) {
    const Header in = f.input();
    Allocator allocator;
    allocator.refuse = true;
    Header sentinel;
    Header* out = &sentinel;
    Messages messages;
    EXPECT_EQ(GetFormat(codec(f.codec), f, in, &out, &allocator), CODEC_E_NOHEADER);
    EXPECT_EQ(out, &sentinel);
    const WCHAR* cls = f.codec == kPlanar   ? TEXT("Cccir601Planar")
                       : f.codec == kMeshed ? TEXT("Cccir601Meshed")
                       : f.codec == kUyvy   ? TEXT("CTarnelYVY")
                                            : TEXT("Cccir601Packed");
    const WCHAR* op = f.op == kDecode ? TEXT("DecompressGetFormat") : TEXT("CompressGetFormat");
    ASSERT_EQ(messages.all.size(), 1u);
    EXPECT_EQ(messages.all[0].text,
              plat::FormatWS(TEXT("%s::%s: Allocation of %u bytes Failed!\r\n"), cls, op, f.size));
    EXPECT_EQ(messages.all[0].level, 2);
  }
};

TEST_F(AllocationFailure, IsReportedForEveryAlternative) {
  for (const FormatCase& f : kCases) {
    if (!f.expect) continue;  // refused before allocating
    SCOPED_TRACE(f.name);
    CheckAllocationFailure(f);
  }
}

INSTANTIATE_TEST_SUITE_P(Alternatives, Format, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FormatCase>& i) {
                           std::string name = i.param.name;
                           for (char& ch : name)
                             if (ch == '-') ch = 'm';
                           return name;
                         });

class Negotiation : public CodecTest {};

TEST_F(Negotiation, ARefusalIsTheQuerysOwnWithItsMessage) {
  Header in = Carried(Stored(kPacked, 720, 486));
  in.dwExtDataOffset = 0;
  Allocator allocator;
  Header* out = nullptr;
  Messages messages;
  EXPECT_EQ(codec(kPacked)->DecompressGetFormat(&in, &out, &allocator, 0), CODEC_E_FORMAT);
  EXPECT_EQ(messages.Texts(),
            std::vector<wstring>{TEXT("Cccir601Packed::DecompressQuery() - dwExtDataOffset == 0 \n")});
  const Header top = Rgb(720, -486);
  EXPECT_EQ(codec(kPlanar)->CompressGetFormat(&top, &out, &allocator), CODEC_E_FORMAT);
  EXPECT_EQ(messages.Texts().back(),
            TEXT("Cccir601Planar::CompressQuery() - Top down only supported for interlaced flags:00000000\n"));
  EXPECT_TRUE(allocator.sizes.empty());
  EXPECT_EQ(out, nullptr);
}

// Formats a codec derives that its own queries refuse, as its rules say.
TEST_F(Negotiation, SomeDerivedFormatsAreRefusedByTheSameCodec) {
  Allocator allocator;
  Header* made = nullptr;
  // The planar encoder keeps any height; its query pairs only 576, 486 and 480 lines.
  const Header rgb400 = Rgb(640, 400);
  ASSERT_EQ(codec(kPlanar)->CompressGetFormat(&rgb400, &made, &allocator), CODEC_OK);
  Header stored = *made;
  EXPECT_EQ(codec(kPlanar)->CompressQuery(&rgb400, &stored), CODEC_E_FORMAT);
  // Interlaced content away from width 720 keeps the input's flag, whose bit 0 the output needs.
  const Header interlaced = PackedInterlaced(704, 480, 5, 0);
  ASSERT_EQ(codec(kPacked)->CompressGetFormat(&interlaced, &made, &allocator), CODEC_OK);
  stored = *made;
  EXPECT_EQ(stored.dwFormatFlag, 0u);
  EXPECT_EQ(codec(kPacked)->CompressQuery(&interlaced, &stored), CODEC_E_FORMAT);
  // A negative height away from width 720 stays negative in the RGB result, which must be bottom-up.
  const Header topDown = Stored(kPacked, 704, -480);
  ASSERT_EQ(codec(kPacked)->DecompressGetFormat(&topDown, &made, &allocator, 0), CODEC_OK);
  EXPECT_EQ(made->biHeight, -480);
  EXPECT_EQ(codec(kPacked)->DecompressQuery(&topDown, made), CODEC_E_FORMAT);
  // The 16-bit descriptions (indices 5 and 6) are no output the decoder takes.
  const Header packed = Stored(kPacked, 720, 486);
  for (DWORD index : {5u, 6u}) {
    ASSERT_EQ(codec(kPacked)->DecompressGetFormat(&packed, &made, &allocator, index), CODEC_OK);
    EXPECT_EQ(codec(kPacked)->DecompressQuery(&packed, made), CODEC_E_FORMAT) << index;
  }
  // Everything else pairs up: the decoders' other results and the encoders' headers.
  for (DWORD index : {0u, 1u, 2u, 3u, 4u}) {
    ASSERT_EQ(codec(kPacked)->DecompressGetFormat(&packed, &made, &allocator, index), CODEC_OK);
    EXPECT_EQ(codec(kPacked)->DecompressQuery(&packed, made), CODEC_OK) << index;
  }
  const Header rgb = Rgb(720, 486);
  for (Codec c : {kPlanar, kMeshed, kPacked, kExtd, kUyvy, k709}) {
    ASSERT_EQ(codec(c)->CompressGetFormat(&rgb, &made, &allocator), CODEC_OK) << CodecName(c);
    stored = *made;
    EXPECT_EQ(codec(c)->CompressQuery(&rgb, &stored), CODEC_OK) << CodecName(c);
  }
}

}  // namespace
}  // namespace tarneltest
