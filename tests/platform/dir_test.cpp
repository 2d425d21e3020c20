// Directories, names, the current and temporary directories, full path names,
// disk space and drive types. Each test passes natively and under Wine.
#include <filesystem>

#include "files.h"

namespace {

namespace fs = std::filesystem;
using namespace fstest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// Compares paths without regard to the separator, as both name the same place.
wstring Slashed(wstring s) {
  for (WCHAR& c : s)
    if (c == '\\') c = '/';
  return s;
}

// Restores the process's current directory when the test ends.
class CurrentDirectory {
 public:
  CurrentDirectory() { saved_ = fs::current_path(); }
  ~CurrentDirectory() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

TEST(Directory, CreateAndRemoveWithTheirErrors) {
  TempDir dir;
  wstring d = dir.Wide("d"), inner = dir.Wide(TEXT("d\\inner"));
  ASSERT_TRUE(CreateDirectoryW(d.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(d.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(dir.Wide(TEXT("no\\such")).c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  WriteBytes(dir.path() / "f.txt", "x");
  EXPECT_FALSE(CreateDirectoryW(dir.Wide("f.txt").c_str(), nullptr));  // a file has the name
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));

  ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
  EXPECT_FALSE(RemoveDirectoryW(d.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryW(dir.Wide("f.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
  EXPECT_FALSE(RemoveDirectoryW(dir.Wide("missing").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(RemoveDirectoryW(dir.Wide(TEXT("no\\such")).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(RemoveDirectoryW((inner + TEXT("\\")).c_str()));  // a final separator is fine
  EXPECT_TRUE(RemoveDirectoryW(d.c_str()));
  EXPECT_FALSE(fs::exists(dir.path() / "d"));

  // A directory is not a file to delete.
  fs::create_directory(dir.path() / "e");
  EXPECT_FALSE(DeleteFileW(dir.Wide("e").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(dir.Wide("missing").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(dir.Wide(TEXT("no\\such")).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST(Directory, TheCurrentDirectoryCannotBeRemoved) {
  TempDir dir;
  CurrentDirectory restore;
  fs::create_directories(dir.path() / "a" / "b");
  wstring b = dir.Wide(TEXT("a\\b"));
  ASSERT_TRUE(SetCurrentDirectoryW(b.c_str()));
  EXPECT_FALSE(RemoveDirectoryW(b.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Wide("a").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(b.c_str()));
}

// Wine keeps no read-only attribute on directories; Windows does, and refuses
// to remove such a directory.
TEST(Directory, AReadOnlyDirectoryStays) {
  if (UnderWine()) GTEST_SKIP() << "Wine drops the read-only attribute of directories";
  TempDir dir;
  fs::create_directory(dir.path() / "ro");
  wstring ro = dir.Wide("ro");
  ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesW(ro.c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  // It still takes new entries, as on Windows.
  Handle h(Open(dir.Wide(TEXT("ro\\new.txt")), GENERIC_WRITE, 0, CREATE_NEW));
  EXPECT_TRUE(h.valid());
  h.Reset();
  ASSERT_TRUE(DeleteFileW(dir.Wide(TEXT("ro\\new.txt")).c_str()));
  EXPECT_FALSE(RemoveDirectoryW(ro.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(RemoveDirectoryW(ro.c_str()));
}

TEST(Move, RenamesFilesAndDirectoriesButNeverReplaces) {
  TempDir dir;
  WriteBytes(dir.path() / "a.txt", "A");
  WriteBytes(dir.path() / "b.txt", "B");
  fs::create_directory(dir.path() / "d");
  wstring a = dir.Wide("a.txt"), b = dir.Wide("b.txt"), d = dir.Wide("d");
  EXPECT_FALSE(MoveFileW(a.c_str(), b.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(MoveFileW(a.c_str(), d.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadBytes(dir.path() / "b.txt"), "B");
  EXPECT_FALSE(MoveFileW(dir.Wide("missing").c_str(), dir.Wide("x").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileW(a.c_str(), dir.Wide(TEXT("no\\x")).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(MoveFileW(d.c_str(), dir.Wide(TEXT("d\\inside")).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

  ASSERT_TRUE(MoveFileW(a.c_str(), dir.Wide(TEXT("d\\c.txt")).c_str()));
  EXPECT_EQ(ReadBytes(dir.path() / "d" / "c.txt"), "A");
  EXPECT_FALSE(fs::exists(dir.path() / "a.txt"));
  ASSERT_TRUE(MoveFileW(d.c_str(), dir.Wide("e").c_str()));
  EXPECT_EQ(ReadBytes(dir.path() / "e" / "c.txt"), "A");
}

#ifndef _WIN32
// A file moves to another file system by copying, with its contents, times and
// attributes; a directory does not move there.
TEST(Move, AFileCrossesFileSystems) {
  std::error_code ec;
  fs::path shm = "/dev/shm";
  TempDir dir;
  // Volumes of another size are other file systems.
  if (!fs::is_directory(shm, ec) || fs::space(shm, ec).capacity == fs::space(dir.path(), ec).capacity)
    GTEST_SKIP() << "no second file system at hand";
  fs::path target = shm / ("qz-move-" + std::to_string(GetCurrentProcessId()));
  WriteBytes(dir.path() / "f.txt", "across");
  wstring f = dir.Wide("f.txt");
  FILETIME old = MakeFt(0x01C0000000000000ULL);
  Handle h(Open(f, GENERIC_WRITE, 0));
  ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &old));
  h.Reset();
  ASSERT_TRUE(SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(MoveFileW(f.c_str(), testsupport::W(target).c_str()));
  EXPECT_FALSE(fs::exists(dir.path() / "f.txt"));
  EXPECT_EQ(ReadBytes(target), "across");
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(testsupport::W(target).c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(Ft64(data.ftLastWriteTime), 0x01C0000000000000ULL);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove(target, ec);

  fs::create_directory(dir.path() / "d");
  EXPECT_FALSE(MoveFileW(dir.Wide("d").c_str(), testsupport::W(target).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SAME_DEVICE));
  EXPECT_TRUE(fs::exists(dir.path() / "d"));
}
#endif

TEST(CurrentDirectory, SetReadBackAndUsedForRelativeNames) {
  TempDir dir;
  CurrentDirectory restore;
  fs::create_directory(dir.path() / "here");
  WriteBytes(dir.path() / "f.txt", "x");
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Wide("here").c_str()));
  WCHAR buffer[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, buffer);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, DWORD(MAX_PATH));
  EXPECT_EQ(plat::WLen(buffer), n);
  EXPECT_TRUE(fs::equivalent(fs::path(buffer), dir.path() / "here"));
  // Too small a buffer: the size needed, terminator included.
  EXPECT_EQ(GetCurrentDirectoryW(3, buffer), n + 1);
  EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), n + 1);

  Handle h(Open(TEXT("rel.txt"), GENERIC_WRITE, 0, CREATE_NEW));
  ASSERT_TRUE(h.valid());
  h.Reset();
  EXPECT_TRUE(fs::exists(dir.path() / "here" / "rel.txt"));
  EXPECT_NE(GetFileAttributesW(TEXT("..\\f.txt")), INVALID_FILE_ATTRIBUTES);

  EXPECT_FALSE(SetCurrentDirectoryW(dir.Wide("missing").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(SetCurrentDirectoryW(dir.Wide(TEXT("no\\such")).c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(SetCurrentDirectoryW(dir.Wide("f.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

TEST(TempPath, EndsWithASeparatorAndExists) {
  WCHAR buffer[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, buffer);
  ASSERT_GT(n, 1u);
  ASSERT_LT(n, DWORD(MAX_PATH));
  EXPECT_EQ(plat::WLen(buffer), n);
  EXPECT_TRUE(buffer[n - 1] == '\\' || buffer[n - 1] == '/');
  DWORD a = GetFileAttributesW(buffer);
  ASSERT_NE(a, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetTempPathW(3, buffer), n + 1);
}

TEST(FullPathName, ResolvesDotsAgainstTheCurrentDirectory) {
  TempDir dir;
  CurrentDirectory restore;
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Wide().c_str()));
  WCHAR cwd[MAX_PATH], full[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  LPWSTR file = nullptr;
  DWORD n = GetFullPathNameW(TEXT("a\\..\\b\\.\\c.txt"), MAX_PATH, full, &file);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(Slashed(full), Slashed(wstring(cwd) + TEXT("\\b\\c.txt")));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(wstring(file), TEXT("c.txt"));
  n = GetFullPathNameW(TEXT("x//y"), MAX_PATH, full, nullptr);
  EXPECT_EQ(n, plat::WLen(full));
  EXPECT_EQ(Slashed(full), Slashed(wstring(cwd) + TEXT("\\x\\y")));

  // ".." stops at the root; a final separator stays. A path on C: keeps its
  // drive on Windows; natively C: is the root "/" and comes back in the POSIX
  // form that rooted names have, so both spellings of one file read the same.
#ifdef _WIN32
  const wstring y = TEXT("C:\\y\\"), xy = TEXT("c:\\x\\y.txt");
#else
  const wstring y = TEXT("/y/"), xy = TEXT("/x/y.txt");
  EXPECT_EQ(GetFullPathNameW(TEXT("\\x\\y.txt"), MAX_PATH, full, nullptr), xy.size());
  EXPECT_EQ(wstring(full), xy);
#endif
  EXPECT_EQ(GetFullPathNameW(TEXT("C:\\x\\..\\..\\y\\"), MAX_PATH, full, &file), y.size());
  EXPECT_EQ(wstring(full), y);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(GetFullPathNameW(TEXT("c:/x/./y.txt"), MAX_PATH, full, &file), xy.size());
  EXPECT_EQ(wstring(full), xy);
  EXPECT_EQ(wstring(file), TEXT("y.txt"));
  EXPECT_EQ(GetFullPathNameW(TEXT("\\\\srv\\sh\\a\\..\\b"), MAX_PATH, full, nullptr), 10u);
  EXPECT_EQ(wstring(full), TEXT("\\\\srv\\sh\\b"));
  // Too small a buffer: the size needed, terminator included.
  EXPECT_EQ(GetFullPathNameW(TEXT("C:\\x\\..\\..\\y\\"), 3, full, nullptr), y.size() + 1);
}

TEST(DiskSpace, SaneFiguresForAnyDirectoryOfTheVolume) {
  TempDir dir;
  fs::create_directory(dir.path() / "sub");
  WriteBytes(dir.path() / "f.txt", "x");
  ULARGE_INTEGER available, total, free;
  ASSERT_TRUE(GetDiskFreeSpaceExW(dir.Wide("sub").c_str(), &available, &total, &free));
  EXPECT_GT(available.QuadPart, 0u);
  EXPECT_LE(available.QuadPart, free.QuadPart);
  EXPECT_LE(free.QuadPart, total.QuadPart);
  ULARGE_INTEGER again;
  ASSERT_TRUE(GetDiskFreeSpaceExW((dir.Wide() + TEXT("\\")).c_str(), nullptr, &again, nullptr));
  EXPECT_EQ(again.QuadPart, total.QuadPart);  // the same volume
  EXPECT_TRUE(GetDiskFreeSpaceExW(dir.Wide().c_str(), nullptr, nullptr, nullptr));
  EXPECT_TRUE(GetDiskFreeSpaceExW(nullptr, &again, nullptr, nullptr));  // the current directory's volume

  EXPECT_FALSE(GetDiskFreeSpaceExW(dir.Wide("f.txt").c_str(), &available, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
  EXPECT_FALSE(GetDiskFreeSpaceExW(dir.Wide("missing").c_str(), &available, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(GetDiskFreeSpaceExW(dir.Wide(TEXT("no\\such")).c_str(), &available, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(GetDiskFreeSpaceExW(TEXT("Q:\\"), &available, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
}

TEST(DriveType, RootsAnswerAndMissingDrivesHaveNoRoot) {
  for (const WCHAR* root : {TEXT("C:\\"), TEXT("C:"), TEXT("c:/"), TEXT("\\")})
    EXPECT_EQ(GetDriveTypeW(root), UINT(DRIVE_FIXED)) << plat::Utf8(root);
  EXPECT_EQ(GetDriveTypeW(nullptr), UINT(DRIVE_FIXED));
  for (const WCHAR* none : {TEXT("Q:\\"), TEXT("C:\\nothere\\"), TEXT("")})
    EXPECT_EQ(GetDriveTypeW(none), UINT(DRIVE_NO_ROOT_DIR)) << plat::Utf8(none);
  // Windows answers only for roots; Wine also answers for a directory below one.
  if (!UnderWine()) {
    TempDir dir;
    EXPECT_EQ(GetDriveTypeW((dir.Wide() + TEXT("\\")).c_str()), UINT(DRIVE_NO_ROOT_DIR));
  }
}

}  // namespace
