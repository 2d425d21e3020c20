// The path grammar: one pass over the characters, then a classification of
// what the pass saw. Results are pointers into the caller's string.
#include "path_internal.h"

namespace ferrow {
namespace {

// Compares the text at p with an upper-case literal, without regard to case.
// Stops at the first difference, so it never reads past p's terminator.
bool StartsWith(const WCHAR* p, const char* literal) {
  for (; *literal; ++p, ++literal)
    if (plat::WUpper(*p) != static_cast<WCHAR>(*literal)) return false;
  return true;
}

bool IsAsciiLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// What the scan does with each ASCII character; all others are plain.
enum CharClass : unsigned char { kPlain, kEnd, kIllegal, kColon, kSeparator, kDot };

constexpr struct ClassTable {
  CharClass c[0x80];
  constexpr ClassTable() : c() {
    for (int i = 1; i < 0x20; ++i) c[i] = kIllegal;
    c[0] = kEnd;
    for (unsigned char ch : {'<', '>', '|'}) c[ch] = kIllegal;
    c[unsigned{':'}] = kColon;
    c[unsigned{'\\'}] = c[unsigned{'/'}] = kSeparator;
    c[unsigned{'.'}] = kDot;
  }
  constexpr CharClass operator[](WCHAR ch) const { return c[ch]; }
} kClasses;

WCHAR* Mutable(const WCHAR* p) { return const_cast<WCHAR*>(p); }

// The grammar itself. Fills `out` only on success; `out` is left as it came
// (already cleared by the caller) on failure.
bool Parse(const WCHAR* path, FU_PathParts& out, int fileFlag) {
  if (!path || !*path) return false;

  // Leading blanks are skipped. A path of blanks only names nothing, whatever
  // the flag says.
  const WCHAR* start = path;
  while (*start == ' ') ++start;
  if (!*start) return false;

  const WCHAR* prefix = nullptr;
  const WCHAR* prefixEnd = nullptr;
  if (StartsWith(start, "\\\\?\\")) {
    prefix = start;
    start += 4;
    // "\\?\UNC\server\share": server and share become local information.
    if (StartsWith(start, "UNC\\") || StartsWith(start, "UNC/")) {
      start += 4;
      if (IsSeparator(*start)) return false;
    }
    prefixEnd = start;
  } else if (StartsWith(start, "\\\\.\\")) {
    // A device namespace path names a file-like object, never a directory.
    if (!fileFlag) return false;
    prefix = start;
    start += 4;
    prefixEnd = start;
  }

  const WCHAR* colon = nullptr;
  const WCHAR* firstSep = nullptr;
  const WCHAR* lastSep = nullptr;
  const WCHAR* lastDot = nullptr;
  const WCHAR* end = start;
  for (;; ++end) {
    const WCHAR c = *end;
    const CharClass k = c < 0x80 ? kClasses[c] : kPlain;
    if (k == kPlain) continue;
    if (k == kEnd) break;
    if (k == kIllegal) return false;
    if (k == kColon) {
      if (colon) return false;
      colon = end;
    } else if (k == kSeparator) {
      // Only the first separator may be doubled: that is where a host begins.
      if (firstSep && IsSeparator(end[1])) return false;
      if (!firstSep) firstSep = end;
      lastSep = end;
    } else {
      lastDot = end;
    }
  }

  const WCHAR* protocol = nullptr;
  const WCHAR* protocolEnd = end;
  if (colon) {
    if (colon == start || (firstSep && firstSep < colon) || (lastDot && lastDot < colon)) return false;
    if (colon - start >= 2) {
      if (colon[1] != '/' || colon[2] != '/') return false;  // "name://host"
    } else {
      if (!IsAsciiLetter(*start)) return false;
      if (IsSeparator(colon[1]) && IsSeparator(colon[2])) return false;  // "C:\\dir"
    }
    protocol = start;
    protocolEnd = colon + 1;
    start = colon + 1;
  }

  const WCHAR* host = nullptr;
  const WCHAR* hostEnd = end;
  const WCHAR* localInfo = nullptr;
  const WCHAR* localInfoEnd = end;
  const WCHAR* filename = nullptr;
  const WCHAR* filenameEnd = end;
  const WCHAR* extension = nullptr;
  bool hostOnly = false;

  if (firstSep && firstSep[1] == firstSep[0]) {
    if (firstSep != start) return false;
    host = firstSep;
    if (lastSep - firstSep >= 2) {
      // The host name ends at the next separator behind the pair; there is one,
      // since the last separator lies beyond the pair.
      const WCHAR* p = firstSep + 2;
      while (!IsSeparator(*p)) ++p;
      hostEnd = p;
      start = p;
    } else {
      if (fileFlag) return false;  // a host alone names no file
      hostOnly = true;
    }
  }

  if (hostOnly) {
    // Nothing more: the host runs to the terminator.
  } else if (!fileFlag) {
    if (*start) localInfo = start;
  } else if (firstSep) {
    if (!lastSep[1]) return false;  // a file path needs a name behind its last separator
    localInfo = start;
    localInfoEnd = lastSep + 1;
    filename = lastSep + 1;
    if (lastDot && lastDot > lastSep) filenameEnd = extension = lastDot;
  } else {
    if (*start == '.') return false;  // a name that is all extension
    filename = start;
    if (lastDot) filenameEnd = extension = lastDot;
  }

  out.prefix = Mutable(prefix);
  out.prefixEnd = Mutable(prefixEnd);
  out.protocol = Mutable(protocol);
  out.protocolEnd = Mutable(protocolEnd);
  out.host = Mutable(host);
  out.hostEnd = Mutable(hostEnd);
  out.localInfo = Mutable(localInfo);
  out.localInfoEnd = Mutable(localInfoEnd);
  out.filename = Mutable(filename);
  out.filenameEnd = Mutable(filenameEnd);
  out.extension = Mutable(extension);
  return true;
}

}  // namespace

bool ParsePath(const WCHAR* path, FU_PathParts& parts, int fileFlag) {
  bool ok = false;
  // The record is cleared before the string is read, so that a fault in the
  // string leaves it all NULL; a fault in the record itself leaves it unwritten.
  if (!plat::Guarded([&] {
        parts = FU_PathParts{};
        ok = Parse(path, parts, fileFlag);
      }))
    return false;
  return ok;
}

}  // namespace ferrow

FERROW_API BOOL WINAPI FU_ParsePath(const WCHAR* path, FU_PathParts* parts, int fileFlag) {
  if (!parts) return 0;
  return ferrow::ParsePath(path, *parts, fileFlag) ? 1 : 0;
}
