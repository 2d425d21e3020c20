// What the codec tests play the host with: a registry, a frame allocator,
// the codecs' messages, the six codecs registered, and frame headers.
#pragma once

#include <cstring>
#include <mutex>
#include <vector>

#include "support/support.h"
#include "tarnel.h"

namespace tarneltest {

using plat::wstring;
using Header = YUVBMINFOHEADER;

// The plug-in, loaded beside the test program on first use and kept loaded:
// EnumerateCodecs as a host finds it.
void Enumerate(ICodecRegistry* registry, DWORD version);
// The plug-in's file beside the test program.
wstring PlugInPath();

// The registration order.
enum Codec { kPlanar, kMeshed, kPacked, kExtd, kUyvy, k709, kCodecCount };
const char* CodecName(Codec c);

struct Offer {
  DWORD fourcc;
  ICodec* codec;
  LONG liveBlocks;  // Zelku's live blocks when the codec was offered
};

// Keeps every offer; answers each with `answer`. An accepted codec is the
// registry's: it is destroyed (through slot 1) with the registry.
class Registry final : public ICodecRegistry {
 public:
  explicit Registry(LONG answer = 0) : answer_(answer) {}
  ~Registry();
  LONG CODEC_CALL RegisterCodec(DWORD fourcc, ICodec* codec) override;
  std::vector<Offer> offers;

 private:
  LONG answer_;
};

// `size` bytes that end where an unreadable page begins, so that a read or a
// write past the last byte faults on every build; ReadOnly() makes a write
// into the bytes themselves fault as well (for input frames and headers).
class GuardedBlock {
 public:
  explicit GuardedBlock(size_t size);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;
  BYTE* data() const { return data_; }
  size_t size() const { return size_; }
  void ReadOnly();

 private:
  BYTE* base_ = nullptr;
  size_t span_ = 0;  // the readable pages
  BYTE* data_ = nullptr;
  size_t size_ = 0;
};

// Hands out guarded blocks of exactly the size asked (so that a write past
// one faults), or null when told to; frees them at the end.
class Allocator final : public IFrameAllocator {
 public:
  ~Allocator();
  void* CODEC_CALL Alloc(DWORD size, DWORD flags) override;
  bool refuse = false;
  std::vector<DWORD> sizes;  // every request
  std::vector<DWORD> flags;

 private:
  std::vector<GuardedBlock*> blocks_;
};

struct Message {
  DWORD kind;
  int category, level;
  wstring text;
};

// The texts Zelku emits while it lives (every level of category 8 let through).
class Messages {
 public:
  Messages();
  ~Messages();
  std::vector<wstring> Texts() const;
  std::vector<Message> all;

 private:
  static void WINAPI Capture(DWORD kind, int category, int level, const WCHAR* text, void* context);
  std::mutex mutex_;
};

// The six codecs as a host holds them after EnumerateCodecs.
class CodecTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  ICodec* codec(Codec c) { return registry_->offers[c].codec; }

  LONG liveBefore_ = 0;
  Registry* registry_ = nullptr;
};

// Headers: a bottom-up RGB frame (144 bytes); a 4:4:4 YUV host frame; the
// stored header that codec's negotiation accepts (biSizeImage 0: no size given).
Header Rgb(LONG width, LONG height, WORD bits = 32);
Header Yuv444(LONG width, LONG height, WORD bits = 32);
Header Stored(Codec c, LONG width, LONG height);

// Zelku's BT.601 converter, to compare a codec's tables with.
const zelk::CQZCsc& Bt601();

}  // namespace tarneltest
