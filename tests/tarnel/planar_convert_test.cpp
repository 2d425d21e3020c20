// The planar codec's conversions through the host's view: plane layout and
// field lines, alpha, premultiplication, round trips, refused frames and
// failures. Input frames and RGB headers end at unreadable pages, output
// frames come from a guarded allocator: a conversion that leaves a buffer
// faults and fails the test.
#include <cmath>
#include <functional>

#include "frames.h"
#include "kernels.h"

namespace tarneltest {
namespace {

using tarnel::Kernels;

// Where the planes of a stored frame lie.
struct Layout {
  LONG width, height;
  bool alpha;
  int rows() const { return std::abs(height) / 2; }
  int yrow() const { return (width + 63) & ~63; }
  int crow() const { return (width / 2 + 63) & ~63; }
  size_t field() const { return size_t(rows()) * (yrow() + 2 * crow() + (alpha ? yrow() : 0)); }
  size_t y(int f, int r, size_t fieldAt) const { return f * fieldAt + size_t(r) * yrow(); }
  size_t cb(int f, int r, size_t fieldAt) const { return f * fieldAt + size_t(rows()) * yrow() + size_t(r) * crow(); }
  size_t cr(int f, int r, size_t fieldAt) const { return cb(f, r, fieldAt) + size_t(rows()) * crow(); }
  size_t a(int f, int r, size_t fieldAt) const {
    return f * fieldAt + size_t(rows()) * (yrow() + 2 * crow()) + size_t(r) * yrow();
  }
};

// The picture line that row r of field f holds; the memory row of a
// bottom-up frame that shows line `line`.
int LineOf(LONG deciding, int f, int r) { return (deciding <= 488 ? 1 - f : f) + 2 * r; }
int MemoryRow(LONG height, int line) { return height >= 0 ? std::abs(height) - 1 - line : line; }

// Rounded c * a / 255, computed apart from the kernels.
int Scaled(int c, int a) { return int(std::lround(c * a / 255.0)); }

class PlanarConvert : public CodecTest {
 protected:
  ICodec* planar() { return codec(kPlanar); }

  // The stored header CompressQuery completes for this host frame.
  Header StoredFor(const Header& host, WORD bits) {
    Header out = Stored(kPlanar, host.biWidth, host.biHeight);
    out.biBitCount = bits;
    Header in = host;
    in.biCompression = 0;  // the query's size rule is the same for both inputs
    in.biSize = 144;
    in.dwExtDataOffset = 0;
    EXPECT_EQ(planar()->CompressQuery(&in, &out), CODEC_OK);
    return out;
  }
  Converted Encode(const Header& in, const Bytes& frame, Header& out, const DWORD* flags = nullptr) {
    PlacedHeader h(in, true, in.biCompression ? 160 : 144);
    return Convert(frame, out.biSizeImage, [&](const void* f, void** result) {
      return planar()->Compress(h.get(), f, &out, result, flags, &allocator, 0);
    });
  }
  Converted Decode(const Header& in, const Bytes& frame, const Header& out) {
    PlacedHeader h(out, true, out.biCompression ? 160 : 144);
    return Convert(frame, out.biSizeImage, [&](const void* f, void** result) {
      return planar()->Decompress(&in, f, h.get(), result, nullptr, &allocator, 0);
    });
  }
  Header RgbOut(const Header& stored, WORD bits) {
    Header h = Rgb(stored.biWidth, std::abs(stored.biHeight), bits);
    h.biSizeImage = DWORD(std::abs(stored.biHeight) * Stride(stored.biWidth, bits));
    return h;
  }
  Header YuvOut(const Header& stored, WORD bits) {
    Header h = Yuv444(stored.biWidth, std::abs(stored.biHeight), bits);
    h.biSizeImage = DWORD(std::abs(stored.biHeight) * Stride(stored.biWidth, bits));
    return h;
  }

  Allocator allocator;
  const Kernels k{Bt601()};
};

// Grey lines that differ from their neighbours: B = G = R = 2 * memory row.
Bytes GreyLines(LONG width, LONG height, int bits) {
  const int stride = Stride(width, bits), bpp = bits / 8;
  Bytes b(size_t(height) * stride, 0);
  for (int m = 0; m < height; ++m)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < bpp; ++c) b[size_t(m) * stride + x * bpp + c] = c == 3 ? 255 : BYTE(2 * m);
  return b;
}

TEST_F(PlanarConvert, FieldsCarryTheirLinesInPlanesOf64ByteRows) {
  struct Case {
    LONG height;
    int firstLineOfField0;
  };
  for (const Case c : {Case{486, 1}, Case{576, 0}, Case{480, 1}}) {
    SCOPED_TRACE(c.height);
    const Header rgb = Rgb(720, c.height, 32);
    Header out = StoredFor(rgb, 24);
    const Layout l{720, c.height, false};
    ASSERT_EQ(l.yrow(), 768);
    ASSERT_EQ(l.crow(), 384);
    ASSERT_EQ(out.biSizeImage, DWORD(c.height) * (768 + 2 * 384));
    const Bytes picture = GreyLines(720, c.height, 32);
    const Converted e = Encode(rgb, picture, out);
    ASSERT_EQ(e.status, CODEC_OK);
    ASSERT_EQ(LineOf(c.height, 0, 0), c.firstLineOfField0);
    const size_t half = out.biSizeImage / 2;
    for (int f = 0; f < 2; ++f)
      for (int r = 0; r < l.rows(); ++r) {
        const BYTE g = BYTE(2 * MemoryRow(c.height, LineOf(c.height, f, r)));
        BYTE y, cb, cr;
        k.Encode(g, g, g, &y, &cb, &cr);
        const BYTE* row = &e.frame[l.y(f, r, half)];
        ASSERT_EQ(row[0], y) << f << " " << r;
        ASSERT_EQ(row[719], y);
        ASSERT_EQ(row[720], 0) << "row padding is not written";
        ASSERT_EQ(row[767], 0);
        ASSERT_EQ(e.frame[l.cb(f, r, half)], cb);
        ASSERT_EQ(e.frame[l.cr(f, r, half) + 359], cr);
        ASSERT_EQ(e.frame[l.cr(f, r, half) + 360], 0);
      }
    // And back: each memory row shows the line its field row holds.
    const Converted d = Decode(out, e.frame, RgbOut(out, 32));
    ASSERT_EQ(d.status, CODEC_OK);
    for (int m = 0; m < c.height; ++m) {
      const int want = 2 * m & 255;
      ASSERT_LE(std::abs(d.frame[size_t(m) * 2880 + 4] - want), 1) << m;
    }
  }
}

TEST_F(PlanarConvert, TheAlphaPlaneCarriesAlphaOr255) {
  struct Case {
    WORD rgbBits;
    DWORD alphaMode;
    WORD storedBits, outBits;
    bool carried;  // the input's alpha comes back, else 255
  };
  const Case cases[] = {
      {32, 0, 32, 32, true},  {32, 1, 32, 32, false}, {32, 2, 32, 32, true},  // bit 0 of dwAlphaMode only
      {24, 0, 32, 32, false}, {32, 0, 24, 32, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rgbBits << " " << c.alphaMode << " " << c.storedBits << " " << c.outBits);
    Header rgb = Rgb(64, 486, c.rgbBits);
    rgb.dwAlphaMode = c.alphaMode;
    Header out = StoredFor(rgb, c.storedBits);
    const Bytes picture = Noise(size_t(486) * Stride(64, c.rgbBits), 7);
    const Converted e = Encode(rgb, picture, out);
    ASSERT_EQ(e.status, CODEC_OK);
    const Layout l{64, 486, c.storedBits == 32};
    // 64 wide: Yrow 64, Crow 64; a 32-bit frame adds 2 Yrow per line.
    ASSERT_EQ(out.biSizeImage, c.storedBits == 32 ? DWORD(486) * (192 + 128) : DWORD(486) * 192);
    if (l.alpha)
      for (int f = 0; f < 2; ++f)
        for (int r = 0; r < l.rows(); ++r)
          for (int x = 0; x < 64; ++x) {
            const int m = MemoryRow(486, LineOf(486, f, r));
            const BYTE want = c.carried ? picture[size_t(m) * 256 + x * 4 + 3] : 255;
            ASSERT_EQ(e.frame[l.a(f, r, out.biSizeImage / 2) + x], want) << f << " " << r << " " << x;
          }
    const Converted d = Decode(out, e.frame, RgbOut(out, c.outBits));
    ASSERT_EQ(d.status, CODEC_OK);
    for (size_t m = 0; m < 486; ++m)
      for (int x = 0; x < 64; ++x) {
        const BYTE want = c.carried ? picture[m * 256 + x * 4 + 3] : 255;
        ASSERT_EQ(d.frame[m * 256 + x * 4 + 3], want) << m << " " << x;
      }
  }
}

TEST_F(PlanarConvert, PremultipliesRgbByAlphaWhenAsked) {
  const DWORD premultiply = 8;
  struct Case {
    DWORD alphaMode;
    const DWORD* flags;
    bool scaled;
  };
  const Case cases[] = {{0, &premultiply, true}, {0, nullptr, false}, {1, &premultiply, false}};
  for (const Case& c : cases) {
    Header rgb = Rgb(32, 480, 32);
    rgb.dwAlphaMode = c.alphaMode;
    Bytes picture = Noise(size_t(480) * 128, 11);
    Header out = StoredFor(rgb, 32);
    const Converted e = Encode(rgb, picture, out, c.flags);
    // The same frame with its colours scaled beforehand, encoded without the flag.
    Bytes scaled = picture;
    for (size_t p = 0; p < scaled.size(); p += 4)
      for (int ch = 0; ch < 3; ++ch)
        scaled[p + ch] = BYTE(c.scaled ? Scaled(picture[p + ch], picture[p + 3]) : picture[p + ch]);
    Header plain = rgb;
    Header out2 = StoredFor(plain, 32);
    const Converted want = Encode(plain, scaled, out2);
    ASSERT_EQ(e.status, CODEC_OK);
    ASSERT_EQ(want.status, CODEC_OK);
    const Layout l{32, 480, true};
    const size_t alphaAt = l.a(0, 0, 0), half = out.biSizeImage / 2;
    for (size_t i = 0; i < e.frame.size(); ++i) {
      const size_t j = i < half ? i : i - half;  // within its field
      if (j >= l.field()) continue;
      const bool inAlpha = j >= alphaAt;
      if (!inAlpha) {
        ASSERT_EQ(e.frame[i], want.frame[i]) << i;
      } else if (c.alphaMode & 1 && (j - alphaAt) % 64 < 32) {
        ASSERT_EQ(e.frame[i], 255) << i;
      }
    }
  }
}

TEST_F(PlanarConvert, PremultipliesYuvAroundBlackWhenAsked) {
  const DWORD premultiply = 8;
  Header yuv = Yuv444(16, 486, 32);
  Bytes picture = Noise(size_t(486) * 64, 5);
  for (size_t p = 0; p < picture.size(); p += 4) {
    if (p % 64 == 0) picture[p + 3] = 0;    // transparent: black
    if (p % 64 == 4) picture[p + 3] = 255;  // opaque: unchanged
  }
  Header out = StoredFor(yuv, 32);
  const Converted e = Encode(yuv, picture, out, &premultiply);
  ASSERT_EQ(e.status, CODEC_OK);
  const Layout l{16, 486, true};
  const size_t half = out.biSizeImage / 2;
  for (int f = 0; f < 2; ++f)
    for (int r = 0; r < l.rows(); ++r) {
      const BYTE* line = &picture[size_t(MemoryRow(486, LineOf(486, f, r))) * 64];
      for (int x = 0; x < 16; ++x) {
        const BYTE* p = line + 4 * x;
        const int y = tarnel::PremultiplyAround(p[0], p[3], 16);
        ASSERT_EQ(e.frame[l.y(f, r, half) + x], y) << f << " " << r << " " << x;
        if (x == 0) {
          ASSERT_EQ(y, 16);
        } else if (x == 1) {
          ASSERT_EQ(y, p[0]);
        }
        ASSERT_EQ(e.frame[l.a(f, r, half) + x], p[3]);
      }
      // Chroma: the pair's premultiplied mean rounded half up, limited to 16..240.
      for (int i = 0; i < 8; ++i) {
        const BYTE* p = line + 8 * i;
        const int cb0 = tarnel::PremultiplyAround(p[1], p[3], 128), cb1 = tarnel::PremultiplyAround(p[5], p[7], 128);
        const int up = int(std::floor((cb0 + cb1 - 256 + 1) / 2.0)) + 128;
        ASSERT_EQ(e.frame[l.cb(f, r, half) + i], std::min(240, std::max(16, up))) << i;
      }
    }
}

// Round trips stay within the quantisation of 8-bit BT.601 studio range: a
// code is off by at most half a step in Y (255/219 of an RGB level) and in
// Cb and Cr (255/224, weighted 1.772 into B and 1.402 into R), which bounds
// the error at 2 in B and 1 in G and R. Pictures whose pairs share a colour
// lose nothing to the 4:2:2 chroma.
TEST_F(PlanarConvert, RoundTripsStayWithinTheQuantisation) {
  struct Case {
    LONG width, height;
    WORD rgbBits, storedBits, outBits;
  };
  const Case cases[] = {{720, 486, 32, 24, 32}, {720, 576, 24, 32, 24}, {721, 480, 32, 24, 32},
                        {3, 486, 24, 24, 32},   {1, 576, 32, 32, 32},   {130, 486, 32, 32, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const Header rgb = Rgb(c.width, c.height, c.rgbBits);
    const int inBpp = c.rgbBits / 8, outBpp = c.outBits / 8;
    Bytes picture = Noise(size_t(c.height) * Stride(c.width, c.rgbBits), uint32_t(c.width));
    for (int m = 0; m < c.height; ++m)  // pairs share their colour
      for (int x = 1; x < c.width; x += 2)
        for (int ch = 0; ch < 3; ++ch) {
          BYTE* row = &picture[size_t(m) * Stride(c.width, c.rgbBits)];
          row[x * inBpp + ch] = row[(x - 1) * inBpp + ch];
        }
    Header out = StoredFor(rgb, c.storedBits);
    const Converted e = Encode(rgb, picture, out);
    ASSERT_EQ(e.status, CODEC_OK);
    const Converted d = Decode(out, e.frame, RgbOut(out, c.outBits));
    ASSERT_EQ(d.status, CODEC_OK);
    const int bound[3] = {2, 1, 1};
    for (int m = 0; m < c.height; ++m)
      for (int x = 0; x < c.width; ++x) {
        const BYTE* want = &picture[size_t(m) * Stride(c.width, c.rgbBits) + x * inBpp];
        const BYTE* got = &d.frame[size_t(m) * Stride(c.width, c.outBits) + x * outBpp];
        const bool lastOdd = c.width % 2 && x == c.width - 1;
        for (int ch = 0; ch < 3; ++ch) {
          if (lastOdd) {
            ASSERT_EQ(got[ch], 0) << "the last column of an odd width is not written";
          } else {
            ASSERT_LE(std::abs(got[ch] - want[ch]), bound[ch]) << m << " " << x << " " << ch;
          }
        }
      }
  }
}

TEST_F(PlanarConvert, YuvRoundTripKeepsLumaAndFillsTheRightHandChroma) {
  const Header yuv = Yuv444(20, 576, 24);
  Bytes picture = Noise(size_t(576) * 60, 3);
  for (size_t p = 0; p < picture.size(); p += 3)
    for (int ch = 1; ch < 3; ++ch) picture[p + ch] = BYTE(16 + picture[p + ch] % 225);  // inside the limits
  Header out = StoredFor(yuv, 24);
  const Converted e = Encode(yuv, picture, out);
  ASSERT_EQ(e.status, CODEC_OK);
  const Converted d = Decode(out, e.frame, YuvOut(out, 32));
  ASSERT_EQ(d.status, CODEC_OK);
  for (size_t m = 0; m < 576; ++m) {
    const BYTE* in = &picture[m * 60];
    const BYTE* got = &d.frame[m * 80];
    for (int x = 0; x < 20; ++x) {
      ASSERT_EQ(got[4 * x], in[3 * x]) << m << " " << x;
      ASSERT_EQ(got[4 * x + 3], 255);
    }
    for (int x = 0; x < 20; x += 2)
      for (int ch = 1; ch < 3; ++ch) {
        const int mean = (in[3 * x + ch] + in[3 * x + 3 + ch] + 1) >> 1;
        ASSERT_EQ(got[4 * x + ch], mean) << m << " " << x;
        // The converter fills the right-hand pixel between its neighbours.
        const int next = x + 2 < 20 ? got[4 * x + 8 + ch] : got[4 * x + ch];
        ASSERT_EQ(got[4 * x + 4 + ch], x + 2 < 20 ? (got[4 * x + ch] + next + 1) >> 1 : next);
      }
  }
}

// With an odd width or height the converter fills only what the planes gave:
// the last pair repeats its chroma rather than borrowing from the column no
// field holds, and the row no field holds stays as the host's allocator left it.
TEST_F(PlanarConvert, TheChromaFillStaysInsideTheWrittenPairsAndRows) {
  const Header yuv = Yuv444(21, 486, 24);
  Bytes picture = Noise(size_t(486) * Stride(21, 24), 41);
  Header out = StoredFor(yuv, 24);
  const Converted e = Encode(yuv, picture, out);
  ASSERT_EQ(e.status, CODEC_OK);
  Header odd = out;
  odd.biHeight = 487;  // one line more than the two fields hold
  odd.biSizeImage = 0;
  Bytes frame = e.frame;
  frame.resize(size_t(487) * (64 + 2 * 64), 0);
  const int stride = Stride(21, 32);
  Header yuvOut = YuvOut(odd, 32);
  const Converted d = Decode(odd, frame, yuvOut);
  ASSERT_EQ(d.status, CODEC_OK);
  for (int m = 0; m < 487; ++m) {
    const BYTE* row = &d.frame[size_t(m) * stride];
    if (m == 486) {
      EXPECT_EQ(Bytes(row, row + 21 * 4), Bytes(21 * 4, 0)) << "the row no field holds";
      continue;
    }
    ASSERT_EQ(row[19 * 4 + 1], row[18 * 4 + 1]) << m;
    ASSERT_EQ(row[19 * 4 + 2], row[18 * 4 + 2]) << m;
    ASSERT_EQ(Bytes(row + 20 * 4, row + 21 * 4), Bytes(4, 0)) << "the last column " << m;
  }
}

TEST_F(PlanarConvert, ANegativeStoredHeightPutsField1FirstFromTheTop) {
  for (const LONG height : {576, 486}) {
    const Header rgb = Rgb(8, height, 32);
    Header out = StoredFor(rgb, 24);
    const Converted e = Encode(rgb, GreyLines(8, height, 32), out);
    ASSERT_EQ(e.status, CODEC_OK);
    const Converted up = Decode(out, e.frame, RgbOut(out, 32));
    Header flipped = out;
    flipped.biHeight = -height;
    const Converted down = Decode(flipped, e.frame, RgbOut(out, 32));
    ASSERT_EQ(up.status, CODEC_OK);
    ASSERT_EQ(down.status, CODEC_OK);
    for (int f = 0; f < 2; ++f)
      for (int r = 0; r < height / 2; ++r) {
        const int upRow = MemoryRow(height, LineOf(height, f, r));  // s by the positive height
        const int downRow = (1 - f) + 2 * r;                        // s = 1 - f, from the first memory row
        ASSERT_EQ(0, std::memcmp(&up.frame[size_t(upRow) * 32], &down.frame[size_t(downRow) * 32], 32)) << f << r;
      }
  }
}

TEST_F(PlanarConvert, Field1OfAFrameWithoutSizeIsAtHalfTheLayout) {
  const Header rgb = Rgb(100, 486, 32);
  Header out = StoredFor(rgb, 24);
  const Converted e = Encode(rgb, Noise(size_t(486) * 400, 9), out);
  ASSERT_EQ(e.status, CODEC_OK);
  const Layout l{100, 486, false};
  ASSERT_EQ(out.biSizeImage, 2 * l.field());
  const Converted sized = Decode(out, e.frame, RgbOut(out, 32));
  Header unsized = out;
  unsized.biSizeImage = 0;
  const Converted none = Decode(unsized, e.frame, RgbOut(out, 32));
  // A larger frame moves field 1 to its own half.
  Header larger = out;
  larger.biSizeImage = out.biSizeImage + 256;
  Bytes spread(larger.biSizeImage, 0x55);
  std::memcpy(spread.data(), e.frame.data(), l.field());
  std::memcpy(spread.data() + larger.biSizeImage / 2, e.frame.data() + l.field(), l.field());
  const Converted moved = Decode(larger, spread, RgbOut(out, 32));
  ASSERT_EQ(sized.status, CODEC_OK);
  ASSERT_EQ(none.status, CODEC_OK);
  ASSERT_EQ(moved.status, CODEC_OK);
  EXPECT_EQ(none.frame, sized.frame);
  EXPECT_EQ(moved.frame, sized.frame);
}

TEST_F(PlanarConvert, FramesThatWouldLeaveTheirBuffersAreRefusedBeforeAllocation) {
  const Header rgb = Rgb(720, 486, 32);
  const Header stored = StoredFor(rgb, 24);
  Header stored32 = stored;
  stored32.biBitCount = 32;  // the size is still the 24-bit frame's
  struct Case {
    const char* what;
    bool encode;
    Header in, out;
    size_t inputBytes;
  };
  auto with = [](Header h, void (*change)(Header&)) {
    change(h);
    return h;
  };
  const Header rgbOut = RgbOut(stored, 32);
  const Case cases[] = {
      {"a stored frame too short for field 1", false, with(stored, [](Header& h) { h.biSizeImage = 1000; }), rgbOut,
       1000},
      {"an output frame of no size", false, stored, with(rgbOut, [](Header& h) { h.biSizeImage = 0; }),
       stored.biSizeImage},
      {"an output frame a byte short", false, stored, with(rgbOut, [](Header& h) { h.biSizeImage -= 1; }),
       stored.biSizeImage},
      {"a 16-bit RGB output", false, stored, with(rgbOut, [](Header& h) { h.biBitCount = 16; }), stored.biSizeImage},
      {"a 32-bit stored frame sized for 24 bits", true, rgb, stored32, size_t(486) * 2880},
      {"an RGB input a row short", true, with(rgb, [](Header& h) { h.biSizeImage = 485 * 2880; }), stored, 485 * 2880},
      {"a stored frame of no size", true, rgb, with(stored, [](Header& h) { h.biSizeImage = 0; }), size_t(486) * 2880},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Allocator local;
    Header in = c.in, out = c.out;
    const Converted r = Convert(Bytes(c.inputBytes, 0x80), 0, [&](const void* f, void** result) {
      return c.encode ? planar()->Compress(&in, f, &out, result, nullptr, &local, 0)
                      : planar()->Decompress(&in, f, &out, result, nullptr, &local, 0);
    });
    EXPECT_EQ(r.status, CODEC_E_FORMAT);
    EXPECT_FALSE(r.framed);
    EXPECT_TRUE(local.sizes.empty());
  }
  // The exact output size is enough.
  const Converted ok = Decode(stored, Bytes(stored.biSizeImage, 0x80), rgbOut);
  EXPECT_EQ(ok.status, CODEC_OK);
}

TEST_F(PlanarConvert, FailuresHaveTheirCodesAndNames) {
  const Header rgb = Rgb(720, 486, 32);
  Header stored = StoredFor(rgb, 24);
  Header rgbOut = RgbOut(stored, 32), yuvOut = YuvOut(stored, 32);
  Header yuvIn = Yuv444(720, 486, 32);
  const Bytes frame(stored.biSizeImage, 0x80), picture(size_t(486) * 2880, 0x40);
  ICodec* p = planar();
  allocator.refuse = true;
  struct Case {
    const char* what;
    LONG noFrame;
    const WCHAR* name;  // of the fault when the input frame is null
    std::function<LONG(const void*, void**)> run;
  };
  Header out = stored;
  const Case cases[] = {
      {"DecompressToBGR", CODEC_E_NOFRAME, TEXT("DecompressToBGR"),
       [&](const void* f, void** r) {
         return ConversionSlot(p, kDecompressToBGR, &stored, f, &rgbOut, r, nullptr, &allocator);
       }},
      {"DecompressToYUV", CODEC_E_NOFRAME, TEXT("DecompressToYUV"),
       [&](const void* f, void** r) {
         return ConversionSlot(p, kDecompressToYUV, &stored, f, &yuvOut, r, nullptr, &allocator);
       }},
      {"Decompress", CODEC_E_NOFRAME, TEXT("DecompressToBGR"),
       [&](const void* f, void** r) { return p->Decompress(&stored, f, &rgbOut, r, nullptr, &allocator, 0); }},
      {"CompressFromBGR", CODEC_E_UNEXPECTED, TEXT("Compress"),
       [&](const void* f, void** r) {
         return ConversionSlot(p, kCompressFromBGR, &rgb, f, &out, r, nullptr, &allocator);
       }},
      {"CompressFromYUV", CODEC_E_UNEXPECTED, TEXT("Compress"),
       [&](const void* f, void** r) {
         return ConversionSlot(p, kCompressFromYUV, &yuvIn, f, &out, r, nullptr, &allocator);
       }},
      {"Compress", CODEC_E_UNEXPECTED, TEXT("Compress"),
       [&](const void* f, void** r) { return p->Compress(&rgb, f, &out, r, nullptr, &allocator, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const bool decoder = c.noFrame == CODEC_E_NOFRAME;
    const Converted r = Convert(decoder ? frame : picture, 0, c.run);
    EXPECT_EQ(r.status, c.noFrame);
    EXPECT_FALSE(r.framed);
    Messages messages;
    void* result = nullptr;
    EXPECT_EQ(c.run(nullptr, &result), CODEC_E_UNEXPECTED);
    ASSERT_EQ(messages.all.size(), 1u);
    EXPECT_EQ(messages.all[0].text, plat::FormatWS(TEXT("Exception caught in Cccir601Planar::%s\n"), c.name));
  }
}

}  // namespace
}  // namespace tarneltest
