// The entry classes, the entry heap, CMFIndex, CMFSubIndex and CMFIndexHelper.
#include <thread>

#include "hosts.h"

namespace {

using namespace omricktest;

// ---- reference counting, one row per class ----

struct Made {
  const char* name;
  IIndexEntry* (*make)();
};
void PrintTo(const Made& m, std::ostream* os) { *os << m.name; }

class EveryEntry : public testing::TestWithParam<Made> {};

TEST_P(EveryEntry, CountsFromOneAndDestroysAtZero) {
  IIndexEntry* e = GetParam().make();
  ASSERT_NE(e, nullptr);
  auto* base = static_cast<CMFIndexEntry*>(e);
  EXPECT_EQ(base->References(), 1);
  e->AddRef();
  EXPECT_EQ(base->References(), 2);
  EXPECT_EQ(e->Release(), 1);
  EXPECT_EQ(e->Reference(), 0u);
  EXPECT_EQ(e->Release(), 0);
}

TEST_P(EveryEntry, ReferencesFromManyThreadsStayExact) {
  IIndexEntry* e = GetParam().make();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([e] {
      for (int i = 0; i < 20000; ++i) e->AddRef();
      for (int i = 0; i < 20000; ++i) e->Release();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(static_cast<CMFIndexEntry*>(e)->References(), 1);
  EXPECT_EQ(e->Release(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, EveryEntry,
    testing::Values(Made{"CMFIndexEntry", []() -> IIndexEntry* { return new CMFIndexEntry(nullptr, 5); }},
                    Made{"CMFBasicIndexEntry", []() -> IIndexEntry* { return new CMFBasicIndexEntry(nullptr, nullptr); }},
                    Made{"CMFBasicIndexEntryStatic", []() -> IIndexEntry* { return new CMFBasicIndexEntryStatic; }}));

TEST(Entry, NeutralEntryAnswersNothingAndTouchesNothing) {
  CMFIndexEntry e;
  ULONG size = 77;
  BYTE buffer[64] = {};
  EXPECT_EQ(e.Offset(), 0u);
  EXPECT_EQ(e.Length(), 0u);
  EXPECT_EQ(e.Custom(size), nullptr);
  EXPECT_FALSE(e.GetFileRepresentation(buffer, size));
  EXPECT_FALSE(e.SetFileRepresentation(buffer, size));
  EXPECT_EQ(size, 77u);
}

// ---- the record ----

struct Representation {
  ULONG capacity;
  bool ok;
  ULONG after;
};
void PrintTo(const Representation& r, std::ostream* os) { *os << r.capacity; }
class GetRepresentation : public testing::TestWithParam<Representation> {};

TEST_P(GetRepresentation, CopiesTheWholeRecordWhenItFits) {
  _MFBasicIndexEntry record;
  for (size_t i = 0; i < sizeof record; ++i) reinterpret_cast<BYTE*>(&record)[i] = BYTE(i + 1);
  CMFBasicIndexEntry e(&record, nullptr);
  BYTE buffer[64];
  std::memset(buffer, 0xEE, sizeof buffer);
  ULONG size = GetParam().capacity;
  EXPECT_EQ(e.GetFileRepresentation(buffer, size), GetParam().ok);
  EXPECT_EQ(size, GetParam().after);
  EXPECT_EQ(std::memcmp(buffer, &record, 40) == 0, GetParam().ok);
  EXPECT_EQ(buffer[40], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Capacities, GetRepresentation,
                         testing::Values(Representation{39, false, 39}, Representation{40, true, 40},
                                         Representation{64, true, 40}, Representation{0, false, 0}));

TEST(Entry, SetRepresentationTakesExactlyFortyBytesPaddingIncluded) {
  _MFBasicIndexEntry record = {};
  CMFBasicIndexEntry e(&record, nullptr);
  BYTE in[41];
  for (int i = 0; i < 41; ++i) in[i] = BYTE(0xA0 + i);
  ULONG size = 41;
  EXPECT_FALSE(e.SetFileRepresentation(in, size));
  EXPECT_EQ(record.offset, 0u);
  size = 40;
  EXPECT_TRUE(e.SetFileRepresentation(in, size));
  EXPECT_EQ(std::memcmp(&record, in, 40), 0);
  EXPECT_EQ(record.padding[3], 0xA0 + 39);
  EXPECT_EQ(size, 40u);
}

TEST(Entry, FieldsReadTheRecordUnsigned) {
  _MFBasicIndexEntry record = {};
  record.offset = 0xFFFFFFFFFFFFFFF0ULL;
  record.length = 0xFFFFFFFF;
  record.custom[0] = 9;
  CMFBasicIndexEntry e(&record, nullptr);
  EXPECT_EQ(e.Offset(), 0xFFFFFFFFFFFFFFF0ULL);
  EXPECT_EQ(e.Length(), 4294967295ULL);
  ULONG size = 0;
  EXPECT_EQ(e.Custom(size), static_cast<void*>(record.custom));
  EXPECT_EQ(size, 24u);
  _MFBasicIndexEntry other = {};
  e.SetEntry(&other);
  EXPECT_EQ(e.Length(), 0u);
}

TEST(Entry, WithoutARecordEveryAnswerIsEmpty) {
  CMFBasicIndexEntry e(nullptr, nullptr);
  ULONG size = 5;
  BYTE buffer[40];
  EXPECT_FALSE(e.GetFileRepresentation(buffer, size));
  EXPECT_FALSE(e.SetFileRepresentation(buffer, size));
  EXPECT_EQ(e.Custom(size), nullptr);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(e.Offset(), 0u);
  EXPECT_EQ(e.Length(), 0u);
}

TEST(Entry, StaticEntryCarriesItsOwnClearedRecord) {
  CMFBasicIndexEntryStatic e;  // on the stack: the constructor clears the record
  EXPECT_EQ(e.Offset(), 0u);
  e.SetOffset(0x10, 0x2);
  EXPECT_EQ(e.Offset(), 0x200000010ULL);
  e.SetOffset(0xFFFFFFFFFFFFFFFFULL);
  e.SetLength(0xFFFFFFFF);
  BYTE out[40];
  ULONG size = 40;
  ASSERT_TRUE(e.GetFileRepresentation(out, size));
  const BYTE expect[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(out, expect, 12), 0);
  for (int i = 12; i < 40; ++i) EXPECT_EQ(out[i], 0) << i;
  e.SetEntry(nullptr);
  e.SetLength(5);  // no record: nothing to change
  EXPECT_EQ(e.Length(), 0u);
}

TEST(Entry, HeapInstancesStartZeroFilled) {
  void* block = CMFBasicIndexEntry::operator new(sizeof(CMFBasicIndexEntryStatic));
  ASSERT_NE(block, nullptr);
  std::memset(block, 0x5A, sizeof(CMFBasicIndexEntryStatic));
  CMFBasicIndexEntry::operator delete(block);
  auto* e = new CMFBasicIndexEntryStatic;
  BYTE out[40];
  ULONG size = 40;
  ASSERT_TRUE(e->GetFileRepresentation(out, size));
  for (BYTE b : out) EXPECT_EQ(b, 0);
  e->Release();
}

// ---- CMFIndex ----

class PlainIndex : public CMFIndex {
 public:
  using CMFIndex::CMFIndex;
  bool InitIndex(IIndexHelper*, ULONGLONG, bool, IFileIO*, IReportInfo*) override { return false; }
  bool BuildIndex(IIndexHelper*, IFileIO*, IReportInfo*) override { return false; }
  using CMFIndex::BuildIndex;
  using CMFIndex::InitIndex;
};

TEST(Index, DefaultsAnswerNeutrally) {
  MemoryIO io;
  auto* index = new PlainIndex(TEXT("clip.idx"), &io, 3);
  EXPECT_EQ(io.count.refs, 2);
  EXPECT_EQ(plat::Utf8(index->ClassName()), "CMFIndex");
  EXPECT_EQ(index->Version(), 3u);
  EXPECT_EQ(plat::Utf8(index->Name()), "clip.idx");
  ASSERT_NE(index->Extension(), nullptr);
  EXPECT_EQ(index->Extension()[0], 0);
  EXPECT_EQ(index->GetIO(), &io);
  EXPECT_EQ(io.count.refs, 2);
  EXPECT_EQ(index->GetStreamID(), 0u);
  EXPECT_EQ(index->GetStreamType(), 0xFFFFFFFFu);
  ULONG size = 9;
  EXPECT_EQ(index->Description(size), nullptr);
  EXPECT_EQ(size, 0u);
  CountedEntry entry(1, 2);
  EXPECT_FALSE(index->ReadIndex(nullptr));
  EXPECT_FALSE(index->WriteIndex(nullptr));
  EXPECT_FALSE(index->ValidateIndex(nullptr, IIndex::ValidationLevel(0), nullptr, nullptr));
  EXPECT_FALSE(index->AddEntry(&entry));
  EXPECT_FALSE(index->AddEntry(&entry, timecode()));
  EXPECT_FALSE(index->InitIndex(nullptr, 0, false, nullptr));
  EXPECT_FALSE(index->BuildIndex(nullptr, nullptr));
  EXPECT_EQ(index->NumberOfEntries(), 0u);
  EXPECT_EQ(index->GetEntry(ULONGLONG(0)), nullptr);
  EXPECT_EQ(index->GetEntry(timecode()), nullptr);
  EXPECT_EQ(index->GetMetaData(1, ULONGLONG(0)), nullptr);
  EXPECT_EQ(index->GetMetaData(1, timecode()), nullptr);
  EXPECT_EQ(index->GetUser(), 42u);
  EXPECT_EQ(index->GetLevel(30), 30u);
  EXPECT_EQ(entry.count.refs, 1);
  EXPECT_EQ(index->Release(), 0);
  EXPECT_EQ(io.count.refs, 1);
}

TEST(Index, NamesAreCopiesAndSurviveBeingSetToThemselves) {
  WCHAR name[] = TEXT("a.idx");
  PlainIndex index(name, nullptr, 0);
  name[0] = 'b';
  EXPECT_EQ(plat::Utf8(index.Name()), "a.idx");
  index.SetName(index.Name());
  EXPECT_EQ(plat::Utf8(index.Name()), "a.idx");
  index.SetName(nullptr);
  EXPECT_EQ(index.Name(), nullptr);
}

TEST(Index, SetIOKeepsOneReferenceToWhatItHolds) {
  MemoryIO a, b;
  PlainIndex index(nullptr, &a, 0);
  index.SetIO(&a);
  EXPECT_EQ(a.count.refs, 2);
  index.SetIO(&b);
  EXPECT_EQ(a.count.refs, 1);
  EXPECT_EQ(b.count.refs, 2);
  index.SetIO(nullptr);
  EXPECT_EQ(b.count.refs, 1);
  EXPECT_EQ(index.GetIO(), nullptr);
}

// ---- CMFSubIndex ----

// A parent that answers each position with an entry and metadata it can name.
class Parent : public PlainIndex {
 public:
  Parent() : PlainIndex(TEXT("parent.idx"), nullptr, 9) {}
  std::vector<ULONGLONG> asked, askedMeta;
  CMFIndexEntry entry;
  IIndexEntry* GetEntry(ULONGLONG position) override {
    asked.push_back(position);
    return &entry;
  }
  using PlainIndex::GetEntry;
  IMetaData* GetMetaData(ULONG, ULONGLONG position) override {
    askedMeta.push_back(position);
    return reinterpret_cast<IMetaData*>(&entry);
  }
  using PlainIndex::GetMetaData;
  ULONG GetStreamID() override { return 4; }
  ULONG GetStreamType() override { return 0x73646976; }
};

// CMFSubIndex leaves the same two operations open as CMFIndex.
class View : public CMFSubIndex {
 public:
  using CMFSubIndex::CMFSubIndex;
  bool InitIndex(IIndexHelper*, ULONGLONG, bool, IFileIO*, IReportInfo*) override { return false; }
  bool BuildIndex(IIndexHelper*, IFileIO*, IReportInfo*) override { return false; }
};

TEST(SubIndex, ShowsItsRunOfTheParentAndAsksNothingOutsideIt) {
  Parent parent;
  auto* view = new View(&parent, 10, 5);
  EXPECT_EQ(parent.References(), 2);
  EXPECT_EQ(plat::Utf8(view->ClassName()), "CMFSubIndex");
  EXPECT_EQ(plat::Utf8(view->Name()), "parent.idx");
  EXPECT_EQ(view->Version(), 9u);
  EXPECT_EQ(view->GetStreamID(), 4u);
  EXPECT_EQ(view->GetStreamType(), 0x73646976u);
  EXPECT_EQ(view->NumberOfEntries(), 5u);
  EXPECT_EQ(view->GetEntry(ULONGLONG(0)), &parent.entry);
  EXPECT_EQ(view->GetEntry(ULONGLONG(4)), &parent.entry);
  EXPECT_EQ(view->GetEntry(ULONGLONG(5)), nullptr);
  EXPECT_EQ(view->GetEntry(~0ULL), nullptr);
  EXPECT_EQ(parent.asked, (std::vector<ULONGLONG>{10, 14}));
  // Timecodes select by their frame count; a negative one lies beyond any view.
  EXPECT_NE(view->GetMetaData(1, timecode(3, TCS_25)), nullptr);
  timecode minusOne;
  const LONG raw[2] = {-1, LONG(TCS_25)};
  std::memcpy(&minusOne, raw, 8);
  ASSERT_EQ(minusOne.Fields(TCF_COUNT, 0), -1);
  EXPECT_EQ(view->GetMetaData(1, minusOne), nullptr);
  EXPECT_EQ(view->GetMetaData(1, ULONGLONG(5)), nullptr);
  EXPECT_EQ(parent.askedMeta, (std::vector<ULONGLONG>{13}));
  EXPECT_EQ(view->Release(), 0);
  EXPECT_EQ(parent.References(), 1);
}

TEST(SubIndex, PositionsAreSixtyFourBit) {
  Parent parent;
  View view(&parent, 0x100000000ULL, 0x200000000ULL);
  EXPECT_EQ(view.NumberOfEntries(), 0x200000000ULL);
  view.GetEntry(ULONGLONG(0x1FFFFFFFFULL));
  EXPECT_EQ(parent.asked, (std::vector<ULONGLONG>{0x2FFFFFFFFULL}));
}

// ---- CMFIndexHelper ----

class PlainHelper : public CMFIndexHelper {
 public:
  bool Reserved3() override { return false; }
};

TEST(Helper, DefaultsAnswerFalseAndFillNothing) {
  auto* helper = new PlainHelper;
  EXPECT_EQ(plat::Utf8(helper->ClassName()), "CMFIndexHelper");
  EXPECT_FALSE(helper->StartIndexing(nullptr, nullptr));
  EXPECT_FALSE(helper->StopIndexing());
  EXPECT_EQ(helper->GetEntry(0), nullptr);
  EXPECT_FALSE(helper->StartValidation(nullptr, IIndexHelper::ValidationLevel(0), nullptr));
  EXPECT_FALSE(helper->StopValidation());
  EXPECT_FALSE(helper->ValidateEntry(nullptr, 0, IIndexHelper::ValidationLevel(0)));
  EXPECT_EQ(helper->GetUser(), 42u);
  EXPECT_EQ(helper->GetLevel(7), 7u);
  tagQZBMINFOHEADER bmi;
  std::memset(&bmi, 0x11, sizeof bmi);
  ULONG size = 144;
  EXPECT_FALSE(helper->FillBMI(&bmi, size));
  EXPECT_EQ(size, 144u);
  EXPECT_EQ(bmi.biSize, 0x11111111u);
  helper->AddRef();
  EXPECT_EQ(helper->References(), 2);
  EXPECT_EQ(helper->Release(), 1);
  EXPECT_EQ(helper->Release(), 0);
}

}  // namespace
