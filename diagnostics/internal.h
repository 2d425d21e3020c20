// Pieces of Dravel shared between its files.
#pragma once

#include "dravel.h"

// Hex forms of addresses and frame words in the texts: eight digits where
// they are 32-bit, as many as a pointer has where they are wider; offsets and
// byte counts that come from such subtractions likewise at full width.
#if __SIZEOF_POINTER__ == 4
#define DRAVEL_X8 TEXT("%08X")
#define DRAVEL_x8 TEXT("%08x")
#define DRAVEL_x TEXT("%x")
#define DRAVEL_u TEXT("%u")
#else
#define DRAVEL_X8 TEXT("%016IX")
#define DRAVEL_x8 TEXT("%016Ix")
#define DRAVEL_x TEXT("%Ix")
#define DRAVEL_u TEXT("%Iu")
#endif

namespace dravel {

// ---- dump.cpp ----
// The system's page size, read at load.
extern DWORD g_pageSize;
// At unload: the buffered text is written and the dump file closed.
void CloseDumpFile();

// ---- module.cpp ----
struct Module {
  DRAVEL_ADDRESS base = 0;  // allocation base of the region: the module's handle
  char name[260] = {};      // file name without directory and extension; empty when unknown
};
// The module of an address; false when its region cannot be queried.
bool FindModule(DRAVEL_ADDRESS address, Module& module);
// a equals b ignoring the case of a..z.
bool SameName(const char* a, const char* b);

// ---- exports.cpp ----
// The nearest exported functions of a module around an address, readable names.
struct Nearest {
  static constexpr DWORD kNone = 0xFFFFFFFF;
  DWORD below = kNone, above = kNone;  // distances; kNone when there is no such export
  char belowName[256] = {};
  char aboveName[256] = {};
};
// The search for them: every candidate function at f, in index order; the
// nearest stays, and on equal distances the lower index.
struct NearestIndices {
  DWORD below = Nearest::kNone, above = Nearest::kNone;
  DWORD belowIndex = 0, aboveIndex = 0;
  void Consider(DRAVEL_ADDRESS f, DRAVEL_ADDRESS address, DWORD index) {
    if (f <= address) {
      if (address - f < below) below = static_cast<DWORD>(address - f), belowIndex = index;
    } else if (f - address < above) {
      above = static_cast<DWORD>(f - address), aboveIndex = index;
    }
  }
  // Stores each one whose name name(index, out) can read, with its distance.
  template <class Name>
  void Store(Nearest& nearest, Name name) const {
    if (below != Nearest::kNone && name(belowIndex, nearest.belowName)) nearest.below = below;
    if (above != Nearest::kNone && name(aboveIndex, nearest.aboveName)) nearest.above = above;
  }
};
// Searches a PE image (both targets) or an ELF image (natively) at base; the
// address must lie in the image's code. A fault while reading ends the search
// with what was found so far.
void FindNearestExports(DRAVEL_ADDRESS base, DRAVEL_ADDRESS address, Nearest& nearest);
// The base of code of a PE image with valid signatures; false for anything
// else or when the headers cannot be read.
bool PeBaseOfCode(DRAVEL_ADDRESS base, DWORD& baseOfCode);

// ---- elf.cpp (natively; nothing on win32) ----
// Searches the dynamic symbols of the ELF image at base (defined functions,
// C++ names demangled); false when base holds no ELF image.
bool FindNearestElfSymbols(DRAVEL_ADDRESS base, DRAVEL_ADDRESS address, Nearest& nearest);

}  // namespace dravel
