// Child processes, modules and the console's interrupt.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "handles.h"
#include "internal.h"

extern char** environ;

namespace {

// A process ended by a signal: a fault ends with its exception code, as a
// process ended by an unhandled exception does on Windows; another signal
// gives 0xC0000000 plus its number.
DWORD ExitCodeOfSignal(int sig) {
  switch (sig) {
    case SIGSEGV: return EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS: return EXCEPTION_IN_PAGE_ERROR;
    case SIGILL: return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    default: return 0xC0000000u | static_cast<DWORD>(sig);
  }
}

struct Process : posix::Object {
  pid_t pid = -1;
  bool exited = false;
  DWORD exitCode = STILL_ACTIVE;

  // Collects the exit status if the child has ended; true when it has.
  bool Poll(bool block) {
    if (exited) return true;
    int status = 0;
    pid_t r;
    do {
      r = waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r != pid) return false;
    exited = true;
    exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : ExitCodeOfSignal(WTERMSIG(status));
    return true;
  }
  ~Process() override {
    if (!exited) Poll(false);  // reaped here if it is done; otherwise it is left to run on
  }
};

// Splits a command line by the rules of CommandLineToArgvW: blanks separate;
// quotes group; 2n backslashes before a quote give n and the quote is special,
// 2n+1 give n and a literal quote.
std::vector<plat::wstring> SplitCommandLine(const WCHAR* line) {
  std::vector<plat::wstring> args;
  plat::wstring cur;
  bool inArg = false, quoted = false;
  for (const WCHAR* p = line; *p;) {
    if (!quoted && (*p == ' ' || *p == '\t')) {
      if (inArg) args.push_back(cur), cur.clear(), inArg = false;
      ++p;
      continue;
    }
    inArg = true;
    if (*p == '\\') {
      size_t n = 0;
      while (p[n] == '\\') ++n;
      if (p[n] == '"') {
        cur.append(n / 2, '\\');
        p += n;
        if (n % 2) cur += '"', ++p;
      } else {
        cur.append(n, '\\');
        p += n;
      }
    } else if (*p == '"') {
      if (quoted && p[1] == '"') {
        cur += '"';
        p += 2;
      } else {
        quoted = !quoted;
        ++p;
      }
    } else {
      cur += *p++;
    }
  }
  if (inArg) args.push_back(cur);
  return args;
}

PHANDLER_ROUTINE g_ctrlHandler = nullptr;

void OnInterrupt(int sig) {
  PHANDLER_ROUTINE h = g_ctrlHandler;
  if (h && h(sig == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT)) return;
  signal(sig, SIG_DFL);
  raise(sig);
}

// The file of the loaded object whose image starts at `base` (its handle, the
// start of its first mapping); the program itself has no name of its own here.
bool ModulePath(uintptr_t base, std::string& path) {
  struct Search {
    uintptr_t base;
    const char* name;
    bool found;
  } search = {base, nullptr, false};
  dl_iterate_phdr(
      [](struct dl_phdr_info* info, size_t, void* data) {
        Search* s = static_cast<Search*>(data);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          if (info->dlpi_phdr[i].p_type != PT_LOAD) continue;
          const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
          uintptr_t start = (info->dlpi_addr + info->dlpi_phdr[i].p_vaddr) & ~(page - 1);
          if (start != s->base) return 0;
          s->name = info->dlpi_name;
          s->found = true;
          return 1;
        }
        return 0;
      },
      &search);
  if (!search.found) return false;
  if (search.name && *search.name) {
    path = search.name;
    return true;
  }
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return false;
  path.assign(exe, n);
  return true;
}

}  // namespace

extern "C" {

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID, LPCWSTR dir, LPSTARTUPINFOW, LPPROCESS_INFORMATION pi) {
  if ((!application && !commandLine) || !pi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::string> args;
  for (const plat::wstring& a : SplitCommandLine(commandLine ? commandLine : application))
    args.push_back(plat::Utf8(a));
  std::string program;
  if (application) {
    if (!posix::ToNative(application, program)) return FALSE;
  } else if (!args.empty()) {
    plat::wstring w = plat::Wide(args[0]);
    if (!posix::ToNative(w.c_str(), program)) return FALSE;
  }
  if (program.empty() || access(program.c_str(), X_OK) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (args.empty()) args.push_back(program);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string nativeDir;
  if (dir) {
    if (!posix::ToNative(dir, nativeDir)) {
      posix_spawn_file_actions_destroy(&actions);
      return FALSE;
    }
    posix_spawn_file_actions_addchdir_np(&actions, nativeDir.c_str());
  }
  auto process = std::make_shared<Process>();
  int rc = posix_spawn(&process->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    SetLastError(posix::ErrorFromErrno(rc));
    return FALSE;
  }
  pi->dwProcessId = static_cast<DWORD>(process->pid);
  pi->dwThreadId = static_cast<DWORD>(process->pid);
  pi->hProcess = posix::InsertHandle(process);
  pi->hThread = posix::InsertHandle(process);
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD milliseconds) {
  auto process = posix::GetHandle<Process>(h);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (milliseconds == INFINITE) return process->Poll(true) ? WAIT_OBJECT_0 : WAIT_FAILED;
  DWORD start = static_cast<DWORD>(GetTickCount64());
  for (;;) {
    if (process->Poll(false)) return WAIT_OBJECT_0;
    if (static_cast<DWORD>(GetTickCount64()) - start >= milliseconds) return WAIT_TIMEOUT;
    usleep(1000);
  }
}

BOOL WINAPI GetExitCodeProcess(HANDLE h, LPDWORD code) {
  auto process = posix::GetHandle<Process>(h);
  if (!process || !code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  process->Poll(false);
  *code = process->exitCode;
  return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE h, UINT code) {
  auto process = posix::GetHandle<Process>(h);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (process->exited) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  kill(process->pid, SIGKILL);
  process->Poll(true);
  process->exitCode = code;
  return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  std::string path;
  if (!module) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return posix::FailErrno();
    path.assign(exe, n);
  } else if (!ModulePath(reinterpret_cast<uintptr_t>(module), path)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  plat::wstring w = posix::FromNative(path);
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (w.size() >= size) {  // cut and terminated, as Windows does
    std::memcpy(buffer, w.data(), (size - 1) * sizeof(WCHAR));
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(w.size());
}

// The program's own module: the address its image is loaded at.
HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
  if (name) {  // the suite asks only for the program itself
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  uintptr_t base = 0;
  dl_iterate_phdr(
      [](struct dl_phdr_info* info, size_t, void* out) {
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            *static_cast<uintptr_t*>(out) = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
            break;
          }
        }
        return 1;  // the first object is the program
      },
      &base);
  return reinterpret_cast<HMODULE>(base);
}

// The command line as Windows would have it: each argument, quoted where it needs it.
LPWSTR WINAPI GetCommandLineW(void) {
  static plat::wstring line = [] {
    plat::wstring out;
    FILE* f = fopen("/proc/self/cmdline", "rb");
    if (!f) return out;
    std::string all;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
    fclose(f);
    size_t start = 0;
    while (start < all.size()) {
      size_t end = all.find('\0', start);
      if (end == std::string::npos) end = all.size();
      plat::wstring arg = plat::Wide(all.substr(start, end - start));
      if (!out.empty()) out += ' ';
      bool quote = arg.empty() || arg.find_first_of(u" \t\"") != plat::wstring::npos;
      if (!quote) {
        out += arg;
      } else {
        out += '"';
        size_t slashes = 0;
        for (WCHAR c : arg) {
          if (c == '\\') {
            ++slashes;
            continue;
          }
          out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
          slashes = 0;
          out += c;
        }
        out.append(slashes * 2, '\\');
        out += '"';
      }
      start = end + 1;
    }
    return out;
  }();
  return &line[0];
}

// One block: the pointer array, then the strings; LocalFree releases it.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count) {
  if (!count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<plat::wstring> args = SplitCommandLine(commandLine ? commandLine : GetCommandLineW());
  size_t bytes = (args.size() + 1) * sizeof(LPWSTR);
  for (const auto& a : args) bytes += (a.size() + 1) * sizeof(WCHAR);
  char* block = static_cast<char*>(malloc(bytes));
  if (!block) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  LPWSTR* argv = reinterpret_cast<LPWSTR*>(block);
  WCHAR* text = reinterpret_cast<WCHAR*>(block + (args.size() + 1) * sizeof(LPWSTR));
  for (size_t i = 0; i < args.size(); ++i) {
    argv[i] = text;
    std::memcpy(text, args[i].c_str(), (args[i].size() + 1) * sizeof(WCHAR));
    text += args[i].size() + 1;
  }
  argv[args.size()] = nullptr;
  *count = static_cast<int>(args.size());
  return argv;
}

HANDLE WINAPI LocalFree(HANDLE block) {
  free(block);
  return nullptr;
}

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  g_ctrlHandler = add ? handler : nullptr;
  struct sigaction sa = {};
  sa.sa_handler = g_ctrlHandler ? OnInterrupt : SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  return TRUE;
}

}  // extern "C"
