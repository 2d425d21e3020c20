// qz, the command-line host of the suite: shared pieces of its subcommands.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace qz {

using Args = std::vector<plat::wstring>;

struct Command {
  const char* name;
  const char* summary;  // one line for `qz --help`
  const char* usage;    // the text of `qz NAME --help`
  int (*run)(const Args& args);  // args after the command's name; returns the exit status
};

// Each command file registers itself with one of these at namespace scope.
struct Register {
  explicit Register(const Command& command);
};

const std::vector<Command>& Commands();
// The command of that name, or nullptr.
const Command* FindCommand(const char* name);

// Output: UTF-8 text to stdout, messages to stderr. Fail() prints
// "qz NAME: message" on stderr and returns 1, for `return Fail(...)`.
void Out(const char* fmt, ...);
void OutW(const WCHAR* fmt, ...);
int Fail(const char* command, const char* fmt, ...);
// Progress on stderr: a line that rewrites itself; Done() ends it.
void Progress(const char* fmt, ...);
void ProgressDone();

// The absolute form of a path ("." and ".." resolved), or the path as given
// when it cannot be made absolute. Ferrow makes directories only on absolute paths.
plat::wstring FullPath(const plat::wstring& path);

// The size and attributes of an entry; false when there is none.
bool Stat(const plat::wstring& path, ULONGLONG& size, DWORD& attributes);

// Why a file could not be opened, from the error of the attempt.
const char* WhyNotOpened(DWORD error);
// A whole file's bytes (up to 1 GiB); false with the reason in `why`.
bool ReadWholeFile(const plat::wstring& path, std::string& bytes, std::string& why);

// True when the argument asks for help.
bool IsHelp(const plat::wstring& arg);

// Ctrl-C: after InstallInterrupt, Interrupted() turns true at the first interrupt
// instead of ending the process (long work checks it and cleans up).
void InstallInterrupt();
bool Interrupted();

}  // namespace qz
