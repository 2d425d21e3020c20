// The entry heap: one private heap per process for basic entries and for the
// records read from index files. Created on first demand, destroyed at unload.
#pragma once

#include "platform/win32.h"

namespace omrick {

// The heap's handle, created on the first call (null if it cannot be made).
HANDLE EntryHeap();

}  // namespace omrick
