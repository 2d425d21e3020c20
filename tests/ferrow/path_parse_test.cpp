// The path grammar: whole parses of both kinds (file and directory), the
// record's absent fields, and the guard against unreadable memory.
#include "path_test_util.h"

namespace {

using pathtest::Describe;
using pathtest::W;
using pathtest::wstring;

struct ParseCase {
  const char* path;
  const char* asFile;       // Describe() with file flag 1
  const char* asDirectory;  // Describe() with file flag 0
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.path << '"'; }

class ParseTable : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, ComponentsOfBothKinds) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(Describe(W(c.path), 1), c.asFile);
  EXPECT_EQ(Describe(W(c.path), 0), c.asDirectory);
  // Any non-zero value is a file flag.
  EXPECT_EQ(Describe(W(c.path), -7), c.asFile);
}

const ParseCase kForms[] = {
    {R"(C:\dir\file.txt)", R"(protocol[C:] local[\dir\] name[file] ext[.txt])", R"(protocol[C:] local[\dir\file.txt])"},
    {R"(C:\dir\sub\)", "fail", R"(protocol[C:] local[\dir\sub\])"},
    {"C:", "protocol[C:] name[]", "protocol[C:]"},
    {R"(C:\)", "fail", R"(protocol[C:] local[\])"},
    {"C:file.txt", "protocol[C:] name[file] ext[.txt]", "protocol[C:] local[file.txt]"},
    {"z:/a", "protocol[z:] local[/] name[a]", "protocol[z:] local[/a]"},
    {R"(\\server\share\dir\file.txt)", R"(host[\\server] local[\share\dir\] name[file] ext[.txt])",
     R"(host[\\server] local[\share\dir\file.txt])"},
    {R"(\\server\share)", R"(host[\\server] local[\] name[share])", R"(host[\\server] local[\share])"},
    {R"(\\server)", "fail", R"(host[\\server])"},
    {R"(\\server\)", "fail", R"(host[\\server] local[\])"},
    {R"(\\)", "fail", R"(host[\\])"},
    {"//server/share/f", "host[//server] local[/share/] name[f]", "host[//server] local[/share/f]"},
    {R"(\\?\C:\dir\file.txt)", R"(prefix[\\?\] protocol[C:] local[\dir\] name[file] ext[.txt])",
     R"(prefix[\\?\] protocol[C:] local[\dir\file.txt])"},
    {R"(\\?\UNC\server\share\f.txt)", R"(prefix[\\?\UNC\] local[server\share\] name[f] ext[.txt])",
     R"(prefix[\\?\UNC\] local[server\share\f.txt])"},
    {R"(\\?\unc/server/f)", R"(prefix[\\?\unc/] local[server/] name[f])", R"(prefix[\\?\unc/] local[server/f])"},
    {R"(\\?\UNC\\server\f)", "fail", "fail"},
    {R"(\\?\UNCx\f)", R"(prefix[\\?\] local[UNCx\] name[f])", R"(prefix[\\?\] local[UNCx\f])"},
    {R"(\\?\)", R"(prefix[\\?\] name[])", R"(prefix[\\?\])"},
    {R"(\\?\\\server\f)", R"(prefix[\\?\] host[\\server] local[\] name[f])", R"(prefix[\\?\] host[\\server] local[\f])"},
    {R"(\\.\COM1)", R"(prefix[\\.\] name[COM1])", "fail"},
    {R"(\\.\pipe\name)", R"(prefix[\\.\] local[pipe\] name[name])", "fail"},
    // The prefixes are written with backslashes only.
    {"//?/C:/x", "fail", "fail"},
    {"media://server/clips/take1.avi", "protocol[media:] host[//server] local[/clips/] name[take1] ext[.avi]",
     "protocol[media:] host[//server] local[/clips/take1.avi]"},
    {"media://server", "fail", "protocol[media:] host[//server]"},
    {"media:/server/x", "fail", "fail"},
    {"media:server", "fail", "fail"},
    {R"(media:\\server\x)", "fail", "fail"},
    {"media:///x", "fail", "fail"},
    {"a.b://h/f.x", "protocol[a.b:] host[//h] local[/] name[f] ext[.x]", "protocol[a.b:] host[//h] local[/f.x]"},
    {R"(dir\file)", R"(local[dir\] name[file])", R"(local[dir\file])"},
    {"file.txt", "name[file] ext[.txt]", "local[file.txt]"},
    {"x.", "name[x] ext[.]", "local[x.]"},
    {".txt", "fail", "local[.txt]"},
    {"C:.txt", "fail", "protocol[C:] local[.txt]"},
    {R"(dir\.txt)", R"(local[dir\] name[] ext[.txt])", R"(local[dir\.txt])"},
    {"C:/dir/f.tar.gz", "protocol[C:] local[/dir/] name[f.tar] ext[.gz]", "protocol[C:] local[/dir/f.tar.gz]"},
    {R"(C:\a\b.c\d)", R"(protocol[C:] local[\a\b.c\] name[d])", R"(protocol[C:] local[\a\b.c\d])"},
    {R"(\/x)", R"(local[\/] name[x])", R"(local[\/x])"},
    // Behind a drive letter, any two separators fail, not only a doubled one.
    {R"(C:/\x)", "fail", "fail"},
    {R"(   C:\x.y)", R"(protocol[C:] local[\] name[x] ext[.y])", R"(protocol[C:] local[\x.y])"},
    {R"(  \\server\s)", R"(host[\\server] local[\] name[s])", R"(host[\\server] local[\s])"},
    {R"(C:\dir\  )", R"(protocol[C:] local[\dir\] name[  ])", R"(protocol[C:] local[\dir\  ])"},
    {R"(a b\c d.e f)", R"(local[a b\] name[c d] ext[.e f])", R"(local[a b\c d.e f])"},
    {R"(x*y?z"q)", R"(name[x*y?z"q])", R"(local[x*y?z"q])"},
    {R"(C:\\dir)", "fail", "fail"},
    {R"(a\\b)", "fail", "fail"},
    {R"(\\\x)", "fail", "fail"},
    {R"(\\a\\b)", "fail", "fail"},
    {R"(C:\a\)", "fail", R"(protocol[C:] local[\a\])"},
    {"ab:cd", "fail", "fail"},
    {R"(1:\x)", "fail", "fail"},
    {"a.b:c", "fail", "fail"},
    {"a:b:c", "fail", "fail"},
    {":x", "fail", "fail"},
    {R"(\a:b)", "fail", "fail"},
    {"x<y", "fail", "fail"},
    {"x>y", "fail", "fail"},
    {"x|y", "fail", "fail"},
    {"x\ty", "fail", "fail"},
    {"\tx", "fail", "fail"},
    {"x\x1f", "fail", "fail"},
    {"   ", "fail", "fail"},
    {" ", "fail", "fail"},
    {"", "fail", "fail"},
};
INSTANTIATE_TEST_SUITE_P(Paths, ParseTable, testing::ValuesIn(kForms));

TEST(ParsePath, NullPathOrRecordFails) {
  FU_PathParts parts;
  std::memset(&parts, 0x5a, sizeof parts);
  EXPECT_EQ(FU_ParsePath(nullptr, &parts, 1), 0);
  EXPECT_EQ(parts.filenameEnd, nullptr);
  EXPECT_EQ(FU_ParsePath(W("C:\\x").c_str(), nullptr, 1), 0);
}

TEST(ParsePath, FieldsPointIntoTheCallersString) {
  const wstring path = W(R"(\\?\C:\dir\file.txt)");
  const WCHAR* s = path.c_str();
  FU_PathParts parts;
  ASSERT_EQ(FU_ParsePath(s, &parts, 1), 1);
  EXPECT_EQ(parts.prefix, s);
  EXPECT_EQ(parts.prefixEnd, s + 4);
  EXPECT_EQ(parts.protocol, s + 4);
  EXPECT_EQ(parts.protocolEnd, s + 6);
  EXPECT_EQ(parts.localInfo, s + 6);
  EXPECT_EQ(parts.localInfoEnd, s + 11);
  EXPECT_EQ(parts.filename, s + 11);
  EXPECT_EQ(parts.filenameEnd, s + 15);
  EXPECT_EQ(parts.extension, s + 15);
}

TEST(ParsePath, AbsentComponentsEndAtTheTerminatorExceptThePrefix) {
  const wstring path = W("file");
  const WCHAR* end = path.c_str() + path.size();
  FU_PathParts parts;
  ASSERT_EQ(FU_ParsePath(path.c_str(), &parts, 1), 1);
  EXPECT_EQ(parts.prefix, nullptr);
  EXPECT_EQ(parts.prefixEnd, nullptr);
  EXPECT_EQ(parts.protocol, nullptr);
  EXPECT_EQ(parts.protocolEnd, end);
  EXPECT_EQ(parts.host, nullptr);
  EXPECT_EQ(parts.hostEnd, end);
  EXPECT_EQ(parts.localInfo, nullptr);
  EXPECT_EQ(parts.localInfoEnd, end);
  EXPECT_EQ(parts.filenameEnd, end);
  EXPECT_EQ(parts.extension, nullptr);
}

TEST(ParsePath, FailureClearsARecordUsedBefore) {
  const wstring good = W(R"(\\?\C:\dir\file.txt)");
  FU_PathParts parts;
  ASSERT_EQ(FU_ParsePath(good.c_str(), &parts, 1), 1);
  // Fails late: the prefix and drive were already recognised.
  ASSERT_EQ(FU_ParsePath(W(R"(\\?\C:\dir\)").c_str(), &parts, 1), 0);
  FU_PathParts cleared = {};
  EXPECT_EQ(std::memcmp(&parts, &cleared, sizeof parts), 0);
}

// ---- the guard ----

// A page of readable text with no terminator, followed by reserved memory.
class UnreadableTail : public testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
    base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(base_, nullptr);
    ASSERT_NE(VirtualAlloc(base_, kPage, MEM_COMMIT, PAGE_READWRITE), nullptr);
    WCHAR* text = reinterpret_cast<WCHAR*>(base_);
    for (size_t i = 0; i < kPage / sizeof(WCHAR); ++i) text[i] = (i % 8 == 7) ? '\\' : 'a';
  }
  void TearDown() override {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  // Runs into the reserved page before it finds a terminator.
  WCHAR* endless() { return reinterpret_cast<WCHAR*>(base_); }
  WCHAR* reserved() { return reinterpret_cast<WCHAR*>(base_ + kPage); }

  static constexpr size_t kPage = 4096;
  BYTE* base_ = nullptr;
};

TEST_F(UnreadableTail, ParsingAndScansReportFailure) {
  FU_PathParts parts;
  std::memset(&parts, 0x5a, sizeof parts);
  EXPECT_EQ(FU_ParsePath(endless(), &parts, 1), 0);
  FU_PathParts cleared = {};
  EXPECT_EQ(std::memcmp(&parts, &cleared, sizeof parts), 0);
  EXPECT_EQ(FU_ParsePath(reserved(), &parts, 0), 0);
  EXPECT_EQ(FU_ParsePath(W("C:\\x").c_str(), reinterpret_cast<FU_PathParts*>(reserved()), 1), 0);

  EXPECT_EQ(FU_FindFilename(endless()), nullptr);
  EXPECT_EQ(FU_FindHostC(reserved(), 0), nullptr);
  EXPECT_EQ(FU_FindLastSeparatorC(endless()), nullptr);
  EXPECT_EQ(FU_FindLastSeparator(reserved()), nullptr);
  EXPECT_EQ(FU_FindNextSlash(reserved()), nullptr);
  // The first separator is readable: found before the scan reaches the fault.
  EXPECT_EQ(FU_FindNextSlash(endless()), endless() + 7);
}

TEST_F(UnreadableTail, ComponentCopiesReportFailure) {
  const wstring path = W(R"(C:\dir\file.txt)");
  FU_PathParts parts;
  ASSERT_EQ(FU_ParsePath(path.c_str(), &parts, 1), 1);
  WCHAR out[4096];
  EXPECT_EQ(FU_GetComponent(&parts, reserved(), 5), 0);
  EXPECT_EQ(FU_GetComponent(&parts, reserved(), 0), 0);
  EXPECT_EQ(FU_GetComponent(reinterpret_cast<FU_PathParts*>(reserved()), out, 2), 0);
  EXPECT_EQ(FU_GetPathComponent(path.c_str(), reserved(), 6, 0), 0);
  // A copy that runs from readable text into the reserved page.
  parts.extension = endless();
  EXPECT_EQ(FU_GetComponent(&parts, out, 6), 0);
}

TEST_F(UnreadableTail, FormattingReportsFailure) {
  EXPECT_EQ(FU_FormatSlashes(reserved(), '/'), reserved());
  EXPECT_EQ(FU_FormatPath(reserved(), '\\'), nullptr);
  EXPECT_EQ(FU_FormatPath(endless(), 0), nullptr);
  // Rewriting stops at the fault; what was readable is rewritten.
  EXPECT_EQ(FU_FormatSlashes(endless(), '/'), endless());
  EXPECT_EQ(endless()[7], '/');
  EXPECT_EQ(FU_ValidatePath(reserved(), 1), 0);
  EXPECT_EQ(FU_RemoveExtension(reserved()), 0);
}

}  // namespace
