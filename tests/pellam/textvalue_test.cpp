// Reading the value texts of the older settings file as formatted input does.
#include <cstring>

#include "settings/format.h"
#include "settings/textfile.h"
#include "support/support.h"

namespace {

namespace tf = pellam::textfile;
namespace fmt = pellam::format;

struct IntCase {
  const char* text;
  int64_t value;
};
void PrintTo(const IntCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class DecimalText : public testing::TestWithParam<IntCase> {};

TEST_P(DecimalText, ReadsAs32And64Bit) {
  const IntCase& c = GetParam();
  EXPECT_EQ(tf::ReadInt64(c.text), c.value);
  EXPECT_EQ(tf::ReadInt(c.text), int32_t(uint32_t(uint64_t(c.value))));
  EXPECT_EQ(tf::ReadUInt(c.text), uint32_t(uint64_t(c.value)));
  EXPECT_EQ(tf::ReadUInt64(c.text), uint64_t(c.value));
}

INSTANTIATE_TEST_SUITE_P(Texts, DecimalText,
                         testing::Values(IntCase{"720", 720}, IntCase{"  \t\n-15x", -15}, IntCase{"+7", 7},
                                         IntCase{"0012", 12}, IntCase{"abc", 0}, IntCase{"", 0}, IntCase{"-", 0},
                                         IntCase{"- 5", 0}, IntCase{"+-5", 0}, IntCase{"1 2", 1},
                                         IntCase{"2147483648", 2147483648LL}, IntCase{"-9000000000", -9000000000LL},
                                         IntCase{"18446744073709551615", -1},
                                         IntCase{"18446744073709551617", 1}));  // wraps like the platform's reader

TEST(TextValues, ThirtyTwoBitReadersWrap) {
  EXPECT_EQ(tf::ReadInt("2147483648"), INT32_MIN);
  EXPECT_EQ(tf::ReadInt("4294967297"), 1);
  EXPECT_EQ(tf::ReadUInt("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(tf::ReadInt64("9223372036854775808"), INT64_MIN);
}

TEST(TextValues, Hexadecimal) {
  EXPECT_EQ(tf::ReadHex("ff"), 0xFFu);
  EXPECT_EQ(tf::ReadHex("0x1F"), 0x1Fu);
  EXPECT_EQ(tf::ReadHex("0X1fz"), 0x1Fu);
  EXPECT_EQ(tf::ReadHex("  1000 "), 0x1000u);
  EXPECT_EQ(tf::ReadHex("2400"), 0x2400u);
  EXPECT_EQ(tf::ReadHex("0x"), 0u);
  EXPECT_EQ(tf::ReadHex("0xg"), 0u);
  EXPECT_EQ(tf::ReadHex("g1"), 0u);
  EXPECT_EQ(tf::ReadHex("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(tf::ReadHex("123456789"), 0x23456789u);
}

TEST(TextValues, BoolLooksAtTheFirstCharacterOnly) {
  for (const char* f : {"0", "00", "0x", "0 true"}) EXPECT_FALSE(tf::ReadBool(f)) << f;
  for (const char* t : {"1", "no", " 0", "false"}) EXPECT_TRUE(tf::ReadBool(t)) << t;
}

TEST(TextValues, RectanglesStopAtTheFirstMismatch) {
  auto R = [](const char* t) {
    RECT r = tf::ReadRect(t);
    return std::vector<LONG>{r.left, r.top, r.right, r.bottom};
  };
  EXPECT_EQ(R("0,0,640,480"), (std::vector<LONG>{0, 0, 640, 480}));
  EXPECT_EQ(R("-5, -6,\t7,8,9"), (std::vector<LONG>{-5, -6, 7, 8}));
  EXPECT_EQ(R("1,2,3"), (std::vector<LONG>{1, 2, 3, 0}));
  EXPECT_EQ(R("1 ,2,3,4"), (std::vector<LONG>{1, 0, 0, 0}));  // a literal comma is not preceded by blanks
  EXPECT_EQ(R("1,x,3,4"), (std::vector<LONG>{1, 0, 0, 0}));
  EXPECT_EQ(R("x"), (std::vector<LONG>{0, 0, 0, 0}));
}

std::vector<unsigned char> GuidBytes(const char* text) {
  unsigned char out[16];
  EXPECT_EQ(tf::ReadFixedValue(CSetFile::kGUID, text, out), 16u);
  return std::vector<unsigned char>(out, out + 16);
}

TEST(TextValues, GuidGroups) {
  GUID g = tf::ReadGuid("6B29FC40-CA47-1067-B31D-00DD-0106-62DA");
  EXPECT_EQ(g.Data1, 0x6B29FC40u);
  EXPECT_EQ(g.Data2, 0xCA47);
  EXPECT_EQ(g.Data3, 0x1067);
  EXPECT_EQ(std::vector<unsigned char>(g.Data4, g.Data4 + 8),
            (std::vector<unsigned char>{0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}));
  EXPECT_EQ(GuidBytes("6B29FC40-CA47-1067-B31D-00DD-0106-62DA"),
            (std::vector<unsigned char>{0x40, 0xFC, 0x29, 0x6B, 0x47, 0xCA, 0x67, 0x10, 0xB3, 0x1D, 0x00, 0xDD, 0x01,
                                        0x06, 0x62, 0xDA}));
  // Missing groups are 0; 16-bit groups keep their low 16 bits.
  EXPECT_EQ(GuidBytes("1-2"), (std::vector<unsigned char>{1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(GuidBytes(" 0x10-12345-z-1"), (std::vector<unsigned char>{0x10, 0, 0, 0, 0x45, 0x23, 0, 0, 0, 0, 0, 0,
                                                                      0, 0, 0, 0}));
  EXPECT_EQ(GuidBytes("{6B29FC40-CA47}"), std::vector<unsigned char>(16, 0));
}

struct FixedCase {
  DWORD type;
  const char* text;
  std::vector<unsigned char> bytes;  // empty: the type is not read as a fixed value
};
void PrintTo(const FixedCase& c, std::ostream* os) { *os << std::hex << c.type << " \"" << c.text << "\""; }

class FixedValue : public testing::TestWithParam<FixedCase> {};

TEST_P(FixedValue, StoredBytes) {
  const FixedCase& c = GetParam();
  unsigned char out[16];
  std::memset(out, 0xCC, 16);
  DWORD n = tf::ReadFixedValue(c.type, c.text, out);
  EXPECT_EQ(std::vector<unsigned char>(out, out + n), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Types, FixedValue,
    testing::Values(FixedCase{CSetFile::kInt, "720", {0xD0, 0x02, 0, 0}},
                    FixedCase{CSetFile::kInt, "-2", {0xFE, 0xFF, 0xFF, 0xFF}},
                    FixedCase{CSetFile::kInt64, "-2", {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
                    FixedCase{CSetFile::kBool, "no", {1, 0, 0, 0}}, FixedCase{CSetFile::kBool, "00", {0, 0, 0, 0}},
                    FixedCase{CSetFile::kColor, "ff8000", {0x00, 0x80, 0xFF, 0x00}},
                    FixedCase{CSetFile::kRect, "1,2,3,4", {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}},
                    FixedCase{CSetFile::kUInt, "4000000000", {0x00, 0x28, 0x6B, 0xEE}},
                    FixedCase{CSetFile::kUInt64, "4294967296", {0, 0, 0, 0, 1, 0, 0, 0}},
                    FixedCase{CSetFile::kDWORD, "0xDEADBEEF", {0xEF, 0xBE, 0xAD, 0xDE}},
                    FixedCase{CSetFile::kString, "text", {}}, FixedCase{CSetFile::kPath, "C:\\x", {}},
                    FixedCase{CSetFile::kTimecode, "00:00:00:00", {}}, FixedCase{CSetFile::kBin, "00", {}},
                    FixedCase{CSetFile::kFont, "x", {}}, FixedCase{0x0001, "1", {}}, FixedCase{0, "1", {}}));

}  // namespace
