// Copying directory trees: the shapes of the copy, the guards against copying
// a directory into itself, long paths, and the retries on a file another
// process holds.
#include <algorithm>
#include <set>

#include "ferrow.h"
#include "support/support.h"

namespace {

using plat::wstring;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

// Every file and directory below root, as "dir/" and "dir/file=content".
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> out;
  if (!fs::exists(root)) return out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    out.insert(e.is_directory() ? rel + "/" : rel + "=" + ReadBytes(e.path()));
  }
  return out;
}

// a/x.txt, a/clip.avi, a/sub/y.txt, a/sub/deeper/z.avi, a/empty/, a/.cache/c.txt
void MakeSource(const fs::path& a) {
  fs::create_directories(a / "sub" / "deeper");
  fs::create_directories(a / "empty");
  fs::create_directories(a / ".cache");
  WriteBytes(a / "x.txt", "x");
  WriteBytes(a / "clip.avi", "clip");
  WriteBytes(a / "sub" / "y.txt", "y");
  WriteBytes(a / "sub" / "deeper" / "z.avi", "z");
  WriteBytes(a / ".cache" / "c.txt", "c");
}

struct ShapeCase {
  const char* name;
  const char* pattern;
  DWORD flags, mask;
  std::set<std::string> copied;
};

class CopyDirectoryShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CopyDirectoryShape, CopiesWhatTheWalkChooses) {
  const ShapeCase& c = GetParam();
  TempDir dir;
  MakeSource(dir.path() / "a");
  const wstring source = dir.Wide("a") + TEXT("\\") + plat::Wide(c.pattern);
  EXPECT_TRUE(FU_CopyDirectory(source.c_str(), dir.Wide("new\\b").c_str(), c.flags, c.mask));
  EXPECT_EQ(Tree(dir.path() / "new" / "b"), c.copied);
}

constexpr DWORD kAll = FU_ENUM_EXCLUDE_ATTRIBUTES;
const std::set<std::string> kWholeTree = {"x.txt=x", "clip.avi=clip", "sub/", "sub/y.txt=y", "sub/deeper/",
                                          "sub/deeper/z.avi=z", "empty/"};

INSTANTIATE_TEST_SUITE_P(
    Walks, CopyDirectoryShape,
    ::testing::Values(
        ShapeCase{"Recursive", "*.*", FU_ENUM_RECURSIVE | kAll, 0, kWholeTree},
        ShapeCase{"DirectoriesLast", "*.*", FU_ENUM_RECURSIVE | FU_ENUM_DIRS_LAST | kAll, 0, kWholeTree},
        ShapeCase{"TopLevelOnly", "*.*", kAll, 0, {"x.txt=x", "clip.avi=clip", "sub/", "empty/"}},
        // Files below directories whose names do not match still come, with their directories.
        ShapeCase{"PatternInEveryLevel", "*.avi", FU_ENUM_RECURSIVE | kAll, 0,
                  {"clip.avi=clip", "sub/", "sub/deeper/", "sub/deeper/z.avi=z"}},
        ShapeCase{"FilesOnly", "*", FU_ENUM_RECURSIVE | kAll, FILE_ATTRIBUTE_DIRECTORY,
                  {"x.txt=x", "clip.avi=clip", "sub/", "sub/y.txt=y", "sub/deeper/", "sub/deeper/z.avi=z"}}),
    [](const ::testing::TestParamInfo<ShapeCase>& info) { return std::string(info.param.name); });

// Copying a directory onto itself does nothing; recursively into itself it
// would find its own copy inside what it copies.
TEST(CopyDirectory, IntoItselfOrBelowItself) {
  TempDir dir;
  MakeSource(dir.path() / "a");
  const std::set<std::string> before = Tree(dir.path() / "a");
  const wstring source = dir.Wide("a") + TEXT("\\*.*");
  for (const wstring& same : {dir.Wide("a"), dir.Wide("a") + TEXT("\\"), dir.Wide("a") + TEXT("/./"),
                              dir.Wide("a") + TEXT("/sub/..")}) {
    EXPECT_TRUE(FU_CopyDirectory(source.c_str(), same.c_str(), FU_ENUM_RECURSIVE | kAll, 0));
    EXPECT_EQ(Tree(dir.path() / "a"), before);
  }
  for (const wstring& below : {dir.Wide("a/b"), dir.Wide("c/../a/b")}) {
    EXPECT_FALSE(FU_CopyDirectory(source.c_str(), below.c_str(), FU_ENUM_RECURSIVE | kAll, 0));
    EXPECT_EQ(Tree(dir.path() / "a"), before);
  }
  // Without recursion the copy cannot reach itself.
  EXPECT_TRUE(FU_CopyDirectory((dir.Wide("a") + TEXT("\\*.txt")).c_str(), dir.Wide("a/b").c_str(), kAll, 0));
  EXPECT_EQ(ReadBytes(dir.path() / "a" / "b" / "x.txt"), "x");
}

TEST(CopyDirectory, BadArgumentsGiveZero) {
  TempDir dir;
  MakeSource(dir.path() / "a");
  const wstring source = dir.Wide("a") + TEXT("\\*.*"), destination = dir.Wide("b");
  EXPECT_FALSE(FU_CopyDirectory(nullptr, destination.c_str(), kAll, 0));
  EXPECT_FALSE(FU_CopyDirectory(source.c_str(), nullptr, kAll, 0));
  EXPECT_FALSE(FU_CopyDirectory((dir.Wide("a") + TEXT("\\")).c_str(), destination.c_str(), kAll, 0));  // no pattern
  EXPECT_FALSE(FU_CopyDirectory(source.c_str(), TEXT("a<b"), kAll, 0));
  EXPECT_FALSE(fs::exists(dir.path() / "b"));
  // A destination that cannot be a directory.
  WriteBytes(dir.path() / "file", "f");
  EXPECT_FALSE(FU_CopyDirectory(source.c_str(), dir.Wide("file").c_str(), kAll, 0));
  EXPECT_EQ(ReadBytes(dir.path() / "file"), "f");
}

// Paths beyond the 520-unit buffers are skipped and reported in the result;
// the rest is copied, up to a path that fills the buffer exactly.
TEST(CopyDirectory, AnEntryTooLongForTheBufferIsSkipped) {
  TempDir dir;
  const fs::path deep = fs::path("s") / "t" / "u" / "v" / "w";
  const std::string fits(250, 'n'), tooLong(251, 'm');
  fs::create_directories(dir.path() / "a" / deep);
  WriteBytes(dir.path() / "a" / "x.txt", "x");
  WriteBytes(dir.path() / "a" / deep / fits, "fits");
  WriteBytes(dir.path() / "a" / deep / tooLong, "long");
  // A destination of 258 units, 259 with the separator the copy gives it (the
  // most the directory functions take). Below it s/t/u/v/w/ adds 10 units: a
  // name of 250 then fills the 520-unit buffer with its terminator.
  wstring destination = dir.Wide("d");
  while (destination.size() < 258) {
    size_t chunk = std::min<size_t>(258 - destination.size(), 150);
    if (258 - destination.size() - chunk == 1) --chunk;
    destination += '/';
    destination.append(chunk - 1, 'd');
  }
  ASSERT_EQ(destination.size(), 258u);
  const fs::path to = testsupport::P(destination);
  fs::create_directories(to / deep);  // deeper than the directory functions reach
  EXPECT_FALSE(FU_CopyDirectory((dir.Wide("a") + TEXT("\\*.*")).c_str(), destination.c_str(),
                                FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES, FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(ReadBytes(to / "x.txt"), "x");
  EXPECT_EQ(ReadBytes(to / deep / fits), "fits");
  EXPECT_FALSE(fs::exists(to / deep / tooLong));
}

// ---- a file another process holds ----

// Opens the file without sharing, says so with the marker file, and holds it
// until the release file appears (30 s at most).
QZ_CHILD_ROLE(hold_file) {
  if (args.size() != 3) return 2;
  HANDLE h = CreateFileW(args[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  HANDLE marker = CreateFileW(args[1].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(marker);
  for (int i = 0; i < 3000 && GetFileAttributesW(args[2].c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  CloseHandle(h);
  return 0;
}

TEST(CopyDirectory, AHeldFileIsTriedFiveTimesThenSkipped) {
  TempDir dir;
  MakeSource(dir.path() / "a");
  const wstring marker = dir.Wide("held"), release = dir.Wide("release");
  testsupport::Child child("hold_file", {dir.Wide("a/sub/y.txt"), marker, release});
  ASSERT_TRUE(child.started());
  for (int i = 0; i < 6000 && GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  ASSERT_NE(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the child never held the file";

  const DWORD start = GetTickCount();
  BOOL copied = FU_CopyDirectory((dir.Wide("a") + TEXT("\\*.*")).c_str(), dir.Wide("b").c_str(),
                                 FU_ENUM_RECURSIVE | kAll, 0);
  const DWORD elapsed = GetTickCount() - start;
  WriteBytes(testsupport::P(release), "");
  EXPECT_EQ(child.Wait(), 0);

  EXPECT_FALSE(copied);
  EXPECT_GE(elapsed, 2000u);  // four pauses of 500 ms between the five attempts
  std::set<std::string> expected = kWholeTree;
  expected.erase("sub/y.txt=y");
  EXPECT_EQ(Tree(dir.path() / "b"), expected);
}

}  // namespace
