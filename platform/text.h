// UTF-16 text helpers and the suite's one formatter, the same code on both
// targets. WCHAR is UTF-16 everywhere; natively wchar_t is 32-bit, so the libc
// wide functions must never be used on WCHAR text. Include through win32.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <new>
#include <string>

namespace plat {

using wstring = std::basic_string<WCHAR>;

inline size_t WLen(const WCHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

// Upper case as the runtime's C locale has it: only a..z change.
inline WCHAR WUpper(WCHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 'a' + 'A') : c; }
inline char AUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline int WCmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) ++a, ++b;
  return static_cast<int>(*a) - static_cast<int>(*b);
}

// Copies src into dst of cap units, always terminated when cap > 0.
// Returns false when src did not fit whole.
inline bool WCopy(WCHAR* dst, size_t cap, const WCHAR* src) {
  if (cap == 0) return false;
  size_t i = 0;
  for (; src[i]; ++i) {
    if (i + 1 >= cap) {
      dst[i] = 0;
      return false;
    }
    dst[i] = src[i];
  }
  dst[i] = 0;
  return true;
}

// Appends src to the text in dst (cap units in all); false when it did not fit.
inline bool WAppend(WCHAR* dst, size_t cap, const WCHAR* src) {
  size_t n = WLen(dst);
  return n < cap && WCopy(dst + n, cap - n, src);
}

// UTF-16 <-> UTF-8. Unpaired surrogates become U+FFFD; invalid UTF-8 bytes too.
PLAT_API std::string Utf8(const WCHAR* s, size_t n);
inline std::string Utf8(const WCHAR* s) { return s ? Utf8(s, WLen(s)) : std::string(); }
inline std::string Utf8(const wstring& s) { return Utf8(s.data(), s.size()); }
PLAT_API wstring Wide(const char* utf8, size_t n);
inline wstring Wide(const std::string& s) { return Wide(s.data(), s.size()); }
inline wstring Wide(const char* s) { return Wide(s, std::char_traits<char>::length(s)); }

// The formatter, with the Microsoft conventions of the suite's messages:
//  - in a wide format %s is a wide string and %hs a narrow one (bytes taken as
//    Latin-1, as the runtime's C locale does); %S is the other width; in a narrow
//    format %s is narrow and %ls/%S wide (written as UTF-8);
//  - %c likewise (%hc, %lc); %d %i %u %x %X %o with h, hh, l (32-bit on every
//    target), ll, I64, I32, I (pointer size), z; %p as zero-padded upper-case hex;
//  - %e %f %g %E %G and %a for doubles; flags - + space # 0, width, precision, *;
//  - %n writes nothing; an unknown conversion is copied as it stands.
// The output is always terminated when cap > 0 and cut to fit; the result is the
// length the whole text has (as snprintf), so result >= cap means it was cut.
PLAT_API int VFormatW(WCHAR* out, size_t cap, const WCHAR* fmt, va_list ap);
PLAT_API int FormatW(WCHAR* out, size_t cap, const WCHAR* fmt, ...);
PLAT_API int VFormatA(char* out, size_t cap, const char* fmt, va_list ap);
PLAT_API int FormatA(char* out, size_t cap, const char* fmt, ...);
PLAT_API wstring VFormatWS(const WCHAR* fmt, va_list ap);
PLAT_API wstring FormatWS(const WCHAR* fmt, ...);
PLAT_API std::string FormatAS(const char* fmt, ...);

// A wide text formatted by VFormatW for a library to hand on: in the object
// when short, in a block of its own when long (cut to the short buffer when
// there is no memory for it). No standard string, so that none of its code
// reaches a library's export table.
class FormattedW {
 public:
  FormattedW(const WCHAR* fmt, va_list ap) {
    va_list again;
    va_copy(again, ap);
    const int n = VFormatW(small_, kSmall, fmt, ap);
    if (n >= static_cast<int>(kSmall)) {
      big_ = new (std::nothrow) WCHAR[static_cast<size_t>(n) + 1];
      if (big_) VFormatW(big_, static_cast<size_t>(n) + 1, fmt, again);
    }
    va_end(again);
  }
  ~FormattedW() { delete[] big_; }
  FormattedW(const FormattedW&) = delete;
  FormattedW& operator=(const FormattedW&) = delete;
  const WCHAR* c_str() const { return big_ ? big_ : small_; }

 private:
  static constexpr size_t kSmall = 512;
  WCHAR small_[kSmall];
  WCHAR* big_ = nullptr;
};

}  // namespace plat
