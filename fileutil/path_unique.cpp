// A name that does not exist yet, made from one that does by putting a
// hexadecimal counter between the file name and its extension.
#include "path_internal.h"

namespace {

constexpr size_t kMaxExtension = 63;  // dot included

bool Exists(const WCHAR* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

FERROW_API BOOL WINAPI FU_CreateUniqueName(WCHAR* path) {
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, 1) || !parts.filename || !parts.extension) return 0;
  const size_t extLength = plat::WLen(parts.extension);
  if (extLength > kMaxExtension) return 0;
  if (!Exists(path)) return 1;

  WCHAR extension[kMaxExtension + 1];
  plat::WCopy(extension, kMaxExtension + 1, parts.extension);

  // The clock makes a first guess that is unlikely to be taken; counting up
  // from it finds a free name. Every one of the 2^32 counters is tried once at
  // most, so a directory that somehow answers "exists" to all cannot hang us.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  DWORD counter = now.dwLowDateTime;
  WCHAR* const dot = parts.extension;
  const size_t room = 8 + extLength + 1;
  for (ULONGLONG tries = 0; tries <= 0xFFFFFFFFull; ++tries, ++counter) {
    plat::FormatW(dot, room, TEXT("%x%s"), static_cast<unsigned>(counter), extension);
    if (!Exists(path)) return 1;
  }
  plat::WCopy(dot, extLength + 1, extension);
  return 0;
}
