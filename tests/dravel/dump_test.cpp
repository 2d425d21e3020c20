// The dump file byte for byte: the byte-order mark of a new file, the padding
// byte after an odd length, line ends across calls, the buffer that fills and
// is written whole, texts cut to the work buffers, one file and one printing
// thread at a time, and the text still buffered when the library unloads.
#include <thread>

#include "dravel_test.h"

namespace {

using dravel_test::Bytes;
using dravel_test::Capture;
using dravel_test::U16;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

const std::string kMark = "\xFF\xFE";

// Opens a dump file in a fresh directory and closes it when it goes.
class Dump {
 public:
  explicit Dump(const char* name = "trace.dmp") : path_(dir_.Wide(name)) { dmp_output(path_.c_str()); }
  ~Dump() { Close(); }
  void Close() { dmp_output(nullptr); }
  std::string Contents() {
    Close();
    return ReadBytes(dir_.path() / testsupport::P(path_).filename());
  }
  // The size on disk while the file stays open (it is not shared: no reading).
  ULONGLONG SizeNow() const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
    return (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  const TempDir& dir() const { return dir_; }
  const plat::wstring& path() const { return path_; }

 private:
  TempDir dir_;
  plat::wstring path_;
};

void Print(const char16_t* text) { dmp_printf(0, 0, TEXT("%s"), reinterpret_cast<const WCHAR*>(text)); }

// Texts printed one call each, and the file they make after the mark.
struct LineEnds {
  const char* what;
  std::vector<U16> texts;
  U16 file;
};

class DumpLineEnds : public ::testing::TestWithParam<LineEnds> {};

TEST_P(DumpLineEnds, BecomeCrLf) {
  Dump dump;
  for (const U16& t : GetParam().texts) Print(t.c_str());
  EXPECT_EQ(dump.Contents(), kMark + Bytes(GetParam().file));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DumpLineEnds,
    ::testing::Values(
        LineEnds{"CrLf", {u"mid", u"a\r\nb"}, u"mida\r\nb"}, LineEnds{"Lf", {u"mid", u"a\nb"}, u"mida\r\nb"},
        LineEnds{"LoneCr", {u"mid", u"a\rb"}, u"mida\r\nb"},
        LineEnds{"CrAfterALineEndStartsNone", {u"x\n", u"\rSTACK TRACE"}, u"x\r\nSTACK TRACE"},
        LineEnds{"CrMidLineStartsOne", {u"x", u"\rSTACK TRACE"}, u"x\r\nSTACK TRACE"},
        LineEnds{"CrAtTheStartOfAFileEndsTheUnfinishedLine", {u"\rfirst"}, u"\r\nfirst"},
        LineEnds{"CrsInARowMakeOneLineEnd", {u"a\r\r\rb"}, u"a\r\nb"},
        LineEnds{"LfsAlwaysEndALine", {u"a\n\nb"}, u"a\r\n\r\nb"},
        LineEnds{"CrAndLfInTwoCallsAreTwo", {u"a\r", u"\nb"}, u"a\r\n\r\nb"},
        LineEnds{"CrLfAfterALineEnd", {u"a\n", u"\r\nb"}, u"a\r\n\r\nb"},
        LineEnds{"OtherUnitsAsTheyAre", {u"\u00e9\u20ac\U0001F600\t"}, u"\u00e9\u20ac\U0001F600\t"}),
    [](const ::testing::TestParamInfo<LineEnds>& info) { return std::string(info.param.what); });

TEST(DumpFile, FormatsWithTheSuitesConventions) {
  Dump dump;
  dmp_printf(3, 7, TEXT("%d|%3d|%08x|%hs|%s|%ud\n"), -5, 7, 0xBEEFu, "narrow", TEXT("wide"), 12u);
  EXPECT_EQ(dump.Contents(), kMark + Bytes(u"-5|  7|0000beef|narrow|wide|12d\r\n"));
}

TEST(DumpFile, AppendsToAnExistingFileAfterOnePaddingByteWhenItsLengthIsOdd) {
  for (const std::string& old : {std::string("\xFF\xFEo\0", 4), std::string("odd")}) {
    TempDir dir;
    WriteBytes(dir.path() / "old.dmp", old);
    dmp_output(dir.Wide("old.dmp").c_str());
    Print(u"new\n");
    dmp_output(nullptr);
    const std::string padding = old.size() % 2 ? std::string(1, '\0') : std::string();
    EXPECT_EQ(ReadBytes(dir.path() / "old.dmp"), old + padding + Bytes(u"new\r\n")) << old;
  }
}

TEST(DumpFile, FullBufferIsWrittenWholeAndTheRestWaits) {
  Dump dump;
  const U16 ten = u"0123456789";
  for (int i = 0; i < 819; ++i) Print(ten.c_str());  // 8190 units: all buffered
  EXPECT_EQ(dump.SizeNow(), 2u);
  Print(ten.c_str());  // 8200: the first 8192 units go, 8 stay
  EXPECT_EQ(dump.SizeNow(), 2u + 16384u);
  for (int i = 0; i < 818; ++i) Print(ten.c_str());  // 8 + 8180 = 8188
  EXPECT_EQ(dump.SizeNow(), 2u + 16384u);
  U16 all;
  for (int i = 0; i < 1638; ++i) all += ten;
  EXPECT_EQ(dump.Contents(), kMark + Bytes(all));
}

// Long texts are cut to the 2048-unit work buffers: the formatted text to
// 2047 units and a terminator, the converted one to 2048 units, never half a
// line end or half a surrogate pair.
struct Cut {
  const char* what;
  U16 text;
  U16 file;
};

class DumpCut : public ::testing::TestWithParam<Cut> {};

TEST_P(DumpCut, KeepsWithinTheWorkBuffers) {
  Dump dump;
  Print(GetParam().text.c_str());
  EXPECT_EQ(dump.Contents(), kMark + Bytes(GetParam().file));
}

U16 Repeat(const char16_t* s, size_t n) {
  U16 out;
  while (n--) out += s;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, DumpCut,
    ::testing::Values(Cut{"Units2046", Repeat(u"x", 2046), Repeat(u"x", 2046)},
                      Cut{"Units2047", Repeat(u"x", 2047), Repeat(u"x", 2047)},
                      Cut{"Units2048", Repeat(u"x", 2048), Repeat(u"x", 2047)},
                      Cut{"Units2049", Repeat(u"x", 2049), Repeat(u"x", 2047)},
                      Cut{"LineEndsThatDouble", Repeat(u"\n", 2047), Repeat(u"\r\n", 1024)},
                      Cut{"NoHalfLineEnd", u"x" + Repeat(u"\n", 2046), u"x" + Repeat(u"\r\n", 1023)},
                      Cut{"NoHalfPairWhenFormatting", Repeat(u"x", 2046) + u"\U0001F600", Repeat(u"x", 2046)},
                      Cut{"NoHalfPairWhenConverting", Repeat(u"\n", 1023) + u"x\U0001F600",
                          Repeat(u"\r\n", 1023) + u"x"}),
    [](const ::testing::TestParamInfo<Cut>& info) { return std::string(info.param.what); });

TEST(DumpFile, SecondOpenWhileOneIsOpenChangesNothing) {
  Dump dump;
  dmp_output(dump.dir().Wide("other.dmp").c_str());
  Print(u"one");
  EXPECT_EQ(dump.Contents(), kMark + Bytes(u"one"));
  EXPECT_EQ(GetFileAttributesW(dump.dir().Wide("other.dmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DumpFile, OnlyTheOpeningThreadPrintsWhileItIsOpen) {
  Capture capture;
  {
    Dump dump;
    std::thread([] { Print(u"from another thread"); }).join();
    Print(u"mine");
    EXPECT_EQ(dump.Contents(), kMark + Bytes(u"mine"));
    EXPECT_EQ(capture.text(), u"mine");  // the other thread reached Brellu neither
  }
  std::thread([] { Print(u" then anyone"); }).join();
  EXPECT_EQ(capture.text(), u"mine then anyone");
}

TEST(DumpFile, FileThatCannotBeOpenedLeavesBrelluOnly) {
  TempDir dir;
  Capture capture;
  const plat::wstring missing = dir.Wide("no such dir\\trace.dmp");
  dmp_output(missing.c_str());
  dmp_output(TEXT(""));
  Print(u"still printed");
  dmp_output(nullptr);
  EXPECT_EQ(capture.text(), u"still printed");
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  // A file another handle holds unshared cannot be opened either.
  HANDLE held = CreateFileW(dir.Wide("held.dmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  dmp_output(dir.Wide("held.dmp").c_str());
  Print(u"x");
  dmp_output(nullptr);
  CloseHandle(held);
  EXPECT_EQ(ReadBytes(dir.path() / "held.dmp"), "");
}

QZ_CHILD_ROLE(dump_and_leave) {
  dmp_output(args[0].c_str());
  Print(u"printed, never closed\n");
  return 0;  // the library unloads with the text still buffered
}

TEST(DumpFile, TextStillBufferedAtUnloadIsWritten) {
  TempDir dir;
  ASSERT_EQ(testsupport::RunChild("dump_and_leave", {dir.Wide("left.dmp")}), 0);
  EXPECT_EQ(ReadBytes(dir.path() / "left.dmp"), kMark + Bytes(u"printed, never closed\r\n"));
}

struct Seen {
  DWORD user = 0, level = 0;
  U16 text;
};
void WINAPI See(DWORD user, DWORD level, const WCHAR* text, void* p) {
  Seen* s = static_cast<Seen*>(p);
  s->user = user, s->level = level;
  for (; *text; ++text) s->text += static_cast<char16_t>(*text);
}

TEST(DumpFile, BrelluGetsUserLevelAndTheWholeText) {
  Seen seen;
  BrelluSetCapture(See, &seen);
  BrelluSetLevel(9, 20);
  dmp_printf(9, 15, TEXT("%s"), reinterpret_cast<const WCHAR*>(Repeat(u"y", 3000).c_str()));
  BrelluSetCapture(nullptr, nullptr);
  BrelluResetLevels();
  EXPECT_EQ(seen.user, 9u);
  EXPECT_EQ(seen.level, 15u);
  EXPECT_EQ(seen.text.size(), 3000u);
}

}  // namespace
