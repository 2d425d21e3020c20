// Code-page conversions. The ANSI code page here is Windows-1252, as on a
// western Windows system; UTF-8 is the other one the suite uses.
#include <cstring>
#include <string>

#include "internal.h"

namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones map to themselves, as Windows does.
const WCHAR kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

WCHAR From1252(unsigned char b) { return b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : b; }

bool To1252(WCHAR c, char& out) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    out = static_cast<char>(c);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh1252[i] == c) {
      out = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

// Delivers a converted text to the caller's buffer by the Win32 rules: a zero
// out length asks for the size; a too small buffer fails.
template <class C>
int Deliver(const std::basic_string<C>& text, C* out, int outLength) {
  int n = static_cast<int>(text.size());
  if (outLength == 0) return n;
  if (!out || outLength < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, text.data(), n * sizeof(C));
  return n;
}

}  // namespace

extern "C" {

UINT WINAPI GetACP(void) { return 1252; }

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR in, int inLength, LPWSTR out, int outLength) {
  if (!in || inLength == 0 || inLength < -1 || outLength < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = inLength == -1 ? std::strlen(in) + 1 : static_cast<size_t>(inLength);
  plat::wstring text;
  if (codePage == CP_UTF8) {
    text = plat::Wide(in, n);
  } else if (codePage == CP_ACP || codePage == 1252 || codePage == CP_OEMCP) {
    text.reserve(n);
    for (size_t i = 0; i < n; ++i) text += From1252(static_cast<unsigned char>(in[i]));
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Deliver(text, out, outLength);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR in, int inLength, LPSTR out, int outLength,
                               LPCSTR defaultChar, BOOL* usedDefault) {
  if (!in || inLength == 0 || inLength < -1 || outLength < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = inLength == -1 ? plat::WLen(in) + 1 : static_cast<size_t>(inLength);
  std::string text;
  if (usedDefault) *usedDefault = FALSE;
  if (codePage == CP_UTF8) {
    text = plat::Utf8(in, n);
  } else if (codePage == CP_ACP || codePage == 1252 || codePage == CP_OEMCP) {
    char fallback = defaultChar ? *defaultChar : '?';
    for (size_t i = 0; i < n; ++i) {
      char c;
      if (!To1252(in[i], c)) {
        c = fallback;
        if (usedDefault) *usedDefault = TRUE;
      }
      text += c;
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Deliver(text, out, outLength);
}

}  // extern "C"
