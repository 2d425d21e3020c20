// Edits of the settings content: where records land, what sizes change, and
// the invariants every writer keeps, checked against a plain model.
#include <algorithm>
#include <cstring>
#include <random>

#include "content.h"

namespace {

using namespace contenttest;

using Lines = std::vector<std::string>;

std::string Int(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Entry(const char* section, const char* name, DWORD tag, const std::string& value) {
  return plat::FormatAS("%s/%s/%x=", section, name, unsigned(tag)) + value;
}

DWORD SizeField(const Bytes& c, size_t offset) { return fmt::GetHeader(c.data() + offset).size; }

TEST(Edits, SameSizeOverwritesTheValueInPlace) {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  WriteInt(c, "S", "B", 2);
  fmt::Name s = N("s"), b = N("b");
  int32_t v = 77;
  fmt::Edit e = fmt::PlanWrite(c.data(), c.size(), s, b, CSetFile::kInt, &v, 4);
  ASSERT_EQ(e.result, fmt::Result::kOk);
  EXPECT_EQ(e.kind, fmt::Edit::kOverwrite);
  EXPECT_EQ(e.newLength, c.size());
  Bytes expected = c;
  std::memcpy(&expected[40 + 18], &v, 4);
  fmt::Apply(e, c.data());  // in place
  EXPECT_EQ(c, expected);
}

TEST(Edits, OtherSizeReplacesTheRecordWhereItStands) {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  Write(c, "S", "B", CSetFile::kBin, "xy");
  WriteInt(c, "S", "C", 3);
  WriteInt(c, "T", "D", 4);
  ASSERT_EQ(Write(c, "s", "b", CSetFile::kBin, "longer value"), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"S", Entry("S", "A", 0x400, Int(1)), Entry("S", "B", 0x2400, "longer value"),
                            Entry("S", "C", 0x400, Int(3)), "T", Entry("T", "D", 0x400, Int(4))}));
  EXPECT_EQ(SizeField(c, 0), 18u + 22 + 30 + 22);
  ASSERT_EQ(Write(c, "S", "B", CSetFile::kBin, "z"), fmt::Result::kOk);
  EXPECT_EQ(SizeField(c, 0), 18u + 22 + 19 + 22);
  EXPECT_EQ(List(c)[2], Entry("S", "B", 0x2400, "z"));
}

TEST(Edits, NewSettingGoesAfterTheLastOfItsSectionAndNewSectionAfterTheLast) {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  WriteInt(c, "T", "B", 2);
  ASSERT_EQ(WriteInt(c, "S", "C", 3), fmt::Result::kOk);
  ASSERT_EQ(WriteInt(c, "U", "D", 4), fmt::Result::kOk);
  ASSERT_EQ(WriteInt(c, "s", "a", 5), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"S", Entry("S", "A", 0x400, Int(5)), Entry("S", "C", 0x400, Int(3)), "T",
                            Entry("T", "B", 0x400, Int(2)), "U", Entry("U", "D", 0x400, Int(4))}));
  EXPECT_EQ(SizeField(c, 0), 18u + 44);
}

TEST(Edits, RemovingSettingsShrinksThenDropsTheSectionThenEmptiesTheContent) {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  WriteInt(c, "S", "B", 2);
  WriteInt(c, "T", "C", 3);
  ASSERT_EQ(DeleteSetting(c, "s", "a", CSetFile::kInt), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"S", Entry("S", "B", 0x400, Int(2)), "T", Entry("T", "C", 0x400, Int(3))}));
  EXPECT_EQ(SizeField(c, 0), 40u);
  ASSERT_EQ(DeleteSetting(c, "S", "B", CSetFile::kInt), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"T", Entry("T", "C", 0x400, Int(3))}));
  fmt::Name t = N("T"), cc = N("C");
  fmt::Edit e = fmt::PlanDeleteSetting(c.data(), c.size(), t, cc, CSetFile::kInt);
  ASSERT_EQ(e.result, fmt::Result::kOk);
  EXPECT_EQ(e.newLength, 0u);
}

TEST(Edits, MissingTargetsAreNotFoundAndChangeNothing) {
  Bytes c;
  EXPECT_EQ(DeleteSetting(c, "S", "A", CSetFile::kInt), fmt::Result::kNotFound);
  EXPECT_EQ(DeleteSection(c, "S"), fmt::Result::kNotFound);
  WriteInt(c, "S", "A", 1);
  const Bytes before = c;
  EXPECT_EQ(DeleteSetting(c, "S", "A", CSetFile::kUInt), fmt::Result::kNotFound);
  EXPECT_EQ(DeleteSetting(c, "S", "B", CSetFile::kInt), fmt::Result::kNotFound);
  EXPECT_EQ(DeleteSetting(c, "T", "A", CSetFile::kInt), fmt::Result::kNotFound);
  EXPECT_EQ(DeleteSection(c, "A"), fmt::Result::kNotFound);  // a setting's name is no section
  EXPECT_EQ(c, before);
}

TEST(Edits, DeletingASectionTakesAllItsSettings) {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  WriteInt(c, "T", "B", 2);
  WriteInt(c, "T", "C", 3);
  WriteInt(c, "U", "D", 4);
  ASSERT_EQ(DeleteSection(c, "t"), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"S", Entry("S", "A", 0x400, Int(1)), "U", Entry("U", "D", 0x400, Int(4))}));
  ASSERT_EQ(DeleteSection(c, "S"), fmt::Result::kOk);
  fmt::Name u = N("U");
  EXPECT_EQ(fmt::PlanDeleteSection(c.data(), c.size(), u).newLength, 0u);
}

TEST(Edits, DeleteLooksIntoLaterSectionsOfTheSameName) {
  // Two sections of one name (only a foreign writer makes that): the setting
  // is removed from whichever holds it.
  Bytes first, second;
  WriteInt(first, "S", "A", 1);
  WriteInt(second, "S", "B", 2);
  WriteInt(second, "S", "C", 3);
  Bytes c = first;
  c.insert(c.end(), second.begin(), second.end());
  ASSERT_EQ(DeleteSetting(c, "S", "B", CSetFile::kInt), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"S", Entry("S", "A", 0x400, Int(1)), "S", Entry("S", "C", 0x400, Int(3))}));
}

TEST(Edits, AStrayTailStaysLastAndUnread) {
  Bytes c;
  WriteInt(c, "S", "A", 1);
  c.insert(c.end(), 16, 0xEE);
  ASSERT_EQ(WriteInt(c, "T", "B", 2), fmt::Result::kOk);
  ASSERT_EQ(WriteInt(c, "S", "C", 3), fmt::Result::kOk);
  EXPECT_EQ(List(c), (Lines{"S", Entry("S", "A", 0x400, Int(1)), Entry("S", "C", 0x400, Int(3)), "T",
                            Entry("T", "B", 0x400, Int(2))}));
  EXPECT_EQ(Bytes(c.end() - 16, c.end()), Bytes(16, 0xEE));
  ASSERT_EQ(DeleteSection(c, "S"), fmt::Result::kOk);
  fmt::Name t = N("T"), b = N("B");
  EXPECT_EQ(fmt::PlanDeleteSetting(c.data(), c.size(), t, b, CSetFile::kInt).newLength, 0u);
}

TEST(Edits, RefusesWhatNoRecordCanHold) {
  Bytes c;
  fmt::Name s = N("S"), a = N("A");
  int32_t v = 1;
  EXPECT_EQ(fmt::PlanWrite(c.data(), 0, s, a, CSetFile::kInt, nullptr, 4).result, fmt::Result::kBadArgument);
  EXPECT_EQ(fmt::PlanWrite(c.data(), 0, s, a, CSetFile::kInt, &v, 0).result, fmt::Result::kBadArgument);
  EXPECT_EQ(fmt::PlanWrite(c.data(), 0, s, a, CSetFile::kSection, &v, 4).result, fmt::Result::kBadArgument);
  EXPECT_EQ(fmt::PlanWrite(c.data(), 0, s, a, CSetFile::kInt, &v, 0xFFFFFFF0u).result, fmt::Result::kTooLarge);
}

// ---- a model: sections and settings as plain lists ----

struct ModelSetting {
  std::string name;
  DWORD tag;
  std::string value;
};
struct ModelSection {
  std::string name;
  std::vector<ModelSetting> settings;
};

Lines ListModel(const std::vector<ModelSection>& m) {
  Lines out;
  for (const auto& s : m) {
    out.push_back(s.name);
    for (const auto& v : s.settings) out.push_back(Entry(s.name.c_str(), v.name.c_str(), v.tag, v.value));
  }
  return out;
}

// Sizes the walks can check: each section's size is its header, name and settings exactly.
void CheckSizes(const Bytes& c) {
  size_t end = 0;
  fmt::WalkSections(
      c.data(), c.size(),
      [&](const fmt::Record& sec) {
        size_t sum = fmt::kHeaderSize + sec.header.nameLength;
        int count = 0;
        fmt::WalkSettings(c.data(), sec, [&](const fmt::Record& r) {
          sum += r.header.size;
          ++count;
          return true;
        });
        EXPECT_EQ(sum, sec.header.size);
        EXPECT_GT(count, 0);
        return true;
      },
      &end);
  EXPECT_EQ(end, c.size());
}

TEST(Edits, RandomEditsKeepTheInvariantsOfAPlainModel) {
  std::mt19937 rng(20240607);
  const char* sections[] = {"alpha", "Beta", "C", "dd"};
  const char* names[] = {"x", "Y", "zz", "long name"};
  const DWORD tags[] = {CSetFile::kInt, CSetFile::kString, CSetFile::kBin, 0x0007};
  std::vector<ModelSection> model;
  Bytes c;
  for (int step = 0; step < 1500; ++step) {
    const std::string sec = N(sections[rng() % 4]).text, name = N(names[rng() % 4]).text;
    const DWORD tag = tags[rng() % 4];
    auto s = std::find_if(model.begin(), model.end(), [&](const ModelSection& m) { return m.name == sec; });
    const int op = int(rng() % 10);
    if (op < 6) {
      std::string value(1 + rng() % 12, char('a' + rng() % 26));
      ASSERT_EQ(Write(c, sec.c_str(), name.c_str(), tag, value), fmt::Result::kOk);
      if (s == model.end()) s = model.insert(model.end(), ModelSection{sec, {}});
      auto v = std::find_if(s->settings.begin(), s->settings.end(),
                            [&](const ModelSetting& m) { return m.name == name && m.tag == tag; });
      if (v == s->settings.end())
        s->settings.push_back({name, tag, value});
      else
        v->value = value;
    } else if (op < 9) {
      bool present = false;
      if (s != model.end()) {
        auto v = std::find_if(s->settings.begin(), s->settings.end(),
                              [&](const ModelSetting& m) { return m.name == name && m.tag == tag; });
        if (v != s->settings.end()) {
          present = true;
          s->settings.erase(v);
          if (s->settings.empty()) model.erase(s);
        }
      }
      ASSERT_EQ(DeleteSetting(c, sec.c_str(), name.c_str(), tag), present ? fmt::Result::kOk : fmt::Result::kNotFound);
    } else {
      const bool present = s != model.end();
      if (present) model.erase(s);
      ASSERT_EQ(DeleteSection(c, sec.c_str()), present ? fmt::Result::kOk : fmt::Result::kNotFound);
    }
    ASSERT_EQ(List(c), ListModel(model)) << "step " << step;
    CheckSizes(c);
    if (model.empty()) {
      ASSERT_TRUE(c.empty());
    }
  }
}

}  // namespace
