#include "support/support.h"

namespace {

using plat::wstring;

TEST(Text, UpperCaseChangesOnlyAsciiLetters) {
  EXPECT_EQ(plat::WUpper('a'), WCHAR('A'));
  EXPECT_EQ(plat::WUpper('z'), WCHAR('Z'));
  EXPECT_EQ(plat::WUpper('{'), WCHAR('{'));
  EXPECT_EQ(plat::WUpper(0xE9), WCHAR(0xE9));
  EXPECT_EQ(plat::AUpper('q'), 'Q');
  EXPECT_EQ(plat::AUpper('\xE9'), '\xE9');
}

TEST(Text, CopyAndAppendNeverPassTheBuffer) {
  WCHAR buf[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_TRUE(plat::WCopy(buf, 6, TEXT("abcde")));
  EXPECT_EQ(wstring(buf), TEXT("abcde"));
  EXPECT_FALSE(plat::WCopy(buf, 3, TEXT("abcde")));
  EXPECT_EQ(wstring(buf), TEXT("ab"));
  EXPECT_EQ(buf[3], WCHAR('d'));
  EXPECT_TRUE(plat::WCopy(buf, 6, TEXT("ab")));
  EXPECT_TRUE(plat::WAppend(buf, 6, TEXT("cde")));
  EXPECT_FALSE(plat::WAppend(buf, 6, TEXT("f")));
  EXPECT_EQ(wstring(buf), TEXT("abcde"));
  EXPECT_LT(plat::WCmp(TEXT("ab"), TEXT("abc")), 0);
  EXPECT_EQ(plat::WCmp(TEXT("abc"), TEXT("abc")), 0);
}

TEST(Text, Utf8RoundTripsEveryPlane) {
  wstring w = {'a', 0xE9, 0x20AC, 0xD83C, 0xDFAC, 0};
  w.pop_back();
  std::string u = plat::Utf8(w);
  EXPECT_EQ(u, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC");
  EXPECT_EQ(plat::Wide(u), w);
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
  wstring lone = {0xD800, 'x'};
  EXPECT_EQ(plat::Utf8(lone), "\xEF\xBF\xBDx");
  EXPECT_EQ(plat::Wide("\xC3"), wstring(1, WCHAR(0xFFFD)));
  EXPECT_EQ(plat::Wide("\xE0\x80\x80z"), (wstring{0xFFFD, 0xFFFD, 0xFFFD, 'z'}));  // overlong
  EXPECT_EQ(plat::Wide("\xED\xA0\x80"), (wstring{0xFFFD, 0xFFFD, 0xFFFD}));       // encoded surrogate
}

}  // namespace
