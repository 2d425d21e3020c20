// Fuzz target: the codecs of the plug-in, fed arbitrary header pairs, flag
// words and frames, as a careless host would feed them. For one codec the
// input's two headers are asked about first (both queries, with and without
// the second header, and the GetFormat operations); then every pair that a
// query accepts is converted: the pair as it stands, and the pairs made of the
// first header and what GetFormat derives from it. Whatever comes in:
//
// - no conversion reads outside its input frame, which is exactly as long as
//   its header's biSizeImage says, or as its layout needs when that is 0;
// - no header is read beyond the 144 bytes of a header whose biSize is below
//   160 (each header lies in a block of the size it states);
// - nothing is written outside the frames and headers the codec allocates
//   (each one a block of exactly the size asked);
// - no fault is caught inside a codec (0x8000FFFF without a refused
//   allocation), a failed conversion leaves the output pointer null, and every
//   block of Zelku's allocator comes back.
//
// The frame bytes are the input's tail, repeated to the length the header
// asks for, so that small inputs still make whole 720-wide frames.
//
// Input: codec index, a byte of choices, the flag word (4 bytes), the
// GetFormat index, two headers of 160 bytes, then the frame's bytes.
//
// Built natively with clang's libFuzzer by scripts/fuzz, from the repository's root:
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -I. -Iinclude
//     fuzz/codec_frames.cpp codecs/*.cpp outside/zelku/*.cpp platform/text.cpp
//     platform/format.cpp platform/posix/*.cpp -lpthread -ldl -o build/fuzz/codec_frames
// and run as `build/fuzz/codec_frames fuzz/corpus/codec_frames`.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "tarnel.h"

namespace {

using Header = YUVBMINFOHEADER;

[[noreturn]] void Fail(const char* what, int codec, const char* operation, LONG status) {
  std::fprintf(stderr, "fuzz target: %s (codec %d, %s, status 0x%08x)\n", what, codec, operation, unsigned(status));
  std::abort();
}

// The largest frame the fuzz host hands out or makes: larger requests are refused.
constexpr DWORD kLargest = 8u << 20;

// Blocks of exactly the size asked (ASan sees a byte past one), refusals on
// request, all freed at the end of each input.
class FuzzAllocator final : public IFrameAllocator {
 public:
  ~FuzzAllocator() {
    for (auto& b : blocks_) std::free(b.first);
  }
  void* CODEC_CALL Alloc(DWORD size, DWORD flags) override {
    if (flags != 0) Fail("an allocation with flags", -1, "Alloc", LONG(flags));
    if (refuse || size > kLargest) {
      ++refused;
      return nullptr;
    }
    void* b = std::malloc(size ? size : 1);
    blocks_[b] = size;
    return b;
  }
  bool Owns(const void* p) const { return blocks_.count(const_cast<void*>(p)) != 0; }
  DWORD SizeOf(const void* p) const {
    auto it = blocks_.find(const_cast<void*>(p));
    return it == blocks_.end() ? 0 : it->second;
  }
  bool refuse = false;
  int refused = 0;

 private:
  std::map<void*, DWORD> blocks_;
};

class Registry final : public ICodecRegistry {
 public:
  LONG CODEC_CALL RegisterCodec(DWORD, ICodec* codec) override {
    codecs.push_back(codec);
    return 0;
  }
  std::vector<ICodec*> codecs;
};

std::vector<ICodec*>& Codecs() {
  static Registry* registry = [] {
    auto* r = new Registry;
    EnumerateCodecs(r, CODEC_INTERFACE_VERSION);
    return r;
  }();
  return registry->codecs;
}

// Every text the codecs print is formatted and dropped.
void WINAPI Drop(DWORD, int, int, const WCHAR*, void*) {}

// A header in a block of the size it states: 160 bytes when biSize is 160 or
// more, else the 144 of the extended bitmap header.
class HeaderBlock {
 public:
  explicit HeaderBlock(const Header& h) : size_(h.biSize >= sizeof(Header) ? sizeof(Header) : 144) {
    p_ = static_cast<Header*>(std::malloc(size_));
    std::memcpy(p_, &h, size_);
  }
  HeaderBlock(const FuzzAllocator& a, const Header* h) : HeaderBlock(Whole(a, h)) {}
  ~HeaderBlock() { std::free(p_); }
  HeaderBlock(const HeaderBlock&) = delete;
  HeaderBlock& operator=(const HeaderBlock&) = delete;
  Header* get() const { return p_; }

 private:
  // A header the codec allocated, read no further than its block.
  static Header Whole(const FuzzAllocator& a, const Header* h) {
    Header out;
    std::memset(&out, 0, sizeof out);
    std::memcpy(&out, h, a.SizeOf(h) < sizeof(Header) ? a.SizeOf(h) : sizeof(Header));
    if (a.SizeOf(h) < sizeof(Header) && out.biSize >= sizeof(Header)) out.biSize = 144;
    return out;
  }
  size_t size_;
  Header* p_;
};

int64_t Abs(LONG v) { return v < 0 ? -int64_t(v) : int64_t(v); }
int64_t Padded(int64_t row, DWORD align) {
  if (align == 0) align = 4;
  return (row + align - 1) / align * align;
}

// The bytes a frame's layout needs when its header gives no size: the host
// frames (RGB, 4:4:4 YUV) and the four stored layouts as they are described
// to hosts. Where a layout reads further than another would, the larger.
int64_t LayoutBytes(const Header& h, bool stored) {
  const int64_t rows = Abs(h.biHeight), w = h.biWidth < 0 ? 0 : h.biWidth;
  const bool yuv = h.biSize >= sizeof(Header) && h.dwExtDataOffset != 0;
  if (stored && h.biCompression == FOURCC_YUV && yuv && h.dwSubsampling == 0) {  // planar
    const int64_t y = (w + 63) / 64 * 64, c = (w / 2 + 63) / 64 * 64;
    return rows * (y + 2 * c) * (h.biBitCount == 32 ? 2 : 1);
  }
  if (stored && (h.biCompression == FOURCC_UYVY || (yuv && h.dwSubsampling == 512))) {  // UYVY, packed
    const int64_t row = 2 * w;
    const int64_t pitch = h.biCompression == FOURCC_YUV && int64_t(h.dwRowAlign) >= row ? h.dwRowAlign
                                                                                         : Padded(row, h.dwRowAlign);
    return rows * pitch;
  }
  const int64_t row = w * h.biBitCount / 8;
  return rows * std::max<int64_t>(Padded(row, h.dwRowAlign), (row + 3) / 4 * 4);
}

// An input frame of exactly the bytes its header says it has, filled from the fuzz input.
std::vector<uint8_t> Frame(const Header& h, bool stored, const uint8_t* tail, size_t n) {
  const int64_t size = h.biSizeImage ? int64_t(h.biSizeImage) : LayoutBytes(h, stored);
  if (size <= 0 || size > kLargest) return {};
  std::vector<uint8_t> f(size_t(size), 0x80);
  if (n == 0) return f;
  size_t filled = std::min(n, f.size());
  std::memcpy(f.data(), tail, filled);
  while (filled < f.size()) {
    const size_t more = std::min(filled, f.size() - filled);
    std::memcpy(f.data() + filled, f.data(), more);
    filled += more;
  }
  return f;
}

// QZ_FUZZ_TRACE=1 shows each conversion's status on stderr.
bool Tracing() {
  static const bool on = std::getenv("QZ_FUZZ_TRACE") != nullptr;
  return on;
}

bool Allowed(LONG s) {
  return s == CODEC_OK || s == CODEC_E_FORMAT || s == CODEC_E_NOHEADER || s == CODEC_E_NOFRAME ||
         s == CODEC_E_UNEXPECTED || s == CODEC_E_NOTIMPL;
}

struct Run {
  int index;
  ICodec* codec;
  FuzzAllocator& alloc;
  const DWORD* flags;
  bool failScratch;
  const uint8_t* tail;
  size_t tailSize;

  void Check(const char* op, LONG status, bool conversion, void* out, int refusedBefore) {
    if (Tracing() && conversion) std::fprintf(stderr, "codec %d: %s 0x%08x\n", index, op, unsigned(status));
    if (!Allowed(status)) Fail("an unknown status", index, op, status);
    const bool refusedHere = alloc.refused > refusedBefore;
    if (status == CODEC_E_UNEXPECTED && !refusedHere && !(conversion && failScratch))
      Fail("a fault was caught inside the codec", index, op, status);
    if (conversion && status != CODEC_OK && out) Fail("a failed conversion left an output frame", index, op, status);
    if (conversion && status == CODEC_OK && (!out || !alloc.Owns(out)))
      Fail("a conversion succeeded without a frame of the host's", index, op, status);
  }

  // Decodes `in` into `out` when the codec's query takes the pair.
  void Decode(const Header& in, const Header& out) {
    HeaderBlock a(in), b(out);
    if (codec->DecompressQuery(a.get(), b.get()) != CODEC_OK) return;
    const std::vector<uint8_t> frame = Frame(in, true, tail, tailSize);
    if (frame.empty()) return;
    void* result = nullptr;
    const int refused = alloc.refused;
    const LONG s = codec->Decompress(a.get(), frame.data(), b.get(), &result, flags, &alloc, 0);
    Check("Decompress", s, true, result, refused);
  }

  // Encodes `in` into `out` when the codec's query takes the pair (and writes its size).
  void Encode(const Header& in, const Header& out) {
    HeaderBlock a(in), b(out);
    if (codec->CompressQuery(a.get(), b.get()) != CODEC_OK) return;
    const std::vector<uint8_t> frame = Frame(in, false, tail, tailSize);
    if (frame.empty()) return;
    void* result = nullptr;
    const int refused = alloc.refused;
    if (failScratch) ZelkuFailAllocation(1);
    const LONG s = codec->Compress(a.get(), frame.data(), b.get(), &result, flags, &alloc, 0);
    ZelkuFailAllocation(0);
    Check("Compress", s, true, result, refused);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ZelkuSetLevel(8, 100);
  ZelkuSetCapture(&Drop, nullptr);
  if (Codecs().size() != 6) {
    std::fprintf(stderr, "fuzz target: %zu codecs registered\n", Codecs().size());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7) return 0;
  const int index = data[0] % 6;
  const uint8_t choice = data[1];
  DWORD flagWord;
  std::memcpy(&flagWord, data + 2, 4);
  const DWORD formatIndex = data[6] % 9;
  Header h[2];
  std::memset(h, 0, sizeof h);
  size_t at = 7;
  for (Header& x : h) {
    const size_t n = size - at < sizeof(Header) ? size - at : sizeof(Header);
    std::memcpy(&x, data + at, n);
    at += n;
  }
  const LONG liveBefore = ZelkuLiveBlocks();
  {
    FuzzAllocator alloc;
    alloc.refuse = (choice & 0x40) != 0;
    Run run{index, Codecs()[size_t(index)], alloc, (choice & 0x80) ? nullptr : &flagWord, (choice & 0x20) != 0,
            data + at, size - at};
    ICodec* codec = run.codec;

    // The queries: the pair, the first header alone.
    {
      HeaderBlock a(h[0]), b(h[1]);
      run.Check("DecompressQuery", codec->DecompressQuery(a.get(), b.get()), false, nullptr, alloc.refused);
      run.Check("DecompressQuery", codec->DecompressQuery(a.get(), nullptr), false, nullptr, alloc.refused);
      run.Check("CompressQuery", codec->CompressQuery(a.get(), b.get()), false, nullptr, alloc.refused);
      run.Check("CompressQuery", codec->CompressQuery(a.get(), nullptr), false, nullptr, alloc.refused);
    }
    // The pair as it stands, both ways.
    run.Decode(h[0], h[1]);
    run.Encode(h[0], h[1]);

    // What GetFormat derives from the first header, and its conversion.
    const bool refuse = alloc.refuse;
    alloc.refuse = false;
    Header* derived = nullptr;
    HeaderBlock a(h[0]);
    int refused = alloc.refused;
    LONG s = codec->DecompressGetFormat(a.get(), &derived, &alloc, formatIndex);
    run.Check("DecompressGetFormat", s, false, nullptr, refused);
    if (s == CODEC_OK) {
      if (!derived || !alloc.Owns(derived)) Fail("a header not of the host's", index, "DecompressGetFormat", s);
      HeaderBlock d(alloc, derived);
      alloc.refuse = refuse;
      run.Decode(h[0], *d.get());
      alloc.refuse = false;
    }
    derived = nullptr;
    refused = alloc.refused;
    s = codec->CompressGetFormat(a.get(), &derived, &alloc);
    run.Check("CompressGetFormat", s, false, nullptr, refused);
    if (s == CODEC_OK) {
      if (!derived || !alloc.Owns(derived)) Fail("a header not of the host's", index, "CompressGetFormat", s);
      HeaderBlock d(alloc, derived);
      alloc.refuse = refuse;
      run.Encode(h[0], *d.get());
      // The stored frame that encoding makes of such a picture, decoded back.
      Header stored = *d.get();
      for (DWORD i = 0; i < 9; ++i) {
        Header* back = nullptr;
        alloc.refuse = false;
        if (codec->DecompressGetFormat(d.get(), &back, &alloc, i) != CODEC_OK) break;
        HeaderBlock out(alloc, back);
        alloc.refuse = refuse;
        run.Decode(stored, *out.get());
      }
    }
  }
  if (ZelkuLiveBlocks() != liveBefore) Fail("a block of Zelku's allocator was not returned", index, "-", 0);
  return 0;
}
