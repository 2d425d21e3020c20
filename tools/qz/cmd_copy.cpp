// qz copy: one file with Ferrow's copy, a progress bar, and Ctrl-C to cancel.
#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz copy SRC DST\n"
    "\n"
    "Copies the file SRC to DST through Ferrow's 64 KiB copy, with a progress\n"
    "bar. The copy takes SRC's times and attributes (read-only included); DST's\n"
    "missing directories are created, and an existing DST file is replaced. When\n"
    "DST is an existing directory, the copy goes into it under SRC's name.\n"
    "\n"
    "Ctrl-C cancels the copy and removes what was written of DST. A file is never\n"
    "copied onto itself. Exit status 0 when the copy is complete, 1 otherwise.\n";

const char* Cause(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case ERROR_PATH_NOT_FOUND: return "no such directory";
    case ERROR_ACCESS_DENIED: return "access denied (read-only, or a directory in the way)";
    case ERROR_SHARING_VIOLATION: return "the file is in use by another process";
    case ERROR_LOCK_VIOLATION: return "part of the file is locked by another process";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "the disk is full";
    case ERROR_HANDLE_EOF: return "the source shrank while it was copied";
    case ERROR_INVALID_NAME: return "the name is not valid";
    case ERROR_FILENAME_EXCED_RANGE: return "the name is too long";
    default: return "the system refused it";
  }
}

struct Bar {
  std::string name;
  int shown = -1;
};

int WINAPI OnProgress(const WCHAR*, const WCHAR*, int percent, void* context) {
  if (qz::Interrupted()) return 0;
  auto* bar = static_cast<Bar*>(context);
  if (percent != bar->shown) {
    bar->shown = percent;
    char cells[31];
    int full = percent * 30 / 100;
    for (int i = 0; i < 30; ++i) cells[i] = i < full ? '#' : '.';
    cells[30] = 0;
    qz::Progress("%s [%s] %3d%%", bar->name.c_str(), cells, percent);
  }
  return 1;
}

int Run(const qz::Args& args) {
  qz::Args paths;
  bool optionsOver = false;
  for (const plat::wstring& a : args) {
    if (!optionsOver && a == TEXT("--"))
      optionsOver = true;
    else if (!optionsOver && a.size() > 1 && a[0] == '-')
      return qz::Fail("copy", "unknown option %s (qz copy --help)", plat::Utf8(a).c_str());
    else
      paths.push_back(a);
  }
  if (paths.size() != 2) return qz::Fail("copy", "give a source and a destination (qz copy --help)");
  // Ferrow creates missing directories only on absolute paths.
  const plat::wstring source = qz::FullPath(paths[0]);
  plat::wstring destination = qz::FullPath(paths[1]);
  const std::string src = plat::Utf8(paths[0]);

  DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return qz::Fail("copy", "%s: %s", src.c_str(), Cause(GetLastError()));
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return qz::Fail("copy", "%s is a directory (qz copytree copies directories)", src.c_str());
  plat::wstring shown = paths[1];
  if (FU_TestDirExists(destination.c_str())) {
    const WCHAR* name = FU_FindFilenameC(source.c_str());
    if (!name || !*name) return qz::Fail("copy", "%s has no file name to copy under", src.c_str());
    if (destination.back() != '\\' && destination.back() != '/') destination += '/';
    destination += name;
    shown = paths[1];
    if (shown.back() != '\\' && shown.back() != '/') shown += '/';
    shown += name;
  }
  const std::string dst = plat::Utf8(shown);

  qz::InstallInterrupt();
  Bar bar;
  const WCHAR* shortName = FU_FindFilenameC(source.c_str());
  bar.name = plat::Utf8(shortName && *shortName ? shortName : source.c_str());
  BOOL copied = FU_CopyFileProgress(source.c_str(), &destination[0], OnProgress, &bar);
  DWORD error = GetLastError();
  qz::ProgressDone();
  if (!copied) {
    if (qz::Interrupted()) return qz::Fail("copy", "interrupted: %s was not copied, nothing left at %s", src.c_str(), dst.c_str());
    if (FU_PathCompare(source.c_str(), destination.c_str()) == 0 || error == ERROR_INVALID_PARAMETER)
      return qz::Fail("copy", "%s and %s are the same file", src.c_str(), dst.c_str());
    return qz::Fail("copy", "cannot copy %s to %s: %s (error %u)", src.c_str(), dst.c_str(), Cause(error), error);
  }
  ULONGLONG size = 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &data))
    size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  qz::Out("copied %s to %s (%I64u bytes)\n", src.c_str(), dst.c_str(), size);
  return 0;
}

qz::Register reg({"copy", "copy a file with progress (Ctrl-C cancels)", kUsage, Run});

}  // namespace
