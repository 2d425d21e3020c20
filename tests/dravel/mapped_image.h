// A PE file laid out in memory section by section, as the loader would place
// it (no relocations, no imports: it is read, never run): the headers at the
// base, each section at its RVA, code sections executable. An inaccessible
// page follows the image, for tests that point into it.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "diagnostics/pe_format.h"
#include "support/support.h"

namespace dravel_test {

// The test data beside this file. Under Wine the Unix side is drive Z:.
inline std::filesystem::path DataDir() {
  std::filesystem::path dir = std::filesystem::path(__FILE__).parent_path() / "data";
#ifdef _WIN32
  if (!dir.has_root_name()) dir = std::filesystem::path("Z:") / dir;
#endif
  return dir;
}

class MappedImage {
 public:
  explicit MappedImage(const std::string& file) {
    const BYTE* f = reinterpret_cast<const BYTE*>(file.data());
    if (file.size() < 0x40 || pe::Load<WORD>(f) != pe::kDosMagic) return;
    const DWORD nt = pe::Load<DWORD>(f + pe::kNewHeaderOffset);
    const WORD sections = pe::Load<WORD>(f + nt + 4 + pe::kNumberOfSections);
    const WORD optSize = pe::Load<WORD>(f + nt + 4 + pe::kSizeOfOptionalHeader);
    const BYTE* opt = f + nt + 4 + pe::kFileHeaderSize;
    size_ = pe::Load<DWORD>(opt + pe::kOptSizeOfImage);
    base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, size_ + 4096, MEM_COMMIT, PAGE_READWRITE));
    if (!base_) return;
    std::memcpy(base_, f, pe::Load<DWORD>(opt + pe::kOptSizeOfHeaders));
    const BYTE* table = opt + optSize;
    for (WORD i = 0; i < sections; ++i) {
      const auto s = pe::Load<pe::SectionHeader>(table + i * sizeof(pe::SectionHeader));
      std::memcpy(base_ + s.VirtualAddress, f + s.PointerToRawData, std::min(s.SizeOfRawData, s.VirtualSize));
    }
    DWORD old;
    VirtualProtect(base_ + size_, 4096, PAGE_NOACCESS, &old);
    for (WORD i = 0; i < sections; ++i) {
      const auto s = pe::Load<pe::SectionHeader>(table + i * sizeof(pe::SectionHeader));
      if (s.Characteristics & 0x20000000u)  // executable
        VirtualProtect(base_ + s.VirtualAddress, s.VirtualSize, PAGE_EXECUTE_READ, &old);
    }
  }
  ~MappedImage() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  MappedImage(const MappedImage&) = delete;
  MappedImage& operator=(const MappedImage&) = delete;

  BYTE* base() const { return base_; }
  DRAVEL_ADDRESS At(DWORD rva) const { return reinterpret_cast<DRAVEL_ADDRESS>(base_) + rva; }
  // The RVA of the inaccessible page after the image.
  DWORD Unreadable() const { return size_; }
  // Changes a DWORD of a read-write part of the image.
  void Patch(DWORD rva, DWORD value) { std::memcpy(base_ + rva, &value, 4); }

 private:
  BYTE* base_ = nullptr;
  DWORD size_ = 0;
};

}  // namespace dravel_test
