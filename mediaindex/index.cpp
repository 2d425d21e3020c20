// CMFIndex: the base of every index, with its neutral answers.
#include <new>

#include "omrick.h"

const WCHAR CMFIndex::kClassName[] = TEXT("CMFIndex");

CMFIndex::CMFIndex(const WCHAR* name, IFileIO* io, ULONG version)
    : m_refs(1), m_name(nullptr), m_version(version), m_io(nullptr) {
  SetName(name);
  SetIO(io);
}

CMFIndex::~CMFIndex() {
  delete[] m_name;
  if (m_io) m_io->Release();
}

void CMFIndex::AddRef() { InterlockedIncrement(&m_refs); }

LONG CMFIndex::Release() {
  LONG left = InterlockedDecrement(&m_refs);
  if (left == 0) delete this;
  return left;
}

LONG CMFIndex::References() { return m_refs; }

// The copy is made before the old name goes, so that SetName(Name()) keeps it.
void CMFIndex::SetName(const WCHAR* name) {
  WCHAR* copy = nullptr;
  if (name) {
    size_t n = plat::WLen(name) + 1;
    copy = new (std::nothrow) WCHAR[n];
    if (copy)
      for (size_t i = 0; i < n; ++i) copy[i] = name[i];
  }
  delete[] m_name;
  m_name = copy;
}

// The new reference is taken first: setting the IO already held keeps it alive.
void CMFIndex::SetIO(IFileIO* io) {
  if (io) io->AddRef();
  if (m_io) m_io->Release();
  m_io = io;
}

const WCHAR* CMFIndex::ClassName() { return kClassName; }
ULONG CMFIndex::Version() { return m_version; }
const WCHAR* CMFIndex::Name() { return m_name; }
const WCHAR* CMFIndex::Extension() { return TEXT(""); }
IFileIO* CMFIndex::GetIO() { return m_io; }
ULONG CMFIndex::GetStreamID() { return 0; }
ULONG CMFIndex::GetStreamType() { return 0xFFFFFFFF; }

void* CMFIndex::Description(ULONG& size) {
  size = 0;
  return nullptr;
}

bool CMFIndex::ReadIndex(IReportInfo*) { return false; }
bool CMFIndex::WriteIndex(IReportInfo*) { return false; }
bool CMFIndex::ValidateIndex(IIndexHelper*, ValidationLevel, IFileIO*, IReportInfo*) { return false; }
bool CMFIndex::InitIndex(IIndexHelper*, ULONGLONG, bool, IReportInfo*) { return false; }
bool CMFIndex::BuildIndex(IIndexHelper*, IReportInfo*) { return false; }
ULONGLONG CMFIndex::NumberOfEntries() { return 0; }
IIndexEntry* CMFIndex::GetEntry(timecode) { return nullptr; }
IIndexEntry* CMFIndex::GetEntry(ULONGLONG) { return nullptr; }
bool CMFIndex::AddEntry(IIndexEntry*, timecode) { return false; }
bool CMFIndex::AddEntry(IIndexEntry*) { return false; }
IMetaData* CMFIndex::GetMetaData(ULONG, timecode) { return nullptr; }
IMetaData* CMFIndex::GetMetaData(ULONG, ULONGLONG) { return nullptr; }
ULONG CMFIndex::GetUser() { return 42; }
ULONG CMFIndex::GetLevel(ULONG level) { return level; }
