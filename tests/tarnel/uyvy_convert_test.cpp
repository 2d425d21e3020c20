// CTarnelYVY's conversions: row order, padding, the chroma filter and its
// edges, narrow and odd widths, alpha, round trips, the scratch row and
// refused frames. Input frames and headers end at an unreadable page.
#include <cstdlib>

#include "frames.h"


namespace tarneltest {
namespace {

using tarnel::Kernels;

Header UyvyHeader(LONG width, LONG height, DWORD rowAlign = 0) {
  Header h = Stored(kUyvy, width, height);
  h.dwRowAlign = rowAlign;
  return h;
}
int64_t UyvyRow(LONG width, DWORD rowAlign) { return tarnel::PaddedRow(int64_t(width) * 2, rowAlign); }

class UyvyConvert : public CodecTest {
 protected:
  LONG Run(bool encode, const Header& in, const std::vector<BYTE>& frame, Header& out, const BYTE** result,
           DWORD flags = 0) {
    PlacedHeader inHeader(in, true), outHeader(out, false);
    auto input = InputFrame(frame);
    void* r = reinterpret_cast<void*>(1);
    ICodec* c = codec(kUyvy);
    const LONG status = encode ? c->Compress(inHeader.get(), input->data(), outHeader.get(), &r, &flags, &allocator_, 0)
                               : c->Decompress(inHeader.get(), input->data(), outHeader.get(), &r, &flags, &allocator_, 0);
    std::memcpy(&out, outHeader.get(), out.biSize >= 160 ? 160 : 144);
    *result = static_cast<const BYTE*>(r);
    return status;
  }
  Allocator allocator_;
};

// ---- decoding ----

struct DecodeCase {
  LONG width, height;
  DWORD rowAlign;
  WORD bits;
  bool yuv;
};
class UyvyDecode : public UyvyConvert, public testing::WithParamInterface<DecodeCase> {};

TEST_P(UyvyDecode, RowsAndPixels) {
  const DecodeCase& d = GetParam();
  const Header in = UyvyHeader(d.width, d.height, d.rowAlign);
  const int64_t row = UyvyRow(d.width, d.rowAlign);
  const LONG rows = std::abs(d.height);
  std::vector<BYTE> stored(size_t(row * rows));
  Rng(d.width * 31 + rows).Fill(stored.data(), stored.size());
  Header out = d.yuv ? Yuv444(d.width, rows, d.bits) : Rgb(d.width, rows, d.bits);
  const int bpp = d.bits / 8;
  const int64_t stride = tarnel::Stride(d.width, d.bits);
  out.biSizeImage = DWORD(stride * rows);
  const BYTE* frame;
  ASSERT_EQ(Run(false, in, stored, out, &frame), CODEC_OK);
  for (LONG k = 0; k < rows; ++k) {
    const BYTE* g = stored.data() + k * row;
    const BYTE* px = frame + (d.height > 0 ? rows - 1 - k : k) * stride;
    for (int x = 0; x < d.width / 2 * 2; ++x, px += bpp) {
      const BYTE* group = g + x / 2 * 4;
      BYTE want[4] = {group[1 + 2 * (x % 2)], group[0], group[2], 255};
      if (!d.yuv) Bt601Kernels().Decode(group[1 + 2 * (x % 2)], group[0], group[2], want);
      ASSERT_EQ(std::memcmp(px, want, size_t(bpp)), 0) << "row " << k << " x " << x;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, UyvyDecode,
                         testing::Values(DecodeCase{720, 486, 0, 32, false}, DecodeCase{720, 576, 0, 24, false},
                                         DecodeCase{720, -576, 0, 32, true}, DecodeCase{720, 486, 2048, 24, true},
                                         DecodeCase{37, 5, 0, 32, false}, DecodeCase{37, -5, 16, 24, false},
                                         DecodeCase{2, 3, 0, 32, false}, DecodeCase{1, 3, 0, 32, true},
                                         DecodeCase{0, 3, 0, 24, false}));

// ---- encoding: the chroma filter ----

// The filtered chroma of group g of `pairs` from the chroma c of each pixel.
int Filtered(const std::vector<int>& c, int64_t g, int64_t pairs) {
  const int64_t x = 2 * g;
  if (g == 0) return (3 * c[0] + c[1]) >> 2;
  if (g == pairs - 1) return (3 * c[x] + c[x - 1]) >> 2;
  return (c[x - 1] + 2 * c[x] + c[x + 1]) >> 2;
}

struct EncodeCase {
  LONG width, height;
  bool yuv;
  WORD bits;
  DWORD flags, alphaMode, rowAlign;
};
class UyvyEncode : public UyvyConvert, public testing::WithParamInterface<EncodeCase> {};

TEST_P(UyvyEncode, FilteredGroups) {
  const EncodeCase& e = GetParam();
  Header in = e.yuv ? Yuv444(e.width, e.height, e.bits) : Rgb(e.width, e.height, e.bits);
  in.dwAlphaMode = e.alphaMode;
  const int bpp = e.bits / 8;
  const int64_t inStride = tarnel::Stride(e.width, e.bits);
  std::vector<BYTE> host(size_t(inStride * e.height));
  Rng(e.width + 5).Fill(host.data(), host.size());
  Header out = UyvyHeader(e.width, e.height, e.rowAlign);
  const int64_t row = UyvyRow(e.width, e.rowAlign ? e.rowAlign : 4);
  out.biSizeImage = DWORD(row * e.height);
  const BYTE* frame;
  ASSERT_EQ(Run(true, in, host, out, &frame, e.flags), CODEC_OK);
  EXPECT_EQ(DWORD(out.dwRowAlign), e.rowAlign ? e.rowAlign : 4u);
  const Kernels& k = Bt601Kernels(!(e.flags & 0x100));
  const bool premultiply = (e.flags & 8) && bpp == 4 && e.alphaMode == 0;
  const int64_t pairs = e.width / 2;
  for (LONG r = 0; r < e.height; ++r) {
    const BYTE* src = host.data() + (e.height - 1 - r) * inStride;
    std::vector<int> y, cb, cr;
    for (int x = 0; x < 2 * pairs; ++x) {
      BYTE p[3] = {src[x * bpp], src[x * bpp + 1], src[x * bpp + 2]};
      if (premultiply)
        for (int c = 0; c < 3; ++c)
          p[c] = e.yuv ? tarnel::PremultiplyAround(p[c], src[x * bpp + 3], c ? 128 : 16)
                       : tarnel::Premultiply(p[c], src[x * bpp + 3]);
      BYTE yuv[3] = {p[0], p[1], p[2]};
      if (!e.yuv) k.Encode(p[0], p[1], p[2], &yuv[0], &yuv[1], &yuv[2]);
      y.push_back(yuv[0]);
      cb.push_back(yuv[1]);
      cr.push_back(yuv[2]);
    }
    const BYTE* g = frame + r * row;
    for (int64_t i = 0; i < pairs; ++i, g += 4) {
      const BYTE want[4] = {k.limitC[Filtered(cb, i, pairs)], BYTE(y[2 * i]), k.limitC[Filtered(cr, i, pairs)],
                            BYTE(y[2 * i + 1])};
      ASSERT_EQ(std::memcmp(g, want, 4), 0) << "row " << r << " group " << i;
    }
    for (int64_t pad = pairs * 4; pad < row; ++pad) ASSERT_EQ(frame[r * row + pad], 0) << "padding";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, UyvyEncode,
    testing::Values(EncodeCase{720, 486, false, 32, 0, 0, 0}, EncodeCase{720, 576, false, 24, 0x100, 0, 0},
                    EncodeCase{720, 486, true, 24, 0, 0, 2048}, EncodeCase{64, 4, true, 32, 0, 0, 0},
                    // premultiplication: only when dwAlphaMode is 0 as a whole
                    EncodeCase{64, 4, false, 32, 8, 0, 0}, EncodeCase{64, 4, false, 32, 8, 2, 0},
                    EncodeCase{64, 4, true, 32, 8, 0, 0}, EncodeCase{64, 4, true, 32, 8, 2, 0},
                    // narrow and odd: one group, two (edges only), three, whole groups of odd widths
                    EncodeCase{2, 3, true, 24, 0, 0, 0}, EncodeCase{3, 3, false, 32, 0, 0, 0},
                    EncodeCase{4, 3, true, 24, 0, 0, 0}, EncodeCase{6, 3, false, 24, 0, 0, 0},
                    EncodeCase{7, 3, true, 32, 0, 0, 16}, EncodeCase{1, 3, false, 32, 0, 0, 0},
                    EncodeCase{0, 3, false, 32, 0, 0, 0}));

TEST_F(UyvyConvert, FilterWeightsAtTheEdges) {
  // Cb of the pixels: 0, 40, 80, ... ; Cr constant. Y carries the column.
  const LONG w = 8;
  std::vector<BYTE> host(size_t(w * 3));
  for (int x = 0; x < w; ++x) {
    host[x * 3] = BYTE(100 + x);
    host[x * 3 + 1] = BYTE(40 + 20 * x);
    host[x * 3 + 2] = 128;
  }
  const Header in = Yuv444(w, 1, 24);
  Header out = UyvyHeader(w, 1);
  out.biSizeImage = w * 2;
  const BYTE* frame;
  ASSERT_EQ(Run(true, in, host, out, &frame), CODEC_OK);
  // first: (3 x 40 + 60) / 4; middle: (60 + 2 x 80 + 100) / 4 and (100 + 240 + 140) / 4; last: (3 x 160 + 140) / 4
  const BYTE want[] = {45, 100, 128, 101, 80, 102, 128, 103, 120, 104, 128, 105, 155, 106, 128, 107};
  EXPECT_EQ(std::memcmp(frame, want, sizeof want), 0);
}

TEST_F(UyvyConvert, UniformFramesEncodeToIdenticalGroups) {
  for (const BYTE v : {0, 77, 255}) {
    const std::vector<BYTE> host(720 * 576 * 4, v);
    const Header in = Rgb(720, 576, 32);
    Header out = UyvyHeader(720, 576);
    out.biSizeImage = 720 * 576 * 2;
    const BYTE* frame;
    ASSERT_EQ(Run(true, in, host, out, &frame), CODEC_OK);
    for (size_t i = 4; i < out.biSizeImage; ++i) ASSERT_EQ(frame[i], frame[i % 4]) << i;
  }
}

// RGB through UYVY and back. With a colour per row the filter leaves the
// chroma as it is, and only BT.601 studio-range quantisation is left: at
// most 2 in B and 1 in G and R (see the packed round trip).
TEST_F(UyvyConvert, RoundTripWithinBt601Quantisation) {
  const LONG w = 720, h = 576;
  std::vector<BYTE> host(size_t(w * h * 4));
  Rng rng(5);
  for (LONG r = 0; r < h; ++r) {
    const BYTE c[4] = {rng.Byte(), rng.Byte(), rng.Byte(), rng.Byte()};
    for (LONG x = 0; x < w; ++x) std::memcpy(&host[size_t((r * w + x) * 4)], c, 4);
  }
  const Header in = Rgb(w, h, 32);
  Header stored = UyvyHeader(w, h);
  ASSERT_EQ(codec(kUyvy)->CompressQuery(&in, &stored), CODEC_OK);
  const BYTE* frame;
  ASSERT_EQ(Run(true, in, host, stored, &frame), CODEC_OK);
  const std::vector<BYTE> bytes(frame, frame + stored.biSizeImage);
  Header back = Rgb(w, h, 32);
  back.biSizeImage = DWORD(w * h * 4);
  const BYTE* decoded;
  ASSERT_EQ(Run(false, stored, bytes, back, &decoded), CODEC_OK);
  int worst[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < host.size(); ++i)
    worst[i % 4] = std::max(worst[i % 4], std::abs(int(decoded[i]) - int(i % 4 == 3 ? 255 : host[i])));
  EXPECT_LE(worst[0], 2);
  EXPECT_LE(worst[1], 1);
  EXPECT_LE(worst[2], 1);
  EXPECT_EQ(worst[3], 0);
}

// ---- the scratch row, refusals, faults ----

TEST_F(UyvyConvert, ScratchRowThatCannotBeHad) {
  const std::vector<BYTE> host(64 * 4 * 4, 3);
  const Header in = Rgb(64, 4, 32);
  Header out = UyvyHeader(64, 4);
  out.biSizeImage = 64 * 4 * 2;
  const LONG live = ZelkuLiveBlocks();
  ZelkuFailAllocation(1);
  const BYTE* frame;
  EXPECT_EQ(Run(true, in, host, out, &frame), CODEC_E_UNEXPECTED);
  ZelkuFailAllocation(0);
  EXPECT_EQ(frame, nullptr);
  EXPECT_TRUE(allocator_.sizes.empty()) << "no output frame without a scratch row";
  EXPECT_EQ(DWORD(out.dwRowAlign), 0u);
  EXPECT_EQ(ZelkuLiveBlocks(), live);

  allocator_.refuse = true;  // the output frame: the scratch row goes back
  EXPECT_EQ(Run(true, in, host, out, &frame), CODEC_E_UNEXPECTED);
  EXPECT_EQ(frame, nullptr);
  EXPECT_EQ(ZelkuLiveBlocks(), live);
}

TEST_F(UyvyConvert, DecoderAllocationFailure) {
  const Header in = UyvyHeader(16, 4);
  Header out = Rgb(16, 4, 32);
  out.biSizeImage = 16 * 4 * 4;
  allocator_.refuse = true;
  const BYTE* frame;
  EXPECT_EQ(Run(false, in, std::vector<BYTE>(16 * 4 * 2), out, &frame), CODEC_E_NOFRAME);
  EXPECT_EQ(frame, nullptr);
}

TEST_F(UyvyConvert, FaultsAreReportedAndReturnTheScratchRow) {
  Messages messages;
  const Header in = Rgb(64, 4, 32);
  Header out = UyvyHeader(64, 4);
  out.biSizeImage = 64 * 4 * 2;
  const LONG live = ZelkuLiveBlocks();
  void* frame = nullptr;
  EXPECT_EQ(codec(kUyvy)->Compress(&in, nullptr, &out, &frame, nullptr, &allocator_, 0), CODEC_E_UNEXPECTED);
  EXPECT_EQ(ZelkuLiveBlocks(), live);
  ASSERT_EQ(messages.all.size(), 1u) << "no timing line, one report";
  EXPECT_EQ(messages.all[0].text, wstring(TEXT("Exception caught in CTarnelYVY::Compress\n")));
}

TEST_F(UyvyConvert, FramesThatWouldLeaveTheirBuffersAreRefused) {
  struct Case {
    const char* what;
    bool encode;
    DWORD rowAlign, sizeImage;
  };
  const Case cases[] = {
      {"decode: padded rows past the frame", false, 2048, 720 * 486 * 2},
      {"encode: padded rows past the frame", true, 2048, 720 * 486 * 2},
      {"encode: a short output frame", true, 0, 720 * 486 * 2 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Allocator allocator;
    Header stored = UyvyHeader(720, 486, c.rowAlign);
    stored.biSizeImage = c.sizeImage;
    Header host = Rgb(720, 486, 32);
    host.biSizeImage = 720 * 486 * 4;
    const std::vector<BYTE> bytes(c.encode ? host.biSizeImage : stored.biSizeImage, 1);
    PlacedHeader inHeader(c.encode ? host : stored, true), outHeader(c.encode ? stored : host, false);
    auto input = InputFrame(bytes);
    void* frame = reinterpret_cast<void*>(1);
    ICodec* u = codec(kUyvy);
    const LONG status = c.encode ? u->Compress(inHeader.get(), input->data(), outHeader.get(), &frame, nullptr, &allocator, 0)
                                 : u->Decompress(inHeader.get(), input->data(), outHeader.get(), &frame, nullptr, &allocator, 0);
    EXPECT_EQ(status, CODEC_E_FORMAT);
    EXPECT_EQ(frame, nullptr);
    EXPECT_TRUE(allocator.sizes.empty());
  }
}

}  // namespace
}  // namespace tarneltest
