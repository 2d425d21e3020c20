// The meshed codec's conversions: both byte orders with alpha carried, row
// order, two fields and their exchange, row padding from dwRowAlign, refused
// frames and failures. Input frames end at unreadable pages and output frames
// come from a guarded allocator.
#include <cmath>
#include <functional>

#include "frames.h"

namespace tarneltest {
namespace {

class MeshedConvert : public CodecTest {
 protected:
  ICodec* meshed() { return codec(kMeshed); }

  // The stored header CompressQuery completes for this RGB frame.
  Header StoredFor(const Header& rgb, WORD bits, DWORD subsampling, DWORD rowAlign = 4) {
    Header out = Stored(kMeshed, rgb.biWidth, rgb.biHeight);
    out.biBitCount = bits;
    out.dwSubsampling = subsampling;
    out.dwRowAlign = rowAlign;
    EXPECT_EQ(meshed()->CompressQuery(&rgb, &out), CODEC_OK);
    return out;
  }
  // The RGB header of either direction is read-only and ends at an unreadable page.
  Converted Encode(const Header& in, const Bytes& frame, Header& out, const DWORD* flags = nullptr) {
    PlacedHeader h(in);
    return Convert(frame, out.biSizeImage, [&](const void* f, void** result) {
      return meshed()->Compress(h.get(), f, &out, result, flags, &allocator, 0);
    });
  }
  Converted Decode(const Header& in, const Bytes& frame, Header& out) {
    PlacedHeader h(out);
    return Convert(frame, out.biSizeImage, [&](const void* f, void** result) {
      return meshed()->Decompress(&in, f, h.get(), result, nullptr, &allocator, 0);
    });
  }
  static Header RgbOut(const Header& stored, WORD bits) {
    Header h = Rgb(stored.biWidth, std::abs(stored.biHeight), bits);
    h.biSizeImage = DWORD(std::abs(stored.biHeight) * Stride(stored.biWidth, bits));
    return h;
  }

  Allocator allocator;
};

TEST_F(MeshedConvert, BothByteOrdersCarryAlphaAndRoundTrip) {
  struct Case {
    WORD rgbBits;
    DWORD alphaMode;
    WORD storedBits;
    bool carried;  // the picture's alpha is stored, else 255
  };
  const Case cases[] = {{32, 0, 32, true},  {32, 1, 32, false}, {32, 2, 32, false},  // any non-zero mode
                        {24, 0, 32, false}, {32, 0, 24, false}, {24, 0, 24, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rgbBits << " " << c.alphaMode << " " << c.storedBits);
    Header rgb = Rgb(37, 20, c.rgbBits);
    rgb.dwAlphaMode = c.alphaMode;
    const int inBpp = c.rgbBits / 8, sBpp = c.storedBits / 8, inStride = Stride(37, c.rgbBits);
    const Bytes picture = Noise(size_t(20) * inStride, 17);
    Header ahead = StoredFor(rgb, c.storedBits, 16), behind = StoredFor(rgb, c.storedBits, 128);
    const Converted a = Encode(rgb, picture, ahead), b = Encode(rgb, picture, behind);
    ASSERT_EQ(a.status, CODEC_OK);
    ASSERT_EQ(b.status, CODEC_OK);
    const int pitch = Stride(37, c.storedBits);
    for (int m = 0; m < 20; ++m)
      for (int x = 0; x < 37; ++x) {
        const BYTE* p16 = &a.frame[size_t(m) * pitch + x * sBpp];
        const BYTE* p128 = &b.frame[size_t(m) * pitch + x * sBpp];
        for (int i = 0; i < sBpp; ++i) ASSERT_EQ(p16[i], p128[sBpp - 1 - i]) << "reversed order " << m << " " << x;
        if (sBpp == 4) {
          const BYTE want = c.carried ? picture[size_t(m) * inStride + x * inBpp + 3] : 255;
          ASSERT_EQ(p16[3], want) << m << " " << x;
          ASSERT_EQ(p128[0], want);
        }
      }
    // Back to 32-bit RGB: the stored alpha, or 255 from a 24-bit frame; the
    // colours within the 4:4:4 quantisation (2 in B, 1 in G and R).
    for (Header* stored : {&ahead, &behind}) {
      Header out = RgbOut(*stored, 32);
      const Converted d = Decode(*stored, stored == &ahead ? a.frame : b.frame, out);
      ASSERT_EQ(d.status, CODEC_OK);
      const int bound[3] = {2, 1, 1};
      for (int m = 0; m < 20; ++m)
        for (int x = 0; x < 37; ++x) {
          const BYTE* want = &picture[size_t(m) * inStride + x * inBpp];
          const BYTE* got = &d.frame[size_t(m) * 148 + x * 4];
          for (int ch = 0; ch < 3; ++ch) ASSERT_LE(std::abs(got[ch] - want[ch]), bound[ch]) << m << " " << x;
          ASSERT_EQ(got[3], c.carried ? want[3] : 255);
        }
    }
  }
}

TEST_F(MeshedConvert, RowsKeepTheirOrderAndANegativeHeightReversesThem) {
  const Header rgb = Rgb(9, 12, 32);
  const Bytes picture = Noise(size_t(12) * 36, 23);
  Header up = StoredFor(rgb, 32, 16);
  Header down = up;
  down.biHeight = -12;  // the query takes the absolute height
  ASSERT_EQ(meshed()->CompressQuery(&rgb, &down), CODEC_OK);
  const Converted u = Encode(rgb, picture, up), d = Encode(rgb, picture, down);
  ASSERT_EQ(u.status, CODEC_OK);
  ASSERT_EQ(d.status, CODEC_OK);
  for (int r = 0; r < 12; ++r)
    ASSERT_EQ(0, std::memcmp(&u.frame[size_t(r) * 36], &d.frame[size_t(11 - r) * 36], 36)) << r;
  // Decoding either gives the picture's memory order back.
  Header out = RgbOut(up, 32);
  const Converted du = Decode(up, u.frame, out), dd = Decode(down, d.frame, out);
  ASSERT_EQ(du.status, CODEC_OK);
  ASSERT_EQ(dd.status, CODEC_OK);
  EXPECT_EQ(du.frame, dd.frame);
}

TEST_F(MeshedConvert, TwoFieldsAreWrittenAndExchangedByBit4) {
  struct Case {
    DWORD inFlag, outFlag;
    bool exchanged;
  };
  const Case cases[] = {{0, 1, false}, {0x10, 0x11, false}, {0x10, 1, true}, {0, 0x11, true}};
  Header rgb = Rgb(6, 10, 24);
  const Bytes picture = Noise(size_t(10) * 20, 29);
  Header single = StoredFor(rgb, 32, 16);
  const Converted one = Encode(rgb, picture, single);
  ASSERT_EQ(one.status, CODEC_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inFlag << " " << c.outFlag);
    rgb.dwFormatFlag = c.inFlag;
    Header out = StoredFor(rgb, 32, 16);
    out.dwFormatFlag = c.outFlag;
    const Converted two = Encode(rgb, picture, out);
    ASSERT_EQ(two.status, CODEC_OK);
    for (int f = 0; f < 2; ++f)
      for (int r = 0; r < 5; ++r) {
        const int source = (c.exchanged ? 1 - f : f) + 2 * r;
        ASSERT_EQ(
            0, std::memcmp(&two.frame[out.biSizeImage / 2 * f + size_t(r) * 24], &one.frame[size_t(source) * 24], 24))
            << f << " " << r;
      }
  }
}

TEST_F(MeshedConvert, RowsArePaddedByDwRowAlign) {
  // 5 pixels of 3 bytes: 15 bytes, padded to 16 by 0, 4 or 8, to 32 by 32.
  const Header rgb = Rgb(5, 6, 24);
  const Bytes picture = Noise(size_t(6) * 16, 31);
  Header packed = StoredFor(rgb, 24, 16, 0);
  const Converted base = Encode(rgb, picture, packed);
  ASSERT_EQ(base.status, CODEC_OK);
  EXPECT_EQ(packed.dwRowAlign, 4u) << "0 becomes 4";
  Header wide = StoredFor(rgb, 24, 16, 32);
  ASSERT_EQ(wide.biSizeImage, 6u * 16) << "the query's size ignores dwRowAlign";
  {
    Allocator local;
    void* result = nullptr;
    auto in = InputFrame(picture);
    EXPECT_EQ(meshed()->Compress(&rgb, in->data(), &wide, &result, nullptr, &local, 0), CODEC_E_FORMAT);
    EXPECT_EQ(result, nullptr);
    EXPECT_TRUE(local.sizes.empty());
  }
  wide.biSizeImage = 5 * 32 + 15;  // exactly what the rows touch
  const Converted padded = Encode(rgb, picture, wide);
  ASSERT_EQ(padded.status, CODEC_OK);
  for (int r = 0; r < 6; ++r) {
    ASSERT_EQ(0, std::memcmp(&padded.frame[size_t(r) * 32], &base.frame[size_t(r) * 16], 15)) << r;
    if (r < 5) {
      for (int i = 15; i < 32; ++i) ASSERT_EQ(padded.frame[size_t(r) * 32 + i], 0) << "padding is not written";
    }
  }
  // Decoding: the size given must hold the padded rows; no size means the layout's.
  Header out = RgbOut(wide, 32);
  const Converted d = Decode(wide, padded.frame, out);
  Header unsized = wide;
  unsized.biSizeImage = 0;
  Bytes layout = padded.frame;
  layout.resize(6 * 32, 0);
  const Converted n = Decode(unsized, layout, out);
  Header short_ = wide;
  short_.biSizeImage = 6 * 16;
  Allocator local;
  void* result = nullptr;
  auto in = InputFrame(Bytes(6 * 16, 0));
  EXPECT_EQ(meshed()->Decompress(&short_, in->data(), &out, &result, nullptr, &local, 0), CODEC_E_FORMAT);
  EXPECT_TRUE(local.sizes.empty());
  ASSERT_EQ(d.status, CODEC_OK);
  ASSERT_EQ(n.status, CODEC_OK);
  EXPECT_EQ(d.frame, n.frame);
  Header plainOut = RgbOut(packed, 32);
  const Converted p = Decode(packed, base.frame, plainOut);
  EXPECT_EQ(p.frame, d.frame);
}

TEST_F(MeshedConvert, PremultipliesA32BitInputByItsAlpha) {
  const DWORD premultiply = 8;
  Header rgb = Rgb(16, 8, 32);
  const Bytes picture = Noise(size_t(8) * 64, 37);
  Bytes scaled = picture;
  for (size_t p = 0; p < scaled.size(); p += 4)
    for (int ch = 0; ch < 3; ++ch) scaled[p + ch] = BYTE(std::lround(picture[p + ch] * picture[p + 3] / 255.0));
  Header out = StoredFor(rgb, 32, 128);
  const Converted e = Encode(rgb, picture, out, &premultiply);
  const Converted want = Encode(rgb, scaled, out);
  ASSERT_EQ(e.status, CODEC_OK);
  EXPECT_EQ(e.frame, want.frame);
  for (size_t p = 0; p < e.frame.size(); p += 4) ASSERT_EQ(e.frame[p], picture[p + 3]);
}

TEST_F(MeshedConvert, RefusedFramesAndFailures) {
  const Header rgb = Rgb(16, 8, 32);
  const Header stored = StoredFor(rgb, 32, 16);
  const Header rgbOut = RgbOut(stored, 32);
  auto with = [](Header h, void (*change)(Header&)) {
    change(h);
    return h;
  };
  struct Case {
    const char* what;
    bool encode;
    Header in, out;
    LONG status;
  };
  const Case cases[] = {
      {"a 16-bit RGB output", false, stored, with(rgbOut, [](Header& h) { h.biBitCount = 16; }), CODEC_E_FORMAT},
      {"an output of no size", false, stored, with(rgbOut, [](Header& h) { h.biSizeImage = 0; }), CODEC_E_FORMAT},
      {"a stored frame a byte short", false, with(stored, [](Header& h) { h.biSizeImage -= 1; }), rgbOut,
       CODEC_E_FORMAT},
      {"an 8-bit RGB input", true, with(rgb, [](Header& h) { h.biBitCount = 8; }), stored, CODEC_E_FORMAT},
      {"a stored frame of no size", true, rgb, with(stored, [](Header& h) { h.biSizeImage = 0; }), CODEC_E_FORMAT},
      {"two fields in a frame too short for field 1", true, rgb,
       with(stored, [](Header& h) { h.dwFormatFlag = 1, h.biSizeImage = 3 * 64 + 4 * 64; }), CODEC_E_FORMAT},
      {"no output frame for the decoder", false, stored, rgbOut, CODEC_E_NOFRAME},
      {"no output frame for the encoder", true, rgb, stored, CODEC_E_UNEXPECTED},
  };
  const Bytes frame(stored.biSizeImage, 0x80);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Allocator local;
    local.refuse = c.status != CODEC_E_FORMAT;
    Header in = c.in, out = c.out;
    const Converted r = Convert(frame, 0, [&](const void* f, void** result) {
      return c.encode ? meshed()->Compress(&in, f, &out, result, nullptr, &local, 0)
                      : meshed()->Decompress(&in, f, &out, result, nullptr, &local, 0);
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.framed);
    EXPECT_EQ(local.sizes.size(), c.status == CODEC_E_FORMAT ? 0u : 1u);
  }
  // A null frame is a fault reported with the operation's name.
  for (const bool encode : {false, true}) {
    Messages messages;
    Header in = encode ? rgb : stored, out = encode ? stored : rgbOut;
    void* result = nullptr;
    const LONG status = encode ? meshed()->Compress(&in, nullptr, &out, &result, nullptr, &allocator, 0)
                               : meshed()->Decompress(&in, nullptr, &out, &result, nullptr, &allocator, 0);
    EXPECT_EQ(status, CODEC_E_UNEXPECTED);
    ASSERT_EQ(messages.all.size(), 1u);
    EXPECT_EQ(messages.all[0].text, encode ? wstring(TEXT("Exception caught in Cccir601Meshed::Compress\n"))
                                           : wstring(TEXT("Exception caught in Cccir601Meshed::Decompress\n")));
  }
}

}  // namespace
}  // namespace tarneltest
