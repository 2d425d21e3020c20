// MoveFileExW, as the whole-file writes use it to replace a file in one step,
// and the long names of files beside others.
#include <vector>

#include "files.h"
#include "platform/longpath.h"

namespace {

using fstest::Handle;
using plat::wstring;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

enum class Setup { kNone, kTargetExists, kTargetHeld, kSourceHeld, kTargetIsDirectory, kNoSource, kNoDirectory };

struct MoveCase {
  const char* what;
  Setup setup;
  DWORD flags;
  BOOL result;
  DWORD error;  // when it fails
};
void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.what; }

class MoveEx : public testing::TestWithParam<MoveCase> {};

TEST_P(MoveEx, RenamesOrRefusesAsWindowsDoes) {
  const MoveCase& c = GetParam();
  TempDir dir;
  const wstring from = dir.Wide("from"), to = c.setup == Setup::kNoDirectory ? dir.Wide("no\\to") : dir.Wide("to");
  if (c.setup != Setup::kNoSource) WriteBytes(dir.path() / "from", "new");
  if (c.setup == Setup::kTargetExists || c.setup == Setup::kTargetHeld || c.setup == Setup::kSourceHeld)
    WriteBytes(dir.path() / "to", "old");
  if (c.setup == Setup::kTargetIsDirectory) {
    ASSERT_TRUE(CreateDirectoryW(to.c_str(), nullptr));
  }
  Handle held;
  if (c.setup == Setup::kTargetHeld)
    held.Reset(CreateFileW(to.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr));
  if (c.setup == Setup::kSourceHeld)
    held.Reset(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));

  SetLastError(0);
  const BOOL moved = MoveFileExW(from.c_str(), to.c_str(), c.flags);
  const DWORD error = GetLastError();
  EXPECT_EQ(moved, c.result);
  if (!c.result) {
    EXPECT_EQ(error, c.error);
  }
  held.Reset();
  const bool wasFile = c.setup != Setup::kNoSource;
  if (moved) {
    EXPECT_EQ(ReadBytes(dir.path() / "to"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "from"));
  } else if (wasFile) {
    EXPECT_EQ(ReadBytes(dir.path() / "from"), "new");
  }
  if (!moved && (c.setup == Setup::kTargetExists || c.setup == Setup::kTargetHeld || c.setup == Setup::kSourceHeld)) {
    EXPECT_EQ(ReadBytes(dir.path() / "to"), "old");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveEx,
    testing::Values(MoveCase{"a new name", Setup::kNone, 0, TRUE, 0},
                    MoveCase{"over a file", Setup::kTargetExists, MOVEFILE_REPLACE_EXISTING, TRUE, 0},
                    MoveCase{"over a file without the flag", Setup::kTargetExists, 0, FALSE, ERROR_ALREADY_EXISTS},
                    MoveCase{"over a file held open", Setup::kTargetHeld, MOVEFILE_REPLACE_EXISTING, FALSE,
                             ERROR_ACCESS_DENIED},
                    MoveCase{"a source held without delete sharing", Setup::kSourceHeld, MOVEFILE_REPLACE_EXISTING,
                             FALSE, ERROR_SHARING_VIOLATION},
                    MoveCase{"over a directory", Setup::kTargetIsDirectory, MOVEFILE_REPLACE_EXISTING, FALSE,
                             ERROR_ACCESS_DENIED},
                    MoveCase{"a missing source", Setup::kNoSource, MOVEFILE_REPLACE_EXISTING, FALSE,
                             ERROR_FILE_NOT_FOUND},
                    MoveCase{"into a missing directory", Setup::kNoDirectory, MOVEFILE_REPLACE_EXISTING, FALSE,
                             ERROR_PATH_NOT_FOUND}));

// A name of MAX_PATH units or more is reached through its full form.
TEST(LongPath, NamesOfAnyLengthReachTheirFile) {
  TempDir dir;
  const wstring shortName = dir.Wide("a");
  EXPECT_EQ(wstring(plat::LongPath(shortName.c_str()).get()), shortName);
  std::vector<wstring> made;
  wstring deep = dir.Wide();
  for (int i = 0; deep.size() < 300; ++i) {
    // A directory's plain name must leave room for a file name of 12 units:
    // the steps pass over the names of 248 to 259 units.
    size_t step = 40;
    if (deep.size() + 1 + step >= MAX_PATH - 12 && deep.size() + 1 + step < MAX_PATH) step = MAX_PATH - deep.size();
    deep += TEXT("\\") + wstring(step, WCHAR('d' + i % 3));
    ASSERT_TRUE(CreateDirectoryW(plat::LongPath(deep.c_str()).get(), nullptr)) << GetLastError();
    made.push_back(deep);
  }
  const wstring name = plat::LongPath((deep + TEXT("\\file")).c_str()).get();
  ASSERT_EQ(name.substr(0, 4), TEXT("\\\\?\\"));
  Handle h(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_TRUE(h.valid());
  h.Reset();
  EXPECT_NE(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
  // The temporary directory's own clean-up may not reach names this long.
  EXPECT_TRUE(DeleteFileW(name.c_str()));
  for (auto d = made.rbegin(); d != made.rend(); ++d) EXPECT_TRUE(RemoveDirectoryW(plat::LongPath(d->c_str()).get()));
}

}  // namespace
