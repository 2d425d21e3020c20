// The nearest functions of an ELF image (x86-64) around a code address, from
// its dynamic symbol table: the symbols a module exports, as the export
// directory lists them for a PE image. Their names are shown demangled rather
// than through TranslateExportedName, whose rules are for Windows decorations.
// Every read of the image happens under the guard.
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>

#include "internal.h"
#include "pe_format.h"

namespace dravel {
namespace {

using Addr = DRAVEL_ADDRESS;
using pe::Load;

// The ELF64 records read here, at their offsets.
constexpr BYTE kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr BYTE kClass64 = 2;
constexpr DWORD kPhOff = 32, kPhEntSize = 54, kPhNum = 56;  // in the file header
constexpr DWORD kPtLoad = 1, kPtDynamic = 2, kPfExecute = 1;
struct ProgramHeader {
  DWORD p_type;
  DWORD p_flags;
  DWORDLONG p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_align;
};
static_assert(sizeof(ProgramHeader) == 56, "ELF64 program header");
struct Dynamic {
  LONGLONG d_tag;
  DWORDLONG d_val;
};
constexpr LONGLONG kDtNull = 0, kDtHash = 4, kDtStrTab = 5, kDtSymTab = 6, kDtStrSz = 10, kDtGnuHash = 0x6ffffef5;
struct Symbol {
  DWORD st_name;
  BYTE st_info;
  BYTE st_other;
  WORD st_shndx;
  DWORDLONG st_value, st_size;
};
static_assert(sizeof(Symbol) == 24, "ELF64 symbol");
constexpr BYTE kSttFunc = 2;

struct ElfImage {
  Addr bias = 0;  // what the loader added to the image's addresses
  Addr symbols = 0, strings = 0;
  DWORDLONG stringsSize = 0;
  DWORD count = 0;  // symbols in the table
};

// The number of symbols of a GNU hash table: one past the last symbol a chain reaches.
DWORD GnuHashCount(const BYTE* table) {
  const DWORD buckets = Load<DWORD>(table), first = Load<DWORD>(table + 4), bloom = Load<DWORD>(table + 8);
  const BYTE* bucket = table + 16 + 8 * static_cast<size_t>(bloom);
  const BYTE* chain = bucket + 4 * static_cast<size_t>(buckets);
  DWORD last = 0;
  for (DWORD i = 0; i < buckets; ++i) {
    DWORD b = Load<DWORD>(bucket + 4 * i);
    if (b > last) last = b;
  }
  if (last < first) return first;
  while (!(Load<DWORD>(chain + 4 * static_cast<size_t>(last - first)) & 1)) ++last;
  return last + 1;
}

// Reads the headers and the dynamic section; false when the image is not
// ELF64, or the address lies in no executable segment. Call under the guard.
bool ReadImage(Addr base, Addr address, ElfImage& image, bool& elf) {
  const BYTE* b = reinterpret_cast<const BYTE*>(base);
  elf = std::memcmp(b, kElfMagic, 4) == 0;
  if (!elf || b[4] != kClass64) return false;
  const BYTE* ph = b + Load<DWORDLONG>(b + kPhOff);
  const WORD size = Load<WORD>(b + kPhEntSize), count = Load<WORD>(b + kPhNum);
  if (size < sizeof(ProgramHeader)) return false;
  bool first = true, inCode = false;
  Addr dynamic = 0;
  for (WORD i = 0; i < count; ++i) {
    const auto h = Load<ProgramHeader>(ph + static_cast<size_t>(i) * size);
    if (h.p_type == kPtLoad && first) {
      // The first segment is mapped at the base, from the start of its page.
      image.bias = base - static_cast<Addr>(h.p_vaddr & ~DWORDLONG(g_pageSize - 1));
      first = false;
    }
    if (h.p_type == kPtLoad && (h.p_flags & kPfExecute) && !first) {
      Addr start = image.bias + static_cast<Addr>(h.p_vaddr);
      inCode = inCode || (address >= start && address - start < h.p_memsz);
    }
    if (h.p_type == kPtDynamic) dynamic = static_cast<Addr>(h.p_vaddr);
  }
  if (first || !inCode || !dynamic) return false;
  // The loader may have relocated the table addresses in place (they then lie
  // at or above the base); otherwise they are addresses of the image.
  auto Where = [&](DWORDLONG value) {
    const Addr v = static_cast<Addr>(value);
    return v >= base ? v : image.bias + v;
  };
  Addr hash = 0, gnuHash = 0;
  for (const BYTE* d = reinterpret_cast<const BYTE*>(image.bias + dynamic);; d += sizeof(Dynamic)) {
    const auto e = Load<Dynamic>(d);
    if (e.d_tag == kDtNull) break;
    if (e.d_tag == kDtSymTab) image.symbols = Where(e.d_val);
    if (e.d_tag == kDtStrTab) image.strings = Where(e.d_val);
    if (e.d_tag == kDtStrSz) image.stringsSize = e.d_val;
    if (e.d_tag == kDtHash) hash = Where(e.d_val);
    if (e.d_tag == kDtGnuHash) gnuHash = Where(e.d_val);
  }
  if (!image.symbols || !image.strings) return false;
  if (gnuHash) image.count = GnuHashCount(reinterpret_cast<const BYTE*>(gnuHash));
  else if (hash) image.count = Load<DWORD>(reinterpret_cast<const BYTE*>(hash) + 4);
  return image.count != 0;
}

Symbol SymbolAt(const ElfImage& image, DWORD index) {
  return Load<Symbol>(reinterpret_cast<const BYTE*>(image.symbols) + static_cast<size_t>(index) * sizeof(Symbol));
}

// Nearest defined functions below and above.
void Search(const ElfImage& image, Addr address, NearestIndices& found) {
  for (DWORD i = 0; i < image.count; ++i) {
    const auto s = SymbolAt(image, i);
    if ((s.st_info & 0xF) != kSttFunc || s.st_shndx == 0 || s.st_value == 0) continue;
    found.Consider(image.bias + static_cast<Addr>(s.st_value), address, i);
  }
}

// The name of symbol `index`, demangled when it is a C++ name, cut at 255.
bool ReadableName(const ElfImage& image, DWORD index, char* out) {
  char raw[1024] = {};  // mangled names run long; demangling needs all of one
  bool read = plat::Guarded([&] {
    const auto s = SymbolAt(image, index);
    if (s.st_name >= image.stringsSize) return;
    const char* name = reinterpret_cast<const char*>(image.strings + s.st_name);
    for (size_t i = 0; i < sizeof raw - 1 && name[i]; ++i) raw[i] = name[i];
  });
  if (!read) return false;
  int status = -1;
  char* readable = raw[0] == '_' && raw[1] == 'Z' ? abi::__cxa_demangle(raw, nullptr, nullptr, &status) : nullptr;
  const char* text = status == 0 && readable ? readable : raw;
  size_t n = std::strlen(text);
  if (n > 255) n = 255;
  std::memcpy(out, text, n);
  out[n] = 0;
  std::free(readable);
  return true;
}

}  // namespace

bool FindNearestElfSymbols(DRAVEL_ADDRESS base, DRAVEL_ADDRESS address, Nearest& nearest) {
  ElfImage image;
  bool elf = false, usable = false;
  if (!plat::Guarded([&] { usable = ReadImage(base, address, image, elf); }) || !usable) return elf;
  NearestIndices found;
  if (!plat::Guarded([&] { Search(image, address, found); })) return true;
  found.Store(nearest, [&](DWORD index, char* out) { return ReadableName(image, index, out); });
  return true;
}

}  // namespace dravel
