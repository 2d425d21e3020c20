// qz names: decorated export names and the readable forms Dravel makes of them.
#include <algorithm>
#include <string>

#include "dravel.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz names NAME...\n"
    "\n"
    "Shows each decorated export NAME beside its readable form, as stack traces\n"
    "and address descriptions show it: \"_Sleep@4\" is \"__stdcall Sleep(4 byte(s))\",\n"
    "\"?Run@CFoo@@QAEHXZ\" is \"CFoo::Run(...)\", \"??1CFoo@@QAE@XZ\" is \"CFoo::~CFoo()\".\n"
    "A name that no rule fits is shown unchanged and marked so. Quote names that\n"
    "hold ? or @ from the shell. Names are read in the ANSI code page (Windows-1252).\n";

// Export names are bytes in the ANSI code page; the console wants UTF-8.
std::string Ansi(const plat::wstring& w) {
  std::string out(w.size() * 2 + 1, '\0');
  int n = w.empty() ? 0
                    : WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), &out[0], int(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? size_t(n) : 0);
  return out;
}

std::string Utf8FromAnsi(const char* s) {
  WCHAR wide[512];
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, wide, 512);
  return n > 0 ? plat::Utf8(wide) : std::string();
}

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("names", "no name given (qz names --help)");
  size_t width = 0;
  for (const plat::wstring& a : args) width = std::max(width, plat::Utf8(a).size());
  for (const plat::wstring& a : args) {
    const std::string name = Ansi(a);
    char text[256];
    const bool translated = TranslateExportedName(name.c_str(), text) != 0;
    qz::Out("%-*s  %s%s\n", int(width), plat::Utf8(a).c_str(), Utf8FromAnsi(text).c_str(),
            translated ? "" : "   (unchanged: no rule fits)");
  }
  return 0;
}

const qz::Register reg({"names", "show decorated export names in readable form", kUsage, Run});

}  // namespace
