// Compressed files are the same on both targets: the files in data/ were
// written by the win32 build and are read here on either, and writing the same
// data again gives the same bytes, so files written natively are read by the
// win32 build as well.
//
// The files were made once with the role below, under Wine, from the root of
// the repository:
//   WINEDEBUG=-all wine build/win32/bin/ferrow_tests.exe --child zipfile_make_fixtures tests/ferrow/data
// Their data is generated here again (ziptest::Generate is deterministic).
#include <filesystem>

#include "support/support.h"
#include "zip_testing.h"

namespace {

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::wstring;
namespace fs = std::filesystem;

struct Fixture {
  const char* file;
  Kind kind;
  size_t size;
  uint32_t seed;
};

// Small, but past LZO1X-1's 48 KiB input chunks in one of them.
const Fixture kFixtures[] = {
    {"text.zq", Kind::Text, 6000, 1},
    {"binary.zq", Kind::Binary, 8192, 2},
    {"runs.zq", Kind::Runs, 3001, 3},
    {"zeros.zq", Kind::Zeros, 100000, 4},
};

Bytes DataOf(const Fixture& f) { return Generate(f.kind, f.size, f.seed); }

QZ_CHILD_ROLE(zipfile_make_fixtures) {
  if (args.size() != 1) return 2;
  for (const Fixture& f : kFixtures) {
    Bytes data = DataOf(f);
    const wstring path = args[0] + TEXT("\\") + plat::Wide(f.file);
    if (!FU_WriteFile(path.c_str(), data.data(), static_cast<ULONG>(data.size()), 1)) return 3;
  }
  return 0;
}

// data/ beside this source file. Under Wine the Unix side is drive Z:.
fs::path DataDir() {
  fs::path dir = fs::path(__FILE__).parent_path() / "data";
#ifdef _WIN32
  if (!dir.has_root_name()) dir = fs::path("Z:") / dir;
#endif
  return dir;
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

class ZipFileFixture : public ::testing::TestWithParam<Fixture> {};

TEST_P(ZipFileFixture, ReadsBackAndIsWrittenByteForByteAlike) {
  const Fixture& f = GetParam();
  const fs::path file = DataDir() / f.file;
  ASSERT_TRUE(fs::exists(file)) << file;
  const std::string stored = ReadBytes(file);
  const Bytes data = DataOf(f);
  ASSERT_EQ(stored.compare(0, 4, "@ZIP"), 0);

  ULONG size = 0;
  void* p = FU_ReadFile(testsupport::W(file).c_str(), &size, FU_AllocProcHeap);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Bytes(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + size), data);
  FU_AllocProcHeap(p, 0);

  TempDir dir;
  EXPECT_EQ(FU_UnZIPFile(dir.Wide("restored").c_str(), testsupport::W(file).c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "restored"), Str(data));
  // Both builds link LZO 2.10, whose LZO1X-1 output depends on nothing but the data.
  Bytes arg = data;
  ASSERT_EQ(FU_WriteFile(dir.Wide("again.zq").c_str(), arg.data(), static_cast<ULONG>(arg.size()), 1), 1);
  EXPECT_EQ(ReadBytes(dir.path() / "again.zq"), stored);
  EXPECT_EQ(ReadBytes(dir.path() / "again.zq"), Str(Frame(static_cast<uint32_t>(f.size), RawCompress(data))));
}

INSTANTIATE_TEST_SUITE_P(Ferrow, ZipFileFixture, ::testing::ValuesIn(kFixtures), [](const auto& info) {
  std::string name = info.param.file;
  return name.substr(0, name.find('.'));
});

}  // namespace
