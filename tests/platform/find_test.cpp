// Directory searches and the Windows wildcard rules. Each case passes natively
// and under Wine. (Wine also matches short 8.3 names, so that "*.txt" finds
// "a.txtx" there; the names below keep clear of that.)
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "files.h"

namespace {

namespace fs = std::filesystem;
using namespace fstest;
using testsupport::TempDir;
using testsupport::WriteBytes;

// Every name a search finds, in its order; empty with the error set when none.
std::vector<std::string> Search(const wstring& pattern, DWORD* error = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  SetLastError(0);
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return names;
  }
  do names.push_back(plat::Utf8(data.cFileName));
  while (FindNextFileW(h, &data));
  if (error) *error = GetLastError();
  FindClose(h);
  return names;
}

class Patterns : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"abc", "ac", "abbc", "README", "a.txt", "b.TXT", "a.b.txt", "ab"})
      WriteBytes(dir_.path() / name, name);
    fs::create_directory(dir_.path() / "sub");
    WriteBytes(dir_.path() / "sub" / "inner.txt", "not listed");
  }
  std::vector<std::string> Sorted(const char* pattern, DWORD* error = nullptr) {
    std::vector<std::string> names = Search(dir_.Wide(plat::Wide(pattern)), error);
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir dir_;
};

struct PatternCase {
  const char* pattern;
  std::vector<std::string> names;  // sorted byte-wise
};

class PatternMatch : public Patterns, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(PatternMatch, FindsExactlyTheseNames) {
  DWORD error = 0;
  EXPECT_EQ(Sorted(GetParam().pattern, &error), GetParam().names);
  EXPECT_EQ(error, DWORD(ERROR_NO_MORE_FILES));
}

const std::vector<std::string> kEverything = {".", "..", "README", "a.b.txt", "a.txt", "ab", "abbc", "abc", "ac",
                                              "b.TXT", "sub"};

INSTANTIATE_TEST_SUITE_P(
    Find, PatternMatch,
    ::testing::Values(PatternCase{"*", kEverything},
                      PatternCase{"*.*", kEverything},  // names without a dot too
                      PatternCase{"a?c", {"abc"}},
                      PatternCase{"ab?", {"abc"}},  // exactly one character
                      PatternCase{"*.txt", {"a.b.txt", "a.txt", "b.TXT"}},
                      PatternCase{"*.TXT", {"a.b.txt", "a.txt", "b.TXT"}},
                      PatternCase{"a*c", {"abbc", "abc", "ac"}},
                      PatternCase{"*c", {"abbc", "abc", "ac"}},
                      PatternCase{"ab.*", {"ab"}},  // the extension may be absent
                      PatternCase{"readme", {"README"}},
                      PatternCase{"a.txt", {"a.txt"}},
                      PatternCase{"sub", {"sub"}}),
    [](const ::testing::TestParamInfo<PatternCase>& info) { return "Case" + std::to_string(info.index); });

TEST_F(Patterns, DotEntriesComeFirst) {
  std::vector<std::string> names = Search(dir_.Wide("*"));
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
}

TEST_F(Patterns, NothingFoundTellsAMissingNameFromAMissingDirectory) {
  DWORD error = 0;
  EXPECT_TRUE(Sorted("nomatch*", &error).empty());
  EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Sorted("missing.txt", &error).empty());
  EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Search(dir_.Wide(TEXT("nodir\\*")), &error).empty());
  EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Search(dir_.Wide(TEXT("nodir\\x.txt")), &error).empty());
  EXPECT_EQ(error, DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Search(dir_.Wide() + TEXT("\\"), &error).empty());  // a directory with a separator names no entry
  EXPECT_EQ(error, DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Patterns, APlainDirectoryPathFindsTheDirectoryItself) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(dir_.Wide().c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(testsupport::W(dir_.path().filename()), wstring(data.cFileName));
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Find, RecordsAgreeWithTheAttributeQuery) {
  TempDir dir;
  WriteBytes(dir.path() / "small.txt", "12345");
  WriteBytes(dir.path() / "big.bin", "");
  fs::resize_file(dir.path() / "big.bin", 0x200000003ULL);  // sparse
  fs::create_directory(dir.path() / "d");
  ASSERT_TRUE(SetFileAttributesW(dir.Wide("small.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

  struct Expected {
    const char* name;
    DWORD high, low, attributes;  // attributes without ARCHIVE, which Wine adds to every file
  };
  for (const Expected& e : {Expected{"small.txt", 0, 5, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
                            Expected{"big.bin", 2, 3, 0}, Expected{"d", 0, 0, FILE_ATTRIBUTE_DIRECTORY}}) {
    SCOPED_TRACE(e.name);
    WIN32_FIND_DATAW data;
    std::memset(&data, 0xCC, sizeof data);
    HANDLE h = FindFirstFileW(dir.Wide(e.name).c_str(), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    EXPECT_EQ(plat::Utf8(data.cFileName), e.name);
    EXPECT_EQ(data.cAlternateFileName[0], 0);
    EXPECT_EQ(data.nFileSizeHigh, e.high);
    EXPECT_EQ(data.nFileSizeLow, e.low);
    EXPECT_EQ(data.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_ARCHIVE), e.attributes);
    WIN32_FILE_ATTRIBUTE_DATA info;
    ASSERT_TRUE(GetFileAttributesExW(dir.Wide(e.name).c_str(), GetFileExInfoStandard, &info));
    EXPECT_EQ(data.dwFileAttributes, info.dwFileAttributes);
    EXPECT_EQ(Ft64(data.ftCreationTime), Ft64(info.ftCreationTime));
    EXPECT_EQ(Ft64(data.ftLastWriteTime), Ft64(info.ftLastWriteTime));
  }
}

}  // namespace
