// The one place where the stb image headers are compiled with their code.
#include "image.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace qzimage {

namespace {
bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

void Append(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

// The largest picture qz takes: 16384 pixels a side, 2^28 pixels.
constexpr int kLargestSide = 16384;
constexpr int64_t kLargestArea = int64_t(1) << 28;
}  // namespace

Kind KindOf(const std::string& path) {
  if (EndsWith(path, ".png")) return Kind::kPng;
  if (EndsWith(path, ".bmp")) return Kind::kBmp;
  return Kind::kNone;
}

bool Decode(const std::string& bytes, Image& image, std::string& why) {
  if (bytes.size() > size_t(std::numeric_limits<int>::max())) {
    why = "too large";
    return false;
  }
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int length = int(bytes.size());
  int w = 0, h = 0, comp = 0;
  if (!stbi_info_from_memory(data, length, &w, &h, &comp)) {
    why = std::string("not a PNG or BMP picture it can read (") + stbi_failure_reason() + ")";
    return false;
  }
  if (w <= 0 || h <= 0 || w > kLargestSide || h > kLargestSide || int64_t(w) * h > kLargestArea) {
    why = "a picture of " + std::to_string(w) + " x " + std::to_string(h) + " pixels is larger than qz takes";
    return false;
  }
  const int channels = comp == 2 || comp == 4 ? 4 : 3;
  stbi_uc* pixels = stbi_load_from_memory(data, length, &w, &h, &comp, channels);
  if (!pixels) {
    why = std::string("cannot be read (") + stbi_failure_reason() + ")";
    return false;
  }
  image.width = w;
  image.height = h;
  image.channels = channels;
  image.pixels.assign(pixels, pixels + size_t(w) * size_t(h) * size_t(channels));
  stbi_image_free(pixels);
  return true;
}

bool Encode(const Image& image, Kind kind, std::string& bytes) {
  bytes.clear();
  if (image.width <= 0 || image.height <= 0 || image.pixels.size() != size_t(image.width) * image.height * image.channels)
    return false;
  int ok = 0;
  if (kind == Kind::kPng)
    ok = stbi_write_png_to_func(Append, &bytes, image.width, image.height, image.channels, image.pixels.data(),
                                image.width * image.channels);
  else if (kind == Kind::kBmp)
    ok = stbi_write_bmp_to_func(Append, &bytes, image.width, image.height, image.channels, image.pixels.data());
  return ok != 0;
}

int64_t BitmapStride(int64_t width, int bits) { return (width * bits / 8 + 3) / 4 * 4; }

std::vector<uint8_t> ToBitmap(const Image& image, int bits) {
  const int bpp = bits / 8;
  const size_t stride = size_t(BitmapStride(image.width, bits));
  std::vector<uint8_t> frame(stride * size_t(image.height), 0);
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* in = image.row(y);
    uint8_t* out = frame.data() + stride * size_t(image.height - 1 - y);
    for (int x = 0; x < image.width; ++x, in += image.channels, out += bpp) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (bpp == 4) out[3] = image.channels == 4 ? in[3] : 255;
    }
  }
  return frame;
}

bool FromBitmap(const uint8_t* frame, size_t size, int width, int height, int bits, bool samples, bool alpha,
                Image& image) {
  if ((bits != 24 && bits != 32) || width <= 0 || height == 0 || height == std::numeric_limits<int>::min())
    return false;
  const int rows = height < 0 ? -height : height;
  const int bpp = bits / 8;
  const uint64_t stride = uint64_t(BitmapStride(width, bits));
  if (stride * uint64_t(rows) > size) return false;
  image.width = width;
  image.height = rows;
  image.channels = alpha && bpp == 4 ? 4 : 3;
  image.pixels.assign(size_t(width) * size_t(rows) * size_t(image.channels), 0);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* in = frame + stride * uint64_t(height > 0 ? rows - 1 - y : y);
    uint8_t* out = image.row(y);
    for (int x = 0; x < width; ++x, in += bpp, out += image.channels) {
      out[0] = samples ? in[0] : in[2];
      out[1] = in[1];
      out[2] = samples ? in[2] : in[0];
      if (image.channels == 4) out[3] = in[3];
    }
  }
  return true;
}

bool Compare(const Image& a, const Image& b, Difference& d) {
  if (a.width != b.width || a.height != b.height || a.width <= 0 || a.height <= 0) return false;
  uint64_t sum = 0;
  int most = 0;
  for (int y = 0; y < a.height; ++y) {
    const uint8_t* p = a.row(y);
    const uint8_t* q = b.row(y);
    for (int x = 0; x < a.width; ++x, p += a.channels, q += b.channels)
      for (int c = 0; c < 3; ++c) {
        const int e = int(p[c]) - int(q[c]);
        sum += uint64_t(e * e);
        if (e > most) most = e;
        if (-e > most) most = -e;
      }
  }
  d.maxAbs = most;
  d.mse = double(sum) / (3.0 * a.width * a.height);
  d.psnr = sum == 0 ? std::numeric_limits<double>::infinity() : 10.0 * std::log10(255.0 * 255.0 / d.mse);
  return true;
}

Image TestPicture(int width, int height, bool alpha) {
  Image img;
  img.width = width;
  img.height = height;
  img.channels = alpha ? 4 : 3;
  img.pixels.assign(size_t(width) * size_t(height) * size_t(img.channels), 0);
  // 75% colour bars: white, yellow, cyan, green, magenta, red, blue, black.
  static const uint8_t bars[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                     {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {16, 16, 16}};
  const int third = height / 3, wedge = height / 2, bottom = height - height / 8;
  for (int y = 0; y < height; ++y) {
    uint8_t* p = img.row(y);
    for (int x = 0; x < width; ++x, p += img.channels) {
      const double u = width > 1 ? double(x) / (width - 1) : 0, v = height > 1 ? double(y) / (height - 1) : 0;
      int r, g, b;
      if (y < third) {
        const uint8_t* c = bars[std::min(7, x * 8 / std::max(1, width))];
        r = c[0], g = c[1], b = c[2];
      } else if (y < wedge) {
        // Smooth ramps of hue across, of brightness down.
        const double k = 0.5 + 0.5 * (y - third) / std::max(1, wedge - third);
        r = int(255 * k * (0.5 + 0.5 * std::cos(6.2831853 * u)));
        g = int(255 * k * (0.5 + 0.5 * std::cos(6.2831853 * (u - 1.0 / 3))));
        b = int(255 * k * (0.5 + 0.5 * std::cos(6.2831853 * (u - 2.0 / 3))));
      } else if (y < bottom) {
        // A grey wedge under soft coloured circles.
        const int grey = int(255 * u);
        r = g = b = grey;
        const double cx[3] = {0.3, 0.5, 0.7};
        for (int i = 0; i < 3; ++i) {
          const double dx = (u - cx[i]) * width, dy = (v - 0.68) * height;
          const double f = std::exp(-(dx * dx + dy * dy) / (2.0 * (height / 10.0) * (height / 10.0)));
          int* ch = i == 0 ? &r : i == 1 ? &g : &b;
          *ch = int(*ch + (255 - *ch) * f);
        }
      } else {
        // Sharp edges: a fine grating on the left half, checks on the right.
        r = g = b = x < width / 2 ? ((x >> 1) & 1 ? 235 : 16) : (((x / 8) ^ (y / 8)) & 1 ? 200 : 40);
      }
      p[0] = uint8_t(r);
      p[1] = uint8_t(g);
      p[2] = uint8_t(b);
      if (alpha) p[3] = uint8_t(255 * u);
    }
  }
  return img;
}

}  // namespace qzimage
