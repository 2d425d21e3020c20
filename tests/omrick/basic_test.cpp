// CMFBasicIndex over a scripted IO: the file it writes and reads, every
// failure path, building, validating, AutoUpdate, and reference counts.
#include "hosts.h"

namespace {

using namespace omricktest;

// An index over a MemoryIO, released at the end; checks nothing leaked.
struct Fixture {
  MemoryIO io;
  CMFBasicIndex* index;
  Messages said;
  explicit Fixture(const WCHAR* name = TEXT("clip.idx")) : index(new CMFBasicIndex(name, &io, 7)) {}
  ~Fixture() {
    EXPECT_EQ(index->Release(), 0);
    EXPECT_EQ(io.count.refs, 1) << "the index IO is released once";
  }
  std::vector<std::string> Log() {
    std::vector<std::string> l;
    l.swap(io.log);
    return l;
  }
};

std::string DescriptionOf(CMFBasicIndex& index) {
  ULONG size = 0;
  const char* data = static_cast<const char*>(index.Description(size));
  return data ? std::string(data, size) : std::string();
}

_MFBasicIndexHeader HeaderOf(const std::string& file) {
  _MFBasicIndexHeader h;
  std::memcpy(&h, file.data(), sizeof h);
  return h;
}

// ---- writing ----

TEST(BasicIndex, EmptyIndexWritesOnlyItsHeader) {
  Fixture f;
  ASSERT_TRUE(f.index->WriteIndex(nullptr));
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Write(128)", "Close"}));
  ASSERT_EQ(f.io.bytes.size(), 128u);
  EXPECT_EQ(f.io.bytes, HeaderBytes(NewHeader(0)));
  EXPECT_FALSE(f.index->IsSet(CMFBasicIndex::AutoUpdate));
  EXPECT_EQ(f.index->NumberOfStreams(), 1u);
  EXPECT_EQ(plat::Utf8(f.index->ClassName()), "CMFIndex");
}

TEST(BasicIndex, EntriesAreWrittenOneRecordEachAtTheEntriesOffset) {
  Fixture f;
  CountedEntry a(0x1122334455667788ULL, 0xAABBCCDD, 1), b(5, 6, 2);
  b.produce = 20;  // short representations are padded with zeros
  std::memset(&b.record.custom[8], 0x77, 16);
  ASSERT_TRUE(f.index->AddEntry(&a));
  ASSERT_TRUE(f.index->AddEntry(&b));
  EXPECT_EQ(a.count.refs, 2);
  ASSERT_TRUE(f.index->WriteIndex(nullptr));
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Write(128)",
                                               "Seek(512)", "Write(40)", "Write(40)", "Close"}));
  ASSERT_EQ(f.io.bytes.size(), 592u);
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 2u);
  EXPECT_EQ(f.io.bytes.substr(512, 40), std::string(reinterpret_cast<char*>(&a.record), 40));
  EXPECT_EQ(f.io.bytes.substr(552, 20), std::string(reinterpret_cast<char*>(&b.record), 20));
  EXPECT_EQ(f.io.bytes.substr(572, 20), std::string(20, '\0'));
  f.index->Release();  // a second index object would hold them too: the list gives its references back
  f.index = new CMFBasicIndex(TEXT("x"), &f.io, 7);
  EXPECT_EQ(a.count.refs, 1);
  EXPECT_EQ(b.count.refs, 1);
}

struct DescriptionCase {
  ULONG size;
  ULONG entriesOffset;
};
void PrintTo(const DescriptionCase& c, std::ostream* os) { *os << c.size; }
class DescriptionSize : public testing::TestWithParam<DescriptionCase> {};

TEST_P(DescriptionSize, MovesTheEntriesToTheNextMultipleOf512) {
  Fixture f;
  std::string description(GetParam().size, 'd');
  ASSERT_TRUE(f.index->SetDescription(description.data(), ULONG(description.size())));
  CountedEntry e(1, 2);
  f.index->AddEntry(&e);
  ASSERT_TRUE(f.index->WriteIndex(nullptr));
  _MFBasicIndexHeader h = HeaderOf(f.io.bytes);
  EXPECT_EQ(h.entriesOffset, GetParam().entriesOffset);
  EXPECT_EQ(h.descriptionSize, GetParam().size);
  EXPECT_EQ(h.descriptionOffset, 128u);
  EXPECT_EQ(f.io.bytes.substr(128, description.size()), description);
  EXPECT_EQ(f.io.bytes.size(), GetParam().entriesOffset + 40u);
}

INSTANTIATE_TEST_SUITE_P(Boundary, DescriptionSize,
                         testing::Values(DescriptionCase{0, 512}, DescriptionCase{384, 512},
                                         DescriptionCase{385, 1024}, DescriptionCase{896, 1024},
                                         DescriptionCase{897, 1536}));

TEST(BasicIndex, LargerEntriesOffsetFromAFileIsKept) {
  Fixture f;
  _MFBasicIndexHeader h = NewHeader(0);
  h.entriesOffset = 4096;
  h.headerSize = 200;  // stored as the description offset, as read
  h.reserved48 = 99;
  f.io.bytes = HeaderBytes(h);
  ASSERT_TRUE(f.index->ReadIndexHeader());
  ASSERT_TRUE(f.index->SetDescription("abc", 3));
  ASSERT_TRUE(f.index->WriteIndexHeader());
  _MFBasicIndexHeader w = HeaderOf(f.io.bytes);
  EXPECT_EQ(w.entriesOffset, 4096u);
  EXPECT_EQ(w.descriptionOffset, 200u);
  EXPECT_EQ(w.reserved48, 0u);
}

// A header size below 128 in a file must not let records start inside the
// bytes the header and description take.
TEST(BasicIndex, SmallHeaderSizeFromAFileCannotPutRecordsOverTheDescription) {
  Fixture f;
  _MFBasicIndexHeader h = NewHeader(0);
  h.headerSize = 0;
  f.io.bytes = HeaderBytes(h);
  ASSERT_TRUE(f.index->ReadIndexHeader());
  std::string description(400, 'd');
  ASSERT_TRUE(f.index->SetDescription(description.data(), 400));
  ASSERT_TRUE(f.index->WriteIndexHeader());
  EXPECT_EQ(HeaderOf(f.io.bytes).entriesOffset, 1024u);
  EXPECT_EQ(HeaderOf(f.io.bytes).descriptionOffset, 0u);
}

TEST(BasicIndex, WriteIndexEntriesOutsideTheCountWritesNothing) {
  Fixture f;
  CountedEntry e(1, 2);
  f.index->AddEntry(&e);
  EXPECT_TRUE(f.index->WriteIndexEntries(0, 2));
  EXPECT_TRUE(f.index->WriteIndexEntries(1, 1));
  EXPECT_TRUE(f.Log().empty());
  CMFBasicIndex empty(nullptr, nullptr, 0);
  EXPECT_TRUE(empty.WriteIndexEntries(0, 0));
  EXPECT_FALSE(empty.UpdateIndexHeader());
  EXPECT_FALSE(empty.ReadIndexHeader());
}

// ---- every failure of a whole-file operation ----

struct Failure {
  const char* name;
  bool write;  // WriteIndex, else ReadIndex
  MemoryIO::Kind kind;
  int nth;
  std::vector<std::string> log;
  std::vector<std::string> messages;
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }
class FailingIO : public testing::TestWithParam<Failure> {};

TEST_P(FailingIO, FailsWithItsMessageAndReleasesEverything) {
  const Failure& c = GetParam();
  Fixture f;
  CountedEntry a(10, 20), b(30, 40);
  if (c.write) {
    f.index->AddEntry(&a);
    f.index->AddEntry(&b);
    f.index->SetDescription("desc", 4);
  } else {
    f.io.bytes = IndexFile(2);
  }
  f.io.failAt[c.kind] = c.nth;
  EXPECT_FALSE(c.write ? f.index->WriteIndex(nullptr) : f.index->ReadIndex(nullptr));
  EXPECT_EQ(f.Log(), c.log);
  std::vector<std::string> expected;
  for (const std::string& m : c.messages) expected.push_back(m + ":clip.idx\n");
  EXPECT_EQ(f.said.lines, expected);
}

const std::vector<std::string> kReadStart = {"SetFileName(clip.idx)", "Open(5)", "Seek(0)", "Read(128)", "Size"};

INSTANTIATE_TEST_SUITE_P(
    Paths, FailingIO,
    testing::Values(
        Failure{"WriteOpen", true, MemoryIO::kOpen, 1, {"SetFileName(clip.idx)", "Open(6)"},
                {"42/1 CMFBasicIndex: Failed to open index file"}},
        Failure{"WriteHeaderSeek", true, MemoryIO::kSeek, 1,
                {"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Close", "Remove(clip.idx,0)"},
                {"42/1 CMFBasicIndex: Failed to write index header into"}},
        Failure{"WriteHeader", true, MemoryIO::kWrite, 1,
                {"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Write(128)", "Close", "Remove(clip.idx,0)"},
                {"42/1 CMFBasicIndex::WriteIndexHeader() - Failed to write index header from",
                 "42/1 CMFBasicIndex: Failed to write index header into"}},
        Failure{"WriteDescription", true, MemoryIO::kWrite, 2,
                {"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Write(128)", "Write(4)", "Close",
                 "Remove(clip.idx,0)"},
                {"42/1 CMFBasicIndex::WriteIndexHeader() - Failed to write index description from",
                 "42/1 CMFBasicIndex: Failed to write index header into"}},
        Failure{"WriteEntriesSeek", true, MemoryIO::kSeek, 2,
                {"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Write(128)", "Write(4)", "Seek(512)", "Close",
                 "Remove(clip.idx,0)"},
                {"42/1 CMFBasicIndex: Failed to write index entries into"}},
        Failure{"WriteSecondRecord", true, MemoryIO::kWrite, 4,
                {"SetFileName(clip.idx)", "Open(6)", "Seek(0)", "Write(128)", "Write(4)", "Seek(512)", "Write(40)",
                 "Write(40)", "Close", "Remove(clip.idx,0)"},
                {"42/1 CMFBasicIndex: Failed to write index entries into"}},
        Failure{"ReadOpen", false, MemoryIO::kOpen, 1, {"SetFileName(clip.idx)", "Open(5)"},
                {"42/1 CMFBasicIndex::ReadIndex() Failed to open index file"}},
        Failure{"ReadHeaderSeek", false, MemoryIO::kSeek, 1, {"SetFileName(clip.idx)", "Open(5)", "Seek(0)", "Close"},
                {"42/1 CMFBasicIndex::ReadIndex() Failed to read index header from"}},
        Failure{"ReadHeader", false, MemoryIO::kRead, 1,
                {"SetFileName(clip.idx)", "Open(5)", "Seek(0)", "Read(128)", "Close"},
                {"42/1 CMFBasicIndex::ReadIndex() Failed to read index header from"}},
        Failure{"ReadEntriesSeek", false, MemoryIO::kSeek, 2,
                {"SetFileName(clip.idx)", "Open(5)", "Seek(0)", "Read(128)", "Size", "Seek(512)", "Close"},
                {"42/1 CMFBasicIndex::ReadIndex() Failed to read index entries from"}},
        Failure{"ReadSecondRecord", false, MemoryIO::kRead, 3,
                {"SetFileName(clip.idx)", "Open(5)", "Seek(0)", "Read(128)", "Size", "Seek(512)", "Read(40)",
                 "Read(40)", "Close"},
                {"42/1 CMFBasicIndex::ReadIndex() Failed to read index entries from"}}));

TEST(BasicIndex, WithoutAnIOOnlyTheWholeFileOperationsSaySo) {
  Messages said;
  CMFBasicIndex index(TEXT("x"), nullptr, 0);
  EXPECT_FALSE(index.ReadIndex(nullptr));
  EXPECT_FALSE(index.WriteIndex(nullptr));
  EXPECT_FALSE(index.WriteIndexHeader());
  EXPECT_FALSE(index.ReadIndexEntries(0, 1));
  EXPECT_EQ(said.lines, (std::vector<std::string>{"42/0 CMFBasicIndex::ReadIndex() - No IO Provider\n",
                                                  "42/0 CMFBasicIndex: No IO Provider\n"}));
}

// ---- reading ----

TEST(BasicIndex, ReadingTakesTheFilesHeaderAndAppendsItsRecords) {
  Fixture f;
  _MFBasicIndexHeader h = NewHeader(3, 99);
  h.streamType = 0x73646976;
  h.streamID = 3;
  h.descriptionSize = 5;
  std::string file = HeaderBytes(h) + "hello";
  file.resize(512, '\0');
  file += IndexFile(3).substr(512);
  f.io.bytes = file;
  CountedEntry before(7, 8);
  f.index->AddEntry(&before);
  ASSERT_TRUE(f.index->ReadIndex(nullptr));
  EXPECT_EQ(f.index->GetStreamType(), 0x73646976u);
  EXPECT_EQ(f.index->GetStreamID(), 3u);
  EXPECT_EQ(f.index->NumberOfEntries(), 4u);  // appended after the entry it had
  EXPECT_EQ(f.index->GetEntry(ULONGLONG(0)), &before);
  EXPECT_EQ(f.index->GetEntry(ULONGLONG(3))->Length(), 102u);
  EXPECT_EQ(f.index->GetEntry(ULONGLONG(3))->Offset(), 2000u);
  EXPECT_EQ(DescriptionOf(*f.index), "hello");
  EXPECT_EQ(static_cast<CMFBasicIndexEntry*>(f.index->GetEntry(ULONGLONG(1)))->References(), 1);
}

TEST(BasicIndex, FileWithoutDescriptionKeepsTheIndexsOwn) {
  Fixture f;
  f.io.bytes = IndexFile(1);
  f.index->SetDescription("mine", 4);
  ASSERT_TRUE(f.index->ReadIndex(nullptr));
  EXPECT_EQ(DescriptionOf(*f.index), "mine");
}

TEST(BasicIndex, ZeroEntriesFailsTheEntriesRead) {
  Fixture f;
  f.io.bytes = HeaderBytes(NewHeader(0));
  EXPECT_FALSE(f.index->ReadIndex(nullptr));
  EXPECT_EQ(f.said.lines, std::vector<std::string>{"42/1 CMFBasicIndex::ReadIndex() Failed to read index entries from:clip.idx\n"});
  EXPECT_FALSE(f.index->ReadIndexEntries(5, 5));
}

// Headers that cannot be right are refused before anything is read on their word.
struct BadHeader {
  const char* name;
  void (*spoil)(_MFBasicIndexHeader&);
};
void PrintTo(const BadHeader& b, std::ostream* os) { *os << b.name; }
class UntrustedHeader : public testing::TestWithParam<BadHeader> {};

TEST_P(UntrustedHeader, IsRefusedAndChangesNothing) {
  Fixture f;
  std::string file = IndexFile(2);
  _MFBasicIndexHeader h = HeaderOf(file);
  GetParam().spoil(h);
  file.replace(0, 128, HeaderBytes(h));
  f.io.bytes = file;
  f.index->SetDescription("kept", 4);
  EXPECT_FALSE(f.index->ReadIndexHeader());
  EXPECT_EQ(f.index->NumberOfEntries(), 0u);
  EXPECT_EQ(f.index->GetStreamType(), 0xFFFFFFFFu);
  EXPECT_EQ(DescriptionOf(*f.index), "kept");
  for (const std::string& call : f.Log()) EXPECT_TRUE(call.rfind("Read(128", 0) == 0 || call[0] != 'R') << call;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, UntrustedHeader,
    testing::Values(BadHeader{"RecordSize39", [](_MFBasicIndexHeader& h) { h.recordSize = 39; }},
                    BadHeader{"RecordSize0", [](_MFBasicIndexHeader& h) { h.recordSize = 0; }},
                    BadHeader{"RecordSizeHuge", [](_MFBasicIndexHeader& h) { h.recordSize = 0x10001; }},
                    BadHeader{"EntriesInsideHeader", [](_MFBasicIndexHeader& h) { h.entriesOffset = 127; }},
                    BadHeader{"DescriptionPastEnd", [](_MFBasicIndexHeader& h) { h.descriptionSize = 0xFFFFFF00; }},
                    BadHeader{"DescriptionOneTooMany", [](_MFBasicIndexHeader& h) { h.descriptionSize = 512 + 80 - 127; }},
                    BadHeader{"CountPastEnd", [](_MFBasicIndexHeader& h) { h.entryCount = 3; }},
                    BadHeader{"CountHuge", [](_MFBasicIndexHeader& h) { h.entryCount = 0xFFFFFFFF; }},
                    BadHeader{"RecordsPastEnd", [](_MFBasicIndexHeader& h) { h.recordSize = 41; }},
                    BadHeader{"EntriesOffsetPastEnd", [](_MFBasicIndexHeader& h) { h.entriesOffset = 0xFFFFFFFF; }}));

TEST(BasicIndex, LargerRecordsAreReadWhole) {
  Fixture f;
  _MFBasicIndexHeader h = NewHeader(2);
  h.recordSize = 48;
  std::string file = HeaderBytes(h);
  file.resize(512 + 96, '\x01');
  f.io.bytes = file;
  ASSERT_TRUE(f.index->ReadIndex(nullptr));
  EXPECT_EQ(f.index->GetEntry(ULONGLONG(1))->Offset(), 0x0101010101010101ULL);
  EXPECT_EQ(f.Log().back(), "Close");
}

// ---- building, validating, InitIndex ----

TEST(BasicIndex, BuildTakesItsOwnReferencesAndEndsIndexing) {
  Fixture f;
  ScriptedHelper helper;
  CountedEntry a(1, 2), b(3, 4);
  helper.entries = {&a, &b};
  CountedEntry old(9, 9);
  f.index->AddEntry(&old);
  ASSERT_TRUE(f.index->BuildIndex(&helper, &f.io, nullptr));
  EXPECT_EQ(helper.log, (std::vector<std::string>{"StartIndexing(data)", "GetEntry(0)", "GetEntry(1)", "GetEntry(2)",
                                                  "StopIndexing"}));
  EXPECT_EQ(old.count.refs, 1);
  EXPECT_EQ(a.count.refs, 2);
  EXPECT_EQ(f.index->NumberOfEntries(), 2u);
  EXPECT_EQ(helper.count.refs, 1);
  EXPECT_FALSE(f.index->BuildIndex(nullptr, nullptr, nullptr));
  EXPECT_EQ(a.count.refs, 1);  // emptied before the helper was looked at
}

TEST(BasicIndex, BuildOfNothingCountsNothing) {
  Fixture f;
  f.io.bytes = IndexFile(3);
  ASSERT_TRUE(f.index->ReadIndex(nullptr));
  ScriptedHelper helper;
  ASSERT_TRUE(f.index->BuildIndex(&helper, nullptr, nullptr));
  EXPECT_EQ(f.index->NumberOfEntries(), 0u);
  EXPECT_EQ(f.index->GetEntry(ULONGLONG(0)), nullptr);
}

TEST(BasicIndex, ValidationVisitsEveryPositionAndStopsAtTheFirstBad) {
  Fixture f;
  ScriptedHelper helper;
  CountedEntry a(1, 2), b(3, 4), c(5, 6);
  for (CountedEntry* e : {&a, &b, &c}) f.index->AddEntry(e);
  EXPECT_TRUE(f.index->ValidateIndex(nullptr, IIndex::ValidationLevel(3), nullptr, nullptr));
  helper.badAt = 1;
  MemoryIO data;
  EXPECT_FALSE(f.index->ValidateIndex(&helper, IIndex::ValidationLevel(3), &data, reinterpret_cast<IReportInfo*>(&data)));
  EXPECT_EQ(helper.log, (std::vector<std::string>{"StartValidation(data,0,null)", "ValidateEntry(0)", "ValidateEntry(1)",
                                                  "StopValidation"}));
  helper.log.clear();
  helper.startValidation = false;
  EXPECT_FALSE(f.index->ValidateIndex(&helper, IIndex::ValidationLevel(0), nullptr, nullptr));
  EXPECT_EQ(helper.log, std::vector<std::string>{"StartValidation(null,0,null)"});
}

TEST(BasicIndex, InitIndexReadsAndValidatesOrBuilds) {
  ScriptedHelper helper;
  CountedEntry built(1, 1);
  helper.entries = {&built};
  MemoryIO data;
  {
    Fixture f;
    f.io.bytes = IndexFile(2);
    ASSERT_TRUE(f.index->InitIndex(&helper, 123, false, &data, nullptr));
    EXPECT_EQ(helper.log, (std::vector<std::string>{"StartValidation(data,0,null)", "ValidateEntry(0)",
                                                    "ValidateEntry(1)", "StopValidation"}));
    EXPECT_EQ(f.index->GetDataIO(), &data);
    EXPECT_EQ(data.count.refs, 2);
  }
  EXPECT_EQ(data.count.refs, 1);
  helper.log.clear();
  {
    Fixture f;  // no file: built from the media through the data IO the index IO gives
    f.io.data = &data;
    ASSERT_TRUE(f.index->InitIndex(&helper, 0, false, nullptr, nullptr));
    EXPECT_EQ(helper.log.front(), "StartIndexing(data)");
    EXPECT_EQ(f.index->NumberOfEntries(), 1u);
    EXPECT_EQ(data.count.refs, 2);
  }
  EXPECT_EQ(data.count.refs, 1);
  EXPECT_EQ(built.count.refs, 1);
}

// ---- AutoUpdate ----

TEST(BasicIndex, AutoUpdateAppendsRecordsWhoseMediaIsThere) {
  Fixture f;
  MemoryIO data;
  data.sizeOverride = 300;
  f.index->SetDataIO(&data);
  f.index->SetFlag(CMFBasicIndex::AutoUpdate, true);
  ASSERT_TRUE(f.index->WriteIndex(nullptr));
  f.Log();
  CountedEntry a(0, 100), b(100, 100), c(200, 101), d(301, 5);
  ASSERT_TRUE(f.index->AddEntry(&a));
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"Seek(512)", "Write(40)", "Seek(0)", "Write(128)"}));
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 1u);
  ASSERT_TRUE(f.index->AddEntry(&b));
  ASSERT_TRUE(f.index->AddEntry(&c));  // its media is not all there yet: the file waits
  EXPECT_EQ(f.Log().size(), 4u);
  EXPECT_EQ(f.io.bytes.size(), 512u + 80);
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 2u);
  EXPECT_EQ(f.index->NumberOfEntries(), 3u);
  data.sizeOverride = 301;
  ASSERT_TRUE(f.index->AddEntry(&d));  // c fits now, d does not: the file's header counts what it holds
  EXPECT_EQ(f.io.bytes.size(), 512u + 120);
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 3u);
  EXPECT_EQ(f.index->NumberOfEntries(), 4u);
  data.sizeOverride = 306;
  ASSERT_TRUE(f.index->UpdateIndex());
  EXPECT_EQ(f.io.bytes.size(), 512u + 160);
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 4u);
  EXPECT_EQ(f.io.bytes.substr(512 + 120, 40), std::string(reinterpret_cast<char*>(&d.record), 40));
  f.Log();
  EXPECT_TRUE(f.index->UpdateIndex());  // nothing new: nothing written
  EXPECT_TRUE(f.Log().empty());
  // A header that could not be written is written by the next update, with the records again.
  CountedEntry e(306, 0);
  f.io.failAt[MemoryIO::kWrite] = f.io.calls[MemoryIO::kWrite] + 2;
  EXPECT_FALSE(f.index->AddEntry(&e));
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 4u);
  EXPECT_TRUE(f.index->UpdateIndex());
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"Seek(672)", "Write(40)", "Seek(0)", "Write(128)", "Seek(672)",
                                               "Write(40)", "Seek(0)", "Write(128)"}));
  EXPECT_EQ(HeaderOf(f.io.bytes).entryCount, 5u);
  f.index->SetFlag(CMFBasicIndex::AutoUpdate, false);
  EXPECT_FALSE(f.index->IsSet(CMFBasicIndex::AutoUpdate));
  f.index->SetDataIO(nullptr);
  EXPECT_EQ(data.count.refs, 1);
}

TEST(BasicIndex, AutoUpdateReadsPositionsBeyondTheList) {
  Fixture f;
  f.io.bytes = IndexFile(2);
  f.index->SetFlag(CMFBasicIndex::AutoUpdate, true);
  ASSERT_TRUE(f.index->ReadIndex(nullptr));
  f.Log();
  EXPECT_EQ(f.index->GetEntry(ULONGLONG(2)), nullptr);
  EXPECT_EQ(f.said.lines,
            std::vector<std::string>{"42/30 CMFBasicIndex::ReadIndex() - Entry(2) not in list.. updateing index\n"});
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"Seek(0)", "Read(128)", "Size"}));
  f.io.bytes = IndexFile(4);  // another party appended two
  IIndexEntry* e = f.index->GetEntry(ULONGLONG(3));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Offset(), 3000u);
  EXPECT_EQ(f.index->NumberOfEntries(), 4u);
  EXPECT_EQ(f.Log(), (std::vector<std::string>{"Seek(0)", "Read(128)", "Size", "Seek(592)", "Read(40)", "Read(40)"}));
  f.said.lines.clear();
  f.index->GetEntry(~0ULL);
  EXPECT_EQ(f.said.lines,
            std::vector<std::string>{"42/30 CMFBasicIndex::ReadIndex() - Entry(-1) not in list.. updateing index\n"});
}

TEST(BasicIndex, DescriptionCanBeSetFromItself) {
  Fixture f;
  ASSERT_TRUE(f.index->SetDescription("abcdef", 6));
  ULONG size = 0;
  void* own = f.index->Description(size);
  ASSERT_TRUE(f.index->SetDescription(own, size));
  EXPECT_EQ(DescriptionOf(*f.index), "abcdef");
  EXPECT_FALSE(f.index->SetDescription(nullptr, 3));
  EXPECT_EQ(f.index->Description(size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(f.index->SetDescription(nullptr, 0));
}

TEST(BasicIndex, ClearKeepsTheCountAndGivesEntriesBack) {
  struct Open : CMFBasicIndex {
    using CMFBasicIndex::CMFBasicIndex;
    using CMFBasicIndex::Clear;
  };
  auto* index = new Open(nullptr, nullptr, 0);
  CountedEntry a(1, 1);
  index->AddEntry(&a);
  index->Clear();
  EXPECT_EQ(a.count.refs, 1);
  EXPECT_EQ(index->NumberOfEntries(), 1u);
  EXPECT_EQ(index->GetEntry(ULONGLONG(0)), nullptr);
  EXPECT_FALSE(index->AddEntry(nullptr));
  index->Release();
}

}  // namespace
