// Find records, times, sizes, disk space and drive types.
#include <cstdint>
#include <cstring>
#include <string>

#include "ferrow.h"
#include "fileutil/fs_internal.h"
#include "support/support.h"

namespace {

using plat::wstring;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

FILETIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME st = {};
  st.wYear = year, st.wMonth = month, st.wDay = day, st.wHour = hour, st.wMinute = minute, st.wSecond = second;
  FILETIME ft = {};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

ULONGLONG Ticks(const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

WIN32_FILE_ATTRIBUTE_DATA Attributes(const wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  return data;
}

bool AllBytesAre(const void* p, size_t n, unsigned char value) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<const unsigned char*>(p)[i] != value) return false;
  return true;
}

// Makes a sparse file of `size` bytes; false where the file system refuses.
bool MakeSparse(const wstring& path, LONGLONG size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  BOOL ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  return ok;
}

TEST(FindRecords, FileAndDirectoryAnswersWithTheRecordKept) {
  TempDir dir;
  WriteBytes(dir.path() / "f.txt", "12345");
  fs::create_directory(dir.path() / "sub");
  WIN32_FIND_DATAW rec;

  std::memset(&rec, 0xAB, sizeof rec);
  EXPECT_EQ(FU_GetFileInfo(dir.Wide("f.txt").c_str(), &rec), 1);
  EXPECT_EQ(wstring(rec.cFileName), TEXT("f.txt"));
  EXPECT_EQ(rec.nFileSizeLow, 5u);
  EXPECT_EQ(FU_GetDirInfo(dir.Wide("f.txt").c_str(), &rec), 0);
  EXPECT_EQ(wstring(rec.cFileName), TEXT("f.txt"));  // found, but not a directory

  EXPECT_EQ(FU_GetDirInfo((dir.Wide("sub") + TEXT("\\")).c_str(), &rec), 1);
  EXPECT_EQ(wstring(rec.cFileName), TEXT("sub"));
  std::memset(&rec, 0xAB, sizeof rec);
  EXPECT_EQ(FU_GetFileInfo(dir.Wide("sub").c_str(), &rec), 0);
  EXPECT_EQ(wstring(rec.cFileName), TEXT("sub"));
  EXPECT_TRUE(rec.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);

  // A pattern yields its first match.
  EXPECT_EQ(FU_GetFileInfo(dir.Wide("f*").c_str(), &rec), 1);
  EXPECT_EQ(wstring(rec.cFileName), TEXT("f.txt"));

  // Nothing found: cleared.
  std::memset(&rec, 0xAB, sizeof rec);
  EXPECT_EQ(FU_GetFileInfo(dir.Wide("missing").c_str(), &rec), 0);
  EXPECT_TRUE(AllBytesAre(&rec, sizeof rec, 0));
  std::memset(&rec, 0xAB, sizeof rec);
  EXPECT_EQ(FU_GetDirInfo(dir.Wide("missing").c_str(), &rec), 0);
  EXPECT_TRUE(AllBytesAre(&rec, sizeof rec, 0));
}

TEST(FindRecords, RefusedArgumentsLeaveTheRecordAlone) {
  WIN32_FIND_DATAW rec;
  std::memset(&rec, 0xAB, sizeof rec);
  EXPECT_EQ(FU_GetFileInfo(nullptr, &rec), 0);
  EXPECT_EQ(FU_GetFileInfo(TEXT(""), &rec), 0);
  EXPECT_EQ(FU_GetDirInfo(nullptr, &rec), 0);
  EXPECT_EQ(FU_GetDirInfo((TEXT("C:\\") + wstring(300, 'a')).c_str(), &rec), 0);  // longer than the copy
  EXPECT_TRUE(AllBytesAre(&rec, sizeof rec, 0xAB));
  EXPECT_EQ(FU_GetFileInfo(TEXT("C:\\"), nullptr), 0);
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  auto* bad = static_cast<WCHAR*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(FU_GetFileInfo(bad, &rec), 0);
  EXPECT_EQ(FU_GetDirInfo(bad, &rec), 0);
  EXPECT_EQ(FU_GetFileInfo(TEXT("C:\\"), reinterpret_cast<WIN32_FIND_DATAW*>(bad)), 0);
  VirtualFree(bad, 0, MEM_RELEASE);
}

TEST(Times, SetLastModifyTimeSetsAccessAndWriteOfExistingFilesOnly) {
  TempDir dir;
  const wstring file = dir.Wide("f");
  WriteBytes(dir.path() / "f", "x");
  const FILETIME when = Time(2004, 10, 7, 14, 5, 8);
  ASSERT_EQ(FU_SetLastModifyTime(file.c_str(), &when), 1);
  WIN32_FILE_ATTRIBUTE_DATA data = Attributes(file);
  EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(when));
  EXPECT_EQ(Ticks(data.ftLastAccessTime), Ticks(when));
  EXPECT_EQ(testsupport::ReadBytes(dir.path() / "f"), "x");

  EXPECT_EQ(FU_SetLastModifyTime(dir.Wide().c_str(), &when), 0);  // a directory
  EXPECT_EQ(FU_SetLastModifyTime(dir.Wide("missing").c_str(), &when), 0);
  EXPECT_EQ(FU_Touch(dir.Wide("missing").c_str()), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
  EXPECT_EQ(FU_SetLastModifyTime(nullptr, &when), 0);
  EXPECT_EQ(FU_SetLastModifyTime(file.c_str(), nullptr), 0);
}

#ifndef _WIN32
// Under Wine, running as root here, a read-only file opens for writing.
TEST(Times, ReadOnlyFilesKeepTheirTimes) {
  TempDir dir;
  WriteBytes(dir.path() / "ro", "x");
  ASSERT_TRUE(SetFileAttributesW(dir.Wide("ro").c_str(), FILE_ATTRIBUTE_READONLY));
  const FILETIME when = Time(2001, 2, 3, 4, 5, 6);
  EXPECT_EQ(FU_SetLastModifyTime(dir.Wide("ro").c_str(), &when), 0);
  EXPECT_NE(Ticks(Attributes(dir.Wide("ro")).ftLastWriteTime), Ticks(when));
}
#endif

TEST(Times, TouchSetsTheCurrentTime) {
  TempDir dir;
  const wstring file = dir.Wide("f");
  WriteBytes(dir.path() / "f", "x");
  const FILETIME old = Time(1999, 1, 1, 0, 0, 0);
  ASSERT_EQ(FU_SetLastModifyTime(file.c_str(), &old), 1);
  FILETIME before, after;
  GetSystemTimeAsFileTime(&before);
  ASSERT_EQ(FU_Touch(file.c_str()), 1);
  GetSystemTimeAsFileTime(&after);
  // SYSTEMTIME holds milliseconds: the touched time may lie up to 1 ms before `before`.
  const ULONGLONG t = Ticks(Attributes(file).ftLastWriteTime);
  EXPECT_GE(t + 10000, Ticks(before));
  EXPECT_LE(t, Ticks(after));
}

struct TimeText {
  FILETIME time;
  BOOL result;
  const char* text;
};

TEST(Times, TranslateFileTimeWritesDosPrecisionText) {
  const TimeText cases[] = {
      {Time(2004, 10, 7, 14, 5, 8), 1, "14:05:08 07.Oct.2004"},
      {Time(1980, 1, 1, 0, 0, 1), 1, "00:00:00 01.Jan.1980"},  // seconds go down to even
      {Time(2107, 12, 31, 23, 59, 59), 1, "23:59:58 31.Dec.2107"},
      {Time(2023, 5, 9, 9, 0, 0), 1, "09:00:00 09.May.2023"},
      {Time(1980, 1, 1, 0, 0, 0), 1, "00:00:00 01.Jan.1980"},
      {Time(1979, 12, 31, 23, 59, 59), 0, ""},  // before what the DOS words hold
      {Time(1970, 6, 1, 12, 0, 0), 0, ""},
      {Time(2108, 1, 1, 0, 0, 0), 0, ""},
  };
  for (const TimeText& c : cases) {
    WCHAR text[22];
    for (WCHAR& ch : text) ch = 'x';
    EXPECT_EQ(FU_TranslateFileTime(&c.time, text), c.result) << c.text;
    EXPECT_EQ(plat::Utf8(text), c.text);
    EXPECT_EQ(text[21], 'x');  // 21 units are all it may write
  }
  WCHAR text[21] = {'k', 0};
  const FILETIME t = Time(2004, 10, 7, 14, 5, 8);
  EXPECT_EQ(FU_TranslateFileTime(nullptr, text), 0);
  EXPECT_EQ(text[0], 'k');
  EXPECT_EQ(FU_TranslateFileTime(&t, nullptr), 0);
}

TEST(Sizes, SizeIsWrittenAsTwoHalvesLowFirst) {
  TempDir dir;
  WriteBytes(dir.path() / "five", "12345");
  // Two DWORDs that are not aligned to 8, as a caller's pair may be.
  DWORD storage[3] = {7, 7, 7};
  DWORD* halves = reinterpret_cast<uintptr_t>(storage) % 8 ? storage : storage + 1;
  ASSERT_EQ(FU_GetFileSize(dir.Wide("five").c_str(), reinterpret_cast<ULARGE_INTEGER*>(halves)), 1);
  EXPECT_EQ(halves[0], 5u);
  EXPECT_EQ(halves[1], 0u);
  ASSERT_EQ(FU_GetFileSize(dir.Wide().c_str(), reinterpret_cast<ULARGE_INTEGER*>(halves)), 1);
  EXPECT_EQ(halves[0], 0u);  // a directory has size 0
  EXPECT_EQ(halves[1], 0u);
  EXPECT_EQ(FU_GetFileSize(dir.Wide("missing").c_str(), reinterpret_cast<ULARGE_INTEGER*>(halves)), 0);
  EXPECT_EQ(FU_GetFileSize(nullptr, reinterpret_cast<ULARGE_INTEGER*>(halves)), 0);
  EXPECT_EQ(FU_GetFileSize(dir.Wide("five").c_str(), nullptr), 0);

  if (!MakeSparse(dir.Wide("big"), 0x100000003LL)) GTEST_SKIP() << "this file system refuses a file of 4 GiB";
  ULARGE_INTEGER size = {};
  ASSERT_EQ(FU_GetFileSize(dir.Wide("big").c_str(), &size), 1);
  EXPECT_EQ(size.LowPart, 3u);
  EXPECT_EQ(size.HighPart, 1u);
}

TEST(Disk, SpaceOfTheVolumeThatHoldsADirectory) {
  TempDir dir;
  const wstring path = dir.Wide();
  const ULONGLONG total = FU_GetDiskTotalAvailable(path.c_str());
  ASSERT_GT(total, 0u);
  EXPECT_EQ(FU_GetDiskTotalAvailable((path + TEXT("\\")).c_str()), total);
  EXPECT_LE(FU_GetDiskAvailable(path.c_str()), total);
  EXPECT_LE(FU_GetDiskFree(path.c_str()), total);
  // Only a consistency check is possible on a real volume, whose free space
  // moves under other processes: the exact rounding is checked on the helper.
  const ULONGLONG mb = FU_GetDiskFreeMB(path.c_str()), bytes = FU_GetDiskFree(path.c_str());
  EXPECT_NEAR(double(mb), double(bytes >> 20), 1024.0);
  EXPECT_EQ(ferrow::ToMegabytes(1048575), 0u);
  EXPECT_EQ(ferrow::ToMegabytes(1048576), 1u);
  EXPECT_EQ(ferrow::ToMegabytes(0xFFFFFFFFFFFFFFFFull), 0xFFFFFFFFFFFull);

  EXPECT_EQ(FU_GetDiskFree(dir.Wide("missing").c_str()), 0u);
  EXPECT_EQ(FU_GetDiskFreeMB(nullptr), 0u);
  EXPECT_EQ(FU_GetDiskFree((TEXT("C:\\") + wstring(300, 'a')).c_str()), 0u);
}

struct DriveCase {
  const char* path;
  const char* root;  // whose type the answer is, or NULL
  UINT type;         // the answer when root is NULL
};

TEST(Drives, TypeOfThePathsDrive) {
  const DriveCase cases[] = {
      {"C:\\dir", "C:\\", 0},  {"c:/dir/", "c:\\", 0},  {"\\\\?\\C:\\x", "\\\\?\\C:\\", 0},
      {"\\\\server\\share", nullptr, DRIVE_REMOTE},    {"dir\\file", nullptr, 0},
      {"\\dir", nullptr, 0},    {"", nullptr, 0},
  };
  for (const DriveCase& c : cases) {
    const wstring path = plat::Wide(c.path);
    const UINT expected = c.root ? GetDriveTypeW(plat::Wide(c.root).c_str()) : c.type;
    EXPECT_EQ(FU_GetDriveType(path.c_str()), expected) << c.path;
  }
  EXPECT_EQ(FU_GetDriveType(nullptr), 0u);
  // A drive without a root directory reads as a disconnected network drive.
  for (const char* letter : {"Q", "R", "W"}) {
    const wstring root = plat::Wide(letter) + TEXT(":\\");
    if (GetDriveTypeW(root.c_str()) != DRIVE_NO_ROOT_DIR) continue;
    EXPECT_EQ(FU_GetDriveType((root + TEXT("x")).c_str()), UINT(DRIVE_REMOTE));
    break;
  }
}

}  // namespace
