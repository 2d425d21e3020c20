// CMFBasicIndex and its index file: the header, the description, the records.
#include <cstring>

#include "omrick.h"

namespace {

// "%s" in every message is the index's name.
void Say(CMFBasicIndex& index, ULONG level, const WCHAR* format) {
  wPrintf(index.GetUser(), index.GetLevel(level), format, index.Name());
}

// entriesOffset + position * recordSize, false when it does not fit 64 bits.
bool RecordAt(const _MFBasicIndexHeader& h, ULONGLONG position, ULONGLONG& at) {
  return !__builtin_mul_overflow(position, ULONGLONG(h.recordSize), &at) &&
         !__builtin_add_overflow(at, ULONGLONG(h.entriesOffset), &at);
}

// A header read from a file is checked before anything is allocated or read
// on its word: an entry reads 40 bytes of its record, and the description and
// the records it counts must lie within the file. The file's size is asked
// only when the header claims content beyond itself.
bool Plausible(const _MFBasicIndexHeader& h, IFileIO* io) {
  if (h.recordSize < CMFBasicIndex::kRecordSize || h.recordSize > CMFBasicIndex::kMaxRecordSize) return false;
  if (h.entriesOffset < CMFBasicIndex::kHeaderSize) return false;
  if (h.descriptionSize == 0 && h.entryCount == 0) return true;
  const ULONGLONG size = io->Size();
  if (size < CMFBasicIndex::kHeaderSize || h.descriptionSize > size - CMFBasicIndex::kHeaderSize) return false;
  if (h.entryCount) {
    ULONGLONG end;
    if (!RecordAt(h, h.entryCount, end) || end > size) return false;
  }
  return true;
}

bool WriteHeader(IFileIO* io, const _MFBasicIndexHeader& h) {
  return io->Seek(0) && io->Write(&h, sizeof h) == sizeof h;
}

}  // namespace

// ---- whole files ----

bool CMFBasicIndex::ReadIndex(IReportInfo*) {
  IFileIO* io = GetIO();
  if (!io) {
    wPrintf(GetUser(), GetLevel(0), TEXT("CMFBasicIndex::ReadIndex() - No IO Provider\n"));
    return false;
  }
  io->SetFileName(Name());
  if (!io->Open(IFileIO::kOpenRead)) {
    Say(*this, 1, TEXT("CMFBasicIndex::ReadIndex() Failed to open index file:%s\n"));
    return false;
  }
  if (!ReadIndexHeader()) {
    Say(*this, 1, TEXT("CMFBasicIndex::ReadIndex() Failed to read index header from:%s\n"));
    io->Close();
    return false;
  }
  if (!ReadIndexEntries(0, NumberOfEntries())) {
    Say(*this, 1, TEXT("CMFBasicIndex::ReadIndex() Failed to read index entries from:%s\n"));
    io->Close();
    return false;
  }
  io->Close();
  return true;
}

bool CMFBasicIndex::WriteIndex(IReportInfo*) {
  IFileIO* io = GetIO();
  if (!io) {
    wPrintf(GetUser(), GetLevel(0), TEXT("CMFBasicIndex: No IO Provider\n"));
    return false;
  }
  io->SetFileName(Name());
  if (!io->Open(IFileIO::kOpenWrite)) {
    Say(*this, 1, TEXT("CMFBasicIndex: Failed to open index file:%s\n"));
    return false;
  }
  m_stored = 0;  // the file is written anew
  const WCHAR* failure = nullptr;
  if (!WriteIndexHeader())
    failure = TEXT("CMFBasicIndex: Failed to write index header into:%s\n");
  else if (!WriteIndexEntries(0, NumberOfEntries()))
    failure = TEXT("CMFBasicIndex: Failed to write index entries into:%s\n");
  if (failure) Say(*this, 1, failure);
  io->Close();
  if (!failure) return true;
  io->Remove(Name(), 0);
  m_stored = 0;
  return false;
}

// ---- header and description ----

// Reads into a scratch image: a header that is short, implausible, or whose
// description does not arrive changes nothing.
bool CMFBasicIndex::ReadIndexHeader() {
  IFileIO* io = GetIO();
  if (!io || !io->Seek(0)) return false;
  _MFBasicIndexHeader h;
  if (io->Read(&h, sizeof h) != sizeof h || !Plausible(h, io)) return false;
  if (h.descriptionSize) {
    void* block = HeapAlloc(GetProcessHeap(), 0, h.descriptionSize);
    if (!block) return false;
    bool ok = io->Read(block, h.descriptionSize) == h.descriptionSize && SetDescription(block, h.descriptionSize);
    HeapFree(GetProcessHeap(), 0, block);
    if (!ok) return false;
  }
  m_header = h;
  return true;
}

// The entries offset leaves room for the header bytes and the description:
// a header size read from a file is stored as the description offset, but
// never lets records start inside the 128 bytes written before them.
bool CMFBasicIndex::WriteIndexHeader() {
  IFileIO* io = GetIO();
  if (!io || !io->Seek(0)) return false;
  ULONG size = 0;
  void* description = Description(size);
  m_header.descriptionSize = size;
  const ULONGLONG header = m_header.headerSize > kHeaderSize ? m_header.headerSize : kHeaderSize;
  const ULONGLONG needed = header + size;
  if (needed > m_header.entriesOffset) {
    const ULONGLONG offset = (needed + kEntriesAlign - 1) & ~ULONGLONG(kEntriesAlign - 1);
    if (offset > 0xFFFFFFFFu) return false;
    m_header.entriesOffset = ULONG(offset);
  }
  m_header.descriptionOffset = m_header.headerSize;
  m_header.reserved48 = 0;
  if (io->Write(&m_header, sizeof m_header) != sizeof m_header) {
    Say(*this, 1, TEXT("CMFBasicIndex::WriteIndexHeader() - Failed to write index header from:%s\n"));
    return false;
  }
  if (description && size && io->Write(description, size) != size) {
    Say(*this, 1, TEXT("CMFBasicIndex::WriteIndexHeader() - Failed to write index description from:%s\n"));
    return false;
  }
  return true;
}

bool CMFBasicIndex::UpdateIndexHeader() {
  m_header.entryCount = ULONG(NumberOfEntries());
  IFileIO* io = GetIO();
  return io && WriteHeader(io, m_header);
}

// ---- records ----

// Records read from the file are not written back to it: AutoUpdate is held
// off while they join the list, and the stored count already covers each.
bool CMFBasicIndex::ReadIndexEntries(ULONGLONG first, ULONGLONG last) {
  if (first >= last) return false;
  IFileIO* io = GetIO();
  ULONGLONG at;
  if (!io || !m_heap || !RecordAt(m_header, first, at) || !io->Seek(at)) return false;
  const ULONG size = m_header.recordSize;
  const bool autoUpdate = IsSet(AutoUpdate);
  SetFlag(AutoUpdate, false);
  bool ok = true;
  for (ULONGLONG position = first; ok && position < last; ++position) {
    void* record = HeapAlloc(m_heap, 0, size);
    if (!record || io->Read(record, size) != size) {
      if (record) HeapFree(m_heap, 0, record);
      ok = false;
      break;
    }
    if (position >= m_stored) m_stored = position >= 0xFFFFFFFFu ? 0xFFFFFFFFu : ULONG(position + 1);
    IIndexEntry* entry = CreateEntry(record, m_heap);
    if (!entry) {
      HeapFree(m_heap, 0, record);
      ok = false;
      break;
    }
    ok = AddEntry(entry);
    entry->Release();  // the list holds the only reference now
  }
  SetFlag(AutoUpdate, autoUpdate);
  return ok;
}

bool CMFBasicIndex::WriteIndexEntries(ULONGLONG first, ULONGLONG last) {
  const ULONGLONG n = NumberOfEntries();
  if (n == 0 || first >= n || last > n) return true;
  IFileIO* io = GetIO();
  ULONGLONG at;
  if (!io || !RecordAt(m_header, first, at) || !io->Seek(at)) return false;
  const ULONG size = m_header.recordSize;
  BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
  if (!buffer) return false;
  bool ok = true;
  ULONGLONG position = first;
  for (; ok && position < last; ++position) {
    IIndexEntry* entry = GetEntry(position);
    ULONG produced = size;
    ok = entry && entry->GetFileRepresentation(buffer, produced) && produced <= size;
    if (ok) {
      std::memset(buffer + produced, 0, size - produced);
      ok = io->Write(buffer, size) == size;
    }
    if (!ok) break;
  }
  HeapFree(GetProcessHeap(), 0, buffer);
  // Records written on from the stored count on extend what the file holds.
  if (first <= m_stored && position > m_stored) m_stored = ULONG(position);
  return ok;
}

// Appends the records of the entries past the stored count whose media lies
// within the data IO's size, then the header. The file's header counts only
// records the file holds: while later entries wait for their media, it says
// the stored count (the index's own count stays the list length).
bool CMFBasicIndex::UpdateIndex() {
  if (m_stored >= m_entryCount) return true;
  ULONG end = m_entryCount;
  if (IFileIO* data = GetDataIO()) {
    const ULONGLONG limit = data->Size();
    end = m_stored;
    while (end < m_entryCount) {
      const ULONGLONG offset = m_entries[end]->Offset(), length = m_entries[end]->Length();
      if (length > limit || offset > limit - length) break;
      ++end;
    }
    if (end == m_stored) return true;
  }
  // The stored count moves on only with a header that counts the new records:
  // after a failure, the next UpdateIndex writes them (again) and the header.
  const ULONG before = m_stored;
  bool ok = WriteIndexEntries(m_stored, end);
  if (ok && m_stored >= m_entryCount) {
    ok = UpdateIndexHeader();
  } else if (ok) {
    _MFBasicIndexHeader h = m_header;
    h.entryCount = m_stored;
    IFileIO* io = GetIO();
    ok = io && WriteHeader(io, h);
  }
  if (!ok) m_stored = before;
  return ok;
}
