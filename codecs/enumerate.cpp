// The plug-in's entry point: the six codecs offered to the host's registry.
#include "format.h"

namespace {

template <class C>
ICodec* Make() {
  return new C;  // null when Zelku has no memory (the class's operator new does not throw)
}

struct Row {
  ICodec* (*make)();
  DWORD fourcc;
  unsigned line;  // where the assertion says the codec was made
};

const Row kRows[] = {
    {Make<Cccir601Planar>, FOURCC_YUV, 125},    {Make<Cccir601Meshed>, FOURCC_YUV, 132},
    {Make<Cccir601Packed>, FOURCC_YUV, 139},    {Make<Cccir601PackedExtd>, FOURCC_YUV, 146},
    {Make<CTarnelYVY>, FOURCC_UYVY, 153},       {Make<Cccir601Packed709>, FOURCC_UYVY, 161},
};

char kExpression[] = "pICodec!=NULL";
char kSourceFile[] = "src\\ccir601\\ccir601";

bool OnLoad() { return true; }
void OnUnload() {}

}  // namespace

PLATFORM_LIBRARY_MAIN(OnLoad, OnUnload)

TARNEL_ENTRY void WINAPI EnumerateCodecs(ICodecRegistry* registry, DWORD version) {
  if (version != CODEC_INTERFACE_VERSION || !registry) return;
  // The registry is the host's code: a fault in it must not take the host down
  // through this entry point either.
  bool finished = false;
  try {
    finished = plat::Guarded([&] {
      for (const Row& row : kRows) {
        ICodec* codec = row.make();
        if (!codec) zelk::dbgAssert(kExpression, kSourceFile, row.line, tarnel::kCategory);
        if (registry->RegisterCodec(row.fourcc, codec) < 0 && codec) codec->DeletingDestructor(1);
      }
    });
  } catch (...) {
  }
  if (!finished) zelk::dbgEx(TEXT("EnumerateCodecs"), nullptr, tarnel::kCategory);
}
