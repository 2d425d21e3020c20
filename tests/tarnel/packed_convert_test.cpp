// The packed codecs' conversions: where each stored row lands in the host's
// frame, the blank rows of the extended heights, the half-size preview, row
// pitches, alpha, round trips, refused frames and the timing lines. Every
// input frame and header ends at an unreadable page; every output frame is a
// guarded block of exactly its size.
#include <cstdlib>
#include <cwchar>

#include "frames.h"

namespace tarneltest {
namespace {

using tarnel::Kernels;

// The stored header of a packed frame; biSizeImage 0 (no size given) unless set.
Header PackedHeader(LONG width, LONG height, bool twoFields, DWORD rowAlign = 0) {
  Header h = Stored(kPacked, width, height);
  h.dwFormatFlag = twoFields ? 1 : 0;
  h.dwInterlace = 1;
  h.dwRowAlign = rowAlign;
  return h;
}

// Rows of stored field f: blank rows, picture rows.
struct FieldRows {
  int blank, rows;
};
FieldRows RowsOf(LONG height, int fields, int f) {
  if (height == 512) return {26 / fields + (f == 0), f == 0 ? 242 : 243};
  if (height == 608) return {32 / fields, 288};
  return {0, int(std::abs(height) / fields)};
}

// Where picture line `line` is stored: the field, and the row within it
// counted from the field's start (blank rows included); -1 when not stored.
struct Place {
  int field, row;
};
Place PlaceOf(LONG height, int fields, bool swapped, int line) {
  if (fields == 1) return {0, line < RowsOf(height, 1, 0).rows ? RowsOf(height, 1, 0).blank + line : -1};
  const int f = swapped ? 1 - line % 2 : line % 2;
  const FieldRows r = RowsOf(height, 2, f);
  return {f, line / 2 < r.rows ? r.blank + line / 2 : -1};
}

struct Frame {
  std::vector<BYTE> bytes;
  int64_t pitch = 0, field1 = 0;
  const BYTE* Row(const Place& p) const { return bytes.data() + (p.field ? field1 : 0) + p.row * pitch; }
};
// Random stored bytes for `h`: its biSizeImage, or the size its layout needs.
Frame StoredFrame(const Header& h, uint32_t seed) {
  Frame f;
  f.pitch = PackedPitch(h.biWidth, h.dwRowAlign);
  const int64_t size = h.biSizeImage ? h.biSizeImage : std::abs(h.biHeight) * f.pitch;
  f.bytes.resize(size_t(size));
  Rng(seed).Fill(f.bytes.data(), f.bytes.size());
  f.field1 = (h.dwFormatFlag & 1) ? size / 2 : 0;
  return f;
}

struct Decoded {
  LONG status;
  const BYTE* frame;
};

class PackedConvert : public CodecTest {
 protected:
  Decoded Decode(Codec c, const Header& in, const Frame& frame, Header& out, DWORD flags = 0) {
    PlacedHeader inHeader(in, true);
    PlacedHeader outHeader(out, false);
    auto input = InputFrame(frame.bytes);
    void* result = reinterpret_cast<void*>(1);
    const LONG status =
        codec(c)->Decompress(inHeader.get(), input->data(), outHeader.get(), &result, &flags, &allocator_, 0);
    std::memcpy(&out, outHeader.get(), out.biSize >= 160 ? 160 : 144);
    return {status, static_cast<const BYTE*>(result)};
  }
  Allocator allocator_;
};

// ---- where the stored rows go ----

struct MappingCase {
  LONG width, height;
  bool twoFields;
  WORD bits;
  bool yuv;
  int64_t sizeImage;  // 0: none given; else this many bytes beyond the layout
  DWORD rowAlign;
};

class PackedMapping : public PackedConvert, public testing::WithParamInterface<MappingCase> {};

TEST_P(PackedMapping, EveryPictureLineComesFromItsFieldRow) {
  const MappingCase& m = GetParam();
  Header in = PackedHeader(m.width, m.height, m.twoFields, m.rowAlign);
  if (m.sizeImage) in.biSizeImage = DWORD(std::abs(m.height) * PackedPitch(m.width, m.rowAlign) + m.sizeImage);
  const Frame frame = StoredFrame(in, 7 + m.height + m.width);
  const LONG lines = m.height == 512 ? 486 : m.height == 608 ? 576 : m.height;
  Header out = m.yuv ? Yuv444(m.width, lines, m.bits) : Rgb(m.width, lines, m.bits);
  const int bpp = m.bits / 8;
  const int64_t stride = (int64_t(m.width) * bpp + 3) / 4 * 4;
  out.biSizeImage = DWORD(stride * lines);
  const Decoded d = Decode(kPacked, in, frame, out);
  ASSERT_EQ(d.status, CODEC_OK);
  ASSERT_NE(d.frame, nullptr);
  const int fields = m.twoFields ? 2 : 1;
  const bool swapped = m.height <= 512 && (m.yuv || m.width == 720);
  const Kernels& k = Bt601Kernels();
  for (int line = 0; line < lines; ++line) {
    const BYTE* row = d.frame + (lines - 1 - line) * stride;
    const Place p = PlaceOf(m.height, fields, swapped, line);
    for (int x = 0; x < m.width / 2 * 2; ++x) {
      const BYTE* px = row + x * bpp;
      BYTE want[4] = {0, 0, 0, 0};
      if (p.row < 0) {
        // The bottom line of a 512-row frame is black; other lines that no
        // field holds (odd heights) are not written.
        if (m.height != 512 || (!m.yuv && m.width != 720)) continue;
        if (m.yuv) want[0] = 16, want[1] = 128, want[2] = 128, want[3] = 255;
      } else {
        const BYTE* g = frame.Row(p) + x / 2 * 4;
        if (m.yuv) want[0] = g[1 + 2 * (x % 2)], want[1] = g[0], want[2] = g[2];
        else k.Decode(g[1 + 2 * (x % 2)], g[0], g[2], want);
        want[3] = 255;
      }
      for (int c = 0; c < bpp; ++c)
        ASSERT_EQ(px[c], want[c]) << "line " << line << " x " << x << " channel " << c;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Heights, PackedMapping,
    testing::Values(MappingCase{720, 486, true, 32, false, 0, 0}, MappingCase{720, 486, true, 24, true, 0, 0},
                    MappingCase{720, 576, true, 24, false, 0, 0}, MappingCase{720, 576, true, 32, true, 0, 0},
                    MappingCase{720, 512, true, 32, false, 0, 0}, MappingCase{720, 512, true, 24, true, 0, 0},
                    MappingCase{720, 608, true, 32, false, 0, 0}, MappingCase{720, 608, true, 32, true, 0, 0},
                    // no swap to RGB away from 720, but to YUV at any width; no black line in RGB
                    MappingCase{718, 486, true, 32, false, 0, 0}, MappingCase{718, 486, true, 32, true, 0, 0},
                    MappingCase{718, 512, true, 24, false, 0, 0}, MappingCase{718, 512, true, 32, true, 0, 0},
                    // one field; odd widths; a given size puts field 1 at its half
                    MappingCase{64, 20, false, 32, false, 0, 0}, MappingCase{33, 10, true, 24, false, 0, 0},
                    MappingCase{33, 11, true, 32, true, 0, 0}, MappingCase{720, 486, true, 32, false, 4096, 0},
                    // pitches from dwRowAlign: itself when it holds a row, else a multiple of it
                    MappingCase{720, 576, true, 32, false, 0, 1440}, MappingCase{720, 576, true, 32, false, 0, 2000},
                    MappingCase{21, 8, true, 24, true, 0, 16}, MappingCase{21, 8, false, 32, false, 0, 7},
                    MappingCase{3, 4, true, 32, false, 0, 1}));

// ---- the encoders ----

// 24- or 32-bit host pixels for a width x height frame.
std::vector<BYTE> HostFrame(LONG width, LONG height, WORD bits, uint32_t seed) {
  std::vector<BYTE> bytes(size_t(tarnel::Stride(width, bits) * height));
  Rng(seed).Fill(bytes.data(), bytes.size());
  return bytes;
}

struct EncodeCase {
  Codec codec;
  LONG width, height;  // of the host frame
  LONG storedHeight;
  bool yuv;
  WORD bits;
  DWORD flags, alphaMode, rowAlign;
};

class PackedEncode : public PackedConvert, public testing::WithParamInterface<EncodeCase> {};

TEST_P(PackedEncode, FieldsBlankRowsAndPairs) {
  const EncodeCase& e = GetParam();
  Header in = e.yuv ? Yuv444(e.width, e.height, e.bits) : Rgb(e.width, e.height, e.bits);
  in.dwAlphaMode = e.alphaMode;
  const std::vector<BYTE> host = HostFrame(e.width, e.height, e.bits, 11 + e.width);
  Header out = PackedHeader(e.width, e.storedHeight, true, e.rowAlign);
  const int64_t pitch = PackedPitch(e.width, e.rowAlign);
  out.biSizeImage = DWORD(pitch * e.storedHeight);
  PlacedHeader inHeader(in, true), outHeader(out, false);
  auto input = InputFrame(host);
  void* result = nullptr;
  DWORD flags = e.flags;
  ASSERT_EQ(codec(e.codec)->Compress(inHeader.get(), input->data(), outHeader.get(), &result, &flags, &allocator_, 0),
            CODEC_OK);
  EXPECT_EQ(DWORD(outHeader->dwRowAlign), e.rowAlign ? e.rowAlign : 4u);
  const BYTE* stored = static_cast<const BYTE*>(result);
  const Kernels& k = Bt601Kernels(!(e.flags & 0x100));
  const int bpp = e.bits / 8;
  const int64_t inStride = tarnel::Stride(e.width, e.bits);
  const bool premultiply = (e.flags & 8) && bpp == 4 && (e.yuv ? !(e.alphaMode & 1) : e.alphaMode == 0);
  for (int f = 0; f < 2; ++f) {
    const FieldRows r = RowsOf(e.storedHeight, 2, f);
    const BYTE* base = stored + (f ? out.biSizeImage / 2 : 0);
    for (int row = 0; row < r.blank + r.rows; ++row) {
      const BYTE* g = base + row * pitch;
      const int line = (e.storedHeight <= 512 ? 1 - f : f) + 2 * (row - r.blank);
      const BYTE* src = host.data() + (e.height - 1 - line) * inStride;
      for (int x = 0; x < e.width / 2; ++x, g += 4) {
        BYTE want[4] = {0x80, 0x10, 0x80, 0x10};
        if (row >= r.blank) {
          BYTE p[2][3];
          for (int i = 0; i < 2; ++i)
            for (int c = 0; c < 3; ++c) {
              const BYTE* px = src + (2 * x + i) * bpp;
              p[i][c] = px[c];
              if (premultiply && !e.yuv) p[i][c] = tarnel::Premultiply(px[c], px[3]);
              if (premultiply && e.yuv)
                p[i][c] = tarnel::PremultiplyAround(px[c], px[3], c == 0 ? 16 : 128);
            }
          if (e.yuv) {
            want[0] = tarnel::ChromaMean(p[0][1], p[1][1]);
            want[1] = p[0][0];
            want[2] = tarnel::ChromaMean(p[0][2], p[1][2]);
            want[3] = p[1][0];
          } else {
            k.EncodePair(p[0], p[1], &want[1], &want[3], &want[0], &want[2]);
          }
        }
        ASSERT_EQ(std::memcmp(g, want, 4), 0) << "field " << f << " row " << row << " group " << x;
      }
      for (int64_t pad = e.width / 2 * 4; pad < pitch; ++pad) ASSERT_EQ(g[pad - e.width / 2 * 4], 0) << "padding";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PackedEncode,
    testing::Values(EncodeCase{kPacked, 720, 486, 486, false, 32, 0, 0, 0},
                    EncodeCase{kPacked, 720, 576, 576, false, 24, 0x100, 0, 0},
                    EncodeCase{kExtd, 720, 486, 512, false, 32, 0, 0, 0},
                    EncodeCase{kExtd, 720, 576, 608, true, 24, 0, 0, 0},
                    EncodeCase{k709, 720, 486, 486, true, 32, 0, 0, 2048},
                    // premultiplication: RGB by the whole dwAlphaMode, 4:4:4 by its bit 0
                    EncodeCase{kPacked, 64, 16, 16, false, 32, 8, 0, 0},
                    EncodeCase{kPacked, 64, 16, 16, false, 32, 8, 2, 0},
                    EncodeCase{kPacked, 64, 16, 16, false, 24, 8, 0, 0},
                    EncodeCase{kPacked, 64, 16, 16, true, 32, 8, 2, 0},
                    EncodeCase{kPacked, 64, 16, 16, true, 32, 8, 1, 0},
                    // odd widths, narrow frames and odd pitches
                    EncodeCase{kPacked, 37, 9, 9, false, 32, 0, 0, 7},
                    EncodeCase{kPacked, 5, 6, 6, true, 24, 0, 0, 1},
                    EncodeCase{kPacked, 1, 4, 4, false, 32, 0, 0, 0}));

// ---- the half-size preview ----

struct HalfCase {
  LONG width, height;
  bool twoFields;
  WORD bits;
  DWORD flag;
};
class PackedHalf : public PackedConvert, public testing::WithParamInterface<HalfCase> {};

TEST_P(PackedHalf, FirstFieldLeftPixels) {
  const HalfCase& hc = GetParam();
  const Header in = PackedHeader(hc.width, hc.height, hc.twoFields);
  const Frame frame = StoredFrame(in, 3);
  const LONG lines = hc.height == 512 ? 486 : hc.height == 608 ? 576 : hc.height;
  Header out = Rgb(hc.width, lines, hc.bits);
  out.biSizeImage = DWORD(tarnel::Stride(hc.width, hc.bits) * lines);
  const Decoded d = Decode(kExtd, in, frame, out, hc.flag);
  ASSERT_EQ(d.status, CODEC_OK);
  EXPECT_EQ(LONG(out.biWidth), hc.width / 2);
  EXPECT_EQ(LONG(out.biHeight), lines / 2);
  EXPECT_EQ(DWORD(out.biSizeImage), DWORD(tarnel::Stride(hc.width, hc.bits) * lines / 4));
  const int bpp = hc.bits / 8;
  const int64_t stride = tarnel::Stride(out.biWidth, hc.bits);
  const FieldRows r = RowsOf(hc.height, hc.twoFields ? 2 : 1, 0);
  const int rows = hc.height == 512 || hc.height == 608 ? r.rows : hc.height / 2;
  const int step = hc.twoFields ? 1 : 2;  // one field: every second line
  for (int i = 0; i < rows; ++i) {
    const BYTE* g = frame.bytes.data() + (r.blank + i * step) * frame.pitch;
    const BYTE* px = d.frame + (out.biHeight - 1 - i) * stride;
    for (int x = 0; x < hc.width / 2; ++x, g += 4, px += bpp) {
      BYTE want[4] = {0, 0, 0, 255};
      Bt601Kernels().Decode(g[1], g[0], g[2], want);
      ASSERT_EQ(std::memcmp(px, want, size_t(bpp)), 0) << "row " << i << " pixel " << x;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Previews, PackedHalf,
                         testing::Values(HalfCase{720, 486, true, 32, 0x80}, HalfCase{720, 576, true, 24, 0x200},
                                         HalfCase{720, 512, true, 32, 0x80}, HalfCase{720, 608, true, 24, 0x280},
                                         HalfCase{64, 30, false, 32, 0x80}));

TEST_F(PackedConvert, HalfPreviewOfTinyFrames) {
  // Halved widths and heights of 0 or 1: nothing to write, or one pixel a
  // row, whatever the stored rows; every output block is exactly its size.
  for (LONG width : {0, 1, 2, 3}) {
    for (LONG height : {512, 608, 1, 2}) {
      const Header in = PackedHeader(width, height, true);
      const Frame frame = StoredFrame(in, 5);
      Header out = Rgb(width, height, 32);
      out.biSizeImage = DWORD(tarnel::Stride(width, 32) * height);
      const Decoded d = Decode(kPacked, in, frame, out, 0x80);
      EXPECT_EQ(d.status, CODEC_OK) << width << "x" << height;
      EXPECT_EQ(LONG(out.biWidth), width / 2);
      EXPECT_EQ(DWORD(out.biSizeImage), DWORD(tarnel::Stride(width, 32) * height / 4));
    }
  }
}

// ---- round trips ----

// RGB through the stored frame and back: with both pixels of a pair alike,
// only the quantisation of BT.601 studio range is left, at most 2 in B
// (1.164 x 0.5 + 2.017 x 0.5 + 0.5 for the decoder's rounding) and 1 in G and R.
TEST_F(PackedConvert, RoundTripWithinBt601Quantisation) {
  const LONG w = 720, h = 486;
  std::vector<BYTE> host(size_t(w * h * 4));
  Rng rng(99);
  for (size_t i = 0; i < host.size(); i += 8) {
    for (int c = 0; c < 4; ++c) host[i + c] = host[i + 4 + c] = rng.Byte();
  }
  for (Codec c : {kPacked, kExtd, k709}) {
    const Header in = Rgb(w, h, 32);
    Header stored = c == kExtd ? PackedHeader(w, 512, true) : PackedHeader(w, h, true);
    if (c == k709) stored.dwColorSpace = 2;
    ASSERT_EQ(codec(c)->CompressQuery(&in, &stored), CODEC_OK);
    PlacedHeader inHeader(in, true), outHeader(stored, false);
    auto input = InputFrame(host);
    void* frame = nullptr;
    ASSERT_EQ(codec(c)->Compress(inHeader.get(), input->data(), outHeader.get(), &frame, nullptr, &allocator_, 0),
              CODEC_OK);
    Frame f;
    f.bytes.assign(static_cast<BYTE*>(frame), static_cast<BYTE*>(frame) + outHeader->biSizeImage);
    Header back = Rgb(w, h, 32);
    back.biSizeImage = DWORD(w * h * 4);
    const Decoded d = Decode(c, *outHeader.get(), f, back);
    ASSERT_EQ(d.status, CODEC_OK);
    int worst[3] = {0, 0, 0};
    // The extended frame does not keep the bottom line (memory row 0).
    for (size_t i = c == kExtd ? size_t(w * 4) : 0; i < host.size(); ++i) {
      if (i % 4 == 3) {
        ASSERT_EQ(d.frame[i], 255);
        continue;
      }
      worst[i % 4] = std::max(worst[i % 4], std::abs(int(d.frame[i]) - int(host[i])));
    }
    EXPECT_LE(worst[0], 2) << CodecName(c);
    EXPECT_LE(worst[1], 1) << CodecName(c);
    EXPECT_LE(worst[2], 1) << CodecName(c);
    if (c == kExtd) {
      for (int i = 0; i < w * 4; ++i) ASSERT_EQ(d.frame[i], 0) << "the black bottom line";
    }
  }
}

TEST_F(PackedConvert, UniformFramesStayUniform) {
  for (const BYTE grey : {0, 1, 128, 254, 255}) {
    const std::vector<BYTE> host(720 * 486 * 3, grey);
    const Header in = Rgb(720, 486, 24);
    Header stored = PackedHeader(720, 486, true);
    stored.biSizeImage = 720 * 486 * 2;
    PlacedHeader inHeader(in, true), outHeader(stored, false);
    auto input = InputFrame(host);
    void* frame = nullptr;
    ASSERT_EQ(codec(kPacked)->Compress(inHeader.get(), input->data(), outHeader.get(), &frame, nullptr, &allocator_, 0),
              CODEC_OK);
    const BYTE* s = static_cast<const BYTE*>(frame);
    for (size_t i = 4; i < stored.biSizeImage; ++i) ASSERT_EQ(s[i], s[i % 4]);
    EXPECT_EQ(s[0], 128);
    EXPECT_EQ(s[2], 128);
  }
}

// ---- the buffer rule ----

struct RefusedCase {
  const char* what;
  bool encode;
  Header stored;  // packed header (input of decoders, output of encoders)
  int64_t frameBytes;  // what the host hands over (decoders) or the output size (encoders)
  DWORD flags;
};

TEST_F(PackedConvert, FramesThatWouldLeaveTheirBuffersAreRefused) {
  const int64_t pitch = 1440;
  auto with = [](Header h, DWORD rowAlign, DWORD sizeImage) {
    h.dwRowAlign = rowAlign;
    h.biSizeImage = sizeImage;
    return h;
  };
  const Header p486 = PackedHeader(720, 486, true);
  const RefusedCase cases[] = {
      // a pitch wider than the size the queries check
      {"decode: dwRowAlign past the frame", false, with(p486, 2048, DWORD(486 * pitch)), 486 * pitch, 0},
      {"half: dwRowAlign past field 0", false, with(p486, 4096, DWORD(486 * pitch)), 486 * pitch, 0x80},
      {"encode: dwRowAlign past the frame", true, with(p486, 2048, DWORD(486 * pitch)), 486 * pitch, 0},
      {"encode: no room for field 1", true, with(p486, 0, DWORD(400 * pitch)), 400 * pitch, 0},
      {"encode: extended rows in a short frame", true, with(PackedHeader(720, 512, true), 0, DWORD(486 * pitch)),
       486 * pitch, 0},
  };
  for (const RefusedCase& rc : cases) {
    SCOPED_TRACE(rc.what);
    Allocator allocator;
    void* frame = reinterpret_cast<void*>(1);
    LONG status;
    if (rc.encode) {
      const Header in = Rgb(720, 486, 32);
      const std::vector<BYTE> host(720 * 486 * 4, 7);
      PlacedHeader inHeader(in, true), outHeader(rc.stored, false);
      auto input = InputFrame(host);
      status = codec(kExtd)->Compress(inHeader.get(), input->data(), outHeader.get(), &frame, &rc.flags, &allocator, 0);
      EXPECT_EQ(DWORD(outHeader->dwRowAlign), DWORD(rc.stored.dwRowAlign)) << "the header is left as it was";
    } else {
      Header out = Rgb(720, 486, 32);
      out.biSizeImage = 720 * 486 * 4;
      PlacedHeader inHeader(rc.stored, true), outHeader(out, false);
      auto input = InputFrame(std::vector<BYTE>(size_t(rc.frameBytes), 0x80));
      status = codec(kPacked)->Decompress(inHeader.get(), input->data(), outHeader.get(), &frame, &rc.flags, &allocator, 0);
      EXPECT_EQ(LONG(outHeader->biWidth), 720) << "the header is left as it was";
    }
    EXPECT_EQ(status, CODEC_E_FORMAT);
    EXPECT_EQ(frame, nullptr);
    EXPECT_TRUE(allocator.sizes.empty()) << "nothing allocated";
  }
}

TEST_F(PackedConvert, OutputFramesSmallerThanThePictureAreRefused) {
  const Header in = PackedHeader(720, 486, true);
  const Frame frame = StoredFrame(in, 1);
  for (const DWORD flags : {0u, 0x80u}) {
    for (const WORD bits : {24, 32}) {
      Header out = bits == 24 ? Rgb(720, 486, 24) : Yuv444(720, 486, 32);
      // Half: biSizeImage / 4 holds one row less than the halved picture.
      out.biSizeImage = DWORD(tarnel::Stride(720, bits) * 486 - (flags ? 4 * tarnel::Stride(360, bits) : 1));
      if (flags && bits == 32) continue;  // the preview is for RGB outputs only
      Allocator allocator;
      PlacedHeader inHeader(in, true), outHeader(out, false);
      auto input = InputFrame(frame.bytes);
      void* result = nullptr;
      EXPECT_EQ(codec(kPacked)->Decompress(inHeader.get(), input->data(), outHeader.get(), &result, &flags, &allocator, 0),
                CODEC_E_FORMAT);
      EXPECT_TRUE(allocator.sizes.empty());
    }
  }
}

TEST_F(PackedConvert, NoSizeGivenPutsField1AtHalfTheLayout) {
  Header in = PackedHeader(720, 576, true);
  Frame frame = StoredFrame(in, 21);  // field 1 at 288 rows
  Header out = Rgb(720, 576, 32);
  out.biSizeImage = 720 * 576 * 4;
  const Decoded none = Decode(kPacked, in, frame, out);
  ASSERT_EQ(none.status, CODEC_OK);
  in.biSizeImage = DWORD(frame.bytes.size());
  Header out2 = out;
  const Decoded given = Decode(kPacked, in, frame, out2);
  ASSERT_EQ(given.status, CODEC_OK);
  EXPECT_EQ(std::memcmp(none.frame, given.frame, out.biSizeImage), 0);
}

// ---- allocation, faults and timing ----

TEST_F(PackedConvert, AllocationFailuresAndFaults) {
  const Header in = PackedHeader(64, 8, true);
  const Frame frame = StoredFrame(in, 2);
  Header out = Rgb(64, 8, 32);
  out.biSizeImage = 64 * 8 * 4;
  allocator_.refuse = true;
  for (const DWORD flags : {0u, 0x80u}) {
    Header o = out;
    const Decoded d = Decode(kPacked, in, frame, o, flags);
    EXPECT_EQ(d.status, CODEC_E_NOFRAME);
    EXPECT_EQ(d.frame, nullptr);
  }
  const Header rgb = Rgb(64, 8, 32);
  Header stored = in;
  stored.biSizeImage = 64 * 8 * 2;
  auto input = InputFrame(std::vector<BYTE>(64 * 8 * 4, 1));
  void* result = reinterpret_cast<void*>(1);
  EXPECT_EQ(codec(kPacked)->Compress(&rgb, input->data(), &stored, &result, nullptr, &allocator_, 0),
            CODEC_E_UNEXPECTED);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(DWORD(stored.dwRowAlign), 0u) << "set only for a frame that is written";

  // A null input frame is the fault its use would be: reported, and no success.
  allocator_.refuse = false;
  Messages messages;
  EXPECT_EQ(codec(kPacked)->Compress(&rgb, nullptr, &stored, &result, nullptr, &allocator_, 0), CODEC_E_UNEXPECTED);
  ASSERT_EQ(messages.all.size(), 1u);
  EXPECT_EQ(messages.all[0].text, wstring(TEXT("Exception caught in Cccir601Packed::Compress\n")));
}

struct TimingCase {
  bool encode, yuv;
  DWORD flags;
  const WCHAR* start;
};
TEST_F(PackedConvert, TimingLines) {
  const TimingCase cases[] = {
      {false, false, 0, TEXT("Cccir601Packed::Time for Decoding (-> BGR(720x486))= ")},
      {false, false, 0x80, TEXT("Cccir601Packed::Time for Decoding (-> BGR(360x243))= ")},
      {false, true, 0, TEXT("Cccir601Packed::Time for Decoding (-> YUV(720x486))= ")},
      {true, false, 0, TEXT("Cccir601Packed::Time for Encoding (<- BGR(720x486))= ")},
      {true, true, 0, TEXT("Cccir601Packed::Time for Encoding (<- YUV(720x486))= ")},
  };
  for (const TimingCase& t : cases) {
    Messages messages;
    Header stored = PackedHeader(720, 486, true);
    stored.biSizeImage = 720 * 486 * 2;
    Header host = t.yuv ? Yuv444(720, 486, 32) : Rgb(720, 486, 32);
    host.biSizeImage = 720 * 486 * 4;
    void* result = nullptr;
    DWORD flags = t.flags;
    if (t.encode) {
      auto input = InputFrame(std::vector<BYTE>(host.biSizeImage, 9));
      ASSERT_EQ(codec(kPacked)->Compress(&host, input->data(), &stored, &result, &flags, &allocator_, 0), CODEC_OK);
    } else {
      auto input = InputFrame(std::vector<BYTE>(stored.biSizeImage, 9));
      ASSERT_EQ(codec(kPacked)->Decompress(&stored, input->data(), &host, &result, &flags, &allocator_, 0), CODEC_OK);
    }
    ASSERT_EQ(messages.all.size(), 1u);
    const Message& m = messages.all[0];
    EXPECT_EQ(m.category, 8);
    EXPECT_EQ(m.level, 4);
    const wstring start(t.start);
    ASSERT_EQ(m.text.substr(0, start.size()), start);
    const wstring rest = m.text.substr(start.size());  // "%4d ms\n"
    ASSERT_GE(rest.size(), 8u);
    EXPECT_EQ(rest.substr(rest.size() - 4), wstring(TEXT(" ms\n")));
  }
}

}  // namespace
}  // namespace tarneltest
