// qz stat: what Ferrow's file-system queries say about a path.
#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz stat PATH...\n"
    "\n"
    "For each PATH: whether it exists, file or directory, its size, its creation,\n"
    "last-access and last-write times (UTC, to even seconds; times before 1980 or\n"
    "after 2107 cannot be shown), the type of its drive, and the free and total\n"
    "space of the volume that holds it.\n"
    "\n"
    "Exit status 1 when any PATH does not exist.\n";

const char* DriveWord(UINT type) {
  switch (type) {
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_FIXED: return "fixed";
    case DRIVE_REMOTE: return "network";
    case DRIVE_CDROM: return "cd-rom";
    case DRIVE_RAMDISK: return "ram disk";
    default: return "unknown";
  }
}

// Natively full paths come back in POSIX form, and the root "/" is the drive
// C:; its type is asked of that spelling, as a Windows full path has it.
plat::wstring DriveSpelling(const plat::wstring& full) {
  return !full.empty() && full[0] == '/' ? TEXT("C:") + full : full;
}

std::string TimeText(const FILETIME& time) {
  WCHAR text[21];
  if (!FU_TranslateFileTime(&time, text)) return "(outside 1980..2107)";
  return plat::Utf8(text);
}

// A number with thousands separators, and the same in MB.
std::string Bytes(ULONGLONG n) {
  std::string digits = plat::FormatAS("%I64u", n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

bool Show(const plat::wstring& path, bool& printedBefore) {
  const std::string shown = plat::Utf8(path);
  if (!FU_TestFileExists(path.c_str()))
    return qz::Fail("stat", "%s: no such file or directory", shown.c_str()), false;
  const bool directory = FU_TestDirExists(path.c_str()) != 0;
  WIN32_FIND_DATAW record;
  const bool found = directory ? FU_GetDirInfo(path.c_str(), &record) : FU_GetFileInfo(path.c_str(), &record);
  ULARGE_INTEGER size = {};
  FU_GetFileSize(path.c_str(), &size);

  // The volume of a file is that of its directory; relative paths are made
  // full first, so that the drive shows.
  plat::wstring volume = qz::FullPath(path);
  if (!directory) {
    WCHAR dir[MAX_PATH * 2];
    if (plat::WCopy(dir, MAX_PATH * 2, volume.c_str()) && FU_RemoveFilename(dir) && dir[0]) volume = dir;
  }

  if (printedBefore) qz::Out("\n");
  printedBefore = true;
  qz::Out("%s\n", shown.c_str());
  qz::Out("  %-10s %s\n", "exists", "yes");
  qz::Out("  %-10s %s\n", "kind", directory ? "directory" : "file");
  if (!directory) qz::Out("  %-10s %s bytes\n", "size", Bytes(size.QuadPart).c_str());
  if (found) {
    qz::Out("  %-10s %s\n", "created", TimeText(record.ftCreationTime).c_str());
    qz::Out("  %-10s %s\n", "accessed", TimeText(record.ftLastAccessTime).c_str());
  }
  FILETIME written;
  if (FU_GetLastModifyTime(path.c_str(), &written)) qz::Out("  %-10s %s\n", "modified", TimeText(written).c_str());
  qz::Out("  %-10s %s\n", "drive", DriveWord(FU_GetDriveType(DriveSpelling(volume).c_str())));
  const ULONGLONG total = FU_GetDiskTotalAvailable(volume.c_str());
  if (total) {
    qz::Out("  %-10s %s bytes (%s MB)\n", "free", Bytes(FU_GetDiskFree(volume.c_str())).c_str(),
            Bytes(FU_GetDiskFreeMB(volume.c_str())).c_str());
    qz::Out("  %-10s %s bytes\n", "available", Bytes(FU_GetDiskAvailable(volume.c_str())).c_str());
    qz::Out("  %-10s %s bytes\n", "total", Bytes(total).c_str());
  } else {
    qz::Out("  %-10s (the system does not tell)\n", "space");
  }
  return true;
}

int Run(const qz::Args& args) {
  qz::Args paths;
  bool optionsOver = false;
  for (const plat::wstring& a : args) {
    if (!optionsOver && a == TEXT("--")) {
      optionsOver = true;
    } else if (!optionsOver && a.size() > 1 && a[0] == '-') {
      return qz::Fail("stat", "unknown option %s (qz stat --help)", plat::Utf8(a).c_str());
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return qz::Fail("stat", "no path given (qz stat --help)");
  int status = 0;
  bool printed = false;
  for (const plat::wstring& p : paths)
    if (!Show(p, printed)) status = 1;
  return status;
}

qz::Register reg({"stat", "show a path's kind, size, times, drive type and free space", kUsage, Run});

}  // namespace
