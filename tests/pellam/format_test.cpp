// The settings file's bytes: the name hash, normalisation, record layout and
// the scan rule with its failures.
#include <cstring>

#include "content.h"

namespace {

using namespace contenttest;

// ---- names ----

struct HashCase {
  const char* name;
  DWORD hash;
};
void PrintTo(const HashCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class NameHash : public testing::TestWithParam<HashCase> {};

TEST_P(NameHash, MatchesTheCheckValue) {
  const HashCase& c = GetParam();
  EXPECT_EQ(fmt::HashName(c.name, std::strlen(c.name)), c.hash);
}

INSTANTIATE_TEST_SUITE_P(CheckValues, NameHash,
                         testing::Values(HashCase{"ABC", 0x39940100}, HashCase{"123456789", 0x31C30282},
                                         HashCase{"", 0}, HashCase{"S", 0x6A9600E8}, HashCase{"A", 0x58E500D8}));

TEST(Names, NormalisedCopyIsUpperCaseInAToZOnly) {
  fmt::Name lower = N("video"), upper = N("VIDEO");
  EXPECT_EQ(lower.text, "VIDEO");
  EXPECT_EQ(lower.hash, upper.hash);
  EXPECT_EQ(lower.length(), 6u);
  EXPECT_EQ(N("a-\xe9_z{}\xe4").text, "A-\xe9_Z{}\xe4");
  fmt::Name untouched;
  untouched.text = "keep";
  EXPECT_FALSE(fmt::Normalize(nullptr, untouched));
  EXPECT_FALSE(fmt::Normalize("", untouched));
  EXPECT_EQ(untouched.text, "keep");
}

// ---- the file ----

TEST(Layout, IntAEqualsFiveInSectionSIsTheDocumentedFile) {
  Bytes content;
  ASSERT_EQ(WriteInt(content, "s", "a", 5), fmt::Result::kOk);
  Bytes file(fmt::kMagic, fmt::kMagic + 4);
  file.insert(file.end(), content.begin(), content.end());
  const Bytes expected = {0x51, 0x5A, 0x53, 0x54,                          // magic
                          0xE8, 0x00, 0x96, 0x6A, 0x28, 0x00, 0x00, 0x00,  // hash of S, size 40
                          0x00, 0xFC, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // section tag, name length 2
                          0x53, 0x00,                                      // S
                          0xD8, 0x00, 0xE5, 0x58, 0x16, 0x00, 0x00, 0x00,  // hash of A, size 22
                          0x00, 0x04, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // Int, name length 2
                          0x41, 0x00,                                      // A
                          0x05, 0x00, 0x00, 0x00};                         // 5
  EXPECT_EQ(file, expected);
  EXPECT_EQ(fmt::ClassifyFile(file.data(), file.size()), fmt::FileKind::kStore);
}

TEST(Layout, FileKinds) {
  const fmt::Byte magic[] = {'Q', 'Z', 'S', 'T', 1};
  const fmt::Byte other[] = {'Q', 'Z', 'S', 't'};
  EXPECT_EQ(fmt::ClassifyFile(nullptr, 0), fmt::FileKind::kEmpty);
  EXPECT_EQ(fmt::ClassifyFile(magic, 4), fmt::FileKind::kStore);
  EXPECT_EQ(fmt::ClassifyFile(magic, 5), fmt::FileKind::kStore);
  EXPECT_EQ(fmt::ClassifyFile(magic, 3), fmt::FileKind::kForeign);
  EXPECT_EQ(fmt::ClassifyFile(other, 4), fmt::FileKind::kForeign);
}

TEST(Layout, RecordsAtOddOffsetsReadBack) {
  Bytes content;
  ASSERT_EQ(Write(content, "ab", "x", CSetFile::kBin, "\x01\x02\x03"), fmt::Result::kOk);
  ASSERT_EQ(WriteInt(content, "ab", "yyy", -2), fmt::Result::kOk);
  ASSERT_EQ(WriteInt(content, "cde", "z", 0x01020304), fmt::Result::kOk);
  fmt::Record r;
  ASSERT_EQ(fmt::FindSetting(content.data(), content.size(), N("AB"), N("X"), CSetFile::kBin, r), fmt::Result::kOk);
  EXPECT_EQ(r.offset, 19u);  // after a section named with two letters
  ASSERT_EQ(fmt::FindSetting(content.data(), content.size(), N("ab"), N("yyy"), CSetFile::kInt, r), fmt::Result::kOk);
  EXPECT_EQ(r.offset, 19u + 16 + 2 + 3);
  EXPECT_EQ(r.bodySize, 4u);
  int32_t v;
  std::memcpy(&v, r.body, 4);
  EXPECT_EQ(v, -2);
  ASSERT_EQ(fmt::FindSection(content.data(), content.size(), N("cde"), r), fmt::Result::kOk);
  EXPECT_EQ(r.offset, 19u + 21 + 24);
  EXPECT_EQ(fmt::GetHeader(content.data() + r.offset).hash, N("CDE").hash);
  ASSERT_EQ(fmt::FindSetting(content.data(), content.size(), N("cde"), N("z"), CSetFile::kInt, r), fmt::Result::kOk);
  EXPECT_EQ(Bytes(r.body, r.body + 4), (Bytes{4, 3, 2, 1}));
}

TEST(Matching, NeedsHashTagLengthAndBytes) {
  Bytes content;
  ASSERT_EQ(Write(content, "S", "name", CSetFile::kString, std::string("v\0", 2)), fmt::Result::kOk);
  ASSERT_EQ(Write(content, "S", "NAME", CSetFile::kStringW, std::string("w\0", 2)), fmt::Result::kOk);
  EXPECT_EQ(List(content), (std::vector<std::string>{"S", std::string("S/NAME/1000=v\0", 14),
                                                     std::string("S/NAME/1800=w\0", 14)}));
  fmt::Record r;
  EXPECT_EQ(fmt::FindSetting(content.data(), content.size(), N("s"), N("name"), CSetFile::kInt, r),
            fmt::Result::kNotFound);
  EXPECT_EQ(fmt::FindSetting(content.data(), content.size(), N("s"), N("nam"), CSetFile::kString, r),
            fmt::Result::kNotFound);
  // Same hash, other bytes: the hash alone decides nothing.
  fmt::Name fake = N("NAMF");
  fake.hash = N("NAME").hash;
  EXPECT_EQ(fmt::FindSetting(content.data(), content.size(), N("s"), fake, CSetFile::kString, r), fmt::Result::kNotFound);
  ASSERT_EQ(fmt::FindSetting(content.data(), content.size(), N("s"), N("Name"), CSetFile::kStringW, r),
            fmt::Result::kOk);
  EXPECT_EQ(r.body[0], 'w');
}

// ---- the scan rule ----

TEST(Walks, SixteenOrFewerBytesLeftAreNotARecord) {
  Bytes content;
  ASSERT_EQ(WriteInt(content, "S", "A", 5), fmt::Result::kOk);
  const size_t clean = content.size();
  content.resize(clean + 16, 0xEE);
  EXPECT_EQ(List(content), (std::vector<std::string>{"S", std::string("S/A/400=\x05\0\0\0", 12)}));
  size_t stop = 0;
  EXPECT_EQ(fmt::WalkSections(content.data(), content.size(), [](const fmt::Record&) { return true; }, &stop),
            fmt::Walk::kDone);
  EXPECT_EQ(stop, clean);
  content.push_back(0xEE);  // 17 bytes: a record header that does not fit
  EXPECT_EQ(List(content).back(), "corrupt");
  int visits = 0;
  const fmt::Byte junk[16] = {0};
  EXPECT_EQ(fmt::WalkSections(junk, 16, [&](const fmt::Record&) { return ++visits, true; }), fmt::Walk::kDone);
  EXPECT_EQ(visits, 0);
}

TEST(Walks, AVisitorStopsTheWalk) {
  Bytes content;
  WriteInt(content, "A", "x", 1);
  WriteInt(content, "B", "x", 1);
  int visits = 0;
  EXPECT_EQ(fmt::WalkSections(content.data(), content.size(), [&](const fmt::Record&) { return ++visits, false; }),
            fmt::Walk::kStopped);
  EXPECT_EQ(visits, 1);
}

// One field of one record spoilt; every walk that reaches it fails.
struct Spoil {
  const char* what;
  size_t offset;  // of the field in the content below
  DWORD value;
};
void PrintTo(const Spoil& s, std::ostream* os) { *os << s.what; }

// Content: section S [0, 62) holding A (Int, at 18) and B (Int, at 40); section T [62, 102).
Bytes TwoSections() {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  WriteInt(c, "S", "B", 2);
  WriteInt(c, "T", "C", 3);
  return c;
}

class CorruptRecord : public testing::TestWithParam<Spoil> {};

TEST_P(CorruptRecord, FailsEveryWalkThatReachesIt) {
  Bytes c = TwoSections();
  ASSERT_EQ(c.size(), 102u);
  const Spoil& s = GetParam();
  fmt::Byte v[4] = {fmt::Byte(s.value), fmt::Byte(s.value >> 8), fmt::Byte(s.value >> 16), fmt::Byte(s.value >> 24)};
  std::memcpy(&c[s.offset], v, 4);
  const Bytes before = c;
  fmt::Record r;
  EXPECT_EQ(fmt::FindSetting(c.data(), c.size(), N("S"), N("B"), CSetFile::kInt, r), fmt::Result::kCorrupt);
  int32_t nine = 9;
  EXPECT_EQ(fmt::PlanWrite(c.data(), c.size(), N("S"), N("B"), CSetFile::kInt, &nine, 4).result, fmt::Result::kCorrupt);
  EXPECT_EQ(fmt::PlanWrite(c.data(), c.size(), N("S"), N("new"), CSetFile::kInt, &nine, 4).result,
            fmt::Result::kCorrupt);
  EXPECT_EQ(fmt::PlanDeleteSetting(c.data(), c.size(), N("S"), N("B"), CSetFile::kInt).result, fmt::Result::kCorrupt);
  EXPECT_EQ(List(c).back(), "corrupt");
  EXPECT_EQ(c, before);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CorruptRecord,
    testing::Values(Spoil{"setting size 0", 18 + 4, 0}, Spoil{"setting size below a header", 18 + 4, 15},
                    Spoil{"setting runs past its section", 18 + 4, 45},
                    Spoil{"setting name runs past its record", 18 + 12, 7},
                    Spoil{"setting name length 0", 18 + 12, 0},
                    Spoil{"setting name without its zero byte", 18 + 12, 1},
                    Spoil{"section runs past the content", 4, 103}, Spoil{"section size 0", 4, 0},
                    Spoil{"section name runs past its record", 12, 63}),
    [](const testing::TestParamInfo<Spoil>& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

TEST(Walks, ACorruptRecordBeyondTheMatchIsNotReached) {
  Bytes c = TwoSections();
  c[62 + 4] = 0;  // section T: size 0
  c[62 + 5] = 0;
  fmt::Record r;
  EXPECT_EQ(fmt::FindSetting(c.data(), c.size(), N("S"), N("B"), CSetFile::kInt, r), fmt::Result::kOk);
  EXPECT_EQ(fmt::FindSection(c.data(), c.size(), N("T"), r), fmt::Result::kCorrupt);
  EXPECT_EQ(fmt::FindSection(c.data(), c.size(), N("U"), r), fmt::Result::kCorrupt);
}

}  // namespace
