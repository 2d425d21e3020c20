// Pellam's load and unload work: none beyond what the platform does for every
// library (thread notifications off). The name-hash tables are built by the
// compiler, and every CSetFile owns what it uses.
#include "pellam.h"

namespace {
bool OnLoad() { return true; }
void OnUnload() {}
}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)
