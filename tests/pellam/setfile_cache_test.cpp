// What a cached reader notices, and the journal a writer keeps between its
// saves: every way another party can change the store (a write, a file put
// in its place, its deletion) shows at the next read, and a writer whose
// journal was taken away or replaced by a stranger's file neither loses its
// crash safety nor writes over that file.
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "setfile_util.h"

namespace {

using namespace setfiletest;

int ReadA(CSetFile& f, int& v) { return f.ReadSettingInt("s", "a", v); }

void WriteA(const wstring& path, int v) {
  CSetFile other(path.c_str());
  EXPECT_EQ(other.WriteSettingInt("s", "a", v), 1);
}

// A store holding s/a = v at `path`, last written an hour ago.
void Settled(const wstring& path, int v) {
  WriteA(path, v);
  SetWriteTime(path, HoursAgo(1));
}

struct Change {
  const char* name;
  std::function<void(const Store&)> apply;
  int expected;  // 0: the read fails
};
void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }

const Change kChanges[] = {
    {"written by another object", [](const Store& s) { WriteA(s.path, 2); }, 2},
    {"written, its time set back", [](const Store& s) { Settled(s.path, 2); }, 2},
    {"replaced by a rename", [](const Store& s) {
       const wstring other = s.dir.Wide("other.set");
       Settled(other, 3);
       std::filesystem::rename(testsupport::P(other), s.file());
     }, 3},
    {"renamed away, another moved in", [](const Store& s) {
       const wstring other = s.dir.Wide("other.set");
       Settled(other, 3);
       std::filesystem::rename(s.file(), s.file().string() + ".old");
       std::filesystem::rename(testsupport::P(other), s.file());
     }, 3},
    {"its value rewritten in place by another program", [](const Store& s) {
       Sleep(20);  // past the file system's clock tick
       std::string bytes = s.bytes();
       const size_t at = bytes.find(std::string("A\0\x01\0\0\0", 6));  // the name, then a = 1
       ASSERT_NE(at, std::string::npos);
       std::fstream f(s.file(), std::ios::in | std::ios::out | std::ios::binary);
       f.seekp(std::streamoff(at + 2));
       f.put('\x05');
     }, 5},
    {"deleted", [](const Store& s) { std::filesystem::remove(s.file()); }, 0},
    {"deleted and made anew", [](const Store& s) {
       std::filesystem::remove(s.file());
       WriteA(s.path, 4);
     }, 4},
};

class CachedReader : public testing::TestWithParam<Change> {};

TEST_P(CachedReader, SeesTheChange) {
  Store s;
  Settled(s.path, 1);
  SetWriteTime(s.path, HoursAgo(2));
  CSetFile reader(s.path.c_str());
  int v = 0;
  ASSERT_EQ(ReadA(reader, v), 1);
  ASSERT_EQ(v, 1);
  ASSERT_EQ(ReadA(reader, v), 1);  // from the cache

  GetParam().apply(s);
  for (int again = 0; again < 2; ++again) {
    v = 0;
    const int expected = GetParam().expected;
    EXPECT_EQ(ReadA(reader, v), expected ? 1 : 0);
    if (expected) {
      EXPECT_EQ(v, expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, CachedReader, testing::ValuesIn(kChanges));

// A writer edits the store as it is: whatever changed it since the writer's
// own last save stays, beside the writer's new setting.
class CachedWriter : public testing::TestWithParam<Change> {};

TEST_P(CachedWriter, KeepsTheChange) {
  Store s;
  CSetFile writer(s.path.c_str());
  ASSERT_EQ(writer.WriteSettingInt("s", "a", 1), 1);
  ASSERT_EQ(writer.WriteSettingInt("s", "b", 1), 1);
  GetParam().apply(s);
  ASSERT_EQ(writer.WriteSettingInt("s", "b", 7), 1);
  CSetFile reader(s.path.c_str());
  int v = 0;
  const int expected = GetParam().expected;
  EXPECT_EQ(ReadA(reader, v), expected ? 1 : 0);
  if (expected) {
    EXPECT_EQ(v, expected);
  }
  EXPECT_EQ(reader.ReadSettingInt("s", "b", v), 1);
  EXPECT_EQ(v, 7);
}

INSTANTIATE_TEST_SUITE_P(Changes, CachedWriter, testing::ValuesIn(kChanges));

// ---- the journal between saves ----

std::string JournalOf(const Store& s) { return s.file().string() + "-journal"; }

TEST(KeptJournal, AStoreEmptiedByAnotherGetsAJournalAnewAtTheNextSave) {
  Store s;
  CSetFile writer(s.path.c_str());
  ASSERT_EQ(writer.WriteSettingInt("s", "a", 1), 1);
  ASSERT_TRUE(std::filesystem::exists(JournalOf(s)));
  {
    CSetFile other(s.path.c_str());
    ASSERT_EQ(other.DeleteKey("s"), 1);
  }
  ASSERT_FALSE(s.exists());
  ASSERT_FALSE(std::filesystem::exists(JournalOf(s)));
  // The next save overwrites a value: its journal must lie beside the store again.
  ASSERT_EQ(writer.WriteSettingInt("s", "a", 2), 1);
  ASSERT_EQ(writer.WriteSettingInt("s", "a", 3), 1);
  EXPECT_TRUE(std::filesystem::exists(JournalOf(s)));
  EXPECT_TRUE(JournalSpent(JournalOf(s)));
  CSetFile reader(s.path.c_str());
  int v = 0;
  EXPECT_EQ(ReadA(reader, v), 1);
  EXPECT_EQ(v, 3);
}

struct Stranger {
  const char* name;
  bool sameFile;  // written into the journal's file, or a new file in its place
};
void PrintTo(const Stranger& c, std::ostream* os) { *os << c.name; }

class KeptJournalStranger : public testing::TestWithParam<Stranger> {};

TEST_P(KeptJournalStranger, IsNeverWrittenOverAndTheSaveFails) {
  Store s;
  CSetFile writer(s.path.c_str());
  ASSERT_EQ(writer.WriteSettingInt("s", "a", 1), 1);
  ASSERT_EQ(writer.WriteSettingInt("s", "a", 2), 1);
  if (!GetParam().sameFile) std::filesystem::remove(JournalOf(s));
  {
    std::ofstream out(JournalOf(s), std::ios::binary | std::ios::trunc);
    out << "somebody's notes";
  }
  const std::string before = s.bytes();
  EXPECT_EQ(writer.WriteSettingInt("s", "a", 3), 0);
  EXPECT_EQ(testsupport::ReadBytes(JournalOf(s)), "somebody's notes");
  EXPECT_EQ(s.bytes(), before);
  CSetFile reader(s.path.c_str());
  int v = 0;
  EXPECT_EQ(ReadA(reader, v), 1);
  EXPECT_EQ(v, 2);
}

INSTANTIATE_TEST_SUITE_P(Files, KeptJournalStranger,
                         testing::Values(Stranger{"written into it", true}, Stranger{"put in its place", false}));

}  // namespace

namespace {

#ifndef _WIN32
size_t OpenDescriptors() {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) n += e.is_symlink() ? 1 : 0;
  return n;
}
#endif

// What objects keep open between operations is bounded for the process:
// beyond it they ask names instead, and work all the same.
TEST(KeptDescriptors, ManyObjectsWorkAndKeepABoundedNumberOpen) {
  setfiletest::Store dir;
#ifndef _WIN32
  const size_t before = OpenDescriptors();
#endif
  constexpr int kObjects = 400;
  std::vector<std::unique_ptr<CSetFile>> objects;
  for (int i = 0; i < kObjects; ++i) {
    objects.push_back(std::make_unique<CSetFile>(dir.dir.Wide(plat::FormatAS("s%d.set", i).c_str()).c_str()));
    ASSERT_EQ(objects.back()->WriteSettingInt("s", "a", i), 1) << i;
    ASSERT_EQ(objects.back()->WriteSettingInt("s", "a", i + 1), 1) << i;
  }
  for (int i = 0; i < kObjects; ++i) {
    int v = 0;
    EXPECT_EQ(objects[i]->ReadSettingInt("s", "a", v), 1);
    EXPECT_EQ(v, i + 1);
  }
#ifndef _WIN32
  EXPECT_LE(OpenDescriptors(), before + 240);
#endif
  objects.clear();
#ifndef _WIN32
  EXPECT_EQ(OpenDescriptors(), before);
#endif
}

}  // namespace
