// Open files: creation modes, contents, the file pointer, sizes, times and
// the read-only attribute. Each test passes natively and under Wine.
#include <filesystem>

#include "files.h"
#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace fstest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

struct Creation {
  const char* name;
  DWORD mode;
  // Over a missing file: the last error (0: created); over an existing one:
  // the last error of the open and whether its contents survive.
  DWORD missing, existing;
  bool opensExisting, keepsContents;
};

class CreationModes : public ::testing::TestWithParam<Creation> {};

TEST_P(CreationModes, CreateOpenOrFailAsWindowsDoes) {
  const Creation& c = GetParam();
  TempDir dir;
  wstring fresh = dir.Wide("fresh.bin"), old = dir.Wide("old.bin");
  WriteBytes(dir.path() / "old.bin", "old contents");

  SetLastError(12345);
  Handle h(Open(fresh, GENERIC_READ | GENERIC_WRITE, 0, c.mode));
  EXPECT_EQ(GetLastError(), c.missing);
  EXPECT_EQ(h.valid(), c.missing == 0);
  EXPECT_EQ(fs::exists(dir.path() / "fresh.bin"), c.missing == 0);

  SetLastError(12345);
  h.Reset(Open(old, GENERIC_READ | GENERIC_WRITE, 0, c.mode));
  EXPECT_EQ(GetLastError(), c.existing);
  EXPECT_EQ(h.valid(), c.opensExisting);
  h.Reset();
  EXPECT_EQ(ReadBytes(dir.path() / "old.bin"), c.keepsContents ? "old contents" : "");

  // A directory on the way that is missing is "path not found", whatever the mode.
  EXPECT_EQ(OpenError(dir.Wide(TEXT("no\\such.bin")), GENERIC_WRITE, 0, c.mode), DWORD(ERROR_PATH_NOT_FOUND));
}

INSTANTIATE_TEST_SUITE_P(
    File, CreationModes,
    ::testing::Values(Creation{"CreateNew", CREATE_NEW, 0, ERROR_FILE_EXISTS, false, true},
                      Creation{"CreateAlways", CREATE_ALWAYS, 0, ERROR_ALREADY_EXISTS, true, false},
                      Creation{"OpenExisting", OPEN_EXISTING, ERROR_FILE_NOT_FOUND, 0, true, true},
                      Creation{"OpenAlways", OPEN_ALWAYS, 0, ERROR_ALREADY_EXISTS, true, true},
                      Creation{"TruncateExisting", TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND, 0, true, false}),
    [](const ::testing::TestParamInfo<Creation>& info) { return std::string(info.param.name); });

TEST(File, DirectoriesAndBadArgumentsAreRefused) {
  TempDir dir;
  fs::create_directory(dir.path() / "sub");
  WriteBytes(dir.path() / "f.txt", "x");
  EXPECT_EQ(OpenError(dir.Wide("sub"), GENERIC_READ, FILE_SHARE_READ), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenError(dir.Wide("sub"), GENERIC_WRITE, 0, CREATE_ALWAYS), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(OpenError(dir.Wide("sub"), GENERIC_WRITE, 0, CREATE_NEW), DWORD(ERROR_FILE_EXISTS));
  EXPECT_EQ(OpenError(dir.Wide(TEXT("f.txt\\")), GENERIC_READ, 0), DWORD(ERROR_INVALID_NAME));
  EXPECT_EQ(OpenError(dir.Wide(TEXT("f.txt\\x")), GENERIC_READ, 0), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(OpenError(dir.Wide("f.txt"), GENERIC_READ, 0, 0), DWORD(ERROR_INVALID_PARAMETER));
  // Directories open only for their metadata, with backup semantics.
  Handle h(Open(dir.Wide("sub"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  EXPECT_TRUE(h.valid());

  DWORD n = 7;
  char byte;
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  HANDLE closed = Open(dir.Wide("f.txt"), GENERIC_READ, 0);
  ASSERT_TRUE(CloseHandle(closed));
  EXPECT_FALSE(CloseHandle(closed));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(File, ReadsStopShortAtTheEndAndAccessIsChecked) {
  TempDir dir;
  wstring path = dir.Wide("data.bin");
  {
    Handle h(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN));
    ASSERT_TRUE(h.valid());
    ASSERT_TRUE(Write(h.get(), "0123456789"));
    EXPECT_EQ(SetFilePointer(h.get(), 8, nullptr, FILE_BEGIN), 8u);
    EXPECT_EQ(Read(h.get(), 20), "89");
    DWORD n = 99;
    char buffer[4];
    EXPECT_TRUE(ReadFile(h.get(), buffer, 4, &n, nullptr));  // at the end: success with nothing
    EXPECT_EQ(n, 0u);
    // Writing past the end leaves a gap of zeros.
    EXPECT_EQ(SetFilePointer(h.get(), 12, nullptr, FILE_BEGIN), 12u);
    ASSERT_TRUE(Write(h.get(), "Z"));
    EXPECT_TRUE(FlushFileBuffers(h.get()));
  }
  EXPECT_EQ(ReadBytes(dir.path() / "data.bin"), std::string("0123456789\0\0Z", 13));

  DWORD n = 99;
  char buffer[4] = {};
  Handle reader(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_FALSE(WriteFile(reader.get(), "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(FlushFileBuffers(reader.get()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  Handle writer(Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_FALSE(ReadFile(writer.get(), buffer, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Read(reader.get(), 4), "0123");
}

TEST(File, PointerMovesWithTheHighPartAndRefusesNegativePositions) {
  TempDir dir;
  Handle h(Open(dir.Wide("p.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
  ASSERT_TRUE(Write(h.get(), "0123456789"));
  EXPECT_EQ(SetFilePointer(h.get(), -3, nullptr, FILE_END), 7u);
  EXPECT_EQ(SetFilePointer(h.get(), -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(h.get(), 0, nullptr, FILE_CURRENT), 7u);  // not moved
  EXPECT_EQ(SetFilePointer(h.get(), 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  // Without a high part the distance is signed: 0x80000000 is before the start.
  EXPECT_EQ(SetFilePointer(h.get(), LONG(0x80000000u), nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));

  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h.get(), 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  high = 0;
  EXPECT_EQ(SetFilePointer(h.get(), 0, &high, FILE_CURRENT), 16u);
  EXPECT_EQ(high, 1);
  // A position whose low part looks like the failure value succeeds with error 0.
  high = 0;
  SetLastError(77);
  EXPECT_EQ(SetFilePointer(h.get(), -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), DWORD(NO_ERROR));
  EXPECT_EQ(high, 0);
  high = -1;
  EXPECT_EQ(SetFilePointer(h.get(), -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));

  LARGE_INTEGER to, now;
  to.QuadPart = -1;
  EXPECT_FALSE(SetFilePointerEx(h.get(), to, &now, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
  to.QuadPart = 2;
  ASSERT_TRUE(SetFilePointerEx(h.get(), to, &now, FILE_BEGIN));
  EXPECT_EQ(now.QuadPart, 2);
  to.QuadPart = 3;
  ASSERT_TRUE(SetFilePointerEx(h.get(), to, nullptr, FILE_CURRENT));
  EXPECT_EQ(Read(h.get(), 2), "56");
}

TEST(File, SizesBeyondFourGigabytesSplitIntoTwoHalves) {
  TempDir dir;
  WriteBytes(dir.path() / "big.bin", "");
  fs::resize_file(dir.path() / "big.bin", 0x100000005ULL);  // sparse: nothing is written
  Handle h(Open(dir.Wide("big.bin"), GENERIC_READ, FILE_SHARE_READ));
  ASSERT_TRUE(h.valid());
  DWORD high = 0;
  EXPECT_EQ(GetFileSize(h.get(), &high), 5u);
  EXPECT_EQ(high, 1u);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h.get(), &size));
  EXPECT_EQ(size.QuadPart, 0x100000005LL);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(dir.Wide("big.bin").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  h.Reset();

  // A size whose low part is all ones succeeds with error 0.
  fs::resize_file(dir.path() / "big.bin", 0xFFFFFFFFULL);
  h.Reset(Open(dir.Wide("big.bin"), GENERIC_READ, FILE_SHARE_READ));
  SetLastError(77);
  EXPECT_EQ(GetFileSize(h.get(), nullptr), INVALID_FILE_SIZE);
  EXPECT_EQ(GetLastError(), DWORD(NO_ERROR));
}

TEST(File, EndOfFileFollowsThePointerBothWays) {
  TempDir dir;
  Handle h(Open(dir.Wide("e.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
  ASSERT_TRUE(Write(h.get(), "abcdef"));
  SetFilePointer(h.get(), 2, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h.get()));
  EXPECT_EQ(GetFileSize(h.get(), nullptr), 2u);
  EXPECT_EQ(SetFilePointer(h.get(), 0, nullptr, FILE_CURRENT), 2u);
  SetFilePointer(h.get(), 5000, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h.get()));
  EXPECT_EQ(GetFileSize(h.get(), nullptr), 5000u);
  SetFilePointer(h.get(), 0, nullptr, FILE_BEGIN);
  EXPECT_EQ(Read(h.get(), 5000), "ab" + std::string(4998, '\0'));
}

// Wine keeps no creation time of its own (it reads as the last-write time),
// so the creation time is compared where it is kept: natively and on Windows.
TEST(FileTime, SetAndReadBackWithNullAndZeroLeavingTimesAlone) {
  const bool keepsCreation = !UnderWine();
  TempDir dir;
  wstring path = dir.Wide("t.bin");
  const ULONGLONG created = 0x01C0000012345670ULL, accessed = 0x01D0000000000100ULL,
                  written = 0x01D5000000000200ULL;  // 100 ns steps, between 1980 and 2030
  {
    Handle h(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
    FILETIME c = MakeFt(created), a = MakeFt(accessed), w = MakeFt(written);
    ASSERT_TRUE(SetFileTime(h.get(), &c, &a, &w));
    FILETIME c2, a2, w2;
    ASSERT_TRUE(GetFileTime(h.get(), &c2, &a2, &w2));
    if (keepsCreation) {
      EXPECT_EQ(Ft64(c2), created);
    }
    EXPECT_EQ(Ft64(a2), accessed);
    EXPECT_EQ(Ft64(w2), written);
    EXPECT_TRUE(GetFileTime(h.get(), nullptr, nullptr, nullptr));

    FILETIME zero = {0, 0}, later = MakeFt(written + 10000000);
    ASSERT_TRUE(SetFileTime(h.get(), nullptr, &zero, &later));  // access stays
    ASSERT_TRUE(GetFileTime(h.get(), &c2, &a2, &w2));
    if (keepsCreation) {
      EXPECT_EQ(Ft64(c2), created);
    }
    EXPECT_EQ(Ft64(a2), accessed);
    EXPECT_EQ(Ft64(w2), written + 10000000);
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  if (keepsCreation) {
    EXPECT_EQ(Ft64(data.ftCreationTime), created);
  }
  EXPECT_EQ(Ft64(data.ftLastWriteTime), written + 10000000);
}

TEST(FileTime, AWriteMovesTheLastWriteTime) {
  TempDir dir;
  wstring path = dir.Wide("w.bin");
  const ULONGLONG old = 0x01C0000000000000ULL;  // in 1981
  Handle h(Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW));
  FILETIME ft = MakeFt(old);
  ASSERT_TRUE(SetFileTime(h.get(), nullptr, nullptr, &ft));
  ASSERT_TRUE(Write(h.get(), "new"));
  h.Reset();
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_GT(Ft64(data.ftLastWriteTime), old);
  EXPECT_LE(Ft64(data.ftLastWriteTime), Ft64(now) + 20000000);
}

TEST(ReadOnly, SurvivesARoundTripAndGuardsTheFile) {
  TempDir dir;
  wstring path = dir.Wide("ro.txt");
  WriteBytes(dir.path() / "ro.txt", "keep");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
            DWORD(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(OpenError(path, GENERIC_READ, FILE_SHARE_READ), 0u);
  // Wine run by root lets the host's permission check pass and opens the file
  // for writing; Windows refuses.
  if (!UnderWine()) {
    EXPECT_EQ(OpenError(path, GENERIC_WRITE, 0), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenError(path, GENERIC_WRITE, 0, CREATE_ALWAYS), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenError(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING), DWORD(ERROR_ACCESS_DENIED));
  }
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadBytes(dir.path() / "ro.txt"), "keep");

  // A rename is allowed and the attribute goes along.
  wstring moved = dir.Wide("moved.txt");
  ASSERT_TRUE(MoveFileW(path.c_str(), moved.c_str()));
  EXPECT_TRUE(GetFileAttributesW(moved.c_str()) & FILE_ATTRIBUTE_READONLY);

  // FILE_ATTRIBUTE_NORMAL alone clears it.
  ASSERT_TRUE(SetFileAttributesW(moved.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(GetFileAttributesW(moved.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(OpenError(moved, GENERIC_WRITE, 0), 0u);
  EXPECT_TRUE(DeleteFileW(moved.c_str()));
}

TEST(ReadOnly, ANewFileMadeReadOnlyKeepsAWritableHandle) {
  TempDir dir;
  wstring path = dir.Wide("r.txt");
  Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr));
  ASSERT_TRUE(h.valid());
  EXPECT_TRUE(Write(h.get(), "abc"));
  h.Reset();
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ReadBytes(dir.path() / "r.txt"), "abc");
}

// Wine adds ARCHIVE to every file (Windows reads back exactly what was set,
// NORMAL when nothing): the bits compared here leave ARCHIVE and NORMAL out.
struct AttributeCase {
  const char* name;
  DWORD set, expected;
};

class AttributeRoundTrip : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeRoundTrip, ReadsBackWhatWasSet) {
  const AttributeCase& c = GetParam();
  TempDir dir;
  wstring path = dir.Wide("a.txt");
  WriteBytes(dir.path() / "a.txt", "x");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.set));
  const DWORD compared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_DIRECTORY;
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & compared, c.expected & compared);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.dwFileAttributes & compared, c.expected & compared);
#ifndef _WIN32
  EXPECT_EQ(GetFileAttributesW(path.c_str()), c.expected);
#endif
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, AttributeRoundTrip,
    ::testing::Values(
        AttributeCase{"Normal", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        AttributeCase{"Nothing", 0, FILE_ATTRIBUTE_NORMAL},
        AttributeCase{"Hidden", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        AttributeCase{"HiddenSystemReadOnly", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY,
                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
        AttributeCase{"NormalIsIgnoredBesideOthers", FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
        AttributeCase{"DirectoryCannotBeSetOnAFile", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE,
                      FILE_ATTRIBUTE_ARCHIVE}),
    [](const ::testing::TestParamInfo<AttributeCase>& info) { return std::string(info.param.name); });

TEST(Attributes, DirectoriesKeepHiddenAndNewFilesStartArchived) {
  TempDir dir;
  fs::create_directory(dir.path() / "d");
  wstring d = dir.Wide("d");
  ASSERT_TRUE(SetFileAttributesW(d.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetFileAttributesW(d.c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW(d.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(d.c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY));

  Handle h(Open(dir.Wide("new.txt"), GENERIC_WRITE, 0, CREATE_NEW));
  h.Reset();
  EXPECT_EQ(GetFileAttributesW(dir.Wide("new.txt").c_str()), DWORD(FILE_ATTRIBUTE_ARCHIVE));
  h.Reset(CreateFileW(dir.Wide("hidden.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                      nullptr));
  h.Reset();
  EXPECT_EQ(GetFileAttributesW(dir.Wide("hidden.txt").c_str()), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
#ifndef _WIN32
  // After NORMAL a write marks the file for archiving again, as on Windows.
  wstring n = dir.Wide("new.txt");
  ASSERT_TRUE(SetFileAttributesW(n.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(n.c_str()), DWORD(FILE_ATTRIBUTE_NORMAL));
  h.Reset(Open(n, GENERIC_WRITE, 0));
  ASSERT_TRUE(Write(h.get(), "x"));
  h.Reset();
  EXPECT_EQ(GetFileAttributesW(n.c_str()), DWORD(FILE_ATTRIBUTE_ARCHIVE));
#endif
}

#ifndef _WIN32
class FullDisk : public ::testing::Test {
 protected:
  ~FullDisk() override { plat_hooks::FailWritesAfter(~0ULL); }
};

TEST_F(FullDisk, AWriteKeepsWhatFitsAndGrowthFailsWhole) {
  TempDir dir;
  Handle h(Open(dir.Wide("d.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
  plat_hooks::FailWritesAfter(10);
  ASSERT_TRUE(Write(h.get(), "012345"));
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(h.get(), "6789ab", 6, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  EXPECT_EQ(n, 4u);
  EXPECT_FALSE(WriteFile(h.get(), "c", 1, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetFileSize(h.get(), nullptr), 10u);

  plat_hooks::FailWritesAfter(100);
  SetFilePointer(h.get(), 200, nullptr, FILE_BEGIN);
  EXPECT_FALSE(SetEndOfFile(h.get()));  // 190 bytes more do not fit
  EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
  EXPECT_EQ(GetFileSize(h.get(), nullptr), 10u);
  SetFilePointer(h.get(), 60, nullptr, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(h.get()));  // 50 do, and leave 50
  EXPECT_EQ(GetFileSize(h.get(), nullptr), 60u);
  SetFilePointer(h.get(), 0, nullptr, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(h.get()));  // shrinking costs nothing
  EXPECT_FALSE(WriteFile(h.get(), std::string(51, 'x').data(), 51, &n, nullptr));
  EXPECT_EQ(n, 50u);

  plat_hooks::FailWritesAfter(~0ULL);
  EXPECT_TRUE(Write(h.get(), std::string(1000, 'y')));
  EXPECT_EQ(GetFileSize(h.get(), nullptr), 1050u);
}
#endif

}  // namespace
