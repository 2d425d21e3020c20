// qz trace: Dravel's stack walker at work. The trace goes to a dump file
// (a temporary one unless --dump names it), which is then shown: qz's own
// call stack, or with --fault the trace that the unhandled-exception filter of
// a child qz writes when the child faults. The functions the walk starts in
// are exported, so that the trace can name them, and keep frame pointers
// (see CMakeLists.txt).
#include <string>

#include "dravel.h"
#include "dumpfile.h"
#include "qz.h"

#ifdef _WIN32
#define QZ_TRACED extern "C"  // exported by trace.def, under decorated names
#else
#define QZ_TRACED extern "C" __attribute__((visibility("default")))
#endif

QZ_TRACED int WINAPI QzTraceOuter(int fault);
QZ_TRACED int WINAPI QzTraceInner(int fault);

namespace {

const char kUsage[] =
    "usage: qz trace [--fault] [--dump FILE]\n"
    "\n"
    "Prints a stack trace made by Dravel's walker over the chain of saved frame\n"
    "pointers, one frame a line: the code address, its module and offset, the\n"
    "frame's first argument words, and the nearest exported functions around it.\n"
    "\n"
    "  (no option)   the call stack of qz itself, from inside QzTraceInner\n"
    "  --fault       starts a child qz that faults in QzTraceInner and prints the\n"
    "                trace its unhandled-exception filter writes\n"
    "  --dump FILE   the trace goes to this dump file (appended, and kept);\n"
    "                otherwise to a temporary one that is removed afterwards\n"
    "\n"
    "Exit status 1 when no trace could be made (or, with --fault, when the child\n"
    "did not end by its fault).\n";

// An address inside the caller, for a walk that starts there.
__attribute__((noinline)) DRAVEL_ADDRESS Here() {
  return reinterpret_cast<DRAVEL_ADDRESS>(__builtin_return_address(0));
}

// The child's filter: the fault's code and address, the trace, then the dump
// file closed, because a process that ends by its fault unloads nothing.
LONG WINAPI OnFault(EXCEPTION_POINTERS* info) {
  dmp_printf(0, 0, TEXT("\rqz trace: exception %08X at %p\n"), info->ExceptionRecord->ExceptionCode,
             info->ExceptionRecord->ExceptionAddress);
  TraceOutException(info, DRAVEL_MAX_FRAMES, nullptr);
  dmp_output(nullptr);
  return EXCEPTION_EXECUTE_HANDLER;
}

plat::wstring TempDump() {
  WCHAR dir[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, dir);
  if (n == 0 || n >= MAX_PATH) return plat::wstring();
  return plat::wstring(dir) + plat::Wide("qz-trace-" + std::to_string(GetCurrentProcessId()) + ".dmp");
}

bool Exists(const plat::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Starts `qz trace --child DUMP` and waits for it; the exit code, or -1.
long RunChild(const plat::wstring& dump) {
  WCHAR self[1024];
  DWORD n = GetModuleFileNameW(nullptr, self, 1024);
  if (n == 0 || n >= 1024) return -1;
  // Paths hold no quotes and a file path ends in no backslash: quotes suffice.
  plat::wstring line = TEXT("\"") + plat::wstring(self) + TEXT("\" trace --child \"") + dump + TEXT("\"");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 1);
    code = static_cast<DWORD>(-1);
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return static_cast<long>(code);
}

int Run(const qz::Args& args) {
  bool fault = false;
  plat::wstring dump, child;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == TEXT("--fault")) fault = true;
    else if (args[i] == TEXT("--dump") && i + 1 < args.size()) dump = args[++i];
    else if (args[i] == TEXT("--child") && i + 1 < args.size()) child = args[++i];
    else return qz::Fail("trace", "unknown argument %s (see qz trace --help)", plat::Utf8(args[i]).c_str());
  }
  if (!child.empty()) {  // the child of --fault: it faults and never returns here
    SetUnhandledExceptionFilter(OnFault);
    dmp_output(child.c_str());
    return QzTraceOuter(1);
  }
  const bool keep = !dump.empty();
  if (!keep) dump = TempDump();
  if (dump.empty()) return qz::Fail("trace", "no temporary directory for the dump file");
  if (!keep) DeleteFileW(dump.c_str());

  int status = 0;
  if (fault) {
    const long code = RunChild(dump);
    if (!Exists(dump)) return qz::Fail("trace", "the child wrote no trace (exit code %08X)", unsigned(code));
    qz::ShowDumpFile("trace", dump);
    if (static_cast<DWORD>(code) == EXCEPTION_ACCESS_VIOLATION) {
      qz::Out("(the child ended by its fault, exception %08X: access violation)\n", unsigned(code));
    } else {
      status = qz::Fail("trace", "the child did not end by its fault (exit code %08X)", unsigned(code));
    }
  } else {
    dmp_output(dump.c_str());
    if (!Exists(dump)) return qz::Fail("trace", "%s: cannot be opened as a dump file", plat::Utf8(dump).c_str());
    QzTraceOuter(0);
    dmp_output(nullptr);
    if (!qz::ShowDumpFile("trace", dump)) status = 1;
  }
  if (!keep) DeleteFileW(dump.c_str());
  return status;
}

const qz::Register reg({"trace", "print a stack trace (of qz, or of a child that faults)", kUsage, Run});

}  // namespace

// Each works on its callee's result: no call becomes a jump, every frame stays.
QZ_TRACED __attribute__((noinline)) int WINAPI QzTraceInner(int fault) {
  if (fault) {
    volatile BYTE* locked = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY));
    *locked = 1;  // the fault
    return *locked;
  }
  return WalkCallStack(Here(), reinterpret_cast<DRAVEL_ADDRESS>(__builtin_frame_address(0)), DRAVEL_MAX_FRAMES,
                       nullptr) + 1;
}

QZ_TRACED __attribute__((noinline)) int WINAPI QzTraceOuter(int fault) { return QzTraceInner(fault) * 2; }
