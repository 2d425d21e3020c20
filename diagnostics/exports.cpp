// The nearest exported functions of a PE image around a code address, from
// its export directory; every read of the image happens under the guard.
#include <cstring>

#include "internal.h"
#include "pe_format.h"

namespace dravel {
namespace {

using Addr = DRAVEL_ADDRESS;

// What the search needs of a PE image's headers.
struct PeImage {
  Addr base = 0;
  Addr codeStart = 0, codeEnd = 0;      // [base + base of code, + size of code)
  Addr exportStart = 0, exportEnd = 0;  // the export directory; 0 when the image has none
  DWORD baseOfCode = 0;
};

// Reads the headers: "MZ", "PE\0\0" at the offset kept at 0x3C, the optional
// header of a 32-bit or 64-bit image. Call under the guard.
bool ReadHeaders(Addr base, PeImage& image) {
  const BYTE* b = reinterpret_cast<const BYTE*>(base);
  if (pe::Load<WORD>(b) != pe::kDosMagic) return false;
  const BYTE* nt = b + pe::Load<DWORD>(b + pe::kNewHeaderOffset);
  if (pe::Load<DWORD>(nt) != pe::kSignature) return false;
  const BYTE* opt = nt + 4 + pe::kFileHeaderSize;
  const WORD magic = pe::Load<WORD>(opt + pe::kOptMagic);
  image.base = base;
  image.baseOfCode = pe::Load<DWORD>(opt + pe::kOptBaseOfCode);
  image.codeStart = base + image.baseOfCode;
  image.codeEnd = image.codeStart + pe::Load<DWORD>(opt + pe::kOptSizeOfCode);
  if ((magic == pe::kMagic32 || magic == pe::kMagic64) &&
      pe::Load<DWORD>(opt + pe::OptNumberOfDirectories(magic)) > pe::kExportDirectoryIndex) {
    const auto dir = pe::Load<pe::DataDirectory>(opt + pe::OptDirectories(magic) +
                                                 pe::kExportDirectoryIndex * sizeof(pe::DataDirectory));
    if (dir.VirtualAddress) {
      image.exportStart = base + dir.VirtualAddress;
      image.exportEnd = image.exportStart + dir.Size;
    }
  }
  return true;
}

bool InCode(const PeImage& image, Addr a) { return a >= image.codeStart && a < image.codeEnd; }

// The nearest name indices below and above the address; names pair with their
// functions through the name-ordinal table (the name table is sorted by name,
// not in the order of the functions). Call under the guard.
void Search(const PeImage& image, Addr address, NearestIndices& found) {
  const BYTE* b = reinterpret_cast<const BYTE*>(image.base);
  const auto dir = pe::Load<pe::ExportDirectory>(reinterpret_cast<const void*>(image.exportStart));
  const BYTE* functions = b + dir.AddressOfFunctions;
  const BYTE* ordinals = b + dir.AddressOfNameOrdinals;
  for (DWORD i = 0; i < dir.NumberOfNames; ++i) {
    const WORD slot = pe::Load<WORD>(ordinals + 2 * i);
    if (slot >= dir.NumberOfFunctions) continue;
    const DWORD rva = pe::Load<DWORD>(functions + 4 * slot);
    if (rva == 0) continue;  // an empty slot names nothing
    Addr f = image.base + rva;
    if (f >= image.exportStart && f < image.exportEnd) continue;  // a forwarder: a name, not code
    // Incremental linking puts a relative jump in front of functions.
    const BYTE* code = reinterpret_cast<const BYTE*>(f);
    if (*code == 0xE9) {
      const Addr target = f + 5 + static_cast<Addr>(static_cast<LONG_PTR>(pe::Load<LONG>(code + 1)));
      if (InCode(image, target)) f = target;
    }
    found.Consider(f, address, i);
  }
}

// The readable name of export name number `index`; false when it cannot be read.
bool ReadableName(const PeImage& image, DWORD index, char* out) {
  char raw[256] = {};
  bool read = plat::Guarded([&] {
    const BYTE* b = reinterpret_cast<const BYTE*>(image.base);
    const auto dir = pe::Load<pe::ExportDirectory>(reinterpret_cast<const void*>(image.exportStart));
    const char* name = reinterpret_cast<const char*>(b + pe::Load<DWORD>(b + dir.AddressOfNames + 4 * index));
    for (size_t i = 0; i < sizeof raw - 1 && name[i]; ++i) raw[i] = name[i];
  });
  if (read) TranslateExportedName(raw, out);
  return read;
}

void SearchPe(const PeImage& image, Addr address, Nearest& nearest) {
  NearestIndices found;
  if (!plat::Guarded([&] { Search(image, address, found); })) return;
  found.Store(nearest, [&](DWORD index, char* out) { return ReadableName(image, index, out); });
}

}  // namespace

bool PeBaseOfCode(DRAVEL_ADDRESS base, DWORD& baseOfCode) {
  PeImage image;
  bool valid = false;
  if (!plat::Guarded([&] { valid = ReadHeaders(base, image); }) || !valid) return false;
  baseOfCode = image.baseOfCode;
  return true;
}

void FindNearestExports(DRAVEL_ADDRESS base, DRAVEL_ADDRESS address, Nearest& nearest) {
  nearest = Nearest();
  if (!base) return;
  PeImage image;
  bool pe = false;
  if (!plat::Guarded([&] { pe = ReadHeaders(base, image); })) return;
  if (!pe) {
    FindNearestElfSymbols(base, address, nearest);
    return;
  }
  if (InCode(image, address) && image.exportStart) SearchPe(image, address, nearest);
}

}  // namespace dravel
