// The 4:2:2 row kernels: the fast rows give the plain rows' bytes on every
// row of the frames the conversion tests use, with limiting on and off, and
// stand aside for tables that are no plain clamps.
#include <vector>

#include "frames.h"
#include "rows422.h"

namespace tarneltest {
namespace {

using namespace tarnel;

// Widths of the conversion tests' frames, and the lengths around the fast
// rows' steps of four groups.
const int64_t kPairs[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 18, 31, 32, 33, 180, 359, 360};

TEST(Rows422, FastRowsAreTakenForTheConverterTables) {
  for (bool limit : {true, false}) {
    const FastRows fast = FastRowsFor(Bt601Kernels(limit));
    EXPECT_EQ(fast.decode, FastRowsAvailable());
    EXPECT_EQ(fast.encode, FastRowsAvailable());
    EXPECT_EQ(fast.filter, FastRowsAvailable());
    if (fast.encode) {  // BT.601 sums stay inside the studio range: either way the same clamps
      EXPECT_EQ(fast.yLow, 16);
      EXPECT_EQ(fast.yHigh, 235);
      EXPECT_EQ(fast.cLow, 16);
      EXPECT_EQ(fast.cHigh, 240);
    }
  }
}

TEST(Rows422, FastRowsStandAsideForTablesThatAreNoClamps) {
  const Kernels& k = Bt601Kernels();
  // Copies of the byte tables, each spoilt at one index its sums reach.
  const int low = ZelkuTableLow(), high = ZelkuTableHigh();
  std::vector<BYTE> sat(k.sat + low, k.sat + high + 1), limitY(k.limitY + low, k.limitY + high + 1),
      limitC(k.limitC + low, k.limitC + high + 1);
  sat[size_t(200 - low)] ^= 1;
  limitY[size_t(100 - low)] ^= 1;
  limitC[size_t(17 - low)] ^= 1;
  Kernels spoilt = k;
  spoilt.sat = sat.data() - low;
  EXPECT_FALSE(FastRowsFor(spoilt).decode);
  EXPECT_EQ(FastRowsFor(spoilt).encode, FastRowsAvailable());
  spoilt = k;
  spoilt.limitY = limitY.data() - low;
  EXPECT_FALSE(FastRowsFor(spoilt).encode);
  spoilt = k;
  spoilt.limitC = limitC.data() - low;
  EXPECT_FALSE(FastRowsFor(spoilt).encode);
  EXPECT_FALSE(FastRowsFor(spoilt).filter);
}

TEST(Rows422, FastRowsEqualThePlainRows) {
  if (!FastRowsAvailable()) GTEST_SKIP() << "the processor has no fast rows";
  Rng rng(1234);
  for (bool limit : {true, false}) {
    const Kernels& k = Bt601Kernels(limit);
    const FastRows fast = FastRowsFor(k);
    for (int64_t pairs : kPairs) {
      for (int round = 0; round < 40; ++round) {
        std::vector<BYTE> groups(size_t(pairs * 4)), bgra(size_t(pairs * 8));
        rng.Fill(groups.data(), groups.size());
        rng.Fill(bgra.data(), bgra.size());
        if (round == 0) std::fill(bgra.begin(), bgra.end(), 255);  // the extremes of every sum
        if (round == 1) std::fill(bgra.begin(), bgra.end(), 0);
        std::vector<BYTE> a(size_t(pairs * 8) + 1, 0xEE), b = a;
        Row422ToBgr_Ref(k, groups.data(), a.data(), pairs, 4);
        Row422ToBgra_Fast(k, fast, groups.data(), b.data(), pairs);
        ASSERT_EQ(a, b) << "decode, " << pairs << " groups";
        std::vector<BYTE> c(size_t(pairs * 4) + 1, 0xEE), d = c;
        RowBgrTo422_Ref(k, bgra.data(), c.data(), pairs, 4, false);
        RowBgraTo422_Fast(k, fast, bgra.data(), d.data(), pairs);
        ASSERT_EQ(c, d) << "encode, " << pairs << " pairs";
        std::vector<BYTE> e(size_t(pairs * 8) + 1, 0xEE), f = e;
        RowBgrToScratch_Ref(k, bgra.data(), e.data(), pairs * 2, 4, false);
        RowBgraToScratch_Fast(k, fast, bgra.data(), f.data(), pairs * 2);
        ASSERT_EQ(e, f) << "scratch, " << pairs * 2 << " pixels";
        // The filter, on scratch rows of every kind (the fourth byte is an
        // alpha when a 4:4:4 input row serves as one).
        std::vector<BYTE> g(size_t(pairs * 4) + 1, 0xEE), h = g;
        RowFilterTo422_Ref(k.limitC, bgra.data(), g.data(), pairs);
        RowFilterTo422_Fast(k, fast, bgra.data(), h.data(), pairs);
        ASSERT_EQ(g, h) << "filter, " << pairs << " groups";
      }
    }
  }
}

TEST(Rows422, FastRowsStayInsideTheirRows) {
  if (!FastRowsAvailable()) GTEST_SKIP() << "the processor has no fast rows";
  const Kernels& k = Bt601Kernels();
  const FastRows fast = FastRowsFor(k);
  for (int64_t pairs : kPairs) {
    GuardedBlock groups(size_t(pairs * 4)), bgra(size_t(pairs * 8)), out8(size_t(pairs * 8)), out4(size_t(pairs * 4));
    std::memset(groups.data(), 0x50, groups.size());
    std::memset(bgra.data(), 0x90, bgra.size());
    Row422ToBgra_Fast(k, fast, groups.data(), out8.data(), pairs);
    RowBgraTo422_Fast(k, fast, bgra.data(), out4.data(), pairs);
    RowBgraToScratch_Fast(k, fast, bgra.data(), out8.data(), pairs * 2);
    RowFilterTo422_Fast(k, fast, bgra.data(), out4.data(), pairs);
  }
}

struct BlankCase {
  int64_t pairs;
};
TEST(Rows422, PlainRowsTouchOnlyTheirGroups) {
  const Kernels& k = Bt601Kernels();
  for (int64_t pairs : kPairs) {
    for (int bpp : {3, 4}) {
      GuardedBlock groups(size_t(pairs * 4)), pixels(size_t(pairs * 2 * bpp)), half(size_t(pairs * bpp)),
          scratch(size_t(pairs * 8));
      std::memset(groups.data(), 0x70, groups.size());
      std::memset(pixels.data(), 0x30, pixels.size());
      Row422ToBgr_Ref(k, groups.data(), pixels.data(), pairs, bpp);
      Row422ToBgrHalf_Ref(k, groups.data(), half.data(), pairs, bpp);
      Row422To444_Ref(groups.data(), pixels.data(), pairs, bpp);
      RowBgrTo422_Ref(k, pixels.data(), groups.data(), pairs, bpp, bpp == 4);
      Row444To422_Ref(pixels.data(), groups.data(), pairs, bpp, bpp == 4);
      RowBgrToScratch_Ref(k, pixels.data(), scratch.data(), pairs * 2, bpp, true);
      RowFilterTo422_Ref(k.limitC, scratch.data(), groups.data(), pairs);
      RowBlank422(groups.data(), pairs);
      for (size_t i = 0; i < groups.size(); ++i) ASSERT_EQ(groups.data()[i], i % 2 ? 0x10 : 0x80);
    }
  }
}

}  // namespace
}  // namespace tarneltest
