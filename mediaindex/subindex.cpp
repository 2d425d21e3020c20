// CMFSubIndex: a run of a parent's positions shown as an index of its own.
#include "omrick.h"

const WCHAR CMFSubIndex::kClassName[] = TEXT("CMFSubIndex");

CMFSubIndex::CMFSubIndex(IIndex* parent, ULONGLONG start, ULONGLONG count)
    : CMFIndex(TEXT("SubIndex"), nullptr, 0), m_count(count), m_start(start), m_parent(parent) {
  if (m_parent) m_parent->AddRef();
}

CMFSubIndex::~CMFSubIndex() {
  if (m_parent) m_parent->Release();
  m_parent = nullptr;
  m_count = 0;
}

// A view without a parent answers like the base; the constructor's contract
// asks for one, but a null one does not bring the host down.
const WCHAR* CMFSubIndex::ClassName() { return kClassName; }
ULONG CMFSubIndex::Version() { return m_parent ? m_parent->Version() : 0; }
const WCHAR* CMFSubIndex::Name() { return m_parent ? m_parent->Name() : nullptr; }
IFileIO* CMFSubIndex::GetIO() { return m_parent ? m_parent->GetIO() : nullptr; }
ULONG CMFSubIndex::GetStreamID() { return m_parent ? m_parent->GetStreamID() : CMFIndex::GetStreamID(); }
ULONG CMFSubIndex::GetStreamType() { return m_parent ? m_parent->GetStreamType() : CMFIndex::GetStreamType(); }
ULONGLONG CMFSubIndex::NumberOfEntries() { return m_count; }

IIndexEntry* CMFSubIndex::GetEntry(ULONGLONG position) {
  if (position >= m_count || !m_parent) return nullptr;
  return m_parent->GetEntry(m_start + position);
}

IMetaData* CMFSubIndex::GetMetaData(ULONG kind, ULONGLONG position) {
  if (position >= m_count || !m_parent) return nullptr;
  return m_parent->GetMetaData(kind, m_start + position);
}

// A negative count widens to a position beyond any view.
IMetaData* CMFSubIndex::GetMetaData(ULONG kind, timecode tc) {
  LONGLONG position = tc.Fields(TCF_COUNT, 0);
  return GetMetaData(kind, ULONGLONG(position));
}
