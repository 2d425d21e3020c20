// CSetFile when the process dies in the middle of a save: at every call of
// the save that changes a file, and part-way through each write, a child
// process ends; the store then reads as before the save or after it, for
// readers and writers alike, and holds exactly one of the two images once a
// writer has opened it. Then real kills at random moments of long write
// loops, alone and beside other writers.
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "setfile_util.h"

namespace {

using namespace setfiletest;
using testsupport::Child;

// ---- saves that a child dies in ----

struct Scenario {
  const char* name;
  std::function<void(CSetFile&)> before;  // the store the save starts from
  std::function<int(CSetFile&)> save;
};

void Three(CSetFile& f) {
  f.WriteSettingInt("s", "a", 1);
  f.WriteSettingInt("s", "b", 2);
  f.WriteSettingString("t", "c", TEXT("three"));
}

const Scenario kScenarios[] = {
    {"overwrite", Three, [](CSetFile& f) { return f.WriteSettingInt("s", "a", 9); }},
    {"grow", Three, [](CSetFile& f) { return f.WriteSettingInt("s", "new", 4); }},
    {"longer", Three, [](CSetFile& f) { return f.WriteSettingString("t", "c", TEXT("three and more")); }},
    {"section", Three, [](CSetFile& f) { return f.WriteSettingInt("u", "x", 5); }},
    {"delete", Three, [](CSetFile& f) { return f.DeleteSetting("s", "a", CSetFile::kInt); }},
    {"first", [](CSetFile&) {}, [](CSetFile& f) { return f.WriteSettingInt("s", "a", 1); }},
    {"empty", [](CSetFile& f) { f.WriteSettingInt("s", "a", 1); },
     [](CSetFile& f) { return f.DeleteKey("s"); }},
};

const Scenario* Find(const std::string& name) {
  for (const Scenario& s : kScenarios)
    if (name == s.name) return &s;
  return nullptr;
}

// Sets up a scenario's store. args: target, scenario.
QZ_CHILD_ROLE(pellam_crash_before) {
  const Scenario* s = Find(plat::Utf8(args.at(1)));
  if (!s) return 2;
  CSetFile f(args.at(0).c_str());
  s->before(f);
  return 0;
}

// Saves, dying at the n-th call that changes a file, a write keeping its
// first k bytes. args: target, scenario, n, k.
QZ_CHILD_ROLE(pellam_crash_save) {
  const Scenario* s = Find(plat::Utf8(args.at(1)));
  if (!s) return 2;
  CSetFile f(args.at(0).c_str());
  testsupport::CrashAtCall(std::stoull(plat::Utf8(args.at(2))), DWORD(std::stoul(plat::Utf8(args.at(3)))));
  const int r = s->save(f);
  testsupport::CrashAtCall(0);
  return r ? 0 : 1;
}

#ifdef _WIN32
// Every process start costs seconds under the emulator: the saves that cover
// each kind of edit, and one cut within each write.
const char* const kRun[] = {"overwrite", "grow", "first", "empty"};
const DWORD kKeep[] = {0, 7};
#else
const char* const kRun[] = {"overwrite", "grow", "longer", "section", "delete", "first", "empty"};
const DWORD kKeep[] = {0, 1, 3, 6, 17, 40, 70, 1000};
#endif

const char kNoFile[] = "(no file)";

struct Image {
  std::string bytes = kNoFile;
  Lines listing;
};

Image Read(const Store& s) {
  Image i;
  if (s.exists()) i.bytes = s.bytes();
  CSetFile f(s.path.c_str());
  i.listing = Listing(f);
  return i;
}

class Crash : public testing::TestWithParam<const char*> {};

TEST_P(Crash, TheStoreHoldsTheOldOrTheNewImage) {
  const Scenario* scenario = Find(GetParam());
  ASSERT_NE(scenario, nullptr);
  // The two images, from a save in this process.
  Store reference;
  {
    CSetFile f(reference.path.c_str());
    scenario->before(f);
  }
  const Image old = Read(reference);
  {
    CSetFile f(reference.path.c_str());
    ASSERT_EQ(scenario->save(f), 1);
  }
  const Image saved = Read(reference);
  ASSERT_NE(old.bytes, saved.bytes);

  Store s;
  const std::string journal = s.file().string() + "-journal";
  // Half the runs find the spent journal of an earlier, longer save beside
  // the store, which the save writes over.
  std::string stale(300, 'x');
  stale.replace(0, 8, std::string("QZSJ\0\0\0\0", 8));
  auto reset = [&](bool staleJournal) {
    std::filesystem::remove(s.file());
    std::filesystem::remove(journal);
    if (old.bytes != kNoFile) testsupport::WriteBytes(s.file(), old.bytes);
    if (staleJournal) testsupport::WriteBytes(journal, stale);
  };
  int runs = 0, crashes = 0;
  for (ULONGLONG n = 1; n < 64; ++n) {
    bool finished = false;
    for (DWORD keep : kKeep) {
      reset(keep % 2 == 1);
      const long code = testsupport::RunChild(
          "pellam_crash_save", {s.path, plat::Wide(GetParam()), plat::Wide(std::to_string(n)),
                                plat::Wide(std::to_string(keep))});
      ++runs;
      ASSERT_TRUE(code == 0 || code == testsupport::kCrashed) << "n " << n << " exit " << code;
      SCOPED_TRACE(plat::FormatAS("call %u, %u bytes kept", unsigned(n), unsigned(keep)));
      // A reader first: it may not write, so it reads what the journal says.
      CSetFile reader(s.path.c_str());
      const Lines seen = Listing(reader);
      EXPECT_TRUE(seen == old.listing || seen == saved.listing);
      if (code == 0) {
        EXPECT_EQ(seen, saved.listing);
      }
      // A writer puts the store right: then it holds one of the two images, byte for byte.
      CSetFile writer(s.path.c_str());
      EXPECT_EQ(writer.DeleteSetting("nothing", "here", CSetFile::kInt), 1);
      const Image after = Read(s);
      EXPECT_TRUE(after.bytes == old.bytes || after.bytes == saved.bytes);
      EXPECT_EQ(after.listing, seen);
      EXPECT_TRUE(JournalSpent(journal));
      if (code == 0) {
        finished = true;
        break;
      }
      ++crashes;
    }
    if (finished) break;
  }
  EXPECT_GT(crashes, 0);
  RecordProperty("runs", runs);
}

INSTANTIATE_TEST_SUITE_P(Saves, Crash, testing::ValuesIn(kRun));

// ---- real kills ----

#ifdef _WIN32
constexpr int kKills = 10;
#else
constexpr int kKills = 40;
#endif

// "SECTION KEY VALUE" lines that writers (the pellam_writer role) log after
// each write they were told had been made.
std::map<std::string, int> Acknowledged(const Store& s, const std::vector<std::string>& logs) {
  std::map<std::string, int> out;
  for (const std::string& name : logs) {
    std::ifstream log(s.dir.path() / name);
    std::string section, key;
    int value;
    while (log >> section >> key >> value) out[section + "/" + key] = value;
  }
  return out;
}

size_t LogLength(const Store& s, const std::string& log) {
  std::ifstream in(s.dir.path() / log);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// Waits (bounded) until the writer has logged `lines` writes.
bool WaitForLines(const Store& s, const std::string& log, size_t lines) {
  const DWORD start = GetTickCount();
  while (LogLength(s, log) < lines) {
    if (GetTickCount() - start > 120000) return false;
    Sleep(1);
  }
  return true;
}

std::unique_ptr<Child> Writer(const Store& s, int id, int count, const std::string& log) {
  return std::make_unique<Child>("pellam_writer", std::vector<wstring>{s.path, plat::Wide(std::to_string(id)), plat::Wide(std::to_string(count)),
                                 s.dir.Wide(plat::Wide(log))});
}

// Every acknowledged write reads back, for a reader and then, after a writer
// opened the store (and so put back a save that did not end), in the file itself.
void ExpectAllThere(const Store& s, const std::map<std::string, int>& acknowledged) {
  CSetFile reader(s.path.c_str());
  for (const auto& [key, value] : acknowledged) {
    const size_t slash = key.find('/');
    int v = 0;
    EXPECT_EQ(reader.ReadSettingInt(key.substr(0, slash).c_str(), key.substr(slash + 1).c_str(), v), 1) << key;
    EXPECT_EQ(v, value) << key;
  }
  CSetFile writer(s.path.c_str());
  EXPECT_EQ(writer.DeleteSetting("nothing", "here", CSetFile::kInt), 1);
  const std::map<std::string, int> stored = CheckedStore(s);
  for (const auto& [key, value] : acknowledged) {
    EXPECT_EQ(stored.count(key), 1u) << key;
    if (stored.count(key)) {
      EXPECT_EQ(stored.at(key), value) << key;
    }
  }
}

TEST(Killed, AWriterKilledAtRandomMomentsLosesNothingAcknowledged) {
  Store s;
  std::mt19937 random(8);
  std::vector<std::string> logs;
  int midSave = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE(plat::FormatAS("kill %d", kill));
    logs.push_back(plat::FormatAS("log%d", kill));
    const auto writer = Writer(s, kill, 1000000, logs.back());
    ASSERT_TRUE(WaitForLines(s, logs.back(), 1));
    Sleep(std::uniform_int_distribution<DWORD>(0, 40)(random));
    writer->Kill();
    const std::string journal = s.file().string() + "-journal";
    if (!JournalSpent(journal)) ++midSave;
    ExpectAllThere(s, Acknowledged(s, logs));
    if (HasFailure()) break;
  }
  RecordProperty("killed_mid_save", midSave);
}

TEST(Killed, OtherWritersCarryOnWhenOneIsKilled) {
  Store s;
  constexpr int kOthers = 3;
#ifdef _WIN32
  constexpr int kEach = 12;
#else
  constexpr int kEach = 60;
#endif
  std::vector<std::string> logs = {"victim"};
  const auto victim = Writer(s, 0, 1000000, "victim");
  std::vector<std::unique_ptr<Child>> others;
  for (int id = 1; id <= kOthers; ++id) {
    logs.push_back(plat::FormatAS("log%d", id));
    others.push_back(Writer(s, id, kEach, logs.back()));
  }
  ASSERT_TRUE(WaitForLines(s, "victim", 3));
  victim->Kill();
  for (auto& c : others) EXPECT_EQ(c->Wait(600000), 0);
  const std::map<std::string, int> acknowledged = Acknowledged(s, logs);
  for (int id = 1; id <= kOthers; ++id) EXPECT_EQ(LogLength(s, logs[id]), size_t(kEach));
  ExpectAllThere(s, acknowledged);
}

}  // namespace
