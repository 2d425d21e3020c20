// Reading a damaged content block: what still reads whole, and where the damage lies.
#include <functional>

#include "content.h"
#include "settings/survey.h"

namespace {

using namespace contenttest;

// Three sections of two settings each.
Bytes Sample() {
  Bytes c;
  for (const char* s : {"A", "B", "C"})
    for (const char* n : {"X", "Y"}) EXPECT_EQ(WriteInt(c, s, n, 7), fmt::Result::kOk);
  return c;
}

// The offset of a record: the start of its name less its header.
size_t RecordOf(const Bytes& c, const char* section, const char* name) {
  fmt::Record r;
  EXPECT_EQ(fmt::FindSetting(c.data(), c.size(), N(section), N(name), CSetFile::kInt, r), fmt::Result::kOk);
  return r.offset;
}

struct Damaged {
  const char* what;
  std::function<void(Bytes&)> damage;
  std::vector<std::string> survivors;  // SECTION/NAME, reachable ones without a star
  const char* fault;                   // the first damage reported, "" for none
};
void PrintTo(const Damaged& d, std::ostream* os) { *os << d.what; }

class Surveyed : public testing::TestWithParam<Damaged> {};

TEST_P(Surveyed, KeepsWhatReadsWholeAndSaysWhereTheDamageLies) {
  const Damaged& d = GetParam();
  Bytes c = Sample();
  d.damage(c);
  const fmt::Survey s = fmt::SurveyContent(c.data(), c.size());
  std::vector<std::string> got;
  for (const fmt::Survived& v : s.settings) got.push_back(v.section + "/" + v.record.name + (v.reachable ? "" : "*"));
  EXPECT_EQ(got, d.survivors);
  EXPECT_EQ(s.damage.empty() ? std::string() : s.damage.front().what.substr(0, std::string(d.fault).size()),
            std::string(d.fault));
}

auto Put32 = [](Bytes& c, size_t at, DWORD v) {
  for (int i = 0; i < 4; ++i) c[at + i] = fmt::Byte(v >> (8 * i));
};

INSTANTIATE_TEST_SUITE_P(
    Damage, Surveyed,
    testing::Values(
        Damaged{"none", [](Bytes&) {}, {"A/X", "A/Y", "B/X", "B/Y", "C/X", "C/Y"}, ""},
        Damaged{"a setting of size 0", [](Bytes& c) { Put32(c, RecordOf(c, "B", "X") + 4, 0); },
                {"A/X", "A/Y", "B/Y", "C/X", "C/Y"}, "a record of size 0"},
        Damaged{"zeros over a section header",
                [](Bytes& c) { std::fill(c.begin() + RecordOf(c, "B", "X") - 18, c.begin() + RecordOf(c, "B", "X"), 0); },
                {"A/X", "A/Y", "C/X", "C/Y"}, "a record of size 0"},
        Damaged{"cut short in the last section", [](Bytes& c) { c.resize(c.size() - 5); },
                {"A/X", "A/Y", "B/X", "B/Y", "C/X"}, "a section that runs past the end"},
        Damaged{"a name without its zero byte", [](Bytes& c) { c[RecordOf(c, "A", "Y") + 17] = 'Q'; },
                {"A/X", "B/X", "B/Y", "C/X", "C/Y"}, "a name without its closing zero byte"},
        Damaged{"a wrong hash", [](Bytes& c) { Put32(c, RecordOf(c, "C", "Y"), 1); },
                {"A/X", "A/Y", "B/X", "B/Y", "C/X", "C/Y*"}, "a setting whose name does not match its hash"}));

}  // namespace
