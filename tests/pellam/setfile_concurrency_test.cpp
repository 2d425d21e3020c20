// CSetFile shared by processes and threads: the byte lock, the sharing rule
// for writers, and many writers on one file losing nothing they were told
// was written.
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "setfile_util.h"

namespace {

using namespace setfiletest;
using testsupport::Child;

#ifdef _WIN32
constexpr int kProcesses = 3, kKeysEach = 12;  // Wine runs through an emulator here
#else
constexpr int kProcesses = 4, kKeysEach = 50;
#endif

// ---- markers: files that processes create and wait for ----

bool Exists(const wstring& p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Touch(const wstring& p) {
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

bool WaitFor(const wstring& p, DWORD ms = 120000) {
  const DWORD start = GetTickCount();
  while (!Exists(p)) {
    if (GetTickCount() - start > ms) return false;
    Sleep(1);
  }
  return true;
}

std::string Key(int, int i) { return plat::FormatAS("K%d", i); }
std::string Section(int process) { return plat::FormatAS("P%d", process); }
int Value(int process, int i) { return process * 1000 + i; }

// Holds the file as a writer does (open for writing, sharing reading only,
// byte 0 locked) until told to let go; then, if given, writes a new file image
// into it first. args: target, marker directory, [file of the new image].
QZ_CHILD_ROLE(pellam_hold) {
  const wstring dir = args.at(1);
  HANDLE h = CreateFileW(args.at(0).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 2;
  if (!LockFile(h, 0, 0, 1, 0)) return 3;
  Touch(dir + TEXT("\\held"));
  if (!WaitFor(dir + TEXT("\\release"))) return 4;
  if (args.size() > 2) {
    const std::string image = testsupport::ReadBytes(testsupport::P(args[2]));
    DWORD put = 0;
    if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) != 0 ||
        !WriteFile(h, image.data(), DWORD(image.size()), &put, nullptr) || !SetEndOfFile(h))
      return 5;
  }
  UnlockFile(h, 0, 0, 1, 0);
  CloseHandle(h);
  return 0;
}

// Writes one Int. args: target, section, name, value.
QZ_CHILD_ROLE(pellam_write_one) {
  CSetFile f(args.at(0).c_str());
  return f.WriteSettingInt(plat::Utf8(args.at(1)).c_str(), plat::Utf8(args.at(2)).c_str(),
                           std::stoi(plat::Utf8(args.at(3))))
             ? 0
             : 1;
}

// One of many writers: a setting written and deleted again, then its own keys,
// each write retried while it fails (another writer has the file), each
// acknowledged write logged and read back. args: target, id, count, log file.
QZ_CHILD_ROLE(pellam_writer) {
  CSetFile f(args.at(0).c_str());
  const int id = std::stoi(plat::Utf8(args.at(1)));
  const int count = std::stoi(plat::Utf8(args.at(2)));
  std::ofstream log(testsupport::P(args.at(3)), std::ios::app);
  const std::string section = Section(id);
  const DWORD start = GetTickCount();
  auto retry = [&](auto&& op) {
    while (!op()) {
      if (GetTickCount() - start > 300000) return false;
      Sleep(1);
    }
    return true;
  };
  if (!retry([&] { return f.WriteSettingInt(section.c_str(), "T", -1) == 1; })) return 2;
  if (!retry([&] { return f.DeleteSetting(section.c_str(), "T", CSetFile::kInt) == 1; })) return 3;
  for (int i = 0; i < count; ++i) {
    const std::string key = Key(id, i);
    if (!retry([&] { return f.WriteSettingInt(section.c_str(), key.c_str(), Value(id, i)) == 1; })) return 4;
    log << section << ' ' << key << ' ' << Value(id, i) << std::endl;
    int v = 0;
    const int back = i / 2;  // an earlier one too, read through the cache or the file
    if (!f.ReadSettingInt(section.c_str(), Key(id, back).c_str(), v) || v != Value(id, back)) return 5;
  }
  return 0;
}

// Empties the store again and again: writes one setting, reads it back,
// deletes it. args: target, section, rounds.
QZ_CHILD_ROLE(pellam_churn) {
  CSetFile f(args.at(0).c_str());
  const std::string section = plat::Utf8(args.at(1));
  const int rounds = std::stoi(plat::Utf8(args.at(2)));
  const DWORD start = GetTickCount();
  for (int i = 0; i < rounds; ++i) {
    while (!f.WriteSettingInt(section.c_str(), "x", i)) {
      if (GetTickCount() - start > 300000) return 2;
      Sleep(1);
    }
    int v = -1;
    if (!f.ReadSettingInt(section.c_str(), "x", v) || v != i) return 5;  // nobody else deletes it
    while (!f.DeleteSetting(section.c_str(), "x", CSetFile::kInt)) {
      if (GetTickCount() - start > 300000) return 3;
      Sleep(1);
    }
  }
  return 0;
}

// ---- processes ----

TEST(SetFileProcesses, AReaderWaitsForTheWriterAndReadsWhatItLeft) {
  Store s;
  CSetFile w(s.path.c_str());
  ASSERT_EQ(w.WriteSettingInt("s", "x", 1), 1);
  Bytes next;
  ASSERT_EQ(contenttest::WriteInt(next, "s", "x", 2), fmt::Result::kOk);
  std::string image = "QZST";
  image.append(next.begin(), next.end());
  testsupport::WriteBytes(s.dir.path() / "next", image);

  Child holder("pellam_hold", {s.path, s.dir.Wide(), s.dir.Wide("next")});
  ASSERT_TRUE(WaitFor(s.dir.Wide("held")));
  std::atomic<bool> reading{false};
  int r = -1, v = 0;
  std::thread reader([&] {
    CSetFile f(s.path.c_str());
    reading = true;
    r = f.ReadSettingInt("s", "x", v);
  });
  while (!reading) std::this_thread::yield();
  Touch(s.dir.Wide("release"));
  reader.join();
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(v, 2);
}

TEST(SetFileProcesses, ASecondWriterFailsAtOnce) {
  Store s;
  CSetFile w(s.path.c_str());
  ASSERT_EQ(w.WriteSettingInt("s", "x", 1), 1);
  Child holder("pellam_hold", {s.path, s.dir.Wide()});
  ASSERT_TRUE(WaitFor(s.dir.Wide("held")));
  const DWORD start = GetTickCount();
  EXPECT_EQ(w.WriteSettingInt("s", "x", 2), 0);
  EXPECT_EQ(w.DeleteKey("s"), 0);
  // Far less than the 10 s a writer would wait for the byte lock.
  EXPECT_LT(GetTickCount() - start, 5000u);
  Touch(s.dir.Wide("release"));
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(w.WriteSettingInt("s", "x", 2), 1);
}

TEST(SetFileProcesses, AWriteInOneIsSeenByTheNextReadInAnother) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("s", "x", 1), 1);
  int v = 0;
  ASSERT_EQ(f.ReadSettingInt("s", "x", v), 1);
  ASSERT_EQ(testsupport::RunChild("pellam_write_one", {s.path, TEXT("s"), TEXT("x"), TEXT("2")}), 0);
  EXPECT_EQ(f.ReadSettingInt("s", "x", v), 1);
  EXPECT_EQ(v, 2);
}

TEST(SetFileProcesses, ManyWritersLoseNothingAcknowledged) {
  Store s;
  std::vector<std::unique_ptr<Child>> writers;
  for (int id = 0; id < kProcesses; ++id)
    writers.push_back(std::make_unique<Child>(
        "pellam_writer", std::vector<wstring>{s.path, plat::Wide(std::to_string(id)),
                                              plat::Wide(std::to_string(kKeysEach)),
                                              s.dir.Wide(plat::Wide(plat::FormatAS("log%d", id)))}));
  for (auto& w : writers) EXPECT_EQ(w->Wait(600000), 0);

  const std::map<std::string, int> stored = CheckedStore(s);
  CSetFile f(s.path.c_str());
  size_t acknowledged = 0;
  for (int id = 0; id < kProcesses; ++id) {
    std::ifstream log(s.dir.path() / plat::FormatAS("log%d", id));
    std::string section, key;
    int value;
    while (log >> section >> key >> value) {
      ++acknowledged;
      EXPECT_EQ(stored.count(section + "/" + key), 1u) << section << "/" << key;
      int v = 0;
      EXPECT_EQ(f.ReadSettingInt(section.c_str(), key.c_str(), v), 1);
      EXPECT_EQ(v, value);
    }
    EXPECT_EQ(f.GetSettingSize(Section(id).c_str(), "T", CSetFile::kInt), 0u);  // deleted, stays deleted
  }
  EXPECT_EQ(acknowledged, size_t(kProcesses * kKeysEach));
  EXPECT_EQ(stored.size(), acknowledged);
}

// A writer that empties the store deletes the file while it still holds it:
// a setting another process writes just after is never deleted with it.
TEST(SetFileProcesses, EmptyingTheStoreTakesNoOtherWritersSetting) {
  Store s;
  const wstring rounds = plat::Wide(std::to_string(kKeysEach * 4));
  Child a("pellam_churn", {s.path, TEXT("a"), rounds});
  Child b("pellam_churn", {s.path, TEXT("b"), rounds});
  EXPECT_EQ(a.Wait(600000), 0);
  EXPECT_EQ(b.Wait(600000), 0);
  EXPECT_FALSE(s.exists());
}

// ---- threads of one process ----

TEST(SetFileThreads, ThreadsSharingOneObjectAllWrite) {
  Store s;
  CSetFile f(s.path.c_str());
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  for (int id = 0; id < 4; ++id)
    threads.emplace_back([&, id] {
      for (int i = 0; i < kKeysEach; ++i) {
        int v = 0;
        if (!f.WriteSettingInt(Section(id).c_str(), Key(id, i).c_str(), Value(id, i)) ||
            !f.ReadSettingInt(Section(id).c_str(), Key(id, i).c_str(), v) || v != Value(id, i))
          ++failed;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(CheckedStore(s).size(), size_t(4 * kKeysEach));
}

TEST(SetFileThreads, ObjectsOfOneProcessMeetAtTheFile) {
  Store s;
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  for (int id = 0; id < 4; ++id)
    threads.emplace_back([&, id] {
      CSetFile f(s.path.c_str());
      const DWORD start = GetTickCount();
      for (int i = 0; i < kKeysEach; ++i) {
        // A write fails while another object writes: try again.
        while (!f.WriteSettingInt(Section(id).c_str(), Key(id, i).c_str(), Value(id, i))) {
          if (GetTickCount() - start > 300000) {
            ++failed;
            return;
          }
          Sleep(1);
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);
  const std::map<std::string, int> stored = CheckedStore(s);
  EXPECT_EQ(stored.size(), size_t(4 * kKeysEach));
  for (int id = 0; id < 4; ++id)
    for (int i = 0; i < kKeysEach; ++i) EXPECT_EQ(stored.at(Section(id) + "/" + Key(id, i)), Value(id, i));
}

}  // namespace
