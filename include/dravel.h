// Dravel: diagnostics. Names code addresses (the module, the offset, the
// nearest exported functions below and above, in readable form), walks the
// chain of saved frame pointers of a stack and prints it as a trace or looks
// for a module on it, traces exceptions, reports the machine's memory figures,
// and prints formatted debug text through Brellu that can also go to a dump
// file (UTF-16 text with CR LF line ends).
//
// Every function is exported flat; all but dmp_printf with the standard
// calling convention (on win32 under their decorated names, _Name@N).
// Memory that may be invalid (stack words, module images, export tables) is
// read under the platform's access-fault guard: a fault ends the work quietly,
// so the functions can run inside exception handlers of a damaged process.
//
// Addresses and stack-frame words are DRAVEL_ADDRESS: 32-bit on win32, as
// wide as a pointer natively, where frames are those of x86-64 (saved frame
// pointer, return address, then the words after it) and addresses print with
// sixteen hex digits instead of eight. Natively a module is an ELF image, whose
// nearest functions come from its dynamic symbol table with C++ names
// demangled; a PE image mapped in memory is searched as on win32.
#pragma once

#include <cstddef>

#include "platform/win32.h"

#ifdef _WIN32
#ifdef DRAVEL_BUILD
#define DRAVEL_API extern "C"  // exported by dravel.def, under the decorated names
#else
#define DRAVEL_API extern "C" __declspec(dllimport)
#endif
#else
#define DRAVEL_API extern "C" __attribute__((visibility("default")))
#endif

// An address, or a word of a stack frame.
typedef DWORD_PTR DRAVEL_ADDRESS;

// Frames one walk prints or searches at most.
#define DRAVEL_MAX_FRAMES 50
// Units GetAddressInfoString may write, its terminator included.
#define DRAVEL_ADDRESS_TEXT 812

// What GetAddressInfo finds out about an address.
typedef struct AddressInfo {
  DRAVEL_ADDRESS ModuleBase;  // allocation base of the address's region (the module's handle); 0 when unknown
  char ModuleName[260];       // the module's file name without directory and extension; empty when unknown
  char ExportBelow[256];      // readable name of the nearest exported function at or below; empty when none
  char ExportAbove[256];      // readable name of the nearest exported function above; empty when none
  DWORD DistanceBelow;        // address minus the export below, in bytes
  DWORD DistanceAbove;        // the export above minus the address, in bytes
} AddressInfo;
static_assert(offsetof(AddressInfo, ModuleName) == sizeof(DRAVEL_ADDRESS), "AddressInfo layout");
static_assert(offsetof(AddressInfo, ExportBelow) == sizeof(DRAVEL_ADDRESS) + 260, "AddressInfo layout");
static_assert(offsetof(AddressInfo, ExportAbove) == sizeof(DRAVEL_ADDRESS) + 516, "AddressInfo layout");
static_assert(offsetof(AddressInfo, DistanceBelow) == sizeof(DRAVEL_ADDRESS) + 772, "AddressInfo layout");
static_assert(offsetof(AddressInfo, DistanceAbove) == sizeof(DRAVEL_ADDRESS) + 776, "AddressInfo layout");
static_assert(sizeof(DRAVEL_ADDRESS) != 4 || sizeof(AddressInfo) == 784, "AddressInfo is 784 bytes on win32");

// The machine's memory figures: 16 fields of 32 bits, page counts rounded down.
typedef struct MemDemandInfo {
  DWORD dwTotalVirtualTwice;   // 0: twice the user-mode address space in bytes (wrapping at 32 bits)
  DWORD dwTotalPhysPages;      // 1: physical memory
  DWORD dwAvailPhysPages;      // 2: available physical memory
  DWORD dwReserved3[2];        // 3, 4: always 0
  DWORD dwAvailVirtualPages;   // 5: user-mode address space still free
  DWORD dwReserved6[5];        // 6 to 10: always 0
  DWORD dwTotalPageFilePages;  // 11: the commit limit (paging file and memory)
  DWORD dwUsedPageFilePages;   // 12: the part of it in use
  DWORD dwReserved13[3];       // 13 to 15: always 0
} MemDemandInfo;
static_assert(sizeof(MemDemandInfo) == 64, "MemDemandInfo is 16 fields of 32 bits");
static_assert(offsetof(MemDemandInfo, dwAvailVirtualPages) == 5 * 4, "MemDemandInfo field 5");
static_assert(offsetof(MemDemandInfo, dwTotalPageFilePages) == 11 * 4, "MemDemandInfo field 11");
static_assert(offsetof(MemDemandInfo, dwUsedPageFilePages) == 12 * 4, "MemDemandInfo field 12");

// ---- export names ----

// Turns a decorated export name into a short readable form by its marker
// characters ("_Sleep@4" is "__stdcall Sleep(4 byte(s))", "?Run@CFoo@@QAEHXZ"
// is "CFoo::Run(...)", "Export1" is "pascal Export1"). Reads at most the first
// 255 bytes of the name and never changes it; writes at most 255 characters
// and a terminator to text (256 bytes). 1 when a rule produced the text, 0
// when the name was copied unchanged (or could not be read).
DRAVEL_API BOOL WINAPI TranslateExportedName(const char* name, char* text);

// ---- dump output and memory figures ----

// Opens the dump file (created when missing; a new file starts with the
// byte-order mark FF FE; an existing one is appended to). Only one dump file
// is open at a time: a path while one is open changes nothing. Null writes
// what is buffered and closes it. While it is open only the thread that
// opened it prints. Text still buffered at unload is written too.
DRAVEL_API void WINAPI dmp_output(const WCHAR* path);

// Formats the text (the suite's wide formats: %s wide, %hs narrow), passes it
// to Brellu's wvPrintf with the user and level, and appends it to the open
// dump file with every line end as CR LF: a lone CR starts a new line unless
// one has just begun. A text is cut to 2048 units before and after that.
DRAVEL_API void dmp_printf(DWORD user, DWORD level, const WCHAR* format, ...);

DRAVEL_API void WINAPI GetMemDemandInfo(MemDemandInfo* info);

// ---- addresses and call stacks ----

// Fills info for the address: its module and the nearest exported functions
// within the module's code. 1 when the address lies in a queryable region.
DRAVEL_API BOOL WINAPI GetAddressInfo(DRAVEL_ADDRESS address, AddressInfo* info);

// Describes the address in text ("module [below + 16 bytes,above - 32 bytes]"),
// from info when given (already filled for this address) or found afresh.
// Without information the text is "<No address info: ADDRESS>" and the result
// 0. text must hold DRAVEL_ADDRESS_TEXT units.
DRAVEL_API BOOL WINAPI GetAddressInfoString(DRAVEL_ADDRESS address, WCHAR* text, const AddressInfo* info);

// Walks the chain of saved frame pointers from the code address and its frame
// pointer, over at most `maximum` frames (at least 1, at most 50). Without a
// module name it prints a stack trace through dmp_printf (user 0, level 0) and
// returns 1 (0 for a null frame pointer). With one it returns 1 when a frame's
// code lies in a module of that name (file name without directory and
// extension, letter case ignored).
DRAVEL_API BOOL WINAPI WalkCallStack(DRAVEL_ADDRESS code, DRAVEL_ADDRESS frame, UINT maximum, const char* module);

// WalkCallStack from the exception's address and the frame-pointer register of
// its context, for exception handlers and filters.
DRAVEL_API BOOL WINAPI TraceOutException(EXCEPTION_POINTERS* exception, UINT maximum, const char* module);
