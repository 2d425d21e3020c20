// CSetFile on one file: the bytes it writes, the typed members, edits,
// deletes, queries, enumeration, targets and copies.
#include <cstring>
#include <memory>
#include <thread>

#include "setfile_util.h"

namespace {

using namespace setfiletest;
using contenttest::Write;
using contenttest::WriteInt;

std::string Raw(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

// ---- the file ----

TEST(SetFileBytes, OneIntIsTheFortyFourByteFile) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("s", "a", 5), 1);
  const unsigned char expected[] = {0x51, 0x5A, 0x53, 0x54, 0xE8, 0x00, 0x96, 0x6A, 0x28, 0x00, 0x00,
                                    0x00, 0x00, 0xFC, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x53, 0x00,
                                    0xD8, 0x00, 0xE5, 0x58, 0x16, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
                                    0x00, 0x02, 0x00, 0x00, 0x00, 0x41, 0x00, 0x05, 0x00, 0x00, 0x00};
  EXPECT_EQ(s.bytes(), Raw(expected, sizeof expected));
  CSetFile other(s.path.c_str());
  int v = 0;
  EXPECT_EQ(other.ReadSettingInt("S", "A", v), 1);
  EXPECT_EQ(v, 5);
}

// ---- the typed members ----

TEST(SetFileTypes, StringReadersCountTheirOwnUnits) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingString("s", "ten", TEXT("0123456789")), 1);
  ASSERT_EQ(f.WriteSettingStringW("s", "ten", TEXT("0123456789")), 1);
  ASSERT_EQ(f.WriteSettingStringA("s", "ten", "0123456789"), 1);
  ASSERT_EQ(f.WriteSettingString("s", "empty", TEXT("")), 1);
  ASSERT_EQ(f.WriteSettingStringA("s", "empty", ""), 1);
  EXPECT_EQ(f.GetSettingSize("s", "empty", CSetFile::kString), 2u);
  EXPECT_EQ(f.GetSettingSize("s", "empty", CSetFile::kStringA), 1u);

  WCHAR w[8];
  std::fill(w, w + 8, WCHAR('#'));
  EXPECT_EQ(f.ReadSettingString("s", "ten", w, 4), 1);  // characters, always terminated
  EXPECT_EQ(plat::wstring(w, 5), plat::wstring(TEXT("012\0#"), 5));
  std::fill(w, w + 8, WCHAR('#'));
  EXPECT_EQ(f.ReadSettingStringW("s", "ten", w, 7), 1);  // bytes, nothing added
  EXPECT_EQ(w[0], WCHAR('0'));
  EXPECT_EQ(w[2], WCHAR('2'));
  EXPECT_EQ(w[3] & 0xFF, '3');       // the low byte of the fourth unit
  EXPECT_EQ(w[3] >> 8, '#' >> 8);    // its high byte as it was
  EXPECT_EQ(w[4], WCHAR('#'));
  char a[6] = "#####";
  EXPECT_EQ(f.ReadSettingStringA("s", "ten", a, 3), 1);
  EXPECT_EQ(std::string(a, 5), "012##");
  EXPECT_EQ(f.ReadSettingString("s", "ten", nullptr, 4), 0);
  EXPECT_EQ(f.ReadSettingString("s", "ten", w, 0), 0);
  EXPECT_EQ(f.ReadSettingStringA("s", "ten", a, 0), 0);
  EXPECT_EQ(f.ReadSettingStringW("s", "ten", nullptr, 8), 0);
}

TEST(SetFileTypes, NullStringsAreRefusedWithoutTouchingTheFile) {
  Store s;
  CSetFile f(s.path.c_str());
  EXPECT_EQ(f.WriteSettingString("s", "n", nullptr), 0);
  EXPECT_EQ(f.WriteSettingStringA("s", "n", nullptr), 0);
  EXPECT_EQ(f.WriteSettingStringW("s", "n", nullptr), 0);
  EXPECT_EQ(f.WriteSettingPath("s", "n", nullptr), 0);
  EXPECT_EQ(f.WriteSettingBin("s", "n", "x", 0), 0);
  EXPECT_EQ(f.WriteSettingBin("s", "n", nullptr, 4), 0);
  EXPECT_EQ(f.WriteSettingInt("", "n", 1), 0);
  EXPECT_EQ(f.WriteSettingInt("s", nullptr, 1), 0);
  EXPECT_FALSE(s.exists());
}

TEST(SetFileTypes, LongPathsAreCutTo259Units) {
  Store s;
  CSetFile f(s.path.c_str());
  const plat::wstring longPath = TEXT("C:\\") + plat::wstring(297, WCHAR('p'));
  ASSERT_EQ(f.WriteSettingPath("s", "p", longPath.c_str()), 1);
  EXPECT_EQ(f.GetSettingSize("s", "p", CSetFile::kPath), 520u);
  WCHAR path[MAX_PATH];
  std::fill(path, path + MAX_PATH, WCHAR('#'));
  ASSERT_EQ(f.ReadSettingPath("s", "p", path), 1);
  EXPECT_EQ(plat::wstring(path), longPath.substr(0, 259));
}

TEST(SetFileTypes, CustomTypesAreThoseWithBits10To15Clear) {
  Store s;
  CSetFile f(s.path.c_str());
  const int v = 9;
  int out = 0;
  EXPECT_EQ(f.WriteSettingCustom("s", "c", 0x0400, &v, 4), 0);
  EXPECT_EQ(f.WriteSettingCustom("s", "c", 0xFC00, &v, 4), 0);
  EXPECT_FALSE(s.exists());
  EXPECT_EQ(f.WriteSettingCustom("s", "c", 0x10000, &v, 4), 1);
  EXPECT_EQ(f.WriteSettingCustom("s", "c", 0x03FF, &v, 4), 1);
  EXPECT_EQ(f.ReadSettingCustom("s", "c", 0x0400, &out, 4), 0);
  EXPECT_EQ(f.ReadSettingCustom("s", "c", 0x03FF, &out, 4), 1);
  EXPECT_EQ(out, 9);
  EXPECT_EQ(Listing(f), (Lines{"[S]", "C 10000 4", "C 3ff 4"}));
}

// Values written by another writer of the format may be shorter than the type.
TEST(SetFileTypes, AShortStoredValueFillsOnlyItsLength) {
  Store s;
  Bytes content;
  ASSERT_EQ(Write(content, "s", "i", CSetFile::kInt, std::string("\x07\x00", 2)), fmt::Result::kOk);
  s.Put(content);
  CSetFile f(s.path.c_str());
  int v = 0x11223344;
  EXPECT_EQ(f.ReadSettingInt("s", "i", v), 1);
  EXPECT_EQ(v, 0x11220007);
  UINT size = 99;
  EXPECT_EQ(f.GetSettingInfo("s", "i", CSetFile::kInt, size), 1);
  EXPECT_EQ(size, 2u);
}

TEST(SetFileTypes, TimecodesReadBackInAKnownSystem) {
  Store s;
  Bytes content;
  const unsigned char stored[8] = {100, 0, 0, 0, 99, 0, 0, 0};  // 100 frames, system 99
  ASSERT_EQ(Write(content, "s", "t", CSetFile::kTimecode, Raw(stored, 8)), fmt::Result::kOk);
  s.Put(content);
  CSetFile f(s.path.c_str());
  timecode t(5, TCS_60);
  ASSERT_EQ(f.ReadSettingTimecode("s", "t", t), 1);
  EXPECT_EQ(t.GetSystem(), DWORD(TCS_DEFAULT));
  EXPECT_EQ(t.Fields(TCF_COUNT, 0), 100);
}

// ---- deletes and queries ----

TEST(SetFileDelete, TheLastSettingTakesItsSectionAndTheLastOfAllTheFile) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("a", "x", 1), 1);
  ASSERT_EQ(f.WriteSettingInt("a", "y", 2), 1);
  ASSERT_EQ(f.WriteSettingInt("b", "z", 3), 1);
  EXPECT_EQ(f.DeleteSetting("a", "x", CSetFile::kUInt), 1);  // another type: nothing to delete
  EXPECT_EQ(f.DeleteSetting("a", "x", CSetFile::kInt), 1);
  EXPECT_EQ(f.QueryKey("a"), 1);
  EXPECT_EQ(f.DeleteSetting("A", "Y", CSetFile::kInt), 1);
  EXPECT_EQ(f.QueryKey("a"), 0);
  EXPECT_EQ(Listing(f), (Lines{"[B]", "Z 400 4"}));
  EXPECT_EQ(f.DeleteSetting("b", "z", CSetFile::kInt), 1);
  EXPECT_FALSE(s.exists());
  int v = 0;
  EXPECT_EQ(f.ReadSettingInt("b", "z", v), 0);
  EXPECT_EQ(f.QueryKey("b"), 0);
  // A whole section goes with its settings, the last one with the file.
  ASSERT_EQ(f.WriteSettingInt("a", "x", 1), 1);
  ASSERT_EQ(f.WriteSettingInt("a", "y", 2), 1);
  ASSERT_EQ(f.WriteSettingInt("b", "x", 2), 1);
  EXPECT_EQ(f.DeleteKey("A"), 1);
  EXPECT_EQ(f.DeleteKey("missing"), 1);
  EXPECT_EQ(Listing(f), (Lines{"[B]", "X 400 4"}));
  EXPECT_EQ(f.DeleteKey("b"), 1);
  EXPECT_FALSE(s.exists());
}

TEST(SetFileDelete, NothingToDeleteOnAMissingStoreLeavesNoFile) {
  Store s("sub/dir/missing.set");
  CSetFile f(s.path.c_str());
  EXPECT_EQ(f.DeleteSetting("a", "x", CSetFile::kInt), 1);
  EXPECT_EQ(f.DeleteKey("a"), 1);
  EXPECT_FALSE(s.exists());
  EXPECT_EQ(f.QueryKey("a"), 0);
  UINT size = 5;
  EXPECT_EQ(f.GetSettingInfo("a", "x", CSetFile::kInt, size), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(f.GetSettingSize("a", "x", CSetFile::kInt), 0u);
  EXPECT_FALSE(s.exists());
}

TEST(SetFileStore, ReadsOfAMissingStoreCreateNothingAndWritesCreateItsDirectories) {
  Store s("one/two/edit.set");
  CSetFile f(s.path.c_str());
  int v = 0;
  EXPECT_EQ(f.ReadSettingInt("a", "x", v), 0);
  EXPECT_FALSE(std::filesystem::exists(s.dir.path() / "one"));
  ASSERT_EQ(f.WriteSettingInt("a", "x", 4), 1);
  EXPECT_TRUE(s.exists());
  EXPECT_EQ(f.ReadSettingInt("a", "x", v), 1);
  EXPECT_EQ(v, 4);
}

TEST(SetFileStore, EmptyFilesAreEmptyStoresAndForeignFilesStayUntouched) {
  Store s;
  CSetFile f(s.path.c_str());
  int v = 0;
  for (const std::string& empty : {std::string(), std::string("QZST")}) {
    testsupport::WriteBytes(s.file(), empty);
    int r = 1;
    EXPECT_EQ(Listing(f, &r), Lines{});
    EXPECT_EQ(r, 0);
    EXPECT_EQ(f.QueryKey("a"), 0);
    ASSERT_EQ(f.WriteSettingInt("a", "x", 1), 1);
    EXPECT_EQ(s.bytes().substr(0, 4), "QZST");
  }
  for (const std::string& foreign : {std::string("QZS"), std::string("qzst\0\0\0\0", 8), std::string("Q")}) {
    testsupport::WriteBytes(s.file(), foreign);
    EXPECT_EQ(f.ReadSettingInt("a", "x", v), 0) << foreign;
    EXPECT_EQ(f.WriteSettingInt("a", "x", 1), 0);
    EXPECT_EQ(f.DeleteKey("a"), 0);
    EXPECT_EQ(f.DeleteSetting("a", "x", CSetFile::kInt), 0);
    EXPECT_EQ(s.bytes(), foreign);
  }
}

TEST(SetFileStore, ACorruptRecordFailsReadsAndWritesAndChangesNothing) {
  Store s;
  Bytes content;
  ASSERT_EQ(WriteInt(content, "s", "a", 1), fmt::Result::kOk);
  ASSERT_EQ(WriteInt(content, "s", "b", 2), fmt::Result::kOk);
  std::memset(&content[18 + 22 + 4], 0, 4);  // the size of the second setting
  s.Put(content);
  const std::string before = s.bytes();
  CSetFile f(s.path.c_str());
  int v = 0;
  EXPECT_EQ(f.ReadSettingInt("s", "a", v), 1);  // before the damage
  EXPECT_EQ(f.ReadSettingInt("s", "b", v), 0);
  EXPECT_EQ(f.WriteSettingInt("s", "c", 3), 0);
  EXPECT_EQ(f.DeleteSetting("s", "b", CSetFile::kInt), 0);
  EXPECT_EQ(s.bytes(), before);
  EXPECT_EQ(f.DeleteKey("s"), 1);  // a whole section goes without walking its settings
  EXPECT_FALSE(s.exists());
}

// ---- enumeration ----

TEST(SetFileEnum, SectionsThenTheirSettingsInStoredOrder) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("b", "y", 1), 1);
  ASSERT_EQ(f.WriteSettingInt("a", "x", 2), 1);
  ASSERT_EQ(f.WriteSettingStringA("b", "x", "v"), 1);
  int r = 0;
  EXPECT_EQ(Listing(f, &r), (Lines{"[B]", "Y 400 4", "X 1400 2", "[A]", "X 400 4"}));
  EXPECT_EQ(r, 1);
  EXPECT_EQ(Listing(f, &r, 2), (Lines{"[B]", "Y 400 4"}));
  EXPECT_EQ(r, 0);
  EXPECT_EQ(f.EnumSettings(nullptr, 0), 0);
}

CSetFile* g_enumTarget = nullptr;
int g_enumCalls = 0;

int WINAPI WriteWhileEnumerating(const char* name, DWORD type, const void*, DWORD, DWORD) {
  ++g_enumCalls;
  if (type != CSetFile::kSection) g_enumTarget->WriteSettingInt("added", name, g_enumCalls);
  return 1;
}

TEST(SetFileEnum, CallbacksMayWriteTheSameObjectAndTheWalkGoesOnOverItsCopy) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("s", "a", 1), 1);
  ASSERT_EQ(f.WriteSettingInt("s", "b", 2), 1);
  g_enumTarget = &f;
  g_enumCalls = 0;
  EXPECT_EQ(f.EnumSettings(WriteWhileEnumerating, 0), 1);
  EXPECT_EQ(g_enumCalls, 3);  // the section and its two settings, not what was added
  EXPECT_EQ(Listing(f), (Lines{"[S]", "A 400 4", "B 400 4", "[ADDED]", "A 400 4", "B 400 4"}));
}

int WINAPI Throws(const char*, DWORD type, const void*, DWORD, DWORD) {
  if (type != CSetFile::kSection) throw 5;
  return 1;
}

int WINAPI Faults(const char*, DWORD type, const void*, DWORD, DWORD) {
  if (type != CSetFile::kSection) *static_cast<volatile int*>(nullptr) = 1;
  return 1;
}

TEST(SetFileEnum, FaultsAndExceptionsInCallbacksStopTheWalk) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("s", "a", 1), 1);
#ifndef _WIN32
  // On win32 the test program and the library each carry their own copy of
  // the runtime's unwinder (static runtime): no C++ exception can pass from
  // one to the other, so only faults are contained there.
  EXPECT_EQ(f.EnumSettings(Throws, 0), 0);
#else
  (void)Throws;
#endif
  if (!testsupport::kSanitized) {
    EXPECT_EQ(f.EnumSettings(Faults, 0), 0);
  }
  // The object is still usable, from this thread and from others.
  EXPECT_EQ(f.WriteSettingInt("s", "b", 2), 1);
  std::thread other([&] { EXPECT_EQ(f.QueryKey("s"), 1); });
  other.join();
}

// ---- targets and copies ----

TEST(SetFileTarget, TheSamePathInOtherLettersOrSlashesChangesNothing) {
  Store s;
  CSetFile f(s.path.c_str());
  ASSERT_EQ(f.WriteSettingInt("s", "a", 1), 1);
  // An older text file appearing now is imported only by a new target.
  testsupport::WriteBytes(s.file().string() + ".ini", "[S]\r\nb=400,2\r\n");
  plat::wstring other = s.path;
  for (WCHAR& c : other) c = c == '\\' ? WCHAR('/') : c == '/' ? WCHAR('\\') : plat::WUpper(c);
  f.SetTarget(other.c_str());
  f.SetTarget(s.path.c_str());
  EXPECT_TRUE(std::filesystem::exists(s.file().string() + ".ini"));
  int v = 0;
  EXPECT_EQ(f.ReadSettingInt("s", "b", v), 0);
  f.SetTarget(nullptr);
  EXPECT_EQ(f.ReadSettingInt("s", "a", v), 0);
  f.SetTarget(s.path.c_str());  // new again: imported now
  EXPECT_EQ(f.ReadSettingInt("s", "b", v), 1);
  EXPECT_EQ(v, 2);
}

TEST(SetFileTarget, LongTargetsAreCutTo259Units) {
  Store s;
  const size_t room = 259 - s.dir.Wide().size() - 1;
  ASSERT_GT(room, 50u);
  const plat::wstring cut = s.dir.Wide(plat::wstring(room, WCHAR('n')));
  ASSERT_EQ(cut.size(), 259u);
  CSetFile f((cut + plat::wstring(300 - 259, WCHAR('x'))).c_str());
  ASSERT_EQ(f.WriteSettingInt("s", "a", 1), 1);
  EXPECT_TRUE(std::filesystem::exists(testsupport::P(cut)));
}

TEST(SetFileTarget, CopiesTakeOverTheTargetOnly) {
  Store s, t("other.set");
  int v = 0;
  auto copy = std::make_unique<CSetFile>(s.path.c_str());
  ASSERT_EQ(copy->WriteSettingInt("s", "a", 1), 1);
  CSetFile second(*copy);
  CSetFile third(t.path.c_str());
  third = *copy;
  third = third;
  copy.reset();  // the copies own nothing of it
  EXPECT_EQ(second.WriteSettingInt("s", "b", 2), 1);
  EXPECT_EQ(third.ReadSettingInt("s", "b", v), 1);
  EXPECT_EQ(v, 2);
  CSetFile none;
  third = none;
  EXPECT_EQ(third.ReadSettingInt("s", "b", v), 0);
}

// Once the file's time lies well in the past, reads use the cache and need
// neither the file nor its lock.
TEST(SetFileCache, ASettledCacheIsReadWithoutTheFile) {
  Store s;
  CSetFile a(s.path.c_str());
  ASSERT_EQ(a.WriteSettingInt("s", "x", 7), 1);
  SetWriteTime(s.path, HoursAgo(1));
  int v = 0;
  ASSERT_EQ(a.ReadSettingInt("s", "x", v), 1);  // loads the cache
  HANDLE other = CreateFileW(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(LockFile(other, 0, 0, 1, 0));
  v = 0;
  EXPECT_EQ(a.ReadSettingInt("s", "x", v), 1);
  EXPECT_EQ(v, 7);
  UnlockFile(other, 0, 0, 1, 0);
  CloseHandle(other);
}

// A change that leaves the file's time as it was (a coarse clock, or another
// machine's clock behind ours) is never written over: writers read the body
// again under the lock, even when the time says their cache is current.
TEST(SetFileCache, AWriterDoesNotWriteOverAChangeThatKeptTheTime) {
  Store s;
  CSetFile a(s.path.c_str()), b(s.path.c_str());
  ASSERT_EQ(a.WriteSettingInt("s", "a", 1), 1);
  const FILETIME old = HoursAgo(1);
  SetWriteTime(s.path, old);
  int v = 0;
  ASSERT_EQ(a.ReadSettingInt("s", "a", v), 1);  // a's cache now belongs to that time
  ASSERT_EQ(b.WriteSettingInt("s", "b", 2), 1);
  SetWriteTime(s.path, old);
  ASSERT_EQ(a.WriteSettingInt("s", "c", 3), 1);
  EXPECT_EQ(Listing(b), (Lines{"[S]", "A 400 4", "B 400 4", "C 400 4"}));
  EXPECT_EQ(a.ReadSettingInt("s", "b", v), 1);
  EXPECT_EQ(v, 2);
}

// A reader does not trust a cache whose time is recent enough that another
// change could still come with the same time.
TEST(SetFileCache, AReaderSeesAChangeMadeWithinOneClockTick) {
  Store s;
  CSetFile a(s.path.c_str()), reader(s.path.c_str());
  ASSERT_EQ(a.WriteSettingInt("s", "a", 1), 1);
  const FILETIME first = WriteTime(s.path);
  int v = 0;
  ASSERT_EQ(reader.ReadSettingInt("s", "a", v), 1);
  ASSERT_EQ(a.WriteSettingInt("s", "a", 2), 1);
  SetWriteTime(s.path, first);
  EXPECT_EQ(reader.ReadSettingInt("s", "a", v), 1);
  EXPECT_EQ(v, 2);
}

}  // namespace
