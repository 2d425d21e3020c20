// The older text form of the settings: sections in brackets and lines of
// `name = type, value`. It is only ever read, once, and imported; these are
// the scanner and the readers of its value texts, pure functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace pellam {
namespace textfile {

// Receives one entry: the section name, the entry name, the type text and the
// value text, each zero-terminated inside the scanned buffer.
typedef void (*EntrySink)(const char* section, const char* name, const char* type, const char* value,
                          void* context);

// Scans a zero-terminated text once, writing zero bytes at the ends of section
// names, entry names, types and values, and reports every entry that has a
// value. A `[` outside a value starts a section header that runs to the next
// `]`; text before the first one is ignored. Lines end at bytes 0x01..0x0D;
// blanks are 0x0E..0x20. After `=` come the type up to the first `,` and the
// value up to the line end, the blanks before each dropped.
void Scan(char* text, EntrySink sink, void* context);

template <class F>
void Scan(char* text, F&& f) {
  Scan(
      text,
      [](const char* s, const char* n, const char* t, const char* v, void* c) { (*static_cast<F*>(c))(s, n, t, v); },
      &f);
}

// ---- value texts ----
// Numbers are read as formatted input reads them: leading white space skipped,
// an optional sign, the longest valid prefix, the rest ignored; a text without
// digits gives 0. Digits beyond the width wrap around, as the platform's own
// reader does. Hexadecimal may start with 0x.

int32_t ReadInt(const char* text);       // %d
int64_t ReadInt64(const char* text);     // %I64d
uint32_t ReadUInt(const char* text);     // %u
uint64_t ReadUInt64(const char* text);   // %I64u
uint32_t ReadHex(const char* text);      // %x
// False when the first character is '0', true otherwise.
bool ReadBool(const char* text);
// "%d,%d,%d,%d": left, top, right, bottom; what does not parse stays 0.
RECT ReadRect(const char* text);
// "%x-%hx-%hx-%hx-%hx-%hx-%hx": the 32-bit group, two 16-bit groups, then four
// groups giving the last 8 bytes two by two, high byte first; missing groups 0.
GUID ReadGuid(const char* text);

// The stored bytes of a fixed-size value read from its text: for the types
// Int, Int64, Bool, GUID, Color, Rect, UInt, UInt64 and DWORD. Returns the
// value's size (at most 16), or 0 for any other type (texts, paths and
// timecodes need the code page or a timecode; the rest are not imported).
DWORD ReadFixedValue(DWORD type, const char* text, unsigned char out[16]);

}  // namespace textfile
}  // namespace pellam
