#include "support.h"

namespace testsupport {

namespace {
// Quotes an argument for a Windows command line (CommandLineToArgvW rules).
wstring Quote(const wstring& arg) {
  wstring out = TEXT("\"");
  size_t backslashes = 0;
  for (WCHAR c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + TEXT("\"");
}
}  // namespace

Child::Child(const char* role, const std::vector<wstring>& args) {
  WCHAR self[1024];
  DWORD n = GetModuleFileNameW(nullptr, self, 1024);
  if (n == 0 || n >= 1024) return;
  wstring line = Quote(self) + TEXT(" --child ") + plat::Wide(role);
  for (const wstring& a : args) line += TEXT(" ") + Quote(a);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  if (!CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) pi_ = {};
}

long Child::Wait(DWORD ms) {
  if (!pi_.hProcess) return -1;
  if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(pi_.hProcess, &code);
  done_ = true;
  return static_cast<long>(code);
}

void Child::Kill() {
  if (pi_.hProcess && !done_ && WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
  if (pi_.hProcess) WaitForSingleObject(pi_.hProcess, 60000);
  done_ = true;
}

Child::~Child() {
  if (!pi_.hProcess) return;
  if (!done_ && WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 99);
  CloseHandle(pi_.hProcess);
  CloseHandle(pi_.hThread);
}

long RunChild(const char* role, const std::vector<wstring>& args, DWORD ms) {
  Child child(role, args);
  return child.Wait(ms);
}

}  // namespace testsupport
