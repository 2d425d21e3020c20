// The converter's tables: BT.601 studio range as the codecs combine them, the
// byte tables' reach at both ends, limiting, and the object's layout.
#include <algorithm>
#include <cmath>

#include "support/support.h"
#include "zelku.h"

namespace {

#ifdef _WIN32
#define SLOT_CALL __thiscall
#else
#define SLOT_CALL
#endif

struct Rgb {
  int b, g, r;
};
struct Yuv {
  int y, cb, cr;
};

// The kernels, exactly as the codecs combine the tables.
Rgb Decode(const zelk::CQZCsc& c, Yuv p) {
  const LONG y = c.pYToRGB[p.y];
  return {c.pSat[(y + c.pCbToB[p.cb]) >> 16], c.pSat[(y + c.pCbToG[p.cb] + c.pCrToG[p.cr]) >> 16],
          c.pSat[(y + c.pCrToR[p.cr]) >> 16]};
}
Yuv Encode(const zelk::CQZCsc& c, Rgb p) {
  const LONG* t = c.pRGBToYUV;
  return {c.pLimitY[(t[p.r] + t[256 + p.g] + t[512 + p.b]) >> 16],
          c.pLimitC[(t[768 + p.r] + t[1024 + p.g] + t[1280 + p.b]) >> 16],
          c.pLimitC[(t[1536 + p.r] + t[1792 + p.g] + t[2048 + p.b]) >> 16]};
}

// The studio-range encoding in real numbers, for colour space coefficients kr, kb.
Yuv Ideal(Rgb p, double kr, double kb) {
  const double kg = 1 - kr - kb, y = kr * p.r + kg * p.g + kb * p.b;
  return {int(std::lround(16 + 219 * y / 255)), int(std::lround(128 + 224 * (p.b - y) / (2 * (1 - kb)) / 255)),
          int(std::lround(128 + 224 * (p.r - y) / (2 * (1 - kr)) / 255))};
}

class Tables : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(csc.Init(zelk::CS_BT601), 0); }
  zelk::CQZCsc csc;
};

TEST_F(Tables, BlackAndWhiteDecodeExactly) {
  Rgb black = Decode(csc, {16, 128, 128}), white = Decode(csc, {235, 128, 128});
  EXPECT_EQ((std::vector<int>{black.b, black.g, black.r}), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ((std::vector<int>{white.b, white.g, white.r}), (std::vector<int>{255, 255, 255}));
}

struct Colour {
  const char* name;
  Rgb rgb;
};

class Primaries : public Tables, public testing::WithParamInterface<Colour> {};

TEST_P(Primaries, EncodeWithinOneStepOfBt601AndDecodeBackClose) {
  const Rgb in = GetParam().rgb;
  const Yuv got = Encode(csc, in), want = Ideal(in, 0.299, 0.114);
  EXPECT_LE(std::abs(got.y - want.y), 1) << got.y << " " << want.y;
  EXPECT_LE(std::abs(got.cb - want.cb), 1) << got.cb << " " << want.cb;
  EXPECT_LE(std::abs(got.cr - want.cr), 1) << got.cr << " " << want.cr;
  const Rgb back = Decode(csc, got);
  EXPECT_LE(std::abs(back.b - in.b), 2);
  EXPECT_LE(std::abs(back.g - in.g), 2);
  EXPECT_LE(std::abs(back.r - in.r), 2);
}

INSTANTIATE_TEST_SUITE_P(Colours, Primaries,
                         testing::Values(Colour{"red", {0, 0, 255}}, Colour{"green", {0, 255, 0}},
                                         Colour{"blue", {255, 0, 0}}, Colour{"cyan", {255, 255, 0}},
                                         Colour{"magenta", {255, 0, 255}}, Colour{"yellow", {0, 255, 255}},
                                         Colour{"black", {0, 0, 0}}, Colour{"white", {255, 255, 255}},
                                         Colour{"grey64", {64, 64, 64}}, Colour{"grey128", {128, 128, 128}},
                                         Colour{"grey191", {191, 191, 191}}),
                         [](const testing::TestParamInfo<Colour>& info) { return std::string(info.param.name); });

TEST_F(Tables, EveryStudioGreyRoundTripsExactly) {
  for (int y = 16; y <= 235; ++y) {
    const Rgb grey = Decode(csc, {y, 128, 128});
    ASSERT_TRUE(grey.b == grey.g && grey.g == grey.r) << y;
    const Yuv back = Encode(csc, grey);
    ASSERT_EQ(back.y, y);
    ASSERT_EQ(back.cb, 128) << y;
    ASSERT_EQ(back.cr, 128) << y;
  }
}

// The lowest and highest index a sum of 16.16 entries can reach.
struct Reach {
  int low = 0, high = 0;
};
Reach SumReach(std::initializer_list<const LONG*> tables) {
  long long low = 0, high = 0;
  for (const LONG* t : tables) {
    low += *std::min_element(t, t + 256);
    high += *std::max_element(t, t + 256);
  }
  return {int(low >> 16), int(high >> 16)};
}

TEST_F(Tables, ByteTablesAcceptEverySumAtBothEnds) {
  for (zelk::ColorSpace space : {zelk::CS_BT601, zelk::CS_BT709}) {
    ASSERT_EQ(csc.Init(space), 0);
    const LONG* t = csc.pRGBToYUV;
    const Reach sums[] = {
        SumReach({csc.pYToRGB, csc.pCbToB}), SumReach({csc.pYToRGB, csc.pCbToG, csc.pCrToG}),
        SumReach({csc.pYToRGB, csc.pCrToR}), SumReach({t, t + 256, t + 512}),
        SumReach({t + 768, t + 1024, t + 1280}), SumReach({t + 1536, t + 1792, t + 2048}),
    };
    for (const Reach& r : sums) {
      EXPECT_GE(r.low, ZelkuTableLow());
      EXPECT_LE(r.high, ZelkuTableHigh());
    }
  }
  // Decode sums reach well outside 0..255 (below -200 and above 500 for BT.601 blue).
  EXPECT_LT(ZelkuTableLow(), -200);
  EXPECT_GT(ZelkuTableHigh(), 500);

  // Every index of the range reads the clamp of the limiting in force.
  struct Limits {
    int on;
    int yLow, yHigh, cLow, cHigh;
  };
  for (const Limits& l : {Limits{1, 16, 235, 16, 240}, Limits{0, 0, 255, 0, 255}}) {
    csc.ColorLimit(l.on);
    for (int v = ZelkuTableLow(); v <= ZelkuTableHigh(); ++v) {
      ASSERT_EQ(csc.pSat[v], std::clamp(v, 0, 255)) << v;
      ASSERT_EQ(csc.pLimitY[v], std::clamp(v, l.yLow, l.yHigh)) << v << " limiting " << l.on;
      ASSERT_EQ(csc.pLimitC[v], std::clamp(v, l.cLow, l.cHigh)) << v << " limiting " << l.on;
    }
  }
}

TEST_F(Tables, InitLimitsEndReleasesAndAnUnknownSpaceGetsBt601) {
  const LONG* bt601 = csc.pYToRGB;
  csc.ColorLimit(0);
  ASSERT_EQ(csc.Init(zelk::CS_BT601), 0);
  EXPECT_EQ(csc.pLimitY[0], 16);  // Init turns limiting on

  csc.End();
  EXPECT_EQ(csc.pSat, nullptr);
  EXPECT_EQ(csc.pLimitC, nullptr);
  EXPECT_EQ(csc.pRGBToYUV, nullptr);
  csc.ColorLimit(1);  // nothing to limit before Init
  EXPECT_EQ(csc.pLimitY, nullptr);

  EXPECT_EQ(csc.Init(static_cast<zelk::ColorSpace>(5)), -1);
  EXPECT_EQ(csc.pYToRGB, bt601);
}

TEST_F(Tables, Bt709EncodesItsPrimaries) {
  ASSERT_EQ(csc.Init(zelk::CS_BT709), 0);
  for (Rgb c : {Rgb{0, 0, 255}, Rgb{0, 255, 0}, Rgb{255, 0, 0}, Rgb{40, 120, 200}}) {
    const Yuv got = Encode(csc, c), want = Ideal(c, 0.2126, 0.0722);
    EXPECT_LE(std::abs(got.y - want.y), 1);
    EXPECT_LE(std::abs(got.cb - want.cb), 1);
    EXPECT_LE(std::abs(got.cr - want.cr), 1);
  }
  const Rgb white = Decode(csc, {235, 128, 128});
  EXPECT_EQ(white.r + white.g + white.b, 3 * 255);
}

// What a codec relies on without the header: the table pointers right after
// the table of virtual operations, and the operations in their slots.
TEST(Converter, TablePointersAndSlotsLieWhereUsersReadThem) {
  void* memory = zelk::NewAlloc(sizeof(zelk::CQZCsc));
  ASSERT_NE(memory, nullptr);
  const LONG live = ZelkuLiveBlocks();
  auto* csc = new (memory) zelk::CQZCsc;
  void** object = static_cast<void**>(memory);
  void* const* slots = static_cast<void* const*>(object[0]);

  typedef int(SLOT_CALL * InitSlot)(void*, int);
  typedef void(SLOT_CALL * LimitSlot)(void*, int);
  typedef void(SLOT_CALL * EndSlot)(void*);
  typedef void*(SLOT_CALL * DeleteSlot)(void*, UINT);
  EXPECT_EQ(reinterpret_cast<InitSlot>(slots[1])(csc, 0), 0);
  EXPECT_EQ(object[1], csc->pSat);
  EXPECT_EQ(object[2], csc->pLimitY);
  EXPECT_EQ(object[3], csc->pLimitC);
  EXPECT_EQ(object[4], csc->pCrToR);
  EXPECT_EQ(object[5], csc->pCbToB);
  EXPECT_EQ(object[6], csc->pCrToG);
  EXPECT_EQ(object[7], csc->pCbToG);
  EXPECT_EQ(object[8], csc->pYToRGB);
  EXPECT_EQ(object[9], csc->pRGBToYUV);
  EXPECT_NE(object[9], nullptr);
  reinterpret_cast<LimitSlot>(slots[3])(csc, 0);
  EXPECT_EQ(csc->pLimitY, csc->pSat);
  reinterpret_cast<EndSlot>(slots[2])(csc);
  EXPECT_EQ(csc->pSat, nullptr);
  EXPECT_EQ(reinterpret_cast<DeleteSlot>(slots[0])(csc, 1), memory);
  EXPECT_EQ(ZelkuLiveBlocks(), live - 1);
}

}  // namespace
