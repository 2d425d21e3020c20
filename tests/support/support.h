// What every test program of the suite shares: a temporary directory per test,
// wide-string helpers, and child processes (the test program started again with
// a role to play).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace testsupport {

using plat::wstring;

// A std::filesystem path as the suite's wide text, and back.
wstring W(const std::filesystem::path& p);
std::filesystem::path P(const wstring& w);

// A fresh directory under the system's temporary directory, removed with all it
// holds (read-only entries included) when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory, or a name inside it, as wide text with Windows separators.
  wstring Wide() const;
  wstring Wide(const wstring& name) const;
  wstring Wide(const char* name) const { return Wide(plat::Wide(name)); }

 private:
  std::filesystem::path path_;
};

// Writes bytes to a file (replacing it); reads a whole file. For test set-up only.
void WriteBytes(const std::filesystem::path& p, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& p);

// True when faults on purpose must not happen in this build (sanitizers own the signals).
constexpr bool kSanitized =
#ifdef QZ_SANITIZED
    true;
#else
    false;
#endif

// ---- child processes ----
// A role is a function the test program runs instead of its tests when it is
// started as `program --child ROLE ARGS...`. Its result is the exit code.
using ChildRole = int (*)(const std::vector<wstring>& args);
struct RegisterChildRole {
  RegisterChildRole(const char* name, ChildRole role);
};
#define QZ_CHILD_ROLE(name)                                                                    \
  static int ChildRole_##name(const std::vector<::testsupport::wstring>& args);                \
  static ::testsupport::RegisterChildRole g_childRole_##name(#name, ChildRole_##name);         \
  static int ChildRole_##name([[maybe_unused]] const std::vector<::testsupport::wstring>& args)

// Runs the role if the command line names one; returns true and sets `exitCode` then.
bool RunChildRoleIfAsked(int argc, char** argv, int& exitCode);

}  // namespace testsupport

namespace testsupport {

// A running child: this test program started again as `--child ROLE ARGS...`.
class Child {
 public:
  Child(const char* role, const std::vector<wstring>& args = {});
  ~Child();  // ends the child if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pi_.hProcess != nullptr; }
  // Waits up to `ms` milliseconds; returns the exit code, or -1 on time-out.
  long Wait(DWORD ms = 60000);
  // Ends the child at once (SIGKILL natively, TerminateProcess on win32).
  void Kill();

 private:
  PROCESS_INFORMATION pi_ = {};
  bool done_ = false;
};

// Starts a child and waits for it; returns its exit code (-1 on time-out).
long RunChild(const char* role, const std::vector<wstring>& args = {}, DWORD ms = 60000);

// ---- a process that dies part-way (crash.cpp) ----
// Calls that change a file are counted: WriteFile, SetEndOfFile,
// FlushFileBuffers, CreateFileW that may create or truncate, DeleteFileW,
// MoveFileW and MoveFileExW. The n-th from now ends the process with exit
// code kCrashed instead of taking place, after a WriteFile's first `keep`
// bytes reached the file. Natively this is the platform's hook and counts the
// calls of the whole process; on win32 the calls that pellam.dll and
// ferrow.dll import are wrapped, in this process only.
constexpr int kCrashed = 86;
void CrashAtCall(ULONGLONG n, DWORD keep = 0);
ULONGLONG FileChangingCalls();

}  // namespace testsupport
