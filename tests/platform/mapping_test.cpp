// File mappings: views of a file see its content and write through to it,
// a mapping grows its file only when it may write, views outlive the handles
// they came from, and bad requests fail with the codes Windows gives.
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "files.h"

namespace {

namespace fs = std::filesystem;
using namespace fstest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

struct MappingRequest {
  const char* name;
  DWORD access;   // of the file's handle
  DWORD protect;  // of the mapping
  DWORD size;     // asked of the mapping; the file holds 100 bytes
  DWORD error;    // 0: the mapping is made
  ULONGLONG fileSizeAfter;
};

class Mappings : public ::testing::TestWithParam<MappingRequest> {};

TEST_P(Mappings, AreMadeOrRefusedAsWindowsDoes) {
  const MappingRequest& c = GetParam();
  TempDir dir;
  const wstring path = dir.Wide("m.bin");
  WriteBytes(dir.path() / "m.bin", std::string(100, 'm'));
  Handle file(Open(path, c.access, FILE_SHARE_READ));
  ASSERT_TRUE(file.valid());
  HANDLE mapping = CreateFileMappingW(file.get(), nullptr, c.protect, 0, c.size, nullptr);
  EXPECT_EQ(mapping != nullptr, c.error == 0);
  if (!mapping) {
    EXPECT_EQ(GetLastError(), c.error);
  }
  if (mapping) CloseHandle(mapping);
  file.Reset();
  EXPECT_EQ(fs::file_size(dir.path() / "m.bin"), c.fileSizeAfter);
}

const DWORD kRead = GENERIC_READ, kReadWrite = GENERIC_READ | GENERIC_WRITE;
const MappingRequest kMappingRequests[] = {
    {"WholeFileReadOnly", kRead, PAGE_READONLY, 0, 0, 100},
    {"PartReadOnly", kRead, PAGE_READONLY, 10, 0, 100},
    {"GrowsWhenWritable", kReadWrite, PAGE_READWRITE, 70000, 0, 70000},
    {"ReadOnlyCannotGrow", kRead, PAGE_READONLY, 70000, ERROR_NOT_ENOUGH_MEMORY, 100},
    {"WritableNeedsWriteAccess", kRead, PAGE_READWRITE, 0, ERROR_ACCESS_DENIED, 100},
    {"CopyOnWriteOfAReader", kRead, PAGE_WRITECOPY, 0, 0, 100},
};

INSTANTIATE_TEST_SUITE_P(Platform, Mappings, ::testing::ValuesIn(kMappingRequests),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Mapping, AnEmptyFileCannotBeMappedWhole) {
  TempDir dir;
  WriteBytes(dir.path() / "e.bin", "");
  Handle file(Open(dir.Wide("e.bin"), GENERIC_READ, FILE_SHARE_READ));
  ASSERT_TRUE(file.valid());
  EXPECT_EQ(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_INVALID));
}

TEST(Mapping, ViewsSeeTheFileWriteThroughAndOutliveTheirHandles) {
  TempDir dir;
  const wstring path = dir.Wide("v.bin");
  std::string content(3 * 65536 + 5, 'a');
  content[65536] = 'B';
  content.back() = 'Z';
  WriteBytes(dir.path() / "v.bin", content);
  Handle file(Open(path, GENERIC_READ | GENERIC_WRITE, 0));
  ASSERT_TRUE(file.valid());
  HANDLE mapping = CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  char* whole = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  char* second = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 65536, 10));
  char* copy = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 0));
  ASSERT_TRUE(whole && second && copy);
  // Both handles may go: the views keep the file.
  CloseHandle(mapping);
  file.Reset();
  EXPECT_EQ(std::string(whole, content.size()), content);
  EXPECT_EQ(second[0], 'B');
  whole[65537] = 'W';
  EXPECT_EQ(second[1], 'W');  // one file under both views
  copy[0] = 'c';              // a copy's writes stay its own
  EXPECT_EQ(whole[0], 'a');
  // Any address inside a view lets it go; a view goes once.
  EXPECT_TRUE(UnmapViewOfFile(whole + 100));
  EXPECT_TRUE(UnmapViewOfFile(second));
  EXPECT_TRUE(UnmapViewOfFile(copy));
  EXPECT_FALSE(UnmapViewOfFile(second));
  EXPECT_EQ(ReadBytes(dir.path() / "v.bin"), content.substr(0, 65537) + "W" + content.substr(65538));
}

struct ViewRequest {
  const char* name;
  DWORD protect, access, offset;
  SIZE_T bytes;
  DWORD error;  // 0: the view is made
};

class Views : public ::testing::TestWithParam<ViewRequest> {};

// The mapping covers 2 * 65536 + 100 bytes.
TEST_P(Views, AreRefusedWhereTheyCannotBe) {
  const ViewRequest& c = GetParam();
  TempDir dir;
  WriteBytes(dir.path() / "r.bin", std::string(2 * 65536 + 100, 'r'));
  Handle file(Open(dir.Wide("r.bin"), GENERIC_READ | GENERIC_WRITE, 0));
  ASSERT_TRUE(file.valid());
  HANDLE mapping = CreateFileMappingW(file.get(), nullptr, c.protect, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  void* view = MapViewOfFile(mapping, c.access, 0, c.offset, c.bytes);
  EXPECT_EQ(view != nullptr, c.error == 0);
  if (!view) {
    EXPECT_EQ(GetLastError(), c.error);
  } else {
    EXPECT_TRUE(UnmapViewOfFile(view));
  }
  CloseHandle(mapping);
}

const ViewRequest kViewRequests[] = {
    {"TheLastPart", PAGE_READONLY, FILE_MAP_READ, 2 * 65536, 0, 0},
    {"UnalignedOffset", PAGE_READONLY, FILE_MAP_READ, 4096, 0, ERROR_MAPPED_ALIGNMENT},
    {"WriteOfAReadOnlyMapping", PAGE_READONLY, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
    {"BeyondTheMapping", PAGE_READONLY, FILE_MAP_READ, 0, 3 * 65536, ERROR_ACCESS_DENIED},
    {"CopyOfAReadOnlyMapping", PAGE_READONLY, FILE_MAP_COPY, 0, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Platform, Views, ::testing::ValuesIn(kViewRequests),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Mapping, MemoryOfItsOwnIsSharedByItsViews) {
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
  ASSERT_NE(mapping, nullptr);
  char* a = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  char* b = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b[10], 0);
  a[10] = 42;
  EXPECT_EQ(b[10], 42);
  EXPECT_TRUE(UnmapViewOfFile(a));
  EXPECT_TRUE(UnmapViewOfFile(b));
  CloseHandle(mapping);
}

#ifndef _WIN32
// The pages of a view that the process has mapped, by /proc/self/pagemap.
size_t PresentPages(const void* view, size_t pages) {
  FILE* map = std::fopen("/proc/self/pagemap", "rb");
  if (!map) return 0;
  size_t present = 0;
  for (size_t i = 0; i < pages; ++i) {
    const uintptr_t page = reinterpret_cast<uintptr_t>(view) / 4096 + i;
    uint64_t entry = 0;
    if (std::fseek(map, long(page * 8), SEEK_SET) == 0 && std::fread(&entry, 8, 1, map) == 1 && (entry >> 63))
      ++present;
  }
  std::fclose(map);
  return present;
}

// A file opened for random access is written through a view page by page:
// only the pages written are mapped, not the blocks of cache around them.
TEST(Mapping, ViewsOfARandomAccessFileMapOnlyThePagesTouched) {
  TempDir dir;
  const wstring path = dir.Wide("r.bin");
  Handle file(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_RANDOM_ACCESS));
  ASSERT_TRUE(file.valid());
  constexpr size_t kPages = 16384;  // 64 MiB
  HANDLE mapping = CreateFileMappingW(file.get(), nullptr, PAGE_READWRITE, 0, kPages * 4096, nullptr);
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  // Written from the start, as a result of unknown length is: over some tens
  // of MiB the system would otherwise read ahead, and map, ever larger blocks
  // past the end (here 255 pages beyond).
  constexpr size_t kWritten = 8193;
  for (size_t page = 0; page < kWritten; ++page) view[page * 4096 + 5] = 1;
  EXPECT_EQ(PresentPages(view, kPages), kWritten);
  EXPECT_TRUE(UnmapViewOfFile(view));
  CloseHandle(mapping);
}
#endif

}  // namespace
