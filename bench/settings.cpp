// CSetFile beside SQLite on the same data: 1,000 Int settings in 10 sections,
// read and written one at a time, in files on the same disk.
//
// By default CSetFile asks the system for no flush: a write survives the end
// of the process at any point (its journal puts back a save that did not
// end), not a power cut. The SQLite figure of the same promise is
// journal_mode=WAL with synchronous=OFF. With SetFlushWrites(1) a save flushes
// its journal before it overwrites the store and the store before the
// journal goes: the durable figure, beside SQLite's synchronous=FULL.
//
// The journal is kept and cut to 0 bytes after each save; what deleting it
// instead would cost is measured on the same calls (BM_Journal_*). Both keep the file shared with
// other processes (SQLite's normal locking mode; CSetFile's byte lock), and
// both check at every read whether another process changed the file.
//
// The cached read needs a file whose time has settled (CSetFile trusts its
// cache only for a file last written more than 2 s before): the store is set
// up, then its time moved back one hour. The read "recent" is the same read
// within the 2 s after a change, when every read loads the file.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "pellam.h"

namespace {

namespace fs = std::filesystem;
constexpr int kSections = 10, kPerSection = 100, kSettings = kSections * kPerSection;

struct Names {
  std::vector<std::string> section, name;
  Names() {
    for (int i = 0; i < kSettings; ++i) {
      section.push_back("Section" + std::to_string(i / kPerSection));
      name.push_back("Setting" + std::to_string(i % kPerSection));
    }
  }
};
const Names& N() {
  static Names n;
  return n;
}

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

// A store of kSettings Ints, made once per name.
plat::wstring SetFile(const char* name) {
  const fs::path p = Dir() / name;
  if (!fs::exists(p)) {
    CSetFile f(Wide(p).c_str());
    for (int i = 0; i < kSettings; ++i) f.WriteSettingInt(N().section[i].c_str(), N().name[i].c_str(), i);
  }
  return Wide(p);
}

void BM_CSetFile_ReadInt(benchmark::State& state) {
  const plat::wstring path = SetFile("read.set");
  MoveTimeBack(Dir() / "read.set");
  CSetFile f(path.c_str());
  int v = 0, i = 0;
  for (auto _ : state) {
    if (!f.ReadSettingInt(N().section[i].c_str(), N().name[i].c_str(), v)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(v);
    i = (i + 7) % kSettings;
  }
}
BENCHMARK(BM_CSetFile_ReadInt);

void BM_CSetFile_ReadIntRecent(benchmark::State& state) {
  const plat::wstring path = SetFile("recent.set");
  CSetFile f(path.c_str());
  f.WriteSettingInt("Section0", "Setting0", 0);  // a change just now
  int v = 0, i = 0;
  for (auto _ : state) {
    if (!f.ReadSettingInt(N().section[i].c_str(), N().name[i].c_str(), v)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(v);
    i = (i + 7) % kSettings;
  }
}
BENCHMARK(BM_CSetFile_ReadIntRecent)->MinTime(0.5);  // stays within the 2 s after the change

void BM_CSetFile_WriteInt(benchmark::State& state) {
  const plat::wstring path = SetFile("write.set");
  CSetFile f(path.c_str());
  int i = 0, n = 0;
  for (auto _ : state) {
    if (!f.WriteSettingInt(N().section[i].c_str(), N().name[i].c_str(), ++n)) state.SkipWithError("write failed");
    i = (i + 7) % kSettings;
  }
}
BENCHMARK(BM_CSetFile_WriteInt);

void BM_CSetFile_WriteInt_Flushed(benchmark::State& state) {
  const plat::wstring path = SetFile("flushed.set");
  CSetFile f(path.c_str());
  const int was = CSetFile::SetFlushWrites(1);
  int i = 0, n = 0;
  for (auto _ : state) {
    if (!f.WriteSettingInt(N().section[i].c_str(), N().name[i].c_str(), ++n)) state.SkipWithError("write failed");
    i = (i + 7) % kSettings;
  }
  CSetFile::SetFlushWrites(was);
}
BENCHMARK(BM_CSetFile_WriteInt_Flushed);

// ---- the journal's life, on its own: deleted after each save, or kept and cut ----

const unsigned char kJournal[52] = {'Q', 'Z', 'S', 'J'};

void BM_Journal_Deleted(benchmark::State& state) {
  const plat::wstring path = Wide(Dir() / "deleted-journal");
  for (auto _ : state) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    benchmark::DoNotOptimize(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a));  // the check at the open
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    WriteFile(h, kJournal, sizeof kJournal, &put, nullptr);
    CloseHandle(h);
    DeleteFileW(path.c_str());
  }
}
BENCHMARK(BM_Journal_Deleted);

void BM_Journal_KeptAndCut(benchmark::State& state) {
  const plat::wstring path = Wide(Dir() / "kept-journal");
  for (auto _ : state) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    benchmark::DoNotOptimize(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &a));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    WriteFile(h, kJournal, sizeof kJournal, &put, nullptr);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
  }
}
BENCHMARK(BM_Journal_KeptAndCut);

// ---- SQLite ----

struct Sqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* read = nullptr;
  sqlite3_stmt* write = nullptr;

  Sqlite(const char* name, const char* synchronous) {
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
      for (int i = 0; i < kSettings; ++i) {
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
  Sqlite s("read.db", "OFF");
  int v = 0, i = 0;
  for (auto _ : state) {
    if (!s.Read(i, v)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(v);
    i = (i + 7) % kSettings;
  }
}
BENCHMARK(BM_Sqlite_ReadInt);

void SqliteWrite(benchmark::State& state, const char* file, const char* synchronous) {
  Sqlite s(file, synchronous);
  int i = 0, n = 0;
  for (auto _ : state) {
    if (!s.Write(i, ++n)) state.SkipWithError("write failed");
    i = (i + 7) % kSettings;
  }
}

void BM_Sqlite_WriteInt_SyncOff(benchmark::State& state) { SqliteWrite(state, "off.db", "OFF"); }
BENCHMARK(BM_Sqlite_WriteInt_SyncOff);

void BM_Sqlite_WriteInt_SyncFull(benchmark::State& state) { SqliteWrite(state, "full.db", "FULL"); }
BENCHMARK(BM_Sqlite_WriteInt_SyncFull);

}  // namespace

BENCHMARK_MAIN();
