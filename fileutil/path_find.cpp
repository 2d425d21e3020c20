// Finding and copying single components of a path, and the plain scans that
// other functions use to cut a path in place.
#include "path_internal.h"

namespace {

using ferrow::IsSeparator;

// Each find function parses into a record of its own, on the stack.
WCHAR* Field(const WCHAR* path, int fileFlag, WCHAR* FU_PathParts::*field) {
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, fileFlag)) return nullptr;
  return parts.*field;
}

// The component chosen by index as a half-open range; false for an index
// without one. The extension runs to the terminator.
bool Range(const FU_PathParts& parts, UINT index, const WCHAR*& from, const WCHAR*& to) {
  switch (index) {
    case 1: from = parts.prefix; to = parts.prefixEnd; return true;
    case 2: from = parts.protocol; to = parts.protocolEnd; return true;
    case 3: from = parts.host; to = parts.hostEnd; return true;
    case 4: from = parts.localInfo; to = parts.localInfoEnd; return true;
    case 5: from = parts.filename; to = parts.filenameEnd; return true;
    case 6: from = parts.extension; to = nullptr; return true;
    default: return false;
  }
}

}  // namespace

FERROW_API WCHAR* WINAPI FU_FindProtocol(WCHAR* path, int fileFlag) {
  return Field(path, fileFlag, &FU_PathParts::protocol);
}
FERROW_API const WCHAR* WINAPI FU_FindProtocolC(const WCHAR* path, int fileFlag) {
  return Field(path, fileFlag, &FU_PathParts::protocol);
}
FERROW_API WCHAR* WINAPI FU_FindHost(WCHAR* path, int fileFlag) {
  return Field(path, fileFlag, &FU_PathParts::host);
}
FERROW_API const WCHAR* WINAPI FU_FindHostC(const WCHAR* path, int fileFlag) {
  return Field(path, fileFlag, &FU_PathParts::host);
}
FERROW_API WCHAR* WINAPI FU_FindLocalInfo(WCHAR* path, int fileFlag) {
  return Field(path, fileFlag, &FU_PathParts::localInfo);
}
FERROW_API const WCHAR* WINAPI FU_FindLocalInfoC(const WCHAR* path, int fileFlag) {
  return Field(path, fileFlag, &FU_PathParts::localInfo);
}
FERROW_API WCHAR* WINAPI FU_FindFilename(WCHAR* path) {
  return Field(path, 1, &FU_PathParts::filename);
}
FERROW_API const WCHAR* WINAPI FU_FindFilenameC(const WCHAR* path) {
  return Field(path, 1, &FU_PathParts::filename);
}
FERROW_API WCHAR* WINAPI FU_FindExtension(WCHAR* path) {
  return Field(path, 1, &FU_PathParts::extension);
}
FERROW_API const WCHAR* WINAPI FU_FindExtensionC(const WCHAR* path) {
  return Field(path, 1, &FU_PathParts::extension);
}

FERROW_API const WCHAR* WINAPI FU_FindLastSeparatorC(const WCHAR* path) {
  const WCHAR* last = nullptr;
  if (!plat::Guarded([&] {
        if (!path) return;
        for (const WCHAR* p = path; *p; ++p)
          if (IsSeparator(*p) || *p == ':') last = p;
      }))
    return nullptr;
  return last;
}

FERROW_API WCHAR* WINAPI FU_FindLastSeparator(WCHAR* path) {
  return const_cast<WCHAR*>(FU_FindLastSeparatorC(path));
}

FERROW_API WCHAR* WINAPI FU_FindNextSlash(const WCHAR* p) {
  const WCHAR* found = nullptr;
  if (!plat::Guarded([&] {
        if (!p) return;
        for (const WCHAR* q = p; *q; ++q)
          if (IsSeparator(*q)) {
            found = q;
            return;
          }
      }))
    return nullptr;
  return const_cast<WCHAR*>(found);
}

FERROW_API BOOL WINAPI FU_GetComponent(const FU_PathParts* parts, WCHAR* out, UINT index) {
  if (index > 6 || !out) return 0;
  BOOL result = 0;
  if (!plat::Guarded([&] {
        out[0] = 0;
        if (index == 0) {
          result = 1;
          return;
        }
        const WCHAR* from = nullptr;
        const WCHAR* to = nullptr;
        if (!parts || !Range(*parts, index, from, to) || !from) return;
        WCHAR* o = out;
        if (to) {
          for (const WCHAR* p = from; p < to; ++p) *o++ = *p;
        } else {
          for (const WCHAR* p = from; *p; ++p) *o++ = *p;
        }
        *o = 0;
        result = 1;
      }))
    return 0;
  return result;
}

FERROW_API BOOL WINAPI FU_GetPathComponent(const WCHAR* path, WCHAR* out, UINT index, DWORD) {
  if (index > 6) return 0;
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, 1)) return 0;
  return FU_GetComponent(&parts, out, index);
}
