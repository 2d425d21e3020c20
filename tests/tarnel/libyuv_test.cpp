// The UYVY codec against libyuv, another implementation of BT.601 studio-range
// UYVY: a frame that CTarnelYVY encodes decodes with libyuv's UYVYToARGB
// within 2 per channel of the codec's own decode, and a frame that libyuv's
// ARGBToUYVY makes decodes here within 2 of libyuv's decode of it.
//
// libyuv's ARGB frames are top-down rows of B, G, R, A bytes; the host's RGB
// frames are bottom-up rows of the same bytes; UYVY frames are top line first.
// Native only: libyuv is linked into the native test program alone.
#ifdef TARNEL_TEST_LIBYUV
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

#include <cstdlib>
#include <vector>

#include "host.h"

namespace tarneltest {
namespace {

using Bytes = std::vector<uint8_t>;

enum Picture { kRamps, kPrimaries, kNoise, kExtremes };

// A top-down BGRA picture: smooth ramps, blocks of saturated primaries and
// greys, noise, or black, white and the most saturated colours side by side.
Bytes MakePicture(Picture kind, int w, int h) {
  Bytes p(size_t(w) * h * 4);
  uint32_t seed = 12345;
  static const uint8_t blocks[8][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0},
                                       {0, 255, 255}, {255, 0, 255}, {255, 255, 255}, {0, 0, 0}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* q = &p[(size_t(y) * w + x) * 4];
      int r = 0, g = 0, b = 0;
      switch (kind) {
        case kRamps:
          r = x * 255 / (w - 1), g = y * 255 / (h - 1), b = 255 - (x + y) * 255 / (w + h - 2);
          break;
        case kPrimaries: {
          const uint8_t* c = blocks[(x / 90 + y / 72) % 8];
          r = c[0], g = c[1], b = c[2];
          break;
        }
        case kNoise:
          seed = seed * 1103515245u + 12345u;
          r = seed >> 24, g = (seed >> 16) & 255, b = (seed >> 8) & 255;
          break;
        case kExtremes: {
          const uint8_t* c = blocks[(x / 16) % 8];
          r = c[0], g = c[1], b = c[2];
          break;
        }
      }
      q[0] = uint8_t(b), q[1] = uint8_t(g), q[2] = uint8_t(r), q[3] = 255;
    }
  return p;
}

// The picture as the host's bottom-up frame.
Bytes Flip(const Bytes& topDown, int w, int h) {
  Bytes out(topDown.size());
  const size_t row = size_t(w) * 4;
  for (int y = 0; y < h; ++y) std::copy_n(&topDown[size_t(y) * row], row, &out[size_t(h - 1 - y) * row]);
  return out;
}

// The largest difference of B, G and R between two top-down BGRA frames.
int Worst(const Bytes& a, const Bytes& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (i % 4 != 3) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

class LibyuvTest : public CodecTest {
 protected:
  // CTarnelYVY's stored frame of a bottom-up 32-bit frame, negotiated as a host does.
  Bytes Encode(const Bytes& bottomUp, int w, int h, Header& stored) {
    Header rgb = Rgb(w, h, 32);
    rgb.biSizeImage = DWORD(bottomUp.size());
    rgb.dwAlphaMode = 1;
    Header* offered = nullptr;
    EXPECT_EQ(codec(kUyvy)->CompressGetFormat(&rgb, &offered, &alloc_), CODEC_OK);
    if (!offered) return {};
    stored = *offered;
    EXPECT_EQ(codec(kUyvy)->CompressQuery(&rgb, &stored), CODEC_OK);
    void* frame = nullptr;
    const LONG status = codec(kUyvy)->Compress(&rgb, bottomUp.data(), &stored, &frame, nullptr, &alloc_, 0);
    EXPECT_EQ(status, CODEC_OK) << "CTarnelYVY::Compress";
    if (status != CODEC_OK || !frame) return {};
    const auto* f = static_cast<const uint8_t*>(frame);
    return Bytes(f, f + stored.biSizeImage);
  }

  // The codec's decode of a UYVY frame to 32-bit RGB, as a top-down BGRA frame.
  Bytes Decode(const Header& stored, const Bytes& frame, int w, int h) {
    Header* offered = nullptr;
    EXPECT_EQ(codec(kUyvy)->DecompressGetFormat(&stored, &offered, &alloc_, 0), CODEC_OK);
    if (!offered) return {};
    Header out;
    std::memset(&out, 0, sizeof out);
    std::memcpy(&out, offered, 144);
    EXPECT_EQ(out.biBitCount, 32);
    EXPECT_EQ(codec(kUyvy)->DecompressQuery(&stored, &out), CODEC_OK);
    void* result = nullptr;
    const LONG status = codec(kUyvy)->Decompress(&stored, frame.data(), &out, &result, nullptr, &alloc_, 0);
    EXPECT_EQ(status, CODEC_OK) << "CTarnelYVY::Decompress";
    if (status != CODEC_OK || !result) return {};
    EXPECT_GE(out.biSizeImage, DWORD(w * 4 * h));
    const auto* r = static_cast<const uint8_t*>(result);
    return Flip(Bytes(r, r + size_t(w) * 4 * h), w, h);
  }

  Allocator alloc_;
};

struct InteropCase {
  const char* name;
  Picture picture;
  int height;
};

const InteropCase kCases[] = {
    {"ramps 576", kRamps, 576},         {"ramps 486", kRamps, 486}, {"primaries 576", kPrimaries, 576},
    {"noise 576", kNoise, 576},         {"noise 486", kNoise, 486}, {"extremes 576", kExtremes, 576},
};

TEST_F(LibyuvTest, CodecFramesDecodeAlikeInLibyuv) {
  const int w = 720;
  for (const InteropCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes picture = MakePicture(c.picture, w, c.height);
    Header stored;
    const Bytes frame = Encode(Flip(picture, w, c.height), w, c.height, stored);
    ASSERT_EQ(frame.size(), size_t(w) * 2 * c.height) << "no UYVY frame of 720 x " << c.height;
    const Bytes ours = Decode(stored, frame, w, c.height);
    ASSERT_EQ(ours.size(), picture.size());
    Bytes theirs(picture.size());
    ASSERT_EQ(libyuv::UYVYToARGB(frame.data(), w * 2, theirs.data(), w * 4, w, c.height), 0);
    EXPECT_LE(Worst(ours, theirs), 2);
    for (size_t i = 3; i < ours.size(); i += 4) ASSERT_EQ(ours[i], 255) << "alpha at byte " << i;
  }
}

TEST_F(LibyuvTest, LibyuvFramesDecodeAlikeHere) {
  const int w = 720;
  for (const InteropCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const Bytes picture = MakePicture(c.picture, w, c.height);
    Bytes frame(size_t(w) * 2 * c.height);
    ASSERT_EQ(libyuv::ARGBToUYVY(picture.data(), w * 4, frame.data(), w * 2, w, c.height), 0);
    Bytes theirs(picture.size());
    ASSERT_EQ(libyuv::UYVYToARGB(frame.data(), w * 2, theirs.data(), w * 4, w, c.height), 0);
    // The header a host holds for such a frame: the codec's own for this size.
    Header rgb = Rgb(w, c.height, 32), stored;
    Header* offered = nullptr;
    ASSERT_EQ(codec(kUyvy)->CompressGetFormat(&rgb, &offered, &alloc_), CODEC_OK);
    stored = *offered;
    ASSERT_EQ(stored.biSizeImage, frame.size());
    const Bytes ours = Decode(stored, frame, w, c.height);
    ASSERT_EQ(ours.size(), picture.size());
    EXPECT_LE(Worst(ours, theirs), 2);
  }
}

}  // namespace
}  // namespace tarneltest
#endif  // TARNEL_TEST_LIBYUV
