// qz scan: counting (and listing) what a directory walk finds.
#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz scan [-r] [--dirs-last] [--list] DIR|DIR\\PATTERN\n"
    "\n"
    "Counts the directories and files of DIR that match PATTERN (all of them when\n"
    "only DIR is given) and adds up the sizes of the files. Names that begin\n"
    "with a dot are neither counted nor entered.\n"
    "\n"
    "  -r, --recursive   walk every subdirectory too, whatever its name\n"
    "  --dirs-last       list a directory after its contents\n"
    "  --list            list each entry with its size before the totals\n"
    "\n"
    "PATTERN takes \"*\" and \"?\"; a \"*\" stands for the characters up to the first\n"
    "occurrence of the one behind it (\"*.txt\" does not match \"a.b.txt\").\n"
    "Exit status 1 when the directory does not exist or the walk fails.\n";

int WINAPI ListEntry(const WIN32_FIND_DATAW* entry, const WCHAR* path, DWORD, void*) {
  const std::string shown = plat::Utf8(path);
  if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    qz::Out("%15s  %s\n", "<dir>", shown.c_str());
  } else {
    const ULONGLONG size = (static_cast<ULONGLONG>(entry->nFileSizeHigh) << 32) | entry->nFileSizeLow;
    qz::Out("%15I64u  %s\n", size, shown.c_str());
  }
  return qz::Interrupted() ? 0 : 1;
}

int Run(const qz::Args& args) {
  DWORD flags = FU_ENUM_EXCLUDE_ATTRIBUTES;
  bool list = false, optionsOver = false;
  qz::Args paths;
  for (const plat::wstring& a : args) {
    if (!optionsOver && a == TEXT("--")) {
      optionsOver = true;
    } else if (!optionsOver && (a == TEXT("-r") || a == TEXT("--recursive"))) {
      flags |= FU_ENUM_RECURSIVE;
    } else if (!optionsOver && a == TEXT("--dirs-last")) {
      flags |= FU_ENUM_DIRS_LAST;
    } else if (!optionsOver && a == TEXT("--list")) {
      list = true;
    } else if (!optionsOver && a.size() > 1 && a[0] == '-') {
      return qz::Fail("scan", "unknown option %s (qz scan --help)", plat::Utf8(a).c_str());
    } else {
      paths.push_back(a);
    }
  }
  if (paths.size() != 1) return qz::Fail("scan", "give one DIR or DIR\\PATTERN (qz scan --help)");

  // A directory alone is scanned whole; otherwise the last component is the pattern.
  plat::wstring path = paths[0];
  if (FU_TestDirExists(path.c_str())) {
    FU_FormatPath(&path[0], 0);
    path.resize(plat::WLen(path.c_str()));
    // Joined with the separator the user wrote.
    const bool forward = path.find('/') != plat::wstring::npos && path.find('\\') == plat::wstring::npos;
    path += forward ? TEXT("/*") : TEXT("\\*");
  }
  const WCHAR* pattern = FU_FindLastSeparatorC(path.c_str());
  const plat::wstring dir = pattern ? path.substr(0, static_cast<size_t>(pattern - path.c_str()) + 1) : plat::wstring();
  if (!pattern || !pattern[1]) return qz::Fail("scan", "%s names no pattern", plat::Utf8(path).c_str());
  // The walk answers a missing directory with an empty success; a user wants to hear of it.
  if (!dir.empty() && !FU_TestDirExists(dir.c_str()))
    return qz::Fail("scan", "%s: no such directory", plat::Utf8(dir).c_str());

  qz::InstallInterrupt();
  if (list && !FU_EnumDirectory(ListEntry, path.c_str(), 0, flags, nullptr))
    return qz::Fail("scan", qz::Interrupted() ? "interrupted" : "the listing of %s failed", plat::Utf8(path).c_str());
  FU_ScanTotals totals;
  if (!FU_ScanDir(path.c_str(), &totals, 0, flags))
    return qz::Fail("scan", "%s cannot be walked (is it a well-formed path?)", plat::Utf8(path).c_str());
  qz::Out("%lu director%s, %lu file%s, %I64u bytes\n", totals.dirCount, totals.dirCount == 1 ? "y" : "ies",
          totals.fileCount, totals.fileCount == 1 ? "" : "s", totals.totalBytes);
  return 0;
}

qz::Register reg({"scan", "count (and list) the directories and files a walk finds", kUsage, Run});

}  // namespace
