// qz dump: a dump file's text, as UTF-8 with the line ends of the console.
#include <string>

#include "dumpfile.h"

namespace qz {

bool ShowDumpFile(const char* command, const plat::wstring& path) {
  const std::string name = plat::Utf8(path);
  std::string bytes, why;
  if (!ReadWholeFile(path, bytes, why)) {
    Fail(command, "%s: %s", name.c_str(), why.c_str());
    return false;
  }
  if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
    Fail(command, "%s: not a dump file (%s)", name.c_str(),
         bytes.empty() ? "it is empty" : "it does not start with the UTF-16 byte-order mark FF FE");
    return false;
  }
  // UTF-16 units after the mark; CR LF and a lone CR both end a line.
  plat::wstring text;
  text.reserve(bytes.size() / 2);
  bool afterCr = false;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    WCHAR c = static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (c == '\n' && afterCr) {
      afterCr = false;
      continue;
    }
    afterCr = c == '\r';
    text += afterCr ? WCHAR('\n') : c;
  }
  const std::string out = plat::Utf8(text);
  Out("%s", out.c_str());
  if (!out.empty() && out.back() != '\n') Out("\n");
  return true;
}

}  // namespace qz

namespace {

const char kUsage[] =
    "usage: qz dump FILE...\n"
    "\n"
    "Shows the text of each dump file (what dmp_printf wrote while the file was\n"
    "open, stack traces among it) as UTF-8 text. A dump file is UTF-16 text that\n"
    "starts with the byte-order mark FF FE; anything else is refused.\n"
    "Exit status 1 when a file cannot be read or is no dump file.\n";

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("dump", "no file given (qz dump --help)");
  int status = 0;
  for (const plat::wstring& path : args)
    if (!qz::ShowDumpFile("dump", path)) status = 1;
  return status;
}

const qz::Register reg({"dump", "show a dump file as text", kUsage, Run});

}  // namespace
