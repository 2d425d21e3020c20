// CSetFile where things go wrong: a full disk, a read that fails, a lock that
// is not had in time, a counter that wraps, a target without a file name.
#include <atomic>
#include <cstring>
#include <thread>

#include "setfile_util.h"

#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

using namespace setfiletest;

// Another handle on the file holding one byte locked, as another process would.
class HeldByte {
 public:
  HeldByte(const wstring& path, DWORD offset) : offset_(offset) {
    h_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                     nullptr);
    EXPECT_NE(h_, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(LockFile(h_, offset, 0, 1, 0));
  }
  ~HeldByte() {
    Release();
    CloseHandle(h_);
  }
  void Release() {
    if (held_) UnlockFile(h_, offset_, 0, 1, 0);
    held_ = false;
  }

 private:
  HANDLE h_;
  DWORD offset_;
  bool held_ = true;
};

TEST(SetFileOpen, ATargetWithoutAFileNameOpensNothingAndCreatesNoDirectory) {
  Store s;
  CSetFile f(s.dir.Wide(TEXT("missing\\sub\\")).c_str());
  EXPECT_EQ(f.WriteSettingInt("s", "a", 1), 0);
  EXPECT_EQ(f.DeleteKey("s"), 0);
  EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "missing"));
}

#ifndef _WIN32
// ---- a full disk (the native platform's test hook) ----

struct NoLimit {
  ~NoLimit() { plat_hooks::FailWritesAfter(~0ULL); }
};

// A store of two sections: a large value first, then a small one.
struct TwoSections : Store {
  CSetFile f;
  std::string before;
  TwoSections() : f(path.c_str()) {
    const std::string big(1000, 'b');
    EXPECT_EQ(f.WriteSettingBin("big", "bin", big.data(), DWORD(big.size())), 1);
    EXPECT_EQ(f.WriteSettingInt("tail", "x", 1), 1);
    before = bytes();
  }
  // Nothing changed, for this object and for a new one; the store still works.
  void ExpectIntact() {
    EXPECT_EQ(bytes(), before);
    for (CSetFile* g : {&f, new CSetFile(path.c_str())}) {
      int v = 0;
      EXPECT_EQ(g->ReadSettingInt("tail", "x", v), 1);
      EXPECT_EQ(v, 1);
      EXPECT_EQ(g->ReadSettingInt("tail", "y", v), 0);
      EXPECT_EQ(g->GetSettingSize("big", "bin", CSetFile::kBin), 1000u);
      if (g != &f) delete g;
    }
    EXPECT_EQ(f.WriteSettingInt("tail", "y", 2), 1);
    EXPECT_EQ(Listing(f), (Lines{"[BIG]", "BIN 2400 1000", "[TAIL]", "X 400 4", "Y 400 4"}));
  }
};

enum class Edit { kGrow, kOverwrite, kShrink };
struct DiskCase {
  const char* what;
  Edit edit;
  size_t budget;  // bytes the disk takes beyond the growth
};
void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.what; }

class FullDisk : public testing::TestWithParam<DiskCase> {};

TEST_P(FullDisk, AFailedWriteLeavesThePreviousContent) {
  const DiskCase& c = GetParam();
  TwoSections s;
  NoLimit restore;
  const size_t growth = 16 + 2 + 4;  // a new Int named Y
  plat_hooks::FailWritesAfter(c.edit == Edit::kGrow ? growth + c.budget : c.budget);
  int r = -1;
  switch (c.edit) {
    case Edit::kGrow: r = s.f.WriteSettingInt("tail", "y", 2); break;
    case Edit::kOverwrite: r = s.f.WriteSettingInt("tail", "x", 2); break;
    case Edit::kShrink: r = s.f.DeleteSetting("big", "bin", CSetFile::kBin); break;
  }
  EXPECT_EQ(r, 0);
  plat_hooks::FailWritesAfter(~0ULL);
  s.ExpectIntact();
}

INSTANTIATE_TEST_SUITE_P(
    Edits, FullDisk,
    testing::Values(DiskCase{"growth refused", Edit::kGrow, 0}, DiskCase{"overwrite refused", Edit::kOverwrite, 0},
                    DiskCase{"delete refused", Edit::kShrink, 0},
                    // The write stops among bytes that did not change: only the growth is taken back.
                    DiskCase{"write stops early", Edit::kGrow, 500}, DiskCase{"overwrite stops early", Edit::kOverwrite, 3},
                    DiskCase{"delete stops early", Edit::kShrink, 2}));

// When the disk refuses even the bytes that would put the old content back,
// the file stays as the write left it, with its journal beside it: every
// object reads the old content from there, and the next write puts it right.
TEST(FullDiskUnrepaired, TheJournalKeepsTheOldContentUntilAWriterRepairs) {
  TwoSections s;
  NoLimit restore;
  // The journal keeps the old bytes from the size field of the section TAIL on.
  const size_t journal = 48 + s.before.size() - (s.before.find("TAIL") - 16 + 4);
  plat_hooks::FailWritesAfter(journal + 22 + s.before.size() - 10);  // the write stops short of its end
  EXPECT_EQ(s.f.WriteSettingInt("tail", "y", 2), 0);
  plat_hooks::FailWritesAfter(~0ULL);
  EXPECT_NE(s.bytes(), s.before);
  const std::filesystem::path journalFile = s.file().string() + "-journal";
  EXPECT_FALSE(JournalSpent(journalFile.string()));
  const Lines old = {"[BIG]", "BIN 2400 1000", "[TAIL]", "X 400 4"};
  CSetFile fresh(s.path.c_str());
  int mine = -1, theirs = -2;
  EXPECT_EQ(Listing(s.f, &mine), old);
  EXPECT_EQ(Listing(fresh, &theirs), old);
  EXPECT_EQ(mine, 1);
  EXPECT_EQ(theirs, 1);
  EXPECT_EQ(fresh.WriteSettingInt("tail", "y", 2), 1);
  EXPECT_TRUE(JournalSpent(journalFile.string()));
  EXPECT_EQ(Listing(s.f), (Lines{"[BIG]", "BIN 2400 1000", "[TAIL]", "X 400 4", "Y 400 4"}));
}

// ---- reads and locks ----

// A read that fails after the open must not leave the empty cache looking current.
TEST(SetFileOpen, AFailedReadIsRetriedAtTheNextAccess) {
  Store s;
  CSetFile w(s.path.c_str());
  ASSERT_EQ(w.WriteSettingInt("s", "a", 1), 1);
  SetWriteTime(s.path, HoursAgo(1));  // a settled time: a cache of it would be trusted
  CSetFile f(s.path.c_str());
  int v = 0;
  {
    HeldByte body(s.path, 10);  // natively, reads of locked bytes fail
    EXPECT_EQ(f.ReadSettingInt("s", "a", v), 0);
  }
  EXPECT_EQ(f.ReadSettingInt("s", "a", v), 1);
  EXPECT_EQ(v, 1);
}

struct FakeTicks {
  std::atomic<DWORD> now;
  DWORD step;
  std::atomic<int> calls{0};
  FakeTicks(DWORD start, DWORD step) : now(start), step(step) {
    plat_hooks::SetTickSource(
        [](void* c) {
          auto* t = static_cast<FakeTicks*>(c);
          ++t->calls;
          return DWORD(t->now.fetch_add(t->step));
        },
        this);
  }
  ~FakeTicks() { plat_hooks::SetTickSource(nullptr, nullptr); }
};

TEST(SetFileLock, AReaderGivesUpAfterItsWaitAndKeepsNoHandle) {
  Store s;
  CSetFile w(s.path.c_str());
  ASSERT_EQ(w.WriteSettingInt("s", "a", 1), 1);
  CSetFile f(s.path.c_str());
  int v = 0;
  {
    HeldByte lock(s.path, 0);
    FakeTicks ticks(1000, 250);  // 5 s pass in 20 polls
    EXPECT_EQ(f.ReadSettingInt("s", "a", v), 0);
    EXPECT_GE(ticks.calls.load(), 20);
  }
  // No handle is left: the file opens with no sharing at all.
  HANDLE h = CreateFileW(s.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

// The counter wraps every 49.7 days; a wait that spans the wrap still waits.
TEST(SetFileLock, AWaitAcrossTheCountersWrapStillWaits) {
  Store s;
  CSetFile w(s.path.c_str());
  ASSERT_EQ(w.WriteSettingInt("s", "a", 1), 1);
  CSetFile f(s.path.c_str());
  HeldByte lock(s.path, 0);
  FakeTicks ticks(0xFFFFFFFFu - 100, 5);  // 1000 polls before a reader gives up
  std::thread release([&] {
    while (ticks.calls.load() < 50) std::this_thread::yield();
    lock.Release();
  });
  int v = 0;
  EXPECT_EQ(f.ReadSettingInt("s", "a", v), 1);
  EXPECT_EQ(v, 1);
  release.join();
}
#endif  // _WIN32

}  // namespace
