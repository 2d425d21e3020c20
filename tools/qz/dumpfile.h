// Dump files (UTF-16 little-endian text after the byte-order mark FF FE, CR LF
// line ends) shown as UTF-8 text: `qz dump`, and `qz trace` for its traces.
#pragma once

#include "qz.h"

namespace qz {

// Prints the text of the dump file; false, with a message from `command` on
// stderr, when it cannot be read or is no dump file.
bool ShowDumpFile(const char* command, const plat::wstring& path);

}  // namespace qz
