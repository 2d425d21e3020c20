// The one-time import of the older text settings file next to a new target.
#include <cstring>

#include "setfile_util.h"

namespace {

using namespace setfiletest;
namespace fs = std::filesystem;

struct Imported : Store {
  fs::path ini;
  explicit Imported(const std::string& text, bool readOnly = false) : ini(file().string() + ".ini") {
    testsupport::WriteBytes(ini, text);
    if (readOnly) fs::permissions(ini, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                  fs::perm_options::remove);
  }
};

TEST(Import, AnEntryBecomesASettingAndTheTextFileGoes) {
  Imported s("[VIDEO]\r\nWidth=400,720\r\n");
  CSetFile f(s.path.c_str());
  int v = 0;
  EXPECT_EQ(f.ReadSettingInt("video", "width", v), 1);
  EXPECT_EQ(v, 720);
  EXPECT_FALSE(fs::exists(s.ini));
  EXPECT_EQ(Listing(f), (Lines{"[VIDEO]", "WIDTH 400 4"}));
}

// Lines ended by line feeds alone lose nothing: the byte after a value's line
// end is the next line's first.
TEST(Import, LineFeedsAloneEndLinesToo) {
  Imported s("[a]\nx=400,1\ny=400,2\nz=1400,three\n[b]\nw=400,4");
  CSetFile f(s.path.c_str());
  EXPECT_EQ(Listing(f), (Lines{"[A]", "X 400 4", "Y 400 4", "Z 1400 6", "[B]", "W 400 4"}));
}

// The readers of number texts are tested on their own; here what needs the
// code page, the timecode class and the exact bytes of a GUID.
TEST(Import, TextsAreReadInTheirOwnWays) {
  Imported s(
      "[T]\r\n"
      "string=1000,  caf\xe9 \x80  \r\n"
      "stringa=1400,caf\xe9 \r\n"
      "guid=2000,6B29FC40-CA47-1067-B31D-00DD-0106-62DA\r\n"
      "timecode=2800,01:00:00:00\r\n"
      "rect=3400,0,0,640,480\r\n");
  CSetFile f(s.path.c_str());
  WCHAR text[16] = {};
  char texta[16] = {};
  GUID g = {};
  timecode t;
  RECT rc = {};
  // Leading blanks go, trailing ones stay; the text is in the ANSI code page.
  EXPECT_TRUE(f.ReadSettingString("t", "string", text, 16));
  EXPECT_EQ(plat::wstring(text), plat::wstring(TEXT("caf\u00e9 \u20ac  ")));
  EXPECT_TRUE(f.ReadSettingStringA("t", "stringa", texta, 16) && std::strcmp(texta, "caf\xe9 ") == 0);
  ASSERT_TRUE(f.ReadSettingGUID("t", "guid", g));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&g), 16),
            std::string("\x40\xFC\x29\x6B\x47\xCA\x67\x10\xB3\x1D\x00\xDD\x01\x06\x62\xDA", 16));
  const timecode hour(TEXT("01:00:00:00"));
  EXPECT_TRUE(f.ReadSettingTimecode("t", "timecode", t) && std::memcmp(&t, &hour, 8) == 0);
  ASSERT_TRUE(f.ReadSettingRect("t", "rect", rc));
  EXPECT_EQ(std::vector<LONG>({rc.left, rc.top, rc.right, rc.bottom}), std::vector<LONG>({0, 0, 640, 480}));
}

TEST(Import, BoolsLookAtTheFirstCharacterOnly) {
  Imported s("[b]\nf1=C00,0\nf2=c00,00\nf3=c00,0x\nt1=c00,1\nt2=c00,no\nt3=c00,-0\n");
  CSetFile f(s.path.c_str());
  for (const char* name : {"f1", "f2", "f3", "t1", "t2", "t3"}) {
    int v = 7;
    ASSERT_EQ(f.ReadSettingBool("b", name, v), 1) << name;
    EXPECT_EQ(v, name[0] == 't' ? 1 : 0) << name;
  }
}

TEST(Import, WhatCannotBeImportedLeavesNoStore) {
  Imported s(
      "before=400,1\r\n"
      "[s]\r\n"
      "nocomma=400\r\n"
      "novalue=400,   \r\n"
      "bin=2400,0102\r\n"
      "font=3000,Arial\r\n"
      "custom=7,1\r\n"
      "unknown=5000,1\r\n"
      "zero=0,1\r\n");
  CSetFile f(s.path.c_str());
  EXPECT_FALSE(fs::exists(s.ini));
  EXPECT_FALSE(s.exists());
}

TEST(Import, ReadOnlyAndEmptyTextFilesAreDeletedToo) {
  for (const std::string& text : {std::string("[s]\nx=400,1\n"), std::string()}) {
    Imported s(text, true);
    CSetFile f(s.path.c_str());
    EXPECT_FALSE(fs::exists(s.ini));
    EXPECT_EQ(s.exists(), !text.empty());
  }
}

// A target of 256 or more units leaves no room for ".ini" in a path buffer.
TEST(Import, TargetsTooLongForTheTextFilesNameSkipIt) {
  Store s;
  const size_t room = 256 - s.dir.Wide().size() - 1;
  const wstring target = s.dir.Wide(wstring(room, WCHAR('n')));
  ASSERT_EQ(target.size(), 256u);
  const fs::path ini = testsupport::P(target + TEXT(".ini"));
  std::error_code ec;
  testsupport::WriteBytes(ini, "[s]\nx=400,1\n");
  if (!fs::exists(ini, ec)) GTEST_SKIP() << "this system keeps no path of 260 units";
  CSetFile f(target.c_str());
  EXPECT_TRUE(fs::exists(ini));
  EXPECT_FALSE(fs::exists(testsupport::P(target)));
}

}  // namespace
