// Memory compression: the allocator functions, the size rules of FU_ZIPMem
// with and without an allocator, FU_UnZIPMem on plain and damaged data, and
// failures (refused memory, unreadable or unwritable memory) that leave
// nothing allocated and the caller's size untouched.
#include <chrono>
#include <future>

#include "support/support.h"
#include "zip_testing.h"

namespace {

using namespace ziptest;

constexpr ULONG kUntouched = 0xDEADBEEF;

// ---- the allocator functions ----

struct AllocatorCase {
  const char* name;
  FU_AllocFunc alloc;
};

class AllocatorFunction : public ::testing::TestWithParam<AllocatorCase> {};

TEST_P(AllocatorFunction, AllocatesOnNullAndSizeFreesOnBlockAndZeroOnly) {
  FU_AllocFunc alloc = GetParam().alloc;
  EXPECT_EQ(alloc(nullptr, 0), nullptr);
  auto* p = static_cast<unsigned char*>(alloc(nullptr, 100000));
  ASSERT_NE(p, nullptr);
  std::memset(p, 0x7E, 100000);
  // A block with a size is neither freed nor reallocated.
  EXPECT_EQ(alloc(p, 10), nullptr);
  EXPECT_EQ(p[0], 0x7E);
  EXPECT_EQ(p[99999], 0x7E);
  EXPECT_EQ(alloc(p, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ferrow, AllocatorFunction,
                         ::testing::Values(AllocatorCase{"Virtual", FU_AllocVirtual},
                                           AllocatorCase{"ProcHeap", FU_AllocProcHeap}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AllocVirtual, CommitsReadWritePagesAndReleasesTheWholeRegion) {
  void* p = FU_AllocVirtual(nullptr, 70000);
  ASSERT_NE(p, nullptr);
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(VirtualQuery(p, &info, sizeof info), 0u);
  EXPECT_EQ(info.AllocationBase, p);
  EXPECT_EQ(info.State, DWORD(MEM_COMMIT));
  EXPECT_EQ(info.Protect, DWORD(PAGE_READWRITE));
  EXPECT_GE(info.RegionSize, SIZE_T(70000));
  FU_AllocVirtual(p, 10);
  ASSERT_NE(VirtualQuery(p, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, DWORD(MEM_COMMIT));
  FU_AllocVirtual(p, 0);
  ASSERT_NE(VirtualQuery(p, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, DWORD(MEM_FREE));
}

TEST(AllocProcHeap, BlocksBelongToTheProcessHeap) {
  void* p = FU_AllocProcHeap(nullptr, 1234);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, p), SIZE_T(1234));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, p));
  p = HeapAlloc(GetProcessHeap(), 0, 10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(FU_AllocProcHeap(p, 0), nullptr);  // and the heap's own blocks are freed by it
}

// ---- FU_ZIPMem: the size rules ----

enum class Outcome { Null, Block, Plain };

struct ZipCase {
  const char* name;
  Kind kind;
  ULONG size;
  ULONG asked;  // the value at ioSize on entry
  Outcome outcome;
};

const ZipCase kZipCases[] = {
    {"Size44", Kind::Zeros, 44, 0, Outcome::Null},
    {"Size44AllowedWhole", Kind::Random, 44, 44, Outcome::Null},
    // LZO1X-1 makes no stream short enough for the header to pay below 62 zero bytes.
    {"Size45Zeros", Kind::Zeros, 45, 0, Outcome::Null},
    {"Size61Zeros", Kind::Zeros, 61, 0, Outcome::Null},
    {"Size62Zeros", Kind::Zeros, 62, 0, Outcome::Block},
    {"Limit44", Kind::Zeros, 1000, 44, Outcome::Null},
    {"Limit45TooSmall", Kind::Zeros, 1000, 45, Outcome::Null},
    {"ZerosNoLimit", Kind::Zeros, 1000, 0, Outcome::Block},
    {"LimitAboveSize", Kind::Text, 5000, 9000, Outcome::Block},
    {"TextNoLimit", Kind::Text, 70000, 0, Outcome::Block},
    {"RandomNoLimit", Kind::Random, 1000, 0, Outcome::Null},
    {"RandomJustUnderSize", Kind::Random, 1000, 999, Outcome::Null},
    {"RandomAllowedWhole", Kind::Random, 1000, 1000, Outcome::Plain},
    {"RandomAllowedMore", Kind::Random, 1000, 5000, Outcome::Plain},
    {"Random45AllowedWhole", Kind::Random, 45, 45, Outcome::Plain},
};

class ZipMemRule : public ::testing::TestWithParam<std::tuple<ZipCase, bool>> {};

TEST_P(ZipMemRule, GivesTheBlockThePlainDataOrNothing) {
  const ZipCase& c = std::get<0>(GetParam());
  const bool withAlloc = std::get<1>(GetParam());
  const Bytes original = Generate(c.kind, c.size, 7);
  const Bytes expectedBlock = Frame(c.size, RawCompress(original));
  const ULONG limit = (c.asked == 0 || c.asked > c.size) ? c.size : c.asked;
  ASSERT_EQ(expectedBlock.size() <= limit && limit > 44, c.outcome == Outcome::Block) << "LZO makes another stream";

  CountingAllocator counting;
  Bytes data = original;
  ULONG io = c.asked;
  void* r = FU_ZIPMem(data.data(), c.size, &io, withAlloc ? counting.Func() : nullptr);

  switch (c.outcome) {
    case Outcome::Null:
      EXPECT_EQ(r, nullptr);
      EXPECT_EQ(io, c.asked);
      EXPECT_EQ(data, original);
      break;
    case Outcome::Block: {
      ASSERT_NE(r, nullptr);
      ASSERT_EQ(io, expectedBlock.size());
      auto* b = static_cast<unsigned char*>(r);
      EXPECT_EQ(Bytes(b, b + io), expectedBlock);
      if (withAlloc) {
        EXPECT_NE(r, data.data());
        EXPECT_EQ(data, original);
      } else {
        // In place: the block over the start of the data, the rest as it was.
        EXPECT_EQ(r, data.data());
        EXPECT_TRUE(std::equal(data.begin() + io, data.end(), original.begin() + io));
      }
      break;
    }
    case Outcome::Plain:
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(io, c.size);
      EXPECT_EQ(r == data.data(), !withAlloc);
      EXPECT_EQ(Bytes(static_cast<unsigned char*>(r), static_cast<unsigned char*>(r) + c.size), original);
      EXPECT_EQ(data, original);
      break;
  }
  // One block at most, none below the floor, and the result is all that stays.
  EXPECT_EQ(counting.allocations(), withAlloc && limit > 44 ? 1u : 0u);
  EXPECT_EQ(counting.live(), (withAlloc && r) ? 1u : 0u);
  if (withAlloc && r) counting.Free(r);
  EXPECT_EQ(counting.overruns(), 0u);
  EXPECT_EQ(counting.badFrees(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ferrow, ZipMemRule, ::testing::Combine(::testing::ValuesIn(kZipCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Alloc" : "_InPlace");
                         });

TEST(ZipMem, AResultOfExactlyTheLimitFits) {
  const Bytes original = Generate(Kind::Text, 3000, 3);
  const ULONG blockSize = static_cast<ULONG>(28 + RawCompress(original).size());
  ASSERT_LT(blockSize, 3000u);
  for (bool withAlloc : {true, false}) {
    CountingAllocator counting;
    Bytes data = original;
    ULONG io = blockSize;
    void* r = FU_ZIPMem(data.data(), 3000, &io, withAlloc ? counting.Func() : nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(io, blockSize);
    if (withAlloc) counting.Free(r);

    data = original;
    io = blockSize - 1;
    EXPECT_EQ(FU_ZIPMem(data.data(), 3000, &io, withAlloc ? counting.Func() : nullptr), nullptr);
    EXPECT_EQ(io, blockSize - 1);
    EXPECT_EQ(data, original);
    EXPECT_EQ(counting.live(), 0u);
  }
}

TEST(ZipMem, MissingArgumentsGiveNothing) {
  CountingAllocator counting;
  Bytes data(1000, 0);
  ULONG io = kUntouched;
  EXPECT_EQ(FU_ZIPMem(nullptr, 1000, &io, counting.Func()), nullptr);
  EXPECT_EQ(FU_ZIPMem(data.data(), 0, &io, counting.Func()), nullptr);
  EXPECT_EQ(FU_ZIPMem(data.data(), 1000, nullptr, counting.Func()), nullptr);
  EXPECT_EQ(io, kUntouched);
  EXPECT_EQ(counting.allocations(), 0u);
}

TEST(ZipMem, RefusedMemoryGivesNothing) {
  CountingAllocator counting;
  counting.FailAfter(0);
  Bytes data(1000, 0);
  ULONG io = 0;
  EXPECT_EQ(FU_ZIPMem(data.data(), 1000, &io, counting.Func()), nullptr);
  EXPECT_EQ(io, 0u);
  EXPECT_EQ(data, Bytes(1000, 0));
}

TEST(ZipMem, AsksForTheWorstCaseOfLzo1xBesideTheHeader) {
  CountingAllocator counting;
  Bytes data = Generate(Kind::Random, 100000, 1);
  ULONG io = 100000;
  void* r = FU_ZIPMem(data.data(), 100000, &io, counting.Func());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(counting.SizeOf(r), 28u + 100000 + 100000 / 16 + 64 + 3);
  counting.Free(r);
}

// ---- FU_UnZIPMem ----

TEST(UnZipMem, EveryArgumentIsRequired) {
  CountingAllocator counting;
  Bytes data = Generate(Kind::Text, 100, 1);
  ULONG out = kUntouched;
  EXPECT_EQ(FU_UnZIPMem(nullptr, 100, &out, counting.Func()), nullptr);
  EXPECT_EQ(FU_UnZIPMem(data.data(), 0, &out, counting.Func()), nullptr);
  EXPECT_EQ(FU_UnZIPMem(data.data(), 100, nullptr, counting.Func()), nullptr);
  EXPECT_EQ(FU_UnZIPMem(data.data(), 100, &out, nullptr), nullptr);
  EXPECT_EQ(out, kUntouched);
  EXPECT_EQ(counting.allocations(), 0u);
}

struct PlainCase {
  const char* name;
  Bytes data;
};

Bytes WithMagics(Bytes b, bool first, bool second, uint32_t sizeField) {
  if (first) std::memcpy(b.data(), "@ZIP", 4);
  if (second) std::memcpy(b.data() + 24, "@ZIP", 4);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<unsigned char>(sizeField >> (8 * i));
  return b;
}

class UnZipMemPlain : public ::testing::TestWithParam<PlainCase> {};

TEST_P(UnZipMemPlain, CopiesDataThatIsNoBlock) {
  const Bytes& data = GetParam().data;
  CountingAllocator counting;
  ULONG out = kUntouched;
  void* r = FU_UnZIPMem(const_cast<unsigned char*>(data.data()), static_cast<ULONG>(data.size()), &out, counting.Func());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(out, data.size());
  EXPECT_EQ(counting.SizeOf(r), data.size());
  EXPECT_EQ(Bytes(static_cast<unsigned char*>(r), static_cast<unsigned char*>(r) + out), data);
  counting.Free(r);
  EXPECT_EQ(counting.overruns(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ferrow, UnZipMemPlain,
    ::testing::Values(PlainCase{"HeaderOnly28Bytes", WithMagics(Bytes(28, 1), true, true, 1000)},
                      PlainCase{"SizeFieldZero", WithMagics(Generate(Kind::Random, 200, 2), true, true, 0)},
                      PlainCase{"FirstMagicOnly", WithMagics(Generate(Kind::Random, 200, 3), true, false, 100)},
                      PlainCase{"SecondMagicOnly", WithMagics(Generate(Kind::Random, 200, 4), false, true, 100)},
                      PlainCase{"OneByte", Bytes{'@'}},
                      PlainCase{"Text", Generate(Kind::Text, 5000, 5)}),
    [](const auto& info) { return std::string(info.param.name); });

// A block of 5000 bytes of text, damaged in the ways a file or a transfer damages it.
struct DamageCase {
  const char* name;
  void (*damage)(Bytes& block);
  bool restores;  // to the original data
};

const DamageCase kDamageCases[] = {
    {"Intact", [](Bytes&) {}, true},
    {"ByteAppended", [](Bytes& b) { b.push_back(0); }, false},
    {"LastByteCut", [](Bytes& b) { b.pop_back(); }, false},
    {"HalfCut", [](Bytes& b) { b.resize(28 + (b.size() - 28) / 2); }, false},
    {"OneStreamByteLeft", [](Bytes& b) { b.resize(29); }, false},
    {"SizeFieldOneShort", [](Bytes& b) { b[4] -= 1; }, false},
    {"SizeFieldHuge", [](Bytes& b) { b[7] = 0xFF; }, false},
    {"StreamOfGarbage", [](Bytes& b) { std::fill(b.begin() + 28, b.end(), 0xFF); }, false},
};

class UnZipMemDamaged : public ::testing::TestWithParam<DamageCase> {};

TEST_P(UnZipMemDamaged, FailsWithNothingLeftOrRestoresExactly) {
  const Bytes original = Generate(Kind::Text, 5000, 9);
  Bytes block = Frame(5000, RawCompress(original));
  GetParam().damage(block);
  CountingAllocator counting;
  counting.Refuse(1u << 24);
  ULONG out = kUntouched;
  void* r = FU_UnZIPMem(block.data(), static_cast<ULONG>(block.size()), &out, counting.Func());
  if (GetParam().restores) {
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(out, 5000u);
    EXPECT_EQ(Bytes(static_cast<unsigned char*>(r), static_cast<unsigned char*>(r) + out), original);
    counting.Free(r);
  } else {
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(out, kUntouched);
  }
  EXPECT_EQ(counting.live(), 0u);
  EXPECT_EQ(counting.overruns(), 0u);
  EXPECT_EQ(counting.badFrees(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ferrow, UnZipMemDamaged, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(UnZipMem, ASizeFieldAboveTheStreamsOutputGivesWhatTheStreamMade) {
  const Bytes original = Generate(Kind::Binary, 3000, 4);
  Bytes block = Frame(3000 + 500, RawCompress(original));
  CountingAllocator counting;
  ULONG out = 0;
  void* r = FU_UnZIPMem(block.data(), static_cast<ULONG>(block.size()), &out, counting.Func());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(out, 3000u);
  EXPECT_EQ(counting.SizeOf(r), 3500u);
  EXPECT_EQ(Bytes(static_cast<unsigned char*>(r), static_cast<unsigned char*>(r) + out), original);
  counting.Free(r);
}

TEST(UnZipMem, FlippedBitsGiveNothingOrWhatLzoItselfRestores) {
  const Bytes original = Generate(Kind::Text, 400, 11);
  const Bytes block = Frame(400, RawCompress(original));
  CountingAllocator counting;
  for (size_t at = 28; at < block.size(); ++at) {
    for (unsigned char flip : {0x01, 0x10, 0x80, 0xFF}) {
      Bytes damaged = block;
      damaged[at] ^= flip;
      Bytes expected(400);
      lzo_uint n = expected.size();
      int rc = lzo1x_decompress_safe(damaged.data() + 28, damaged.size() - 28, expected.data(), &n, nullptr);
      ULONG out = kUntouched;
      void* r = FU_UnZIPMem(damaged.data(), static_cast<ULONG>(damaged.size()), &out, counting.Func());
      SCOPED_TRACE(::testing::Message() << "byte " << at << " ^ " << int(flip));
      if (rc != LZO_E_OK) {
        EXPECT_EQ(r, nullptr);
        EXPECT_EQ(out, kUntouched);
      } else {
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(out, n);
        EXPECT_EQ(Bytes(static_cast<unsigned char*>(r), static_cast<unsigned char*>(r) + n),
                  Bytes(expected.begin(), expected.begin() + n));
        counting.Free(r);
      }
      ASSERT_EQ(counting.live(), 0u);
    }
  }
  EXPECT_EQ(counting.overruns(), 0u);
  EXPECT_EQ(counting.badFrees(), 0u);
}

TEST(UnZipMem, RefusedMemoryGivesNothing) {
  const Bytes original = Generate(Kind::Text, 1000, 1);
  Bytes block = Frame(1000, RawCompress(original));
  for (Bytes* data : {&block, const_cast<Bytes*>(&original)}) {
    CountingAllocator counting;
    counting.FailAfter(0);
    ULONG out = kUntouched;
    EXPECT_EQ(FU_UnZIPMem(data->data(), static_cast<ULONG>(data->size()), &out, counting.Func()), nullptr);
    EXPECT_EQ(out, kUntouched);
  }
}

// ---- memory that cannot be read or written ----

class ZipFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose";
  }
};

TEST_F(ZipFaults, UnreadableSourceOrSizeGivesNothingAndFreesTheBuffer) {
  Pages pages(2);
  ASSERT_TRUE(pages.Protect(1, PAGE_NOACCESS));
  unsigned char* data = pages.page(1) - 1000;  // runs into the unreadable page
  std::memset(data, 0, 1000);
  for (bool withAlloc : {true, false}) {
    CountingAllocator counting;
    ULONG io = 0;
    EXPECT_EQ(FU_ZIPMem(data, 2000, &io, withAlloc ? counting.Func() : nullptr), nullptr);
    EXPECT_EQ(io, 0u);
    EXPECT_EQ(counting.allocations(), withAlloc ? 1u : 0u);
    EXPECT_EQ(counting.live(), 0u);
    EXPECT_EQ(FU_ZIPMem(data, 1000, reinterpret_cast<ULONG*>(pages.page(1)), counting.Func()), nullptr);
    EXPECT_EQ(counting.live(), 0u);
  }
}

TEST_F(ZipFaults, InPlaceResultIsNotWrittenOverDataThatIsOnlyPartlyWritable) {
  Pages pages(2);
  const Bytes original = Generate(Kind::Text, 30000, 5);
  unsigned char* data = pages.page(1) - 100;
  std::memcpy(data, original.data(), original.size());
  ASSERT_TRUE(pages.Protect(1, PAGE_READONLY));
  ULONG io = 0;
  EXPECT_EQ(FU_ZIPMem(data, 30000, &io, nullptr), nullptr);
  EXPECT_EQ(io, 0u);
  EXPECT_EQ(Bytes(data, data + original.size()), original);
}

TEST_F(ZipFaults, UnreadableBlockOrPlainDataGivesNothingAndFreesTheOutput) {
  Pages pages(2);
  const Bytes block = Frame(30000, RawCompress(Generate(Kind::Text, 30000, 6)));
  ASSERT_GT(block.size(), 2000u);
  const Bytes plain = Generate(Kind::Random, 2000, 6);
  for (const Bytes* source : {&block, &plain}) {
    unsigned char* data = pages.page(1) - 1000;  // the rest would lie in the unreadable page
    std::memcpy(data, source->data(), 1000);
    ASSERT_TRUE(pages.Protect(1, PAGE_NOACCESS));
    CountingAllocator counting;
    ULONG out = kUntouched;
    EXPECT_EQ(FU_UnZIPMem(data, static_cast<ULONG>(source->size()), &out, counting.Func()), nullptr);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(counting.allocations(), 1u);
    EXPECT_EQ(counting.live(), 0u);
    ASSERT_TRUE(pages.Protect(1, PAGE_READWRITE));
  }
}

TEST_F(ZipFaults, UnwritableOutSizeGivesNothingAndFreesTheOutput) {
  Pages pages(1);
  ASSERT_TRUE(pages.Protect(0, PAGE_READONLY));
  Bytes block = Frame(1000, RawCompress(Bytes(1000, 0)));
  CountingAllocator counting;
  EXPECT_EQ(FU_UnZIPMem(block.data(), static_cast<ULONG>(block.size()), reinterpret_cast<ULONG*>(pages.page(0)),
                        counting.Func()),
            nullptr);
  EXPECT_EQ(counting.allocations(), 1u);
  EXPECT_EQ(counting.live(), 0u);
}

// ---- threads ----

TEST(ZipMem, CallsOnSeveralThreadsAtOnceKeepApart) {
  CountingAllocator counting;
  auto work = [&](uint32_t seed) {
    for (int round = 0; round < 10; ++round) {
      const Bytes original = Generate(round % 2 ? Kind::Text : Kind::Binary, 40000 + seed * 1000, seed + round);
      Bytes data = original;
      ULONG io = 0;
      void* z = FU_ZIPMem(data.data(), static_cast<ULONG>(data.size()), &io, round % 3 ? counting.Func() : nullptr);
      if (!z) return false;
      ULONG n = 0;
      auto* u = static_cast<unsigned char*>(FU_UnZIPMem(z, io, &n, counting.Func()));
      if (z != data.data()) counting.Free(z);
      if (!u) return false;
      bool same = Bytes(u, u + n) == original;
      counting.Free(u);
      if (!same) return false;
    }
    return true;
  };
  std::vector<std::future<bool>> threads;
  for (uint32_t t = 0; t < 4; ++t) threads.push_back(std::async(std::launch::async, work, t));
  for (auto& t : threads) {
    ASSERT_EQ(t.wait_for(std::chrono::minutes(5)), std::future_status::ready);
    EXPECT_TRUE(t.get());
  }
  EXPECT_EQ(counting.live(), 0u);
}

}  // namespace
