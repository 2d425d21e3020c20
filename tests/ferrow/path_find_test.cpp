// The find functions, the plain scans, and copying components out by index.
#include "path_test_util.h"

namespace {

using pathtest::Text;
using pathtest::W;
using pathtest::wstring;

TEST(FindFunctions, ReturnTheirFieldOrNull) {
  wstring path = W("media://server/clips/take1.avi");
  WCHAR* s = &path[0];
  EXPECT_EQ(FU_FindProtocol(s, 1), s);
  EXPECT_EQ(FU_FindProtocolC(s, 0), s);
  EXPECT_EQ(FU_FindHost(s, 1), s + 6);
  EXPECT_EQ(FU_FindHostC(s, 0), s + 6);
  EXPECT_EQ(FU_FindLocalInfo(s, 1), s + 14);
  EXPECT_EQ(FU_FindLocalInfoC(s, 0), s + 14);
  EXPECT_EQ(FU_FindFilename(s), s + 21);
  EXPECT_EQ(FU_FindFilenameC(s), s + 21);
  EXPECT_EQ(FU_FindExtension(s), s + 26);
  EXPECT_EQ(FU_FindExtensionC(s), s + 26);

  // Absent components and failed parses alike give NULL; the flag decides.
  wstring host = W("media://server");
  EXPECT_EQ(FU_FindHost(&host[0], 0), &host[6]);
  EXPECT_EQ(FU_FindHost(&host[0], 1), nullptr);
  EXPECT_EQ(FU_FindLocalInfo(&host[0], 0), nullptr);
  wstring plain = W("file");
  EXPECT_EQ(FU_FindExtension(&plain[0]), nullptr);
  EXPECT_EQ(FU_FindProtocolC(plain.c_str(), 1), nullptr);
  EXPECT_EQ(FU_FindFilenameC(nullptr), nullptr);
}

TEST(FindFunctions, FileNameOfABareDriveIsTheTerminator) {
  wstring path = W("C:");
  EXPECT_EQ(FU_FindFilename(&path[0]), &path[2]);
}

TEST(FindFunctions, CuttingAtTheFileNameLeavesTheDirectory) {
  wstring path = W(R"(\\server\share\settings.dat)");
  WCHAR* name = FU_FindFilename(&path[0]);
  ASSERT_NE(name, nullptr);
  const WCHAR saved = *name;
  *name = 0;
  EXPECT_EQ(plat::Utf8(path.c_str()), R"(\\server\share\)");
  *name = saved;
  EXPECT_EQ(Text(name, nullptr), "settings.dat");
}

TEST(Scans, LastSeparatorCountsColons) {
  const wstring a = W("C:file"), b = W("file"), c = W(R"(a\b/c:d)"), d = W("");
  EXPECT_EQ(FU_FindLastSeparatorC(a.c_str()), a.c_str() + 1);
  EXPECT_EQ(FU_FindLastSeparatorC(b.c_str()), nullptr);
  EXPECT_EQ(FU_FindLastSeparatorC(c.c_str()), c.c_str() + 5);
  EXPECT_EQ(FU_FindLastSeparatorC(d.c_str()), nullptr);
  EXPECT_EQ(FU_FindLastSeparatorC(nullptr), nullptr);
  wstring e = W(R"(x\y/z)");
  EXPECT_EQ(FU_FindLastSeparator(&e[0]), &e[3]);
}

TEST(Scans, NextSlashStartsAtItsOwnCharacter) {
  const wstring a = W(R"(ab/c\d)");
  const WCHAR* s = a.c_str();
  EXPECT_EQ(FU_FindNextSlash(s), s + 2);
  EXPECT_EQ(FU_FindNextSlash(s + 2), s + 2);
  EXPECT_EQ(FU_FindNextSlash(s + 3), s + 4);
  EXPECT_EQ(FU_FindNextSlash(s + 5), nullptr);
  EXPECT_EQ(FU_FindNextSlash(W("a:b").c_str()), nullptr);
  EXPECT_EQ(FU_FindNextSlash(nullptr), nullptr);
}

// ---- components by index ----

struct ComponentCase {
  const char* path;
  UINT index;
  BOOL result;
  const char* out;  // what out holds afterwards; it starts as "untouched"
};

void PrintTo(const ComponentCase& c, std::ostream* os) { *os << '"' << c.path << "\" #" << c.index; }

const ComponentCase kComponents[] = {
    {R"(\\?\C:\dir\file.txt)", 0, 1, ""},
    {R"(\\?\C:\dir\file.txt)", 1, 1, R"(\\?\)"},
    {R"(\\?\C:\dir\file.txt)", 2, 1, "C:"},
    {R"(\\?\C:\dir\file.txt)", 3, 0, ""},
    {R"(\\?\C:\dir\file.txt)", 4, 1, R"(\dir\)"},
    {R"(\\?\C:\dir\file.txt)", 5, 1, "file"},
    {R"(\\?\C:\dir\file.txt)", 6, 1, ".txt"},
    {R"(\\?\C:\dir\file.txt)", 7, 0, "untouched"},
    {R"(\\?\C:\dir\file.txt)", 0xFFFFFFFFu, 0, "untouched"},
    {"media://server/clips/take1.avi", 1, 0, ""},
    {"media://server/clips/take1.avi", 2, 1, "media:"},
    {"media://server/clips/take1.avi", 3, 1, "//server"},
    {"media://server/clips/take1.avi", 4, 1, "/clips/"},
    {"file", 4, 0, ""},
    {"file", 5, 1, "file"},
    {"file", 6, 0, ""},
    {"C:", 5, 1, ""},
    {R"(dir\.txt)", 5, 1, ""},
    {R"(dir\.txt)", 6, 1, ".txt"},
};

class ComponentTable : public testing::TestWithParam<ComponentCase> {};

TEST_P(ComponentTable, FromARecordAndFromAPath) {
  const ComponentCase& c = GetParam();
  const wstring path = W(c.path);
  FU_PathParts parts;
  ASSERT_EQ(FU_ParsePath(path.c_str(), &parts, 1), 1);

  WCHAR out[64];
  plat::WCopy(out, 64, W("untouched").c_str());
  EXPECT_EQ(FU_GetComponent(&parts, out, c.index), c.result);
  EXPECT_EQ(plat::Utf8(out), c.out);

  plat::WCopy(out, 64, W("untouched").c_str());
  EXPECT_EQ(FU_GetPathComponent(path.c_str(), out, c.index, 0x12345678), c.result);
  EXPECT_EQ(plat::Utf8(out), c.out);
}
INSTANTIATE_TEST_SUITE_P(Indexes, ComponentTable, testing::ValuesIn(kComponents));

TEST(GetPathComponent, PathThatIsNoFileGivesZeroAndLeavesOut) {
  WCHAR out[16];
  plat::WCopy(out, 16, W("keep").c_str());
  EXPECT_EQ(FU_GetPathComponent(W(R"(C:\dir\)").c_str(), out, 0, 0), 0);
  EXPECT_EQ(FU_GetPathComponent(W("x<y").c_str(), out, 2, 0), 0);
  EXPECT_EQ(FU_GetPathComponent(nullptr, out, 5, 0), 0);
  EXPECT_EQ(plat::Utf8(out), "keep");
}

TEST(GetComponent, CopiesExactlyTheComponentAndItsTerminator) {
  const wstring path = W(R"(C:\dir\file.txt)");
  FU_PathParts parts;
  ASSERT_EQ(FU_ParsePath(path.c_str(), &parts, 1), 1);
  WCHAR out[8];
  for (WCHAR& ch : out) ch = '#';
  EXPECT_EQ(FU_GetComponent(&parts, out, 5), 1);
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], '#');
}

}  // namespace
