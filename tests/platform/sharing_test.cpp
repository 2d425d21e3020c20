// Sharing modes and byte-range locks, between handles of one process and
// between processes. Each test passes natively and under Wine.
#include <fstream>
#include <sstream>
#include <vector>

#include "files.h"

namespace {

using namespace fstest;
using testsupport::TempDir;
using testsupport::WriteBytes;

struct Mode {
  DWORD access, share;
};

std::string Describe(const Mode& m) {
  std::string s;
  s += m.access & GENERIC_READ ? "R" : "";
  s += m.access & GENERIC_WRITE ? "W" : "";
  s += m.access & DELETE ? "D" : "";
  if (s.empty()) s = "0";
  s += "/share:";
  s += m.share & FILE_SHARE_READ ? "r" : "";
  s += m.share & FILE_SHARE_WRITE ? "w" : "";
  s += m.share & FILE_SHARE_DELETE ? "d" : "";
  return s;
}

std::vector<Mode> AllModes() {
  std::vector<Mode> modes;
  for (DWORD access : std::initializer_list<DWORD>{0, GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, DELETE})
    for (DWORD share = 0; share < 8; ++share) modes.push_back({access, share});
  return modes;
}

// Windows' rule: each handle must share every kind of access the other takes.
// A handle that takes none of reading, writing or deleting takes no part.
bool Compatible(const Mode& first, const Mode& second) {
  auto kinds = [](DWORD access) {
    return (access & GENERIC_READ ? FILE_SHARE_READ : 0u) | (access & GENERIC_WRITE ? FILE_SHARE_WRITE : 0u) |
           (access & DELETE ? FILE_SHARE_DELETE : 0u);
  };
  DWORD a = kinds(first.access), b = kinds(second.access);
  if (!a || !b) return true;
  return !(b & ~first.share) && !(a & ~second.share);
}

TEST(Sharing, EveryPairOfModesBetweenTwoHandles) {
  TempDir dir;
  wstring path = dir.Wide("s.bin");
  WriteBytes(dir.path() / "s.bin", "shared");
  std::vector<std::string> wrong;
  for (const Mode& first : AllModes()) {
    Handle held(Open(path, first.access, first.share));
    ASSERT_TRUE(held.valid()) << Describe(first);
    for (const Mode& second : AllModes()) {
      DWORD got = OpenError(path, second.access, second.share);
      DWORD want = Compatible(first, second) ? 0 : ERROR_SHARING_VIOLATION;
      if (got != want)
        wrong.push_back(Describe(first) + " then " + Describe(second) + ": " + std::to_string(got));
    }
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " pairs differ, first: " << wrong.front();
}

TEST(Sharing, ARefusedOpenChangesNothing) {
  TempDir dir;
  wstring path = dir.Wide("s.bin");
  WriteBytes(dir.path() / "s.bin", "contents");
  Handle held(Open(path, GENERIC_READ, 0));
  for (DWORD mode : {CREATE_ALWAYS, TRUNCATE_EXISTING, OPEN_ALWAYS})
    EXPECT_EQ(OpenError(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, mode), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(OpenError(path, GENERIC_WRITE, 7, CREATE_NEW), DWORD(ERROR_FILE_EXISTS));  // existence comes first
  EXPECT_EQ(GetFileSize(held.get(), nullptr), 8u);
  // Closing the handle lifts its denials.
  held.Reset();
  EXPECT_EQ(OpenError(path, GENERIC_WRITE, 0), 0u);
}

TEST(Sharing, DeleteAndMoveNeedTheOpenHandlesToShareDeletion) {
  TempDir dir;
  wstring path = dir.Wide("s.bin"), other = dir.Wide("t.bin");
  WriteBytes(dir.path() / "s.bin", "x");
  Handle held(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileW(path.c_str(), other.c_str()));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  held.Reset(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE));
  ASSERT_TRUE(MoveFileW(path.c_str(), other.c_str()));
  ASSERT_TRUE(MoveFileW(other.c_str(), path.c_str()));
  // A handle without data access takes no part.
  held.Reset(Open(path, 0, 0));
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

// ---- between processes ----
//
// The child runs a list of steps on a file and writes each step's last error
// (0 for success) to a result file:
//   open ACCESS SHARE   open and close at once
//   hold ACCESS SHARE   open and keep the handle for the steps below
//   lock OFFSET LENGTH  LockFile on the held handle
//   read OFFSET LENGTH  ReadFile on the held handle from OFFSET
//   delete              DeleteFileW
//   leave               end the process with the handle and its locks still held
QZ_CHILD_ROLE(file_steps) {
  if (args.size() < 2) return 2;
  wstring path = args[0];
  std::ofstream results(testsupport::P(args[1]));
  HANDLE held = INVALID_HANDLE_VALUE;
  for (size_t i = 2; i < args.size(); ++i) {
    std::istringstream step(plat::Utf8(args[i]));
    std::string what;
    unsigned long a = 0, b = 0;
    step >> what >> std::hex >> a >> b;
    DWORD error = 0;
    if (what == "open") {
      error = OpenError(path, DWORD(a), DWORD(b));
    } else if (what == "hold") {
      held = Open(path, DWORD(a), DWORD(b));
      error = held == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    } else if (what == "lock") {
      error = LockFile(held, DWORD(a), 0, DWORD(b), 0) ? 0 : GetLastError();
    } else if (what == "read") {
      std::string buffer(b, '\0');
      DWORD n = 0;
      SetFilePointer(held, LONG(a), nullptr, FILE_BEGIN);
      error = ReadFile(held, &buffer[0], DWORD(b), &n, nullptr) ? 0 : GetLastError();
    } else if (what == "delete") {
      error = DeleteFileW(path.c_str()) ? 0 : GetLastError();
    } else if (what == "leave") {
      results << "left\n";
      results.close();
      return 0;  // the handle stays open until the process is gone
    }
    results << error << "\n";
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  return 0;
}

// Runs the steps in a child and returns its results, one per step.
std::vector<DWORD> InChild(const TempDir& dir, const wstring& path, const std::vector<std::string>& steps) {
  wstring results = dir.Wide("results.txt");
  std::vector<wstring> args = {path, results};
  for (const std::string& s : steps) args.push_back(plat::Wide(s));
  EXPECT_EQ(testsupport::RunChild("file_steps", args), 0);
  std::ifstream in(testsupport::P(results));
  std::vector<DWORD> out;
  std::string line;
  while (std::getline(in, line))
    if (line != "left") out.push_back(DWORD(std::stoul(line)));
  return out;
}

TEST(Sharing, HoldsBetweenProcesses) {
  TempDir dir;
  wstring path = dir.Wide("p.bin");
  WriteBytes(dir.path() / "p.bin", "between processes");
  Handle held(Open(path, GENERIC_READ, FILE_SHARE_READ));
  ASSERT_TRUE(held.valid());
  std::vector<DWORD> got = InChild(dir, path,
                                   {"open 80000000 1",   // read, sharing read: fine
                                    "open 40000000 3",   // write: the parent does not share it
                                    "open 80000000 0",   // denies the parent's read
                                    "open 80000000 2",   // likewise
                                    "open 0 0",          // no data access: no part in sharing
                                    "delete"});
  EXPECT_EQ(got, (std::vector<DWORD>{0, 32, 32, 32, 0, 32}));

  // The child's handle binds the parent in turn.
  held.Reset();
  got = InChild(dir, path, {"hold c0000000 3", "delete"});
  EXPECT_EQ(got, (std::vector<DWORD>{0, 32}));
  EXPECT_EQ(OpenError(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), 0u);  // the child closed it
}

// ---- byte-range locks ----

TEST(Locks, ExclusiveBetweenHandlesAndWithinOne) {
  TempDir dir;
  wstring path = dir.Wide("l.bin");
  WriteBytes(dir.path() / "l.bin", std::string(300, 'x'));
  const DWORD rw = GENERIC_READ | GENERIC_WRITE, all = FILE_SHARE_READ | FILE_SHARE_WRITE;
  Handle a(Open(path, rw, all)), b(Open(path, rw, all));

  ASSERT_TRUE(LockFile(a.get(), 100, 0, 10, 0));
  EXPECT_FALSE(LockFile(a.get(), 100, 0, 10, 0));  // the same handle again
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  EXPECT_FALSE(LockFile(a.get(), 109, 0, 1, 0));  // overlapping its own last byte
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  EXPECT_TRUE(LockFile(a.get(), 110, 0, 1, 0));   // adjacent
  EXPECT_FALSE(LockFile(b.get(), 105, 0, 1, 0));  // inside another handle's range
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  EXPECT_FALSE(LockFile(b.get(), 0, 0, 0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_TRUE(LockFile(b.get(), 99, 0, 1, 0));
  EXPECT_TRUE(LockFile(b.get(), 1000, 0, 10, 0));  // beyond the end of the file

  // The holder reads and writes its own range.
  SetFilePointer(a.get(), 100, nullptr, FILE_BEGIN);
  EXPECT_EQ(Read(a.get(), 10), std::string(10, 'x'));
  SetFilePointer(a.get(), 100, nullptr, FILE_BEGIN);
  EXPECT_TRUE(Write(a.get(), "AAAAAAAAAA"));

  // Only the exact range unlocks, and only through its holder.
  EXPECT_FALSE(UnlockFile(a.get(), 100, 0, 5, 0));
  // Wine reports a range that is not locked as a lock violation.
  const DWORD notLocked = UnderWine() ? ERROR_LOCK_VIOLATION : ERROR_NOT_LOCKED;
  EXPECT_EQ(GetLastError(), notLocked);
  EXPECT_FALSE(UnlockFile(b.get(), 100, 0, 10, 0));
  EXPECT_EQ(GetLastError(), notLocked);
  EXPECT_TRUE(UnlockFile(a.get(), 100, 0, 10, 0));
  EXPECT_FALSE(UnlockFile(a.get(), 100, 0, 10, 0));
  EXPECT_TRUE(LockFile(b.get(), 100, 0, 10, 0));

  // A range past 2^64 is refused; one that ends exactly there is fine.
  EXPECT_FALSE(LockFile(a.get(), 0xFFFFFFFF, 0xFFFFFFFF, 2, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(LockFile(a.get(), 0, 0xF0000000, 0xFFFFFFFF, 0x0FFFFFFF));
  EXPECT_TRUE(UnlockFile(a.get(), 0, 0xF0000000, 0xFFFFFFFF, 0x0FFFFFFF));

  // Closing a handle releases its locks.
  b.Reset();
  EXPECT_TRUE(LockFile(a.get(), 105, 0, 1, 0));
}

TEST(Locks, AHandleOpenedForReadingCanLock) {
  TempDir dir;
  wstring path = dir.Wide("settings.bin");
  WriteBytes(dir.path() / "settings.bin", "QZST");
  Handle reader(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  Handle other(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  ASSERT_TRUE(LockFile(reader.get(), 0, 0, 1, 0));
  EXPECT_FALSE(LockFile(other.get(), 0, 0, 1, 0));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  ASSERT_TRUE(UnlockFile(reader.get(), 0, 0, 1, 0));
  EXPECT_TRUE(LockFile(other.get(), 0, 0, 1, 0));
}

// Windows checks locks on every read and write; Wine does not, so this holds
// for the native platform only.
TEST(Locks, ReadsAndWritesOverAnotherHandlesRangeFail) {
  if (UnderWine()) GTEST_SKIP() << "Wine does not enforce byte-range locks on reads and writes";
  TempDir dir;
  wstring path = dir.Wide("m.bin");
  WriteBytes(dir.path() / "m.bin", std::string(300, 'x'));
  const DWORD rw = GENERIC_READ | GENERIC_WRITE, all = FILE_SHARE_READ | FILE_SHARE_WRITE;
  Handle a(Open(path, rw, all)), b(Open(path, rw, all));
  ASSERT_TRUE(LockFile(a.get(), 100, 0, 10, 0));
  DWORD n = 77;
  char buffer[20];
  SetFilePointer(b.get(), 90, nullptr, FILE_BEGIN);
  EXPECT_FALSE(ReadFile(b.get(), buffer, 20, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(b.get(), 0, nullptr, FILE_CURRENT), 90u);  // not moved
  SetFilePointer(b.get(), 99, nullptr, FILE_BEGIN);
  EXPECT_FALSE(WriteFile(b.get(), "yy", 2, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  SetFilePointer(b.get(), 109, nullptr, FILE_BEGIN);
  EXPECT_FALSE(WriteFile(b.get(), "yy", 2, &n, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
  SetFilePointer(b.get(), 90, nullptr, FILE_BEGIN);
  EXPECT_EQ(Read(b.get(), 10), std::string(10, 'x'));  // up to the range is fine
  SetFilePointer(b.get(), 110, nullptr, FILE_BEGIN);
  EXPECT_TRUE(Write(b.get(), "yy"));
  ASSERT_TRUE(UnlockFile(a.get(), 100, 0, 10, 0));
  SetFilePointer(b.get(), 90, nullptr, FILE_BEGIN);
  EXPECT_EQ(Read(b.get(), 20).size(), 20u);
}

TEST(Locks, HoldBetweenProcessesUntilReleasedOrTheHolderEnds) {
  TempDir dir;
  wstring path = dir.Wide("settings.bin");
  WriteBytes(dir.path() / "settings.bin", "QZST and more");
  Handle mine(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  ASSERT_TRUE(LockFile(mine.get(), 0, 0, 1, 0));
  std::vector<DWORD> got = InChild(dir, path, {"hold c0000000 3", "lock 0 1", "lock 1 4", "read 0 4", "read 1 4"});
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0], 0u);
  EXPECT_EQ(got[1], DWORD(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(got[2], 0u);
  EXPECT_EQ(got[3], UnderWine() ? 0u : DWORD(ERROR_LOCK_VIOLATION));  // Wine does not check reads
  EXPECT_EQ(got[4], 0u);

  ASSERT_TRUE(UnlockFile(mine.get(), 0, 0, 1, 0));
  // A child that ends while holding a lock leaves nothing behind.
  got = InChild(dir, path, {"hold 80000000 3", "lock 0 1", "leave"});
  EXPECT_EQ(got, (std::vector<DWORD>{0, 0}));
  EXPECT_TRUE(LockFile(mine.get(), 0, 0, 1, 0));
}

// Reads and writes skip the question about ranges while nobody holds one; the
// question must come back with every range taken, however the one before went.
TEST(Locks, EveryRangeTakenIsSeenByReadsWhateverWayTheOneBeforeWent) {
  if (UnderWine()) GTEST_SKIP() << "Wine does not enforce byte-range locks on reads and writes";
  TempDir dir;
  const wstring path = dir.Wide("c.bin");
  WriteBytes(dir.path() / "c.bin", std::string(100, 'c'));
  const DWORD rw = GENERIC_READ | GENERIC_WRITE, all = FILE_SHARE_READ | FILE_SHARE_WRITE;
  Handle reader(Open(path, rw, all));
  ASSERT_TRUE(reader.valid());
  auto readsAtStart = [&] {
    SetFilePointer(reader.get(), 0, nullptr, FILE_BEGIN);
    char buffer[4];
    DWORD n = 0;
    return ReadFile(reader.get(), buffer, 4, &n, nullptr) != 0;
  };
  enum class Ending { kUnlocked, kClosed };
  for (Ending ending : {Ending::kUnlocked, Ending::kClosed, Ending::kUnlocked, Ending::kClosed}) {
    EXPECT_TRUE(readsAtStart());
    Handle holder(Open(path, rw, all));
    ASSERT_TRUE(LockFile(holder.get(), 0, 0, 10, 0));
    ASSERT_TRUE(LockFile(holder.get(), 50, 0, 10, 0));
    EXPECT_FALSE(readsAtStart());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_LOCK_VIOLATION));
    EXPECT_FALSE(Write(reader.get(), "xx"));  // the pointer stayed at 0
    ASSERT_TRUE(UnlockFile(holder.get(), 50, 0, 10, 0));
    EXPECT_FALSE(readsAtStart());  // one range is still held
    if (ending == Ending::kUnlocked) {
      ASSERT_TRUE(UnlockFile(holder.get(), 0, 0, 10, 0));
    }
    holder.Reset();
  }
  EXPECT_TRUE(readsAtStart());
}

}  // namespace
