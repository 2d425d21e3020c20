// The timed layer, existence tests, last-write times and directory chains.
#include <vector>

#include "ferrow.h"
#include "support/support.h"
#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

using plat::wstring;
using testsupport::TempDir;
namespace fs = std::filesystem;

#ifndef _WIN32
// Feeds GetTickCount from a list and collects the debug output.
class SteeredClock : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_hooks::SetTickSource(
        [](void* self) {
          auto* t = static_cast<SteeredClock*>(self);
          return t->next_ < t->ticks_.size() ? t->ticks_[t->next_++] : t->ticks_.back();
        },
        this);
    plat_hooks::SetDebugSink([](const WCHAR* text, void* out) { static_cast<wstring*>(out)->append(text); }, &debug_);
  }
  void TearDown() override {
    plat_hooks::SetTickSource(nullptr, nullptr);
    plat_hooks::SetDebugSink(nullptr, nullptr);
  }
  std::vector<DWORD> ticks_;
  size_t next_ = 0;
  wstring debug_;
};

TEST_F(SteeredClock, ACallOf200MsIsQuietAndOneOf201MsIsReported) {
  TempDir dir;
  wstring path = dir.Wide("x");
  ticks_ = {1000, 1200};
  EXPECT_FALSE(FU_TestFileExists(path.c_str()));
  EXPECT_EQ(debug_, wstring());
  ticks_ = {1000, 1201};
  next_ = 0;
  EXPECT_FALSE(FU_TestFileExists(path.c_str()));
  EXPECT_EQ(debug_, TEXT("GetFileAttributes ") + path + TEXT(" took 201 ms\r\n"));
}

TEST_F(SteeredClock, ElapsedTimeIsRightAcrossTheCounterWrap) {
  TempDir dir;
  ticks_ = {0xFFFFFF00u, 0x00000100u};  // 512 ms across the wrap
  FILETIME t;
  EXPECT_TRUE(FU_GetLastModifyTime(dir.Wide().c_str(), &t));
  EXPECT_EQ(debug_, TEXT("GetFileAttributesEx ") + dir.Wide() + TEXT(" took 512 ms\r\n"));
}

TEST_F(SteeredClock, TheReportKeepsTheCallsErrorCode) {
  TempDir dir;
  ticks_ = {0, 5000};
  EXPECT_FALSE(FU_TestFileExists(dir.Wide(TEXT("no/such")).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_NE(debug_.find(TEXT("took 5000 ms")), wstring::npos);
}
#endif

TEST(Exists, FilesDirectoriesAndDrives) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "f.txt", "x");
  wstring file = dir.Wide("f.txt"), root = dir.Wide();
  EXPECT_TRUE(FU_TestFileExists(file.c_str()));
  EXPECT_TRUE(FU_TestFileExists(root.c_str()));
  EXPECT_FALSE(FU_TestFileExists(dir.Wide("g.txt").c_str()));
  EXPECT_FALSE(FU_TestFileExists(nullptr));
  EXPECT_FALSE(FU_TestFileExists(TEXT("")));

  EXPECT_TRUE(FU_TestDirExists(root.c_str()));
  EXPECT_TRUE(FU_TestDirExists((root + TEXT("\\")).c_str()));
  EXPECT_TRUE(FU_TestDirExists((root + TEXT("/")).c_str()));
  EXPECT_FALSE(FU_TestDirExists(file.c_str()));
  EXPECT_FALSE(FU_TestDirExists(nullptr));
  EXPECT_FALSE(FU_TestDirExists(TEXT("")));

  EXPECT_TRUE(FU_TestDriveExists(TEXT("C:\\no\\such\\dir")));
  EXPECT_TRUE(FU_TestDirExists(TEXT("C:\\")));
  EXPECT_FALSE(FU_TestDriveExists(TEXT("\\\\server\\share\\x")));
  EXPECT_FALSE(FU_TestDriveExists(TEXT("relative\\dir")));
  EXPECT_FALSE(FU_TestDriveExists(nullptr));
}

TEST(Exists, PathsTooLongForTheWorkingCopyAreRefused) {
  wstring longPath = TEXT("C:\\") + wstring(300, 'a');
  EXPECT_FALSE(FU_TestDirExists(longPath.c_str()));
  EXPECT_FALSE(FU_TestDriveExists(longPath.c_str()));
  EXPECT_FALSE(FU_CreatePath(longPath.c_str()));
}

TEST(Exists, UnreadablePathsGiveZero) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  const WCHAR* bad = static_cast<const WCHAR*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(bad, nullptr);
  EXPECT_FALSE(FU_TestDirExists(bad));
  EXPECT_FALSE(FU_TestDriveExists(bad));
  VirtualFree(const_cast<WCHAR*>(bad), 0, MEM_RELEASE);
}

TEST(Times, LastWriteTimeOfFilesAndDirectories) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "f", "x");
  FILETIME t = {};
  ASSERT_TRUE(FU_GetLastModifyTime(dir.Wide("f").c_str(), &t));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(dir.Wide("f").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(t.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(t.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);
  EXPECT_TRUE(FU_GetLastModifyTime(dir.Wide().c_str(), &t));
  EXPECT_FALSE(FU_GetLastModifyTime(dir.Wide("g").c_str(), &t));
  EXPECT_FALSE(FU_GetLastModifyTime(nullptr, &t));
  EXPECT_FALSE(FU_GetLastModifyTime(dir.Wide("f").c_str(), nullptr));
}

TEST(CreatePath, MakesTheMissingTailOfAChain) {
  TempDir dir;
  fs::create_directory(dir.path() / "a");
  wstring chain = dir.Wide(TEXT("a\\b/c"));
  ASSERT_TRUE(FU_CreatePath(chain.c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
  EXPECT_TRUE(FU_CreatePath(chain.c_str()));  // existing: 1, nothing created
  EXPECT_TRUE(FU_CreatePath((dir.Wide(TEXT("d\\e")) + TEXT("\\")).c_str()));
  EXPECT_TRUE(fs::is_directory(dir.path() / "d" / "e"));
}

TEST(CreatePath, RefusesRelativeBareAndShareOnlyPaths) {
  EXPECT_FALSE(FU_CreatePath(TEXT("a\\b")));
  EXPECT_FALSE(FU_CreatePath(TEXT("C:")));
  EXPECT_FALSE(FU_CreatePath(TEXT("C:\\")));
  EXPECT_FALSE(FU_CreatePath(TEXT("\\\\server\\share")));
  EXPECT_FALSE(FU_CreatePath(TEXT("")));
  EXPECT_FALSE(FU_CreatePath(nullptr));
}

TEST(CreatePath, FailsWhereAFileStandsInTheWay) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "f", "x");
  EXPECT_FALSE(FU_CreatePath(dir.Wide(TEXT("f\\sub")).c_str()));
}

}  // namespace
