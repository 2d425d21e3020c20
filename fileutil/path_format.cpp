// Rewriting a path in the caller's buffer: separators, the trailing separator,
// cutting at the extension, the file name or the root, and repairing
// characters that no path may hold.
#include "path_internal.h"

using ferrow::IsSeparator;

FERROW_API WCHAR* WINAPI FU_FormatSlashes(WCHAR* path, WCHAR separator) {
  if (!path || !IsSeparator(separator)) return path;
  plat::Guarded([&] {
    for (WCHAR* p = path; *p; ++p)
      if (IsSeparator(*p)) *p = separator;
  });
  return path;
}

FERROW_API WCHAR* WINAPI FU_FormatPath(WCHAR* path, WCHAR separator) {
  if (!path) return nullptr;
  if (!plat::Guarded([&] {
        if (!*path) return;
        WCHAR* p = path + plat::WLen(path) - 1;
        while (p > path && *p == ' ') --p;
        if (IsSeparator(*p)) {
          // Separator 0 cuts here, trailing blanks and all.
          *p = separator;
        } else if (separator) {
          p[1] = separator;
          p[2] = 0;
        }
      }))
    return nullptr;
  return path;
}

namespace {

// Writes a terminator at `at` (a pointer into a parsed path) under the guard,
// for buffers that can be read but not written.
BOOL CutAt(WCHAR* at) {
  if (!at) return 1;
  return plat::Guarded([&] { *at = 0; }) ? 1 : 0;
}

}  // namespace

FERROW_API BOOL WINAPI FU_RemoveExtension(WCHAR* path) {
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, 1)) return 0;
  return CutAt(parts.extension);
}

FERROW_API BOOL WINAPI FU_RemoveFilename(WCHAR* path) {
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, 1)) return 0;
  return CutAt(parts.filename);
}

FERROW_API BOOL WINAPI FU_StripToRootPathName(WCHAR* path, int fileFlag) {
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, fileFlag)) return 0;
  if (!parts.host) return parts.protocol ? CutAt(parts.protocolEnd) : 0;
  // A host path's local part begins with the separator that ends the host name.
  if (!parts.localInfo) return 0;
  return CutAt(FU_FindNextSlash(parts.localInfo));
}

FERROW_API BOOL WINAPI FU_ValidatePath(WCHAR* path, int fileFlag) {
  if (!path) return 0;
  if (!plat::Guarded([&] {
        bool colonSeen = false;
        for (WCHAR* p = path; *p; ++p) {
          const WCHAR c = *p;
          if (c == ':') {
            if (colonSeen) *p = '_';
            colonSeen = true;
          } else if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') {
            *p = '_';
          }
        }
      }))
    return 0;
  FU_PathParts parts;
  return ferrow::ParsePath(path, parts, fileFlag) ? 1 : 0;
}

FERROW_API BOOL WINAPI FU_IsValidName(const WCHAR* name) {
  if (!name) return 0;
  for (const WCHAR* p = name; *p; ++p) {
    switch (*p) {
      case '\\': case '/': case ':': case '?': case '"': case '<': case '>': case '|':
        return 0;
      default:
        break;
    }
  }
  return 1;
}
