// Spreading 4:2:2 chroma over 4:4:4 pixels in place: interpolation between
// pairs, the last pixel, repetition, row padding, and refused arguments.
#include <vector>

#include "support/support.h"
#include "zelku.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A row of `width` pixels: Y = 10 x, the left pixel of each pair carries the
// pair's chroma (Cb = 20 + 10 x, Cr = 200 - 10 x), the right one 0xEE; alpha
// 0x40 + x; then `pad` bytes 0x5A.
Bytes Row(int width, int bpp, int pad) {
  Bytes row;
  for (int x = 0; x < width; ++x) {
    const bool left = x % 2 == 0;
    row.push_back(static_cast<unsigned char>(10 * x));
    row.push_back(left ? static_cast<unsigned char>(20 + 10 * x) : 0xEE);
    row.push_back(left ? static_cast<unsigned char>(200 - 10 * x) : 0xEE);
    if (bpp == 4) row.push_back(static_cast<unsigned char>(0x40 + x));
  }
  row.insert(row.end(), pad, 0x5A);
  return row;
}

// The chroma (Cb, Cr) of each pixel of a row.
std::vector<std::pair<int, int>> Chroma(const unsigned char* row, int width, int bpp) {
  std::vector<std::pair<int, int>> out;
  for (int x = 0; x < width; ++x) out.emplace_back(row[x * bpp + 1], row[x * bpp + 2]);
  return out;
}

struct Case {
  const char* name;
  int width, bpp, repeat;
  std::vector<std::pair<int, int>> chroma;
};

class Spread : public testing::TestWithParam<Case> {};

TEST_P(Spread, FillsTheRightHandPixels) {
  const Case& c = GetParam();
  const int pad = 3;
  Bytes frame = Row(c.width, c.bpp, pad), second = frame;
  frame.insert(frame.end(), second.begin(), second.end());  // two rows
  const Bytes before = frame;
  const ULONG stride = ULONG(c.width * c.bpp + pad);
  zelk::CQZCsc csc;
  ASSERT_EQ(csc.YUV422MeshedToYUV444Meshed(frame.data(), frame.data(), c.width, -2, c.bpp, stride, c.repeat), 0);
  for (int r = 0; r < 2; ++r) {
    const unsigned char* row = frame.data() + r * stride;
    EXPECT_EQ(Chroma(row, c.width, c.bpp), c.chroma) << "row " << r;
    for (int x = 0; x < c.width; ++x) {
      EXPECT_EQ(row[x * c.bpp], before[r * stride + x * c.bpp]);  // Y
      if (c.bpp == 4) {
        EXPECT_EQ(row[x * c.bpp + 3], before[r * stride + x * c.bpp + 3]);  // alpha
      }
    }
    for (int i = 0; i < pad; ++i) EXPECT_EQ(row[c.width * c.bpp + i], 0x5A);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Spread,
    testing::Values(
        // Between pairs the mean of the neighbours, halves up; the last pixel repeats.
        Case{"interpolated", 6, 3, 0, {{20, 200}, {30, 190}, {40, 180}, {50, 170}, {60, 160}, {60, 160}}},
        Case{"interpolated_alpha", 6, 4, 0, {{20, 200}, {30, 190}, {40, 180}, {50, 170}, {60, 160}, {60, 160}}},
        // An odd width: the last pixel is a left-hand one and stays.
        Case{"odd_width", 5, 4, 0, {{20, 200}, {30, 190}, {40, 180}, {50, 170}, {60, 160}}},
        Case{"repeated", 6, 3, 1, {{20, 200}, {20, 200}, {40, 180}, {40, 180}, {60, 160}, {60, 160}}},
        Case{"one_pixel", 1, 3, 0, {{20, 200}}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(Spread, RoundsHalvesUp) {
  Bytes row = {0, 10, 11, 0, 0xEE, 0xEE, 0, 13, 14};
  zelk::CQZCsc csc;
  ASSERT_EQ(csc.YUV422MeshedToYUV444Meshed(row.data(), row.data(), 3, 1, 3, 9, 0), 0);
  EXPECT_EQ(row[4], 12);  // (10 + 13 + 1) / 2
  EXPECT_EQ(row[5], 13);  // (11 + 14 + 1) / 2 rounds 12.5 up
}

TEST(Spread, IntoAnotherFrameCopiesThePixelsAndLeavesItsPaddingAlone) {
  const Bytes src = Row(4, 4, 2);
  Bytes dst(src.size(), 0x77);
  zelk::CQZCsc csc;
  ASSERT_EQ(csc.YUV422MeshedToYUV444Meshed(const_cast<unsigned char*>(src.data()), dst.data(), 4, 1, 4, 18, 0), 0);
  EXPECT_EQ(Chroma(dst.data(), 4, 4), (std::vector<std::pair<int, int>>{{20, 200}, {30, 190}, {40, 180}, {40, 180}}));
  EXPECT_EQ(dst[0], src[0]);
  EXPECT_EQ(dst[15], src[15]);  // alpha of the last pixel
  EXPECT_EQ(dst[16], 0x77);
  EXPECT_EQ(dst[17], 0x77);
}

TEST(Spread, RefusesBadArgumentsAndWritesNothing) {
  Bytes row = Row(4, 3, 0);
  const Bytes before = row;
  zelk::CQZCsc csc;
  unsigned char* p = row.data();
  EXPECT_EQ(csc.YUV422MeshedToYUV444Meshed(nullptr, p, 4, 1, 3, 12, 0), -1);
  EXPECT_EQ(csc.YUV422MeshedToYUV444Meshed(p, nullptr, 4, 1, 3, 12, 0), -1);
  EXPECT_EQ(csc.YUV422MeshedToYUV444Meshed(p, p, -4, 1, 3, 12, 0), -1);
  EXPECT_EQ(csc.YUV422MeshedToYUV444Meshed(p, p, 4, 1, 2, 12, 0), -1);
  EXPECT_EQ(csc.YUV422MeshedToYUV444Meshed(p, p, 4, 1, 3, 11, 0), -1);  // shorter than a row
  EXPECT_EQ(csc.YUV422MeshedToYUV444Meshed(p, p, 4, 0, 3, 12, 0), 0);   // no rows
  EXPECT_EQ(row, before);
}

}  // namespace
