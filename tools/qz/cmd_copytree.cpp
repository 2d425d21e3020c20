// qz copytree: the chosen entries of a directory (tree) with Ferrow's directory copy.
#include <string>
#include <vector>

#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz copytree [-r] SRC[/PATTERN] DSTDIR\n"
    "\n"
    "Copies the entries of the directory SRC whose names match PATTERN (a\n"
    "wildcard such as *.avi; *.* when SRC is a directory given alone) into\n"
    "DSTDIR, which is created when missing. Names starting with a dot are left\n"
    "out. Each file takes its source's times and attributes.\n"
    "\n"
    "  -r, --recursive   enter every subdirectory (also those whose names do not\n"
    "                    match) and keep the tree below SRC in DSTDIR\n"
    "\n"
    "A file that cannot be copied (another process holds it, say) is tried five\n"
    "times, half a second apart, then skipped; a directory that cannot be\n"
    "created stops the copy. Prints what was copied and what was not.\n"
    "Exit status 0 when everything chosen was copied, 1 otherwise.\n";

constexpr DWORD kEverything = FU_ENUM_EXCLUDE_ATTRIBUTES;  // with mask 0

bool EndsInSeparator(const plat::wstring& p) { return !p.empty() && (p.back() == '\\' || p.back() == '/'); }

// What the copy left: every chosen entry looked up at its destination.
struct Check {
  size_t sourceDirLength;
  plat::wstring destination;  // ends in "/"
  ULONGLONG files = 0, bytes = 0, dirs = 0;
  std::vector<std::string> missing;
};

bool HasWildcard(const WCHAR* name) {
  for (; *name; ++name)
    if (*name == '*' || *name == '?') return true;
  return false;
}

int WINAPI CheckEntry(const WIN32_FIND_DATAW* entry, const WCHAR* path, DWORD, void* context) {
  Check& c = *static_cast<Check*>(context);
  const plat::wstring rel = plat::WLen(path) >= c.sourceDirLength ? path + c.sourceDirLength : path;
  const plat::wstring target = c.destination + rel;
  if (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (FU_TestDirExists(target.c_str()))
      ++c.dirs;
    else
      c.missing.push_back(plat::Utf8(rel) + "/");
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  const bool same = GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data) &&
                    data.nFileSizeLow == entry->nFileSizeLow && data.nFileSizeHigh == entry->nFileSizeHigh &&
                    data.ftLastWriteTime.dwLowDateTime == entry->ftLastWriteTime.dwLowDateTime &&
                    data.ftLastWriteTime.dwHighDateTime == entry->ftLastWriteTime.dwHighDateTime;
  if (same) {
    ++c.files;
    c.bytes += (ULONGLONG(entry->nFileSizeHigh) << 32) | entry->nFileSizeLow;
  } else {
    c.missing.push_back(plat::Utf8(rel));
  }
  return 1;
}

int Run(const qz::Args& args) {
  DWORD flags = kEverything;
  bool optionsOver = false;
  qz::Args paths;
  for (const plat::wstring& a : args) {
    if (!optionsOver && a == TEXT("--"))
      optionsOver = true;
    else if (!optionsOver && (a == TEXT("-r") || a == TEXT("--recursive")))
      flags |= FU_ENUM_RECURSIVE;
    else if (!optionsOver && a.size() > 1 && a[0] == '-')
      return qz::Fail("copytree", "unknown option %s (qz copytree --help)", plat::Utf8(a).c_str());
    else
      paths.push_back(a);
  }
  if (paths.size() != 2) return qz::Fail("copytree", "give a source and a destination directory (qz copytree --help)");
  const std::string shownSource = plat::Utf8(paths[0]), shownDestination = plat::Utf8(paths[1]);

  // A directory given alone means all of it. Directories are created only on
  // absolute paths, so both are made absolute.
  plat::wstring source = paths[0];
  if (FU_TestDirExists(source.c_str())) {
    if (!EndsInSeparator(source)) source += '/';
    source += TEXT("*.*");
  }
  source = qz::FullPath(source);
  const WCHAR* pattern = FU_FindFilenameC(source.c_str());
  if (!pattern || !*pattern)
    return qz::Fail("copytree", "%s is not a directory with a pattern (such as clips/*.avi)", shownSource.c_str());
  const plat::wstring sourceDir(source.c_str(), pattern);
  if (!FU_TestDirExists(sourceDir.c_str()))
    return qz::Fail("copytree", "no directory %s", plat::Utf8(sourceDir).c_str());
  if (!HasWildcard(pattern) && !FU_TestFileExists(source.c_str()))
    return qz::Fail("copytree", "no such file or directory: %s", shownSource.c_str());
  plat::wstring destination = qz::FullPath(paths[1]);
  if (FU_TestFileExists(destination.c_str()) && !FU_TestDirExists(destination.c_str()))
    return qz::Fail("copytree", "%s is a file, not a directory", shownDestination.c_str());
  if (!EndsInSeparator(destination)) destination += '/';

  if (FU_PathCompare(sourceDir.c_str(), destination.c_str()) == 0) {
    qz::Out("%s is the source directory itself: nothing to copy\n", shownDestination.c_str());
    return 0;
  }
  if ((flags & FU_ENUM_RECURSIVE) && FU_IsPathContained(destination.c_str(), sourceDir.c_str()))
    return qz::Fail("copytree", "%s lies inside the source directory: a recursive copy would copy its own copy",
                    shownDestination.c_str());

  FU_ScanTotals totals = {};
  FU_ScanDir(source.c_str(), &totals, 0, flags);
  qz::Progress("copying %u file%s (%I64u bytes) and %u director%s...", totals.fileCount,
               totals.fileCount == 1 ? "" : "s", totals.totalBytes, totals.dirCount,
               totals.dirCount == 1 ? "y" : "ies");
  const BOOL copied = FU_CopyDirectory(source.c_str(), destination.c_str(), flags, 0);
  qz::ProgressDone();

  Check check{sourceDir.size(), destination, 0, 0, 0, {}};
  FU_EnumDirectory(CheckEntry, source.c_str(), 0, flags, &check);
  qz::Out("copied %I64u file%s (%I64u bytes) and %I64u director%s from %s to %s\n", check.files,
          check.files == 1 ? "" : "s", check.bytes, check.dirs, check.dirs == 1 ? "y" : "ies", shownSource.c_str(),
          shownDestination.c_str());
  for (const std::string& m : check.missing) qz::Out("  not copied: %s\n", m.c_str());
  if (copied) return 0;
  if (check.missing.empty())
    return qz::Fail("copytree", "the copy reported a failure (an entry changed while it was copied, or a path was too long)");
  return qz::Fail("copytree", "%u entr%s could not be copied (in use, read-only at the destination, or a path too long)",
                  unsigned(check.missing.size()), check.missing.size() == 1 ? "y" : "ies");
}

qz::Register reg({"copytree", "copy the chosen entries of a directory tree", kUsage, Run});

}  // namespace
