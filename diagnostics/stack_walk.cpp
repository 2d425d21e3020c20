// The walk over the chain of saved frame pointers: each frame holds the
// caller's frame pointer, then the return address into the caller, then the
// words of its arguments. The walk prints a stack trace or looks for a module
// on the stack. Stack words are read under the guard and printed outside it,
// so that a fault never cuts a print short.
#include "internal.h"

using namespace dravel;

namespace {

using Addr = DRAVEL_ADDRESS;
constexpr size_t kWord = sizeof(Addr);
constexpr int kArguments = 5;
// A frame holds at least the saved frame pointer, the return address and the arguments.
constexpr size_t kFrameBytes = (2 + kArguments) * kWord;

template <class... Args>
void Print(const WCHAR* format, Args... args) {
  dmp_printf(0, 0, format, args...);
}

bool IsCode(Addr code) {
  MEMORY_BASIC_INFORMATION mi;
  if (VirtualQuery(reinterpret_cast<LPCVOID>(code), &mi, sizeof mi) != sizeof mi) return false;
  return mi.Protect == PAGE_EXECUTE || mi.Protect == PAGE_EXECUTE_READ || mi.Protect == PAGE_EXECUTE_READWRITE ||
         mi.Protect == PAGE_EXECUTE_WRITECOPY;
}

// Committed read-write memory with room for a whole frame before the region ends.
bool IsFrame(Addr frame) {
  MEMORY_BASIC_INFORMATION mi;
  if (VirtualQuery(reinterpret_cast<LPCVOID>(frame), &mi, sizeof mi) != sizeof mi) return false;
  const Addr end = reinterpret_cast<Addr>(mi.BaseAddress) + mi.RegionSize;
  return mi.State == MEM_COMMIT && mi.Protect == PAGE_READWRITE && frame <= end && end - frame >= kFrameBytes;
}

// Stack words of other frames: under AddressSanitizer some lie in the guard
// zones it keeps between locals, which are memory all the same.
__attribute__((no_sanitize("address"))) Addr Word(Addr at) { return *reinterpret_cast<const volatile Addr*>(at); }

// "words...)\r": the argument words of a frame that passes the frame test.
void PrintArguments(Addr frame) {
  Addr words[kArguments];
  int read = 0;
  if (IsFrame(frame))
    plat::Guarded([&] {
      for (; read < kArguments; ++read) words[read] = Word(frame + (2 + read) * kWord);
    });
  for (int i = 0; i < read; ++i) Print(i ? TEXT(",") DRAVEL_x8 : DRAVEL_x8, words[i]);
  Print(TEXT(")\r"));
}

// The lines below a frame's heading: the RVA within a PE image's code and the
// nearest exports. Faults inside end only these lines.
void PrintWhere(const Module& module, Addr code) {
  DWORD baseOfCode = 0;
  if (PeBaseOfCode(module.base, baseOfCode)) Print(TEXT("\r     RVA %08X\r\n"), DWORD(code - module.base - baseOfCode));
  Nearest n;
  FindNearestExports(module.base, code, n);
  const bool below = n.below != Nearest::kNone, above = n.above != Nearest::kNone;
  if (below) Print(TEXT("\r     [%hs+%ud%s"), n.belowName, n.below, above ? TEXT(",") : TEXT(""));
  else if (above) Print(TEXT("     ["));
  if (above) Print(TEXT("%hs-%ud]"), n.aboveName, n.above);
  else if (below) Print(TEXT("]"));
}

}  // namespace

DRAVEL_API BOOL WINAPI WalkCallStack(DRAVEL_ADDRESS code, DRAVEL_ADDRESS frame, UINT maximum, const char* module) {
  if (!frame) return FALSE;
  char wanted[260] = {};
  const bool print = module == nullptr;
  if (!print && !plat::Guarded([&] {
        for (size_t i = 0; i < sizeof wanted - 1 && module[i]; ++i) wanted[i] = module[i];
      }))
    return FALSE;
  if (maximum > DRAVEL_MAX_FRAMES) maximum = DRAVEL_MAX_FRAMES;
  if (print) Print(TEXT("\rSTACK TRACE"));

  // The stack is the region of the first frame: frames further up lie in it too.
  Addr low = 0, high = 0;
  MEMORY_BASIC_INFORMATION mi;
  if (VirtualQuery(reinterpret_cast<LPCVOID>(frame), &mi, sizeof mi) == sizeof mi) {
    low = reinterpret_cast<Addr>(mi.BaseAddress);
    high = low + mi.RegionSize;
  } else if (print) {
    Print(TEXT("[no query]"));
  }

  Addr previous = frame - 1;
  for (int i = 0;;) {
    if (!IsCode(code)) {
      if (!print) return FALSE;
      Print(TEXT("\r%3d) ") DRAVEL_x8 TEXT("("), i, code);
      PrintArguments(frame);
      break;
    }
    Module m;
    FindModule(code, m);
    if (!print) {
      if (m.name[0] && SameName(m.name, wanted)) return TRUE;
    } else {
      if (m.name[0])
        Print(TEXT("\r%3d) ") DRAVEL_x8 TEXT("()=%hs+") DRAVEL_x TEXT("("), i, code, m.name, code - m.base);
      else
        Print(TEXT("\r%3d) ") DRAVEL_x8 TEXT("()=") DRAVEL_x8 TEXT("+") DRAVEL_x TEXT("("), i, code, m.base,
              code - m.base);
      PrintArguments(frame);
      PrintWhere(m, code);
    }

    // The next frame: its pointer is the word at this one, its code the
    // return address after it. The chain must grow and stay on the stack.
    ++i;
    if (!IsFrame(frame)) break;
    Addr next = 0, returnAddress = 0;
    if (!plat::Guarded([&] {
          next = Word(frame);
          returnAddress = Word(frame + kWord);
        }))
      return print ? TRUE : FALSE;  // the stack itself is damaged: stop at once
    if (next <= previous) break;
    previous = next;
    if (!IsFrame(next) || next < low || next >= high || i >= int(maximum)) break;
    code = returnAddress;
    frame = next;
  }
  if (!print) return FALSE;
  Print(TEXT("\r\n\n"));
  return TRUE;
}

DRAVEL_API BOOL WINAPI TraceOutException(EXCEPTION_POINTERS* exception, UINT maximum, const char* module) {
  DRAVEL_ADDRESS code = 0, frame = 0;
  if (!exception || !plat::Guarded([&] {
        code = reinterpret_cast<DRAVEL_ADDRESS>(exception->ExceptionRecord->ExceptionAddress);
#if __SIZEOF_POINTER__ == 4
        frame = exception->ContextRecord->Ebp;
#else
        frame = exception->ContextRecord->Rbp;
#endif
      }))
    return FALSE;
  return WalkCallStack(code, frame, maximum, module);
}
