// The scanner of the older text settings file.
#include "settings/textfile.h"

namespace pellam {
namespace textfile {
namespace {

bool LineEnd(char c) { return c >= 0x01 && c <= 0x0D; }
bool Blank(char c) { return c >= 0x0E && c <= 0x20; }

}  // namespace

void Scan(char* text, EntrySink sink, void* context) {
  const char* section = nullptr;
  bool headerOpen = false;
  const char* name = nullptr;
  char* p = text;
  while (*p) {
    const char b = *p;
    if (b == '[') {
      section = p + 1;
      headerOpen = true;
      name = nullptr;
      ++p;
      continue;
    }
    if (!section) {
      ++p;
      continue;
    }
    if (headerOpen) {
      if (b == ']') {
        *p = 0;
        headerOpen = false;
      }
      ++p;
      continue;
    }
    if (LineEnd(b)) {
      name = nullptr;
      ++p;
      continue;
    }
    if (!name) {
      if (!Blank(b)) name = p;
      ++p;
      continue;
    }
    if (b != '=') {
      ++p;
      continue;
    }

    // The name ends at '='; the type and the value follow up to the line end.
    *p = 0;
    const char* type = nullptr;
    const char* value = nullptr;
    bool comma = false;
    char* q = p + 1;
    for (;; ++q) {
      const char c = *q;
      if (c == 0) {
        if (value) sink(section, name, type, value, context);
        return;
      }
      if (LineEnd(c)) {
        if (value) {
          *q = 0;
          sink(section, name, type, value, context);
          // The line feed of a CR LF pair goes with it; any other byte after
          // the line end (the next line's first in a LF-only file) is read.
          if (c == '\r' && q[1] == '\n') ++q;
        }
        p = q + 1;
        name = nullptr;
        break;
      }
      if (!type) {
        if (!Blank(c)) type = q;
      } else if (!comma) {
        if (c == ',') {
          *q = 0;
          comma = true;
        }
      } else if (!value) {
        if (!Blank(c)) value = q;
      }
    }
  }
}

}  // namespace textfile
}  // namespace pellam
