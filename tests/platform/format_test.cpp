// The formatter must give the same text on both targets, with the Microsoft
// conventions the suite's messages are written in.
#include "support/support.h"

namespace {

using plat::wstring;

wstring F(const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  wstring s = plat::VFormatWS(fmt, ap);
  va_end(ap);
  return s;
}

TEST(Formatter, WideFormatTakesWideAndNarrowStrings) {
  EXPECT_EQ(F(TEXT("GetFileAttributes %s took %u ms\r\n"), TEXT("C:\\x"), 201u),
            TEXT("GetFileAttributes C:\\x took 201 ms\r\n"));
  EXPECT_EQ(F(TEXT("[%hs|%S|%ls]"), "narrow", "also", TEXT("wide")), TEXT("[narrow|also|wide]"));
  EXPECT_EQ(F(TEXT("%s"), static_cast<const WCHAR*>(nullptr)), TEXT("(null)"));
  EXPECT_EQ(F(TEXT("%c%hc%C"), WCHAR(0x20AC), 'a', 'b'), wstring(1, WCHAR(0x20AC)) + TEXT("ab"));
}

TEST(Formatter, NarrowBytesAreLatin1InWideText) {
  EXPECT_EQ(F(TEXT("%hs"), "\xE9t\xE9"), wstring({0xE9, 't', 0xE9}));
}

TEST(Formatter, IntegersOfEverySize) {
  EXPECT_EQ(F(TEXT("%d %i %u %x %X %o"), -42, 7, 4294967295u, 0xbeefu, 0xbeefu, 8u),
            TEXT("-42 7 4294967295 beef BEEF 10"));
  EXPECT_EQ(F(TEXT("%I64d %I64u %I64x"), -9000000000LL, 18446744073709551615ULL, 0x123456789abULL),
            TEXT("-9000000000 18446744073709551615 123456789ab"));
  EXPECT_EQ(F(TEXT("%lld %llu"), -1LL, 1ULL << 40), TEXT("-1 1099511627776"));
  // 'l' is 32-bit on every target, as on Windows.
  EXPECT_EQ(F(TEXT("%lu %ld %lx"), DWORD(4000000000u), LONG(-5), DWORD(255)), TEXT("4000000000 -5 ff"));
  EXPECT_EQ(F(TEXT("%hd %hu %hhx"), 70000, 70000, 0x1ff), TEXT("4464 4464 ff"));
  EXPECT_EQ(F(TEXT("%d"), INT32_MIN), TEXT("-2147483648"));
  EXPECT_EQ(F(TEXT("%I64d"), INT64_MIN), TEXT("-9223372036854775808"));
}

TEST(Formatter, FlagsWidthAndPrecision) {
  EXPECT_EQ(F(TEXT("%02u:%02u:%02u %02u"), 4u, 5u, 8u, 7u), TEXT("04:05:08 07"));
  EXPECT_EQ(F(TEXT("[%5d|%-5d|%05d|%+d|% d]"), 42, 42, -42, 42, 42), TEXT("[   42|42   |-0042|+42| 42]"));
  EXPECT_EQ(F(TEXT("[%.3d|%8.3x|%#x|%#o|%#X]"), 7, 10u, 255u, 8u, 0u), TEXT("[007|     00a|0xff|010|0]"));
  EXPECT_EQ(F(TEXT("[%*d|%-*d|%.*s]"), 4, 1, 3, 2, 2, TEXT("abcdef")), TEXT("[   1|2  |ab]"));
  EXPECT_EQ(F(TEXT("[%6s|%-6hs|%.2hs]"), TEXT("ab"), "cd", "xyz"), TEXT("[    ab|cd    |xy]"));
  EXPECT_EQ(F(TEXT("[%.0d]"), 0), TEXT("[]"));
}

TEST(Formatter, Doubles) {
  EXPECT_EQ(F(TEXT("%.1f %5.2f %g %e"), 99.95, 3.14159, 0.5, 1234.5), TEXT("100.0  3.14 0.5 1.234500e+03"));
}

TEST(Formatter, PointersArePaddedUpperCaseHex) {
  wstring s = F(TEXT("%p"), reinterpret_cast<void*>(0xABCu));
  EXPECT_EQ(s.size(), sizeof(void*) * 2);
  EXPECT_EQ(s.substr(s.size() - 3), TEXT("ABC"));
}

TEST(Formatter, PercentUnknownAndCutOffConversions) {
  EXPECT_EQ(F(TEXT("100%% %y %")), TEXT("100% %y %"));
  int n = 0;
  EXPECT_EQ(F(TEXT("a%nb"), &n), TEXT("ab"));
  EXPECT_EQ(n, 0);  // %n never writes
}

TEST(Formatter, CutsToTheBufferAndReportsTheWholeLength) {
  WCHAR buf[8];
  for (auto& c : buf) c = 'Z';
  EXPECT_EQ(plat::FormatW(buf, 5, TEXT("%s-%d"), TEXT("abc"), 12345), 9);
  EXPECT_EQ(wstring(buf), TEXT("abc-"));
  EXPECT_EQ(buf[5], WCHAR('Z'));  // nothing written beyond the buffer
  EXPECT_EQ(plat::FormatW(buf, 0, TEXT("xyz")), 3);
  EXPECT_EQ(buf[0], WCHAR('a'));
  wstring big = plat::FormatWS(TEXT("%0300d"), 1);
  EXPECT_EQ(big.size(), 300u);
  EXPECT_EQ(big.back(), WCHAR('1'));
}

TEST(Formatter, NarrowFormatWritesWideTextAsUtf8) {
  const WCHAR euro[] = {0x20AC, 0};
  EXPECT_EQ(plat::FormatAS("%s=%ls %S %5.1f", "k", euro, euro, 2.25), "k=\xE2\x82\xAC \xE2\x82\xAC   2.2");
}

}  // namespace
