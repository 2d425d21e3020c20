// CSetFile beside SQLite on the same data: 100, 1,000 and 10,000 Int settings
// (100 to a section), read and written one at a time, in files on the same disk.
//
// By default CSetFile asks the system for no flush: a write survives the end
// of the process at any point (its journal puts back a save that did not
// end), not a power cut. The SQLite figure of the same promise is
// journal_mode=WAL with synchronous=OFF. With SetFlushWrites(1) a save flushes
// its journal before it overwrites the store and the store before the
// journal goes: the durable figure, beside SQLite's synchronous=FULL. Both
// keep the file shared with other processes (SQLite's normal locking mode;
// CSetFile's byte lock), and both check at every read whether another
// process changed the file.
//
// Each pair is registered side by side; on a shared machine run it with
//   --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// and the table at the end gives the medians of both sides and their ratio,
// in wall-clock and in CPU time.
//
// The cached read needs a file whose time has settled (CSetFile trusts its
// cache only for a file last written more than 2 s before): the store is set
// up, then its time moved back one hour. The read "recent" is the same read
// within the 2 s after a change, when every read loads the file.
//
// BM_Floor_OpenLockClose is what the platform's open, byte lock and close of
// the store cost every save. BM_Journal_* measure, on their own, what the journal's life between saves
// costs the system: kept and cut to 0 bytes (as CSetFile does), deleted after
// each save, or (for comparison only) left at its size and overwritten.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "pellam.h"

namespace {

namespace fs = std::filesystem;
constexpr int kPerSection = 100;
const int kSizes[] = {100, 1000, 10000};

struct Names {
  std::vector<std::string> section, name;
  Names() {
    for (int i = 0; i < 10000; ++i) {
      section.push_back("Section" + std::to_string(i / kPerSection));
      name.push_back("Setting" + std::to_string(i % kPerSection));
    }
  }
};
const Names& N() {
  static Names n;
  return n;
}

// Visits the settings of a store of `count` in an order that jumps between sections.
int Next(int i, int count) { return (i + 7919) % count; }

// A directory next to the working directory: on the disk, not in memory.
struct BenchDir {
  fs::path path = fs::current_path() / ("qz-bench-settings-" + std::to_string(GetCurrentProcessId()));
  BenchDir() { fs::create_directories(path); }
  ~BenchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const fs::path& Dir() {
  static BenchDir dir;
  return dir.path;
}

std::string Named(const char* name, int count) { return std::string(name) + "-" + std::to_string(count); }

plat::wstring Wide(const fs::path& p) { return plat::Wide(p.string()); }

void MoveTimeBack(const fs::path& p) {
  HANDLE h = CreateFileW(Wide(p).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULONGLONG t = (ULONGLONG(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 36000000000ULL;
  FILETIME old = {DWORD(t), DWORD(t >> 32)};
  SetFileTime(h, nullptr, nullptr, &old);
  CloseHandle(h);
}

// A store of `count` Ints, made once per name.
plat::wstring SetFile(const std::string& name, int count) {
  const fs::path p = Dir() / name;
  if (!fs::exists(p)) {
    CSetFile f(Wide(p).c_str());
    for (int i = 0; i < count; ++i) f.WriteSettingInt(N().section[i].c_str(), N().name[i].c_str(), i);
  }
  return Wide(p);
}

void BM_CSetFile_ReadInt(benchmark::State& state) {
  const int count = int(state.range(0));
  const std::string name = Named("read.set", count);
  const plat::wstring path = SetFile(name, count);
  MoveTimeBack(Dir() / name);
  CSetFile f(path.c_str());
  int v = 0, i = 0;
  for (auto _ : state) {
    if (!f.ReadSettingInt(N().section[i].c_str(), N().name[i].c_str(), v)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(v);
    i = Next(i, count);
  }
}

void BM_CSetFile_ReadIntRecent(benchmark::State& state) {
  const int count = int(state.range(0));
  const plat::wstring path = SetFile(Named("recent.set", count), count);
  CSetFile f(path.c_str());
  f.WriteSettingInt("Section0", "Setting0", 0);  // a change just now
  int v = 0, i = 0;
  for (auto _ : state) {
    if (!f.ReadSettingInt(N().section[i].c_str(), N().name[i].c_str(), v)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(v);
    i = Next(i, count);
  }
}

void CSetFileWrite(benchmark::State& state, const char* file, int flush) {
  const int count = int(state.range(0));
  const plat::wstring path = SetFile(Named(file, count), count);
  CSetFile f(path.c_str());
  const int was = CSetFile::SetFlushWrites(flush);
  int i = 0, n = 0;
  for (auto _ : state) {
    if (!f.WriteSettingInt(N().section[i].c_str(), N().name[i].c_str(), ++n)) state.SkipWithError("write failed");
    i = Next(i, count);
  }
  CSetFile::SetFlushWrites(was);
}

void BM_CSetFile_WriteInt(benchmark::State& state) { CSetFileWrite(state, "write.set", 0); }
void BM_CSetFile_WriteInt_Flushed(benchmark::State& state) { CSetFileWrite(state, "flushed.set", 1); }

// ---- SQLite ----

struct Sqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;

  Sqlite(const std::string& name, int count, const char* synchronous) {
    const fs::path p = Dir() / name;
    const bool fresh = !fs::exists(p);
    sqlite3_open(p.string().c_str(), &db);
    Exec("PRAGMA journal_mode=WAL");
    Exec((std::string("PRAGMA synchronous=") + synchronous).c_str());
    if (fresh) {
      Exec("CREATE TABLE settings(section TEXT, name TEXT, type INTEGER, value BLOB, "
           "PRIMARY KEY(section, name, type)) WITHOUT ROWID");
      Exec("BEGIN");
      sqlite3_stmt* insert;
      sqlite3_prepare_v2(db, "INSERT INTO settings VALUES(?, ?, 1024, ?)", -1, &insert, nullptr);
      for (int i = 0; i < count; ++i) {
        sqlite3_bind_text(insert, 1, N().section[i].c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, N().name[i].c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_blob(insert, 3, &i, 4, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
      }
      sqlite3_finalize(insert);
      Exec("COMMIT");
    }
    sqlite3_prepare_v2(db, "SELECT value FROM settings WHERE section = ? AND name = ? AND type = 1024", -1, &read,
                       nullptr);
    sqlite3_prepare_v2(db, "UPDATE settings SET value = ? WHERE section = ? AND name = ? AND type = 1024", -1,
                       &write, nullptr);
  }
  ~Sqlite() {
    sqlite3_finalize(read);
    sqlite3_finalize(write);
    sqlite3_close(db);
  }
  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "sqlite: %s: %s\n", sql, error ? error : "?");
      sqlite3_free(error);
    }
  }
  bool Read(int i, int& v) {
    sqlite3_bind_text(read, 1, N().section[i].c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(read, 2, N().name[i].c_str(), -1, SQLITE_STATIC);
    const bool found = sqlite3_step(read) == SQLITE_ROW && sqlite3_column_bytes(read, 0) == 4;
    if (found) std::memcpy(&v, sqlite3_column_blob(read, 0), 4);
    sqlite3_reset(read);
    return found;
  }
  bool Write(int i, int v) {
    sqlite3_bind_blob(write, 1, &v, 4, SQLITE_TRANSIENT);
    sqlite3_bind_text(write, 2, N().section[i].c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(write, 3, N().name[i].c_str(), -1, SQLITE_STATIC);
    const bool done = sqlite3_step(write) == SQLITE_DONE;
    sqlite3_reset(write);
    return done;
  }
};

void BM_Sqlite_ReadInt(benchmark::State& state) {
  const int count = int(state.range(0));
  Sqlite s(Named("read.db", count), count, "OFF");
  int v = 0, i = 0;
  for (auto _ : state) {
    if (!s.Read(i, v)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(v);
    i = Next(i, count);
  }
}

void SqliteWrite(benchmark::State& state, const char* file, const char* synchronous) {
  const int count = int(state.range(0));
  Sqlite s(Named(file, count), count, synchronous);
  int i = 0, n = 0;
  for (auto _ : state) {
    if (!s.Write(i, ++n)) state.SkipWithError("write failed");
    i = Next(i, count);
  }
}

void BM_Sqlite_WriteInt_SyncOff(benchmark::State& state) { SqliteWrite(state, "off.db", "OFF"); }
void BM_Sqlite_WriteInt_SyncFull(benchmark::State& state) { SqliteWrite(state, "full.db", "FULL"); }

// ---- the journal's life between saves, on its own ----

const unsigned char kJournal[52] = {'Q', 'Z', 'S', 'J'};

HANDLE OpenJournal(const plat::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opened, written and deleted at each save; the open's check finds no file.
void BM_Journal_Deleted(benchmark::State& state) {
  const plat::wstring path = Wide(Dir() / "deleted-journal");
  for (auto _ : state) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    benchmark::DoNotOptimize(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a));
    HANDLE h = OpenJournal(path);
    DWORD put = 0;
    WriteFile(h, kJournal, sizeof kJournal, &put, nullptr);
    CloseHandle(h);
    DeleteFileW(path.c_str());
  }
}

// Kept open between saves, written and cut to 0 bytes at each (what a save costs the journal now).
void BM_Journal_KeptAndCut(benchmark::State& state) {
  const plat::wstring path = Wide(Dir() / "kept-journal");
  HANDLE h = OpenJournal(path);
  for (auto _ : state) {
    DWORD put = 0;
    WriteFile(h, kJournal, sizeof kJournal, &put, nullptr);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
  }
  CloseHandle(h);
}

// For comparison: left at its size between saves and overwritten, its
// header spoilt in place after each save (not what CSetFile does: readers
// could then no longer tell from the size alone that no save is pending).
void BM_Journal_OverwrittenInPlace(benchmark::State& state) {
  const plat::wstring path = Wide(Dir() / "inplace-journal");
  HANDLE h = OpenJournal(path);
  const unsigned char spoilt[4] = {};
  DWORD put = 0;
  WriteFile(h, kJournal, sizeof kJournal, &put, nullptr);
  for (auto _ : state) {
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    WriteFile(h, kJournal, sizeof kJournal, &put, nullptr);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    WriteFile(h, spoilt, sizeof spoilt, &put, nullptr);
  }
  CloseHandle(h);
}

// What the platform asks of every save before any byte moves: opening the
// store for writing (sharing reading only), its byte lock, and letting both go.
void BM_Floor_OpenLockClose(benchmark::State& state) {
  const plat::wstring path = SetFile(Named("floor.set", 100), 100);
  for (auto _ : state) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LockFile(h, 0, 0, 1, 0);
    UnlockFile(h, 0, 0, 1, 0);
    CloseHandle(h);
  }
}

// ---- registration: each of ours beside its reference, at each size ----

void Register() {
  for (int count : kSizes) {
    benchmark::RegisterBenchmark("BM_CSetFile_ReadInt", BM_CSetFile_ReadInt)->Arg(count);
    benchmark::RegisterBenchmark("BM_Sqlite_ReadInt", BM_Sqlite_ReadInt)->Arg(count);
    benchmark::RegisterBenchmark("BM_CSetFile_WriteInt", BM_CSetFile_WriteInt)->Arg(count);
    benchmark::RegisterBenchmark("BM_Sqlite_WriteInt_SyncOff", BM_Sqlite_WriteInt_SyncOff)->Arg(count);
    benchmark::RegisterBenchmark("BM_CSetFile_WriteInt_Flushed", BM_CSetFile_WriteInt_Flushed)->Arg(count)->MinTime(0.2);
    benchmark::RegisterBenchmark("BM_Sqlite_WriteInt_SyncFull", BM_Sqlite_WriteInt_SyncFull)->Arg(count)->MinTime(0.2);
  }
  // Stays within the 2 s after the change.
  benchmark::RegisterBenchmark("BM_CSetFile_ReadIntRecent", BM_CSetFile_ReadIntRecent)->Arg(1000)->MinTime(0.5);
  benchmark::RegisterBenchmark("BM_Journal_KeptAndCut", BM_Journal_KeptAndCut);
  benchmark::RegisterBenchmark("BM_Journal_Deleted", BM_Journal_Deleted);
  benchmark::RegisterBenchmark("BM_Journal_OverwrittenInPlace", BM_Journal_OverwrittenInPlace);
  benchmark::RegisterBenchmark("BM_Floor_OpenLockClose", BM_Floor_OpenLockClose);
}

// The console output, then the pairs: medians (or the single run) of each
// side and their ratio.
class PairReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Aggregate && !median) continue;
      std::string name = r.run_name.function_name + "/" + r.run_name.args;
      std::vector<Sample>& samples = seen_[name];
      if (median) samples.clear();
      if (median || !medians_.count(name)) samples.push_back({r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()});
      if (median) medians_[name] = true;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    const struct {
      const char *ours, *reference;
    } pairs[] = {{"BM_CSetFile_ReadInt", "BM_Sqlite_ReadInt"},
                 {"BM_CSetFile_WriteInt", "BM_Sqlite_WriteInt_SyncOff"},
                 {"BM_CSetFile_WriteInt_Flushed", "BM_Sqlite_WriteInt_SyncFull"}};
    std::printf("\n%-30s %-28s %8s %12s %12s %7s %12s %12s %7s\n", "ours", "reference", "settings", "ours ns",
                "ref ns", "ratio", "ours cpu", "ref cpu", "ratio");
    for (const auto& p : pairs) {
      for (int count : kSizes) {
        const std::string args = std::to_string(count);
        const Sample* a = Get(std::string(p.ours) + "/" + args);
        const Sample* b = Get(std::string(p.reference) + "/" + args);
        if (!a || !b) continue;
        std::printf("%-30s %-28s %8d %12.0f %12.0f %7.2f %12.0f %12.0f %7.2f\n", p.ours, p.reference, count, a->real,
                    b->real, a->real / b->real, a->cpu, b->cpu, a->cpu / b->cpu);
      }
    }
  }

 private:
  struct Sample {
    double real, cpu;
  };
  // The median when there were repetitions, else the one run.
  const Sample* Get(const std::string& name) const {
    auto it = seen_.find(name);
    return it == seen_.end() || it->second.empty() ? nullptr : &it->second.back();
  }
  std::map<std::string, std::vector<Sample>> seen_;
  std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  PairReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
