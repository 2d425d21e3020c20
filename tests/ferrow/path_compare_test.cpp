// Comparing paths and containment: exact results, since callers sort by them.
#include "path_test_util.h"

namespace {

using pathtest::W;
using pathtest::wstring;

struct CompareCase {
  const char* a;
  const char* b;
  int result;
};

void PrintTo(const CompareCase& c, std::ostream* os) { *os << '"' << c.a << "\" vs \"" << c.b << '"'; }

class CompareTable : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareTable, ExactDifference) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(FU_PathCompare(W(c.a).c_str(), W(c.b).c_str()), c.result);
}

const CompareCase kCompares[] = {
    {R"(C:\Dir\File)", "c:/dir/file", 0},
    {R"(C:\dir)", R"(C:\dir\)", -'\\'},
    {R"(C:\dir/)", R"(C:\dir)", '/'},
    {"", "abc", -'a'},
    {"", "", 0},
    {"abc", "", 'a'},
    {"a", "B", 'A' - 'B'},
    {"b", "A", 'B' - 'A'},
    // Separators are folded to "/" before the difference is taken.
    {R"(a\)", "a0", '/' - '0'},
    {"a_", R"(a\)", '_' - '/'},
    // Only a..z change case.
    {"\xc3\xa9", "\xc3\x89", 0xe9 - 0xc9},
    {"x", "xYZ", -'Y'},
    {"xyz", "x", 'y'},
    {R"(C:\a\.\b)", R"(C:\a\b)", '.' - 'B'},
};
INSTANTIATE_TEST_SUITE_P(Paths, CompareTable, testing::ValuesIn(kCompares));

TEST(PathCompare, NullPaths) {
  const wstring a = W("a");
  EXPECT_EQ(FU_PathCompare(nullptr, nullptr), 0);
  EXPECT_EQ(FU_PathCompare(nullptr, a.c_str()), -1);
  EXPECT_EQ(FU_PathCompare(a.c_str(), nullptr), 1);
  EXPECT_EQ(FU_PathCompare(a.c_str(), a.c_str()), 0);
}

struct ContainCase {
  const char* path;
  const char* container;
  BOOL result;
};

void PrintTo(const ContainCase& c, std::ostream* os) { *os << '"' << c.path << "\" in \"" << c.container << '"'; }

class ContainTable : public testing::TestWithParam<ContainCase> {};

TEST_P(ContainTable, Result) {
  const ContainCase& c = GetParam();
  EXPECT_EQ(FU_IsPathContained(W(c.path).c_str(), W(c.container).c_str()), c.result);
}

const ContainCase kContains[] = {
    {R"(C:\dir\sub)", "c:/DIR", 1},
    {R"(C:\dir)", R"(C:\dir\sub)", 0},
    {R"(C:\dir)", R"(C:\dir)", 1},
    {R"(C:\directory)", R"(C:\dir)", 1},
    {R"(C:\dir)", "", 1},
    {"", "", 1},
    {"", "a", 0},
    {R"(C:\dix\sub)", R"(C:\dir)", 0},
};
INSTANTIATE_TEST_SUITE_P(Paths, ContainTable, testing::ValuesIn(kContains));

TEST(IsPathContained, NullPaths) {
  const wstring a = W("a");
  EXPECT_EQ(FU_IsPathContained(nullptr, nullptr), 1);
  EXPECT_EQ(FU_IsPathContained(nullptr, a.c_str()), 0);
  EXPECT_EQ(FU_IsPathContained(a.c_str(), nullptr), 0);
}

}  // namespace
