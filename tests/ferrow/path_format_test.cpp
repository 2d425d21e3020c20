// Rewriting paths in place: each row gives the path before, the call, the
// result and the path after.
#include "path_test_util.h"

namespace {

using pathtest::W;
using pathtest::wstring;

struct RewriteCase {
  const char* name;
  const char* before;
  BOOL (*call)(WCHAR* path);
  BOOL result;
  const char* after;
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name << " \"" << c.before << '"'; }

class RewriteTable : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTable, ResultAndPath) {
  const RewriteCase& c = GetParam();
  WCHAR buffer[MAX_PATH];
  plat::WCopy(buffer, MAX_PATH, W(c.before).c_str());
  EXPECT_EQ(c.call(buffer), c.result);
  EXPECT_EQ(plat::Utf8(buffer), c.after);
}

template <WCHAR kSeparator>
BOOL Slashes(WCHAR* p) { return FU_FormatSlashes(p, kSeparator) == p; }
template <WCHAR kSeparator>
BOOL Format(WCHAR* p) { return FU_FormatPath(p, kSeparator) == p; }
template <int kFlag>
BOOL Strip(WCHAR* p) { return FU_StripToRootPathName(p, kFlag); }
template <int kFlag>
BOOL Validate(WCHAR* p) { return FU_ValidatePath(p, kFlag); }
BOOL RemoveExtension(WCHAR* p) { return FU_RemoveExtension(p); }
BOOL RemoveFilename(WCHAR* p) { return FU_RemoveFilename(p); }

const RewriteCase kRewrites[] = {
    {"FormatSlashes /", R"(C:\a/b\\c)", Slashes<'/'>, 1, "C:/a/b//c"},
    {"FormatSlashes \\", R"(//a\b/)", Slashes<'\\'>, 1, R"(\\a\b\)"},
    {"FormatSlashes x", R"(C:\a/b)", Slashes<'x'>, 1, R"(C:\a/b)"},
    {"FormatSlashes 0", R"(C:\a/b)", Slashes<0>, 1, R"(C:\a/b)"},
    {"FormatSlashes", "", Slashes<'/'>, 1, ""},

    {"FormatPath \\", R"(C:\dir)", Format<'\\'>, 1, R"(C:\dir\)"},
    {"FormatPath 0", R"(C:\dir\)", Format<0>, 1, R"(C:\dir)"},
    {"FormatPath /", R"(C:\dir\)", Format<'/'>, 1, "C:\\dir/"},
    {"FormatPath \\", R"(C:\dir   )", Format<'\\'>, 1, R"(C:\dir\)"},
    {"FormatPath 0", R"(C:\dir)", Format<0>, 1, R"(C:\dir)"},
    {"FormatPath 0", R"(C:\dir   )", Format<0>, 1, R"(C:\dir   )"},
    {"FormatPath 0", R"(C:\dir\  )", Format<0>, 1, R"(C:\dir)"},
    {"FormatPath /", R"(C:\dir\  )", Format<'/'>, 1, "C:\\dir/  "},
    {"FormatPath \\", "/", Format<'\\'>, 1, "\\"},
    {"FormatPath 0", "/", Format<0>, 1, ""},
    {"FormatPath \\", "   ", Format<'\\'>, 1, " \\"},
    {"FormatPath 0", "   ", Format<0>, 1, "   "},
    {"FormatPath \\", "", Format<'\\'>, 1, ""},
    {"FormatPath \\", " x ", Format<'\\'>, 1, " x\\"},

    {"RemoveExtension", R"(C:\dir\file.txt)", RemoveExtension, 1, R"(C:\dir\file)"},
    {"RemoveExtension", R"(C:\dir\f.tar.gz)", RemoveExtension, 1, R"(C:\dir\f.tar)"},
    {"RemoveExtension", R"(C:\a.b\file)", RemoveExtension, 1, R"(C:\a.b\file)"},
    {"RemoveExtension", R"(C:\dir\)", RemoveExtension, 0, R"(C:\dir\)"},
    {"RemoveExtension", ".txt", RemoveExtension, 0, ".txt"},
    {"RemoveFilename", R"(C:\dir\file.txt)", RemoveFilename, 1, R"(C:\dir\)"},
    {"RemoveFilename", "file.txt", RemoveFilename, 1, ""},
    {"RemoveFilename", "C:file.txt", RemoveFilename, 1, "C:"},
    {"RemoveFilename", R"(\\server)", RemoveFilename, 0, R"(\\server)"},

    {"StripToRoot 0", R"(C:\a\b)", Strip<0>, 1, "C:"},
    {"StripToRoot 1", R"(\\?\C:\a\b.txt)", Strip<1>, 1, R"(\\?\C:)"},
    {"StripToRoot 0", R"(\\server\share\a)", Strip<0>, 1, R"(\\server)"},
    {"StripToRoot 1", "media://server/dir/f", Strip<1>, 1, "media://server"},
    {"StripToRoot 0", "media://server", Strip<0>, 0, "media://server"},
    {"StripToRoot 0", R"(a\b)", Strip<0>, 0, R"(a\b)"},
    {"StripToRoot 0", R"(\\?\UNC\server\share)", Strip<0>, 0, R"(\\?\UNC\server\share)"},
    {"StripToRoot 1", R"(C:\a\)", Strip<1>, 0, R"(C:\a\)"},

    {"ValidatePath 1", R"(C:\a:b*c.txt)", Validate<1>, 1, R"(C:\a_b_c.txt)"},
    {"ValidatePath 0", R"(C:a?b"c<d>e|f*:g)", Validate<0>, 1, "C:a_b_c_d_e_f__g"},
    {"ValidatePath 0", "x::", Validate<0>, 1, "x:_"},
    {"ValidatePath 0", "ab:c:", Validate<0>, 0, "ab:c_"},
    {"ValidatePath 1", R"(C:\dir\)", Validate<1>, 0, R"(C:\dir\)"},
    {"ValidatePath 0", "a\tb?", Validate<0>, 0, "a\tb_"},
    {"ValidatePath 0", "", Validate<0>, 0, ""},
};
INSTANTIATE_TEST_SUITE_P(Functions, RewriteTable, testing::ValuesIn(kRewrites));

TEST(FormatPath, NullPathGivesNull) {
  EXPECT_EQ(FU_FormatPath(nullptr, '\\'), nullptr);
  EXPECT_EQ(FU_FormatSlashes(nullptr, '\\'), nullptr);
  EXPECT_EQ(FU_ValidatePath(nullptr, 0), 0);
  EXPECT_EQ(FU_RemoveExtension(nullptr), 0);
  EXPECT_EQ(FU_StripToRootPathName(nullptr, 0), 0);
}

TEST(FormatPath, WritesAtMostOneCharacterPastThePath) {
  WCHAR buffer[8];
  for (WCHAR& c : buffer) c = '#';
  plat::WCopy(buffer, 8, W("a  ").c_str());
  FU_FormatPath(buffer, '/');
  EXPECT_EQ(plat::Utf8(buffer), "a/");
  EXPECT_EQ(buffer[4], '#');
  plat::WCopy(buffer, 8, W("abc").c_str());
  FU_FormatPath(buffer, '/');
  EXPECT_EQ(plat::Utf8(buffer), "abc/");
  EXPECT_EQ(buffer[5], '#');
}

struct NameCase {
  const char* name;
  BOOL valid;
};
class NameTable : public testing::TestWithParam<NameCase> {};
TEST_P(NameTable, Validity) { EXPECT_EQ(FU_IsValidName(W(GetParam().name).c_str()), GetParam().valid); }
const NameCase kNames[] = {
    {"a*b", 1}, {"", 1},     {" .x. ", 1}, {"a?b", 0}, {"a/b", 0}, {R"(a\b)", 0},
    {"C:", 0},  {"\"q\"", 0}, {"<", 0},    {">", 0},   {"|", 0},
};
INSTANTIATE_TEST_SUITE_P(Names, NameTable, testing::ValuesIn(kNames));

TEST(IsValidName, NullIsNoName) { EXPECT_EQ(FU_IsValidName(nullptr), 0); }

}  // namespace
