// CMFIndexHelper: the neutral base of format-specific helpers.
#include "omrick.h"

const WCHAR CMFIndexHelper::kClassName[] = TEXT("CMFIndexHelper");

CMFIndexHelper::CMFIndexHelper() : m_refs(1) {}
CMFIndexHelper::~CMFIndexHelper() = default;

void CMFIndexHelper::AddRef() { InterlockedIncrement(&m_refs); }

LONG CMFIndexHelper::Release() {
  LONG left = InterlockedDecrement(&m_refs);
  if (left == 0) delete this;
  return left;
}

LONG CMFIndexHelper::References() { return m_refs; }
const WCHAR* CMFIndexHelper::ClassName() { return kClassName; }
bool CMFIndexHelper::StartIndexing(IFileIO*, IReportInfo*) { return false; }
bool CMFIndexHelper::StopIndexing() { return false; }
IIndexEntry* CMFIndexHelper::GetEntry(ULONGLONG) { return nullptr; }
bool CMFIndexHelper::StartValidation(IFileIO*, ValidationLevel, IReportInfo*) { return false; }
bool CMFIndexHelper::StopValidation() { return false; }
bool CMFIndexHelper::ValidateEntry(IIndexEntry*, ULONGLONG, ValidationLevel) { return false; }
ULONG CMFIndexHelper::GetUser() { return 42; }
ULONG CMFIndexHelper::GetLevel(ULONG level) { return level; }
bool CMFIndexHelper::FillBMI(tagQZBMINFOHEADER*, ULONG&) { return false; }
