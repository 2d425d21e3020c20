// Index files on disk through qz's file IO: files that pass between the
// targets byte for byte, two processes on one growing index, and qz's AVI and
// raw-frame helpers on files the test writes itself, broken ones included.
//
// The files in tests/omrick/data were made by the win32 build, under Wine:
//   wine build/win32/bin/omrick_tests.exe --child omrick_make_fixtures Z:\path\to\tests\omrick\data
#include <cstring>

#include "host.h"
#include "hosts.h"

namespace {

using namespace omricktest;
using qzindex::FileIO;
using testsupport::TempDir;

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

// ---- fixtures: what each file holds ----

_MFBasicIndexEntry Record(ULONG i, ULONG salt) {
  _MFBasicIndexEntry r = {};
  r.offset = 0x100000000ULL * salt + 4096ULL * i;
  r.length = 0xFFFFFF00u + i;
  for (int b = 0; b < 24; ++b) r.custom[b] = BYTE(i * 24 + b + salt);
  for (int b = 0; b < 4; ++b) r.padding[b] = BYTE(0xF0 + b);
  return r;
}

struct Made {
  const char* name;
  ULONG entries, descriptionSize, salt;
};
const Made kMade[] = {{"plain", 3, 0, 1}, {"described", 5, 385, 2}, {"empty", 0, 7, 3}};

bool Make(const Made& m, const wstring& path) {
  FileIO* io = FileIO::Create(path);
  auto* index = new CMFBasicIndex(path.c_str(), io, 0x00010002);
  io->Release();
  std::string description(m.descriptionSize, '\0');
  for (size_t i = 0; i < description.size(); ++i) description[i] = char('a' + i % 26);
  index->SetDescription(description.data(), ULONG(description.size()));
  for (ULONG i = 0; i < m.entries; ++i) {
    auto* e = new CMFBasicIndexEntryStatic;
    _MFBasicIndexEntry r = Record(i, m.salt);
    ULONG size = 40;
    e->SetFileRepresentation(&r, size);
    index->AddEntry(e);
    e->Release();
  }
  bool ok = index->WriteIndex(nullptr);
  index->Release();
  return ok;
}

QZ_CHILD_ROLE(omrick_make_fixtures) {
  if (args.size() != 1) return 2;
  for (const Made& m : kMade)
    if (!Make(m, args[0] + TEXT("\\") + plat::Wide(m.name) + TEXT(".idx"))) return 1;
  return 0;
}

class CrossTarget : public testing::TestWithParam<Made> {};

TEST_P(CrossTarget, WritesTheCommittedBytesAndReadsThemBack) {
  const Made& m = GetParam();
  TempDir dir;
  const wstring path = dir.Wide("x.idx");
  ASSERT_TRUE(Make(m, path));
  const std::string committed = Committed(m.name);
  EXPECT_EQ(testsupport::ReadBytes(dir.path() / "x.idx"), committed);

  testsupport::WriteBytes(dir.path() / "in.idx", committed);
  FileIO* io = FileIO::Create(dir.Wide("in.idx"));
  auto* index = new CMFBasicIndex(dir.Wide("in.idx").c_str(), io, 0);
  EXPECT_EQ(index->ReadIndex(nullptr), m.entries != 0);  // a file of no entries does not read
  ASSERT_EQ(index->NumberOfEntries(), m.entries);
  for (ULONG i = 0; i < m.entries; ++i) {
    _MFBasicIndexEntry want = Record(i, m.salt), got;
    ULONG size = 40;
    ASSERT_TRUE(index->GetEntry(ULONGLONG(i))->GetFileRepresentation(&got, size));
    EXPECT_EQ(std::memcmp(&want, &got, 40), 0) << i;
  }
  ULONG size = 0;
  index->Description(size);
  EXPECT_EQ(size, m.descriptionSize);
  EXPECT_EQ(index->Release(), 0);
  EXPECT_EQ(io->Release(), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, CrossTarget, testing::ValuesIn(kMade),
                         [](const testing::TestParamInfo<Made>& i) { return std::string(i.param.name); });

// ---- two processes on one index file ----

constexpr ULONG kFrame = 64, kFrames = 300;

// Appends frames to the media and entries to the index; every third entry
// is added before its frame, so it waits in the list until the media has it.
QZ_CHILD_ROLE(omrick_grow) {
  const wstring index = args[0], media = args[1];
  FileIO* io = FileIO::Create(index, media);
  auto* writer = new CMFBasicIndex(index.c_str(), io, 1);
  io->Release();
  if (!writer->WriteIndex(nullptr)) return 1;
  writer->SetFlag(CMFBasicIndex::AutoUpdate, true);
  FileIO* frames = FileIO::Create(media);
  std::string frame(kFrame, '\0');
  for (ULONG i = 0; i < kFrames; ++i) {
    auto* e = new CMFBasicIndexEntryStatic;
    e->SetOffset(ULONGLONG(i) * kFrame);
    e->SetLength(kFrame);
    ULONG size = 0;
    std::memcpy(e->Custom(size), &i, 4);
    std::memset(&frame[0], int(i & 0xFF), kFrame);
    const bool early = i % 3 == 2;
    if (early && !writer->AddEntry(e)) return 3;
    if (!frames->Seek(ULONGLONG(i) * kFrame) || frames->Write(frame.data(), kFrame) != kFrame) return 4;
    if (!early && !writer->AddEntry(e)) return 5;
    e->Release();
    if (i % 25 == 0) Sleep(5);
  }
  if (!writer->UpdateIndex()) return 6;
  frames->Release();
  return writer->Release() == 0 ? 0 : 7;
}

TEST(TwoProcesses, AReaderFollowingAGrowingIndexSeesEveryEntryOnce) {
  TempDir dir;
  const wstring index = dir.Wide("grow.idx"), media = dir.Wide("grow.raw");
  testsupport::Child writer("omrick_grow", {index, media});
  ASSERT_TRUE(writer.started());
  FileIO* io = FileIO::Create(index, media);
  auto* reader = new CMFBasicIndex(index.c_str(), io, 1);
  io->Release();
  reader->SetFlag(CMFBasicIndex::AutoUpdate, true);
  ULONG next = 0;
  const DWORD start = GetTickCount();
  while (next < kFrames && GetTickCount() - start < 120000) {
    IIndexEntry* e = reader->GetEntry(ULONGLONG(next));
    if (!e) {
      Sleep(1);
      continue;
    }
    ULONG size = 0, tag;
    std::memcpy(&tag, e->Custom(size), 4);
    ASSERT_EQ(tag, next);
    ASSERT_EQ(e->Offset(), ULONGLONG(next) * kFrame);
    ASSERT_EQ(e->Length(), kFrame);
    ++next;
  }
  EXPECT_EQ(next, kFrames);
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_EQ(reader->GetEntry(ULONGLONG(kFrames)), nullptr);
  EXPECT_EQ(reader->NumberOfEntries(), kFrames);
  EXPECT_EQ(reader->Release(), 0);
}

// ---- AVI files ----

// A RIFF writer for the tests: chunks and lists by hand, so that broken
// files can be made as easily as good ones.
std::string U32(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string Chunk(const char* id, const std::string& data) {
  std::string c = std::string(id, 4) + U32(DWORD(data.size())) + data;
  if (data.size() & 1) c += '\0';
  return c;
}
std::string List(const char* type, const std::string& body) { return Chunk("LIST", std::string(type, 4) + body); }

struct Avi {
  int audioFirst = 0;  // an audio stream before the video one
  bool idx1 = true, rec = false, avix = false;
  ULONG frames = 4;
  std::string Frame(ULONG i) const { return std::string(10 + i, char('A' + i)); }  // odd sizes pad
  std::string Id() const { return audioFirst ? "01dc" : "00dc"; }
  std::string Bytes() const {
    std::string strf;
    for (DWORD v : std::initializer_list<DWORD>{40u, 320u, 240u, 0x00180001u, QzFourCC('M', 'J', 'P', 'G'), 320u * 240 * 3, 0u, 0u, 0u, 0u})
      strf += U32(v);
    std::string video = List("strl", Chunk("strh", "vids" + std::string(52, '\0')) + Chunk("strf", strf));
    std::string audio = List("strl", Chunk("strh", "auds" + std::string(52, '\0')) + Chunk("strf", std::string(18, '\0')));
    std::string hdrl = List("hdrl", Chunk("avih", std::string(56, '\0')) + (audioFirst ? audio + video : video));
    std::string movi, index;
    const ULONG firstRiff = avix ? frames / 2 : frames;
    for (ULONG i = 0; i < firstRiff; ++i) {
      index += Id() + U32(i % 2 ? 0 : 0x10) + U32(DWORD(movi.size() + 4)) + U32(10 + i);
      std::string c = Chunk(Id().c_str(), Frame(i));
      movi += rec ? List("rec ", c + Chunk("01wb", "snd")) : c + Chunk(audioFirst ? "00wb" : "01wb", "sound");
    }
    std::string body = "AVI " + hdrl + Chunk("JUNK", "xx") + List("movi", movi + Chunk("ix00", "idx")) +
                       (idx1 ? Chunk("idx1", index) : "");
    std::string file = Chunk("RIFF", body);
    if (avix) {
      std::string more;
      for (ULONG i = firstRiff; i < frames; ++i) more += Chunk(Id().c_str(), Frame(i));
      file += Chunk("RIFF", "AVIX" + List("movi", more));
    }
    return file;
  }
};

struct Built {
  bool ok;
  std::string error;
  std::vector<qzindex::AviHelper::Chunk> chunks;
  std::string bytes;
};

Built BuildFrom(const std::string& bytes, CMFBasicIndex** keep = nullptr) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "m.avi", bytes);
  FileIO* data = FileIO::Create(dir.Wide("m.avi"));
  auto* helper = new qzindex::AviHelper;
  auto* index = new CMFBasicIndex(TEXT("m.idx"), nullptr, 1);
  Built b;
  b.ok = index->BuildIndex(helper, data, nullptr) && helper->Error().empty();
  b.error = helper->Error();
  for (ULONGLONG i = 0; i < index->NumberOfEntries(); ++i) {
    IIndexEntry* e = index->GetEntry(i);
    ULONG size = 0;
    qzindex::EntryCustom c;
    std::memcpy(&c, e->Custom(size), sizeof c);
    b.chunks.push_back({e->Offset(), ULONG(e->Length()), c.chunkId, c.idx1Flags, c.keyFrame});
    b.bytes += bytes.substr(size_t(e->Offset()), size_t(e->Length()));
  }
  EXPECT_EQ(helper->Release(), 0);
  if (keep)
    *keep = index;
  else
    EXPECT_EQ(index->Release(), 0);
  EXPECT_EQ(data->Release(), 0);
  return b;
}

struct AviCase {
  const char* name;
  Avi avi;
  DWORD keyOfSecond;
};
class AviLayouts : public testing::TestWithParam<AviCase> {};

TEST_P(AviLayouts, OneEntryPerVideoChunkWithItsDataAndKeyFlag) {
  const Avi& avi = GetParam().avi;
  Built b = BuildFrom(avi.Bytes());
  ASSERT_TRUE(b.ok) << b.error;
  ASSERT_EQ(b.chunks.size(), avi.frames);
  std::string frames;
  for (ULONG i = 0; i < avi.frames; ++i) frames += avi.Frame(i);
  EXPECT_EQ(b.bytes, frames);
  EXPECT_EQ(b.chunks[0].id, QzFourCC(avi.Id()[0], avi.Id()[1], 'd', 'c'));
  EXPECT_EQ(b.chunks[0].keyFrame, avi.idx1 ? 1u : DWORD(qzindex::EntryCustom::kUnknown));
  EXPECT_EQ(b.chunks[1].keyFrame, GetParam().keyOfSecond);
}

Avi With(void (*f)(Avi&)) {
  Avi a;
  f(a);
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Files, AviLayouts,
    testing::Values(AviCase{"Plain", Avi(), 0}, AviCase{"NoIdx1", With([](Avi& a) { a.idx1 = false; }), qzindex::EntryCustom::kUnknown},
                    AviCase{"RecLists", With([](Avi& a) { a.rec = true; }), 0},
                    AviCase{"AudioStreamFirst", With([](Avi& a) { a.audioFirst = 1; }), 0},
                    AviCase{"OpenDmlAvix", With([](Avi& a) { a.avix = true; a.frames = 6; }), 0}),
    [](const testing::TestParamInfo<AviCase>& i) { return std::string(i.param.name); });

struct Broken {
  const char* name;
  std::string (*make)();
  const char* error;  // the start of the helper's message
};
class BrokenAvi : public testing::TestWithParam<Broken> {};

TEST_P(BrokenAvi, GivesAClearErrorAndNoEntries) {
  Built b = BuildFrom(GetParam().make());
  EXPECT_FALSE(b.ok);
  EXPECT_EQ(b.error.rfind(GetParam().error, 0), 0u) << b.error;
  EXPECT_TRUE(b.chunks.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenAvi,
    testing::Values(
        Broken{"Empty", [] { return std::string(); }, "not an AVI file"},
        Broken{"NotRiff", [] { return std::string("RIFX") + Avi().Bytes().substr(4); }, "not an AVI file"},
        Broken{"Wave", [] { return Chunk("RIFF", "WAVE" + Chunk("fmt ", "x")); }, "not an AVI file"},
        Broken{"CutInTheHeader", [] { return Avi().Bytes().substr(0, 100); }, "truncated: the RIFF AVI"},
        Broken{"CutInAFrame", [] { std::string s = Avi().Bytes(); return s.substr(0, s.size() - 60); }, "truncated"},
        Broken{"ChunkPastItsList",
               [] {
                 std::string s = Avi().Bytes();
                 size_t at = s.find("00dc");
                 s.replace(at + 4, 4, U32(0x7FFFFFF0));
                 return s;
               },
               "corrupt or truncated: chunk '00dc'"},
        Broken{"ListWithoutType",
               [] { return Chunk("RIFF", "AVI " + Chunk("LIST", "ab")); }, "corrupt: LIST"},
        Broken{"NoVideo", [] { return Chunk("RIFF", "AVI " + List("hdrl", Chunk("avih", std::string(56, '\0')))); },
               "no video stream"},
        Broken{"DeepLists",
               [] {
                 std::string s = Chunk("00dc", "x");
                 for (int i = 0; i < 12; ++i) s = List("rec ", s);
                 return Chunk("RIFF", "AVI " + List("movi", s));
               },
               "lists nested too deeply"}),
    [](const testing::TestParamInfo<Broken>& i) { return std::string(i.param.name); });

TEST(AviHelper, DescribesTheVideoFormatAndValidatesAgainstTheMedia) {
  TempDir dir;
  Avi avi;
  std::string bytes = avi.Bytes();
  testsupport::WriteBytes(dir.path() / "m.avi", bytes);
  FileIO* data = FileIO::Create(dir.Wide("m.avi"));
  auto* helper = new qzindex::AviHelper;
  auto* index = new CMFBasicIndex(TEXT("m.idx"), nullptr, 1);
  ASSERT_TRUE(index->BuildIndex(helper, data, nullptr));
  tagQZBMINFOHEADER bmi;
  ULONG size = 143;
  EXPECT_FALSE(helper->FillBMI(&bmi, size));
  size = 200;
  ASSERT_TRUE(helper->FillBMI(&bmi, size));
  EXPECT_EQ(size, 144u);
  EXPECT_EQ(bmi.biSize, 144u);
  EXPECT_EQ(bmi.biWidth, 320);
  EXPECT_EQ(bmi.biHeight, 240);
  EXPECT_EQ(bmi.biBitCount, 24);
  EXPECT_EQ(bmi.biCompression, QzFourCC('M', 'J', 'P', 'G'));
  EXPECT_EQ(bmi.dwExtDataOffset, 0u);
  EXPECT_TRUE(index->ValidateIndex(helper, IIndex::ValidationLevel(0), data, nullptr));
  // The third frame's chunk header spoiled after the index was made.
  data->Release();
  bytes.replace(size_t(index->GetEntry(ULONGLONG(2))->Offset() - 8), 4, "00xx");
  testsupport::WriteBytes(dir.path() / "m.avi", bytes);
  data = FileIO::Create(dir.Wide("m.avi"));
  EXPECT_FALSE(index->ValidateIndex(helper, IIndex::ValidationLevel(0), data, nullptr));
  EXPECT_TRUE(helper->FirstBad().bad);
  EXPECT_EQ(helper->FirstBad().position, 2u);
  EXPECT_EQ(helper->FirstBad().why.rfind("the media has chunk '00xx' of 12 bytes", 0), 0u) << helper->FirstBad().why;
  EXPECT_EQ(index->Release(), 0);
  EXPECT_EQ(helper->Release(), 0);
  EXPECT_EQ(data->Release(), 0);
}

TEST(RawHelper, FramesUpToTheLastWholeOne) {
  TempDir dir;
  testsupport::WriteBytes(dir.path() / "r.raw", std::string(1000, 'r'));
  FileIO* data = FileIO::Create(dir.Wide("r.raw"));
  auto* helper = new qzindex::RawHelper(300);
  auto* index = new CMFBasicIndex(TEXT("r.idx"), nullptr, 1);
  ASSERT_TRUE(index->BuildIndex(helper, data, nullptr));
  ASSERT_EQ(index->NumberOfEntries(), 3u);
  EXPECT_EQ(index->GetEntry(ULONGLONG(2))->Offset(), 600u);
  EXPECT_EQ(index->GetEntry(ULONGLONG(2))->Length(), 300u);
  EXPECT_TRUE(index->ValidateIndex(helper, IIndex::ValidationLevel(0), data, nullptr));
  auto* other = new qzindex::RawHelper(250);
  EXPECT_FALSE(index->ValidateIndex(other, IIndex::ValidationLevel(0), data, nullptr));
  EXPECT_EQ(other->FirstBad().position, 0u);
  EXPECT_EQ(other->Release(), 0);
  EXPECT_EQ(index->Release(), 0);
  EXPECT_EQ(helper->Release(), 0);
  EXPECT_EQ(data->Release(), 0);
}

}  // namespace
