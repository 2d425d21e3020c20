// Readers of the value texts of the older settings file: the same results on
// both targets, whatever the C library's own formatted input would do.
#include "settings/textfile.h"

#include "settings/format.h"

namespace pellam {
namespace textfile {
namespace {

bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int DigitValue(char c, unsigned base) {
  int d = -1;
  if (c >= '0' && c <= '9')
    d = c - '0';
  else if (c >= 'a' && c <= 'f')
    d = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    d = c - 'A' + 10;
  return d >= 0 && unsigned(d) < base ? d : -1;
}

// One integer conversion. On success `p` moves past it; on failure it stays
// and the caller's variable keeps its value, as with formatted input.
bool Number(const char*& p, unsigned base, uint64_t& out) {
  const char* s = p;
  while (Space(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && DigitValue(s[2], 16) >= 0) s += 2;
  if (DigitValue(*s, base) < 0) return false;
  uint64_t v = 0;
  for (int d; (d = DigitValue(*s, base)) >= 0; ++s) v = v * base + unsigned(d);
  out = negative ? 0 - v : v;
  p = s;
  return true;
}

uint64_t One(const char* text, unsigned base) {
  uint64_t v = 0;
  if (text) Number(text, base, v);
  return v;
}

void Put(unsigned char* out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

int32_t ReadInt(const char* text) { return int32_t(uint32_t(One(text, 10))); }
int64_t ReadInt64(const char* text) { return int64_t(One(text, 10)); }
uint32_t ReadUInt(const char* text) { return uint32_t(One(text, 10)); }
uint64_t ReadUInt64(const char* text) { return One(text, 10); }
uint32_t ReadHex(const char* text) { return uint32_t(One(text, 16)); }

bool ReadBool(const char* text) { return !text || text[0] != '0'; }

RECT ReadRect(const char* text) {
  LONG v[4] = {0, 0, 0, 0};
  const char* p = text;
  for (int i = 0; p && i < 4; ++i) {
    if (i > 0 && *p++ != ',') break;
    uint64_t n;
    if (!Number(p, 10, n)) break;
    v[i] = LONG(int32_t(uint32_t(n)));
  }
  RECT r;
  r.left = v[0];
  r.top = v[1];
  r.right = v[2];
  r.bottom = v[3];
  return r;
}

GUID ReadGuid(const char* text) {
  uint64_t g[7] = {0, 0, 0, 0, 0, 0, 0};
  const char* p = text;
  for (int i = 0; p && i < 7; ++i) {
    if (i > 0 && *p++ != '-') break;
    if (!Number(p, 16, g[i])) break;
  }
  GUID id;
  id.Data1 = DWORD(uint32_t(g[0]));
  id.Data2 = WORD(g[1]);
  id.Data3 = WORD(g[2]);
  for (int i = 0; i < 4; ++i) {
    id.Data4[2 * i] = BYTE(WORD(g[3 + i]) >> 8);
    id.Data4[2 * i + 1] = BYTE(g[3 + i]);
  }
  return id;
}

DWORD ReadFixedValue(DWORD type, const char* text, unsigned char out[16]) {
  switch (type) {
    case CSetFile::kInt:
      Put(out, uint32_t(ReadInt(text)), 4);
      return 4;
    case CSetFile::kInt64:
      Put(out, uint64_t(ReadInt64(text)), 8);
      return 8;
    case CSetFile::kBool:
      Put(out, ReadBool(text) ? 1 : 0, 4);
      return 4;
    case CSetFile::kGUID: {  // as it lies in memory
      GUID id = ReadGuid(text);
      Put(out, id.Data1, 4);
      Put(out + 4, id.Data2, 2);
      Put(out + 6, id.Data3, 2);
      for (int i = 0; i < 8; ++i) out[8 + i] = id.Data4[i];
      return 16;
    }
    case CSetFile::kColor:
    case CSetFile::kDWORD:
      Put(out, ReadHex(text), 4);
      return 4;
    case CSetFile::kRect: {
      RECT r = ReadRect(text);
      Put(out, uint32_t(r.left), 4);
      Put(out + 4, uint32_t(r.top), 4);
      Put(out + 8, uint32_t(r.right), 4);
      Put(out + 12, uint32_t(r.bottom), 4);
      return 16;
    }
    case CSetFile::kUInt:
      Put(out, ReadUInt(text), 4);
      return 4;
    case CSetFile::kUInt64:
      Put(out, ReadUInt64(text), 8);
      return 8;
    default:
      return 0;
  }
}

}  // namespace textfile
}  // namespace pellam
