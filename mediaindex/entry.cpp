// The entry classes: the neutral entry, the entry over a record, and the entry
// that carries its own record.
#include <cstring>

#include "heap.h"
#include "omrick.h"

// ---- CMFIndexEntry ----

CMFIndexEntry::CMFIndexEntry() : m_refs(1) {}
CMFIndexEntry::CMFIndexEntry(void*, ULONG) : m_refs(1) {}
CMFIndexEntry::~CMFIndexEntry() = default;

void CMFIndexEntry::AddRef() { InterlockedIncrement(&m_refs); }

LONG CMFIndexEntry::Release() {
  LONG left = InterlockedDecrement(&m_refs);
  if (left == 0) delete this;
  return left;
}

LONG CMFIndexEntry::References() { return m_refs; }
ULONGLONG CMFIndexEntry::Offset() { return 0; }
ULONGLONG CMFIndexEntry::Length() { return 0; }
ULONG CMFIndexEntry::Reference() { return 0; }
void* CMFIndexEntry::Custom(ULONG&) { return nullptr; }
bool CMFIndexEntry::GetFileRepresentation(void*, ULONG&) { return false; }
bool CMFIndexEntry::SetFileRepresentation(void*, ULONG&) { return false; }

// ---- CMFBasicIndexEntry ----

CMFBasicIndexEntry::CMFBasicIndexEntry(_MFBasicIndexEntry* record, void* heap) : m_heap(heap), m_record(record) {}

CMFBasicIndexEntry::~CMFBasicIndexEntry() {
  if (m_heap && m_record) HeapFree(m_heap, 0, m_record);
  m_record = nullptr;
}

void* CMFBasicIndexEntry::operator new(size_t size) noexcept {
  HANDLE heap = omrick::EntryHeap();
  return heap ? HeapAlloc(heap, HEAP_ZERO_MEMORY, size) : nullptr;
}

void CMFBasicIndexEntry::operator delete(void* block) noexcept {
  if (block) HeapFree(omrick::EntryHeap(), 0, block);
}

// An entry without a record answers like the neutral entry.
ULONGLONG CMFBasicIndexEntry::Offset() { return m_record ? m_record->offset : 0; }
ULONGLONG CMFBasicIndexEntry::Length() { return m_record ? m_record->length : 0; }

void* CMFBasicIndexEntry::Custom(ULONG& size) {
  if (!m_record) return nullptr;
  size = sizeof m_record->custom;
  return m_record->custom;
}

bool CMFBasicIndexEntry::GetFileRepresentation(void* buffer, ULONG& size) {
  if (!m_record || !buffer || size < sizeof(_MFBasicIndexEntry)) return false;
  size = sizeof(_MFBasicIndexEntry);
  std::memcpy(buffer, m_record, sizeof(_MFBasicIndexEntry));
  return true;
}

bool CMFBasicIndexEntry::SetFileRepresentation(void* buffer, ULONG& size) {
  if (!m_record || !buffer || size != sizeof(_MFBasicIndexEntry)) return false;
  std::memcpy(m_record, buffer, sizeof(_MFBasicIndexEntry));
  return true;
}

void CMFBasicIndexEntry::SetEntry(_MFBasicIndexEntry* record) { m_record = record; }

// ---- CMFBasicIndexEntryStatic ----

CMFBasicIndexEntryStatic::CMFBasicIndexEntryStatic() : CMFBasicIndexEntry(nullptr, nullptr), m_own() {
  m_record = &m_own;
}

CMFBasicIndexEntryStatic::~CMFBasicIndexEntryStatic() = default;

// The record pointed to (SetEntry may have pointed the entry elsewhere, or nowhere).
void CMFBasicIndexEntryStatic::SetLength(ULONG length) {
  if (m_record) m_record->length = length;
}
void CMFBasicIndexEntryStatic::SetOffset(ULONGLONG offset) {
  if (m_record) m_record->offset = offset;
}
void CMFBasicIndexEntryStatic::SetOffset(ULONG low, ULONG high) { SetOffset(ULONGLONG(high) << 32 | low); }
