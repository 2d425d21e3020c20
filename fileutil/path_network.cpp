// Paths on mapped network drives: the network name behind a drive letter, and
// a drive path rewritten into its network form.
#include "path_internal.h"

FERROW_API BOOL WINAPI FU_GetDriveUNCReplacement(DWORD driveLetter, WCHAR* out) {
  if (!out) return 0;
  out[0] = 0;
  // Only a letter names a drive; anything else would ask the system about a
  // root such as "1:\" or "\0:\".
  const DWORD upper = (driveLetter >= 'a' && driveLetter <= 'z') ? driveLetter - 'a' + 'A' : driveLetter;
  if (upper < 'A' || upper > 'Z') return 0;
  WCHAR root[4];
  plat::FormatW(root, 4, TEXT("%c:\\"), static_cast<int>(upper));

  // A disconnected network drive reports no root directory; it still has a name.
  const UINT type = GetDriveTypeW(root);
  if (type != DRIVE_REMOTE && type != DRIVE_NO_ROOT_DIR) return 0;

  // 260 bytes, not characters: the name service fills the record and the
  // strings it points to into this one block.
  union {
    UNIVERSAL_NAME_INFOW info;
    BYTE bytes[260];
  } buffer;
  DWORD size = sizeof buffer.bytes;
  if (WNetGetUniversalNameW(root, UNIVERSAL_NAME_INFO_LEVEL, &buffer, &size) != NO_ERROR) return 0;
  if (!buffer.info.lpUniversalName || !plat::WCopy(out, MAX_PATH, buffer.info.lpUniversalName)) {
    out[0] = 0;
    return 0;
  }
  return 1;
}

FERROW_API BOOL WINAPI FU_UNCFormatMappedPath(WCHAR* path, int fileFlag) {
  FU_PathParts parts;
  if (!ferrow::ParsePath(path, parts, fileFlag) || !parts.localInfo) return 0;
  if (parts.host || !parts.protocol || parts.protocolEnd - parts.protocol > 2) return 1;
  // "X:clips" is relative to the drive's current directory, which has no
  // network form; dropping its first character would name another place.
  if (!ferrow::IsSeparator(*parts.localInfo)) return 0;

  WCHAR unc[MAX_PATH];
  if (!FU_GetDriveUNCReplacement(*parts.protocol, unc)) return 0;
  // The network name ends with the separator the root carried; the local part
  // goes on behind it without its own leading separator.
  const WCHAR* rest = parts.localInfo + 1;
  if (plat::WLen(unc) + plat::WLen(rest) > MAX_PATH - 1) return 0;
  plat::WAppend(unc, MAX_PATH, rest);
  plat::WCopy(path, MAX_PATH, unc);
  return 1;
}
