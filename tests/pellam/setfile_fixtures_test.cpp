// Settings files pass between the targets: files the win32 build wrote are
// read on both, and both write them again byte for byte.
//
// The files in tests/pellam/data were made by the win32 build, under Wine:
//   wine build/win32/bin/pellam_tests.exe --child pellam_make_fixtures Z:\path\to\tests\pellam\data
// which runs the Make* functions below into files of those names. CMake
// builds their bytes into this program (fixtures.inc).
#include <cstring>

#include "setfile_util.h"

namespace {

using namespace setfiletest;

struct Fixture {
  const char* name;
  std::vector<unsigned char> bytes;
};
const Fixture kFixtures[] = {
#include "fixtures.inc"
    {nullptr, {}},
};

std::string Committed(const char* name) {
  for (const Fixture& f : kFixtures)
    if (f.name && std::strcmp(f.name, name) == 0) return std::string(f.bytes.begin(), f.bytes.end());
  ADD_FAILURE() << "no fixture " << name;
  return std::string();
}

GUID Guid() { return {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}}; }

LOGFONTW Font() {
  LOGFONTW f = {};
  f.lfHeight = -13;
  f.lfWidth = 7;
  f.lfEscapement = 900;
  f.lfOrientation = -900;
  f.lfWeight = 700;
  f.lfItalic = 1;
  f.lfStrikeOut = 1;
  f.lfCharSet = 238;
  f.lfQuality = 5;
  f.lfPitchAndFamily = 0x31;
  plat::WCopy(f.lfFaceName, LF_FACESIZE, TEXT("Courier New"));
  return f;
}

const unsigned char kBin[5] = {0x00, 0xFF, 0x7F, 0x80, 0x01};

// One setting of every type, values that show byte order and sign.
void MakeTypes(CSetFile& f) {
  f.WriteSettingInt("types", "int", -123456789);
  f.WriteSettingInt64("types", "int64", -1234567890123456789LL);
  f.WriteSettingBool("types", "bool", 2);
  f.WriteSettingString("types", "string", TEXT("caf\u00e9 \u20ac \u65e5"));
  f.WriteSettingStringA("types", "stringa", "caf\xe9");
  f.WriteSettingStringW("types", "stringw", TEXT("w\u00fc"));
  f.WriteSettingPath("types", "path", TEXT("C:\\Clips\\Take 1.avi"));
  f.WriteSettingGUID("types", "guid", Guid());
  f.WriteSettingBin("types", "bin", kBin, sizeof kBin);
  f.WriteSettingTimecode("types", "timecode", timecode(TEXT("01:02:03;04")));
  f.WriteSettingColor("types", "color", 0x00C08040u);
  f.WriteSettingFont("types", "font", Font());
  f.WriteSettingRect("types", "rect", RECT{-10, 20, 1920, 1080});
  f.WriteSettingUInt("types", "uint", 0xF0000001u);
  f.WriteSettingUInt64("types", "uint64", 0xF000000000000001ULL);
  f.WriteSettingDWORD("types", "dword", 0x12345678u);
  f.WriteSettingCustom("types", "custom", 0x0123, kBin, 3);
}

// Edits that move records: replaced in place, grown, deleted, appended.
void MakeEdits(CSetFile& f) {
  f.WriteSettingInt("one", "a", 1);
  f.WriteSettingStringA("two", "b", "short");
  f.WriteSettingInt("three", "c", 3);
  f.WriteSettingInt("one", "d", 4);
  f.WriteSettingInt("one", "a", 5);                    // in place
  f.WriteSettingStringA("two", "b", "a longer text");  // grows its section
  f.WriteSettingInt("two", "e", 6);
  f.DeleteSetting("one", "d", CSetFile::kInt);
  f.DeleteKey("three");
  f.WriteSettingInt("four", "f", 7);
}

const char kOlderText[] =
    "; an older settings file\r\n"
    "[Video]\r\n"
    "Width=400,720\r\n"
    "Title=1000,  caf\xe9 \x80\r\n"
    "Raw=1400,caf\xe9\n"
    "Start=2800,10:00:00:00@24\n"
    "Id=2000,6B29FC40-CA47-1067-B31D-00DD-0106-62DA\n"
    "[Audio]\n"
    "Rate=3800,48000\n"
    "Mute=c00,no\n"
    "Box=3400,0,0,640,480\n";

void MakeImported(const wstring& target) {
  testsupport::WriteBytes(testsupport::P(target + TEXT(".ini")), kOlderText);
  CSetFile f(target.c_str());
}

// Runs the makers into `dir` (see the top of this file).
QZ_CHILD_ROLE(pellam_make_fixtures) {
  const wstring dir = args.at(0) + TEXT("\\");
  for (const char* name : {"types.set", "edits.set", "imported.set"}) DeleteFileW((dir + plat::Wide(name)).c_str());
  CSetFile types((dir + TEXT("types.set")).c_str()), edits((dir + TEXT("edits.set")).c_str());
  MakeTypes(types);
  MakeEdits(edits);
  MakeImported(dir + TEXT("imported.set"));
  return 0;
}

TEST(Fixtures, TheseBuildsWriteTheCommittedBytes) {
  Store types("types.set"), edits("edits.set"), imported("imported.set");
  CSetFile t(types.path.c_str()), e(edits.path.c_str());
  MakeTypes(t);
  MakeEdits(e);
  MakeImported(imported.path);
  EXPECT_EQ(types.bytes(), Committed("types"));
  EXPECT_EQ(edits.bytes(), Committed("edits"));
  EXPECT_EQ(imported.bytes(), Committed("imported"));
}

TEST(Fixtures, CommittedFilesReadBack) {
  Store types("types.set"), edits("edits.set"), imported("imported.set");
  testsupport::WriteBytes(types.file(), Committed("types"));
  testsupport::WriteBytes(edits.file(), Committed("edits"));
  testsupport::WriteBytes(imported.file(), Committed("imported"));

  CSetFile t(types.path.c_str());
  EXPECT_EQ(Listing(t), (Lines{"[TYPES]", "INT 400 4", "INT64 800 8", "BOOL c00 4", "STRING 1000 18", "STRINGA 1400 5",
                               "STRINGW 1800 6", "PATH 1c00 520", "GUID 2000 16", "BIN 2400 5", "TIMECODE 2800 8",
                               "COLOR 2c00 4", "FONT 3000 92", "RECT 3400 16", "UINT 3800 4", "UINT64 3c00 8",
                               "DWORD 4000 4", "CUSTOM 123 3"}));
  int i = 0;
  LONGLONG i64 = 0;
  WCHAR text[16], path[MAX_PATH];
  char texta[8];
  GUID g = {};
  unsigned char bin[8] = {};
  timecode tc;
  DWORD c = 0, d = 0;
  LOGFONTW lf = {};
  RECT rc = {};
  UINT u = 0;
  ULONGLONG u64 = 0;
  const GUID guid = Guid();
  const LOGFONTW font = Font();
  const timecode start(TEXT("01:02:03;04"));
  EXPECT_TRUE(t.ReadSettingInt("types", "int", i) && i == -123456789);
  EXPECT_TRUE(t.ReadSettingInt64("types", "int64", i64) && i64 == -1234567890123456789LL);
  EXPECT_TRUE(t.ReadSettingBool("types", "bool", i) && i == 2);
  EXPECT_TRUE(t.ReadSettingString("types", "string", text, 16) && plat::WCmp(text, TEXT("caf\u00e9 \u20ac \u65e5")) == 0);
  EXPECT_TRUE(t.ReadSettingStringA("types", "stringa", texta, 8) && std::strcmp(texta, "caf\xe9") == 0);
  EXPECT_TRUE(t.ReadSettingStringW("types", "stringw", text, 32) && plat::WCmp(text, TEXT("w\u00fc")) == 0);
  EXPECT_TRUE(t.ReadSettingPath("types", "path", path) && plat::WCmp(path, TEXT("C:\\Clips\\Take 1.avi")) == 0);
  EXPECT_TRUE(t.ReadSettingGUID("types", "guid", g) && std::memcmp(&g, &guid, 16) == 0);
  EXPECT_TRUE(t.ReadSettingBin("types", "bin", bin, 8) && std::memcmp(bin, kBin, 5) == 0);
  EXPECT_TRUE(t.ReadSettingTimecode("types", "timecode", tc) && std::memcmp(&tc, &start, 8) == 0);
  EXPECT_TRUE(t.ReadSettingColor("types", "color", c) && c == 0x00C08040u);
  EXPECT_TRUE(t.ReadSettingFont("types", "font", lf) && std::memcmp(&lf, &font, sizeof lf) == 0);
  EXPECT_TRUE(t.ReadSettingRect("types", "rect", rc) && rc.left == -10 && rc.bottom == 1080);
  EXPECT_TRUE(t.ReadSettingUInt("types", "uint", u) && u == 0xF0000001u);
  EXPECT_TRUE(t.ReadSettingUInt64("types", "uint64", u64) && u64 == 0xF000000000000001ULL);
  EXPECT_TRUE(t.ReadSettingDWORD("types", "dword", d) && d == 0x12345678u);
  EXPECT_TRUE(t.ReadSettingCustom("types", "custom", 0x0123, bin, 8) && std::memcmp(bin, kBin, 3) == 0);

  CSetFile e(edits.path.c_str());
  EXPECT_EQ(Listing(e), (Lines{"[ONE]", "A 400 4", "[TWO]", "B 1400 14", "E 400 4", "[FOUR]", "F 400 4"}));
  CSetFile m(imported.path.c_str());
  EXPECT_EQ(Listing(m), (Lines{"[VIDEO]", "WIDTH 400 4", "TITLE 1000 14", "RAW 1400 5", "START 2800 8", "ID 2000 16",
                               "[AUDIO]", "RATE 3800 4", "MUTE c00 4", "BOX 3400 16"}));
  EXPECT_TRUE(m.ReadSettingString("video", "title", text, 16) && plat::WCmp(text, TEXT("caf\u00e9 \u20ac")) == 0);
}

// A store and journal that the win32 build left when it died within its
// store write: both targets read the old store and put it back.
TEST(Fixtures, AStoreLeftMidSaveIsPutBack) {
  Store s("torn.set");
  testsupport::WriteBytes(s.file(), Committed("torn"));
  testsupport::WriteBytes(s.file().string() + "-journal", Committed("torn_journal"));
  Store reference;
  {
    CSetFile f(reference.path.c_str());
    f.WriteSettingInt("s", "a", 1);
    f.WriteSettingInt("s", "b", 2);
    f.WriteSettingString("t", "c", TEXT("three"));
  }
  CSetFile reader(s.path.c_str());
  EXPECT_EQ(Listing(reader), (Lines{"[S]", "A 400 4", "B 400 4", "[T]", "C 1000 12"}));
  CSetFile writer(s.path.c_str());
  EXPECT_EQ(writer.WriteSettingInt("s", "new", 4), 1);
  EXPECT_EQ(Listing(writer), (Lines{"[S]", "A 400 4", "B 400 4", "NEW 400 4", "[T]", "C 1000 12"}));
  EXPECT_EQ(writer.DeleteSetting("s", "new", CSetFile::kInt), 1);
  EXPECT_EQ(s.bytes(), reference.bytes());
}

}  // namespace
