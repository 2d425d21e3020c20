// qz zip: a file compressed into another with FU_ZIPFile, and when that
// fails, the reason.
#include <string>

#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz zip TARGET SOURCE\n"
    "\n"
    "Compresses the file SOURCE into TARGET: one compressed block, the \"@ZIP\"\n"
    "header followed by an LZO1X stream. Missing directories of TARGET are\n"
    "made and an existing TARGET is replaced. Note the order: target first.\n"
    "\n"
    "A SOURCE that is empty, of 44 bytes or less, or whose block would not be\n"
    "smaller than it (data compressed already, random data) is refused. The\n"
    "whole file is held in memory. `qz unzip` restores it, `qz zipinfo` shows it.\n"
    "Exit status 1 when nothing was written.\n";

constexpr ULONG kNeverCompressed = 44;

// True when size bytes of the file would make a block no larger than they are.
// Read here as they are on disk (FU_ReadFile would restore a block).
bool Compresses(const plat::wstring& path, ULONG size, bool& readable) {
  readable = false;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  void* data = FU_AllocVirtual(nullptr, size);
  DWORD got = 0;
  readable = data && ReadFile(h, data, size, &got, nullptr) && got == size;
  CloseHandle(h);
  bool pays = false;
  if (readable) {
    ULONG limit = 0;
    void* block = FU_ZIPMem(data, size, &limit, FU_AllocProcHeap);
    pays = block != nullptr;
    FU_AllocProcHeap(block, 0);
  }
  FU_AllocVirtual(data, 0);
  return pays;
}

// Why FU_ZIPFile wrote nothing, from what can be seen of the two files.
// `target` is absolute; messages name it as it was given.
int Explain(const plat::wstring& target, const plat::wstring& given, const plat::wstring& source) {
  const std::string t = plat::Utf8(given), s = plat::Utf8(source);
  ULONGLONG size = 0;
  DWORD attributes = 0;
  if (!qz::Stat(source, size, attributes)) return qz::Fail("zip", "%s: no such file", s.c_str());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return qz::Fail("zip", "%s is a directory", s.c_str());
  if (size == 0) return qz::Fail("zip", "%s is empty: there is nothing to compress", s.c_str());
  if (size <= kNeverCompressed)
    return qz::Fail("zip", "%s is too small to compress (%I64u bytes; more than %u are needed)", s.c_str(), size,
                    kNeverCompressed);
  if (size > 0xFFFFFFFFull) return qz::Fail("zip", "%s is too large (4 GiB or more)", s.c_str());
  bool readable = false;
  const bool pays = Compresses(source, static_cast<ULONG>(size), readable);
  if (!readable) return qz::Fail("zip", "cannot read %s (in use, not allowed, or too large to hold in memory)", s.c_str());
  if (!pays)
    return qz::Fail("zip", "%s does not compress: its block would be larger than its %I64u bytes", s.c_str(), size);
  if (target.size() >= MAX_PATH) return qz::Fail("zip", "%s: the path is too long (%u characters or more)", t.c_str(), MAX_PATH);
  ULONGLONG targetSize = 0;
  if (qz::Stat(target, targetSize, attributes)) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return qz::Fail("zip", "%s is a directory", t.c_str());
    if (attributes & FILE_ATTRIBUTE_READONLY) return qz::Fail("zip", "%s is read-only", t.c_str());
  }
  return qz::Fail("zip", "cannot write %s (its directory cannot be made, or it is in use or the disk is full)",
                  t.c_str());
}

int Run(const qz::Args& args) {
  if (args.size() != 2) return qz::Fail("zip", "needs TARGET and SOURCE (qz zip --help)");
  const plat::wstring target = qz::FullPath(args[0]);
  const plat::wstring& source = args[1];
  ULONGLONG from = 0, to = 0;
  DWORD attributes = 0;
  qz::Stat(source, from, attributes);  // before: the target may be the source
  if (!FU_ZIPFile(target.c_str(), source.c_str())) return Explain(target, args[0], source);
  if (qz::Stat(target, to, attributes) && from)
    qz::Out("%s: %I64u bytes from %I64u (%.1f%%)\n", plat::Utf8(args[0]).c_str(), to, from, 100.0 * to / from);
  return 0;
}

qz::Register reg({"zip", "compress a file into a compressed block", kUsage, Run});

}  // namespace
