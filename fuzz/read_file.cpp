// Fuzz target: arbitrary bytes, written to a file, read back with FU_ReadFile.
// Whatever the file holds, the result is nothing or exactly what the block
// layout and LZO's own bounds-checking decompressor make of it (the bytes
// themselves, for a file that is no block); an empty file gives nothing. It is
// read through an allocator with books (guard bytes on both sides of each
// block; every block given back; allocations refused one after the other, so
// that every way out is taken) and through FU_AllocProcHeap.
//
// Built natively with clang's libFuzzer by scripts/fuzz (`scripts/fuzz 60 read_file`),
// or from the repository's root:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. -Iinclude
//     fuzz/read_file.cpp fileutil/*.cpp (all but ferrow_main.cpp)
//     platform/text.cpp platform/format.cpp platform/posix/*.cpp
//     $(pkg-config --cflags --libs lzo2) -lpthread -ldl -o build/fuzz/read_file
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <lzo/lzo1x.h>

#include "ferrow.h"
#include "fuzz/guarded_alloc.h"
#include "platform/text.h"

namespace {

using namespace fuzz;

// What FU_ReadFile must give for a file holding these bytes: false for nothing.
bool Expected(const unsigned char* in, size_t size, std::vector<unsigned char>& out) {
  if (size == 0) return false;
  const bool magics = size >= 28 && std::memcmp(in, "@ZIP", 4) == 0 && std::memcmp(in + 24, "@ZIP", 4) == 0;
  const ULONG stated = magics ? in[4] | in[5] << 8 | in[6] << 16 | static_cast<ULONG>(in[7]) << 24 : 0;
  if (size == 28 || stated == 0) {
    out.assign(in, in + size);
    return true;
  }
  if (stated > kLargest) return false;
  std::vector<unsigned char> buffer(stated);
  lzo_uint n = stated;
  if (lzo1x_decompress_safe(in + 28, size - 28, buffer.data(), &n, nullptr) != LZO_E_OK) return false;
  out.assign(buffer.begin(), buffer.begin() + n);
  return true;
}

// The file each input is written to, one per fuzzing process.
const std::string& FilePath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("qz-read_file-" + std::to_string(GetCurrentProcessId()) + ".bin"))
          .string();
  return path;
}

// A stream may restore to nothing: then there is nothing to compare (and no
// pointer memcmp may be given).
bool Same(const void* r, ULONG n, const std::vector<unsigned char>& want) {
  return n == want.size() && (want.empty() || std::memcmp(r, want.data(), want.size()) == 0);
}

void WriteInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(FilePath().c_str(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) Fail("cannot write the input file");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (lzo_init() != LZO_E_OK) Fail("lzo_init failed");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  const plat::wstring path = plat::Wide(FilePath());
  std::vector<unsigned char> want;
  const bool some = Expected(data, size, want);

  // With every allocation granted: the expected result, in one block.
  g_allowed = SIZE_MAX;
  g_made = 0;
  ULONG outSize = 0xFFFFFFFF;
  void* r = FU_ReadFile(path.c_str(), &outSize, Alloc);
  if ((r != nullptr) != some) Fail(some ? "no result where one was due" : "a result where none was due");
  if (r && !Same(r, outSize, want)) Fail("result differs");
  if (!r && outSize != 0) Fail("size not 0 on failure");
  if (r) Alloc(r, 0);
  if (!g_live.empty()) Fail("a block was not given back");

  // Refused at each allocation in turn: nothing, with nothing left.
  const size_t made = g_made;
  for (size_t allowed = 0; allowed < made; ++allowed) {
    g_allowed = allowed;
    outSize = 0xFFFFFFFF;
    r = FU_ReadFile(path.c_str(), &outSize, Alloc);
    if (r) Fail("a result with an allocation refused");
    if (outSize != 0) Fail("size not 0 on failure");
    if (!g_live.empty()) Fail("a block was not given back after a refusal");
  }

  // The process heap, for sizes it is sensible to ask of it.
  const bool huge = size > 28 && std::memcmp(data, "@ZIP", 4) == 0 &&
                    (data[4] | data[5] << 8 | data[6] << 16 | static_cast<ULONG>(data[7]) << 24) > kLargest;
  if (!huge) {
    r = FU_ReadFile(path.c_str(), &outSize, FU_AllocProcHeap);
    if ((r != nullptr) != some) Fail("the process heap gave another outcome");
    if (r && !Same(r, outSize, want)) Fail("result differs (heap)");
    FU_AllocProcHeap(r, 0);
  }
  std::remove(FilePath().c_str());  // libFuzzer may end the process without running atexit handlers
  return 0;
}
