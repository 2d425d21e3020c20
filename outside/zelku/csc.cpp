// The colour-space converter: pointers into the shared tables, and the in-place
// spreading of 4:2:2 chroma over 4:4:4 pixels.
#include <cstring>

#include "tables.h"

namespace zelk {

CQZCsc::CQZCsc()
    : pSat(nullptr),
      pLimitY(nullptr),
      pLimitC(nullptr),
      pCrToR(nullptr),
      pCbToB(nullptr),
      pCrToG(nullptr),
      pCbToG(nullptr),
      pYToRGB(nullptr),
      pRGBToYUV(nullptr) {}

CQZCsc::~CQZCsc() { End(); }

void* CQZCsc::DeletingDestructor(UINT flags) {
  this->CQZCsc::~CQZCsc();
  if (flags & 1) NewFree(this);
  return this;
}

int CQZCsc::Init(ColorSpace space) {
  const detail::Tables& t = detail::SharedTables();
  const detail::ColorTables* c = space == CS_BT709 ? t.bt709 : t.bt601;
  pSat = t.sat;
  pLimitY = t.limitY;
  pLimitC = t.limitC;
  pCrToR = c->crToR;
  pCbToB = c->cbToB;
  pCrToG = c->crToG;
  pCbToG = c->cbToG;
  pYToRGB = c->yToRGB;
  pRGBToYUV = c->rgbToYUV;
  return space == CS_BT601 || space == CS_BT709 ? 0 : -1;
}

void CQZCsc::End() {
  pSat = pLimitY = pLimitC = nullptr;
  pCrToR = pCbToB = pCrToG = pCbToG = pYToRGB = pRGBToYUV = nullptr;
}

void CQZCsc::ColorLimit(int on) {
  if (!pSat) return;
  const detail::Tables& t = detail::SharedTables();
  pLimitY = on ? t.limitY : t.sat;
  pLimitC = on ? t.limitC : t.sat;
}

int CQZCsc::YUV422MeshedToYUV444Meshed(unsigned char* src, unsigned char* dst, int width, int height,
                                       ULONG bytesPerPixel, ULONG stride, int repeat) {
  if (!src || !dst || width < 0 || (bytesPerPixel != 3 && bytesPerPixel != 4) ||
      stride < static_cast<unsigned long long>(width) * bytesPerPixel)
    return -1;
  const size_t bpp = bytesPerPixel, rowBytes = size_t(width) * bpp;
  const unsigned rows = height < 0 ? 0u - unsigned(height) : unsigned(height);
  for (unsigned r = 0; r < rows; ++r) {
    const unsigned char* in = src + size_t(r) * stride;
    unsigned char* out = dst + size_t(r) * stride;
    if (out != in) std::memcpy(out, in, rowBytes);
    for (int x = 1; x < width; x += 2) {
      unsigned char* p = out + size_t(x) * bpp;
      const unsigned char* left = p - bpp;
      if (repeat || x + 1 >= width) {
        p[1] = left[1];
        p[2] = left[2];
      } else {
        const unsigned char* right = p + bpp;
        p[1] = static_cast<unsigned char>((left[1] + right[1] + 1) >> 1);
        p[2] = static_cast<unsigned char>((left[2] + right[2] + 1) >> 1);
      }
    }
  }
  return 0;
}

}  // namespace zelk
