// What every codec answers alike: the information table, version, capabilities,
// colour space, Begin and End, the slots not built yet; the object's binary
// shape as a host sees it (slot order, converter tables, description buffers).
#include "host.h"

namespace tarneltest {
namespace {

struct Identity {
  Codec codec;
  const WCHAR* desc0;
  const WCHAR* desc1;
  DWORD colorSpace;
};

const Identity kIdentities[] = {
    {kPlanar, TEXT("///TARQ YUV Compressor (Planar)"), TEXT("///TARQ YUV Compressor (Planar768,2Fields)"), 0},
    {kMeshed, TEXT("///TARQ YUV Compressor (Meshed)"), TEXT("///TARQ YUV Compressor (YUV444(4) interleaved)"), 0},
    {kPacked, TEXT("///TARQ YUV Compressor (Packed)"), TEXT("///TARQ YUV Compressor (Packed 2VUY,2 fields)"), 0},
    {kExtd, TEXT("///TARQ YUV Compressor (Packed,Extd)"), TEXT("///TARQ YUV Compressor (Packed 2VUY,2 fields,Extd)"),
     0},
    {kUyvy, TEXT("AVI UYVY Compressor"), TEXT("YUV Compressor UYVY interleaved "), 0},
    {k709, TEXT("ITU709 Compressor (Packed)"), TEXT("ITU709 Compressor (Packed 2VUY,2 fields)"), 2},
};

// A slot through the table, as a host without the class declarations calls it.
template <class R, class... A>
R Slot(ICodec* codec, int slot, A... args) {
  typedef R(CODEC_CALL * Fn)(ICodec*, A...);
  void* const* table = *reinterpret_cast<void* const* const*>(codec);
  return reinterpret_cast<Fn>(table[slot])(codec, args...);
}

class Info : public CodecTest, public testing::WithParamInterface<Identity> {
 protected:
  ICodec* c() { return codec(GetParam().codec); }
};

TEST_P(Info, AnswersTheInformationTable) {
  ICodec* k = c();
  EXPECT_EQ(k->GetVersion(), 0x10002);
  EXPECT_EQ(k->GetCapabilities(), 41);

  const DWORD kUntouched = 0xA5A5A5A5u;
  DWORD aux = kUntouched;
  const WCHAR* text = nullptr;
  ASSERT_EQ(k->GetInfo(0, &aux, &text), 0);
  EXPECT_EQ(wstring(text), GetParam().desc0);
  ASSERT_EQ(k->GetInfo(1, &aux, &text), 0);
  EXPECT_EQ(wstring(text), GetParam().desc1);
  EXPECT_EQ(aux, kUntouched);

  DWORD value = kUntouched;
  EXPECT_EQ(k->GetInfo(2, &aux, &value), 0);
  EXPECT_EQ(value, 0x10000u);
  EXPECT_EQ(k->GetInfo(3, &aux, &value), 0);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(aux, kUntouched);

  value = kUntouched;
  EXPECT_EQ(k->GetInfo(6, &aux, &value), 0);
  EXPECT_EQ(aux, 0u);
  EXPECT_EQ(value, kUntouched);

  for (DWORD id : {4u, 5u, 7u, 100u, 0xFFFFFFFFu}) {
    aux = value = kUntouched;
    EXPECT_EQ(k->GetInfo(id, &aux, &value), CODEC_E_NOTIMPL) << id;
    EXPECT_EQ(aux, kUntouched);
    EXPECT_EQ(value, kUntouched);
  }
  EXPECT_EQ(k->SetInfo(1, 2, 3), CODEC_E_NOTIMPL);
}

TEST_P(Info, PackedDecompressBeginRunsTheQueryFirst) {
  const Codec which = GetParam().codec;
  Header stored = Stored(which, 720, 486);
  stored.dwBitsPerSample = 10;
  const Header rgb = Rgb(720, 486);
  DWORD started = 7;
  Messages messages;
  const LONG status = c()->DecompressBegin(&stored, &rgb, &started);
  if (which == kPacked || which == kExtd || which == k709) {
    EXPECT_EQ(status, CODEC_E_FORMAT);
    EXPECT_EQ(started, 7u);
    EXPECT_EQ(messages.Texts(),
              std::vector<wstring>{TEXT("Cccir601Packed::DecompressQuery() - Unsupported bits per sample (10)\n")});
  } else {
    EXPECT_EQ(status, 0);
    EXPECT_EQ(started, 1u);
  }
}

TEST_P(Info, SlotsLieInTheirDocumentedOrder) {
  ICodec* k = c();
  const Codec which = GetParam().codec;
  EXPECT_EQ(Slot<LONG>(k, 2), 0x10002);
  EXPECT_EQ(Slot<LONG>(k, 3), 41);
  EXPECT_EQ(Slot<LONG>(k, 4), 0);
  EXPECT_EQ(Slot<LONG>(k, 5), 0);
  DWORD aux = 1, value = 1;
  EXPECT_EQ(Slot<LONG>(k, 6, DWORD(2), &aux, static_cast<void*>(&value)), 0);
  EXPECT_EQ(value, 0x10000u);
  EXPECT_EQ(Slot<LONG>(k, 7, DWORD(0), DWORD(0), DWORD(0)), CODEC_E_NOTIMPL);

  const Header stored = Stored(which, 720, which == kExtd ? 512 : 486), rgb = Rgb(720, 486);
  Header bad = stored;
  bad.dwBitsPerSample = 10;
  Allocator allocator;
  Header* made = nullptr;
  EXPECT_EQ(Slot<LONG>(k, 8, &stored, &made, static_cast<IFrameAllocator*>(&allocator), DWORD(0)), 0);
  EXPECT_NE(made, nullptr);
  EXPECT_EQ(Slot<LONG>(k, 9, &stored, &rgb), 0);
  EXPECT_EQ(Slot<LONG>(k, 9, &bad, static_cast<const Header*>(nullptr)), CODEC_E_FORMAT);
  DWORD started = 0;
  EXPECT_EQ(Slot<LONG>(k, 10, &stored, &rgb, &started), 0);
  EXPECT_EQ(started, 1u);
  EXPECT_EQ(Slot<LONG>(k, 12, DWORD(0)), 0);
  made = nullptr;
  EXPECT_EQ(Slot<LONG>(k, 13, &rgb, &made, static_cast<IFrameAllocator*>(&allocator)), 0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->biSize, 160u);
  EXPECT_EQ(Slot<LONG>(k, 14, &rgb, static_cast<Header*>(nullptr)), 0);
  Header rgb16 = rgb;
  rgb16.biBitCount = 16;
  EXPECT_EQ(Slot<LONG>(k, 14, &rgb16, static_cast<Header*>(nullptr)), CODEC_E_FORMAT);
  started = 0;
  EXPECT_EQ(Slot<LONG>(k, 15, &rgb, &stored, &started), 0);
  EXPECT_EQ(started, 1u);
  EXPECT_EQ(Slot<LONG>(k, 17, DWORD(0)), 0);
  EXPECT_EQ(Slot<DWORD>(k, 18), GetParam().colorSpace);
  // Destroy of no object does nothing.
  typedef LONG(CODEC_CALL * DestroyFn)(ICodec*);
  EXPECT_EQ(reinterpret_cast<DestroyFn>((*reinterpret_cast<void* const* const*>(k))[1])(nullptr), 0);

  // The conversions are reached through every slot they have; these headers
  // describe no frame to convert.
  void* frame = nullptr;
  const DWORD flags = 0;
  IFrameAllocator* a = &allocator;
  const Header* in = &stored;
  Header out = rgb;
  const LONG conversion = CODEC_E_FORMAT;
  EXPECT_EQ(Slot<LONG>(k, 11, in, static_cast<const void*>(nullptr), &out, &frame, &flags, a, DWORD(0)),
            conversion);
  EXPECT_EQ(Slot<LONG>(k, 16, in, static_cast<const void*>(nullptr), &out, &frame, &flags, a, DWORD(0)),
            conversion);
  const int extra = which == kPlanar ? 4 : which == kMeshed || which == kUyvy ? 0 : 5;
  for (int s = 19; s < 19 + extra; ++s)
    EXPECT_EQ(Slot<LONG>(k, s, in, static_cast<const void*>(nullptr), &out, &frame, &flags, a), conversion)
        << "slot " << s;
}

TEST_P(Info, TheConverterBaseFollowsTheInterfaceWithBt601Tables) {
  ICodec* k = c();
  auto* object = reinterpret_cast<void**>(k);
  // The converter base right after the interface's table pointer, as the class declaration says.
  const zelk::CQZCsc& csc = *reinterpret_cast<const zelk::CQZCsc*>(object + 1);
  EXPECT_EQ(object[2], csc.pSat);
  EXPECT_EQ(object[10], csc.pRGBToYUV);
  // Colour space 0 for every codec, the ITU 709 one included; limiting on.
  const zelk::CQZCsc& ref = Bt601();
  EXPECT_EQ(std::memcmp(csc.pYToRGB, ref.pYToRGB, 256 * sizeof(LONG)), 0);
  EXPECT_EQ(std::memcmp(csc.pCrToR, ref.pCrToR, 256 * sizeof(LONG)), 0);
  EXPECT_EQ(std::memcmp(csc.pRGBToYUV, ref.pRGBToYUV, 9 * 256 * sizeof(LONG)), 0);
  EXPECT_EQ(csc.pLimitY[0], 16);
  EXPECT_EQ(csc.pLimitC[255], 240);

  // The packed and UYVY objects carry their strings in two 64-character buffers after the converter.
  const Codec which = GetParam().codec;
  if (which == kPlanar || which == kMeshed) return;
  const WCHAR* desc0 = reinterpret_cast<const WCHAR*>(object + 11);
  const WCHAR* text = nullptr;
  DWORD aux = 0;
  ASSERT_EQ(k->GetInfo(0, &aux, &text), 0);
  EXPECT_EQ(text, desc0);
  ASSERT_EQ(k->GetInfo(1, &aux, &text), 0);
  EXPECT_EQ(text, desc0 + 64);
}

TEST_P(Info, DestroyAndTheDeletingDestructorReturnTheMemory) {
  // A codec of our own, from a registry that keeps nothing: destroyed here.
  Registry own(0);
  Enumerate(&own, CODEC_INTERFACE_VERSION);
  ICodec* first = own.offers[GetParam().codec].codec;
  own.offers[GetParam().codec].codec = nullptr;
  const LONG live = ZelkuLiveBlocks();
  if (GetParam().codec % 2) {
    EXPECT_EQ(first->Destroy(), 0);
  } else {
    EXPECT_EQ(first->DeletingDestructor(1), static_cast<void*>(first));
  }
  EXPECT_EQ(ZelkuLiveBlocks(), live - 1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, Info, testing::ValuesIn(kIdentities),
                         [](const testing::TestParamInfo<Identity>& i) {
                           return std::string(CodecName(i.param.codec));
                         });

}  // namespace
}  // namespace tarneltest
