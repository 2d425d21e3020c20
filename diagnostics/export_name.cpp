// Readable forms of decorated export names, by pattern rules on the marker
// characters of the decorations (the leading underscore and "@bytes" of the
// standard calling convention, the "?" and "@@" of class members); argument
// types are not decoded.
#include <cstring>

#include "internal.h"

namespace {

constexpr size_t kCap = 256;  // bytes of the name that are read and of the text written, terminator included

// A piece of the name, [start, end); empty when end comes first.
struct Piece {
  const char* p;
  int n;
  Piece(const char* start, const char* end) : p(start), n(end > start ? static_cast<int>(end - start) : 0) {}
};

// Formats into text, cut at 255 characters; 1, as every rule that writes.
template <class... Args>
BOOL Write(char* text, const char* format, Args... args) {
  plat::FormatA(text, kCap, format, args...);
  return TRUE;
}

BOOL Translate(const char* name, char* text) {
  const char* end = name + std::strlen(name);
  const char* firstAt = std::strchr(name, '@');
  const char* pair = std::strstr(name, "@@");

  if (name[0] == '_') {  // rule 1: _Name@bytes (standard call) or _Name (C call)
    const char* lastAt = std::strrchr(name, '@');
    if (!lastAt) return Write(text, "__cdecl %s", name + 1);
    Piece function(name + 1, lastAt);
    return Write(text, "__stdcall %.*s(%s byte(s))", function.n, function.p, lastAt + 1);
  }
  if (name[0] != '?') return Write(text, "pascal %s", name);  // rule 2

  if (name[1] != '?') {  // rule 3: ?member@class@@... or ?member@@... outside any class
    if (!pair) return FALSE;
    Piece member(name + 1, firstAt);
    Piece owner(firstAt + 1, pair);
    if (pair[2] >= '0' && pair[2] <= '9')
      return Write(text, "static %.*s::%.*s", owner.n, owner.p, member.n, member.p);
    if (firstAt == pair) return Write(text, "::%.*s(...)", member.n, member.p);
    return Write(text, "%.*s::%.*s(...)", owner.n, owner.p, member.n, member.p);
  }

  if (name[2] == '_') {  // rule 4: ??_Xclass@... compiler-made members (tables, helpers)
    if (!firstAt) return FALSE;
    Piece owner(name + 4 <= end ? name + 4 : end, firstAt);
    return Write(text, "%.*s::(MS C++ internal)", owner.n, owner.p);
  }

  // Rule 5: ??Xclass@@... special members, by the code X.
  if (!pair) return FALSE;
  Piece owner(name + 3 <= end ? name + 3 : end, pair);
  const char* after = pair + 2;
  const char* nextAt = std::strchr(after, '@');
  Piece upToAt(after, nextAt ? nextAt : end);
  switch (name[2]) {
    case '0': {  // constructor
      int ats = 0;
      for (const char* p = after; *p; ++p) ats += *p == '@';
      if (ats == 0) return FALSE;
      if (ats == 1) return Write(text, "%.*s::%.*s()", owner.n, owner.p, owner.n, owner.p);
      const char* second = std::strstr(after, "@@");
      if (second && second[-1] == '0')  // the argument refers back to the class: a copy constructor
        return Write(text, "%.*s::%.*s(%.*s &)", owner.n, owner.p, owner.n, owner.p, owner.n, owner.p);
      return Write(text, "%.*s::%.*s(%.*s)", owner.n, owner.p, owner.n, owner.p, upToAt.n, upToAt.p);
    }
    case '1':
      return Write(text, "%.*s::~%.*s()", owner.n, owner.p, owner.n, owner.p);
    case '2':
      if (!nextAt) return FALSE;
      return Write(text, "%.*s::operator new(%.*s)", owner.n, owner.p, upToAt.n, upToAt.p);
    case '3':
      if (!nextAt) return FALSE;
      return Write(text, "%.*s::operator delete(%.*s)", owner.n, owner.p, upToAt.n, upToAt.p);
    case '4':
      return Write(text, "%.*s::operator =", owner.n, owner.p);
    default:
      return Write(text, "%.*s::operator (type unknown)", owner.n, owner.p);
  }
}

}  // namespace

DRAVEL_API BOOL WINAPI TranslateExportedName(const char* name, char* text) {
  if (!text) return FALSE;
  // A private copy of at most 255 bytes: the caller's name is read no further
  // and never changed; the text is built apart and written out in one piece.
  char copy[kCap] = {};
  char out[kCap] = {};
  bool readable = name && plat::Guarded([&] {
    for (size_t i = 0; i + 1 < kCap && name[i]; ++i) copy[i] = name[i];
  });
  if (!readable) {  // no name to translate: an empty text
    plat::Guarded([&] { *text = 0; });
    return FALSE;
  }
  BOOL result = Translate(copy, out);
  if (!result) std::memcpy(out, copy, kCap);  // rule 6: the name unchanged
  if (!plat::Guarded([&] { std::memcpy(text, out, std::strlen(out) + 1); })) return FALSE;
  return result;
}
