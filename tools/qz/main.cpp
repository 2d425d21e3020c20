// qz: the command-line host of the suite. `qz COMMAND ARGS...`; `qz --help`.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "qz.h"
#include "version.h"

namespace qz {

namespace {
std::vector<Command>& Table() {
  static std::vector<Command> table;
  return table;
}

void Usage(FILE* to) {
  std::fprintf(to, "usage: qz COMMAND [ARGS...]\n       qz COMMAND --help\n       qz --version\n\ncommands:\n");
  for (const Command& c : Commands()) std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
}

Args CommandLine() {
  Args args;
  int n = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
  for (int i = 1; wide && i < n; ++i) args.emplace_back(wide[i]);
  LocalFree(wide);
  return args;
}
}  // namespace

Register::Register(const Command& command) {
  Table().push_back(command);
  std::sort(Table().begin(), Table().end(),
            [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
}

const std::vector<Command>& Commands() { return Table(); }

const Command* FindCommand(const char* name) {
  for (const Command& c : Table())
    if (std::strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

}  // namespace qz

int main() {
  qz::Args args = qz::CommandLine();
  if (args.empty()) {
    qz::Usage(stderr);
    return 1;
  }
  if (args[0] == TEXT("--version")) {
    std::printf("qz " QZ_VERSION "\n");
    return 0;
  }
  if (qz::IsHelp(args[0]) || args[0] == TEXT("help")) {
    qz::Usage(stdout);
    return 0;
  }
  std::string name = plat::Utf8(args[0]);
  const qz::Command* c = qz::FindCommand(name.c_str());
  if (!c) {
    std::fprintf(stderr, "qz: no command '%s' (qz --help lists them)\n", name.c_str());
    return 1;
  }
  qz::Args rest(args.begin() + 1, args.end());
  if (!rest.empty() && qz::IsHelp(rest[0])) {
    std::fputs(c->usage, stdout);
    return 0;
  }
  int status = c->run(rest);
  std::fflush(stdout);
  return status;
}
