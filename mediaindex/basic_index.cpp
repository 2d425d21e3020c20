// CMFBasicIndex: construction, the entry list, the description and the data IO.
#include <cstdlib>
#include <cstring>

#include "heap.h"
#include "omrick.h"

CMFBasicIndex::CMFBasicIndex(const WCHAR* name, IFileIO* io, ULONG version)
    : CMFIndex(name, io, version),
      m_flags(0),
      m_header(),
      m_entries(nullptr),
      m_entryCount(0),
      m_entryCapacity(0),
      m_description(nullptr),
      m_descriptionSize(0),
      m_heap(omrick::EntryHeap()),
      m_dataIO(nullptr),
      m_stored(0) {
  m_header.magic = kMagic;
  m_header.headerSize = kHeaderSize;
  m_header.version = version;
  m_header.recordSize = kRecordSize;
  m_header.entriesOffset = kEntriesAlign;
  m_header.streamType = 0xFFFFFFFF;
}

CMFBasicIndex::~CMFBasicIndex() {
  SetDataIO(nullptr);
  Clear();
  std::free(m_entries);
  m_entries = nullptr;
  m_entryCapacity = 0;
  if (m_description) HeapFree(GetProcessHeap(), 0, m_description);
  m_description = nullptr;
  m_descriptionSize = 0;
}

void CMFBasicIndex::SetFlag(Flags flag, bool on) {
  if (on)
    m_flags |= flag;
  else
    m_flags &= ~ULONG(flag);
}

bool CMFBasicIndex::IsSet(Flags flag) { return (m_flags & flag) == ULONG(flag); }

ULONG CMFBasicIndex::NumberOfStreams() { return 1; }
ULONG CMFBasicIndex::GetStreamID() { return m_header.streamID; }
ULONG CMFBasicIndex::GetStreamType() { return m_header.streamType; }
ULONGLONG CMFBasicIndex::NumberOfEntries() { return m_header.entryCount; }

// ---- the list ----

IIndexEntry* CMFBasicIndex::GetEntry(ULONGLONG position) {
  if (position < m_entryCount) return m_entries[position];
  if (!IsSet(AutoUpdate)) return nullptr;
  wPrintf(GetUser(), GetLevel(30), TEXT("CMFBasicIndex::ReadIndex() - Entry(%I64d) not in list.. updateing index\n"),
          LONGLONG(position));
  if (!ReadIndexHeader()) return nullptr;
  // A writer's own list may run ahead of its file (entries waiting for their
  // media): the header read must not lower the count below the list, or
  // UpdateIndex would never write those entries.
  if (m_header.entryCount <= m_entryCount) {
    m_header.entryCount = m_entryCount;
    return nullptr;
  }
  if (!ReadIndexEntries(m_entryCount, m_header.entryCount)) return nullptr;
  return position < m_entryCount ? m_entries[position] : nullptr;
}

// The list holds at most as many entries as the header's 32-bit count can say.
bool CMFBasicIndex::AddEntry(IIndexEntry* entry) {
  if (!entry || m_entryCount == 0xFFFFFFFF) return false;
  if (m_entryCount == m_entryCapacity) {
    ULONG capacity = m_entryCapacity < 16 ? 16 : m_entryCapacity > 0x7FFFFFFF ? 0xFFFFFFFF : m_entryCapacity * 2;
    size_t bytes = size_t(capacity) * sizeof(IIndexEntry*);
    if (bytes / sizeof(IIndexEntry*) != capacity) return false;
    void* grown = std::realloc(m_entries, bytes);
    if (!grown) return false;
    m_entries = static_cast<IIndexEntry**>(grown);
    m_entryCapacity = capacity;
  }
  entry->AddRef();
  m_entries[m_entryCount++] = entry;
  m_header.entryCount = m_entryCount;
  return IsSet(AutoUpdate) ? UpdateIndex() : true;
}

void CMFBasicIndex::Clear() {
  for (ULONG i = 0; i < m_entryCount; ++i) m_entries[i]->Release();
  m_entryCount = 0;
}

IIndexEntry* CMFBasicIndex::CreateEntry(void* record, void* heap) {
  return new CMFBasicIndexEntry(static_cast<_MFBasicIndexEntry*>(record), heap);
}

// ---- description ----

void* CMFBasicIndex::Description(ULONG& size) {
  size = m_descriptionSize;
  return m_description;
}

// The copy is made before the held block goes, so that the index's own
// description can be handed back to it.
bool CMFBasicIndex::SetDescription(const void* data, ULONG size) {
  void* copy = nullptr;
  bool ok = true;
  if (size) {
    copy = data ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
    if (copy)
      std::memcpy(copy, data, size);
    else
      ok = false;
  }
  if (m_description) HeapFree(GetProcessHeap(), 0, m_description);
  m_description = copy;
  m_descriptionSize = copy ? size : 0;
  return ok;
}

// ---- data IO ----

// The index IO's DataIO hands over the reference that is held here.
IFileIO* CMFBasicIndex::GetDataIO() {
  if (!m_dataIO && GetIO()) m_dataIO = GetIO()->DataIO();
  return m_dataIO;
}

void CMFBasicIndex::SetDataIO(IFileIO* io) {
  if (io) io->AddRef();
  if (m_dataIO) m_dataIO->Release();
  m_dataIO = io;
}
