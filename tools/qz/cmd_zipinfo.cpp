// qz zipinfo: what a file holds, as Ferrow's compressed-file reader sees it,
// and whether its block restores cleanly.
#include <cstring>
#include <string>

#include "ferrow.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz zipinfo FILE...\n"
    "\n"
    "For each FILE: whether it holds a compressed block (the \"@ZIP\" header and\n"
    "an LZO1X stream, as `qz zip` writes them) or plain data, the uncompressed\n"
    "size its header states, the size stored on disk, the ratio of the two, and\n"
    "whether the stream restores cleanly to exactly the stated size.\n"
    "Exit status 1 when a file cannot be read or its block does not restore.\n";

constexpr ULONG kHeaderSize = 28;

// A whole file in committed memory, given back when it goes.
class Contents {
 public:
  ~Contents() { FU_AllocVirtual(data_, 0); }
  // An empty file reads as no data and size 0.
  bool Read(const plat::wstring& path, std::string& why) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      why = qz::WhyNotOpened(GetLastError());
      return false;
    }
    LARGE_INTEGER n;
    bool ok = GetFileSizeEx(h, &n) != 0;
    if (ok && n.QuadPart > 0xFFFFFFFFll) {
      why = "too large (4 GiB or more)";
      ok = false;
    } else if (ok && n.QuadPart > 0) {
      size_ = static_cast<ULONG>(n.QuadPart);
      data_ = static_cast<unsigned char*>(FU_AllocVirtual(nullptr, size_));
      DWORD got = 0;
      if (!data_) why = "too large to hold in memory";
      ok = data_ && ReadFile(h, data_, size_, &got, nullptr) && got == size_;
      if (data_ && !ok) why = "cannot be read";
    }
    CloseHandle(h);
    return ok;
  }
  const unsigned char* data() const { return data_; }
  ULONG size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  ULONG size_ = 0;
};

// Why data is no block; empty when it is one.
const char* NoBlockBecause(const unsigned char* p, ULONG size) {
  if (size <= kHeaderSize) return "too short for a block";
  if (std::memcmp(p, "@ZIP", 4) != 0 || std::memcmp(p + 24, "@ZIP", 4) != 0) return "no \"@ZIP\" header";
  if (!(p[4] | p[5] | p[6] | p[7])) return "a header stating 0 bytes";
  return "";
}

// Prints what one file holds; false when it cannot be read or does not restore.
bool Show(const plat::wstring& path) {
  const std::string name = plat::Utf8(path);
  Contents file;
  std::string why;
  if (!file.Read(path, why)) {
    qz::Fail("zipinfo", "%s: %s", name.c_str(), why.c_str());
    return false;
  }
  const unsigned char* p = file.data();
  const ULONG size = file.size();
  qz::Out("%s\n", name.c_str());
  const char* because = NoBlockBecause(p, size);
  if (*because) {
    qz::Out("  form       plain data (%s)\n", because);
    qz::Out("  stored     %u bytes\n", size);
    return true;
  }
  const ULONG stated = p[4] | p[5] << 8 | p[6] << 16 | ULONG(p[7]) << 24;
  qz::Out("  form       compressed block\n");
  qz::Out("  stated     %u bytes\n", stated);
  qz::Out("  stored     %u bytes (header %u, stream %u)\n", size, kHeaderSize, size - kHeaderSize);
  qz::Out("  ratio      %.1f%% of the data\n", 100.0 * size / stated);

  // The restored data needs memory of the stated size: tell that apart from damage.
  void* room = FU_AllocVirtual(nullptr, stated);
  FU_AllocVirtual(room, 0);
  if (!room) {
    qz::Out("  stream     not checked\n");
    qz::Fail("zipinfo", "%s: no memory for the %u bytes it states", name.c_str(), stated);
    return false;
  }
  ULONG produced = 0;
  void* restored = FU_UnZIPMem(const_cast<unsigned char*>(p), size, &produced, FU_AllocVirtual);
  FU_AllocVirtual(restored, 0);
  if (restored && produced == stated) {
    qz::Out("  stream     restores cleanly to %u bytes\n", produced);
    return true;
  }
  if (restored) {
    qz::Out("  stream     ends after %u of the %u bytes stated\n", produced, stated);
    qz::Fail("zipinfo", "%s: the stream restores to fewer bytes than its header states", name.c_str());
  } else {
    qz::Out("  stream     damaged\n");
    qz::Fail("zipinfo", "%s: the stream does not restore (damaged, cut short or followed by other bytes)",
             name.c_str());
  }
  return false;
}

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("zipinfo", "no file given (qz zipinfo --help)");
  int status = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) qz::Out("\n");
    if (!Show(args[i])) status = 1;
  }
  return status;
}

qz::Register reg({"zipinfo", "show whether files hold compressed blocks and check them", kUsage, Run});

}  // namespace
