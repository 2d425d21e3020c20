// The six codecs' frame conversions as a host calls them, beside libyuv's
// BT.601 UYVY conversions on frames of the same size, in the same run:
//
//   Decode/CODEC/WxH   Decompress of the codec's stored frame to 32-bit RGB
//   Encode/CODEC/WxH   Compress of a 32-bit RGB frame into the stored frame
//   libyuv/UYVYToARGB/WxH, libyuv/ARGBToUYVY/WxH
//
// at 720 x 576, and at 1920 x 1080 for the codecs whose queries take it. The
// host's allocator hands out one block kept for the whole run, so that neither
// side pays for fresh pages. A conversion that fails reports its status
// instead of a time.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

#include "tarnel.h"

namespace {

using Header = YUVBMINFOHEADER;
using Bytes = std::vector<uint8_t>;

const char* const kNames[] = {"planar", "meshed", "packed", "packed-extd", "uyvy", "packed-709"};

class Registry final : public ICodecRegistry {
 public:
  LONG CODEC_CALL RegisterCodec(DWORD, ICodec* codec) override {
    codecs.push_back(codec);
    return 0;
  }
  std::vector<ICodec*> codecs;
};

// One block per purpose, grown as needed and kept: a host's frame pool.
class PoolAllocator final : public IFrameAllocator {
 public:
  void* CODEC_CALL Alloc(DWORD size, DWORD) override {
    Bytes& b = size <= 160 ? header_ : frame_;
    if (b.size() < size) b.resize(size);
    return b.data();
  }

 private:
  Bytes header_, frame_;
};

// A picture with some of everything: ramps, edges, noise (bottom-up BGRA).
Bytes Picture(int w, int h) {
  Bytes p(size_t(w) * h * 4);
  uint32_t seed = 7;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* q = &p[(size_t(y) * w + x) * 4];
      seed = seed * 1664525u + 1013904223u;
      q[0] = uint8_t(x * 255 / w);
      q[1] = uint8_t(y * 255 / h);
      q[2] = uint8_t(((x / 32) ^ (y / 32)) & 1 ? 220 : seed >> 26);
      q[3] = 255;
    }
  return p;
}

Header RgbHeader(int w, int h) {
  Header r;
  std::memset(&r, 0, sizeof r);
  r.biSize = 144;
  r.biWidth = w;
  r.biHeight = h;
  r.biPlanes = 1;
  r.biBitCount = 32;
  r.biSizeImage = DWORD(w) * h * 4;
  r.dwAlphaMode = 1;
  return r;
}

struct Setup {
  ICodec* codec;
  Header rgb, stored, decoded;
  Bytes picture, frame;
  bool ok = false;
};

// Negotiates the codec's stored header for the picture and its RGB output,
// and makes one stored frame to decode. False when the codec does not take the size.
bool Prepare(ICodec* codec, int w, int h, Setup& s, PoolAllocator& alloc, std::string& why) {
  s.codec = codec;
  s.rgb = RgbHeader(w, h);
  s.picture = Picture(w, h);
  Header* offered = nullptr;
  if (codec->CompressGetFormat(&s.rgb, &offered, &alloc) != CODEC_OK) return false;
  s.stored = *offered;
  if (codec->CompressQuery(&s.rgb, &s.stored) != CODEC_OK) return false;
  Header* out = nullptr;
  if (codec->DecompressGetFormat(&s.stored, &out, &alloc, 0) != CODEC_OK) return false;
  std::memset(&s.decoded, 0, sizeof s.decoded);
  std::memcpy(&s.decoded, out, 144);
  if (codec->DecompressQuery(&s.stored, &s.decoded) != CODEC_OK) return false;
  void* frame = nullptr;
  const LONG status = codec->Compress(&s.rgb, s.picture.data(), &s.stored, &frame, nullptr, &alloc, 0);
  if (status != CODEC_OK) {
    char text[64];
    std::snprintf(text, sizeof text, "Compress failed: 0x%08x", unsigned(status));
    why = text;
    return true;  // the size is taken; the conversion is what is missing
  }
  s.frame.assign(static_cast<uint8_t*>(frame), static_cast<uint8_t*>(frame) + s.stored.biSizeImage);
  s.ok = true;
  return true;
}

void Decode(benchmark::State& state, Setup* s, std::string why) {
  PoolAllocator alloc;
  if (!s->ok) return state.SkipWithError(why.c_str());
  for (auto _ : state) {
    Header out = s->decoded;
    void* frame = nullptr;
    const LONG status = s->codec->Decompress(&s->stored, s->frame.data(), &out, &frame, nullptr, &alloc, 0);
    if (status != CODEC_OK) return state.SkipWithError("Decompress failed");
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * s->rgb.biWidth * s->rgb.biHeight);
}

void Encode(benchmark::State& state, Setup* s, std::string why) {
  PoolAllocator alloc;
  if (!s->ok) return state.SkipWithError(why.c_str());
  for (auto _ : state) {
    Header out = s->stored;
    void* frame = nullptr;
    const LONG status = s->codec->Compress(&s->rgb, s->picture.data(), &out, &frame, nullptr, &alloc, 0);
    if (status != CODEC_OK) return state.SkipWithError("Compress failed");
    benchmark::DoNotOptimize(frame);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * s->rgb.biWidth * s->rgb.biHeight);
}

// libyuv's ARGB is top-down; the same picture and frame sizes serve.
void LibyuvToArgb(benchmark::State& state, int w, int h) {
  const Bytes picture = Picture(w, h);
  Bytes uyvy(size_t(w) * h * 2), argb(picture.size());
  libyuv::ARGBToUYVY(picture.data(), w * 4, uyvy.data(), w * 2, w, h);
  for (auto _ : state) {
    libyuv::UYVYToARGB(uyvy.data(), w * 2, argb.data(), w * 4, w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * w * h);
}

void LibyuvFromArgb(benchmark::State& state, int w, int h) {
  const Bytes picture = Picture(w, h);
  Bytes uyvy(size_t(w) * h * 2);
  for (auto _ : state) {
    libyuv::ARGBToUYVY(picture.data(), w * 4, uyvy.data(), w * 2, w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * w * h);
}

}  // namespace

int main(int argc, char** argv) {
  static Registry registry;
  EnumerateCodecs(&registry, CODEC_INTERFACE_VERSION);
  if (registry.codecs.size() != 6) {
    std::fprintf(stderr, "codecs_bench: %zu codecs registered\n", registry.codecs.size());
    return 1;
  }
  static std::vector<Setup> setups;
  setups.reserve(12);
  static PoolAllocator prepare;
  const int sizes[2][2] = {{720, 576}, {1920, 1080}};
  for (const auto& size : sizes) {
    const int w = size[0], h = size[1];
    const std::string dims = "/" + std::to_string(w) + "x" + std::to_string(h);
    benchmark::RegisterBenchmark(("libyuv/UYVYToARGB" + dims).c_str(), LibyuvToArgb, w, h)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("libyuv/ARGBToUYVY" + dims).c_str(), LibyuvFromArgb, w, h)->Unit(benchmark::kMicrosecond);
    for (size_t i = 0; i < registry.codecs.size(); ++i) {
      setups.emplace_back();
      std::string why;
      if (!Prepare(registry.codecs[i], w, h, setups.back(), prepare, why)) {
        setups.pop_back();  // the codec's queries do not take this size
        continue;
      }
      Setup* s = &setups.back();
      benchmark::RegisterBenchmark((std::string("Decode/") + kNames[i] + dims).c_str(), Decode, s, why)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((std::string("Encode/") + kNames[i] + dims).c_str(), Encode, s, why)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (ICodec* c : registry.codecs) c->Destroy();
  return 0;
}
