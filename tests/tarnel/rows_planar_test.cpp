// The fast rows against the plain ones, byte for byte, on the converter's own
// tables in both limiting states, and the table checks that decide whether a
// fast row may clamp in registers.
#include "rows_planar.h"

#include <memory>

#include "frames.h"
#include "rows_meshed.h"

namespace tarneltest {
namespace {

using namespace tarnel;

// Zelku's BT.601 tables with limiting on or off.
const zelk::CQZCsc& Converter(bool limited) {
  static zelk::CQZCsc on, off;
  static const bool ready = [] {
    on.Init(zelk::CS_BT601);
    off.Init(zelk::CS_BT601);
    off.ColorLimit(0);
    return true;
  }();
  (void)ready;
  return limited ? on : off;
}

// Test rows: noise, and sweeps that take every channel through 0..255.
struct Picture {
  const char* what;
  Bytes (*make)(size_t bytes, uint32_t seed);
};
Bytes Sweep(size_t n, uint32_t seed) {
  Bytes b = Noise(n, seed);
  for (size_t i = 0; i < n; ++i) b[i] = (i % 3 == seed % 3) ? BYTE(i / 3) : b[i];
  return b;
}
Bytes Extremes(size_t n, uint32_t seed) {
  Bytes b = Noise(n, seed);
  for (BYTE& v : b) v = v & 1 ? 255 : v & 2 ? 0 : v;
  return b;
}
const Picture kPictures[] = {{"noise", Noise}, {"sweep", Sweep}, {"extremes", Extremes}};
// Widths around the fast rows' steps, and the frame widths of the codecs.
const int kPixels[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 64, 100, 720, 721, 1920};

class Rows : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { PrepareFast(k, &tables); }
  Kernels k{Converter(GetParam())};
  FastTables tables;
  const Clamps& c = tables.clamps;
};

TEST_P(Rows, TheConvertersTablesAreClamps) {
  EXPECT_TRUE(c.decode);
  EXPECT_TRUE(c.encode);
  // The bounds over the sums' reach: RGB encodes inside the studio range,
  // so limiting on and off clamp alike there.
  EXPECT_EQ(c.yLow, 16);
  EXPECT_EQ(c.yHigh, 235);
  EXPECT_EQ(c.cLow, 16);
  EXPECT_EQ(c.cHigh, 240);
  if (!Avx2RowsAvailable()) std::printf("[ NOTE     ] no fast rows on this processor: the plain rows only\n");
}

TEST_P(Rows, FastPlanarRowsGiveThePlainRowsBytes) {
  for (const Picture& p : kPictures)
    for (const int pixels : kPixels)
      for (int variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(testing::Message() << p.what << " " << pixels << " " << variant);
        const int pairs = pixels / 2;
        const bool withAlpha = variant & 1;
        const AlphaUse use = {(variant & 1) != 0, (variant & 2) != 0};
        const uint32_t seed = uint32_t(pixels * 4 + variant);
        // Planes to 32-bit B, G, R, A; guard bytes after each output.
        const Bytes y = p.make(pixels + 1, seed), cb = p.make(pairs + 1, seed + 1), cr = p.make(pairs + 1, seed + 2),
                    a = p.make(pixels + 1, seed + 3);
        const ConstPlaneRow src = {y.data(), cb.data(), cr.data(), withAlpha ? a.data() : nullptr};
        Bytes fast(size_t(pixels) * 4 + 4, 0xA5), plain = fast;
        PlanesToBgrRow(k, tables, src, fast.data(), 4, pairs);
        PlanesToBgrRow_C(k, src, plain.data(), 4, pairs);
        ASSERT_EQ(fast, plain);
        // 32-bit B, G, R, A to planes.
        const Bytes bgra = p.make(size_t(pixels) * 4 + 4, seed + 4);
        Bytes planes[2][4];
        for (Bytes* out : {planes[0], planes[1]}) {
          out[0].assign(pixels + 1, 0x5A);
          out[1].assign(pairs + 1, 0x5A);
          out[2].assign(pairs + 1, 0x5A);
          out[3].assign(pixels + 1, 0x5A);
        }
        auto rowOf = [&](Bytes* out) {
          return PlaneRow{out[0].data(), out[1].data(), out[2].data(), withAlpha ? out[3].data() : nullptr};
        };
        BgrToPlanesRow(k, tables, bgra.data(), 4, use, rowOf(planes[0]), pairs);
        BgrToPlanesRow_C(k, bgra.data(), 4, use, rowOf(planes[1]), pairs);
        for (int i = 0; i < 4; ++i) ASSERT_EQ(planes[0][i], planes[1][i]) << "plane " << i;
      }
}

TEST_P(Rows, FastMeshedRowsGiveThePlainRowsBytes) {
  for (const Picture& p : kPictures)
    for (const int pixels : kPixels)
      for (int variant = 0; variant < 8; ++variant) {
        SCOPED_TRACE(testing::Message() << p.what << " " << pixels << " " << variant);
        const MeshedOrder order = {4, (variant & 4) != 0};
        const AlphaUse use = {(variant & 1) != 0, (variant & 2) != 0};
        const Bytes meshed = p.make(size_t(pixels) * 4, uint32_t(pixels + variant));
        Bytes fast(size_t(pixels) * 4 + 4, 0xA5), plain = fast;
        MeshedToBgrRow(k, tables, meshed.data(), order, fast.data(), 4, pixels);
        MeshedToBgrRow_C(k, meshed.data(), order, plain.data(), 4, pixels);
        ASSERT_EQ(fast, plain);
        const Bytes bgra = p.make(size_t(pixels) * 4, uint32_t(pixels * 3 + variant));
        fast.assign(fast.size(), 0x5A);
        plain = fast;
        BgrToMeshedRow(k, tables, bgra.data(), 4, use, fast.data(), order, pixels);
        BgrToMeshedRow_C(k, bgra.data(), 4, use, plain.data(), order, pixels);
        ASSERT_EQ(fast, plain);
      }
}

// Each row on every frame of a size the benchmarks use, row by row.
TEST_P(Rows, FastRowsMatchOnWholeFrames) {
  for (const int width : {720, 1920}) {
    const int height = width == 720 ? 576 : 1080, pairs = width / 2;
    const Bytes frame = Noise(size_t(width) * 4 * height, uint32_t(width));
    Bytes fast(size_t(width) * 4), plain(size_t(width) * 4);
    Bytes planes[2][3] = {{Bytes(width), Bytes(pairs), Bytes(pairs)}, {Bytes(width), Bytes(pairs), Bytes(pairs)}};
    for (int r = 0; r < height; ++r) {
      const BYTE* row = &frame[size_t(r) * width * 4];
      MeshedToBgrRow(k, tables, row, {4, false}, fast.data(), 4, width);
      MeshedToBgrRow_C(k, row, {4, false}, plain.data(), 4, width);
      ASSERT_EQ(fast, plain) << r;
      BgrToMeshedRow(k, tables, row, 4, {true, false}, fast.data(), {4, false}, width);
      BgrToMeshedRow_C(k, row, 4, {true, false}, plain.data(), {4, false}, width);
      ASSERT_EQ(fast, plain) << r;
      const ConstPlaneRow src = {row, row + width, row + width + pairs, nullptr};
      PlanesToBgrRow(k, tables, src, fast.data(), 4, pairs);
      PlanesToBgrRow_C(k, src, plain.data(), 4, pairs);
      ASSERT_EQ(fast, plain) << r;
      for (int i = 0; i < 2; ++i) {
        const PlaneRow dst = {planes[i][0].data(), planes[i][1].data(), planes[i][2].data(), nullptr};
        if (i == 0)
          BgrToPlanesRow(k, tables, row, 4, {true, false}, dst, pairs);
        else
          BgrToPlanesRow_C(k, row, 4, {true, false}, dst, pairs);
      }
      for (int i = 0; i < 3; ++i) ASSERT_EQ(planes[0][i], planes[1][i]) << r;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Limiting, Rows, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "On" : "Off"; });

// A byte table of the reach the Zelku tables accept, whose entry `broken`
// (counted from the low end) is changed.
struct BrokenTable {
  Bytes bytes;
  const BYTE* at;  // index 0
  BrokenTable(const BYTE* table, int low, int high, int broken) {
    bytes.assign(table + low, table + high + 1);
    at = bytes.data() - low;
    if (broken >= 0) bytes[broken] ^= 1;
  }
};

TEST(Clamps, ATableThatIsNoClampTurnsTheFastRowsOff) {
  const int low = ZelkuTableLow(), high = ZelkuTableHigh();
  const Kernels plain(Converter(true));
  struct Case {
    const char* what;
    int which;  // 0 sat, 1 limitY, 2 limitC
    int index;  // the changed index
    bool decode, encode;
  };
  const Case cases[] = {
      {"sat at 0", 0, 0, false, true},
      {"sat at 255", 0, 255, false, true},
      {"sat at 128", 0, 128, false, true},
      {"limitY at 100", 1, 100, true, false},
      {"limitC at 200", 2, 200, true, false},
      {"limitY at 16", 1, 16, true, true},             // a clamp to 17..235 over the sums' reach, and clamped so
      {"sat at the far low end", 0, low, true, true},  // beyond every decode sum
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Kernels k = plain;
    const BYTE* bytes[3] = {k.sat, k.limitY, k.limitC};
    BrokenTable broken(bytes[c.which], low, high, c.index - low);
    (c.which == 0 ? k.sat : c.which == 1 ? k.limitY : k.limitC) = broken.at;
    FastTables tables;
    PrepareFast(k, &tables);
    EXPECT_EQ(tables.clamps.decode, c.decode);
    EXPECT_EQ(tables.clamps.encode, c.encode);
    // The rows then give the plain rows' bytes, on the changed table.
    const Bytes px = Sweep(size_t(256) * 4, 1);
    Bytes fast(1024), ref(1024);
    MeshedToBgrRow(k, tables, px.data(), {4, false}, fast.data(), 4, 256);
    MeshedToBgrRow_C(k, px.data(), {4, false}, ref.data(), 4, 256);
    EXPECT_EQ(fast, ref);
    BgrToMeshedRow(k, tables, px.data(), 4, {false, false}, fast.data(), {4, false}, 256);
    BgrToMeshedRow_C(k, px.data(), 4, {false, false}, ref.data(), {4, false}, 256);
    EXPECT_EQ(fast, ref);
  }
}

// The kernels' arithmetic at the points the text fixes.
TEST(Kernels, DecodeBlackAndWhiteAndPremultiplyEnds) {
  const Kernels k(Converter(true));
  BYTE bgr[3];
  k.Decode(16, 128, 128, bgr);
  EXPECT_EQ(Bytes(bgr, bgr + 3), Bytes({0, 0, 0}));
  k.Decode(235, 128, 128, bgr);
  EXPECT_EQ(Bytes(bgr, bgr + 3), Bytes({255, 255, 255}));
  struct Case {
    BYTE v, a;
    int zero;
    BYTE want;
  };
  const Case cases[] = {{200, 255, 0, 200},   {200, 0, 0, 0},       {255, 128, 0, 128}, {1, 128, 0, 1},
                        {235, 0, 16, 16},     {240, 0, 128, 128},   {16, 0, 128, 128},  {100, 255, 128, 100},
                        {127, 128, 128, 128}, {129, 128, 128, 129}, {0, 255, 16, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(c.zero ? PremultiplyAround(c.v, c.a, c.zero) : Premultiply(c.v, c.a), c.want)
        << int(c.v) << " " << int(c.a) << " " << c.zero;
}

}  // namespace
}  // namespace tarneltest
