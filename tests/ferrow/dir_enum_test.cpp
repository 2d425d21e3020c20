// The directory walk and the counting on top of it, on real trees.
#include <algorithm>
#include <string>
#include <vector>

#include "ferrow.h"
#include "support/support.h"
#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

using plat::wstring;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

// What a walk reported: paths relative to `base` (separators as the walk wrote them).
struct Seen {
  wstring base;
  std::vector<std::string> paths;
  std::vector<DWORD> masks;
  size_t stopAt = 0;  // 0: never stop
};

int WINAPI Collect(const WIN32_FIND_DATAW* entry, const WCHAR* path, DWORD mask, void* context) {
  auto* seen = static_cast<Seen*>(context);
  wstring p(path);
  EXPECT_EQ(p.compare(0, seen->base.size(), seen->base), 0) << plat::Utf8(p);
  EXPECT_EQ(p.substr(p.size() - plat::WLen(entry->cFileName)), wstring(entry->cFileName));
  seen->paths.push_back(plat::Utf8(p.substr(seen->base.size())));
  seen->masks.push_back(mask);
  return seen->stopAt == 0 || seen->paths.size() < seen->stopAt;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

size_t Index(const std::vector<std::string>& v, const std::string& s) {
  return static_cast<size_t>(std::find(v.begin(), v.end(), s) - v.begin());
}

// root: a.avi b.txt d/x.avi d/sub/y.avi skip/z.avi .cache/c.avi .dot.avi
class Walk : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path& r = dir_.path();
    fs::create_directories(r / "d" / "sub");
    fs::create_directories(r / "skip");
    fs::create_directories(r / ".cache");
    for (const char* f : {"a.avi", "b.txt", "d/x.avi", "d/sub/y.avi", "skip/z.avi", ".cache/c.avi", ".dot.avi"})
      WriteBytes(r / f, "x");
    base_ = dir_.Wide() + TEXT("\\");
  }
  Seen Run(const char* pattern, DWORD mask, DWORD flags, BOOL expected = 1) {
    Seen seen{base_, {}, {}, 0};
    EXPECT_EQ(FU_EnumDirectory(Collect, (base_ + plat::Wide(pattern)).c_str(), mask, flags, &seen), expected);
    return seen;
  }
  TempDir dir_;
  wstring base_;
};

TEST_F(Walk, RecursionEntersEveryDirectoryButReportsOnlyMatches) {
  Seen seen = Run("*.avi", 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES);
  EXPECT_EQ(Sorted(seen.paths), (std::vector<std::string>{"a.avi", "d/sub/y.avi", "d/x.avi", "skip/z.avi"}));
  EXPECT_EQ(seen.masks, std::vector<DWORD>(4, 0u));
}

TEST_F(Walk, AttributeMaskIncludesOrExcludes) {
  EXPECT_EQ(Sorted(Run("*", FILE_ATTRIBUTE_DIRECTORY, FU_ENUM_RECURSIVE).paths),
            (std::vector<std::string>{"d", "d/sub", "skip"}));
  Seen seen = Run("*", FILE_ATTRIBUTE_DIRECTORY, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES);
  EXPECT_EQ(Sorted(seen.paths), (std::vector<std::string>{"a.avi", "b.txt", "d/sub/y.avi", "d/x.avi", "skip/z.avi"}));
  EXPECT_EQ(seen.masks[0], DWORD(FILE_ATTRIBUTE_DIRECTORY));
  // A mask that chooses nothing refuses to start.
  EXPECT_TRUE(Run("*", 0, FU_ENUM_RECURSIVE, 0).paths.empty());
  EXPECT_TRUE(Run("*", 0xFFFFFFFFu, FU_ENUM_EXCLUDE_ATTRIBUTES, 0).paths.empty());
}

TEST_F(Walk, DirectoriesComeBeforeOrAfterTheirContents) {
  for (DWORD last : {0u, FU_ENUM_DIRS_LAST}) {
    Seen seen = Run("*", 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES | last);
    ASSERT_EQ(seen.paths.size(), 8u);
    const size_t d = Index(seen.paths, "d"), dx = Index(seen.paths, "d/x.avi"), sub = Index(seen.paths, "d/sub"),
                 y = Index(seen.paths, "d/sub/y.avi");
    ASSERT_LT(std::max({d, dx, sub, y}), seen.paths.size());
    if (last) {
      EXPECT_LT(dx, d);
      EXPECT_LT(y, sub);
      EXPECT_LT(sub, d);
    } else {
      EXPECT_LT(d, dx);
      EXPECT_LT(sub, y);
      EXPECT_LT(d, sub);
    }
  }
}

TEST_F(Walk, ACallbackReturningZeroEndsTheWholeWalk) {
  Seen seen{base_, {}, {}, 3};
  EXPECT_EQ(FU_EnumDirectory(Collect, (base_ + TEXT("*")).c_str(), 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES,
                             &seen),
            0);
  EXPECT_EQ(seen.paths.size(), 3u);
}

TEST_F(Walk, StartingPoints) {
  Seen seen{base_, {}, {}, 0};
  // A missing directory: a walk that ran to its end, with nothing in it.
  EXPECT_EQ(FU_EnumDirectory(Collect, (base_ + TEXT("missing\\*.*")).c_str(), 0, FU_ENUM_EXCLUDE_ATTRIBUTES, &seen), 1);
  EXPECT_TRUE(seen.paths.empty());
  // No pattern, no callback, no path.
  EXPECT_EQ(FU_EnumDirectory(Collect, base_.c_str(), 0, FU_ENUM_EXCLUDE_ATTRIBUTES, &seen), 0);
  EXPECT_EQ(FU_EnumDirectory(nullptr, (base_ + TEXT("*")).c_str(), 0, FU_ENUM_EXCLUDE_ATTRIBUTES, &seen), 0);
  EXPECT_EQ(FU_EnumDirectory(Collect, nullptr, 0, FU_ENUM_EXCLUDE_ATTRIBUTES, &seen), 0);
  EXPECT_TRUE(seen.paths.empty());
  // A directory named without a separator behind it is an entry of its parent.
  wstring self = dir_.Wide();
  Seen parent{self.substr(0, self.size() - dir_.path().filename().native().size()), {}, {}, 0};
  EXPECT_EQ(FU_EnumDirectory(Collect, self.c_str(), FILE_ATTRIBUTE_DIRECTORY, 0, &parent), 1);
  EXPECT_EQ(parent.paths, std::vector<std::string>{dir_.path().filename().string()});
}

TEST_F(Walk, ARelativeDirectoryPartIsKeptAsWritten) {
  WCHAR saved[MAX_PATH * 2];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH * 2, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(dir_.Wide().c_str()));
  Seen seen{TEXT(""), {}, {}, 0};
  BOOL rc = FU_EnumDirectory(Collect, TEXT("d\\*.avi"), 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES, &seen);
  Seen bare{TEXT(""), {}, {}, 0};
  BOOL rcBare = FU_EnumDirectory(Collect, TEXT("*.txt"), 0, FU_ENUM_EXCLUDE_ATTRIBUTES, &bare);
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(Sorted(seen.paths), (std::vector<std::string>{"d\\sub/y.avi", "d\\x.avi"}));
  EXPECT_EQ(rcBare, 1);
  EXPECT_EQ(bare.paths, std::vector<std::string>{"b.txt"});
}

#ifndef _WIN32
// Every timed call is reported when the clock jumps 1000 ms per reading: the
// reports show each search opened and closed.
TEST_F(Walk, EverySearchIsClosedAlsoWhenTheWalkIsStopped) {
  static DWORD now;
  now = 0;
  wstring debug;
  plat_hooks::SetTickSource([](void*) { return now += 1000; }, nullptr);
  plat_hooks::SetDebugSink([](const WCHAR* text, void* out) { static_cast<wstring*>(out)->append(text); }, &debug);
  Seen seen{base_, {}, {}, 0};
  seen.stopAt = Index(Run("*", 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES).paths, "d/sub/y.avi") + 1;
  debug.clear();
  BOOL rc = FU_EnumDirectory(Collect, (base_ + TEXT("*")).c_str(), 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES,
                             &seen);
  plat_hooks::SetTickSource(nullptr, nullptr);
  plat_hooks::SetDebugSink(nullptr, nullptr);
  EXPECT_EQ(rc, 0);
  auto count = [&](const wstring& what) {
    size_t n = 0;
    for (size_t at = debug.find(what); at != wstring::npos; at = debug.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(TEXT("FindFirstFile ")), 3u);  // root, d, d/sub
  EXPECT_EQ(count(TEXT("FindClose took")), 3u);
}
#endif

// Entry paths fill at most 520 units with the terminator: longer ones are
// passed over, never cut, and their neighbours are still reported.
TEST(WalkLimits, EntriesBeyondTheWorkingBufferArePassedOver) {
  TempDir dir;
  wstring base = dir.Wide() + TEXT("\\");
  const size_t room = 519;  // units of path before the terminator
  ASSERT_LT(base.size() + 2 * 120 + 2, room - 100);
  fs::path deep = dir.path() / std::string(120, 'a') / std::string(120, 'b');
  std::error_code ec;
  fs::create_directories(deep, ec);
  if (ec) GTEST_SKIP() << "this file system refuses long paths";
  const size_t prefix = base.size() + 2 * 120 + 2;  // ...\aaa/bbb/
  std::string fits(room - prefix, 'f'), tooLong(room - prefix + 1, 'g');
  if (tooLong.size() > 255) GTEST_SKIP() << "the temporary directory's path is too short for this layout";
  WriteBytes(deep / fits, "x");
  WriteBytes(deep / tooLong, "x");
  WriteBytes(deep / "short", "x");
  if (!fs::exists(deep / tooLong)) GTEST_SKIP() << "this file system refuses long paths";
  Seen seen{base, {}, {}, 0};
  EXPECT_EQ(FU_EnumDirectory(Collect, (base + TEXT("*")).c_str(), FILE_ATTRIBUTE_DIRECTORY,
                             FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES, &seen),
            1);
  const std::string inner = std::string(120, 'a') + "/" + std::string(120, 'b') + "/";
  EXPECT_EQ(Sorted(seen.paths), (std::vector<std::string>{inner + fits, inner + "short"}));
}

TEST(ScanDir, CountsDirectoriesFilesAndBytesBeyondFourGigabytes) {
  TempDir dir;
  fs::create_directories(dir.path() / "d1" / "d2");
  WriteBytes(dir.path() / "ten", std::string(10, 'x'));
  WriteBytes(dir.path() / "d1" / "twenty", std::string(20, 'x'));
  // A sparse file of 4 GiB, made through the system's own calls.
  HANDLE h = CreateFileW(dir.Wide(TEXT("d1\\d2\\big")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = 4294967296LL;
  BOOL grown = SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (!grown) GTEST_SKIP() << "this file system refuses a file of 4 GiB";

  FU_ScanTotals totals = {7, 7, 7};
  const wstring all = dir.Wide() + TEXT("\\*.*");
  ASSERT_EQ(FU_ScanDir(all.c_str(), &totals, 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES), 1);
  EXPECT_EQ(totals.dirCount, 2u);
  EXPECT_EQ(totals.fileCount, 3u);
  EXPECT_EQ(totals.totalBytes, 4294967326ull);

  ASSERT_EQ(FU_ScanDir(all.c_str(), &totals, 0, FU_ENUM_EXCLUDE_ATTRIBUTES), 1);
  EXPECT_EQ(totals.dirCount, 1u);
  EXPECT_EQ(totals.fileCount, 1u);
  EXPECT_EQ(totals.totalBytes, 10u);

  totals = {7, 7, 7};
  EXPECT_EQ(FU_ScanDir(all.c_str(), &totals, 0, 0), 0);  // chooses nothing: untouched
  EXPECT_EQ(totals.dirCount, 7u);
  EXPECT_EQ(FU_ScanDir(all.c_str(), nullptr, 0, FU_ENUM_EXCLUDE_ATTRIBUTES), 0);
  EXPECT_EQ(FU_ScanDir(nullptr, &totals, 0, FU_ENUM_EXCLUDE_ATTRIBUTES), 0);
}

}  // namespace
