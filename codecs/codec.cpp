// The common base of the codec classes: creation and destruction through
// Zelku's allocator, version, capabilities, the Begin and End hooks.
#include "format.h"

Cccir601Codec::Cccir601Codec() { Init(zelk::CS_BT601); }

Cccir601Codec::~Cccir601Codec() { End(); }

void* Cccir601Codec::operator new(size_t size) noexcept { return zelk::NewAlloc(static_cast<unsigned>(size)); }

void Cccir601Codec::operator delete(void* block) noexcept { zelk::NewFree(block); }

// Subclasses add no members with destructors, so the base destructor ends the
// whole object.
void* Cccir601Codec::DeletingDestructor(UINT flags) {
  this->Cccir601Codec::~Cccir601Codec();
  if (flags & 1) zelk::NewFree(static_cast<ICodec*>(this));
  return static_cast<ICodec*>(this);
}

LONG Cccir601Codec::Destroy() {
  // A caller may reach this slot with a null object; the compiler must not
  // assume it away.
  void* self = this;
  asm("" : "+r"(self));
  if (self) DeletingDestructor(1);
  return CODEC_OK;
}

LONG Cccir601Codec::GetVersion() { return LONG(CODEC_INTERFACE_VERSION); }
LONG Cccir601Codec::GetCapabilities() { return CODEC_CAPABILITIES; }
LONG Cccir601Codec::OnBegin() { return CODEC_OK; }
LONG Cccir601Codec::OnEnd() { return CODEC_OK; }
DWORD Cccir601Codec::GetColorSpace() { return 0; }
