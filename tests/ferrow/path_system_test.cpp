// The path functions that ask the system: unique names against real files,
// and the network names of drives (no drive here is mapped to a share).
#include <regex>

#include "path_test_util.h"

namespace {

using pathtest::W;
using pathtest::wstring;
using testsupport::TempDir;

bool Exists(const wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD LowSystemTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return now.dwLowDateTime;
}

TEST(CreateUniqueName, AFreeNameStaysAsItIs) {
  TempDir dir;
  WCHAR path[MAX_PATH];
  plat::WCopy(path, MAX_PATH, dir.Wide("report.txt").c_str());
  EXPECT_EQ(FU_CreateUniqueName(path), 1);
  EXPECT_EQ(path, dir.Wide("report.txt"));
}

TEST(CreateUniqueName, AnExistingNameGetsTheClockAsHexBeforeTheExtension) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "report.tar.gz", "x");
  WCHAR path[MAX_PATH];
  plat::WCopy(path, MAX_PATH, dir.Wide("report.tar.gz").c_str());
  const DWORD before = LowSystemTime();
  EXPECT_EQ(FU_CreateUniqueName(path), 1);
  const DWORD after = LowSystemTime();

  const std::string name = plat::Utf8(FU_FindFilenameC(path));
  std::smatch m;
  ASSERT_TRUE(std::regex_match(name, m, std::regex("report\\.tar([0-9a-f]{1,8})\\.gz"))) << name;
  EXPECT_NE(m[1].str()[0], '0') << "no leading zeros";
  const DWORD counter = static_cast<DWORD>(std::stoul(m[1].str(), nullptr, 16));
  EXPECT_LE(counter - before, after - before) << "the counter comes from the clock at the call";
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(plat::WCmp(path, dir.Wide(plat::Wide(name)).c_str()), 0);
}

TEST(CreateUniqueName, NamesWithoutExtensionOrFileAreRefused) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "name", "x");
  const wstring cases[] = {dir.Wide("name"), dir.Wide("missing"), dir.Wide() + W("\\"), W("a<b.txt")};
  for (const wstring& c : cases) {
    WCHAR path[MAX_PATH];
    plat::WCopy(path, MAX_PATH, c.c_str());
    EXPECT_EQ(FU_CreateUniqueName(path), 0) << plat::Utf8(c);
    EXPECT_EQ(path, c);
  }
  EXPECT_EQ(FU_CreateUniqueName(nullptr), 0);
}

TEST(CreateUniqueName, ExtensionsUpTo63CharactersIncludingTheDot) {
  TempDir dir;
  const std::string ext63 = "." + std::string(62, 'e');
  const std::string ext64 = "." + std::string(63, 'e');
  testsupport::WriteBytes(dir.path() / ("a" + ext63), "x");
  testsupport::WriteBytes(dir.path() / ("a" + ext64), "x");

  WCHAR path[MAX_PATH];
  plat::WCopy(path, MAX_PATH, dir.Wide(("a" + ext64).c_str()).c_str());
  EXPECT_EQ(FU_CreateUniqueName(path), 0);
  EXPECT_EQ(path, dir.Wide(("a" + ext64).c_str()));

  plat::WCopy(path, MAX_PATH, dir.Wide(("a" + ext63).c_str()).c_str());
  EXPECT_EQ(FU_CreateUniqueName(path), 1);
  const std::string name = plat::Utf8(FU_FindFilenameC(path));
  EXPECT_TRUE(std::regex_match(name, std::regex("a[0-9a-f]{1,8}\\" + ext63))) << name;
  EXPECT_FALSE(Exists(path));
}

TEST(NetworkNames, LocalAndUnknownDrivesHaveNone) {
  WCHAR out[MAX_PATH];
  for (DWORD letter : {DWORD('C'), DWORD('c'), DWORD('1'), DWORD(0), DWORD(0x10043)}) {
    plat::WCopy(out, MAX_PATH, W("junk").c_str());
    EXPECT_EQ(FU_GetDriveUNCReplacement(letter, out), 0) << letter;
    EXPECT_EQ(out[0], 0);
  }
  EXPECT_EQ(FU_GetDriveUNCReplacement('C', nullptr), 0);
}

struct MappedCase {
  const char* path;
  int flag;
  BOOL result;
};

void PrintTo(const MappedCase& c, std::ostream* os) { *os << '"' << c.path << "\" flag " << c.flag; }

class MappedTable : public testing::TestWithParam<MappedCase> {};

TEST_P(MappedTable, ResultAndPathUnchanged) {
  const MappedCase& c = GetParam();
  WCHAR path[MAX_PATH];
  plat::WCopy(path, MAX_PATH, W(c.path).c_str());
  EXPECT_EQ(FU_UNCFormatMappedPath(path, c.flag), c.result);
  EXPECT_EQ(plat::Utf8(path), c.path);
}

const MappedCase kMapped[] = {
    {R"(\\server\share\f)", 1, 1},  // already a network path
    {"media://server/f", 1, 1},     // a protocol, not a drive
    {R"(dir\f)", 1, 1},             // no drive
    {R"(C:\dir\f.txt)", 1, 0},      // a local drive
    {R"(c:\dir)", 0, 0},
    {"C:", 0, 0},                   // no local part
    {R"(\\server)", 0, 0},
    {R"(C:\dir\)", 1, 0},           // no file
};
INSTANTIATE_TEST_SUITE_P(Paths, MappedTable, testing::ValuesIn(kMapped));

}  // namespace
