// The suite's formatter: one engine for wide and narrow formats, so that every
// message reads the same on both targets. Conventions are listed in text.h.
#include "win32.h"

#include <cstdint>
#include <cstdio>

namespace plat {
namespace {

// Collects output into a caller's buffer, counting what does not fit.
template <class C>
struct Sink {
  C* out;
  size_t cap;
  size_t len = 0;

  void Put(C c) {
    if (len + 1 < cap) out[len] = c;
    ++len;
  }
  void Repeat(C c, int n) {
    for (int i = 0; i < n; ++i) Put(c);
  }
  void Finish() {
    if (cap == 0) return;
    out[len < cap ? len : cap - 1] = 0;
  }
};

struct Field {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = 0;
  int precision = -1;
};

// Puts text of n units, of either width, honouring width and precision.
template <class C, class T>
void PutText(Sink<C>& sink, const Field& field, const T* text, size_t n) {
  if (field.precision >= 0 && n > static_cast<size_t>(field.precision)) n = field.precision;
  int pad = field.width > static_cast<int>(n) ? field.width - static_cast<int>(n) : 0;
  if (!field.left) sink.Repeat(' ', pad);
  for (size_t i = 0; i < n; ++i) sink.Put(static_cast<C>(text[i]));
  if (field.left) sink.Repeat(' ', pad);
}

template <class T>
size_t Length(const T* s, int precision) {
  size_t n = 0;
  while ((precision < 0 || n < static_cast<size_t>(precision)) && s[n]) ++n;
  return n;
}

// Wide text into a narrow sink becomes UTF-8; narrow text into a wide sink is
// taken byte for byte (Latin-1).
template <class C>
void PutWideString(Sink<C>& sink, const Field& field, const WCHAR* s) {
  size_t n = Length(s, field.precision);
  if constexpr (sizeof(C) == sizeof(WCHAR)) {
    PutText(sink, field, s, n);
  } else {
    std::string u = Utf8(s, n);
    Field whole = field;
    whole.precision = -1;
    PutText(sink, whole, u.data(), u.size());
  }
}

template <class C>
void PutNarrowString(Sink<C>& sink, const Field& field, const char* s) {
  size_t n = Length(s, field.precision);
  if constexpr (sizeof(C) == 1) {
    PutText(sink, field, s, n);
  } else {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    PutText(sink, field, u, n);
  }
}

template <class C>
void PutInteger(Sink<C>& sink, const Field& field, uint64_t magnitude, bool negative, unsigned base, bool upper,
                bool isSigned) {
  char digits[72];
  int n = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  if (!(magnitude == 0 && field.precision == 0)) {
    do {
      digits[n++] = set[magnitude % base];
      magnitude /= base;
    } while (magnitude);
  }
  int zeros = field.precision > n ? field.precision - n : 0;
  if (base == 8 && field.alt && zeros == 0 && (n == 0 || digits[n - 1] != '0')) zeros = 1;
  char sign = 0;
  if (isSigned) sign = negative ? '-' : field.plus ? '+' : field.space ? ' ' : 0;
  const char* prefix = "";
  if (base == 16 && field.alt && n > 0 && !(n == 1 && digits[0] == '0')) prefix = upper ? "0X" : "0x";
  int prefixLen = prefix[0] ? 2 : 0;
  int body = n + zeros + (sign ? 1 : 0) + prefixLen;
  int pad = field.width > body ? field.width - body : 0;
  bool zeroPad = field.zero && !field.left && field.precision < 0;
  if (!field.left && !zeroPad) sink.Repeat(' ', pad);
  if (sign) sink.Put(sign);
  for (int i = 0; i < prefixLen; ++i) sink.Put(prefix[i]);
  if (zeroPad) sink.Repeat('0', pad);
  sink.Repeat('0', zeros);
  while (n) sink.Put(digits[--n]);
  if (field.left) sink.Repeat(' ', pad);
}

template <class C>
void PutDouble(Sink<C>& sink, const Field& field, double value, char conv) {
  char fmt[16];
  int f = 0;
  fmt[f++] = '%';
  if (field.left) fmt[f++] = '-';
  if (field.plus) fmt[f++] = '+';
  if (field.space) fmt[f++] = ' ';
  if (field.alt) fmt[f++] = '#';
  if (field.zero) fmt[f++] = '0';
  fmt[f++] = '*';
  fmt[f++] = '.';
  fmt[f++] = '*';
  fmt[f++] = conv;
  fmt[f] = 0;
  char text[512];
  int precision = field.precision < 0 ? 6 : (field.precision > 100 ? 100 : field.precision);
  int width = field.width > 400 ? 400 : field.width;
  int n = std::snprintf(text, sizeof text, fmt, width, precision, value);
  if (n < 0) n = 0;
  if (n >= static_cast<int>(sizeof text)) n = sizeof text - 1;
  for (int i = 0; i < n; ++i) sink.Put(static_cast<C>(text[i]));
}

template <class C>
int Engine(C* out, size_t cap, const C* fmt, va_list ap) {
  Sink<C> sink{out, cap};
  constexpr bool wide = sizeof(C) == sizeof(WCHAR);
  for (const C* p = fmt; *p; ++p) {
    if (*p != '%') {
      sink.Put(*p);
      continue;
    }
    const C* start = p++;
    if (*p == '%') {
      sink.Put('%');
      continue;
    }
    Field field;
    for (;; ++p) {
      if (*p == '-') field.left = true;
      else if (*p == '+') field.plus = true;
      else if (*p == ' ') field.space = true;
      else if (*p == '#') field.alt = true;
      else if (*p == '0') field.zero = true;
      else break;
    }
    if (*p == '*') {
      field.width = va_arg(ap, int);
      if (field.width < 0) field.left = true, field.width = -field.width;
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') field.width = field.width * 10 + (*p++ - '0');
    }
    if (*p == '.') {
      ++p;
      field.precision = 0;
      if (*p == '*') {
        field.precision = va_arg(ap, int);
        if (field.precision < 0) field.precision = -1;
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') field.precision = field.precision * 10 + (*p++ - '0');
      }
    }
    // Size: 0 default int, 'h' short, 'H' char, 'l' 32-bit, 'L' 64-bit, 'P' pointer size.
    char size = 0;
    if (*p == 'h') {
      ++p;
      size = 'h';
      if (*p == 'h') ++p, size = 'H';
    } else if (*p == 'l') {
      ++p;
      size = 'l';
      if (*p == 'l') ++p, size = 'L';
    } else if (*p == 'I' && p[1] == '6' && p[2] == '4') {
      p += 3, size = 'L';
    } else if (*p == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3, size = 'l';
    } else if (*p == 'I' || *p == 'z' || *p == 't') {
      ++p, size = 'P';
    } else if (*p == 'j' || *p == 'q') {
      ++p, size = 'L';
    } else if (*p == 'w') {
      ++p, size = 'l';
    }
    C conv = *p;
    switch (conv) {
      case 'd':
      case 'i': {
        int64_t v;
        if (size == 'L') v = va_arg(ap, long long);
        else if (size == 'P') v = static_cast<intptr_t>(va_arg(ap, intptr_t));
        else v = va_arg(ap, int);
        if (size == 'h') v = static_cast<short>(v);
        if (size == 'H') v = static_cast<signed char>(v);
        uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        PutInteger(sink, field, m, v < 0, 10, false, true);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        uint64_t v;
        if (size == 'L') v = va_arg(ap, unsigned long long);
        else if (size == 'P') v = static_cast<uintptr_t>(va_arg(ap, uintptr_t));
        else v = va_arg(ap, unsigned int);
        if (size == 'h') v = static_cast<unsigned short>(v);
        if (size == 'H') v = static_cast<unsigned char>(v);
        unsigned base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
        PutInteger(sink, field, v, false, base, conv == 'X', false);
        break;
      }
      case 'p': {
        Field ps = field;
        ps.precision = static_cast<int>(sizeof(void*) * 2);
        ps.alt = false;
        PutInteger(sink, ps, reinterpret_cast<uintptr_t>(va_arg(ap, void*)), false, 16, true, false);
        break;
      }
      case 'c':
      case 'C': {
        // %c is the format's own width, %C and %lc/%hc the other or the named one.
        bool wideArg = size == 'l' ? true : size == 'h' ? false : ((conv == 'c') == wide);
        int v = va_arg(ap, int);
        if (wideArg) {
          WCHAR w = static_cast<WCHAR>(v);
          WCHAR s[2] = {w, 0};
          Field one = field;
          one.precision = -1;
          PutWideString(sink, one, s);
        } else {
          char s[2] = {static_cast<char>(v), 0};
          Field one = field;
          one.precision = -1;
          PutNarrowString(sink, one, s);
        }
        break;
      }
      case 's':
      case 'S': {
        bool wideArg = size == 'l' ? true : size == 'h' ? false : ((conv == 's') == wide);
        if (wideArg) {
          const WCHAR* s = va_arg(ap, const WCHAR*);
          static const WCHAR kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
          PutWideString(sink, field, s ? s : kNull);
        } else {
          const char* s = va_arg(ap, const char*);
          PutNarrowString(sink, field, s ? s : "(null)");
        }
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        PutDouble(sink, field, va_arg(ap, double), static_cast<char>(conv));
        break;
      case 'n':
        (void)va_arg(ap, void*);  // never written through
        break;
      default:
        // Unknown or cut-off conversion: copy it as it stands.
        for (const C* q = start; q <= p && *q; ++q) sink.Put(*q);
        if (!*p) --p;
        break;
    }
  }
  sink.Finish();
  return static_cast<int>(sink.len);
}

}  // namespace

int VFormatW(WCHAR* out, size_t cap, const WCHAR* fmt, va_list ap) { return Engine(out, cap, fmt, ap); }

int FormatW(WCHAR* out, size_t cap, const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = VFormatW(out, cap, fmt, ap);
  va_end(ap);
  return n;
}

int VFormatA(char* out, size_t cap, const char* fmt, va_list ap) { return Engine(out, cap, fmt, ap); }

int FormatA(char* out, size_t cap, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = VFormatA(out, cap, fmt, ap);
  va_end(ap);
  return n;
}

wstring VFormatWS(const WCHAR* fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  WCHAR small[256];
  int n = VFormatW(small, 256, fmt, ap);
  wstring s;
  if (n < 256) {
    s.assign(small, n);
  } else {
    s.resize(n + 1);
    VFormatW(&s[0], n + 1, fmt, again);
    s.resize(n);
  }
  va_end(again);
  return s;
}

wstring FormatWS(const WCHAR* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  wstring s = VFormatWS(fmt, ap);
  va_end(ap);
  return s;
}

std::string FormatAS(const char* fmt, ...) {
  va_list ap, again;
  va_start(ap, fmt);
  va_copy(again, ap);
  char small[256];
  int n = VFormatA(small, 256, fmt, ap);
  std::string s;
  if (n < 256) {
    s.assign(small, n);
  } else {
    s.resize(n + 1);
    VFormatA(&s[0], n + 1, fmt, again);
    s.resize(n);
  }
  va_end(again);
  va_end(ap);
  return s;
}

}  // namespace plat
