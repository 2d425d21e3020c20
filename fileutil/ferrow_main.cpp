// Ferrow's load and unload work.
#include "ferrow.h"

#include <lzo/lzoconf.h>

namespace {

// LZO checks at start-up that the library it was built as matches this
// compiler's view of its types; compression cannot be trusted otherwise.
bool OnLoad() { return lzo_init() == LZO_E_OK; }
void OnUnload() {}

}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)
