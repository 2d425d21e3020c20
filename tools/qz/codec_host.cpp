#include "codec_host.h"

#include <cstdlib>
#include <cstring>

namespace qz {

FrameAllocator::~FrameAllocator() {
  for (const auto& b : blocks_) std::free(const_cast<void*>(b.first));
}

void* FrameAllocator::Alloc(DWORD size, DWORD) {
  void* block = std::malloc(size ? size : 1);
  if (!block) return nullptr;
  try {
    blocks_[block] = size;
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  return block;
}

size_t FrameAllocator::SizeOf(const void* block) const {
  auto it = blocks_.find(block);
  return it == blocks_.end() ? 0 : it->second;
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

namespace qz {

std::string StatusText(LONG status) {
  switch (status) {
    case CODEC_OK: return "accepted";
    case CODEC_E_FORMAT: return "refused (0x80000001, format not accepted)";
    case CODEC_E_NOHEADER: return "failed (0x80000002, no memory for the header)";
    case CODEC_E_NOTIMPL: return "failed (0x80004001, not implemented)";
    case CODEC_E_NOFRAME: return "failed (0x80004005, no output frame)";
    case CODEC_E_UNEXPECTED: return "failed (0x8000FFFF, a fault was caught)";
    default: return plat::FormatAS("failed (0x%08x)", unsigned(status));
  }
}

Header CopyHeader(const FrameAllocator& allocator, const Header* block) {
  Header h;
  std::memset(&h, 0, sizeof h);
  if (!block) return h;
  const size_t have = allocator.SizeOf(block);
  size_t n = have >= sizeof(Header) && block->biSize >= sizeof(Header) ? sizeof(Header) : sizeof(tagQZBMINFOHEADER);
  if (have && have < n) n = have;
  std::memcpy(&h, block, n);
  return h;
}

namespace {
bool Failed(Failure& why, const char* operation, LONG status) {
  why.operation = operation;
  why.status = status;
  return false;
}
}  // namespace

bool StoredFormat(ICodec* codec, const Header& input, FrameAllocator& allocator, Header& stored, Failure& why) {
  Header* offered = nullptr;
  LONG status = codec->CompressGetFormat(&input, &offered, &allocator);
  if (status != CODEC_OK) return Failed(why, "CompressGetFormat", status);
  if (!offered) return Failed(why, "CompressGetFormat", CODEC_E_NOHEADER);
  stored = CopyHeader(allocator, offered);
  status = codec->CompressQuery(&input, &stored);
  if (status != CODEC_OK) return Failed(why, "CompressQuery", status);
  return true;
}

bool EncodeFrame(ICodec* codec, const Header& input, const void* pixels, Header& stored, DWORD flags,
                 FrameAllocator& allocator, const BYTE*& frame, size_t& size, Failure& why) {
  frame = nullptr;
  size = 0;
  DWORD started = 0;
  LONG status = codec->CompressBegin(&input, &stored, &started);
  if (status != CODEC_OK) return Failed(why, "CompressBegin", status);
  void* out = nullptr;
  status = codec->Compress(&input, pixels, &stored, &out, &flags, &allocator, 0);
  codec->CompressEnd(0);
  if (status != CODEC_OK) return Failed(why, "Compress", status);
  size = allocator.SizeOf(out);
  if (!out || size < stored.biSizeImage) return Failed(why, "Compress", CODEC_E_UNEXPECTED);
  frame = static_cast<const BYTE*>(out);
  return true;
}

int FindDecoder(const CodecHost& host, const Header& stored) {
  for (size_t i = 0; i < host.codecs().size(); ++i)
    if (host.codecs()[i].codec->DecompressQuery(&stored, nullptr) == CODEC_OK) return int(i);
  return -1;
}

bool DecodeFormat(ICodec* codec, const Header& stored, bool yuv, FrameAllocator& allocator, Header& output,
                  Failure& why) {
  LONG last = CODEC_E_FORMAT;
  for (WORD bits : {WORD(32), WORD(24)})
    for (DWORD index = 0; index < 16; ++index) {
      Header* offered = nullptr;
      const LONG status = codec->DecompressGetFormat(&stored, &offered, &allocator, index);
      if (status != CODEC_OK) {
        if (index == 0) return Failed(why, "DecompressGetFormat", status);
        break;
      }
      const Header h = CopyHeader(allocator, offered);
      const bool kind = yuv ? h.biCompression == FOURCC_YUV && h.biSize >= 160 && h.dwSubsampling == 16
                            : h.biCompression == 0;
      if (!kind || h.biBitCount != bits) continue;
      last = codec->DecompressQuery(&stored, &h);
      if (last == CODEC_OK) {
        output = h;
        return true;
      }
    }
  return Failed(why, "DecompressGetFormat", last);
}

bool DecodeFrame(ICodec* codec, const Header& stored, const void* frame, Header& output, DWORD flags,
                 FrameAllocator& allocator, const BYTE*& result, size_t& size, Failure& why) {
  result = nullptr;
  size = 0;
  DWORD started = 0;
  LONG status = codec->DecompressBegin(&stored, &output, &started);
  if (status != CODEC_OK) return Failed(why, "DecompressBegin", status);
  void* out = nullptr;
  status = codec->Decompress(&stored, frame, &output, &out, &flags, &allocator, 0);
  codec->DecompressEnd(0);
  if (status != CODEC_OK) return Failed(why, "Decompress", status);
  size = allocator.SizeOf(out);
  if (!out) return Failed(why, "Decompress", CODEC_E_NOFRAME);
  result = static_cast<const BYTE*>(out);
  return true;
}

}  // namespace qz
