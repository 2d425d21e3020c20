// qz as the host of the codec plug-in: it loads the plug-in at run time,
// keeps the codecs that EnumerateCodecs registers, hands the codecs a frame
// allocator, and listens to what they print.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tarnel.h"

namespace qz {

// Blocks for the codecs' headers and frames; all returned when it goes.
class FrameAllocator final : public IFrameAllocator {
 public:
  FrameAllocator() = default;
  FrameAllocator(const FrameAllocator&) = delete;
  FrameAllocator& operator=(const FrameAllocator&) = delete;
  ~FrameAllocator();
  void* CODEC_CALL Alloc(DWORD size, DWORD flags) override;
  // The size of a block it handed out; 0 for any other pointer.
  size_t SizeOf(const void* block) const;

 private:
  std::map<const void*, size_t> blocks_;
};

struct RegisteredCodec {
  DWORD fourcc;
  ICodec* codec;
};

// The plug-in and its codecs, in the order they were registered.
class CodecHost final : public ICodecRegistry {
 public:
  CodecHost() = default;
  CodecHost(const CodecHost&) = delete;
  CodecHost& operator=(const CodecHost&) = delete;
  ~CodecHost();  // destroys the codecs, then unloads the plug-in

  // Loads the plug-in beside qz and registers its codecs; false with `why`.
  bool Load(std::string& why);
  const plat::wstring& path() const { return path_; }
  const std::vector<RegisteredCodec>& codecs() const { return codecs_; }

  LONG CODEC_CALL RegisterCodec(DWORD fourcc, ICodec* codec) override;

 private:
  HMODULE module_ = nullptr;
  plat::wstring path_;
  std::vector<RegisteredCodec> codecs_;
};

// The names qz knows the six codecs by, in registration order.
struct CodecName {
  const char* shortName;
  const char* className;
};
extern const CodecName kCodecNames[6];

// The registered codec that `name` picks (a short name, a class name, or a
// position from 1), or null.
const RegisteredCodec* FindCodec(const CodecHost& host, const std::string& name, const CodecName** names);

// The colour space of a codec (its slot 18, after the interface's).
DWORD ColorSpaceOf(ICodec* codec);

// What the codecs print while it lives (debug category 8, every level).
class CodecMessages {
 public:
  CodecMessages();
  ~CodecMessages();
  CodecMessages(const CodecMessages&) = delete;
  CodecMessages& operator=(const CodecMessages&) = delete;
  // The texts printed since the last call, each without its line end.
  std::vector<std::string> Take();

 private:
  static void WINAPI Capture(DWORD kind, int category, int level, const WCHAR* text, void* context);
  std::vector<std::string> texts_;
};

// ---- frames through a codec, as a host converts them ----

using Header = YUVBMINFOHEADER;

// A codec operation's status in words ("accepted", "refused (0x80000001, ...)").
std::string StatusText(LONG status);

// A header that a codec handed out (a block of `allocator`), copied whole:
// 160 bytes when the block and its biSize hold them, else its first 144.
Header CopyHeader(const FrameAllocator& allocator, const Header* block);

// What went wrong in a conversion: the operation that failed and its status.
struct Failure {
  const char* operation = "";
  LONG status = CODEC_OK;
};

// The stored header `codec` offers for the host frame `input`: CompressGetFormat,
// then CompressQuery of the pair (which may write the size).
bool StoredFormat(ICodec* codec, const Header& input, FrameAllocator& allocator, Header& stored, Failure& why);
// Encodes one frame: CompressBegin, Compress, CompressEnd. `stored` is the
// codec's to change (its row alignment); the frame is `allocator`'s, and
// `size` the bytes it holds.
bool EncodeFrame(ICodec* codec, const Header& input, const void* pixels, Header& stored, DWORD flags,
                 FrameAllocator& allocator, const BYTE*& frame, size_t& size, Failure& why);
// The first codec, in registration order, whose DecompressQuery takes `stored`; -1 when none does.
int FindDecoder(const CodecHost& host, const Header& stored);
// The output the decoder offers for `stored` of the kind wanted: of the
// DecompressGetFormat alternatives, the first RGB one (or 4:4:4 YUV one with
// `yuv`) of 32 bits, else of 24, that DecompressQuery accepts with `stored`.
bool DecodeFormat(ICodec* codec, const Header& stored, bool yuv, FrameAllocator& allocator, Header& output,
                  Failure& why);
// Decodes one frame: DecompressBegin, Decompress, DecompressEnd. `output` is
// the codec's to change (the half-size preview halves it); the result is
// `allocator`'s, and `size` the bytes it holds.
bool DecodeFrame(ICodec* codec, const Header& stored, const void* frame, Header& output, DWORD flags,
                 FrameAllocator& allocator, const BYTE*& result, size_t& size, Failure& why);

// A FourCC as its four characters ("@YUV"), or as hexadecimal when it is none.
std::string FourCCText(DWORD fourcc);

}  // namespace qz
