// The wildcard matchers: one table, each row with the case-blind and the exact answer.
#include <ostream>

#include "ferrow.h"
#include "support/support.h"

namespace {

using plat::wstring;

struct WildcardCase {
  const char* pattern;
  const char* name;
  bool icmp;
  bool cmp;
};

std::ostream& operator<<(std::ostream& os, const WildcardCase& c) {
  return os << "'" << c.pattern << "' against '" << c.name << "'";
}

class Wildcard : public ::testing::TestWithParam<WildcardCase> {};

TEST_P(Wildcard, MatchesAsTheWalkWithoutBacktrackingSays) {
  const WildcardCase& c = GetParam();
  wstring pattern = plat::Wide(c.pattern), name = plat::Wide(c.name);
  EXPECT_EQ(FU_wildcard_icmp(pattern.c_str(), name.c_str()), c.icmp ? 1 : 0);
  EXPECT_EQ(FU_wildcard_cmp(pattern.c_str(), name.c_str()), c.cmp ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Table, Wildcard, ::testing::Values(
    // plain characters and case
    WildcardCase{"", "", true, true},
    WildcardCase{"", "a", false, false},
    WildcardCase{"abc", "ab", false, false},
    WildcardCase{"A*", "a", true, false},
    WildcardCase{"*.TXT", "a.txt", true, false},
    WildcardCase{"\xC3\xA9", "\xC3\x89", false, false},  // only a..z change case
    // "?"
    WildcardCase{"a?c", "ABC", true, false},
    WildcardCase{"a?c", "abc", true, true},
    WildcardCase{"a?c", "AC", false, false},
    WildcardCase{"?", "", false, false},
    // "*": the first occurrence, never revised
    WildcardCase{"*", "", true, true},
    WildcardCase{"*", "any.thing", true, true},
    WildcardCase{"abc*", "abc", true, true},
    WildcardCase{"*.txt", "a.b.txt", false, false},
    WildcardCase{"a*c", "abcbc", false, false},
    WildcardCase{"*a", "bab", false, false},
    WildcardCase{"*.*", "a.b.c", true, true},
    WildcardCase{"x*y*z", "xAyBz", true, true},
    // the character behind "*" is literal
    WildcardCase{"*?", "ab?", true, true},
    WildcardCase{"*?", "abc", false, false},
    WildcardCase{"**", "a*", true, true},
    WildcardCase{"**", "a*b", false, false},
    // a name that ends while "*" looks: ".", "*" and ".*" still match, case-blind only
    WildcardCase{"*.*", "README", true, false},
    WildcardCase{"*.*", "", true, false},
    WildcardCase{"*.", "README", true, false},
    WildcardCase{"*.", "a.b", false, false},
    WildcardCase{"**", "anything", true, false},
    WildcardCase{"a*.*", "abc", true, false},
    WildcardCase{"*.*.*", "abc", false, false},
    WildcardCase{"*x*", "abc", false, false},
    WildcardCase{"*.*x", "abc", false, false}));

TEST(WildcardArguments, NullAndUnreadableStringsDoNotMatch) {
  EXPECT_EQ(FU_wildcard_icmp(nullptr, TEXT("a")), 0);
  EXPECT_EQ(FU_wildcard_icmp(TEXT("*"), nullptr), 0);
  EXPECT_EQ(FU_wildcard_cmp(nullptr, nullptr), 0);
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  const WCHAR* bad = static_cast<const WCHAR*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(FU_wildcard_icmp(bad, TEXT("a")), 0);
  EXPECT_EQ(FU_wildcard_cmp(TEXT("a*"), bad), 0);
  VirtualFree(const_cast<WCHAR*>(bad), 0, MEM_RELEASE);
}

}  // namespace
