// Compressed files held by another process: FU_WriteFile and FU_ReadFile try
// three times, 100 ms apart, then give up while the holder still holds the
// file, and so do the file-to-file functions. Nothing is written over or
// deleted from under the holder.
#include <filesystem>

#include "support/support.h"
#include "zip_testing.h"

namespace {

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::wstring;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

bool Exists(const wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits up to `ms` for a file to appear.
bool WaitFor(const wstring& path, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!Exists(path)) {
    if (GetTickCount() - start > ms) return false;
    Sleep(5);
  }
  return true;
}

// Holds FILE open for reading and writing without sharing, makes MARKER once it
// does, and lets go when RELEASE appears (or after 20 s at the latest).
QZ_CHILD_ROLE(zipfile_hold) {
  if (args.size() != 3) return 2;
  HANDLE h = CreateFileW(args[0].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  HANDLE marker = CreateFileW(args[1].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(marker);
  const bool released = WaitFor(args[2], 20000);
  CloseHandle(h);
  return released ? 0 : 5;
}

DWORD Elapsed(DWORD start) { return GetTickCount() - start; }

TEST(ZipFileSharing, AFileHeldElsewhereIsTriedThreeTimesThenGivenUp) {
  TempDir dir;
  const std::string original = "held by another process";
  WriteBytes(dir.path() / "held", original);
  const Bytes text = Generate(Kind::Text, 20000, 3);
  WriteBytes(dir.path() / "src", std::string(text.begin(), text.end()));
  const wstring held = dir.Wide("held"), src = dir.Wide("src");

  testsupport::Child holder("zipfile_hold", {held, dir.Wide("marker"), dir.Wide("release")});
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(WaitFor(dir.Wide("marker"), 60000)) << "the holder did not start";

  Bytes data = text;
  DWORD start = GetTickCount();
  EXPECT_EQ(FU_WriteFile(held.c_str(), data.data(), 20000, 0), 0);
  const DWORD writeMs = Elapsed(start);
  ULONG size = 7;
  start = GetTickCount();
  EXPECT_EQ(FU_ReadFile(held.c_str(), &size, FU_AllocProcHeap), nullptr);
  const DWORD readMs = Elapsed(start);
  EXPECT_EQ(size, 0u);
  // The file-to-file functions, held as target and as source.
  EXPECT_EQ(FU_ZIPFile(held.c_str(), src.c_str()), 0);
  EXPECT_EQ(FU_UnZIPFile(held.c_str(), src.c_str()), 0);
  EXPECT_EQ(FU_ZIPFile(dir.Wide("z").c_str(), held.c_str()), 0);
  EXPECT_EQ(FU_UnZIPFile(dir.Wide("u").c_str(), held.c_str()), 0);

  // They gave up rather than waiting for the holder, which still holds the file.
  HANDLE probe = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD probeError = GetLastError();
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  EXPECT_EQ(probe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(probeError, DWORD(ERROR_SHARING_VIOLATION));
  // Two pauses of 100 ms between three attempts (less a tick of the clock).
  EXPECT_GE(writeMs, 180u);
  EXPECT_GE(readMs, 180u);

  WriteBytes(dir.path() / "release", "");
  EXPECT_EQ(holder.Wait(60000), 0);
  EXPECT_EQ(ReadBytes(dir.path() / "held"), original);
  EXPECT_FALSE(fs::exists(dir.path() / "z"));
  EXPECT_FALSE(fs::exists(dir.path() / "u"));

  // Let go, the file is there to be written and read.
  ASSERT_EQ(FU_WriteFile(held.c_str(), data.data(), 20000, 1), 1);
  void* back = FU_ReadFile(held.c_str(), &size, FU_AllocProcHeap);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Bytes(static_cast<unsigned char*>(back), static_cast<unsigned char*>(back) + size), text);
  FU_AllocProcHeap(back, 0);
}

// Readers share with readers only: a reading handle elsewhere lets FU_ReadFile
// in and keeps FU_WriteFile out; a writing handle that shares reading keeps
// FU_ReadFile out too, as it does not share writing.
TEST(ZipFileSharing, ReadersShareReadingOnly) {
  TempDir dir;
  WriteBytes(dir.path() / "f", "plain contents");
  const wstring path = dir.Wide("f");
  unsigned char data[] = "new";
  ULONG size = 0;
  for (DWORD access : {DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)}) {
    HANDLE other = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    void* p = FU_ReadFile(path.c_str(), &size, FU_AllocProcHeap);
    EXPECT_EQ(p != nullptr, access == GENERIC_READ);
    if (p) {
      EXPECT_EQ(std::string(static_cast<char*>(p), size), "plain contents");
    }
    FU_AllocProcHeap(p, 0);
    EXPECT_EQ(FU_WriteFile(path.c_str(), data, 3, 0), 0);
    CloseHandle(other);
    EXPECT_EQ(ReadBytes(dir.path() / "f"), "plain contents");
  }
}

}  // namespace
