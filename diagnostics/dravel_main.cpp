// Load and unload: the page size is read once; text still buffered for the
// dump file is written and the file closed, so that nothing a caller printed
// is lost when the library goes.
#include "internal.h"

namespace {

bool OnLoad() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  if (si.dwPageSize) dravel::g_pageSize = si.dwPageSize;
  return true;
}

void OnUnload() { dravel::CloseDumpFile(); }

}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)
