// qz exports: the export table of a PE file (a DLL or a program), read from
// the file through its section table: ordinals, RVAs, decorated names and
// their readable forms, forwarders.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/pe_format.h"
#include "dravel.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz exports FILE...\n"
    "\n"
    "Lists the export table of each PE file (a DLL, or a program that exports):\n"
    "the name the file gives itself, then one line per export with its ordinal,\n"
    "its RVA, its decorated name and the readable form of that name (as stack\n"
    "traces show it). A forwarder, an export that names a function of another\n"
    "DLL instead of code, is shown with its target. Exports without a name are\n"
    "shown by ordinal only.\n"
    "\n"
    "Exit status 1 when a file cannot be read, is no PE file, has a damaged\n"
    "export table, or lists its names out of order (loaders search that list\n"
    "by halves and would miss some).\n";

// A PE file's bytes, addressed by RVA through its headers and section table.
class PeFile {
 public:
  // Empty when the bytes hold a PE image with readable headers; else why not.
  std::string Open(const std::string& bytes) {
    bytes_ = &bytes;
    const BYTE* b = reinterpret_cast<const BYTE*>(bytes.data());
    if (bytes.size() < 0x40 || pe::Load<WORD>(b) != pe::kDosMagic) return "not a PE file (no MZ header)";
    const DWORD nt = pe::Load<DWORD>(b + pe::kNewHeaderOffset);
    if (nt > bytes.size() - 4 - pe::kFileHeaderSize || pe::Load<DWORD>(b + nt) != pe::kSignature)
      return "not a PE file (an MZ header without a PE header: a DOS program?)";
    const WORD sections = pe::Load<WORD>(b + nt + 4 + pe::kNumberOfSections);
    const WORD optSize = pe::Load<WORD>(b + nt + 4 + pe::kSizeOfOptionalHeader);
    const size_t opt = nt + 4 + pe::kFileHeaderSize;
    if (optSize < 2 || opt + optSize + size_t(sections) * sizeof(pe::SectionHeader) > bytes.size())
      return "damaged: its headers run past the end of the file";
    const WORD magic = pe::Load<WORD>(b + opt);
    if (magic != pe::kMagic32 && magic != pe::kMagic64) return "damaged: an optional header of unknown kind";
    if (optSize < pe::OptDirectories(magic) || pe::Load<DWORD>(b + opt + pe::OptNumberOfDirectories(magic)) == 0)
      return "";  // no data directories: no exports
    exports_ = pe::Load<pe::DataDirectory>(b + opt + pe::OptDirectories(magic));
    headers_ = pe::Load<DWORD>(b + opt + pe::kOptSizeOfHeaders);
    for (WORD i = 0; i < sections; ++i)
      sections_.push_back(
          pe::Load<pe::SectionHeader>(b + opt + optSize + size_t(i) * sizeof(pe::SectionHeader)));
    return "";
  }

  const pe::DataDirectory& exports() const { return exports_; }

  // The bytes of [rva, rva + size) when the headers or one section hold them whole.
  const BYTE* At(DWORD rva, DWORD size) const {
    const BYTE* b = reinterpret_cast<const BYTE*>(bytes_->data());
    if (rva < headers_ && size <= headers_ - rva && rva + size <= bytes_->size()) return b + rva;
    for (const pe::SectionHeader& s : sections_) {
      const DWORD stored = std::min(s.SizeOfRawData, s.VirtualSize ? s.VirtualSize : s.SizeOfRawData);
      if (rva < s.VirtualAddress || rva - s.VirtualAddress >= stored) continue;
      const DWORD into = rva - s.VirtualAddress;
      if (size > stored - into || size_t(s.PointerToRawData) + into + size > bytes_->size()) return nullptr;
      return b + s.PointerToRawData + into;
    }
    return nullptr;
  }

  // The zero-terminated string at rva, when it ends within the bytes that hold it.
  const char* String(DWORD rva) const {
    const BYTE* p = At(rva, 1);
    if (!p) return nullptr;
    for (DWORD n = 1; p; ++n) {
      if (p[n - 1] == 0) return reinterpret_cast<const char*>(p);
      if (!At(rva, n + 1)) return nullptr;
    }
    return nullptr;
  }

 private:
  const std::string* bytes_ = nullptr;
  std::vector<pe::SectionHeader> sections_;
  DWORD headers_ = 0;
  pe::DataDirectory exports_ = {0, 0};
};

std::string Utf8FromAnsi(const char* s) {
  WCHAR wide[1024];
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, wide, 1024);
  return n > 0 ? plat::Utf8(wide) : std::string();
}

struct Export {
  DWORD ordinal, rva;
  std::string name;     // empty: by ordinal only
  std::string forward;  // the target of a forwarder
};

// The exports in ordinal order (a function with several names once per name);
// an empty `why` when the table reads whole.
std::vector<Export> ReadExports(const PeFile& file, std::string& why, std::string& dllName, bool& sorted) {
  std::vector<Export> out;
  const pe::DataDirectory& d = file.exports();
  const BYTE* dirBytes = file.At(d.VirtualAddress, sizeof(pe::ExportDirectory));
  if (!dirBytes) {
    why = "damaged: the export directory lies outside the file";
    return out;
  }
  const auto dir = pe::Load<pe::ExportDirectory>(dirBytes);
  const char* name = file.String(dir.Name);
  dllName = name ? name : "";
  const BYTE* functions = file.At(dir.AddressOfFunctions, dir.NumberOfFunctions * 4);
  const BYTE* names = file.At(dir.AddressOfNames, dir.NumberOfNames * 4);
  const BYTE* ordinals = file.At(dir.AddressOfNameOrdinals, dir.NumberOfNames * 2);
  if (dir.NumberOfFunctions > 65536 || dir.NumberOfNames > dir.NumberOfFunctions ||
      (dir.NumberOfFunctions && !functions) || (dir.NumberOfNames && (!names || !ordinals))) {
    why = "damaged: the export tables do not fit the file";
    return out;
  }
  std::vector<std::vector<std::string>> namesOf(dir.NumberOfFunctions);
  sorted = true;
  const char* previous = nullptr;
  for (DWORD i = 0; i < dir.NumberOfNames; ++i) {
    const WORD slot = pe::Load<WORD>(ordinals + 2 * i);
    const char* n = file.String(pe::Load<DWORD>(names + 4 * i));
    if (!n || slot >= dir.NumberOfFunctions) {
      why = "damaged: a name of the export table lies outside the file or names no function";
      return out;
    }
    if (previous && std::strcmp(previous, n) >= 0) sorted = false;
    previous = n;
    namesOf[slot].push_back(n);
  }
  for (DWORD slot = 0; slot < dir.NumberOfFunctions; ++slot) {
    Export e;
    e.ordinal = dir.Base + slot;
    e.rva = pe::Load<DWORD>(functions + 4 * slot);
    if (e.rva == 0) continue;  // an unused ordinal
    if (e.rva >= d.VirtualAddress && e.rva - d.VirtualAddress < d.Size) {
      const char* target = file.String(e.rva);
      e.forward = target ? target : "?";
    }
    if (namesOf[slot].empty()) namesOf[slot].push_back("");
    for (const std::string& n : namesOf[slot]) {
      e.name = n;
      out.push_back(e);
    }
  }
  return out;
}

template <class... Args>
bool Refuse(const char* fmt, Args... args) {
  qz::Fail("exports", fmt, args...);
  return false;
}

bool Show(const plat::wstring& path) {
  const std::string shown = plat::Utf8(path);
  std::string bytes, why;
  if (!qz::ReadWholeFile(path, bytes, why)) return Refuse("%s: %s", shown.c_str(), why.c_str());
  PeFile file;
  why = file.Open(bytes);
  if (!why.empty()) return Refuse("%s: %s", shown.c_str(), why.c_str());
  qz::Out("%s\n", shown.c_str());
  if (!file.exports().VirtualAddress) {
    qz::Out("  no export table\n");
    return true;
  }
  std::string dllName;
  bool sorted = true;
  const std::vector<Export> exports = ReadExports(file, why, dllName, sorted);
  if (!why.empty()) return Refuse("%s: %s", shown.c_str(), why.c_str());
  size_t width = 4;
  for (const Export& e : exports) width = std::max(width, e.name.size());
  qz::Out("  name %s, %zu exports\n", dllName.empty() ? "(none)" : Utf8FromAnsi(dllName.c_str()).c_str(),
          exports.size());
  qz::Out("  %7s  %-8s  %-*s  %s\n", "ordinal", "RVA", int(width), "name", "readable");
  for (const Export& e : exports) {
    std::string readable;
    if (!e.forward.empty()) {
      readable = "-> " + e.forward + " (forwarder)";
    } else if (!e.name.empty()) {
      char text[256];
      TranslateExportedName(e.name.c_str(), text);
      readable = Utf8FromAnsi(text);
    }
    qz::Out("  %7u  %08X  %-*s  %s\n", e.ordinal, e.rva, int(width),
            e.name.empty() ? "(by ordinal only)" : Utf8FromAnsi(e.name.c_str()).c_str(), readable.c_str());
  }
  if (!sorted)
    return Refuse("%s: the names are not in order: loaders searching them by name miss some",
                    shown.c_str());
  return true;
}

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("exports", "no file given (qz exports --help)");
  int status = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) qz::Out("\n");
    if (!Show(args[i])) status = 1;
  }
  return status;
}

const qz::Register reg({"exports", "list the export table of a DLL", kUsage, Run});

}  // namespace
