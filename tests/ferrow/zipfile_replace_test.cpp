// Whole-file writes replace their target in one step: callers see of the
// target what a plain overwrite leaves, and a writer that dies on the way
// leaves the old file or the new one, whole.
#include <memory>
#include <random>

#include "platform/files.h"
#include "support/support.h"
#include "zip_testing.h"

namespace {

using namespace ziptest;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using testsupport::wstring;
namespace fs = std::filesystem;

ULONGLONG Time64(const FILETIME& t) { return ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

FILETIME Created(const wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA a = {};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a));
  return a.ftCreationTime;
}

void MakeOld(const wstring& path, DWORD attributes) {
  WriteBytes(testsupport::P(path), "the old content");
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const FILETIME longAgo = {0x6A3A0000, 0x01C07385};  // 2001-01-01
  EXPECT_TRUE(SetFileTime(h, &longAgo, nullptr, nullptr));
  CloseHandle(h);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
}

class ReplacedTarget : public testing::TestWithParam<DWORD> {};

TEST_P(ReplacedTarget, LooksAsAPlainOverwriteLeavesIt) {
  TempDir dir;
  const wstring plain = dir.Wide("plain"), replaced = dir.Wide("replaced");
  MakeOld(plain, GetParam());
  MakeOld(replaced, GetParam());
  const std::string data = "the new content, a little longer";
  HANDLE h = CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  EXPECT_TRUE(WriteFile(h, data.data(), DWORD(data.size()), &put, nullptr));
  CloseHandle(h);
  std::string copy = data;
  ASSERT_EQ(FU_WriteFile(replaced.c_str(), &copy[0], ULONG(copy.size()), 0), 1);

  EXPECT_EQ(ReadBytes(dir.path() / "replaced"), data);
  EXPECT_EQ(GetFileAttributesW(replaced.c_str()), GetFileAttributesW(plain.c_str()));
  // Wine keeps no creation time of its own (it reports the inode's), so there
  // the new file has its own; Windows and the native platform keep the one set.
  if (!fstest::UnderWine()) {
    EXPECT_EQ(Time64(Created(replaced)), Time64(Created(plain)));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

INSTANTIATE_TEST_SUITE_P(Attributes, ReplacedTarget,
                         testing::Values(DWORD(FILE_ATTRIBUTE_NORMAL), DWORD(FILE_ATTRIBUTE_ARCHIVE),
                                         DWORD(FILE_ATTRIBUTE_HIDDEN),
                                         DWORD(FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_ARCHIVE)));

// A read-only target is refused when a plain overwrite is refused (Wine
// running as root lets both through), and then stays as it was.
TEST(ReplacedTarget, AReadOnlyTargetIsRefusedAsAPlainOverwriteIs) {
  TempDir dir;
  const wstring plain = dir.Wide("plain"), target = dir.Wide("target");
  MakeOld(plain, FILE_ATTRIBUTE_READONLY);
  MakeOld(target, FILE_ATTRIBUTE_READONLY);
  HANDLE h = CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const BOOL overwritten = h != INVALID_HANDLE_VALUE;
  if (overwritten) CloseHandle(h);
  std::string data(100, 'x');
  EXPECT_EQ(FU_WriteFile(target.c_str(), &data[0], 100, 0), overwritten);
  EXPECT_EQ(ReadBytes(dir.path() / "target"), overwritten ? data : "the old content");
  SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// ---- writers that die on the way ----

// One whole-file write. args: what (write, zip, unzip), target, source.
int WriteOnce(const std::vector<wstring>& args) {
  const std::string what = plat::Utf8(args.at(0));
  const wstring& target = args.at(1);
  const wstring& source = args.at(2);
  if (what == "zip") return FU_ZIPFile(target.c_str(), source.c_str()) ? 0 : 1;
  if (what == "unzip") return FU_UnZIPFile(target.c_str(), source.c_str()) ? 0 : 1;
  std::string data = ReadBytes(testsupport::P(source));
  return FU_WriteFile(target.c_str(), &data[0], ULONG(data.size()), 0) ? 0 : 1;
}

// args: what, target, source, n, k: dies at the n-th call that changes a file.
QZ_CHILD_ROLE(ferrow_crash_write) {
  testsupport::CrashAtCall(std::stoull(plat::Utf8(args.at(3))), DWORD(std::stoul(plat::Utf8(args.at(4)))));
  return WriteOnce(args);
}

#ifdef _WIN32
const DWORD kKeep[] = {0, 5000};
#else
const DWORD kKeep[] = {0, 1, 28, 5000};
#endif

// The files of the directory that are neither the target nor the source.
int Strays(const fs::path& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename() != "target" && e.path().filename() != "source") ++n;
  return n;
}

class DyingWriter : public testing::TestWithParam<const char*> {};

TEST_P(DyingWriter, LeavesTheOldTargetOrTheNewOneWhole) {
  TempDir dir, reference;
  const Bytes text = Generate(Kind::Text, 50000, 4);
  const std::string old = "the old target, which must stay whole";
  std::string source(text.begin(), text.end());
  if (std::string(GetParam()) == "unzip") {
    ASSERT_EQ(FU_WriteFile(reference.Wide("block").c_str(), &source[0], ULONG(source.size()), 1), 1);
    source = ReadBytes(reference.path() / "block");
  }
  WriteBytes(reference.path() / "source", source);
  ASSERT_EQ(WriteOnce({plat::Wide(GetParam()), reference.Wide("target"), reference.Wide("source")}), 0);
  const std::string saved = ReadBytes(reference.path() / "target");
  WriteBytes(dir.path() / "source", source);

  int crashes = 0;
  bool finished = false;
  for (ULONGLONG n = 1; n < 32 && !finished; ++n) {
    for (DWORD keep : kKeep) {
      for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename() != "source") fs::remove(e.path());
      WriteBytes(dir.path() / "target", old);
      const long code = testsupport::RunChild(
          "ferrow_crash_write", {plat::Wide(GetParam()), dir.Wide("target"), dir.Wide("source"),
                                 plat::Wide(std::to_string(n)), plat::Wide(std::to_string(keep))});
      SCOPED_TRACE(plat::FormatAS("call %u, %u bytes kept", unsigned(n), unsigned(keep)));
      ASSERT_TRUE(code == 0 || code == testsupport::kCrashed) << code;
      const std::string now = ReadBytes(dir.path() / "target");
      EXPECT_TRUE(now == old || now == saved);
      if (code == 0) {
        EXPECT_EQ(now, saved);
        EXPECT_EQ(Strays(dir.path()), 0);
        finished = true;
        break;
      }
      ++crashes;
    }
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(crashes, 0);
}

INSTANTIATE_TEST_SUITE_P(Writes, DyingWriter, testing::Values("zip", "write", "unzip"));

// Compresses two sources over one target in turn until it is killed. args: target, source a, source b.
QZ_CHILD_ROLE(ferrow_zip_loop) {
  for (int i = 0;; ++i)
    if (!FU_ZIPFile(args.at(0).c_str(), args.at(1 + i % 2).c_str())) return 1;
}

TEST(KilledWriter, AZipKilledPartWayLeavesAWholeTarget) {
  TempDir dir;
#ifdef _WIN32
  constexpr int kKills = 4;
#else
  constexpr int kKills = 12;
#endif
  constexpr size_t kSize = 4 << 20;
  std::string images[2];
  for (int i = 0; i < 2; ++i) {
    const Bytes text = Generate(Kind::Text, kSize, 10 + i);
    const fs::path source = dir.path() / plat::FormatAS("source%d", i);
    WriteBytes(source, std::string(text.begin(), text.end()));
    ASSERT_EQ(FU_ZIPFile(dir.Wide("target").c_str(), testsupport::W(source).c_str()), 1);
    images[i] = ReadBytes(dir.path() / "target");
  }
  std::mt19937 random(5);
  for (int kill = 0; kill < kKills; ++kill) {
    testsupport::Child writer("ferrow_zip_loop", {dir.Wide("target"), dir.Wide("source0"), dir.Wide("source1")});
    Sleep(std::uniform_int_distribution<DWORD>(50, 400)(random));
    writer.Kill();
    const std::string now = ReadBytes(dir.path() / "target");
    EXPECT_TRUE(now == images[0] || now == images[1]) << "kill " << kill << ": " << now.size() << " bytes";
  }
}

}  // namespace
