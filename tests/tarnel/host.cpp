#include "host.h"

#include <cstdlib>
#include <new>

namespace tarneltest {

wstring PlugInPath() {
  WCHAR program[1024];
  DWORD n = GetModuleFileNameW(nullptr, program, 1024);
  wstring path(program, n);
  path = path.substr(0, path.find_last_of(TEXT("\\/")) + 1);
#ifdef _WIN32
  return path + TEXT("tarnel.dll");
#else
  return path + TEXT("libtarnel.so");
#endif
}

void Enumerate(ICodecRegistry* registry, DWORD version) {
  static const EnumerateCodecsProc entry = [] {
    HMODULE module = LoadLibraryW(PlugInPath().c_str());
    FARPROC proc = module ? GetProcAddress(module, TARNEL_ENTRY_NAME) : nullptr;
    return reinterpret_cast<EnumerateCodecsProc>(reinterpret_cast<void (*)()>(proc));
  }();
  ASSERT_NE(entry, nullptr) << "the plug-in or its entry point is missing";
  entry(registry, version);
}

const char* CodecName(Codec c) {
  static const char* const names[] = {"Planar", "Meshed", "Packed", "PackedExtd", "UYVY", "Packed709"};
  return names[c];
}

Registry::~Registry() {
  if (answer_ < 0) return;
  for (const Offer& o : offers)
    if (o.codec) o.codec->Destroy();
}

LONG Registry::RegisterCodec(DWORD fourcc, ICodec* codec) {
  offers.push_back({fourcc, codec, ZelkuLiveBlocks()});
  return answer_;
}

namespace {
constexpr size_t kPage = 4096;
}

GuardedBlock::GuardedBlock(size_t size) : size_(size) {
  span_ = (size + kPage - 1) / kPage * kPage;
  base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, span_ + kPage, MEM_RESERVE, PAGE_NOACCESS));
  if (!base_) throw std::bad_alloc();
  if (span_ && !VirtualAlloc(base_, span_, MEM_COMMIT, PAGE_READWRITE)) throw std::bad_alloc();
  data_ = base_ + span_ - size;
}

GuardedBlock::~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }

void GuardedBlock::ReadOnly() {
  DWORD old;
  if (span_) VirtualProtect(base_, span_, PAGE_READONLY, &old);
}

Allocator::~Allocator() {
  for (GuardedBlock* b : blocks_) delete b;
}

void* Allocator::Alloc(DWORD size, DWORD f) {
  sizes.push_back(size);
  flags.push_back(f);
  if (refuse) return nullptr;
  blocks_.push_back(new GuardedBlock(size));
  return blocks_.back()->data();
}

Messages::Messages() {
  ZelkuResetLevels();
  ZelkuSetLevel(8, 100);
  ZelkuSetCapture(&Capture, this);
}

Messages::~Messages() {
  ZelkuSetCapture(nullptr, nullptr);
  ZelkuResetLevels();
}

void Messages::Capture(DWORD kind, int category, int level, const WCHAR* text, void* context) {
  auto* self = static_cast<Messages*>(context);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->all.push_back({kind, category, level, text});
}

std::vector<wstring> Messages::Texts() const {
  std::vector<wstring> out;
  for (const Message& m : all) out.push_back(m.text);
  return out;
}

void CodecTest::SetUp() {
  liveBefore_ = ZelkuLiveBlocks();
  registry_ = new Registry;
  Enumerate(registry_, CODEC_INTERFACE_VERSION);
  ASSERT_EQ(registry_->offers.size(), size_t(kCodecCount));
  for (const Offer& o : registry_->offers) ASSERT_NE(o.codec, nullptr);
}

void CodecTest::TearDown() {
  delete registry_;
  EXPECT_EQ(ZelkuLiveBlocks(), liveBefore_) << "a codec was not freed";
}

Header Rgb(LONG width, LONG height, WORD bits) {
  Header h;
  std::memset(&h, 0, sizeof h);
  h.biSize = 144;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  return h;
}

Header Yuv444(LONG width, LONG height, WORD bits) {
  Header h = Rgb(width, height, bits);
  h.biSize = 160;
  h.biCompression = FOURCC_YUV;
  h.dwExtDataOffset = 144;
  h.dwBitsPerSample = 8;
  h.dwSubsampling = 16;
  return h;
}

Header Stored(Codec c, LONG width, LONG height) {
  Header h = Yuv444(width, height, 16);
  h.dwSubsampling = 512;
  switch (c) {
    case kPlanar:
      h.biPlanes = 3;
      h.biBitCount = 24;
      h.dwSubsampling = 0;
      h.dwFormatFlag = 1;
      break;
    case kMeshed:
      h.biBitCount = 32;
      h.dwSubsampling = 16;
      break;
    case kUyvy:
      h.biCompression = FOURCC_UYVY;
      break;
    case k709:
      h.dwColorSpace = 2;
      h.dwFormatFlag = 1;
      break;
    default:  // the packed layouts hold two fields
      h.dwFormatFlag = 1;
      break;
  }
  return h;
}

const zelk::CQZCsc& Bt601() {
  static zelk::CQZCsc csc;
  static const int ready = csc.Init(zelk::CS_BT601);
  (void)ready;
  return csc;
}

}  // namespace tarneltest
