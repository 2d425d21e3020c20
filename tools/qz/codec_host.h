// qz as the host of the codec plug-in: it loads the plug-in at run time,
// keeps the codecs that EnumerateCodecs registers, hands the codecs a frame
// allocator, and listens to what they print.
#pragma once

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

 private:
  std::vector<void*> blocks_;
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

// A FourCC as its four characters ("@YUV"), or as hexadecimal when it is none.
std::string FourCCText(DWORD fourcc);

}  // namespace qz
