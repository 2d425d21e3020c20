// First matches, empty files in new directories, and the deletions.
#include <algorithm>
#include <string>

#include "ferrow.h"
#include "support/support.h"

namespace {

using plat::wstring;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

TEST(FirstMatch, RewritesThePatternWithTheFirstNameNotBeginningWithADot) {
  TempDir dir;
  WriteBytes(dir.path() / ".hidden.dat", "x");
  WriteBytes(dir.path() / "only.dat", "12");
  WriteBytes(dir.path() / "other.txt", "x");
  WCHAR path[MAX_PATH];
  plat::WCopy(path, MAX_PATH, (dir.Wide() + TEXT("\\*.dat")).c_str());
  FILETIME time = {};
  DWORD attributes = 0;
  ASSERT_EQ(FU_GetFirstMatch(path, &time, &attributes), 1);
  EXPECT_EQ(wstring(path), dir.Wide() + TEXT("\\only.dat"));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(path, GetFileExInfoStandard, &data));
  EXPECT_EQ(time.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(time.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);
  EXPECT_EQ(attributes, data.dwFileAttributes);

  plat::WCopy(path, MAX_PATH, (dir.Wide() + TEXT("\\o*.d?t")).c_str());
  WIN32_FIND_DATAW rec = {};
  ASSERT_EQ(FU_GetFirstMatchInfo(path, &rec), 1);
  EXPECT_EQ(wstring(path), dir.Wide() + TEXT("\\only.dat"));
  EXPECT_EQ(wstring(rec.cFileName), TEXT("only.dat"));
  EXPECT_EQ(rec.nFileSizeLow, 2u);
  EXPECT_EQ(FU_GetFirstMatch(path, nullptr, nullptr), 1);  // the optional outputs
}

TEST(FirstMatch, NothingFoundLeavesTheBufferAlone) {
  TempDir dir;
  WriteBytes(dir.path() / ".only-dot.dat", "x");
  const wstring patterns[] = {dir.Wide() + TEXT("\\*.dat"), dir.Wide() + TEXT("\\*.none"),
                              dir.Wide() + TEXT("\\missing\\*.*"), dir.Wide() + TEXT("\\")};
  for (const wstring& p : patterns) {
    WCHAR path[MAX_PATH];
    plat::WCopy(path, MAX_PATH, p.c_str());
    EXPECT_EQ(FU_GetFirstMatch(path, nullptr, nullptr), 0) << plat::Utf8(p);
    EXPECT_EQ(wstring(path), p);
  }
  WCHAR path[MAX_PATH];
  plat::WCopy(path, MAX_PATH, (dir.Wide() + TEXT("\\*")).c_str());
  EXPECT_EQ(FU_GetFirstMatchInfo(path, nullptr), 0);
  EXPECT_EQ(FU_GetFirstMatch(nullptr, nullptr, nullptr), 0);
}

TEST(FirstMatch, ANameThatWouldOverrunTheBufferIsRefused) {
  TempDir dir;
  const size_t prefix = dir.Wide().size() + 1;
  if (prefix + 2 >= MAX_PATH) GTEST_SKIP() << "the temporary directory's path is too long";
  const std::string name(std::min<size_t>(MAX_PATH - prefix, 255), 'n');  // prefix + name reaches MAX_PATH
  if (prefix + name.size() + 1 <= MAX_PATH) GTEST_SKIP() << "names here cannot be long enough";
  std::error_code ec;
  WriteBytes(dir.path() / name, "x");
  if (!fs::exists(dir.path() / name, ec)) GTEST_SKIP() << "this file system refuses the long name";
  WCHAR path[MAX_PATH + 8];
  for (WCHAR& c : path) c = '#';
  plat::WCopy(path, MAX_PATH, (dir.Wide() + TEXT("\\n*")).c_str());
  const wstring before(path);
  EXPECT_EQ(FU_GetFirstMatch(path, nullptr, nullptr), 0);
  EXPECT_EQ(wstring(path), before);
  EXPECT_EQ(path[MAX_PATH], '#');
}

TEST(CreateDirectoryEntry, EmptiesAFileOrCreatesItWithItsDirectories) {
  TempDir dir;
  WriteBytes(dir.path() / "full", "content");
  EXPECT_EQ(FU_CreateDirectoryEntry(dir.Wide("full").c_str()), 1);
  EXPECT_EQ(fs::file_size(dir.path() / "full"), 0u);

  EXPECT_EQ(FU_CreateDirectoryEntry(dir.Wide(TEXT("a\\b/c.txt")).c_str()), 1);
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "a" / "b" / "c.txt"));
  EXPECT_EQ(fs::file_size(dir.path() / "a" / "b" / "c.txt"), 0u);

  // The directory exists, so the failure has another cause: nothing is mended.
  fs::create_directory(dir.path() / "taken");
  EXPECT_EQ(FU_CreateDirectoryEntry(dir.Wide("taken").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(dir.path() / "taken"));
  // A file stands where a directory would have to be.
  EXPECT_EQ(FU_CreateDirectoryEntry(dir.Wide(TEXT("full\\x\\y")).c_str()), 0);
  EXPECT_EQ(FU_CreateDirectoryEntry(nullptr), 0);
}

// root: top.txt top.bin ro.txt (read-only) sub/in.txt sub/deeper/ro.bin (read-only)
class Deletion : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path() / "root";
    fs::create_directories(root_ / "sub" / "deeper");
    for (const char* f : {"top.txt", "top.bin", "ro.txt", "sub/in.txt", "sub/deeper/ro.bin"}) WriteBytes(root_ / f, "x");
    ReadOnly("ro.txt");
    ReadOnly("sub/deeper/ro.bin");
  }
  void ReadOnly(const char* name) {
    ASSERT_TRUE(SetFileAttributesW(Wide(name).c_str(), FILE_ATTRIBUTE_READONLY));
  }
  wstring Wide(const char* name = nullptr) const {
    return name ? testsupport::W(root_ / name) : testsupport::W(root_);
  }
  wstring Pattern(const char* pattern) const { return Wide() + TEXT("\\") + plat::Wide(pattern); }
  bool Has(const char* name) const { return fs::exists(root_ / name); }

  TempDir dir_;
  fs::path root_;
};

TEST_F(Deletion, AWholeTreeGoesReadOnlyFilesIncluded) {
  EXPECT_EQ(FU_DeleteDirectory(Pattern("*.*").c_str(), 1, 1), 1);
  EXPECT_FALSE(fs::exists(root_));
  EXPECT_TRUE(fs::exists(dir_.path()));
}

TEST_F(Deletion, RemovingDirectoriesNeedsAPatternThatTakesEverything) {
  EXPECT_EQ(FU_DeleteDirectory(Pattern("*.txt").c_str(), 1, 1), 0);
  EXPECT_TRUE(Has("top.txt"));
  EXPECT_TRUE(Has("sub/in.txt"));
  // Without recursion a subdirectory that still holds files cannot go: the
  // failure is reported, and the rest is deleted all the same.
  EXPECT_EQ(FU_DeleteDirectory(Pattern("*").c_str(), 0, 1), 0);
  EXPECT_FALSE(Has("top.txt"));
  EXPECT_FALSE(Has("ro.txt"));
  EXPECT_TRUE(Has("sub/in.txt"));
  EXPECT_TRUE(fs::exists(root_));
}

TEST_F(Deletion, FilesOnlyWhenDirectoriesStay) {
  EXPECT_EQ(FU_DeleteDirectory(Pattern("*.txt").c_str(), 0, 0), 1);
  EXPECT_FALSE(Has("top.txt"));
  EXPECT_FALSE(Has("ro.txt"));
  EXPECT_TRUE(Has("top.bin"));
  EXPECT_TRUE(Has("sub/in.txt"));

  EXPECT_EQ(FU_DeleteDirectory(Pattern("*.*").c_str(), 1, 0), 1);
  EXPECT_FALSE(Has("top.bin"));
  EXPECT_FALSE(Has("sub/in.txt"));
  EXPECT_FALSE(Has("sub/deeper/ro.bin"));
  EXPECT_TRUE(fs::is_directory(root_ / "sub" / "deeper"));
}

TEST_F(Deletion, DeleteFilesTakesOneDirectoryAndGoesOnAfterAFailure) {
  // A file held open without delete sharing cannot go; the others still do.
  HANDLE held = CreateFileW(Wide("top.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FU_DeleteFiles(Pattern("*").c_str()), 0);
  CloseHandle(held);
  EXPECT_TRUE(Has("top.bin"));
  EXPECT_FALSE(Has("top.txt"));
  EXPECT_FALSE(Has("ro.txt"));
  EXPECT_TRUE(Has("sub/in.txt"));
  EXPECT_EQ(FU_DeleteFiles(Pattern("*").c_str()), 1);
  EXPECT_FALSE(Has("top.bin"));
  EXPECT_TRUE(fs::is_directory(root_ / "sub"));

  EXPECT_EQ(FU_DeleteFiles(Wide().c_str()), 1);  // "root" names itself: a directory, skipped
  EXPECT_TRUE(fs::exists(root_));
  EXPECT_EQ(FU_DeleteFiles((Wide() + TEXT("\\")).c_str()), 0);
  EXPECT_EQ(FU_DeleteFiles(nullptr), 0);
  EXPECT_EQ(FU_DeleteDirectory(nullptr, 1, 1), 0);
}

// Restores the process's current directory when the test ends.
class CurrentDirectory {
 public:
  CurrentDirectory() { GetCurrentDirectoryW(MAX_PATH * 2, saved_); }
  ~CurrentDirectory() { SetCurrentDirectoryW(saved_); }
  static wstring Now() {
    WCHAR now[MAX_PATH * 2];
    DWORD n = GetCurrentDirectoryW(MAX_PATH * 2, now);
    return wstring(now, n);
  }

 private:
  WCHAR saved_[MAX_PATH * 2];
};

TEST_F(Deletion, TheCurrentDirectoryMovesToTheParentOutOfTheWay) {
  CurrentDirectory keep;
  ASSERT_TRUE(SetCurrentDirectoryW(Wide("sub/deeper").c_str()));
  EXPECT_EQ(FU_DeleteDirectory(Pattern("*.*").c_str(), 1, 1), 1);
  EXPECT_FALSE(fs::exists(root_));
  EXPECT_EQ(FU_PathCompare(CurrentDirectory::Now().c_str(), dir_.Wide().c_str()), 0);
}

TEST_F(Deletion, ANameThatOnlyBeginsLikeTheDirectoryKeepsTheCurrentDirectory) {
  CurrentDirectory keep;
  fs::create_directory(dir_.path() / "rootx");
  ASSERT_TRUE(SetCurrentDirectoryW(dir_.Wide("rootx").c_str()));
  const wstring before = CurrentDirectory::Now();
  EXPECT_EQ(FU_DeleteDirectory(Pattern("*").c_str(), 1, 1), 1);
  EXPECT_FALSE(fs::exists(root_));
  EXPECT_EQ(FU_PathCompare(CurrentDirectory::Now().c_str(), before.c_str()), 0);
}

// A bare drive names the drive's current directory: its contents may go, the
// directory itself never (it is what "C:\*.*" leaves of the root).
TEST_F(Deletion, ABareDriveIsNeverRemoved) {
  CurrentDirectory keep;
  ASSERT_TRUE(SetCurrentDirectoryW(Wide().c_str()));
  EXPECT_EQ(FU_DeleteDirectory(TEXT("C:*.*"), 1, 1), 1);
  EXPECT_TRUE(fs::is_directory(root_));
  EXPECT_TRUE(fs::is_empty(root_));
  EXPECT_EQ(FU_PathCompare(CurrentDirectory::Now().c_str(), Wide().c_str()), 0);
}
}  // namespace
