// Another reader of plain uyvy422 frames: decodes a bare UYVY frame (rows of
// Cb Y0 Cr Y1 groups, top line first, no padding) with libyuv's BT.601
// UYVYToARGB and compares it with a picture of the same frame, which must
// agree within 2 per channel.
//
// usage: uyvy_check RAW WIDTH HEIGHT PICTURE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <libyuv/convert_argb.h>

#include "image.h"

namespace {
bool Slurp(const char* path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: uyvy_check RAW WIDTH HEIGHT PICTURE\n");
    return 2;
  }
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  std::string raw, file, why;
  qzimage::Image picture;
  if (width <= 0 || height <= 0 || !Slurp(argv[1], raw) || !Slurp(argv[4], file) ||
      !qzimage::Decode(file, picture, why)) {
    std::fprintf(stderr, "uyvy_check: cannot read the frame or the picture %s\n", why.c_str());
    return 2;
  }
  if (raw.size() != size_t(width) * height * 2 || picture.width != width || picture.height != height) {
    std::fprintf(stderr, "uyvy_check: a %zu-byte frame and a %d x %d picture for %d x %d\n", raw.size(), picture.width,
                 picture.height, width, height);
    return 1;
  }
  std::vector<uint8_t> argb(size_t(width) * height * 4);
  if (libyuv::UYVYToARGB(reinterpret_cast<const uint8_t*>(raw.data()), width * 2, argb.data(), width * 4, width,
                         height) != 0) {
    std::fprintf(stderr, "uyvy_check: libyuv refused the frame\n");
    return 1;
  }
  int worst = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &argb[(size_t(y) * width + x) * 4];  // B, G, R, A in memory
      const uint8_t* q = picture.row(y) + size_t(x) * picture.channels;
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(int(p[2 - c]) - int(q[c]));
        if (d > worst) worst = d;
      }
    }
  std::printf("libyuv's UYVYToARGB of the bare frame: within %d per channel of qz's decode\n", worst);
  return worst <= 2 ? 0 : 1;
}
