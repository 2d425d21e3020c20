// Pictures in and out of qz: PNG and BMP files read and written through the
// stb image headers, as top-down rows of R, G, B (and alpha) bytes; and the
// host's bitmap frames they become (rows of B, G, R (and a fourth byte),
// padded to 4 bytes, bottom-up for a positive height).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qzimage {

struct Image {
  int width = 0, height = 0;
  int channels = 3;             // 3: R, G, B; 4: R, G, B, alpha
  std::vector<uint8_t> pixels;  // top-down, width * channels bytes per row, no padding

  uint8_t* row(int y) { return pixels.data() + size_t(y) * size_t(width) * size_t(channels); }
  const uint8_t* row(int y) const { return pixels.data() + size_t(y) * size_t(width) * size_t(channels); }
};

// The file kinds qz writes, chosen by a path's extension.
enum class Kind { kNone, kPng, kBmp };
Kind KindOf(const std::string& path);

// Reads a PNG or BMP file's bytes. A picture with an alpha channel (grey and
// alpha, RGBA) keeps it (4 channels), others get 3. False with the reason.
bool Decode(const std::string& bytes, Image& image, std::string& why);
// The file bytes of the picture in that kind; false when it cannot be made.
bool Encode(const Image& image, Kind kind, std::string& bytes);

// Row stride of a bitmap frame: width * bits / 8, rounded up to 4 bytes.
int64_t BitmapStride(int64_t width, int bits);

// The picture as a bitmap frame of 24 or 32 bits, rows bottom-up; the fourth
// byte of a 32-bit frame is the picture's alpha (255 without one).
std::vector<uint8_t> ToBitmap(const Image& image, int bits);
// A bitmap frame (24 or 32 bits; bottom-up for a positive height, top-down for
// a negative one) as a picture. `samples` reads the three bytes of each pixel
// in memory order as R, G, B (the Y, Cb, Cr of a 4:4:4 YUV frame) instead of
// as B, G, R. `alpha`: keep a 32-bit frame's fourth byte as the alpha channel.
// False when the frame holds fewer bytes than its rows.
bool FromBitmap(const uint8_t* frame, size_t size, int width, int height, int bits, bool samples, bool alpha,
                Image& image);

// How far two pictures of one size are apart in R, G and B (alpha aside).
struct Difference {
  double psnr = 0;  // dB; infinity when they are the same
  int maxAbs = 0;   // the largest difference of one channel of one pixel
  double mse = 0;
};
bool Compare(const Image& a, const Image& b, Difference& d);

// A picture to try codecs on: colour bars over the top third, smooth colour
// ramps, a grey wedge, soft circles, sharp edges and a fine grating at the
// bottom; an alpha ramp across when `alpha`.
Image TestPicture(int width, int height, bool alpha);

}  // namespace qzimage
