// Decorated export names and their readable forms, rule by rule, and the
// bounds: at most 255 bytes of the name are read, at most 255 characters and
// a terminator written, the name never changed.
#include <cstring>

#include "dravel_test.h"

namespace {

struct Case {
  const char* name;
  const char* text;
  BOOL result;
};

class ExportName : public ::testing::TestWithParam<Case> {};

TEST_P(ExportName, ReadsAsExpected) {
  const Case& c = GetParam();
  char text[256];
  std::memset(text, 'Z', sizeof text);
  EXPECT_EQ(TranslateExportedName(c.name, text), c.result) << c.name;
  EXPECT_STREQ(text, c.text) << c.name;
}

const Case kCases[] = {
    // The standard and C calling conventions: the last @ splits name and bytes.
    {"_Sleep@4", "__stdcall Sleep(4 byte(s))", 1},
    {"_main", "__cdecl main", 1},
    {"_Two@Parts@12", "__stdcall Two@Parts(12 byte(s))", 1},
    {"_NoBytes@", "__stdcall NoBytes( byte(s))", 1},
    {"_", "__cdecl ", 1},
    // Anything else that is no member: the Pascal convention.
    {"Export1", "pascal Export1", 1},
    {"Sleep@4", "pascal Sleep@4", 1},
    {"", "pascal ", 1},
    {"Gr\xfc\xdf", "pascal Gr\xfc\xdf", 1},
    // Members: ?member@class@@..., static data when a digit follows the @@.
    {"?Run@CFoo@@QAEHXZ", "CFoo::Run(...)", 1},
    {"?count@CFoo@@2HA", "static CFoo::count", 1},
    {"?Init@@YAXXZ", "::Init(...)", 1},
    {"?Get@Inner@Outer@@QAEHXZ", "Inner@Outer::Get(...)", 1},
    {"?x@@", "::x(...)", 1},
    {"?count@@3HA", "static ::count", 1},
    {"?Run@CFoo", "?Run@CFoo", 0},
    {"?", "?", 0},
    // Compiler-made members: the class from the fifth character up to the first @.
    {"??_7CFoo@@6B@", "CFoo::(MS C++ internal)", 1},
    {"??_GCFoo@@UAEPAXI@Z", "CFoo::(MS C++ internal)", 1},
    {"??_R0?AVCFoo@@@8", "0?AVCFoo::(MS C++ internal)", 1},
    {"??_@x", "::(MS C++ internal)", 1},
    {"??_7CFoo", "??_7CFoo", 0},
    // Special members by their code.
    {"??0CFoo@@QAE@XZ", "CFoo::CFoo()", 1},
    {"??0CFoo@@QAE@ABV0@@Z", "CFoo::CFoo(CFoo &)", 1},
    {"??0CFoo@@QAE@PBG@Z", "CFoo::CFoo(QAE)", 1},
    {"??0CFoo@@QAE@ABV1@@Z", "CFoo::CFoo(QAE)", 1},
    {"??0CFoo@@QAE", "??0CFoo@@QAE", 0},
    {"??1CFoo@@QAE@XZ", "CFoo::~CFoo()", 1},
    {"??1CFoo@@", "CFoo::~CFoo()", 1},
    {"??2CFoo@@SAPAXI@Z", "CFoo::operator new(SAPAXI)", 1},
    {"??2CFoo@@SAPAXI", "??2CFoo@@SAPAXI", 0},
    {"??3CFoo@@SAXPAX@Z", "CFoo::operator delete(SAXPAX)", 1},
    {"??3CFoo@@", "??3CFoo@@", 0},
    {"??4CFoo@@QAEAAV0@ABV0@@Z", "CFoo::operator =", 1},
    {"??HCFoo@@QAE?AV0@ABV0@@Z", "CFoo::operator (type unknown)", 1},
    {"??@@X", "::operator (type unknown)", 1},
    {"??0CFoo", "??0CFoo", 0},
    {"??", "??", 0},
};

INSTANTIATE_TEST_SUITE_P(Rules, ExportName, ::testing::ValuesIn(kCases));

TEST(ExportNameBounds, NullPointersGiveNothing) {
  char text[256] = "old";
  EXPECT_FALSE(TranslateExportedName(nullptr, text));
  EXPECT_STREQ(text, "");
  EXPECT_FALSE(TranslateExportedName("_main", nullptr));
}

// A name of `length` bytes, its terminator the last of them or none at all,
// ending where memory ends and read-only; the 256 bytes of output end there too.
struct EdgeCase {
  size_t length;
  bool terminated;
  const char* lead;  // the name's first bytes; the rest is 'A'
  size_t textLength;
  BOOL result;
};

class ExportNameEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(ExportNameEdge, StaysWithinBothBuffers) {
  const EdgeCase& c = GetParam();
  dravel_test::EdgeBuffer in(c.length), out(256);
  std::memset(in.data(), 'A', c.length);
  std::memcpy(in.data(), c.lead, std::strlen(c.lead));
  if (c.terminated) in.data()[c.length - 1] = 0;
  const std::string name(in.data(), c.length);
  in.ReadOnly();
  EXPECT_EQ(TranslateExportedName(in.data(), out.data()), c.result);
  const std::string text(out.data());
  EXPECT_EQ(text.size(), c.textLength);
  EXPECT_EQ(std::string(in.data(), c.length), name);
  if (!c.result) {
    EXPECT_EQ(text, name.substr(0, 255));  // the first 255 bytes, unchanged
  }
}

INSTANTIATE_TEST_SUITE_P(Bounds, ExportNameEdge,
                         ::testing::Values(EdgeCase{255, false, "??0", 255, 0},  // no "@@": copied as it is
                                           EdgeCase{256, false, "??0", 255, 0},  // the 256th byte is never read
                                           EdgeCase{249, true, "pl", 255, 1},    // "pascal " and 248 bytes: just fits
                                           EdgeCase{250, true, "pl", 255, 1},    // one more: cut
                                           EdgeCase{255, false, "pl", 255, 1},
                                           EdgeCase{256, false, "_", 255, 1}));

TEST(ExportNameBounds, RulesThatRepeatTheClassAreCut) {
  const std::string owner(120, 'C');
  const std::string name = "??0" + owner + "@@QAE@ABV0@@Z";
  dravel_test::EdgeBuffer out(256);
  EXPECT_TRUE(TranslateExportedName(name.c_str(), out.data()));
  const std::string whole = owner + "::" + owner + "(" + owner + " &)";
  EXPECT_EQ(std::string(out.data()), whole.substr(0, 255));
}

TEST(ExportNameBounds, LongNamesAreCutAt255Bytes) {
  const std::string name = "_" + std::string(300, 'f') + "@16";
  char text[256];
  EXPECT_TRUE(TranslateExportedName(name.c_str(), text));
  // The copy ends before the "@16": the name has no @ within its first 255 bytes.
  EXPECT_EQ(std::string(text), "__cdecl " + std::string(247, 'f'));
}

}  // namespace
