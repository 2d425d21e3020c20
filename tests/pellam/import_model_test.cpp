// Imports of generated older text settings files, each compared with the store
// that an independent model of the import predicts. tests/model/inigen.py
// writes the files (case_NNNN.ini) and the stores (case_NNNN.expected) into the
// folder named by PELLAM_IMPORT_CASES; see there for the line format.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "brellu.h"
#include "pellam.h"
#include "support/support.h"

namespace fs = std::filesystem;

namespace {

struct Setting {
  std::string section;
  std::string name;
  DWORD type = 0;
  std::string value;
};

fs::path CaseFolder() {
  const char* dir = std::getenv("PELLAM_IMPORT_CASES");
  return dir ? fs::path(dir) : fs::path();
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  fs::path dir = CaseFolder();
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return names;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".ini") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Bytes as readable text: printable ASCII as it is, the rest as \xNN.
std::string Shown(const std::string& bytes) {
  std::string out;
  char cell[8];
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      std::snprintf(cell, sizeof cell, "\\x%02X", c);
      out += cell;
    }
  }
  return out;
}

std::string HexOf(const std::string& bytes) {
  std::string out;
  char cell[4];
  for (unsigned char c : bytes) {
    std::snprintf(cell, sizeof cell, "%02X", c);
    out += cell;
  }
  return out;
}

// The 8 bytes the timecode library makes of a text.
std::string TimecodeBytes(const std::string& utf16le) {
  std::vector<WCHAR> text;
  for (size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    text.push_back(static_cast<WCHAR>(static_cast<unsigned char>(utf16le[i]) |
                                      static_cast<unsigned char>(utf16le[i + 1]) << 8));
  }
  text.push_back(0);
  timecode value(text.data());
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

std::vector<Setting> ReadExpected(const fs::path& file) {
  std::vector<Setting> settings;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() != 4) {
      ADD_FAILURE() << "bad line in " << file << ": " << line;
      continue;
    }
    Setting s;
    s.section = Unhex(fields[0]);
    s.name = Unhex(fields[1]);
    s.type = static_cast<DWORD>(std::stoul(fields[2], nullptr, 16));
    const std::string tc = "timecode:";
    s.value = fields[3].compare(0, tc.size(), tc) == 0 ? TimecodeBytes(Unhex(fields[3].substr(tc.size())))
                                                      : Unhex(fields[3]);
    settings.push_back(s);
  }
  return settings;
}

// One line per setting, in order, for comparison and for the failure report.
std::string Listing(const std::vector<Setting>& settings) {
  std::string out;
  char type[16];
  for (const Setting& s : settings) {
    std::snprintf(type, sizeof type, "%04X", static_cast<unsigned>(s.type));
    out += "[" + Shown(s.section) + "] " + Shown(s.name) + " " + type + " = " + HexOf(s.value) +
           "\n";
  }
  return out;
}

// What EnumSettings reports. The context is a 32-bit value, so the callback
// finds its collector here (the test runs on one thread).
constexpr DWORD kContext = 0x5E771D;
struct Collector {
  std::vector<Setting> settings;
  std::vector<std::string> sections;
  std::string trouble;
};
Collector* g_collector = nullptr;

int WINAPI Collect(const char* name, DWORD type, const void* data, DWORD size, DWORD context) {
  Collector& c = *g_collector;
  if (context != kContext) c.trouble += "wrong context; ";
  if (type == 0xFC00) {
    if (data != nullptr || size != 0) c.trouble += "section with data; ";
    if (std::find(c.sections.begin(), c.sections.end(), name) != c.sections.end()) {
      c.trouble += "section [" + Shown(name) + "] reported twice; ";
    }
    c.sections.push_back(name);
    return 1;
  }
  if (c.sections.empty()) {
    c.trouble += "setting before any section; ";
    return 1;
  }
  Setting s;
  s.section = c.sections.back();
  s.name = name;
  s.type = type;
  s.value.assign(static_cast<const char*>(data), size);
  c.settings.push_back(s);
  return 1;
}

class ImportModelTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ImportModelTest, StoreIsWhatTheModelPredicts) {
  const fs::path source = CaseFolder() / (GetParam() + ".ini");
  const std::string text = testsupport::ReadBytes(source);
  const std::vector<Setting> expected = ReadExpected(CaseFolder() / (GetParam() + ".expected"));
  constexpr size_t kShownBytes = 4096;
  SCOPED_TRACE("text file " + source.string() + ": \"" + Shown(text.substr(0, kShownBytes)) + "\"" +
               (text.size() > kShownBytes ? "... (" + std::to_string(text.size()) + " bytes)" : ""));

  testsupport::TempDir dir;
  const fs::path target = dir.path() / "store.set";
  const fs::path older = dir.path() / "store.set.ini";
  fs::copy_file(source, older);

  CSetFile store(testsupport::W(target).c_str());
  EXPECT_FALSE(fs::exists(older)) << "the text file is deleted by the import";

  Collector collector;
  g_collector = &collector;
  const int result = store.EnumSettings(Collect, kContext);
  g_collector = nullptr;

  EXPECT_EQ(collector.trouble, "");
  EXPECT_EQ(Listing(collector.settings), Listing(expected));
  EXPECT_EQ(result, expected.empty() ? 0 : 1);
  // Every section holds a setting: one section callback per section seen.
  std::vector<std::string> sections;
  for (const Setting& s : expected) {
    if (sections.empty() || sections.back() != s.section) sections.push_back(s.section);
  }
  EXPECT_EQ(collector.sections, sections);
}

INSTANTIATE_TEST_SUITE_P(Generated, ImportModelTest, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ImportModelTest);

// The check's own registration always names the folder; a folder without the
// generated files would let the comparison above pass by running nothing.
// Linked into another test program, without the folder, there is nothing to do.
TEST(ImportModel, CasesArePresent) {
  if (CaseFolder().empty()) GTEST_SKIP() << "PELLAM_IMPORT_CASES names no folder";
  EXPECT_GE(CaseNames().size(), 100u) << "too few cases in " << CaseFolder();
}

}  // namespace
