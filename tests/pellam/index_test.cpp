// The index over a content block answers every search exactly as the walks
// do: on well-formed blocks, on blocks other writers may leave (repeated
// names, stray records, hashes that do not fit their names) and on damaged
// ones, where a bad record hides all that follows it. And the journal's
// hashes of an overwrite equal those of the two images hashed whole.
#include <random>

#include "content.h"
#include "settings/index.h"
#include "settings/journal.h"

namespace {

using namespace contenttest;

// One record as raw bytes; the size, the hash and the name length as given
// (0 and ~0: the true ones).
struct Raw {
  DWORD tag;
  std::string name;
  Bytes body;
  DWORD size = 0;
  DWORD hash = ~0u;
};

Bytes Put(const Raw& r) {
  const DWORD nameLength = DWORD(r.name.size() + 1);
  fmt::Header h;
  h.hash = r.hash != ~0u ? r.hash : fmt::HashName(r.name.data(), r.name.size());
  h.size = r.size ? r.size : DWORD(fmt::kHeaderSize + nameLength + r.body.size());
  h.tag = r.tag;
  h.nameLength = nameLength;
  Bytes out(fmt::kHeaderSize);
  fmt::PutHeader(out.data(), h);
  out.insert(out.end(), r.name.begin(), r.name.end());
  out.push_back(0);
  out.insert(out.end(), r.body.begin(), r.body.end());
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Setting(const char* name, DWORD tag, char value, DWORD size = 0) {
  return Put({tag, name, Bytes(4, fmt::Byte(value)), size});
}

Bytes Section(const char* name, const Bytes& settings, DWORD size = 0, DWORD hash = ~0u) {
  return Put({CSetFile::kSection, name, settings, size, hash});
}

const char* const kSections[] = {"S", "T", "U", "XYZ", "NONE"};
const char* const kSettings[] = {"A", "B", "C", "LONGER", "NONE"};
const DWORD kTags[] = {CSetFile::kInt, CSetFile::kString, 0x1};

// Every search of the name pools, through the index and through the walks.
void ExpectSameAnswers(const Bytes& content) {
  fmt::Index index;
  ASSERT_TRUE(index.Build(content.data(), content.size()));
  for (const char* section : kSections) {
    const fmt::Name s = N(section);
    fmt::Record walked, indexed;
    const fmt::Result w = fmt::FindSection(content.data(), content.size(), s, walked);
    EXPECT_EQ(index.FindSection(content.data(), s, indexed), w) << section;
    if (w == fmt::Result::kOk) {
      EXPECT_EQ(indexed.offset, walked.offset) << section;
    }
    for (const char* setting : kSettings) {
      for (DWORD tag : kTags) {
        const fmt::Name n = N(setting);
        const fmt::Result ws = fmt::FindSetting(content.data(), content.size(), s, n, tag, walked);
        const fmt::Result is = index.FindSetting(content.data(), s, n, tag, indexed);
        EXPECT_EQ(is, ws) << section << "/" << setting << " " << tag;
        if (ws == fmt::Result::kOk && is == ws) {
          EXPECT_EQ(indexed.offset, walked.offset) << section << "/" << setting;
          EXPECT_EQ(indexed.body, walked.body);
          EXPECT_EQ(indexed.bodySize, walked.bodySize);
        }
      }
    }
  }
}

struct Case {
  const char* name;
  Bytes content;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"empty", {}},
    {"one", Section("S", Setting("A", CSetFile::kInt, 1))},
    {"several", Cat({Section("S", Cat({Setting("A", CSetFile::kInt, 1), Setting("B", CSetFile::kInt, 2),
                                        Setting("A", CSetFile::kString, 3)})),
                     Section("XYZ", Cat({Setting("LONGER", 0x1, 4), Setting("C", CSetFile::kInt, 5)}))})},
    // Only the first section of a name is searched.
    {"repeated section", Cat({Section("S", Setting("A", CSetFile::kInt, 1)),
                              Section("S", Cat({Setting("A", CSetFile::kInt, 2), Setting("B", CSetFile::kInt, 3)}))})},
    {"repeated setting", Section("S", Cat({Setting("A", CSetFile::kInt, 1), Setting("A", CSetFile::kInt, 2)}))},
    {"stray record at the top", Cat({Setting("S", CSetFile::kInt, 9), Section("S", Setting("A", CSetFile::kInt, 1))})},
    {"hash that does not fit", Cat({Section("S", Setting("A", CSetFile::kInt, 1), 0, 0x1234),
                                    Section("S", Setting("B", CSetFile::kInt, 2))})},
    {"empty section in the middle", Cat({Section("S", Setting("A", CSetFile::kInt, 1)), Section("T", {}),
                                       Section("U", Setting("A", CSetFile::kInt, 2))})},
    {"size 0 section", [] {
       Bytes b = Cat({Section("S", Setting("A", CSetFile::kInt, 1)), Section("T", Setting("A", CSetFile::kInt, 2))});
       fmt::Header h = fmt::GetHeader(b.data() + 40);
       h.size = 0;
       fmt::PutHeader(b.data() + 40, h);
       return b;
     }()},
    {"bad setting", Cat({Section("S", Cat({Setting("A", CSetFile::kInt, 1), Setting("B", CSetFile::kInt, 2, 5),
                                          Setting("C", CSetFile::kInt, 3)})),
                         Section("T", Setting("C", CSetFile::kInt, 4))})},
    {"overrun at the end", Cat({Section("S", Setting("A", CSetFile::kInt, 1)),
                                Section("T", Setting("A", CSetFile::kInt, 2), 4000)})},
    {"stray tail", Cat({Section("S", Setting("A", CSetFile::kInt, 1)), Bytes(16, 0xEE)})},
    {"odd offsets", Cat({Section("XYZ", Cat({Setting("LONGER", CSetFile::kInt, 1), Setting("C", CSetFile::kInt, 2)})),
                         Section("U", Setting("B", 0x1, 3))})},
};

class IndexAnswers : public testing::TestWithParam<Case> {};

TEST_P(IndexAnswers, AsTheWalksDo) { ExpectSameAnswers(GetParam().content); }

INSTANTIATE_TEST_SUITE_P(Blocks, IndexAnswers, testing::ValuesIn(kCases));

// Stores built by writes and deletes, then damaged by one byte.
TEST(IndexAnswers, OnBuiltAndDamagedStores) {
  std::mt19937 random(13);
  for (int round = 0; round < 60; ++round) {
    Bytes content;
    const int writes = std::uniform_int_distribution<int>(1, 40)(random);
    for (int i = 0; i < writes; ++i) {
      const char* s = kSections[random() % 4];
      const char* n = kSettings[random() % 4];
      const DWORD tag = kTags[random() % 3];
      if (random() % 5 == 0)
        DeleteSetting(content, s, n, tag);
      else
        Write(content, s, n, tag, std::string(1 + random() % 6, char('a' + i % 26)));
    }
    SCOPED_TRACE(round);
    ExpectSameAnswers(content);
    if (content.empty()) continue;
    content[random() % content.size()] ^= fmt::Byte(1 + random() % 255);
    ExpectSameAnswers(content);
    if (HasFailure()) break;
  }
}

// ---- the hashes of an overwrite ----

struct OverwriteCase {
  size_t length, at, count;
};

class OverwriteHashes : public testing::TestWithParam<OverwriteCase> {};

TEST_P(OverwriteHashes, AreThoseOfTheWholeImages) {
  const OverwriteCase& c = GetParam();
  Bytes before(c.length), after;
  for (size_t i = 0; i < c.length; ++i) before[i] = fmt::Byte(i * 7 + 3);
  after = before;
  Bytes old(before.begin() + c.at, before.begin() + c.at + c.count);
  for (size_t i = 0; i < c.count; ++i) after[c.at + i] ^= 0x5A;
  ULONGLONG oldHash = 0, newHash = 0;
  pellam::journal::HashOverwrite(after.data(), after.size(), c.at, c.count, old.data(), oldHash, newHash);
  EXPECT_EQ(oldHash, pellam::journal::HashImage(before.data(), before.size(), false));
  EXPECT_EQ(newHash, pellam::journal::HashImage(after.data(), after.size(), false));
  EXPECT_NE(oldHash, newHash);
}

INSTANTIATE_TEST_SUITE_P(Ranges, OverwriteHashes,
                         testing::Values(OverwriteCase{22, 0, 4}, OverwriteCase{22, 18, 4}, OverwriteCase{40, 10, 1},
                                         OverwriteCase{300000, 150001, 4}, OverwriteCase{300000, 0, 520},
                                         OverwriteCase{300000, 299996, 4}, OverwriteCase{1000, 7, 993}));

// ---- a journal spent in place ----

TEST(SpentJournal, IsToldFromOneThatHoldsASave) {
  pellam::journal::Header h;
  h.oldLength = h.newLength = 30;
  h.at = 10;
  h.count = 4;
  h.oldHash = 0x1111;
  h.newHash = 0x2222;
  const fmt::Byte old[4] = {1, 2, 3, 4};
  Bytes built(pellam::journal::kHeaderSize + 4);
  pellam::journal::Build(h, old, built.data());
  Bytes spent = built;
  spent[4] = spent[5] = spent[6] = spent[7] = 0;
  const struct {
    const char* what;
    Bytes bytes;
    bool isSpent;
  } cases[] = {
      {"empty", {}, true},
      {"holding a save", built, false},
      {"its size field set to 0", spent, true},
      {"the magic alone, size 0", {'Q', 'Z', 'S', 'J', 0, 0, 0, 0}, true},
      {"a piece of the magic", {'Q', 'Z', 'S'}, false},
      {"another file's bytes", {'Q', 'Z', 'S', 'T', 0, 0, 0, 0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(pellam::journal::IsSpent(c.bytes.data(), c.bytes.size()), c.isSpent);
  }
  // Spent in place, it still names the image its save wrote.
  EXPECT_EQ(pellam::journal::SpentNames(spent.data()), 0x2222u);
  pellam::journal::Header parsed;
  EXPECT_TRUE(pellam::journal::Parse(built.data(), built.size(), parsed));
  EXPECT_FALSE(pellam::journal::Parse(spent.data(), spent.size(), parsed));
}

}  // namespace
