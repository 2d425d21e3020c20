// qz's pictures and the bitmap frames they become: row order, byte order and
// row padding of 24- and 32-bit frames, both directions; PNG and BMP files
// that come back as they went; what is refused; the round-trip measure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "image.h"

namespace {

using qzimage::Image;

Image Numbered(int w, int h, int channels) {
  Image img;
  img.width = w, img.height = h, img.channels = channels;
  img.pixels.resize(size_t(w) * h * channels);
  for (size_t i = 0; i < img.pixels.size(); ++i) img.pixels[i] = uint8_t(i * 7 + 3);
  return img;
}

struct BitmapCase {
  int width, height, channels, bits;
  int stride;
};

const BitmapCase kBitmaps[] = {
    {1, 1, 3, 24, 4},  {2, 3, 3, 24, 8},  {3, 2, 4, 24, 12}, {5, 4, 3, 32, 20},
    {5, 4, 4, 32, 20}, {7, 1, 4, 24, 24}, {720, 3, 3, 24, 2160},
};

TEST(Bitmap, RowsBottomUpBytesBgrAndPaddingZero) {
  for (const BitmapCase& c : kBitmaps) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.channels << "ch " << c.bits);
    const Image img = Numbered(c.width, c.height, c.channels);
    ASSERT_EQ(qzimage::BitmapStride(c.width, c.bits), c.stride);
    const std::vector<uint8_t> f = qzimage::ToBitmap(img, c.bits);
    ASSERT_EQ(f.size(), size_t(c.stride) * c.height);
    const int bpp = c.bits / 8;
    for (int y = 0; y < c.height; ++y) {
      const uint8_t* row = f.data() + size_t(c.height - 1 - y) * c.stride;  // picture line y
      for (int x = 0; x < c.width; ++x) {
        const uint8_t* p = img.row(y) + x * c.channels;
        ASSERT_EQ(row[x * bpp + 0], p[2]);
        ASSERT_EQ(row[x * bpp + 1], p[1]);
        ASSERT_EQ(row[x * bpp + 2], p[0]);
        if (bpp == 4) {
          ASSERT_EQ(row[x * bpp + 3], c.channels == 4 ? p[3] : 255);
        }
      }
      for (int i = c.width * bpp; i < c.stride; ++i) ASSERT_EQ(row[i], 0) << "padding byte " << i;
    }
    // Back again: bottom-up with a positive height, top-down with a negative one.
    Image back;
    ASSERT_TRUE(qzimage::FromBitmap(f.data(), f.size(), c.width, c.height, c.bits, false, true, back));
    if ((c.channels == 4 && c.bits == 32) || (c.channels == 3 && c.bits == 24)) {
      EXPECT_EQ(back.pixels, img.pixels);
    }
    Image plain, flipped;
    ASSERT_TRUE(qzimage::FromBitmap(f.data(), f.size(), c.width, c.height, c.bits, false, false, plain));
    ASSERT_TRUE(qzimage::FromBitmap(f.data(), f.size(), c.width, -c.height, c.bits, false, false, flipped));
    for (int y = 0; y < c.height; ++y)
      ASSERT_EQ(0, std::memcmp(flipped.row(y), plain.row(c.height - 1 - y), size_t(c.width) * 3)) << "line " << y;
  }
}

TEST(Bitmap, SamplesKeepMemoryOrderAndShortFramesAreRefused) {
  const uint8_t frame[8] = {10, 20, 30, 40, 50, 60, 70, 80};  // one 2-pixel 32-bit row
  Image img;
  ASSERT_TRUE(qzimage::FromBitmap(frame, 8, 2, 1, 32, true, true, img));
  EXPECT_EQ(img.pixels, (std::vector<uint8_t>{10, 20, 30, 40, 50, 60, 70, 80}));
  ASSERT_TRUE(qzimage::FromBitmap(frame, 8, 2, 1, 32, false, false, img));
  EXPECT_EQ(img.pixels, (std::vector<uint8_t>{30, 20, 10, 70, 60, 50}));
  const struct {
    size_t size;
    int width, height, bits;
  } refused[] = {{7, 2, 1, 32}, {8, 2, 2, 24}, {8, 2, 0, 32}, {8, 0, 1, 32}, {8, 2, 1, 16}, {8, 1, INT32_MIN, 24}};
  for (const auto& r : refused)
    EXPECT_FALSE(qzimage::FromBitmap(frame, r.size, r.width, r.height, r.bits, false, false, img))
        << r.size << " " << r.width << "x" << r.height << " " << r.bits;
}

TEST(Files, PngAndBmpComeBackAsTheyWent) {
  const struct {
    qzimage::Kind kind;
    int channels;
  } cases[] = {{qzimage::Kind::kPng, 3}, {qzimage::Kind::kPng, 4}, {qzimage::Kind::kBmp, 3}, {qzimage::Kind::kBmp, 4}};
  for (const auto& c : cases) {
    const Image img = Numbered(13, 5, c.channels);
    std::string bytes, why;
    ASSERT_TRUE(qzimage::Encode(img, c.kind, bytes));
    Image back;
    ASSERT_TRUE(qzimage::Decode(bytes, back, why)) << why;
    EXPECT_EQ(back.width, 13);
    EXPECT_EQ(back.height, 5);
    EXPECT_EQ(back.channels, c.channels);
    EXPECT_EQ(back.pixels, img.pixels);
  }
  EXPECT_EQ(qzimage::KindOf("a/b.PNG"), qzimage::Kind::kPng);
  EXPECT_EQ(qzimage::KindOf("x.bmp"), qzimage::Kind::kBmp);
  EXPECT_EQ(qzimage::KindOf("x.jpg"), qzimage::Kind::kNone);
  EXPECT_EQ(qzimage::KindOf("png"), qzimage::Kind::kNone);
}

TEST(Files, WhatIsNoPictureIsRefused) {
  Image img;
  std::string why;
  EXPECT_FALSE(qzimage::Decode("", img, why));
  EXPECT_FALSE(qzimage::Decode("not a picture at all", img, why));
  EXPECT_FALSE(why.empty());
  // A PNG cut short after its header.
  std::string png;
  ASSERT_TRUE(qzimage::Encode(Numbered(8, 8, 3), qzimage::Kind::kPng, png));
  EXPECT_FALSE(qzimage::Decode(png.substr(0, 40), img, why));
  // A picture that says it is larger than qz takes: a BMP header of 20000 x 20000.
  std::string bmp;
  ASSERT_TRUE(qzimage::Encode(Numbered(2, 2, 3), qzimage::Kind::kBmp, bmp));
  const int32_t big = 20000;
  std::memcpy(&bmp[18], &big, 4);
  std::memcpy(&bmp[22], &big, 4);
  EXPECT_FALSE(qzimage::Decode(bmp, img, why));
  EXPECT_NE(why.find("larger"), std::string::npos) << why;
  Image empty;
  EXPECT_FALSE(qzimage::Encode(empty, qzimage::Kind::kPng, png));
}

TEST(Compare, PsnrAndLargestDifference) {
  Image a = Numbered(4, 4, 3), b = a;
  qzimage::Difference d;
  ASSERT_TRUE(qzimage::Compare(a, b, d));
  EXPECT_TRUE(std::isinf(d.psnr));
  EXPECT_EQ(d.maxAbs, 0);
  b.pixels[5] = uint8_t(b.pixels[5] + 10);  // one channel of one pixel off by 10: MSE 100 / 48
  ASSERT_TRUE(qzimage::Compare(a, b, d));
  EXPECT_EQ(d.maxAbs, 10);
  EXPECT_NEAR(d.psnr, 10 * std::log10(255.0 * 255.0 * 48 / 100), 1e-9);
  // Alpha plays no part; pictures of other sizes do not compare.
  Image c = Numbered(4, 4, 4), e = c;
  e.pixels[3] = 0;
  ASSERT_TRUE(qzimage::Compare(c, e, d));
  EXPECT_EQ(d.maxAbs, 0);
  EXPECT_FALSE(qzimage::Compare(a, Numbered(4, 3, 3), d));
}

TEST(TestPicture, HasTheSizeAndChannelsAsked) {
  const Image p = qzimage::TestPicture(720, 576, true);
  EXPECT_EQ(p.pixels.size(), size_t(720) * 576 * 4);
  EXPECT_EQ(p.row(0)[3], 0);            // alpha ramps from 0 on the left
  EXPECT_EQ(p.row(0)[719 * 4 + 3], 255);  // to 255 on the right
  EXPECT_EQ(qzimage::TestPicture(3, 2, false).pixels.size(), 18u);
}

}  // namespace
