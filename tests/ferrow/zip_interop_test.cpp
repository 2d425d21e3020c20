// Ferrow's blocks against LZO itself: blocks it writes are plain LZO1X streams
// behind the header, streams LZO writes (either compressor) framed by hand are
// restored, and over thousands of generated buffers FU_ZIPMem gives exactly
// the result built here from liblzo2 and the block layout.
#include "support/support.h"
#include "zip_testing.h"

namespace {

using namespace ziptest;

const Kind kKinds[] = {Kind::Zeros, Kind::Text, Kind::Binary, Kind::Random, Kind::Runs};

// Under Wine every call goes through an emulator: fewer buffers there.
#ifdef _WIN32
constexpr size_t kLastConsecutiveSize = 100;
constexpr int kRandomSizes = 25;
#else
constexpr size_t kLastConsecutiveSize = 320;
constexpr int kRandomSizes = 250;
#endif

Bytes Of(void* p, size_t n) { return Bytes(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + n); }

// The sizes worth trying: every one up to past the point where the header
// starts to pay, those around LZO1X-1's 48 KiB input chunks, then random ones.
std::vector<size_t> Sizes() {
  std::vector<size_t> sizes;
  for (size_t n = 1; n <= kLastConsecutiveSize; ++n) sizes.push_back(n);
  for (size_t n : {49151, 49152, 49153, 98304, 131072}) sizes.push_back(n);
  std::mt19937 rng(20240);
  for (int i = 0; i < kRandomSizes; ++i) sizes.push_back(1 + rng() % (i % 10 == 0 ? 70000 : 4000));
  return sizes;
}

// What FU_ZIPMem must give for data and a value `asked` at ioSize, worked out
// from the block that raw liblzo2 and the layout give: `some` false for no result.
struct Expected {
  bool some;
  Bytes result;
};

Expected Expect(const Bytes& data, const Bytes& block, ULONG asked) {
  const ULONG size = static_cast<ULONG>(data.size());
  const ULONG limit = asked == 0 || asked > size ? size : asked;
  if (limit <= 44) return {false, {}};
  if (block.size() <= limit) return {true, block};
  if (asked >= size) return {true, data};
  return {false, {}};
}

TEST(ZipInterop, GeneratedBuffersGiveWhatLzoAndTheLayoutSay) {
  CountingAllocator counting;
  size_t buffers = 0, blocks = 0, plain = 0, none = 0;
  for (Kind kind : kKinds) {
    for (size_t size : Sizes()) {
      const Bytes original = Generate(kind, size, static_cast<uint32_t>(size));
      ++buffers;
      const ULONG n = static_cast<ULONG>(size);
      const Bytes block = Frame(n, RawCompress(original));
      const ULONG blockSize = static_cast<ULONG>(block.size());
      for (ULONG asked : std::initializer_list<ULONG>{0, n, n - 1, blockSize, blockSize - 1, 45}) {
        const Expected want = Expect(original, block, asked);
        SCOPED_TRACE(::testing::Message() << KindName(kind) << " size " << size << " asked " << asked);
        for (bool withAlloc : {true, false}) {
          Bytes data = original;
          ULONG io = asked;
          void* r = FU_ZIPMem(data.data(), n, &io, withAlloc ? counting.Func() : nullptr);
          ASSERT_EQ(r != nullptr, want.some);
          if (!r) {
            ASSERT_EQ(io, asked);
            ASSERT_EQ(data, original);
            ++none;
            continue;
          }
          ASSERT_EQ(io, want.result.size());
          ASSERT_EQ(Of(r, io), want.result);
          ASSERT_EQ(r == data.data(), !withAlloc);
          ++(io == blockSize ? blocks : plain);

          // And back: a block restores the data, plain data comes back as it is.
          ULONG back = 0;
          void* u = FU_UnZIPMem(r, io, &back, counting.Func());
          ASSERT_NE(u, nullptr);
          ASSERT_EQ(Of(u, back), original);
          counting.Free(u);
          if (withAlloc) counting.Free(r);
        }
      }
    }
  }
  EXPECT_EQ(counting.live(), 0u);
  EXPECT_EQ(counting.overruns(), 0u);
  EXPECT_EQ(counting.badFrees(), 0u);
  EXPECT_GE(buffers, 5u * kLastConsecutiveSize);
  EXPECT_GT(blocks, 0u);
  EXPECT_GT(plain, 0u);
  EXPECT_GT(none, 0u);
}

TEST(ZipInterop, BlocksAreRestoredByLzosOwnDecompressor) {
  for (Kind kind : kKinds) {
    for (size_t size : {1000, 65536, 300000}) {
      const Bytes original = Generate(kind, size, 17);
      Bytes data = original;
      ULONG io = 0;
      void* r = FU_ZIPMem(data.data(), static_cast<ULONG>(size), &io, nullptr);
      if (kind == Kind::Random) {
        EXPECT_EQ(r, nullptr);
        continue;
      }
      ASSERT_EQ(r, data.data()) << KindName(kind) << " " << size;
      ASSERT_EQ(std::memcmp(data.data(), "@ZIP", 4), 0);
      ASSERT_EQ(std::memcmp(data.data() + 24, "@ZIP", 4), 0);
      Bytes out(size);
      lzo_uint n = out.size();
      ASSERT_EQ(lzo1x_decompress_safe(data.data() + 28, io - 28, out.data(), &n, nullptr), LZO_E_OK);
      EXPECT_EQ(n, size);
      EXPECT_EQ(out, original);
    }
  }
}

TEST(ZipInterop, StreamsOfEitherLzoCompressorFramedAsBlocksAreRestored) {
  CountingAllocator counting;
  for (bool best : {false, true}) {
    for (Kind kind : kKinds) {
      // Sizes where the best compressor's block is already shorter than 45 bytes, and larger ones.
      for (size_t size : {30, 37, 44, 45, 200, 5000, 100000}) {
        const Bytes original = Generate(kind, size, 23);
        Bytes block = Frame(static_cast<uint32_t>(size), RawCompress(original, best));
        ULONG out = 0;
        void* r = FU_UnZIPMem(block.data(), static_cast<ULONG>(block.size()), &out, counting.Func());
        ASSERT_NE(r, nullptr) << (best ? "999 " : "1 ") << KindName(kind) << " " << size;
        EXPECT_EQ(Of(r, out), original);
        counting.Free(r);
      }
    }
  }
  EXPECT_EQ(counting.live(), 0u);
  EXPECT_EQ(counting.overruns(), 0u);
}

}  // namespace
