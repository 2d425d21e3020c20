// Ferrow's load and unload work.
#include "ferrow.h"

namespace {

bool OnLoad() { return true; }
void OnUnload() {}

}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)
