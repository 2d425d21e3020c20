// The parts of the PE image format (Windows executables and DLLs) that the
// export search reads, as they lie in a file or a mapped image: little-endian,
// at fixed offsets. Shared with qz's export lister and the tests.
#pragma once

#include <cstring>

#include "platform/win32.h"

namespace pe {

constexpr WORD kDosMagic = 0x5A4D;          // "MZ"
constexpr DWORD kNewHeaderOffset = 0x3C;    // where the DOS header keeps the offset of the PE header
constexpr DWORD kSignature = 0x00004550;    // "PE\0\0"
constexpr DWORD kFileHeaderSize = 20;       // after the signature; then the optional header
constexpr WORD kMagic32 = 0x10B;            // PE32 (32-bit images)
constexpr WORD kMagic64 = 0x20B;            // PE32+ (64-bit images)

// File header, at the PE header + 4.
constexpr DWORD kNumberOfSections = 2;      // WORD
constexpr DWORD kSizeOfOptionalHeader = 16; // WORD

// Optional header fields, from its start.
constexpr DWORD kOptMagic = 0;              // WORD
constexpr DWORD kOptSizeOfCode = 4;         // DWORD
constexpr DWORD kOptBaseOfCode = 20;        // DWORD
constexpr DWORD kOptSizeOfImage = 56;       // DWORD
constexpr DWORD kOptSizeOfHeaders = 60;     // DWORD
// The count of data directories and the directories, by kind of image.
inline DWORD OptNumberOfDirectories(WORD magic) { return magic == kMagic64 ? 108 : 92; }
inline DWORD OptDirectories(WORD magic) { return magic == kMagic64 ? 112 : 96; }

struct DataDirectory {
  DWORD VirtualAddress;
  DWORD Size;
};
static_assert(sizeof(DataDirectory) == 8, "data directory layout");
constexpr DWORD kExportDirectoryIndex = 0;

struct ExportDirectory {
  DWORD Characteristics;
  DWORD TimeDateStamp;
  WORD MajorVersion;
  WORD MinorVersion;
  DWORD Name;
  DWORD Base;
  DWORD NumberOfFunctions;
  DWORD NumberOfNames;
  DWORD AddressOfFunctions;     // RVA of NumberOfFunctions DWORD RVAs
  DWORD AddressOfNames;         // RVA of NumberOfNames DWORD RVAs of names, sorted by name
  DWORD AddressOfNameOrdinals;  // RVA of NumberOfNames WORD indices into the function table
};
static_assert(sizeof(ExportDirectory) == 40, "export directory layout");

struct SectionHeader {
  char Name[8];
  DWORD VirtualSize;
  DWORD VirtualAddress;
  DWORD SizeOfRawData;
  DWORD PointerToRawData;
  DWORD PointerToRelocations;
  DWORD PointerToLinenumbers;
  WORD NumberOfRelocations;
  WORD NumberOfLinenumbers;
  DWORD Characteristics;
};
static_assert(sizeof(SectionHeader) == 40, "section header layout");

// A value of type T at p, whatever its alignment.
template <class T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace pe
