// qz unzip: a compressed file restored into another with FU_UnZIPFile (a
// plain file is copied), and when that fails, the reason.
#include <cstring>
#include <string>

#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz unzip TARGET SOURCE\n"
    "\n"
    "Writes the data of SOURCE to TARGET: restored when SOURCE holds a\n"
    "compressed block (as `qz zip` writes them), copied as it is otherwise.\n"
    "Missing directories of TARGET are made and an existing TARGET is replaced;\n"
    "a TARGET that cannot be written in full is removed. Note the order: target\n"
    "first. The whole file is held in memory.\n"
    "Exit status 1 when nothing was written.\n";

constexpr DWORD kHeaderSize = 28;

// True when the file holds a compressed block: more than its header, both
// magics, and a size that is not 0.
bool HoldsBlock(const plat::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  unsigned char head[kHeaderSize + 1];
  DWORD got = 0;
  const bool read = ReadFile(h, head, kHeaderSize + 1, &got, nullptr) && got == kHeaderSize + 1;
  CloseHandle(h);
  return read && std::memcmp(head, "@ZIP", 4) == 0 && std::memcmp(head + 24, "@ZIP", 4) == 0 &&
         (head[4] | head[5] | head[6] | head[7]) != 0;
}

// Why FU_UnZIPFile wrote nothing, from what can be seen of the two files.
// `target` is absolute; messages name it as it was given.
int Explain(const plat::wstring& target, const plat::wstring& given, const plat::wstring& source) {
  const std::string t = plat::Utf8(given), s = plat::Utf8(source);
  ULONGLONG size = 0;
  DWORD attributes = 0;
  if (!qz::Stat(source, size, attributes)) return qz::Fail("unzip", "%s: no such file", s.c_str());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return qz::Fail("unzip", "%s is a directory", s.c_str());
  if (size == 0) return qz::Fail("unzip", "%s is empty: there is no data to write", s.c_str());
  if (size > 0xFFFFFFFFull) return qz::Fail("unzip", "%s is too large (4 GiB or more)", s.c_str());
  ULONG restored = 0;
  void* data = FU_ReadFile(source.c_str(), &restored, FU_AllocVirtual);
  FU_AllocVirtual(data, 0);
  if (!data) {
    if (HoldsBlock(source))
      return qz::Fail("unzip", "%s is a damaged compressed block, or its data does not fit in memory (qz zipinfo %s)",
                      s.c_str(), s.c_str());
    return qz::Fail("unzip", "cannot read %s (in use, not allowed, or too large to hold in memory)", s.c_str());
  }
  if (target.size() >= MAX_PATH)
    return qz::Fail("unzip", "%s: the path is too long (%u characters or more)", t.c_str(), MAX_PATH);
  ULONGLONG targetSize = 0;
  if (qz::Stat(target, targetSize, attributes)) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return qz::Fail("unzip", "%s is a directory", t.c_str());
    if (attributes & FILE_ATTRIBUTE_READONLY) return qz::Fail("unzip", "%s is read-only", t.c_str());
  }
  return qz::Fail("unzip", "cannot write %s (its directory cannot be made, or it is in use or the disk is full)",
                  t.c_str());
}

int Run(const qz::Args& args) {
  if (args.size() != 2) return qz::Fail("unzip", "needs TARGET and SOURCE (qz unzip --help)");
  const plat::wstring target = qz::FullPath(args[0]);
  const plat::wstring& source = args[1];
  ULONGLONG from = 0, to = 0;
  DWORD attributes = 0;
  qz::Stat(source, from, attributes);  // before: the target may be the source
  const bool compressed = HoldsBlock(source);
  if (!FU_UnZIPFile(target.c_str(), source.c_str())) return Explain(target, args[0], source);
  qz::Stat(target, to, attributes);
  if (compressed)
    qz::Out("%s: %I64u bytes restored from %I64u\n", plat::Utf8(args[0]).c_str(), to, from);
  else
    qz::Out("%s: %I64u bytes copied (the source holds no compressed block)\n", plat::Utf8(args[0]).c_str(), to);
  return 0;
}

qz::Register reg({"unzip", "restore a compressed file (a plain file is copied)", kUsage, Run});

}  // namespace
