// Memory compression: LZO1X-1 inside the 28-byte block header, and back.
//
// Every read of the caller's memory runs under the access-fault guard, and
// every block taken is given back on every way out. The caller's allocator is
// never called under the guard: a fault inside it is the caller's to see.
#include <cstring>

#include <lzo/lzo1x.h>

#include "ferrow.h"
#include "zip_block.h"

namespace {

using namespace ferrow::zip;


// Touches every page of [p, p + n) with a write of the byte it holds, so that
// a copy over it cannot stop half-way on a page that is not writable.
void ProbeWritable(void* p, size_t n) {
  volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
  for (size_t i = 0; i < n; i += 4096) b[i] = b[i];
  if (n) b[n - 1] = b[n - 1];
}

}  // namespace

namespace ferrow {
namespace zip {

ULONG CompressInto(const unsigned char* data, ULONG size, unsigned char* out) {
  // LZO1X-1's dictionary, per call and on the stack: 64 KiB on win32 (128 KiB
  // natively, pointers being wider), well within the 2 MiB that MinGW-linked
  // programs reserve for each thread's stack by default.
  lzo_align_t work[(LZO1X_1_MEM_COMPRESS + sizeof(lzo_align_t) - 1) / sizeof(lzo_align_t)];
  WriteHeader(out, size);
  lzo_uint stream = 0;
  lzo1x_1_compress(data, size, out + kHeaderSize, &stream, work);  // LZO1X-1 cannot fail
  return static_cast<ULONG>(kHeaderSize + stream);
}

bool RestoreInto(const unsigned char* block, ULONG size, unsigned char* out, ULONG stored, ULONG& produced) {
  // The decompressor neither reads past the stream nor writes past `stored`,
  // and a stream that ends early, runs on, or points back before the output's
  // start is an error.
  lzo_uint n = stored;
  if (lzo1x_decompress_safe(block + kHeaderSize, size - kHeaderSize, out, &n, nullptr) != LZO_E_OK) return false;
  produced = static_cast<ULONG>(n);
  return true;
}

}  // namespace zip
}  // namespace ferrow

FERROW_API void* WINAPI FU_ZIPMem(void* data, ULONG size, ULONG* ioSize, FU_AllocFunc alloc) {
  if (!data || size == 0 || !ioSize) return nullptr;
  ULONG asked = 0;
  if (!plat::Guarded([&] { asked = *ioSize; })) return nullptr;
  const ULONG limit = (asked == 0 || asked > size) ? size : asked;
  if (limit <= kNeverCompressed) return nullptr;

  const unsigned long long room = kHeaderSize + WorstCaseStream(size);
  if (room > 0xFFFFFFFFull) return nullptr;  // more than any allocator can be asked for
  // Without an allocator the output goes to a temporary block of committed
  // virtual memory and is copied back over the caller's data.
  Block out(alloc ? alloc : FU_AllocVirtual, static_cast<ULONG>(room));
  if (!out) return nullptr;

  ULONG blockSize = 0;  // no more than room
  if (!plat::Guarded([&] { blockSize = CompressInto(static_cast<const unsigned char*>(data), size, out.get()); }))
    return nullptr;

  if (blockSize <= limit) {
    if (alloc) return plat::Guarded([&] { *ioSize = blockSize; }) ? out.release() : nullptr;
    // In place: make sure all of it can be written before the caller's data changes.
    bool done = plat::Guarded([&] {
      ProbeWritable(ioSize, sizeof *ioSize);
      ProbeWritable(data, blockSize);
      std::memcpy(data, out.get(), blockSize);
      *ioSize = blockSize;
    });
    return done ? data : nullptr;
  }

  // The block does not pay; the data itself is the result if the caller allowed its size.
  if (asked < size) return nullptr;
  if (alloc) {
    bool done = plat::Guarded([&] {
      std::memcpy(out.get(), data, size);
      *ioSize = size;
    });
    return done ? out.release() : nullptr;
  }
  out.reset();
  return plat::Guarded([&] { *ioSize = size; }) ? data : nullptr;
}

FERROW_API void* WINAPI FU_UnZIPMem(void* data, ULONG size, ULONG* outSize, FU_AllocFunc alloc) {
  if (!data || size == 0 || !outSize || !alloc) return nullptr;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  ULONG stored = 0;
  if (!plat::Guarded([&] { stored = StoredSize(in, size); })) return nullptr;

  if (stored) {
    Block out(alloc, stored);
    if (!out) return nullptr;
    // A size field larger than the stream's output is no error: the result is what it made.
    ULONG produced = 0;
    bool restored = false;
    bool read = plat::Guarded([&] {
      restored = RestoreInto(in, size, out.get(), stored, produced);
      if (restored) *outSize = produced;
    });
    return read && restored ? out.release() : nullptr;
  }

  Block out(alloc, size);
  if (!out) return nullptr;
  bool read = plat::Guarded([&] {
    std::memcpy(out.get(), in, size);
    *outSize = size;
  });
  return read ? out.release() : nullptr;
}
