// No fault leaves a codec operation: null pointers where the caller owes one,
// unreadable memory, a faulting allocator or registry. And no query reads a
// header beyond its end.
#include "host.h"

namespace tarneltest {
namespace {

const WCHAR* ClassOf(Codec c) {
  return c == kPlanar ? TEXT("Cccir601Planar") : c == kMeshed ? TEXT("Cccir601Meshed")
         : c == kUyvy ? TEXT("CTarnelYVY") : TEXT("Cccir601Packed");
}

wstring Caught(Codec c, const WCHAR* op) {
  return plat::FormatWS(TEXT("Exception caught in %s::%s\n"), ClassOf(c), op);
}

class Guard : public CodecTest, public testing::WithParamInterface<Codec> {
 protected:
  ICodec* c() { return codec(GetParam()); }
};

TEST_P(Guard, NullPointersAreFaultsReportedWithTheOperationsName) {
  const Codec which = GetParam();
  const Header rgb = Rgb(720, 486), stored = Stored(which, 720, which == kExtd ? 512 : 486);
  Allocator allocator;
  Header* out = nullptr;
  DWORD aux = 0;
  struct Step {
    const WCHAR* op;
    LONG status;
  };
  Messages messages;
  const Step steps[] = {
      {TEXT("DecompressQuery"), c()->DecompressQuery(nullptr, &rgb)},
      {TEXT("CompressQuery"), c()->CompressQuery(nullptr, nullptr)},
      {TEXT("DecompressQuery"), c()->DecompressGetFormat(nullptr, &out, &allocator, 0)},  // the query runs first
      {TEXT("DecompressGetFormat"), c()->DecompressGetFormat(&stored, nullptr, &allocator, 0)},
      {TEXT("DecompressGetFormat"), c()->DecompressGetFormat(&stored, &out, nullptr, 0)},
      {TEXT("CompressGetFormat"), c()->CompressGetFormat(&rgb, nullptr, &allocator)},
      {TEXT("GetInfo"), c()->GetInfo(0, &aux, nullptr)},
      {TEXT("GetInfo"), c()->GetInfo(6, nullptr, &aux)},
      {TEXT("DecompressBegin"), c()->DecompressBegin(&stored, &rgb, nullptr)},
      {TEXT("CompressBegin"), c()->CompressBegin(&rgb, &stored, nullptr)},
  };
  ASSERT_EQ(messages.all.size(), sizeof steps / sizeof steps[0]);
  for (size_t i = 0; i < messages.all.size(); ++i) {
    EXPECT_EQ(steps[i].status, CODEC_E_UNEXPECTED) << i;
    EXPECT_EQ(messages.all[i].kind, DWORD(ZELKU_EXCEPTION));
    EXPECT_EQ(messages.all[i].text, Caught(which, steps[i].op)) << i;
  }
  EXPECT_TRUE(allocator.sizes.empty()) << "a header was made for nobody";
  EXPECT_EQ(out, nullptr);
  // Unknown ids touch no cell, so they need none.
  EXPECT_EQ(c()->GetInfo(4, nullptr, nullptr), CODEC_E_NOTIMPL);
}

// Memory of two pages whose second one cannot be read: a header placed at the
// end of the first is followed by nothing readable.
class Fence {
 public:
  Fence() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    page_ = si.dwPageSize;
    base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    if (base_) VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
  }
  ~Fence() { VirtualFree(base_, 0, MEM_RELEASE); }
  // A copy of the first `bytes` bytes of h that ends where the readable memory does.
  Header* Place(const Header& h, size_t bytes) {
    BYTE* at = base_ + page_ - bytes;
    std::memcpy(at, &h, bytes);
    return reinterpret_cast<Header*>(at);
  }
  bool ok() const { return base_ != nullptr; }

 private:
  DWORD page_ = 0;
  BYTE* base_ = nullptr;
};

TEST_P(Guard, NoQueryReadsAHeaderBeyondItsEnd) {
  const Codec which = GetParam();
  Fence rgbFence, storedFence;
  ASSERT_TRUE(rgbFence.ok() && storedFence.ok());
  const LONG picture = which == kMeshed ? 480 : 486, stored = which == kExtd ? 512 : picture;
  Header* rgb = rgbFence.Place(Rgb(720, picture), 144);
  Header* in = storedFence.Place(Stored(which, 720, stored), 160);
  Allocator allocator;
  Header* made = nullptr;
  Messages messages;
  EXPECT_EQ(c()->CompressQuery(rgb, nullptr), CODEC_OK);
  EXPECT_EQ(c()->CompressGetFormat(rgb, &made, &allocator), CODEC_OK);
  EXPECT_EQ(c()->DecompressQuery(in, rgb), CODEC_OK);
  for (DWORD index = 0; index < 8; ++index) c()->DecompressGetFormat(in, &made, &allocator, index);
  EXPECT_EQ(c()->DecompressGetFormat(in, &made, &allocator, 0), CODEC_OK);
  // A YUV header that says it has 144 bytes is refused without its YUV block being read.
  Header yuv = Yuv444(720, picture);
  yuv.biSize = 144;
  Header* shortYuv = rgbFence.Place(yuv, 144);
  EXPECT_EQ(c()->CompressQuery(shortYuv, nullptr), CODEC_E_FORMAT);
  EXPECT_EQ(c()->DecompressQuery(in, shortYuv), CODEC_E_FORMAT);
  for (const Message& m : messages.all) EXPECT_NE(m.kind, DWORD(ZELKU_EXCEPTION)) << plat::Utf8(m.text);
}

// An allocator whose Alloc faults, as a broken host's might.
class FaultingAllocator final : public IFrameAllocator {
 public:
  void* CODEC_CALL Alloc(DWORD, DWORD) override { return reinterpret_cast<void*>(*unreadable); }
  volatile uintptr_t* unreadable = nullptr;
};

TEST_P(Guard, AccessFaultsBecomeAStatus) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  const Codec which = GetParam();
  BYTE* page = static_cast<BYTE*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(page, nullptr);
  const Header* nowhere = reinterpret_cast<const Header*>(page);
  const Header rgb = Rgb(720, 486);
  FaultingAllocator allocator;
  allocator.unreadable = reinterpret_cast<volatile uintptr_t*>(page + 64);
  Header* made = nullptr;
  Messages messages;
  EXPECT_EQ(c()->DecompressQuery(nowhere, nullptr), CODEC_E_UNEXPECTED);
  EXPECT_EQ(c()->CompressQuery(&rgb, reinterpret_cast<Header*>(page)), CODEC_E_UNEXPECTED);
  EXPECT_EQ(c()->CompressGetFormat(&rgb, &made, &allocator), CODEC_E_UNEXPECTED);
  EXPECT_EQ(messages.Texts(), (std::vector<wstring>{Caught(which, TEXT("DecompressQuery")),
                                                     Caught(which, TEXT("CompressQuery")),
                                                     Caught(which, TEXT("CompressGetFormat"))}));
  // The codec works on after it.
  EXPECT_EQ(c()->CompressQuery(&rgb, nullptr), CODEC_OK);
  VirtualFree(page, 0, MEM_RELEASE);
}

INSTANTIATE_TEST_SUITE_P(Codecs, Guard, testing::Values(kPlanar, kMeshed, kPacked, kExtd, kUyvy, k709),
                         [](const testing::TestParamInfo<Codec>& i) { return std::string(CodecName(i.param)); });

// A registry that faults while it takes the first codec.
class FaultingRegistry final : public ICodecRegistry {
 public:
  LONG CODEC_CALL RegisterCodec(DWORD, ICodec* codec) override {
    taken = codec;
    return LONG(*unreadable);
  }
  ICodec* taken = nullptr;
  volatile LONG* unreadable = nullptr;
};

TEST(RegistryFault, EndsTheEnumerationWithAReport) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  BYTE* page = static_cast<BYTE*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(page, nullptr);
  FaultingRegistry registry;
  registry.unreadable = reinterpret_cast<volatile LONG*>(page);
  const LONG live = ZelkuLiveBlocks();
  Messages messages;
  Enumerate(&registry, CODEC_INTERFACE_VERSION);
  EXPECT_EQ(messages.Texts(), std::vector<wstring>{TEXT("Exception caught in EnumerateCodecs\n")});
  ASSERT_NE(registry.taken, nullptr);
  // Whether the registry took it is unknown: the codec is left alive, not freed twice.
  EXPECT_EQ(ZelkuLiveBlocks(), live + 1);
  registry.taken->Destroy();
  VirtualFree(page, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace tarneltest
