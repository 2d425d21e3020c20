// EnumerateCodecs: the six codecs in order, what a refusing registry, a failing
// allocator and a wrong version lead to, and the name a host finds it by.
#include "host.h"

namespace tarneltest {
namespace {

const WCHAR* Description(ICodec* codec) {
  const WCHAR* text = nullptr;
  DWORD aux = 0;
  return codec->GetInfo(0, &aux, &text) == 0 ? text : nullptr;
}

const DWORD kFourCCs[] = {FOURCC_YUV, FOURCC_YUV, FOURCC_YUV, FOURCC_YUV, FOURCC_UYVY, FOURCC_UYVY};

TEST(Registration, OffersTheSixCodecsInOrderAndTheRegistryOwnsThem) {
  const LONG live = ZelkuLiveBlocks();
  {
    Registry registry;
    Enumerate(&registry, 0x10002);
    ASSERT_EQ(registry.offers.size(), 6u);
    const wstring names[] = {TEXT("///TARQ YUV Compressor (Planar)"), TEXT("///TARQ YUV Compressor (Meshed)"),
                             TEXT("///TARQ YUV Compressor (Packed)"), TEXT("///TARQ YUV Compressor (Packed,Extd)"),
                             TEXT("AVI UYVY Compressor"), TEXT("ITU709 Compressor (Packed)")};
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(registry.offers[i].fourcc, kFourCCs[i]) << i;
      EXPECT_EQ(Description(registry.offers[i].codec), names[i]) << i;
      EXPECT_EQ(registry.offers[i].liveBlocks, live + i + 1) << "one object per codec, kept";
    }
  }
  EXPECT_EQ(ZelkuLiveBlocks(), live);
}

TEST(Registration, ARefusedCodecIsDeletedBeforeTheNextIsMade) {
  const LONG live = ZelkuLiveBlocks(), calls = ZelkuAllocations();
  Messages messages;
  Registry registry(-1);
  Enumerate(&registry, 0x10002);
  ASSERT_EQ(registry.offers.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(registry.offers[i].fourcc, kFourCCs[i]);
    EXPECT_NE(registry.offers[i].codec, nullptr);
    EXPECT_EQ(registry.offers[i].liveBlocks, live + 1) << "codec " << i << " offered while an earlier one lives";
  }
  EXPECT_EQ(ZelkuAllocations(), calls + 6);
  EXPECT_EQ(ZelkuLiveBlocks(), live);
  EXPECT_TRUE(messages.all.empty());
}

class FailedAllocation : public testing::TestWithParam<int> {};

TEST_P(FailedAllocation, IsAssertedAndOfferedAsNullAndTheRowsAfterItGoOn) {
  const int row = GetParam();
  const unsigned lines[] = {125, 132, 139, 146, 153, 161};
  const LONG live = ZelkuLiveBlocks();
  {
    Messages messages;
    Registry registry;
    ZelkuFailAllocation(DWORD(row + 1));
    Enumerate(&registry, 0x10002);
    ASSERT_EQ(registry.offers.size(), 6u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(registry.offers[i].fourcc, kFourCCs[i]);
      EXPECT_EQ(registry.offers[i].codec == nullptr, i == row) << i;
    }
    ASSERT_EQ(messages.all.size(), 1u);
    EXPECT_EQ(messages.all[0].kind, DWORD(ZELKU_ASSERT));
    EXPECT_EQ(messages.all[0].category, 8);
    EXPECT_EQ(messages.Texts()[0], plat::FormatWS(TEXT("Assertion failed: pICodec!=NULL, file src\\ccir601\\ccir601, "
                                                       "line %u\n"),
                                                  lines[row]));
  }
  EXPECT_EQ(ZelkuLiveBlocks(), live);
}

INSTANTIATE_TEST_SUITE_P(EachRow, FailedAllocation, testing::Range(0, 6));

TEST(Registration, AnotherInterfaceVersionRegistersNothing) {
  const LONG calls = ZelkuAllocations();
  for (DWORD version : {0x10001u, 0x10003u, 0u, 0x20002u}) {
    Registry registry;
    Enumerate(&registry, version);
    EXPECT_TRUE(registry.offers.empty()) << version;
  }
  EXPECT_EQ(ZelkuAllocations(), calls);
}

// A host finds the entry point by its documented name, and by no other.
TEST(Registration, TheEntryPointGoesByItsDocumentedNameOnly) {
  HMODULE module = LoadLibraryW(PlugInPath().c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(module, TARNEL_ENTRY_NAME), nullptr);
  for (const char* other : {"EnumerateCodecs@8", "_EnumerateCodecs@8", "EnumerateCodecs", "_EnumerateCodecs"})
    if (std::strcmp(other, TARNEL_ENTRY_NAME) != 0) {
      EXPECT_EQ(GetProcAddress(module, other), nullptr) << other;
    }
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
}  // namespace tarneltest
