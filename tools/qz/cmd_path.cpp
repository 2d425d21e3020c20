// qz path: how Ferrow reads a path, component by component.
#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz path [-d] PATH...\n"
    "\n"
    "Shows how each PATH splits into its components: prefix (\\\\?\\ or \\\\.\\),\n"
    "protocol or drive, host, local part, file name and extension.\n"
    "\n"
    "  -d, --directory   read the paths as directories (the local part then\n"
    "                    holds the last name; a trailing separator is allowed)\n"
    "  --                every argument after this is a path\n"
    "\n"
    "Paths are read as files by default: a file path needs a name after its\n"
    "last separator. Exit status 1 when any path does not parse.\n";

// Text that blanks would hide, or that is empty, is shown in quotes.
std::string Shown(const WCHAR* from, const WCHAR* to) {
  std::string text = plat::Utf8(from, static_cast<size_t>(to - from));
  if (text.empty() || text.front() == ' ' || text.back() == ' ') return "\"" + text + "\"";
  return text;
}

void Line(const char* label, const WCHAR* from, const WCHAR* to) {
  if (!from) return;
  if (!to) to = from + plat::WLen(from);
  qz::Out("  %-10s %s\n", label, Shown(from, to).c_str());
}

// Prints the parse of one path; false (with a message) when it does not parse.
// Blocks of output are kept apart by one empty line.
bool Show(const plat::wstring& path, bool directory, bool& printedBefore) {
  const int fileFlag = directory ? 0 : 1;
  FU_PathParts parts;
  if (!FU_ParsePath(path.c_str(), &parts, fileFlag)) {
    const char* hint = "";
    if (FU_ParsePath(path.c_str(), &parts, !fileFlag))
      hint = directory ? " (it does as a file path)" : " (it does as a directory: qz path -d)";
    qz::Fail("path", "%s does not parse as a %s%s", Shown(path.data(), path.data() + path.size()).c_str(),
             directory ? "directory" : "file path", hint);
    return false;
  }
  if (printedBefore) qz::Out("\n");
  printedBefore = true;
  qz::Out("%s\n", Shown(path.data(), path.data() + path.size()).c_str());
  Line("prefix", parts.prefix, parts.prefixEnd);
  // One character before the colon is a drive letter; more make a protocol.
  Line(parts.protocolEnd - parts.protocol == 2 ? "drive" : "protocol", parts.protocol, parts.protocolEnd);
  Line("host", parts.host, parts.hostEnd);
  Line("local", parts.localInfo, parts.localInfoEnd);
  Line("file name", parts.filename, parts.filenameEnd);
  Line("extension", parts.extension, nullptr);
  return true;
}

int Run(const qz::Args& args) {
  bool directory = false;
  bool optionsOver = false;
  qz::Args paths;
  for (const plat::wstring& a : args) {
    if (!optionsOver && a == TEXT("--")) {
      optionsOver = true;
    } else if (!optionsOver && (a == TEXT("-d") || a == TEXT("--directory"))) {
      directory = true;
    } else if (!optionsOver && a.size() > 1 && a[0] == '-') {
      return qz::Fail("path", "unknown option %s (qz path --help)", plat::Utf8(a).c_str());
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return qz::Fail("path", "no path given (qz path --help)");
  int status = 0;
  bool printed = false;
  for (const plat::wstring& p : paths)
    if (!Show(p, directory, printed)) status = 1;
  return status;
}

qz::Register reg({"path", "show how paths split into prefix, drive, host, folders, name", kUsage, Run});

}  // namespace
