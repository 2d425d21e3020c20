// Compressed files: what FU_WriteFile puts on disk and FU_ReadFile makes of
// it, plain and damaged files, the file-to-file functions, directories made
// for targets, refused sizes and paths, and failures (refused memory, a disk
// that fills, unreadable arguments) that leave no block allocated and no
// half-written file behind.
#include <filesystem>
#include <functional>

#include "support/support.h"
#include "zip_testing.h"
#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::wstring;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes Of(const void* p, size_t n) {
  return Bytes(static_cast<const unsigned char*>(p), static_cast<const unsigned char*>(p) + n);
}

// What FU_ReadFile gave: `some` false for nullptr.
struct ReadResult {
  bool some;
  Bytes data;
  ULONG size;
};

ReadResult Read(const wstring& path, FU_AllocFunc alloc) {
  ULONG size = 0xDEADBEEF;
  void* p = FU_ReadFile(path.c_str(), &size, alloc);
  ReadResult r{p != nullptr, p ? Of(p, size) : Bytes(), size};
  if (p) alloc(p, 0);
  return r;
}

// ---- writing and reading back ----

struct WriteCase {
  const char* name;
  Kind kind;
  size_t size;
  int compress;
  bool written;
};

// The target already holds other data: a refusal must leave it as it was, a
// write must replace all of it.
const WriteCase kWriteCases[] = {
    {"Zeros44Compressed", Kind::Zeros, 44, 1, false},
    {"Zeros64Compressed", Kind::Zeros, 64, 1, true},
    {"Text44Plain", Kind::Text, 44, 0, true},
    {"RandomCompressed", Kind::Random, 4096, 1, false},
    {"RandomPlain", Kind::Random, 4096, 0, true},
    {"TextCompressed", Kind::Text, 150000, 1, true},
    {"BinaryCompressed", Kind::Binary, 70001, 1, true},
    {"BinaryPlain", Kind::Binary, 70001, 0, true},
};

class ZipFileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ZipFileWrite, WritesTheBlockOrTheDataAndReadsBackTheData) {
  const WriteCase& c = GetParam();
  TempDir dir;
  const wstring path = dir.Wide("out.bin");
  const std::string before(200000, 'x');
  WriteBytes(dir.path() / "out.bin", before);
  const Bytes data = Generate(c.kind, c.size, 9);
  Bytes arg = data;

  ASSERT_EQ(FU_WriteFile(path.c_str(), arg.data(), static_cast<ULONG>(arg.size()), c.compress), c.written ? 1 : 0);
  EXPECT_EQ(arg, data);  // the caller's data is not compressed in place
  const std::string onDisk = ReadBytes(dir.path() / "out.bin");
  if (!c.written) {
    EXPECT_EQ(onDisk, before);
    return;
  }
  const Bytes want = c.compress ? Frame(static_cast<uint32_t>(c.size), RawCompress(data)) : data;
  EXPECT_EQ(onDisk, Str(want));
  if (c.compress) {
    EXPECT_EQ(onDisk.compare(0, 4, "@ZIP"), 0);
  }

  for (FU_AllocFunc alloc : {FU_AllocVirtual, FU_AllocProcHeap}) {
    ReadResult r = Read(path, alloc);
    ASSERT_TRUE(r.some);
    EXPECT_EQ(r.size, c.size);
    EXPECT_EQ(r.data, data);
  }
  // One block for the file, and one for the restored data when it was compressed.
  CountingAllocator counting;
  ULONG size = 0;
  void* p = FU_ReadFile(path.c_str(), &size, counting.Func());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(counting.allocations(), c.compress ? 2u : 1u);
  EXPECT_EQ(counting.live(), 1u);
  EXPECT_EQ(counting.SizeOf(p), c.size);
  counting.Free(p);
  EXPECT_EQ(counting.overruns(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ferrow, ZipFileWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipFileWrite, MakesEveryMissingDirectoryOfTheTarget) {
  TempDir dir;
  const Bytes data = Generate(Kind::Text, 5000, 1);
  ASSERT_EQ(FU_WriteFile(dir.Wide("a\\b/c.zq").c_str(), const_cast<unsigned char*>(data.data()), 5000, 1), 1);
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b"));
  EXPECT_EQ(ReadBytes(dir.path() / "a" / "b" / "c.zq"), Str(Frame(5000, RawCompress(data))));

  // A directory part that is a file cannot be made.
  WriteBytes(dir.path() / "f", "file");
  EXPECT_EQ(FU_WriteFile(dir.Wide("f\\g\\c.zq").c_str(), const_cast<unsigned char*>(data.data()), 5000, 0), 0);
  EXPECT_EQ(ReadBytes(dir.path() / "f"), "file");
  // Neither can a target that names no file.
  EXPECT_EQ(FU_WriteFile(dir.Wide("d\\").c_str(), const_cast<unsigned char*>(data.data()), 5000, 0), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "d"));
}

TEST(ZipFileWrite, ATargetWithoutDirectoryGoesToTheCurrentDirectory) {
  TempDir dir;
  WCHAR saved[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.Wide().c_str()));
  unsigned char data[] = "plain data";
  const BOOL written = FU_WriteFile(TEXT("bare.bin"), data, 10, 0);
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(written, 1);
  EXPECT_EQ(ReadBytes(dir.path() / "bare.bin"), "plain data");
}

TEST(ZipFileWrite, TargetPathsOf260UnitsOrMoreAreRefused) {
  TempDir dir;
  // Names that bring the whole path to 259 and 260 units.
  const size_t room = MAX_PATH - 1 - (dir.Wide().size() + 1);
  ASSERT_LE(room, 255u) << "temporary directory too shallow for this test";
  const wstring longest = dir.Wide(wstring(room, 'n')), tooLong = dir.Wide(wstring(room + 1, 'n'));
  ASSERT_EQ(longest.size(), size_t(MAX_PATH - 1));
  unsigned char data[] = "0123456789";
  Bytes text = Generate(Kind::Text, 3000, 2);
  WriteBytes(dir.path() / "src.bin", Str(text));
  const wstring src = dir.Wide("src.bin");

  EXPECT_EQ(FU_WriteFile(tooLong.c_str(), data, 10, 0), 0);
  EXPECT_EQ(FU_ZIPFile(tooLong.c_str(), src.c_str()), 0);
  EXPECT_EQ(FU_UnZIPFile(tooLong.c_str(), src.c_str()), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(FU_WriteFile(longest.c_str(), data, 10, 0), 1);
  EXPECT_EQ(FU_ZIPFile(longest.c_str(), src.c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / std::string(room, 'n')), Str(Frame(3000, RawCompress(text))));
}

// ---- reading files that FU_WriteFile did not write ----

Bytes Header(uint32_t size) { return Frame(size, {}); }

struct ReadCase {
  const char* name;
  Bytes file;
  bool some;
  Bytes data;  // what comes back when `some`
};

std::vector<ReadCase> ReadCases() {
  const Bytes text = Generate(Kind::Text, 3000, 4);
  const Bytes block = Frame(3000, RawCompress(text));
  Bytes twenty(block.begin(), block.begin() + 20);
  Bytes cut(block.begin(), block.end() - 1);
  Bytes zeroSized = block;
  zeroSized[4] = zeroSized[5] = zeroSized[6] = zeroSized[7] = 0;
  return {
      {"Empty", {}, false, {}},
      {"TwentyBytesOfABlock", twenty, true, twenty},
      {"HeaderAlone", Header(5), true, Header(5)},
      {"BlockWithSizeZero", zeroSized, true, zeroSized},
      {"Block", block, true, text},
      {"BlockCutShort", cut, false, {}},
      {"Text", text, true, text},
  };
}

class ZipFileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ZipFileRead, GivesThePlainOrRestoredDataOrNothingWithNothingLeft) {
  const ReadCase& c = GetParam();
  TempDir dir;
  WriteBytes(dir.path() / "in.bin", Str(c.file));
  CountingAllocator counting;
  ReadResult r = Read(dir.Wide("in.bin"), counting.Func());
  ASSERT_EQ(r.some, c.some);
  EXPECT_EQ(r.data, c.data);
  EXPECT_EQ(r.size, c.some ? c.data.size() : 0u);
  EXPECT_EQ(counting.live(), 0u);
  EXPECT_EQ(counting.badFrees(), 0u);
  EXPECT_EQ(counting.overruns(), 0u);
  // And the same through a file-to-file copy: a target only when the read succeeds.
  EXPECT_EQ(FU_UnZIPFile(dir.Wide("out.bin").c_str(), dir.Wide("in.bin").c_str()), c.some ? 1 : 0);
  EXPECT_EQ(fs::exists(dir.path() / "out.bin"), c.some);
  if (c.some) {
    EXPECT_EQ(ReadBytes(dir.path() / "out.bin"), Str(c.data));
  }
}

INSTANTIATE_TEST_SUITE_P(Ferrow, ZipFileRead, ::testing::ValuesIn(ReadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipFileRead, AnEmptyFileGivesNothingFromEitherAllocator) {
  TempDir dir;
  WriteBytes(dir.path() / "empty", "");
  for (FU_AllocFunc alloc : {FU_AllocVirtual, FU_AllocProcHeap}) {
    ReadResult r = Read(dir.Wide("empty"), alloc);
    EXPECT_FALSE(r.some);
    EXPECT_EQ(r.size, 0u);
  }
}

TEST(ZipFile, MissingArgumentsOrFilesGiveNothing) {
  TempDir dir;
  WriteBytes(dir.path() / "f", "data");
  unsigned char data[] = "x";
  EXPECT_EQ(FU_WriteFile(dir.Wide("a").c_str(), nullptr, 10, 0), 0);
  EXPECT_EQ(FU_WriteFile(dir.Wide("a").c_str(), data, 0, 0), 0);
  EXPECT_EQ(FU_WriteFile(nullptr, data, 1, 0), 0);
  EXPECT_EQ(FU_WriteFile(TEXT(""), data, 1, 0), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "a"));
  ULONG size = 7;
  EXPECT_EQ(FU_ReadFile(dir.Wide("f").c_str(), nullptr, FU_AllocProcHeap), nullptr);
  EXPECT_EQ(FU_ReadFile(dir.Wide("f").c_str(), &size, nullptr), nullptr);
  EXPECT_EQ(size, 7u);
  for (const wstring& path : {dir.Wide("missing"), dir.Wide("no\\such\\f"), dir.Wide(), wstring()}) {
    size = 7;
    EXPECT_EQ(FU_ReadFile(path.c_str(), &size, FU_AllocProcHeap), nullptr);
    EXPECT_EQ(size, 0u);
  }
}

TEST(ZipFileRead, RefusedMemoryGivesNothingAndFreesWhatWasTaken) {
  TempDir dir;
  const Bytes text = Generate(Kind::Text, 20000, 6);
  WriteBytes(dir.path() / "plain", Str(text));
  WriteBytes(dir.path() / "block", Str(Frame(20000, RawCompress(text))));
  // Plain: the one block; compressed: the file's block, then the restored data's.
  for (auto [name, blocks] : {std::pair<const char*, size_t>{"plain", 1}, {"block", 2}}) {
    for (size_t allowed = 0; allowed < blocks; ++allowed) {
      SCOPED_TRACE(::testing::Message() << name << " allowed " << allowed);
      CountingAllocator counting;
      counting.FailAfter(allowed);
      ReadResult r = Read(dir.Wide(name), counting.Func());
      EXPECT_FALSE(r.some);
      EXPECT_EQ(r.size, 0u);
      EXPECT_EQ(counting.allocations(), allowed);
      EXPECT_EQ(counting.live(), 0u);
    }
  }
}

// A file of 4 GiB and more (sparse: it takes no room) would be read short by
// the low half of its size; it is refused before anything is allocated.
TEST(ZipFileRead, FilesOf4GiBOrMoreAreRefused) {
  TempDir dir;
  const wstring big = dir.Wide("big.bin");
  HANDLE h = CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = (1LL << 32) + 100;
  const bool sized = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (!sized) GTEST_SKIP() << "no room for a sparse 4 GiB file here";
  CountingAllocator counting;
  EXPECT_FALSE(Read(big, counting.Func()).some);
  EXPECT_EQ(counting.allocations(), 0u);
  EXPECT_EQ(FU_ZIPFile(dir.Wide("z").c_str(), big.c_str()), 0);
  EXPECT_EQ(FU_UnZIPFile(dir.Wide("u").c_str(), big.c_str()), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "z"));
  EXPECT_FALSE(fs::exists(dir.path() / "u"));
}

// ---- file to file ----

struct ZipCase {
  const char* name;
  Kind kind;
  size_t size;  // SIZE_MAX: no source file at all
  bool written;
};

const ZipCase kZipCases[] = {
    {"Missing", Kind::Text, SIZE_MAX, false}, {"Empty", Kind::Text, 0, false},
    {"Of44Zeros", Kind::Zeros, 44, false},    {"Of64Zeros", Kind::Zeros, 64, true},
    {"Random", Kind::Random, 10000, false},   {"Text", Kind::Text, 100000, true},
};

class ZipFileToFile : public ::testing::TestWithParam<ZipCase> {};

TEST_P(ZipFileToFile, CompressesWhatPaysAndRestoresItAgain) {
  const ZipCase& c = GetParam();
  TempDir dir;
  const Bytes data = c.size == SIZE_MAX ? Bytes() : Generate(c.kind, c.size, 3);
  if (c.size != SIZE_MAX) WriteBytes(dir.path() / "src", Str(data));
  const wstring zipped = dir.Wide("new\\dir\\z.zq"), restored = dir.Wide("again\\r.bin");

  ASSERT_EQ(FU_ZIPFile(zipped.c_str(), dir.Wide("src").c_str()), c.written ? 1 : 0);
  EXPECT_EQ(fs::exists(dir.path() / "new" / "dir" / "z.zq"), c.written);
  if (!c.written) return;
  EXPECT_EQ(ReadBytes(dir.path() / "new" / "dir" / "z.zq"), Str(Frame(static_cast<uint32_t>(c.size), RawCompress(data))));
  ASSERT_EQ(FU_UnZIPFile(restored.c_str(), zipped.c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "again" / "r.bin"), Str(data));
}

INSTANTIATE_TEST_SUITE_P(Ferrow, ZipFileToFile, ::testing::ValuesIn(kZipCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipFileToFile, UnZipCopiesAPlainSourceAndRestoresOverItsOwnSource) {
  TempDir dir;
  const Bytes random = Generate(Kind::Random, 5000, 8);
  WriteBytes(dir.path() / "plain", Str(random));
  ASSERT_EQ(FU_UnZIPFile(dir.Wide("copy").c_str(), dir.Wide("plain").c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "copy"), Str(random));
  EXPECT_EQ(ReadBytes(dir.path() / "plain"), Str(random));

  // The source is read whole and closed before the target is made.
  const Bytes text = Generate(Kind::Text, 40000, 8);
  WriteBytes(dir.path() / "same", Str(text));
  ASSERT_EQ(FU_ZIPFile(dir.Wide("same").c_str(), dir.Wide("same").c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "same"), Str(Frame(40000, RawCompress(text))));
  ASSERT_EQ(FU_UnZIPFile(dir.Wide("same").c_str(), dir.Wide("same").c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "same"), Str(text));
}

// Sources of 64 KiB and more are read through a view and their results
// written through a view of the new file; what comes out must not differ.
struct LargeCase {
  const char* name;
  Kind kind;
  bool intoMissingDirectory;
  bool zipped;  // FU_ZIPFile succeeds (and FU_UnZIPFile restores it)
};

const LargeCase kLargeCases[] = {
    {"Text", Kind::Text, false, true},
    {"TextIntoNewDirectories", Kind::Text, true, true},
    {"Random", Kind::Random, false, false},
    {"RandomIntoNewDirectories", Kind::Random, true, false},
};

class LargeFileToFile : public ::testing::TestWithParam<LargeCase> {};

TEST_P(LargeFileToFile, GivesWhatSmallFilesGiveAndLeavesNothingOnFailure) {
  const LargeCase& c = GetParam();
  TempDir dir;
  const Bytes data = Generate(c.kind, 300001, 21);
  WriteBytes(dir.path() / "src", Str(data));
  WriteBytes(dir.path() / "z", "an old target");
  const wstring zipped = c.intoMissingDirectory ? dir.Wide("a\\b\\z") : dir.Wide("z");
  const fs::path zippedPath = c.intoMissingDirectory ? dir.path() / "a" / "b" / "z" : dir.path() / "z";
  ASSERT_EQ(FU_ZIPFile(zipped.c_str(), dir.Wide("src").c_str()), c.zipped ? 1 : 0);
  if (!c.zipped) {
    // No directory made, the old target kept, nothing beside it.
    EXPECT_FALSE(fs::exists(dir.path() / "a"));
    EXPECT_EQ(ReadBytes(dir.path() / "z"), "an old target");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
    return;
  }
  EXPECT_EQ(ReadBytes(zippedPath), Str(Frame(300001, RawCompress(data))));
  ASSERT_EQ(FU_UnZIPFile(dir.Wide("out").c_str(), testsupport::W(zippedPath).c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "out"), Str(data));
}

INSTANTIATE_TEST_SUITE_P(Ferrow, LargeFileToFile, ::testing::ValuesIn(kLargeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Blocks that do not restore, or restore to less than their header says.
TEST(LargeFileToFile, UnZipFailsOnABrokenStreamAndStopsWhereAShortOneEnds) {
  TempDir dir;
  const Bytes data = Generate(Kind::Text, 200000, 22);
  const Bytes stream = RawCompress(data);
  WriteBytes(dir.path() / "out", "an old target");
  Bytes cut(stream.begin(), stream.end() - 3);  // no end marker
  WriteBytes(dir.path() / "cut", Str(Frame(200000, cut)));
  EXPECT_EQ(FU_UnZIPFile(dir.Wide("out").c_str(), dir.Wide("cut").c_str()), 0);
  EXPECT_EQ(ReadBytes(dir.path() / "out"), "an old target");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
  // A size field larger than what the stream makes: the result is what it made.
  WriteBytes(dir.path() / "long", Str(Frame(300000, stream)));
  ASSERT_EQ(FU_UnZIPFile(dir.Wide("out").c_str(), dir.Wide("long").c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "out"), Str(data));
}

TEST(LargeFileToFile, ATargetMayReplaceItsOwnSource) {
  TempDir dir;
  const Bytes text = Generate(Kind::Text, 400000, 23);
  WriteBytes(dir.path() / "same", Str(text));
  ASSERT_EQ(FU_ZIPFile(dir.Wide("same").c_str(), dir.Wide("same").c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "same"), Str(Frame(400000, RawCompress(text))));
  ASSERT_EQ(FU_UnZIPFile(dir.Wide("same").c_str(), dir.Wide("same").c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "same"), Str(text));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// ---- failures half-way ----

#ifndef _WIN32
// A disk that fills up during the one write: whichever function wrote, a new
// target does not appear, an old one keeps its content, and nothing is left beside them.
TEST(ZipFileWriteFailure, AWriteThatFailsHalfWayLeavesTheTargetAsItWas) {
  struct LimitOff {
    ~LimitOff() { plat_hooks::FailWritesAfter(~0ULL); }
  } off;
  TempDir dir;
  Bytes text = Generate(Kind::Text, 200000, 5);
  const ULONG n = static_cast<ULONG>(text.size());
  ASSERT_EQ(FU_WriteFile(dir.Wide("src.zq").c_str(), text.data(), n, 1), 1);
  WriteBytes(dir.path() / "src.txt", Str(text));
  WriteBytes(dir.path() / "old", "an older file in the way");
  CountingAllocator counting;

  struct Step {
    const char* what;
    std::function<BOOL()> call;
    const char* target;
  };
  const Step steps[] = {
      {"write plain", [&] { return FU_WriteFile(dir.Wide("w").c_str(), text.data(), n, 0); }, "w"},
      {"write compressed over a file", [&] { return FU_WriteFile(dir.Wide("old").c_str(), text.data(), n, 1); }, "old"},
      {"zip", [&] { return FU_ZIPFile(dir.Wide("z").c_str(), dir.Wide("src.txt").c_str()); }, "z"},
      {"unzip", [&] { return FU_UnZIPFile(dir.Wide("u").c_str(), dir.Wide("src.zq").c_str()); }, "u"},
  };
  for (const Step& s : steps) {
    plat_hooks::FailWritesAfter(1000);
    EXPECT_EQ(s.call(), 0) << s.what;
    if (std::string(s.target) == "old")
      EXPECT_EQ(ReadBytes(dir.path() / "old"), "an older file in the way");
    else
      EXPECT_FALSE(fs::exists(dir.path() / s.target)) << s.what;
  }
  plat_hooks::FailWritesAfter(~0ULL);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
  EXPECT_EQ(ReadBytes(dir.path() / "src.txt"), Str(text));
  ReadResult r = Read(dir.Wide("src.zq"), counting.Func());
  EXPECT_EQ(r.data, text);
}
#endif

class ZipFileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose";
  }
};

TEST_F(ZipFileFaults, UnreadableArgumentsGiveFailureAndNoFile) {
  TempDir dir;
  Pages pages(1);
  ASSERT_TRUE(pages.Protect(0, PAGE_NOACCESS));
  const WCHAR* bad = reinterpret_cast<const WCHAR*>(pages.page(0));
  WriteBytes(dir.path() / "src", Str(Generate(Kind::Text, 3000, 1)));
  const wstring src = dir.Wide("src"), out = dir.Wide("out");
  ULONG size = 0;

  EXPECT_EQ(FU_ReadFile(bad, &size, FU_AllocProcHeap), nullptr);
  EXPECT_EQ(FU_ReadFile(src.c_str(), reinterpret_cast<ULONG*>(pages.page(0)), FU_AllocProcHeap), nullptr);
  EXPECT_EQ(FU_ZIPFile(bad, src.c_str()), 0);
  EXPECT_EQ(FU_ZIPFile(out.c_str(), bad), 0);
  EXPECT_EQ(FU_UnZIPFile(bad, src.c_str()), 0);
  EXPECT_EQ(FU_UnZIPFile(out.c_str(), bad), 0);
  unsigned char data[] = "0123456789";
  EXPECT_EQ(FU_WriteFile(bad, data, 10, 0), 0);
  // Data that cannot be read is not written, compressed or not.
  for (int compress : {0, 1})
    EXPECT_EQ(FU_WriteFile(out.c_str(), pages.page(0), 5000, compress), 0) << compress;
  EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

}  // namespace
