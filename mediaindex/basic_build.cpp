// CMFBasicIndex with a helper: building, validating, and the usual start.
#include "omrick.h"

// The helper's entries are borrowed: the index keeps its own references.
// Building ends with the header counting what was built, also when the
// helper found nothing (Clear alone keeps the count it had).
bool CMFBasicIndex::BuildIndex(IIndexHelper* helper, IFileIO* data, IReportInfo* report) {
  Clear();
  if (!helper) return false;
  helper->StartIndexing(data, report);
  bool ok = true;
  for (ULONGLONG position = 0;; ++position) {
    IIndexEntry* entry = helper->GetEntry(position);
    if (!entry) break;
    if (!AddEntry(entry)) {
      ok = false;
      break;
    }
  }
  if (ok) m_header.entryCount = m_entryCount;
  helper->StopIndexing();
  return ok;
}

// The helper gets level 0 and no report object.
bool CMFBasicIndex::ValidateIndex(IIndexHelper* helper, ValidationLevel, IFileIO* data, IReportInfo*) {
  if (!helper) return true;
  const ULONG n = ULONG(NumberOfEntries());
  const auto level = IIndexHelper::ValidationLevel(0);
  if (!helper->StartValidation(data, level, nullptr)) return false;
  for (ULONG i = 0; i < n; ++i)
    if (!helper->ValidateEntry(GetEntry(ULONGLONG(i)), i, level)) {
      helper->StopValidation();
      return false;
    }
  helper->StopValidation();
  return true;
}

bool CMFBasicIndex::InitIndex(IIndexHelper* helper, ULONGLONG, bool rebuild, IFileIO* data, IReportInfo* report) {
  if (data) SetDataIO(data);
  if (!rebuild && ReadIndex(nullptr)) return ValidateIndex(helper, ValidationLevel(0), GetDataIO(), report);
  return BuildIndex(helper, GetDataIO(), report);
}
