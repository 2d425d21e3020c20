// Fuzz target: arbitrary bytes into FU_UnZIPMem. Whatever comes in, the result
// is either nothing or exactly what LZO's own bounds-checking decompressor
// makes of the block (a copy, for data that is no block); every block taken is
// given back, none is written past its end, and the input is never read past
// its end (it lies against a page that cannot be read, and LZO is called on it
// directly, outside any fault guard). The input also goes through FU_ZIPMem and
// back, which must restore it.
//
// Built natively with clang's libFuzzer, from the repository's root:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. -Iinclude
//     fuzz/unzip_mem.cpp fileutil/zip_mem.cpp fileutil/zip_alloc.cpp
//     platform/text.cpp platform/format.cpp platform/posix/*.cpp
//     $(pkg-config --cflags --libs lzo2) -lpthread -ldl -o build/fuzz/unzip_mem
// and run as `build/fuzz/unzip_mem fuzz/corpus/unzip_mem` (add -runs=0 to replay the corpus only).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include <lzo/lzo1x.h>

#include "ferrow.h"
#include "fuzz/guarded_alloc.h"

namespace {

using namespace fuzz;

// A copy of the input that ends where an unreadable page begins.
class PageEndCopy {
 public:
  PageEndCopy(const uint8_t* data, size_t size) {
    const size_t page = 4096;
    const size_t body = (size + page - 1) / page * page;
    base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, body + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (!base_ || !VirtualProtect(base_ + body, page, PAGE_NOACCESS, &old)) Fail("no guarded input buffer");
    p_ = base_ + body - size;
    if (size) std::memcpy(p_, data, size);
  }
  ~PageEndCopy() { VirtualFree(base_, 0, MEM_RELEASE); }
  unsigned char* get() const { return p_; }

 private:
  unsigned char* base_;
  unsigned char* p_;
};

// What FU_UnZIPMem must give, from the block layout and LZO directly.
bool Expected(const unsigned char* in, ULONG size, std::vector<unsigned char>& out) {
  const bool block = size > 28 && std::memcmp(in, "@ZIP", 4) == 0 && std::memcmp(in + 24, "@ZIP", 4) == 0 &&
                     (in[4] | in[5] | in[6] | in[7]) != 0;
  if (!block) {
    out.assign(in, in + size);
    return true;
  }
  const ULONG stored = in[4] | in[5] << 8 | in[6] << 16 | static_cast<ULONG>(in[7]) << 24;
  if (stored > kLargest) return false;
  void* buffer = Alloc(nullptr, stored);
  lzo_uint n = stored;
  const int rc = lzo1x_decompress_safe(in + 28, size - 28, static_cast<unsigned char*>(buffer), &n, nullptr);
  if (rc == LZO_E_OK) out.assign(static_cast<unsigned char*>(buffer), static_cast<unsigned char*>(buffer) + n);
  Alloc(buffer, 0);
  return rc == LZO_E_OK;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (lzo_init() != LZO_E_OK) Fail("lzo_init failed");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0xFFFFFFFFu) return 0;
  const ULONG n = static_cast<ULONG>(size);
  PageEndCopy input(data, size);

  std::vector<unsigned char> want;
  const bool some = Expected(input.get(), n, want);
  ULONG outSize = 0xFFFFFFFF;
  void* r = FU_UnZIPMem(input.get(), n, &outSize, Alloc);
  if ((r != nullptr) != some) Fail(some ? "no result where LZO restores the block" : "a result where LZO fails");
  if (r) {
    // A stream may restore to nothing: memcmp must not be given want's null data then.
    if (outSize != want.size() || (!want.empty() && std::memcmp(r, want.data(), want.size()) != 0))
      Fail("result differs from LZO's");
    Alloc(r, 0);
  } else if (outSize != 0xFFFFFFFF) {
    Fail("size written on failure");
  }

  // The same bytes as data to compress: back through FU_UnZIPMem they must be themselves.
  ULONG io = n;
  void* z = FU_ZIPMem(input.get(), n, &io, Alloc);
  if (n > 44 && !z) Fail("data allowed its own size gave no result");
  if (z) {
    ULONG back = 0;
    void* u = FU_UnZIPMem(z, io, &back, Alloc);
    // Data that is itself shaped like a block comes back from FU_ZIPMem as it is and is read as one.
    const bool plainLooksLikeBlock = io == n && std::memcmp(z, input.get(), n) == 0 && n > 28 &&
                                     std::memcmp(data, "@ZIP", 4) == 0 && std::memcmp(data + 24, "@ZIP", 4) == 0;
    if (!plainLooksLikeBlock && (!u || back != n || std::memcmp(u, data, n) != 0)) Fail("round trip lost data");
    if (u) Alloc(u, 0);
    Alloc(z, 0);
  }

  if (!g_live.empty()) Fail("a block was not given back");
  return 0;
}
