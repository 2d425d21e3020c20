// UTF-16 <-> UTF-8, the same code on both targets.
#include "win32.h"

namespace plat {

std::string Utf8(const WCHAR* s, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = static_cast<uint16_t>(s[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && static_cast<uint16_t>(s[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(s[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(s[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

wstring Wide(const char* utf8, size_t n) {
  wstring out;
  out.reserve(n);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
  size_t i = 0;
  while (i < n) {
    uint32_t c = s[i];
    int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more > 0) {
      const uint32_t min = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
      bool ok = i + more < n;
      c &= 0x3Fu >> more;
      for (int k = 1; ok && k <= more; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) ok = false;
        else c = (c << 6) | (s[i + k] & 0x3F);
      }
      if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) more = -1;
    }
    if (more < 0) {  // not UTF-8: one replacement character per bad byte
      out += static_cast<WCHAR>(0xFFFD);
      ++i;
      continue;
    }
    i += more + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<WCHAR>(0xD800 + (c >> 10));
      out += static_cast<WCHAR>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<WCHAR>(c);
    }
  }
  return out;
}

}  // namespace plat
