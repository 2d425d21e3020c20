#include "codec_host.h"

#include <cstdlib>
#include <cstring>

namespace qz {

FrameAllocator::~FrameAllocator() {
  for (void* b : blocks_) std::free(b);
}

void* FrameAllocator::Alloc(DWORD size, DWORD) {
  void* block = std::malloc(size ? size : 1);
  if (block) blocks_.push_back(block);
  return block;
}

CodecHost::~CodecHost() {
  for (const RegisteredCodec& c : codecs_) c.codec->Destroy();
  if (module_) FreeLibrary(module_);
}

bool CodecHost::Load(std::string& why) {
  WCHAR program[1024];
  DWORD n = GetModuleFileNameW(nullptr, program, 1024);
  if (n == 0 || n >= 1024) {
    why = "cannot tell where qz is";
    return false;
  }
  path_.assign(program, n);
  path_ = path_.substr(0, path_.find_last_of(TEXT("\\/")) + 1);
#ifdef _WIN32
  path_ += TEXT("tarnel.dll");
#else
  path_ += TEXT("libtarnel.so");
#endif
  module_ = LoadLibraryW(path_.c_str());
  if (!module_) {
    why = "cannot load the codec plug-in " + plat::Utf8(path_) +
          (GetLastError() == ERROR_MOD_NOT_FOUND ? " (not found)" : " (not a library it can load)");
    return false;
  }
  FARPROC entry = GetProcAddress(module_, TARNEL_ENTRY_NAME);
  if (!entry) {
    why = plat::Utf8(path_) + " has no entry point " TARNEL_ENTRY_NAME;
    return false;
  }
  reinterpret_cast<EnumerateCodecsProc>(reinterpret_cast<void (*)()>(entry))(this, CODEC_INTERFACE_VERSION);
  return true;
}

LONG CodecHost::RegisterCodec(DWORD fourcc, ICodec* codec) {
  if (!codec) return -1;
  try {
    codecs_.push_back({fourcc, codec});
  } catch (...) {
    return -1;  // no room to keep it: the plug-in deletes it
  }
  return 0;
}

const CodecName kCodecNames[6] = {
    {"planar", "Cccir601Planar"},       {"meshed", "Cccir601Meshed"}, {"packed", "Cccir601Packed"},
    {"packed-extd", "Cccir601PackedExtd"}, {"uyvy", "CTarnelYVY"},    {"packed-709", "Cccir601Packed709"},
};

namespace {
bool SameText(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (plat::AUpper(a[i]) != plat::AUpper(b[i])) return false;
  return true;
}
}  // namespace

const RegisteredCodec* FindCodec(const CodecHost& host, const std::string& name, const CodecName** names) {
  size_t index = 6;
  for (size_t i = 0; i < 6; ++i)
    if (SameText(name, kCodecNames[i].shortName) || SameText(name, kCodecNames[i].className) ||
        name == std::to_string(i + 1))
      index = i;
  if (index >= host.codecs().size()) return nullptr;
  if (names) *names = &kCodecNames[index];
  return &host.codecs()[index];
}

DWORD ColorSpaceOf(ICodec* codec) {
  typedef DWORD(CODEC_CALL * Slot)(ICodec*);
  void* const* table = *reinterpret_cast<void* const* const*>(codec);
  return reinterpret_cast<Slot>(table[18])(codec);
}

CodecMessages::CodecMessages() {
  ZelkuSetLevel(8, 100);
  ZelkuSetCapture(&Capture, this);
}

CodecMessages::~CodecMessages() {
  ZelkuSetCapture(nullptr, nullptr);
  ZelkuResetLevels();
}

void CodecMessages::Capture(DWORD, int category, int, const WCHAR* text, void* context) {
  if (category != 8) return;
  std::string line = plat::Utf8(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  static_cast<CodecMessages*>(context)->texts_.push_back(line);
}

std::vector<std::string> CodecMessages::Take() {
  std::vector<std::string> out;
  out.swap(texts_);
  return out;
}

std::string FourCCText(DWORD fourcc) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(fourcc >> (8 * i));
    if (c < 0x20 || c > 0x7E) return plat::FormatAS("0x%08x", fourcc);
    s += c;
  }
  return s;
}

}  // namespace qz
